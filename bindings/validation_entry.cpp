#include "entry_points.h"

#include "ingest/convert.h"

namespace nolt::py {

PyObject* validate_dataset_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kValidateDatasetFileParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("validate_dataset_file");
  });
}

PyObject* validate_dataset_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kValidateDatasetSchemaParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("_validate_dataset_schema");
  });
}

}  // namespace nolt::py
