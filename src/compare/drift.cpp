#include "compare/drift.h"

#include <algorithm>
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
  LogicalType logical_type = LogicalType::Unknown;
  bool has_null = false;
};

// Walks one column: every value through the numeric rule of a numeric
// column (only the value-kind error matters), and whether any cell is null.
// Each value is read at most once; numeric_value accepts every value of the
// other types, so there the scan stops at the first null.
Result<bool> prepare_column(const ColumnInput& column, const ExecutionContext& context) {
  bool column_has_null = false;
  const bool numeric = is_numeric(column.logical_type);
  const std::size_t row_count = column.values.size();
  for (std::size_t chunk_begin = 0; chunk_begin < row_count; chunk_begin += kInterruptStride) {
    if (chunk_begin != 0) NOLT_TRY(context.check());
    const std::size_t chunk_end = std::min(row_count, chunk_begin + kInterruptStride);
    for (std::size_t row_idx = chunk_begin; row_idx < chunk_end; ++row_idx) {
      const Cell& cell = column.values[row_idx];
      if (numeric) NOLT_TRY(numeric_value(column.name, column.logical_type, cell));
      column_has_null = column_has_null || cell.is_null();
      if (column_has_null && !numeric) return true;
    }
  }
  return column_has_null;
}

// Checks one side completely (equal lengths, then every column) and notes
// each column's null flag.
Result<std::vector<PreparedColumn>> prepare_side(const std::vector<ColumnInput>& columns,
                                                 const ExecutionContext& context) {
  NOLT_TRY(check_equal_lengths(columns));
  std::vector<PreparedColumn> prepared(columns.size());
  NOLT_TRY(run_until_failure(context, columns.size(), [&](std::size_t column_idx) -> Status {
    const ColumnInput& column = columns[column_idx];
    NOLT_ASSIGN_OR_RETURN(const bool column_has_null, prepare_column(column, context));
    prepared[column_idx] = PreparedColumn{column.name, column.logical_type, column_has_null};
    return Status();
  }));
  return prepared;
}

DriftIssue make_issue(const PreparedColumn& column, Severity severity, DriftCode code) {
  return DriftIssue{std::string(column.name), severity, code};
}

}  // namespace

Result<DriftReport> detect_schema_drift(const std::vector<ColumnInput>& before, const std::vector<ColumnInput>& after,
                                        const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(const std::vector<PreparedColumn> before_columns, prepare_side(before, context));
  NOLT_ASSIGN_OR_RETURN(const std::vector<PreparedColumn> after_columns, prepare_side(after, context));

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
