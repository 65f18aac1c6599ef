// The module's functions with parameters, in the order of the function table.
#pragma once

#include "frame.h"
#include "parallel/execution.h"

namespace nolt::py {

// How the module computes: on the calling thread, which keeps the interpreter
// lock for the whole call (the module starts no thread), and interrupted by
// the interpreter's signal handlers, which the core runs between columns and
// every kInterruptStride cells. Every entry point passes this to the core.
inline const ExecutionContext& core_context() noexcept {
  static const PythonSignals signals;
  static const ExecutionContext context{nullptr, &signals};
  return context;
}

inline constexpr ParamSpec kProfileDatasetParams{"profile_dataset", {"columns", ""}, 1};
inline constexpr ParamSpec kObservedSchemaDatasetParams{"observed_schema_dataset", {"columns", ""}, 1};
inline constexpr ParamSpec kSuggestSchemaDatasetParams{"suggest_schema_dataset", {"columns", ""}, 1};
inline constexpr ParamSpec kInspectDatasetParams{"inspect_dataset", {"columns", ""}, 1};
inline constexpr ParamSpec kSaveSuggestedSchemaDatasetParams{"save_suggested_schema_dataset", {"columns", "path"}, 2};
inline constexpr ParamSpec kValidateDatasetFileParams{"validate_dataset_file", {"columns", "schema_path"}, 2};
inline constexpr ParamSpec kValidateDatasetSchemaParams{"_validate_dataset_schema", {"columns", "schema_columns"}, 2};
inline constexpr ParamSpec kCompareDatasetsParams{"compare_datasets", {"before_columns", "after_columns"}, 2};
inline constexpr ParamSpec kSchemaDriftDatasetsParams{"schema_drift_datasets", {"before_columns", "after_columns"}, 2};

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyObject* profile_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* observed_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* suggest_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* inspect_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* save_suggested_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validate_dataset_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* validate_dataset_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* compare_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* schema_drift_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace nolt::py
