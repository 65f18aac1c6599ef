#include "entry_points.h"

#include "ingest/convert.h"

namespace nolt::py {

PyObject* profile_dataset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kProfileDatasetParams, args, nargs, kwnames));
    (void)bound;
    return not_implemented("profile_dataset");
  });
}

}  // namespace nolt::py
