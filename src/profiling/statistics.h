// Numeric statistics of integer and float columns, in exact double arithmetic.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "data/values.h"
#include "error/core_error.h"
#include "memory/page_advice.h"
#include "parallel/execution.h"
#include "profiling/total_order.h"

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

// The statistics of a numeric column together with its null count and its
// distinct count, all from one walk over the cells and one sort. Integers and
// floats are sorted apart, integers by their exact 64-bit value and floats by
// the total order, so the runs of equal keys are the distinct values exactly
// (integers beyond 2**53 that share a double stay apart); a NaN of any payload
// counts as one value, -0.0 as +0.0, and Integer 1 and Float 1.0 as two.
// What the statistics leave out of a numeric column. Zeros and negatives are
// finite values: -0.0 is a zero and not a negative (it equals zero), and
// -infinity counts only as negative infinity. NaNs of every payload and sign
// are NaNs. Integers are never non-finite.
struct NumberCounts {
  std::uint64_t nan_count = 0;
  std::uint64_t positive_infinity_count = 0;
  std::uint64_t negative_infinity_count = 0;
  std::uint64_t zero_count = 0;
  std::uint64_t negative_count = 0;
};

struct NumericSummary {
  std::optional<NumericStats> stats;
  std::uint64_t unique_count = 0;
  std::uint64_t null_count = 0;
  NumberCounts counts;  // from the walk and the sorted keys, at no extra pass
};

// Two scratch buffers of words for the column computations (sort keys and
// their scratch; hash-partitioned texts), kept from one column to the next so
// that a profile allocates them, and the kernel faults their pages in, once
// per thread. Pages of the second buffer are only touched by the sorts that
// need scratch.
class ColumnWorkspace {
 public:
  // Room for `count` words in each buffer; earlier contents are dropped.
  void reserve(std::size_t count) {
    first_.resize_discard(count);
    second_.resize_discard(count);
  }
  std::uint64_t* first() noexcept { return first_.data(); }
  std::uint64_t* second() noexcept { return second_.data(); }

 private:
  ScratchArray<std::uint64_t> first_;
  ScratchArray<std::uint64_t> second_;
};

// What a walk over a numeric column notes beside the keys of its usable values.
struct NumericKeyCounts {
  std::uint64_t nan_count = 0;
  std::uint64_t positive_infinity_count = 0;
  std::uint64_t negative_infinity_count = 0;
  std::uint64_t null_count = 0;
};

// One float value as the walk takes it: a finite value's total-order key is
// written at `*out` (and true returned); a NaN or an infinity is only counted.
inline bool float_key(double value, std::uint64_t* out, NumericKeyCounts& counts) noexcept {
  constexpr std::uint64_t kExponentBits = 0x7FF0000000000000ULL;
  constexpr std::uint64_t kFractionBits = 0x000FFFFFFFFFFFFFULL;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  if ((bits & kExponentBits) != kExponentBits) {
    *out = order_key(value);
    return true;
  }
  if ((bits & kFractionBits) != 0) {
    ++counts.nan_count;
  } else if ((bits & kSignBit) != 0) {
    ++counts.negative_infinity_count;
  } else {
    ++counts.positive_infinity_count;
  }
  return false;
}

// The summary of a numeric column from the keys of its usable values, as the
// walk over its cells would find them: integer keys (integer_order_key) and
// keys of finite floats (order_key), each sorted here over the context with
// its scratch (as many words as keys; the sorted keys end in either span),
// and what the walk noted. Fails only with the context's interrupt.
Result<NumericSummary> summarize_numeric_keys(std::span<std::uint64_t> integer_keys,
                                              std::span<std::uint64_t> integer_scratch,
                                              std::span<std::uint64_t> float_keys,
                                              std::span<std::uint64_t> float_scratch, const NumericKeyCounts& counts,
                                              const ExecutionContext& context);

// compute_numeric_stats plus the counts; fails exactly as compute_numeric_stats
// does, or with the context's interrupt. Columns of other types get an empty
// summary.
Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values);
Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values, ColumnWorkspace& workspace,
                                                const ExecutionContext& context);

// The number of distinct values among integer keys and float keys (each as
// made by integer_order_key and order_key of a finite float); sorts both.
std::uint64_t count_distinct_numbers(std::span<std::uint64_t> integer_keys, std::span<std::uint64_t> float_keys);

}  // namespace nolt
