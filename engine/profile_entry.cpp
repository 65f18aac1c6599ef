#include "engine_entry_points.h"

#include "details_dicts.h"
#include "profile_dicts.h"
#include "profiling/details.h"

namespace nolt::engine {

using py::PyRef;

namespace {

// The optional third positional argument: True or False only.
Result<bool> details_flag(PyObject* const* args, Py_ssize_t& positional) {
  if (positional != 3) return false;
  positional = 2;
  PyObject* flag = args[2];
  if (!PyBool_Check(flag)) {
    return CoreError::type_error(str_cat("argument 'details': expected bool, got ", Py_TYPE(flag)->tp_name));
  }
  return flag == Py_True;
}

}  // namespace

PyObject* profile(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::run_frame([&]() -> Result<PyRef> {
    Py_ssize_t positional = PyVectorcall_NARGS(nargs);
    NOLT_ASSIGN_OR_RETURN(const bool with_details, details_flag(args, positional));
    NOLT_ASSIGN_OR_RETURN(auto bound, py::bind_arguments(kProfileParams, args, positional, kwnames));
    NOLT_ASSIGN_OR_RETURN(const ExecutionContext context, engine_context(bound[1]));
    NOLT_ASSIGN_OR_RETURN(EngineColumns input, engine_columns("columns", bound[0], context));
    // The details view these texts and the columns until the result is built.
    std::vector<DetailTexts> texts;
    NOLT_ASSIGN_OR_RETURN(ProfileWithDetails result, without_interpreter_lock([&]() -> Result<ProfileWithDetails> {
                            if (with_details) return profile_typed_columns_with_details(input, texts, context);
                            NOLT_ASSIGN_OR_RETURN(TypedProfile profile, profile_typed_columns(input, context));
                            return ProfileWithDetails{std::move(profile.profile), {}};
                          }));
    if (!with_details) return py::profile_to_dict(result.profile);
    return py::profile_with_details_to_dict(result.profile, result.details);
  });
}

}  // namespace nolt::engine
