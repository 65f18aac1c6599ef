// nolt._engine: the module nolt computes with. It shares the core and the
// result building with _nolt_core, raises the same InternalFault class, and
// may grow functions of its own; _nolt_core's ten functions never change.
#include "engine_entry_points.h"

namespace nolt::engine {
namespace {

using py::PyRef;

#define NOLT_FAST(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef g_functions[] = {
    {"profile", NOLT_FAST(profile), METH_FASTCALL | METH_KEYWORDS,
     "profile(columns, threads, details=False, /)\n--\n\nThe core's profile; with details, each column's details after its keys."},
    {"observed_schema", NOLT_FAST(observed_schema), METH_FASTCALL | METH_KEYWORDS,
     "observed_schema(columns, threads)\n--\n\n"},
    {"suggest_schema", NOLT_FAST(suggest_schema), METH_FASTCALL | METH_KEYWORDS,
     "suggest_schema(columns, threads)\n--\n\n"},
    {"inspect", NOLT_FAST(inspect), METH_FASTCALL | METH_KEYWORDS, "inspect(columns, threads)\n--\n\n"},
    {"save_schema", NOLT_FAST(save_schema), METH_FASTCALL | METH_KEYWORDS,
     "save_schema(columns, path, threads)\n--\n\n"},
    {"compare", NOLT_FAST(compare), METH_FASTCALL | METH_KEYWORDS,
     "compare(before_columns, after_columns, threads)\n--\n\n"},
    {"drift", NOLT_FAST(drift), METH_FASTCALL | METH_KEYWORDS, "drift(before_columns, after_columns, threads)\n--\n\n"},
    {"validate", NOLT_FAST(validate), METH_FASTCALL | METH_KEYWORDS,
     "validate(columns, schema_path, schema_columns, failure_cases)\n--\n\n"},
    {"cancel", cancel, METH_NOARGS, "cancel()\n--\n\nStops the running computations at their next check."},
    {"uncancel", uncancel, METH_NOARGS, "uncancel()\n--\n\nLets computations run again after cancel()."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "nolt._engine",
    "The native engine of nolt; use the nolt package, not this module.",
    0,
    g_functions,
    nullptr, nullptr, nullptr, nullptr,
};

PyObject* create_module() {
  PyRef core = PyRef::steal(PyImport_ImportModule("_nolt_core"));
  if (!core) return nullptr;
  PyRef fault_class = PyRef::steal(PyObject_GetAttrString(core.get(), "InternalFault"));
  if (!fault_class) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&g_module_def));
  if (!module) return nullptr;
  if (!py::adopt_internal_fault_class(module.get(), fault_class.get())) return nullptr;
  return module.release();
}

}  // namespace
}  // namespace nolt::engine

PyMODINIT_FUNC PyInit__engine(void) { return nolt::engine::create_module(); }
