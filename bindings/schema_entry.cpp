#include "entry_points.h"

#include "ingest/convert.h"
#include "schema_dicts.h"

namespace nolt::py {

PyObject* observed_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kObservedSchemaDatasetParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, observe_columns(columns, core_context()));
    return observed_schema_to_dict(observed);
  });
}

PyObject* suggest_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSuggestSchemaDatasetParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, observe_columns(columns, core_context()));
    const SuggestedDatasetSchema suggested = derive_suggested_schema(observed.columns);
    return suggested_schema_to_dict(suggested);
  });
}

PyObject* inspect_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kInspectDatasetParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    // One profile feeds all three views, so they always agree.
    NOLT_ASSIGN_OR_RETURN(const std::uint64_t row_count, check_equal_lengths(columns));
    NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, profile_columns(columns, row_count, core_context()));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, derive_observed_schema(profile, columns, core_context()));
    const SuggestedDatasetSchema suggested = derive_suggested_schema(observed.columns);
    // The cells are no longer needed; free them before the result objects are built.
    std::vector<ColumnInput>().swap(columns);
    return inspection_to_dict(profile, observed, suggested);
  });
}

}  // namespace nolt::py
