#include "frame.h"

#include <string>


namespace nolt::py {

namespace {

PyObject* g_internal_fault = nullptr;

std::string function_label(const ParamSpec& signature) {
  std::string label(signature.function);
  label += "()";
  return label;
}

Result<std::string> keyword_text(PyObject* keyword) {
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(keyword, "utf-8", "backslashreplace"));
  if (!bytes) {
    NOLT_TRY(clear_refusal());
    return std::string("?");
  }
  return std::string(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string text;
  for (std::size_t idx = 0; idx < names.size(); ++idx) {
    if (idx > 0) {
      if (names.size() == 2) {
        text += " and ";
      } else {
        text += idx + 1 == names.size() ? ", and " : ", ";
      }
    }
    text += '\'';
    text.append(names[idx]);
    text += '\'';
  }
  return text;
}

}  // namespace

Result<std::array<PyObject*, 4>> bind_arguments(const ParamSpec& signature, PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames) {
  std::array<PyObject*, 4> bound{};
  const std::size_t positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
  for (std::size_t idx = 0; idx < positional && idx < signature.count; ++idx) bound[idx] = args[idx];
  if (positional > signature.count) {
    return CoreError::type_error(str_cat(function_label(signature), " takes ", signature.count, " positional arguments but ",
                                              positional, positional == 1 ? " was" : " were", " given"));
  }
  const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t kw_idx = 0; kw_idx < keyword_count; ++kw_idx) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, kw_idx);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    std::size_t found = signature.count;
    if (utf8 == nullptr) {
      NOLT_TRY(clear_refusal());  // not UTF-8: matches no parameter
    } else {
      const std::string_view name(utf8, static_cast<std::size_t>(size));
      for (std::size_t idx = 0; idx < signature.count; ++idx) {
        if (signature.names[idx] == name) found = idx;
      }
    }
    if (found == signature.count) {
      NOLT_ASSIGN_OR_RETURN(const std::string keyword_name, keyword_text(keyword));
      return CoreError::type_error(
          str_cat(function_label(signature), " got an unexpected keyword argument '", keyword_name, "'"));
    }
    if (bound[found] != nullptr) {
      return CoreError::type_error(
          str_cat(function_label(signature), " got multiple values for argument '", signature.names[found], "'"));
    }
    bound[found] = args[positional + static_cast<std::size_t>(kw_idx)];
  }
  std::vector<std::string_view> missing;
  for (std::size_t idx = 0; idx < signature.count; ++idx) {
    if (bound[idx] == nullptr) missing.push_back(signature.names[idx]);
  }
  if (!missing.empty()) {
    return CoreError::type_error(str_cat(function_label(signature), " missing ", missing.size(),
                                              " required positional ",
                                              missing.size() == 1 ? "argument" : "arguments", ": ",
                                              quoted_list(missing)));
  }
  return bound;
}

CoreError argument_error(std::string_view name, CoreError error) {
  std::string prefix = "argument '";
  prefix.append(name);
  prefix += "': ";
  if (error.kind() == CoreErrorKind::TypeError) return std::move(error).with_prefix(prefix);
  if (error.kind() != CoreErrorKind::Propagated) return error;
  auto* python_error = dynamic_cast<PythonError*>(error.foreign());
  if (python_error == nullptr || python_error->exception() == nullptr) return error;
  PyObject* original = python_error->exception();
  if (!Py_IS_TYPE(original, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) return error;
  PyRef text = PyRef::steal(PyObject_Str(original));
  if (!text) return fetch_error();
  PyRef message = PyRef::steal(PyUnicode_FromFormat("%s%U", prefix.c_str(), text.get()));
  if (!message) return fetch_error();
  PyRef replacement = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!replacement) return fetch_error();
  PyObject* cause = PyException_GetCause(original);  // new reference or null
  if (cause != nullptr) PyException_SetCause(replacement.get(), cause);  // steals cause
  return CoreError::propagated(std::make_unique<PythonError>(std::move(replacement)));
}

Result<std::vector<PyRef>> sequence_items(PyObject* object) {
  return take_sequence<PyRef>(object, Py_ssize_t{1} << 24, [](PyRef item) -> Result<PyRef> { return item; });
}

Result<std::vector<PyRef>> sequence_argument(std::string_view name, PyObject* object) {
  auto items = sequence_items(object);
  if (!items.ok()) return argument_error(name, items.take_error());
  return items;
}

Result<std::string> text_argument(std::string_view name, PyObject* object) {
  auto text = extract_text(object);
  if (!text.ok()) return argument_error(name, text.take_error());
  return text;
}

PyObject* internal_fault_class() noexcept { return g_internal_fault; }

bool init_internal_fault_class(PyObject* module) noexcept {
  if (g_internal_fault == nullptr) {
    g_internal_fault = PyErr_NewExceptionWithDoc(
        "_nolt_core.InternalFault",
        "A broken internal invariant of _nolt_core. It derives from BaseException because no "
        "valid or invalid input can cause it: it always indicates a defect in the module.",
        PyExc_BaseException, nullptr);
    if (g_internal_fault == nullptr) return false;
  }
  return PyModule_AddObjectRef(module, "InternalFault", g_internal_fault) == 0;
}

bool adopt_internal_fault_class(PyObject* module, PyObject* fault_class) noexcept {
  if (g_internal_fault == nullptr) g_internal_fault = Py_NewRef(fault_class);
  return PyModule_AddObjectRef(module, "InternalFault", g_internal_fault) == 0;
}

}  // namespace nolt::py
