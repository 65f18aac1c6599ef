#include "entry_points.h"

#include "ingest/convert.h"

namespace nolt::py {

PyObject* compare_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kCompareDatasetsParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("compare_datasets");
  });
}

PyObject* schema_drift_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSchemaDriftDatasetsParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("schema_drift_datasets");
  });
}

}  // namespace nolt::py
