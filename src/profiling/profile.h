// Per-column counts, distinct counts and statistics of one dataset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/statistics.h"

namespace nolt {

struct ColumnProfile {
  std::string name;
  LogicalType logical_type = LogicalType::Unknown;
  std::uint64_t count = 0;
  std::uint64_t null_count = 0;
  std::uint64_t unique_count = 0;
  std::optional<NumericStats> numeric_stats;
};

struct DatasetProfile {
  std::uint64_t row_count = 0;
  std::vector<ColumnProfile> columns;
};

// Number of distinct non-null values; Integer, Float, Boolean and String
// values never equal each other. NaNs count as one value, -0.0 as +0.0.
std::uint64_t count_unique(const ColumnValues& values);

// The caller applies check_equal_lengths first and passes its row count. With
// a parallel context the columns are spread over the threads when there are
// at least as many columns as threads, and each column's own work (its sort,
// its distinct count) is split otherwise. The result is the same for every
// context; the error is the first column's in column order (or the interrupt's).
Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                                       const ExecutionContext& context = kSerialContext);

// check_equal_lengths followed by profile_columns.
Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns,
                                               const ExecutionContext& context = kSerialContext);

}  // namespace nolt
