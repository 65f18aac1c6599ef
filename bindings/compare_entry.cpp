#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "compare/comparison.h"
#include "compare/drift.h"
#include "entry_points.h"
#include "ingest/convert.h"
#include "results.h"
#include "schema/observed.h"
#include "schema_dicts.h"

namespace nolt::py {

namespace {

Status put_observed_column(PyObject* dict, const char* key, const std::optional<ObservedColumnSchema>& column) {
  if (!column) return put_none(dict, key);
  NOLT_ASSIGN_OR_RETURN(PyRef column_dict, observed_column_to_dict(*column));
  return put_object(dict, key, std::move(column_dict));
}

Result<PyRef> comparison_entry_to_dict(const ColumnComparison& entry) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "name", entry.name));
  NOLT_TRY(put_text(dict.get(), "status", comparison_status_name(entry.status)));
  NOLT_TRY(put_observed_column(dict.get(), "before", entry.before));
  NOLT_TRY(put_observed_column(dict.get(), "after", entry.after));
  NOLT_ASSIGN_OR_RETURN(PyRef changes, new_list());
  for (const ColumnChangeKind change : entry.changes) {
    NOLT_ASSIGN_OR_RETURN(PyRef text, make_text(column_change_name(change)));
    NOLT_TRY(append(changes.get(), std::move(text)));
  }
  NOLT_TRY(put_object(dict.get(), "changes", std::move(changes)));
  return dict;
}

// The summary values are counted from the entries; the comparison stores
// only the entries and the two row counts.
Result<PyRef> comparison_to_dict(const DatasetComparison& comparison) {
  std::uint64_t status_counts[4] = {0, 0, 0, 0};
  for (const ColumnComparison& entry : comparison.columns) ++status_counts[static_cast<std::size_t>(entry.status)];
  const std::uint64_t added = status_counts[static_cast<std::size_t>(ComparisonStatus::Added)];
  const std::uint64_t removed = status_counts[static_cast<std::size_t>(ComparisonStatus::Removed)];
  const std::uint64_t changed = status_counts[static_cast<std::size_t>(ComparisonStatus::Changed)];
  const std::uint64_t unchanged = status_counts[static_cast<std::size_t>(ComparisonStatus::Unchanged)];
  const std::uint64_t entry_count = comparison.columns.size();
  const bool row_count_changed = comparison.before_row_count != comparison.after_row_count;

  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_count(dict.get(), "before_row_count", comparison.before_row_count));
  NOLT_TRY(put_count(dict.get(), "after_row_count", comparison.after_row_count));
  NOLT_TRY(put_bool(dict.get(), "has_changes", row_count_changed || unchanged != entry_count));
  NOLT_TRY(put_bool(dict.get(), "row_count_changed", row_count_changed));
  NOLT_TRY(put_count(dict.get(), "added_count", added));
  NOLT_TRY(put_count(dict.get(), "removed_count", removed));
  NOLT_TRY(put_count(dict.get(), "changed_count", changed));
  NOLT_TRY(put_count(dict.get(), "unchanged_count", unchanged));
  NOLT_TRY(put_count(dict.get(), "column_count_before", entry_count - added));
  NOLT_TRY(put_count(dict.get(), "column_count_after", entry_count - removed));
  NOLT_ASSIGN_OR_RETURN(PyRef entries, new_list());
  for (const ColumnComparison& entry : comparison.columns) {
    NOLT_ASSIGN_OR_RETURN(PyRef entry_dict, comparison_entry_to_dict(entry));
    NOLT_TRY(append(entries.get(), std::move(entry_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "columns", std::move(entries)));
  return dict;
}

Result<PyRef> drift_issue_to_dict(const DriftIssue& issue) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "code", drift_code_name(issue.code)));
  NOLT_TRY(put_text(dict.get(), "severity", severity_name(issue.severity)));
  NOLT_TRY(put_text(dict.get(), "column", issue.column));
  return dict;
}

// "warning_count" comes before "error_count" here, unlike the validation report.
Result<PyRef> drift_report_to_dict(const DriftReport& report) {
  std::uint64_t warning_count = 0;
  std::uint64_t error_count = 0;
  for (const DriftIssue& issue : report.issues) {
    (issue.severity == Severity::Warning ? warning_count : error_count) += 1;
  }
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_bool(dict.get(), "has_drift", !report.issues.empty()));
  NOLT_TRY(put_count(dict.get(), "warning_count", warning_count));
  NOLT_TRY(put_count(dict.get(), "error_count", error_count));
  NOLT_ASSIGN_OR_RETURN(PyRef issues, new_list());
  for (const DriftIssue& issue : report.issues) {
    NOLT_ASSIGN_OR_RETURN(PyRef issue_dict, drift_issue_to_dict(issue));
    NOLT_TRY(append(issues.get(), std::move(issue_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "issues", std::move(issues)));
  return dict;
}

}  // namespace

// Both arguments are taken before either is converted, and both sides are
// converted before either is observed, so the earliest failing step decides
// the error (within a step, the before side).
PyObject* compare_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kCompareDatasetsParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> before_items, sequence_argument("before_columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> after_items, sequence_argument("after_columns", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> before, convert_columns(std::move(before_items)));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> after, convert_columns(std::move(after_items)));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema before_schema, observe_columns(before));
    NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema after_schema, observe_columns(after));
    const DatasetComparison comparison = compare_observed_schemas(before_schema, after_schema);
    return comparison_to_dict(comparison);
  });
}

PyObject* schema_drift_datasets(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_frame([&]() -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(auto bound, bind_arguments(kSchemaDriftDatasetsParams, args, nargs, kwnames));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> before_items, sequence_argument("before_columns", bound[0]));
    NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> after_items, sequence_argument("after_columns", bound[1]));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> before, convert_columns(std::move(before_items)));
    NOLT_ASSIGN_OR_RETURN(std::vector<ColumnInput> after, convert_columns(std::move(after_items)));
    NOLT_ASSIGN_OR_RETURN(DriftReport report, detect_schema_drift(before, after));
    return drift_report_to_dict(report);
  });
}

}  // namespace nolt::py
