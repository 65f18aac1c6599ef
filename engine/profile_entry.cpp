#include "engine_entry_points.h"

#include "profile_dicts.h"

namespace nolt::engine {

using py::PyRef;

PyObject* profile(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kProfileParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, engine_columns("columns", bound[0], context));
    NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, without_interpreter_lock([&] {
                            return profile_dataset_columns(columns, context);
                          }));
    return py::profile_to_dict(profile);
  });
}

}  // namespace nolt::engine
