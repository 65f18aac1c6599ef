#include "engine_entry_points.h"
#include "persistence/schema_file.h"
#include "schema/observed.h"
#include "schema/suggested.h"
#include "schema_dicts.h"

namespace nolt::engine {

using py::PyRef;

PyObject* observed_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kObservedSchemaParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[1]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns input, engine_columns("columns", bound[0], context));
    NOLT_ASSIGN_OR_RETURN(TypedObservation observation,
                          without_interpreter_lock([&] { return observe_typed_columns(input, context); }));
    return py::observed_schema_to_dict(observation.observed);
  });
}

PyObject* suggest_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kSuggestSchemaParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[1]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns input, engine_columns("columns", bound[0], context));
    NOLT_ASSIGN_OR_RETURN(TypedObservation observation,
                          without_interpreter_lock([&] { return observe_typed_columns(input, context); }));
    return py::suggested_schema_to_dict(derive_suggested_schema(observation.observed.columns));
  });
}

PyObject* inspect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kInspectParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[1]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns input, engine_columns("columns", bound[0], context));
    struct Views {
      DatasetProfile profile;
      ObservedDatasetSchema observed;
      SuggestedDatasetSchema suggested;
    };
    // One profile feeds all three views, so they always agree.
    NOLT_ASSIGN_OR_RETURN(Views views, without_interpreter_lock([&]() -> Result<Views> {
                            NOLT_ASSIGN_OR_RETURN(TypedObservation observation, observe_typed_columns(input, context));
                            SuggestedDatasetSchema suggested = derive_suggested_schema(observation.observed.columns);
                            EngineColumns().columns.swap(input.columns);
                            return Views{std::move(observation.profile), std::move(observation.observed),
                                         std::move(suggested)};
                          }));
    return py::inspection_to_dict(views.profile, views.observed, views.suggested);
  });
}

PyObject* save_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kSaveSchemaParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::string path, py::text_argument("path", bound[1]));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[2]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns input, engine_columns("columns", bound[0], context));
    NOLT_TRY(without_interpreter_lock([&]() -> Status {
      NOLT_ASSIGN_OR_RETURN(TypedObservation observation, observe_typed_columns(input, context));
      return save_suggested_schema(derive_suggested_schema(observation.observed.columns), path);
    }));
    return PyRef::steal(Py_NewRef(Py_None));
  });
}

}  // namespace nolt::engine
