#include "entry_points.h"

#include "ingest/convert.h"

namespace nolt::py {

PyObject* save_suggested_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSaveSuggestedSchemaDatasetParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("save_suggested_schema_dataset");
  });
}

}  // namespace nolt::py
