#include <utility>
#include <vector>

#include "compare/comparison.h"
#include "compare/drift.h"
#include "compare_dicts.h"
#include "entry_points.h"
#include "ingest/convert.h"
#include "schema/observed.h"

namespace nolt::py {

// Both arguments are taken before either is converted, and both sides are
// converted before either is observed, so the earliest failing step decides
// the error (within a step, the before side).
PyObject* compare_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kCompareDatasetsParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> before_items, sequence_argument("before_columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> after_items, sequence_argument("after_columns", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> before, convert_columns(std::move(before_items)));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> after, convert_columns(std::move(after_items)));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema before_schema, observe_columns(before, core_context()));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema after_schema, observe_columns(after, core_context()));
    const DatasetComparison comparison = compare_observed_schemas(before_schema, after_schema);
    return comparison_to_dict(comparison);
  });
}

PyObject* schema_drift_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSchemaDriftDatasetsParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> before_items, sequence_argument("before_columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> after_items, sequence_argument("after_columns", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> before, convert_columns(std::move(before_items)));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> after, convert_columns(std::move(after_items)));
    NOLT_ASSIGN_OR_RETURN(DriftReport report, detect_schema_drift(before, after, core_context()));
    return drift_report_to_dict(report);
  });
}

}  // namespace nolt::py
