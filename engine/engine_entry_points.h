// nolt._engine's functions: the core's computations for nolt, computed
// without the interpreter lock once the columns are converted.
#pragma once

#include <Python.h>

#include <string_view>
#include <utility>
#include <vector>

#include "data/values.h"
#include "frame.h"
#include "parallel/execution.h"
#include "typed_columns.h"

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

// How the engine computes: on a pool of `threads` threads (None or 0: as many
// as the CPUs this process may use). Pools are made once per thread count and
// kept for the life of the process.
Result<ExecutionContext> engine_context(PyObject* threads);
// On the calling thread, stopped by cancel() like the others.
ExecutionContext serial_engine_context();

// cancel() makes every running computation stop at its next check with an
// error; uncancel() lets computations run again. nolt calls cancel() when the
// thread waiting for a computation is interrupted (Ctrl-C).
PyObject* cancel(PyObject*, PyObject*);
PyObject* uncancel(PyObject*, PyObject*);

// The columns of one dataset argument, which is one of:
// - the core's column tuples, converted as _nolt_core converts them;
// - an object exporting Arrow data (`__arrow_c_stream__` or
//   `__arrow_c_array__`: a table, record batch, stream or array), each column
//   with the logical type its Arrow type stands for;
// - a dict {"arrow": such an object, "types": a list with one logical type
//   name, None (its Arrow type's) or False (left to the adapter) per column,
//   "fallback": a callable}: where a column's cells
//   cannot be read here exactly as nolt's adapters make them,
//   fallback(column_idx) gives its column tuple instead. An optional
//   "dictionaries": (data, per column None or an Arrow array) has the engine
//   read `data` instead, whose columns of integers with an array are the
//   indexes into that dictionary (a column that does not fit is left to its
//   adapter).
// Arrow buffers are read with the interpreter lock released, columns spread
// over the context's threads; text is viewed where it lies in the Arrow
// buffers, so the result holds the Arrow data, which must be released (the
// result destroyed) with the interpreter lock held.
// Temporal and dictionary columns of Arrow data are read in their typed form
// where they can be: their cells are numbers, which the computations of
// typed_columns.h turn back into what the texts would give. `forms` says
// which columns may be read so: all (integer, float and boolean columns of
// Arrow data read as their own type are then held as the keys of their
// values, without cells), all but those numbers, or only the temporal ones.
enum class TypedForms : std::uint8_t { All, AllButNumbers, TemporalOnly };
Result<EngineColumns> engine_columns(std::string_view name, PyObject* data, const ExecutionContext& context,
                                     TypedForms forms = TypedForms::All);

inline constexpr py::ParamSpec kProfileParams{"profile", {"columns", "threads"}, 2};
inline constexpr py::ParamSpec kObservedSchemaParams{"observed_schema", {"columns", "threads"}, 2};
inline constexpr py::ParamSpec kSuggestSchemaParams{"suggest_schema", {"columns", "threads"}, 2};
inline constexpr py::ParamSpec kInspectParams{"inspect", {"columns", "threads"}, 2};
inline constexpr py::ParamSpec kSaveSchemaParams{"save_schema", {"columns", "path", "threads"}, 3};
inline constexpr py::ParamSpec kCompareParams{"compare", {"before_columns", "after_columns", "threads"}, 3};
inline constexpr py::ParamSpec kDriftParams{"drift", {"before_columns", "after_columns", "threads"}, 3};

PyObject* profile(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* observed_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* suggest_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* inspect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* save_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* compare(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* drift(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace nolt::engine
