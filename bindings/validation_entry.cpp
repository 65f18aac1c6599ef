#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "entry_points.h"
#include "ingest/convert.h"
#include "persistence/schema_file.h"
#include "results.h"
#include "schema_columns.h"
#include "validation/engine.h"

namespace nolt::py {

namespace {

Status put_issue_value(PyObject* dict, const char* key, const std::optional<IssueValue>& value) {
  if (!value) return put_none(dict, key);
  if (const auto* text = std::get_if<std::string>(&*value)) return put_text(dict, key, *text);
  if (const auto* flag = std::get_if<bool>(&*value)) return put_bool(dict, key, *flag);
  return put_logical_type(dict, key, std::get<LogicalType>(*value));
}

Result<PyRef> issue_to_dict(const ValidationIssue& issue) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "code", issue_code_name(issue.code)));
  NOLT_TRY(put_text(dict.get(), "severity", severity_name(issue.severity)));
  if (issue.column) {
    NOLT_TRY(put_text(dict.get(), "column", *issue.column));
  } else {
    NOLT_TRY(put_none(dict.get(), "column"));
  }
  NOLT_TRY(put_issue_value(dict.get(), "expected", issue.expected));
  NOLT_TRY(put_issue_value(dict.get(), "observed", issue.observed));
  return dict;
}

// {"is_valid", "error_count", "warning_count", "issues"}; the three summary
// values come from the severities, whatever rules produced the issues.
Result<PyRef> report_to_dict(const ValidationReport& report) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_ASSIGN_OR_RETURN(PyRef issues, new_list());
  std::uint64_t error_count = 0;
  std::uint64_t warning_count = 0;
  for (const ValidationIssue& issue : report.issues) {
    (issue.severity == Severity::Error ? error_count : warning_count) += 1;
  }
  NOLT_TRY(put_bool(dict.get(), "is_valid", error_count == 0));
  NOLT_TRY(put_count(dict.get(), "error_count", error_count));
  NOLT_TRY(put_count(dict.get(), "warning_count", warning_count));
  for (const ValidationIssue& issue : report.issues) {
    NOLT_ASSIGN_OR_RETURN(PyRef issue_dict, issue_to_dict(issue));
    NOLT_TRY(append(issues.get(), std::move(issue_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "issues", std::move(issues)));
  return dict;
}

}  // namespace

PyObject* validate_dataset_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kValidateDatasetFileParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_argument("columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::string schema_path, text_argument("schema_path", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> columns, convert_columns(std::move(items)));
    NOLT_ASSIGN_OR_RETURN(SuggestedDatasetSchema schema, load_suggested_schema(schema_path));
    const ValidationReport report{validate_against_schema(columns, schema.columns)};
    return report_to_dict(report);
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
    const ValidationReport report{validate_against_schema(columns, schema_columns)};
    return report_to_dict(report);
  });
}

}  // namespace nolt::py
