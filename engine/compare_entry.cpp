#include "compare/comparison.h"
#include "compare/drift.h"
#include "compare_dicts.h"
#include "engine_entry_points.h"
#include "schema/observed.h"

namespace nolt::engine {

using py::PyRef;

// Both sides are converted (the before side first) before either is computed
// on, so the earliest failing step decides the error.
PyObject* compare(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kCompareParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[2]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns before, engine_columns("before_columns", bound[0], context));
    NOLT_ASSIGN_OR_RETURN(EngineColumns after, engine_columns("after_columns", bound[1], context));
    NOLT_ASSIGN_OR_RETURN(DatasetComparison comparison, without_interpreter_lock([&]() -> Result<DatasetComparison> {
                            NOLT_ASSIGN_OR_RETURN(TypedObservation before_side, observe_typed_columns(before, context));
                            NOLT_ASSIGN_OR_RETURN(TypedObservation after_side, observe_typed_columns(after, context));
                            return compare_observed_schemas(before_side.observed, after_side.observed);
                          }));
    return py::comparison_to_dict(comparison);
  });
}

PyObject* drift(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kDriftParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[2]));
    // Drift reads only names, declared types and whether a column holds a null, from cells.
    NOLT_ASSIGN_OR_RETURN(EngineColumns before,
                          engine_columns("before_columns", bound[0], context, TypedForms::AllButNumbers));
    NOLT_ASSIGN_OR_RETURN(EngineColumns after,
                          engine_columns("after_columns", bound[1], context, TypedForms::AllButNumbers));
    NOLT_ASSIGN_OR_RETURN(DriftReport report, without_interpreter_lock([&] {
                            return detect_schema_drift(before.columns, after.columns, context);
                          }));
    return py::drift_report_to_dict(report);
  });
}

}  // namespace nolt::engine
