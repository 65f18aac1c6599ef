#include "compare/comparison.h"

#include <string_view>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "common/hashing.h"

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
  // Keys borrow the names held by the two schemas, which outlive the tables.
  absl::flat_hash_map<std::string_view, const ObservedColumnSchema*, TextHash, TextEq> after_by_name;
  after_by_name.reserve(after.columns.size());
  for (const ObservedColumnSchema& column : after.columns) {
    // A repeated name: the last after column with it is the one matched.
    after_by_name.insert_or_assign(std::string_view(column.name), &column);
  }
  absl::flat_hash_set<std::string_view, TextHash, TextEq> before_names;
  before_names.reserve(before.columns.size());
  for (const ObservedColumnSchema& column : before.columns) before_names.insert(std::string_view(column.name));

  DatasetComparison comparison;
  comparison.before_row_count = before.row_count;
  comparison.after_row_count = after.row_count;
  comparison.columns.reserve(before.columns.size() + after.columns.size());

  for (const ObservedColumnSchema& column : before.columns) {
    ColumnComparison entry;
    entry.name = column.name;
    entry.before = column;
    const auto match = after_by_name.find(std::string_view(column.name));
    if (match == after_by_name.end()) {
      entry.status = ComparisonStatus::Removed;
    } else {
      entry.after = *match->second;
      entry.changes = detect_changes(column, *match->second);
      entry.status = entry.changes.empty() ? ComparisonStatus::Unchanged : ComparisonStatus::Changed;
    }
    comparison.columns.push_back(std::move(entry));
  }
  // Every after column whose name the before side lacks is added, repeats
  // included; matched names yield nothing here.
  for (const ObservedColumnSchema& column : after.columns) {
    if (before_names.contains(std::string_view(column.name))) continue;
    ColumnComparison entry;
    entry.name = column.name;
    entry.after = column;
    entry.status = ComparisonStatus::Added;
    comparison.columns.push_back(std::move(entry));
  }
  return comparison;
}

}  // namespace nolt
