#include "compare/drift.h"

#include <string>
#include <string_view>
#include <vector>

#include "common/name_join.h"
#include "profiling/statistics.h"

namespace nolt {

namespace {

// What detection needs of one column of either side.
struct PreparedColumn {
  std::string_view name;  // borrowed from the converted column
  LogicalType logical_type;
  bool has_null;
};

// Checks one side completely (equal lengths, then every value of every column
// against the numeric rule of its declared type) and notes each column's null
// flag. Each value is read at most once.
Result<std::vector<PreparedColumn>> prepare_side(const std::vector<ColumnInput>& columns) {
  NOLT_TRY(check_equal_lengths(columns));
  std::vector<PreparedColumn> prepared;
  prepared.reserve(columns.size());
  for (const ColumnInput& column : columns) {
    bool column_has_null = false;
    if (is_numeric(column.logical_type)) {
      for (const Cell& cell : column.values) {
        // Only the value-kind error matters; the number itself is not used.
        NOLT_TRY(numeric_value(column.name, column.logical_type, cell));
        column_has_null = column_has_null || cell.is_null();
      }
    } else {
      // numeric_value accepts every value of the other types, so only the
      // null flag is left to find, and the scan may stop at the first null.
      column_has_null = has_null(column.values);
    }
    prepared.push_back(PreparedColumn{column.name, column.logical_type, column_has_null});
  }
  return prepared;
}

DriftIssue make_issue(const PreparedColumn& column, Severity severity, DriftCode code) {
  return DriftIssue{std::string(column.name), severity, code};
}

}  // namespace

Result<DriftReport> detect_schema_drift(const std::vector<ColumnInput>& before, const std::vector<ColumnInput>& after) {
  NOLT_ASSIGN_OR_RETURN(const std::vector<PreparedColumn> before_columns, prepare_side(before));
  NOLT_ASSIGN_OR_RETURN(const std::vector<PreparedColumn> after_columns, prepare_side(after));

  DriftReport report;
  join_by_name(
      before_columns, after_columns,
      [&](const PreparedColumn& column, const PreparedColumn* match) {
        if (match == nullptr) {
          report.issues.push_back(make_issue(column, Severity::Error, DriftCode::ColumnRemoved));
          return;
        }
        if (column.logical_type != match->logical_type) {
          report.issues.push_back(make_issue(column, Severity::Error, DriftCode::LogicalTypeChanged));
        }
        if (column.has_null != match->has_null) {
          // Gaining nulls breaks consumers; losing them does not.
          const Severity severity = column.has_null ? Severity::Warning : Severity::Error;
          report.issues.push_back(make_issue(column, severity, DriftCode::NullabilityChanged));
        }
      },
      [&](const PreparedColumn& column) {
        report.issues.push_back(make_issue(column, Severity::Warning, DriftCode::ColumnAdded));
      });
  return report;
}

}  // namespace nolt
