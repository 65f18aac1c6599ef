#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> checked(PyObject* object) {
  if (object == nullptr) return fetch_error();
  return PyRef::steal(object);
}

// The dict takes its own reference to `value`.
Status set_item(PyObject* dict, const char* key, PyObject* value) {
  if (PyDict_SetItemString(dict, key, value) < 0) return fetch_error();
  return {};
}

}  // namespace

Result<PyRef> new_dict() { return checked(PyDict_New()); }
Result<PyRef> new_list() { return checked(PyList_New(0)); }

Result<PyRef> new_column_dict(std::string_view name, LogicalType type) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "name", name));
  NOLT_TRY(put_logical_type(dict.get(), "logical_type", type));
  return dict;
}

Result<PyRef> make_text(std::string_view text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Result<PyRef> make_bool(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

Result<PyRef> make_count(std::uint64_t count) { return checked(PyLong_FromUnsignedLongLong(count)); }

Result<PyRef> make_double(double value) { return checked(PyFloat_FromDouble(value)); }

Status put_object(PyObject* dict, const char* key, PyRef value) { return set_item(dict, key, value.get()); }

Status put_object(PyObject* dict, const char* key, Result<PyRef>&& built) {
  if (!built.ok()) return built.take_error();
  return set_item(dict, key, built.value().get());
}

Status put_text(PyObject* dict, const char* key, std::string_view text) {
  return put_object(dict, key, make_text(text));
}

Status put_count(PyObject* dict, const char* key, std::uint64_t count) {
  return put_object(dict, key, make_count(count));
}

Status put_double(PyObject* dict, const char* key, double value) {
  return put_object(dict, key, make_double(value));
}

Status put_bool(PyObject* dict, const char* key, bool value) { return set_item(dict, key, value ? Py_True : Py_False); }

Status put_none(PyObject* dict, const char* key) { return set_item(dict, key, Py_None); }

Status put_logical_type(PyObject* dict, const char* key, LogicalType type) {
  return put_text(dict, key, logical_type_name(type));
}

Status append(PyObject* list, PyRef value) {
  if (PyList_Append(list, value.get()) < 0) return fetch_error();
  return {};
}

}  // namespace nolt::py
