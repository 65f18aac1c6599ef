// The call frame shared by the module's functions: argument binding with the
// exact messages, argument taking, and the guard that turns an error value
// (or an escaping internal fault) into a raised exception.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <new>
#include <string_view>
#include <vector>

#include "ingest/python.h"
#include "parallel/execution.h"

namespace nolt::py {

// One function's parameters: all required, positional-or-keyword.
struct ParamSpec {
  std::string_view function;  // shown followed by "()"
  std::array<std::string_view, 4> names;  // the first `count` are used
  std::size_t count;
};

// Binds vectorcall arguments to the parameters; borrowed references, in
// parameter order.
Result<std::array<PyObject*, 4>> bind_arguments(const ParamSpec& signature, PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames);

// A TypeError becomes "argument '{name}': {text}" keeping its cause; any
// other error passes unchanged.
CoreError argument_error(std::string_view name, CoreError error);

// Reserves for a length that is only a hint: a huge (lying) length whose
// reservation cannot be had costs nothing but later regrowth.
template <class T>
void reserve_for_hint(std::vector<T>& items, Py_ssize_t hint, Py_ssize_t cap) noexcept {
  if (hint <= 0) return;
  try {
    items.reserve(static_cast<std::size_t>(hint < cap ? hint : cap));
  } catch (const std::exception&) {
  }
}

// Takes a list-like object (not a str) item by item in iteration order: each
// new item reference goes through `take` before the next item is fetched, so
// the first bad item decides the error. The length only sizes the result.
template <class T, class Take>
Result<std::vector<T>> take_sequence(PyObject* object, Py_ssize_t reserve_cap, Take&& take) {
  if (PyUnicode_Check(object)) return CoreError::type_error("Can't extract `str` to `Vec`");
  if (!PySequence_Check(object)) {
    return CoreError::type_error(str_cat("'", type_qualname(object), "' object cannot be converted to 'Sequence'"));
  }
  std::vector<T> items;
  const Py_ssize_t hint = PySequence_Size(object);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    reserve_for_hint(items, hint, reserve_cap);
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(object));
  if (!iterator) return fetch_error();
  while (true) {
    PyRef item = PyRef::steal(PyIter_Next(iterator.get()));
    if (!item) {
      if (PyErr_Occurred()) return fetch_error();
      return items;
    }
    NOLT_ASSIGN_OR_RETURN(T taken, take(std::move(item)));
    items.push_back(std::move(taken));
  }
}

// A list-like argument as an ordered list of new references.
Result<std::vector<PyRef>> sequence_argument(std::string_view name, PyObject* object);

// The elements of a sequence (not a str), without the argument prefix; the
// schema_columns conversion uses this for nested lists too.
Result<std::vector<PyRef>> sequence_items(PyObject* object);

// A text argument as owned UTF-8.
Result<std::string> text_argument(std::string_view name, PyObject* object);

// The class raised for internal faults, derived directly from BaseException.
PyObject* internal_fault_class() noexcept;
bool init_internal_fault_class(PyObject* module) noexcept;
// A second module raises the first one's class, so callers catch one class.
bool adopt_internal_fault_class(PyObject* module, PyObject* fault_class) noexcept;

// The interrupt of a computation that holds the interpreter lock throughout:
// each check runs the interpreter's signal handlers, so Ctrl-C (or any
// handler that raises) ends the computation with the handler's exception.
// Only for contexts used on the thread that holds the lock.
class PythonSignals final : public Interrupt {
 public:
  Status check() const override { return check_signals(); }
};

// Runs a body that returns a new result reference or an error, and hands the
// interpreter a new reference or null with an exception set.
template <class Body>
PyObject* run_frame(Body&& body) noexcept {
  try {
    Result<PyRef> result = body();
    if (!result.ok()) {
      raise_core_error(result.take_error());
      return nullptr;
    }
    PyObject* object = result.value().release();
    if (object == nullptr) {
      PyErr_SetString(internal_fault_class(), "a function body returned no object");
    }
    return object;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& fault) {
    PyErr_SetString(internal_fault_class(), fault.what());
  } catch (...) {
    PyErr_SetString(internal_fault_class(), "internal fault in _nolt_core");
  }
  return nullptr;
}

}  // namespace nolt::py
