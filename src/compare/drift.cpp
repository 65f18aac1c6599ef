#include "compare/drift.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "common/hashing.h"
#include "profiling/statistics.h"

namespace nolt {

namespace {

// What detection needs of a column on the after side.
struct AfterColumn {
  LogicalType logical_type;
  bool has_null;
};

// Checks one side completely (equal lengths, then every value of every column
// against the numeric rule of its declared type) and returns its null flags,
// one per column. Each value is read at most once.
Result<std::vector<bool>> prepare_side(const std::vector<ColumnInput>& columns) {
  NOLT_TRY(check_equal_lengths(columns));
  std::vector<bool> null_flags;
  null_flags.reserve(columns.size());
  for (const ColumnInput& column : columns) {
    bool has_null = false;
    if (is_numeric(column.logical_type)) {
      for (const Cell& cell : column.values) {
        // Only the value-kind error matters; the number itself is not used.
        NOLT_TRY(numeric_value(column.name, column.logical_type, cell));
        has_null = has_null || cell.is_null();
      }
    } else {
      // numeric_value accepts every value of the other types, so only the
      // null flag is left to find, and the scan may stop at the first null.
      const std::vector<Cell>& cells = column.values.cells();
      has_null = std::any_of(cells.begin(), cells.end(), [](const Cell& cell) { return cell.is_null(); });
    }
    null_flags.push_back(has_null);
  }
  return null_flags;
}

}  // namespace

Result<DriftReport> detect_schema_drift(const std::vector<ColumnInput>& before, const std::vector<ColumnInput>& after) {
  NOLT_ASSIGN_OR_RETURN(const std::vector<bool> before_nulls, prepare_side(before));
  NOLT_ASSIGN_OR_RETURN(const std::vector<bool> after_nulls, prepare_side(after));

  // Keys borrow the column names, which outlive the tables.
  absl::flat_hash_map<std::string_view, AfterColumn, TextHash, TextEq> after_by_name;
  after_by_name.reserve(after.size());
  for (std::size_t column_idx = 0; column_idx < after.size(); ++column_idx) {
    // A repeated name: the last after column with it is the one matched.
    after_by_name.insert_or_assign(std::string_view(after[column_idx].name),
                                   AfterColumn{after[column_idx].logical_type, after_nulls[column_idx]});
  }
  absl::flat_hash_set<std::string_view, TextHash, TextEq> before_names;
  before_names.reserve(before.size());
  for (const ColumnInput& column : before) before_names.insert(std::string_view(column.name));

  DriftReport report;
  for (std::size_t column_idx = 0; column_idx < before.size(); ++column_idx) {
    const ColumnInput& column = before[column_idx];
    const auto match = after_by_name.find(std::string_view(column.name));
    if (match == after_by_name.end()) {
      report.issues.push_back(DriftIssue{column.name, Severity::Error, DriftCode::ColumnRemoved});
      continue;
    }
    const AfterColumn& counterpart = match->second;
    if (column.logical_type != counterpart.logical_type) {
      report.issues.push_back(DriftIssue{column.name, Severity::Error, DriftCode::LogicalTypeChanged});
    }
    const bool had_null = before_nulls[column_idx];
    if (had_null != counterpart.has_null) {
      // Gaining nulls breaks consumers; losing them does not.
      report.issues.push_back(
          DriftIssue{column.name, had_null ? Severity::Warning : Severity::Error, DriftCode::NullabilityChanged});
    }
  }
  for (const ColumnInput& column : after) {
    if (before_names.contains(std::string_view(column.name))) continue;
    report.issues.push_back(DriftIssue{column.name, Severity::Warning, DriftCode::ColumnAdded});
  }
  return report;
}

}  // namespace nolt
