// Numeric statistics of integer and float columns, in exact double arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "data/values.h"
#include "error/core_error.h"
#include "memory/page_advice.h"

namespace nolt {

struct NumericStats {
  double min = 0.0;
  double max = 0.0;
  double mean = 0.0;
  double median = 0.0;
  double p25 = 0.0;
  double p50 = 0.0;
  double p75 = 0.0;
};

// The per-cell rule of numeric columns: no value (nullopt), a double, or the
// value-kind error "Column '{name}' expected {type} values but received {kind}".
Result<std::optional<double>> numeric_value(std::string_view column_name, LogicalType type, const Cell& cell);

// Statistics of one column; absent for non-numeric columns and for columns
// without a usable value. Fails with the value-kind error of the first
// offending cell.
Result<std::optional<NumericStats>> compute_numeric_stats(std::string_view column_name, LogicalType type,
                                                          const ColumnValues& values);

// The statistics of a column together with its distinct count when the sorted
// values identify its distinct values: every non-null cell of one kind,
// integers within +-2**53 (where the conversion to double is exact). The
// profile then needs no hash set for the column.
struct NumericSummary {
  std::optional<NumericStats> stats;
  std::optional<std::uint64_t> unique_count;
  std::uint64_t null_count = 0;  // Null cells, counted on the same walk (numeric columns only)
};

// The buffers of the statistics sort, kept from one column to the next so a
// profile allocates (and the kernel first-touches) them once.
class StatisticsWorkspace {
 public:
  // Room for `count` keys and as much scratch; earlier contents are dropped.
  void reserve(std::size_t count) {
    keys_.resize_discard(count);
    scratch_.resize_discard(count);
  }
  std::uint64_t* keys() noexcept { return keys_.data(); }
  std::uint64_t* scratch() noexcept { return scratch_.data(); }

 private:
  ScratchArray<std::uint64_t> keys_;
  ScratchArray<std::uint64_t> scratch_;
};

// compute_numeric_stats plus the distinct count where it comes for free;
// fails exactly as compute_numeric_stats does.
Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values);
Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values, StatisticsWorkspace& workspace);

}  // namespace nolt
