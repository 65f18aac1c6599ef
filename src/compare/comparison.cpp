#include "compare/comparison.h"

#include "common/name_join.h"

namespace nolt {

namespace {

// Bounds are equal only when both compare equal as doubles; a NaN bound is
// never equal to anything, so it always counts as a change.
bool same_range(const std::optional<ObservedRange>& before, const std::optional<ObservedRange>& after) noexcept {
  if (before.has_value() != after.has_value()) return false;
  if (!before) return true;
  return before->min == after->min && before->max == after->max;
}

// Position by position; the variant compares its alternative first, so a
// boolean never equals a text.
bool same_values(const std::optional<std::vector<ObservedValue>>& before,
                 const std::optional<std::vector<ObservedValue>>& after) noexcept {
  if (before.has_value() != after.has_value()) return false;
  if (!before) return true;
  return *before == *after;
}

// The checks run in the order of ColumnChangeKind, so the list comes out in
// code order with every kind at most once.
std::vector<ColumnChangeKind> detect_changes(const ObservedColumnSchema& before, const ObservedColumnSchema& after) {
  std::vector<ColumnChangeKind> changes;
  if (before.logical_type != after.logical_type) changes.push_back(ColumnChangeKind::LogicalTypeChanged);
  if (before.observed_nullable != after.observed_nullable) changes.push_back(ColumnChangeKind::NullabilityChanged);
  if (before.observed_unique_count != after.observed_unique_count) {
    changes.push_back(ColumnChangeKind::UniqueCountChanged);
  }
  if (!same_range(before.observed_range, after.observed_range)) changes.push_back(ColumnChangeKind::RangeChanged);
  if (!same_values(before.observed_values, after.observed_values)) {
    changes.push_back(ColumnChangeKind::ObservedValuesChanged);
  }
  return changes;
}

}  // namespace

DatasetComparison compare_observed_schemas(const ObservedDatasetSchema& before, const ObservedDatasetSchema& after) {
  DatasetComparison comparison;
  comparison.before_row_count = before.row_count;
  comparison.after_row_count = after.row_count;
  comparison.columns.reserve(before.columns.size() + after.columns.size());
  // Every after column whose name the before side lacks is added, repeats
  // included; matched names yield nothing there.
  join_by_name(
      before.columns, after.columns,
      [&](const ObservedColumnSchema& column, const ObservedColumnSchema* match) {
        ColumnComparison& entry = comparison.columns.emplace_back();
        entry.name = column.name;
        entry.before = column;
        if (match == nullptr) {
          entry.status = ComparisonStatus::Removed;
          return;
        }
        entry.after = *match;
        entry.changes = detect_changes(column, *match);
        entry.status = entry.changes.empty() ? ComparisonStatus::Unchanged : ComparisonStatus::Changed;
      },
      [&](const ObservedColumnSchema& column) {
        ColumnComparison& entry = comparison.columns.emplace_back();
        entry.name = column.name;
        entry.after = column;
        entry.status = ComparisonStatus::Added;
      });
  return comparison;
}

}  // namespace nolt
