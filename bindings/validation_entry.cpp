#include <string>
#include <utility>
#include <vector>

#include "entry_points.h"
#include "ingest/convert.h"
#include "persistence/schema_file.h"
#include "schema_columns.h"
#include "validation/engine.h"
#include "validation_dicts.h"

namespace nolt::py {

PyObject* validate_dataset_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kValidateDatasetFileParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::string schema_path, text_argument("schema_path", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(SuggestedDatasetSchema schema, load_suggested_schema(schema_path, core_context()));
    NOLT_ASSIGN_OR_RETURN(std::vector<ValidationIssue> issues,
                          validate_against_schema(columns, schema.columns, core_context()));
    const ValidationReport report{std::move(issues)};
    return validation_report_to_dict(report);
  });
}

PyObject* validate_dataset_schema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kValidateDatasetSchemaParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<SchemaColumnSpec> taken_columns, take_schema_columns(bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(std::vector<SuggestedColumnSchema> schema_columns,
                          build_suggested_columns(std::move(taken_columns)));
    NOLT_ASSIGN_OR_RETURN(std::vector<ValidationIssue> issues,
                          validate_against_schema(columns, schema_columns, core_context()));
    const ValidationReport report{std::move(issues)};
    return validation_report_to_dict(report);
  });
}

}  // namespace nolt::py
