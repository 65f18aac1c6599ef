// Comparison of the observed schemas of two versions of a dataset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/observed.h"

namespace nolt {

enum class ComparisonStatus : std::uint8_t { Added, Removed, Changed, Unchanged };

constexpr std::string_view comparison_status_name(ComparisonStatus status) {
  switch (status) {
    case ComparisonStatus::Added: return "added";
    case ComparisonStatus::Removed: return "removed";
    case ComparisonStatus::Changed: return "changed";
    case ComparisonStatus::Unchanged: return "unchanged";
  }
  return "";
}

// Codes are also the order in which changes are detected and listed.
enum class ColumnChangeKind : std::uint8_t {
  LogicalTypeChanged,
  NullabilityChanged,
  UniqueCountChanged,
  RangeChanged,
  ObservedValuesChanged,
};

constexpr std::string_view column_change_name(ColumnChangeKind kind) {
  switch (kind) {
    case ColumnChangeKind::LogicalTypeChanged: return "logical_type_changed";
    case ColumnChangeKind::NullabilityChanged: return "nullability_changed";
    case ColumnChangeKind::UniqueCountChanged: return "unique_count_changed";
    case ColumnChangeKind::RangeChanged: return "range_changed";
    case ColumnChangeKind::ObservedValuesChanged: return "observed_values_changed";
  }
  return "";
}

struct ColumnComparison {
  std::string name;
  std::optional<ObservedColumnSchema> before;
  std::optional<ObservedColumnSchema> after;
  std::vector<ColumnChangeKind> changes;
  ComparisonStatus status = ComparisonStatus::Unchanged;
};

struct DatasetComparison {
  std::vector<ColumnComparison> columns;
  std::uint64_t before_row_count = 0;
  std::uint64_t after_row_count = 0;
};

DatasetComparison compare_observed_schemas(const ObservedDatasetSchema& before, const ObservedDatasetSchema& after);

}  // namespace nolt
