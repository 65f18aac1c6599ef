#include "entry_points.h"

#include "ingest/convert.h"
#include "persistence/schema_file.h"
#include "schema/observed.h"
#include "schema/suggested.h"

namespace nolt::py {

PyObject* save_suggested_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSaveSuggestedSchemaDatasetParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::string path, text_argument("path", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, observe_columns(columns, core_context()));
    const SuggestedDatasetSchema suggested = derive_suggested_schema(observed.columns);
    NOLT_TRY(save_suggested_schema(suggested, path, core_context()));
    return PyRef::steal(Py_NewRef(Py_None));
  });
}

}  // namespace nolt::py
