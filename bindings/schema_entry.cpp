#include "entry_points.h"

#include "ingest/convert.h"

namespace nolt::py {

PyObject* observed_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kObservedSchemaDatasetParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("observed_schema_dataset");
  });
}

PyObject* suggest_schema_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSuggestSchemaDatasetParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("suggest_schema_dataset");
  });
}

PyObject* inspect_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kInspectDatasetParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("inspect_dataset");
  });
}

}  // namespace nolt::py
