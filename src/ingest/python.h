// Owned Python references and the few interpreter helpers that ingestion and
// the bindings share. Only src/ingest and bindings/ include this header.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "error/core_error.h"

namespace nolt::py {

// An owned reference: decref on destruction, null after a move.
class PyRef {
 public:
  PyRef() noexcept = default;
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

// An exception the interpreter raised, carried unchanged to the call frame.
class PythonError final : public ForeignError {
 public:
  explicit PythonError(PyRef exception) : exception_(std::move(exception)) {}
  PyObject* exception() const noexcept { return exception_.get(); }
  PyRef take() noexcept { return std::move(exception_); }

 private:
  PyRef exception_;
};

// Fetches and clears the interpreter's current exception as a Propagated error.
CoreError fetch_error();

// Sets the interpreter's exception from an error; used only by the call frame.
void raise_core_error(CoreError error);

// The qualified name (for "cannot be converted" texts) and the short name
// (for "Unsupported ... type" texts) of an object's type.
std::string type_qualname(PyObject* object);
std::string type_name(PyObject* object);

// A str (or subclass) as owned UTF-8 text; anything else fails with
// "'{type}' object cannot be converted to 'PyString'".
Result<std::string> extract_text(PyObject* object);

// UTF-8 view of a str (or subclass), valid while the object lives.
Result<std::string_view> text_view(PyObject* object);

// Whether an error is the interpreter's MemoryError. Conversions that turn a
// failure into a refusal pass this one on instead: running out of memory is
// never a fault of the data.
bool is_memory_error(const CoreError& error) noexcept;

// Runs the interpreter's signal handlers (on the main thread; elsewhere a
// no-op). A handler that raises ends the caller's work with that exception,
// carried unchanged. Cheap when no signal is pending.
Status check_signals();

// Clears the interpreter's pending error as a refusal; a MemoryError is
// returned as the error instead.
Status clear_refusal();

// A Python bool, or a numpy boolean scalar read through its truth slot;
// nullopt for anything else (an error raised on the way is cleared, except a
// MemoryError, which is the result).
Result<std::optional<bool>> boolean_rule(PyObject* object);

}  // namespace nolt::py
