// Module initialisation and the function table.
#include <atomic>
#include <cstdint>

#include "entry_points.h"

namespace nolt::py {
namespace {

constexpr const char* kVersion = "0.4.1";

PyObject* version(PyObject*, PyObject*) { return PyUnicode_FromString(kVersion); }

// The interpreter that first imported the module; -1 until then.
std::atomic<std::int64_t> g_interpreter_id{-1};
// Created at the first successful initialisation, kept for the process.
PyObject* g_module = nullptr;


#define NOLT_FAST(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef g_functions[] = {
    {"version", version, METH_NOARGS, "version()\n--\n\n"},
    {"profile_dataset", NOLT_FAST(profile_dataset), METH_FASTCALL | METH_KEYWORDS, "profile_dataset(columns)\n--\n\n"},
    {"observed_schema_dataset", NOLT_FAST(observed_schema_dataset), METH_FASTCALL | METH_KEYWORDS,
     "observed_schema_dataset(columns)\n--\n\n"},
    {"suggest_schema_dataset", NOLT_FAST(suggest_schema_dataset), METH_FASTCALL | METH_KEYWORDS,
     "suggest_schema_dataset(columns)\n--\n\n"},
    {"inspect_dataset", NOLT_FAST(inspect_dataset), METH_FASTCALL | METH_KEYWORDS, "inspect_dataset(columns)\n--\n\n"},
    {"save_suggested_schema_dataset", NOLT_FAST(save_suggested_schema_dataset), METH_FASTCALL | METH_KEYWORDS,
     "save_suggested_schema_dataset(columns, path)\n--\n\n"},
    {"validate_dataset_file", NOLT_FAST(validate_dataset_file), METH_FASTCALL | METH_KEYWORDS,
     "validate_dataset_file(columns, schema_path)\n--\n\n"},
    {"_validate_dataset_schema", NOLT_FAST(validate_dataset_schema), METH_FASTCALL | METH_KEYWORDS,
     "_validate_dataset_schema(columns, schema_columns)\n--\n\n"},
    {"compare_datasets", NOLT_FAST(compare_datasets), METH_FASTCALL | METH_KEYWORDS,
     "compare_datasets(before_columns, after_columns)\n--\n\n"},
    {"schema_drift_datasets", NOLT_FAST(schema_drift_datasets), METH_FASTCALL | METH_KEYWORDS,
     "schema_drift_datasets(before_columns, after_columns)\n--\n\n"},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_nolt_core",
    nullptr,  // no docstring
    0,        // no per-module state
    nullptr,  // functions are added by the initialiser
    nullptr, nullptr, nullptr, nullptr,
};

// Adds one function: read its __name__, append it to __all__, set the attribute.
bool add_function(PyObject* module, PyMethodDef* def) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  PyRef function = PyRef::steal(PyCMethod_New(def, nullptr, module_name.get(), nullptr));
  if (!function) return false;
  PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (PyList_Append(all.get(), name.get()) < 0) return false;
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* create_module() {
  PyRef module = PyRef::steal(PyModule_Create(&g_module_def));
  if (!module) return nullptr;
  for (PyMethodDef& def : g_functions) {
    if (!add_function(module.get(), &def)) return nullptr;
  }
  if (!init_internal_fault_class(module.get())) return nullptr;
  return module.release();
}

}  // namespace

}  // namespace nolt::py

PyMODINIT_FUNC PyInit__nolt_core(void) {
  using namespace nolt::py;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id < 0) return nullptr;
  std::int64_t expected = -1;
  if (!g_interpreter_id.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError, "_nolt_core does not support subinterpreters: it is already loaded in another interpreter");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  PyObject* module = create_module();
  if (module == nullptr) return nullptr;
  g_module = Py_NewRef(module);
  return module;
}
