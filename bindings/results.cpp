#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> checked(PyObject* object) {
  if (object == nullptr) return fetch_error();
  return PyRef::steal(object);
}

}  // namespace

Result<PyRef> new_dict() { return checked(PyDict_New()); }
Result<PyRef> new_list() { return checked(PyList_New(0)); }

Result<PyRef> make_text(std::string_view text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Result<PyRef> make_bool(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

Status put_object(PyObject* dict, const char* key, PyRef value) {
  if (PyDict_SetItemString(dict, key, value.get()) < 0) return fetch_error();
  return {};
}

Status put_text(PyObject* dict, const char* key, std::string_view text) {
  NOLT_ASSIGN_OR_RETURN(PyRef value, make_text(text));
  return put_object(dict, key, std::move(value));
}

Status put_count(PyObject* dict, const char* key, std::uint64_t count) {
  NOLT_ASSIGN_OR_RETURN(PyRef value, checked(PyLong_FromUnsignedLongLong(count)));
  return put_object(dict, key, std::move(value));
}

Status put_double(PyObject* dict, const char* key, double value) {
  NOLT_ASSIGN_OR_RETURN(PyRef object, checked(PyFloat_FromDouble(value)));
  return put_object(dict, key, std::move(object));
}

Status put_bool(PyObject* dict, const char* key, bool value) {
  return put_object(dict, key, PyRef::borrow(value ? Py_True : Py_False));
}

Status put_none(PyObject* dict, const char* key) { return put_object(dict, key, PyRef::borrow(Py_None)); }

Status put_logical_type(PyObject* dict, const char* key, LogicalType type) {
  return put_text(dict, key, logical_type_name(type));
}

Status put_optional_double(PyObject* dict, const char* key, const std::optional<double>& value) {
  if (!value) return put_none(dict, key);
  return put_double(dict, key, *value);
}

Status append(PyObject* list, PyRef value) {
  if (PyList_Append(list, value.get()) < 0) return fetch_error();
  return {};
}

}  // namespace nolt::py
