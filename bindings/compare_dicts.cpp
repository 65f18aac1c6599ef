#include "compare_dicts.h"

#include <cstddef>
#include <cstdint>

#include "results.h"
#include "schema_dicts.h"

namespace nolt::py {

namespace {

Result<PyRef> change_to_text(ColumnChangeKind change) { return make_text(column_change_name(change)); }

Result<PyRef> comparison_entry_to_dict(const ColumnComparison& entry) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "name", entry.name));
  NOLT_TRY(put_text(dict.get(), "status", comparison_status_name(entry.status)));
  NOLT_TRY(put_optional(dict.get(), "before", entry.before, observed_column_to_dict));
  NOLT_TRY(put_optional(dict.get(), "after", entry.after, observed_column_to_dict));
  NOLT_TRY(put_object(dict.get(), "changes", list_of(entry.changes, change_to_text)));
  return dict;
}

Result<PyRef> drift_issue_to_dict(const DriftIssue& issue) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "code", drift_code_name(issue.code)));
  NOLT_TRY(put_text(dict.get(), "severity", severity_name(issue.severity)));
  NOLT_TRY(put_text(dict.get(), "column", issue.column));
  return dict;
}

}  // namespace

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
  NOLT_TRY(put_object(dict.get(), "columns", list_of(comparison.columns, comparison_entry_to_dict)));
  return dict;
}

// "warning_count" comes before "error_count" here, unlike the validation report.
Result<PyRef> drift_report_to_dict(const DriftReport& report) {
  const SeverityCounts counts = count_severities(report.issues);
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_bool(dict.get(), "has_drift", !report.issues.empty()));
  NOLT_TRY(put_count(dict.get(), "warning_count", counts.warnings));
  NOLT_TRY(put_count(dict.get(), "error_count", counts.errors));
  NOLT_TRY(put_object(dict.get(), "issues", list_of(report.issues, drift_issue_to_dict)));
  return dict;
}

}  // namespace nolt::py
