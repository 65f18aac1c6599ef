// nolt._engine's functions: the core's computations for nolt, computed
// without the interpreter lock once the columns are converted.
#pragma once

#include <Python.h>

#include <utility>

#include "frame.h"
#include "parallel/execution.h"

namespace nolt::engine {

// Lets other threads run Python while the core computes on converted columns.
// The body must not touch any Python object.
template <class Body>
auto without_interpreter_lock(Body&& body) {
  PyThreadState* saved = PyEval_SaveThread();
  struct Restore {
    PyThreadState* state;
    ~Restore() { PyEval_RestoreThread(state); }
  } restore{saved};
  return std::forward<Body>(body)();
}

// How the engine computes. For now on the calling thread; the thread pool and
// the interrupt come with the engine's own reading of the data.
inline const ExecutionContext& engine_context() noexcept { return kSerialContext; }

inline constexpr py::ParamSpec kProfileParams{"profile", {"columns", ""}, 1};

PyObject* profile(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace nolt::engine
