#include "ingest/python.h"

#include <cstring>


namespace nolt::py {

CoreError fetch_error() {
  PyObject* raised = PyErr_GetRaisedException();
  if (raised == nullptr) {
    PyErr_SetString(PyExc_SystemError, "an interpreter call failed without setting an exception");
    raised = PyErr_GetRaisedException();
  }
  return CoreError::propagated(std::make_unique<PythonError>(PyRef::steal(raised)));
}

namespace {

// The whole message, also past an embedded NUL (a column name may hold one,
// which a C-string setter would cut off).
void raise_with_message(PyObject* type, const std::string& message) {
  PyRef text = PyRef::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(type, text.get());
}

}  // namespace

void raise_core_error(CoreError error) {
  switch (error.kind()) {
    case CoreErrorKind::TypeError:
      raise_with_message(PyExc_TypeError, error.message());
      return;
    case CoreErrorKind::ValueError:
      raise_with_message(PyExc_ValueError, error.message());
      return;
    case CoreErrorKind::OSError:
      raise_with_message(PyExc_OSError, error.message());
      return;
    case CoreErrorKind::Propagated: {
      auto foreign = error.take_foreign();
      auto* python_error = dynamic_cast<PythonError*>(foreign.get());
      if (python_error == nullptr || python_error->exception() == nullptr) {
        PyErr_SetString(PyExc_SystemError, "a propagated error carried no exception");
        return;
      }
      PyErr_SetRaisedException(python_error->take().release());
      return;
    }
  }
}

namespace {

std::string name_from(PyObject* name_object, PyObject* object) {
  if (name_object != nullptr) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name_object, &size);
    if (utf8 != nullptr) {
      std::string name(utf8, static_cast<std::size_t>(size));
      Py_DECREF(name_object);
      return name;
    }
    Py_DECREF(name_object);
  }
  PyErr_Clear();
  return Py_TYPE(object)->tp_name;
}

}  // namespace

std::string type_qualname(PyObject* object) {
  return name_from(PyType_GetQualName(Py_TYPE(object)), object);
}

std::string type_name(PyObject* object) { return name_from(PyType_GetName(Py_TYPE(object)), object); }

Result<std::string_view> text_view(PyObject* object) {
  if (!PyUnicode_Check(object)) {
    return CoreError::type_error(str_cat("'", type_qualname(object), "' object cannot be converted to 'PyString'"));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return fetch_error();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

Result<std::string> extract_text(PyObject* object) {
  NOLT_ASSIGN_OR_RETURN(std::string_view view, text_view(object));
  return std::string(view);
}

bool is_memory_error(const CoreError& error) noexcept {
  if (error.kind() != CoreErrorKind::Propagated) return false;
  auto* python_error = dynamic_cast<PythonError*>(error.foreign());
  return python_error != nullptr && python_error->exception() != nullptr &&
         PyErr_GivenExceptionMatches(python_error->exception(), PyExc_MemoryError);
}

Status check_signals() {
  if (PyErr_CheckSignals() != 0) return fetch_error();
  return Status::ok_status();
}

Status clear_refusal() {
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) return fetch_error();
  PyErr_Clear();
  return Status::ok_status();
}

Result<std::optional<bool>> boolean_rule(PyObject* object) {
  if (PyBool_Check(object)) return std::optional<bool>(object == Py_True);
  PyTypeObject* type = Py_TYPE(object);
  PyRef module = PyRef::steal(PyType_GetModuleName(type));
  if (!module) {
    NOLT_TRY(clear_refusal());
    return std::optional<bool>();
  }
  if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    return std::optional<bool>();
  }
  PyRef name = PyRef::steal(PyType_GetName(type));
  if (!name) {
    NOLT_TRY(clear_refusal());
    return std::optional<bool>();
  }
  if (PyUnicode_CompareWithASCIIString(name.get(), "bool_") != 0 &&
      PyUnicode_CompareWithASCIIString(name.get(), "bool") != 0) {
    return std::optional<bool>();
  }
  if (type->tp_as_number == nullptr || type->tp_as_number->nb_bool == nullptr) return std::optional<bool>();
  const int truth = type->tp_as_number->nb_bool(object);
  if (truth < 0) {
    NOLT_TRY(clear_refusal());
    return std::optional<bool>();
  }
  return std::optional<bool>(truth != 0);
}

}  // namespace nolt::py
