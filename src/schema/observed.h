// The observed schema: what one dataset shows, column by column.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/profile.h"

namespace nolt {

// A boolean or an owned text. Two values are equal only within one alternative.
using ObservedValue = std::variant<bool, std::string>;

struct ObservedRange {
  double min = 0.0;
  double max = 0.0;
};

struct ObservedColumnSchema {
  std::string name;
  LogicalType logical_type = LogicalType::Unknown;
  bool observed_nullable = false;
  std::uint64_t observed_unique_count = 0;
  std::optional<ObservedRange> observed_range;
  std::optional<std::vector<ObservedValue>> observed_values;
};

struct ObservedDatasetSchema {
  std::uint64_t row_count = 0;
  std::vector<ObservedColumnSchema> columns;
};

// Distinct texts of string and categorical columns are listed only up to this count.
inline constexpr std::uint64_t kObservedValuesLimit = 50;

std::optional<std::vector<ObservedValue>> collect_observed_values(LogicalType type, const ColumnValues& values,
                                                                   std::uint64_t unique_count);

// The observed schema of columns already profiled; the columns' observed
// values are collected over the context's threads.
Result<ObservedDatasetSchema> derive_observed_schema(const DatasetProfile& profile,
                                                     const std::vector<ColumnInput>& columns,
                                                     const ExecutionContext& context = kSerialContext);

// check_equal_lengths, profile_columns, derive_observed_schema.
Result<ObservedDatasetSchema> observe_columns(const std::vector<ColumnInput>& columns,
                                              const ExecutionContext& context = kSerialContext);

}  // namespace nolt
