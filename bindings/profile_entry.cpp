#include "entry_points.h"

#include "ingest/convert.h"
#include "profile_dicts.h"

namespace nolt::py {

PyObject* profile_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kProfileDatasetParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, profile_dataset_columns(columns, core_context()));
    return profile_to_dict(profile);
  });
}

}  // namespace nolt::py
