#include "profiling/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "profiling/total_order.h"

namespace nolt {

namespace {

std::string_view kind_name(ValueKind kind) noexcept {
  switch (kind) {
    case ValueKind::Null: return "Null";
    case ValueKind::Integer: return "Integer";
    case ValueKind::Float: return "Float";
    case ValueKind::Boolean: return "Boolean";
    case ValueKind::String: return "String";
  }
  return "Unknown";
}

CoreError value_kind_error(std::string_view column_name, LogicalType type, ValueKind kind) {
  return CoreError::type_error(str_cat("Column '", column_name, "' expected ", logical_type_name(type),
                                       " values but received ", kind_name(kind)));
}

enum class CellUse : std::uint8_t { Skip, Value, Refuse };

// The per-cell rule without building a result: whether the cell is skipped,
// contributes `value`, or is refused with the value-kind error.
inline CellUse classify(LogicalType type, const Cell& cell, double& value) noexcept {
  switch (cell.kind()) {
    case ValueKind::Null: return CellUse::Skip;
    case ValueKind::Integer:
      // The conversion rounds to nearest, so 2**53 + 1 becomes 2**53.
      value = static_cast<double>(cell.as_integer());
      return CellUse::Value;
    case ValueKind::Float:
      if (type == LogicalType::Integer) return CellUse::Refuse;
      value = cell.as_float();
      return std::isfinite(value) ? CellUse::Value : CellUse::Skip;
    case ValueKind::Boolean:
    case ValueKind::String: return CellUse::Refuse;
  }
  return CellUse::Refuse;
}

}  // namespace

Result<std::optional<double>> numeric_value(std::string_view column_name, LogicalType type, const Cell& cell) {
  if (!is_numeric(type)) return std::optional<double>();
  double value = 0.0;
  switch (classify(type, cell, value)) {
    case CellUse::Skip: return std::optional<double>();
    case CellUse::Value: return std::optional<double>(value);
    case CellUse::Refuse: break;
  }
  return value_kind_error(column_name, type, cell.kind());
}

namespace {

constexpr std::uint64_t kNegativeZeroKey = order_key(-0.0);
constexpr std::uint64_t kPositiveZeroKey = order_key(0.0);

// What distinguishes the two kinds of sorted keys: how a key becomes its
// double and its total-order key, and how many pairs of distinct keys are one
// value. Integer keys: none. Float keys: -0.0 and +0.0, whose keys are
// neighbours in the order, so when both occur they are one run less.
struct IntegerKeys {
  static double value_of(std::uint64_t key) noexcept { return static_cast<double>(integer_from_order_key(key)); }
  static std::uint64_t total_order_key(std::uint64_t key) noexcept { return order_key(value_of(key)); }
  static std::uint64_t joined_runs(std::span<const std::uint64_t>) noexcept { return 0; }
};

struct FloatKeys {
  static double value_of(std::uint64_t key) noexcept { return from_order_key(key); }
  static std::uint64_t total_order_key(std::uint64_t key) noexcept { return key; }
  static std::uint64_t joined_runs(std::span<const std::uint64_t> keys) noexcept {
    const bool both_zeros = std::binary_search(keys.begin(), keys.end(), kNegativeZeroKey) &&
                            std::binary_search(keys.begin(), keys.end(), kPositiveZeroKey);
    return both_zeros ? 1 : 0;
  }
};

// Sorted keys handed out in order as doubles, counting the runs of equal
// keys (the distinct values) on the way.
template <class Keys>
class KeyCursor {
 public:
  explicit KeyCursor(std::span<const std::uint64_t> keys) noexcept
      : keys_(keys), previous_(keys.empty() ? 0 : keys.front()), runs_(keys.empty() ? 0 : 1) {}

  bool done() const noexcept { return next_ == keys_.size(); }
  // The total-order key of the next value, to merge with the other kind.
  std::uint64_t next_order_key() const noexcept { return Keys::total_order_key(keys_[next_]); }
  // Distinct values among the keys taken so far (all of them once done).
  std::uint64_t distinct() const noexcept { return runs_ - Keys::joined_runs(keys_.first(next_)); }

  double take() noexcept {
    const std::uint64_t key = keys_[next_++];
    runs_ += key != previous_ ? 1 : 0;
    previous_ = key;
    return Keys::value_of(key);
  }

 private:
  std::span<const std::uint64_t> keys_;
  std::size_t next_ = 0;
  std::uint64_t previous_;  // the first key starts the first run
  std::uint64_t runs_;
};

using IntegerCursor = KeyCursor<IntegerKeys>;
using FloatCursor = KeyCursor<FloatKeys>;

// Both sorted sequences merged in ascending total order into `out`.
void merge_values(IntegerCursor& integers, FloatCursor& floats, double* out) noexcept {
  while (!integers.done() && !floats.done()) {
    *out++ = integers.next_order_key() <= floats.next_order_key() ? integers.take() : floats.take();
  }
  while (!integers.done()) *out++ = integers.take();
  while (!floats.done()) *out++ = floats.take();
}

// Values per block of the scaled sum: the divisions of one block run while
// the additions of the block before it do.
constexpr std::size_t kValueBlock = 256;

using DoublePair = double __attribute__((vector_size(16)));

// The quotients value(idx) / scale of one block, computed two at a time (each
// division rounded on its own, as in scalar code); calls value in order.
template <class Value>
void divide_block(std::size_t begin, std::size_t size, double scale, Value& value, double* out) noexcept {
  const DoublePair scales = {scale, scale};
  std::size_t value_idx = 0;
  for (; value_idx + 1 < size; value_idx += 2) {
    const double first = value(begin + value_idx);
    const DoublePair pair = DoublePair{first, value(begin + value_idx + 1)} / scales;
    out[value_idx] = pair[0];
    out[value_idx + 1] = pair[1];
  }
  if (value_idx < size) out[value_idx] = value(begin + value_idx) / scale;
}

// The same while adding the `kValueBlock` quotients of the block before, in
// order, to the accumulator: the additions form the one chain of dependent
// operations, and the divisions of the next block fill the time it leaves.
template <class Value>
double divide_block_while_adding(std::size_t begin, double scale, Value& value, double* out, const double* previous,
                                 double accumulator) noexcept {
  const DoublePair scales = {scale, scale};
  for (std::size_t value_idx = 0; value_idx < kValueBlock; value_idx += 2) {
    const double first = value(begin + value_idx);
    const DoublePair pair = DoublePair{first, value(begin + value_idx + 1)} / scales;
    out[value_idx] = pair[0];
    out[value_idx + 1] = pair[1];
    accumulator = accumulator + previous[value_idx];
    accumulator = accumulator + previous[value_idx + 1];
  }
  return accumulator;
}

// The scaled sum of the mean: starting at -0.0, accumulator + value / scale
// for each of the `count` values in order, every division and addition
// rounded as written. value(idx) is called once per index, in order.
template <class Value>
double scaled_sum(std::size_t count, double scale, Value&& value) noexcept {
  double accumulator = -0.0;
  double quotients[2][kValueBlock];
  const double* previous = nullptr;  // quotients not yet added
  std::size_t previous_size = 0;
  for (std::size_t block_begin = 0, block_idx = 0; block_begin < count; block_begin += kValueBlock, ++block_idx) {
    const std::size_t size = std::min(kValueBlock, count - block_begin);
    double* current = quotients[block_idx % 2];
    if (previous_size == kValueBlock && size == kValueBlock) {
      accumulator = divide_block_while_adding(block_begin, scale, value, current, previous, accumulator);
    } else {
      for (std::size_t value_idx = 0; value_idx < previous_size; ++value_idx) {
        accumulator = accumulator + previous[value_idx];
      }
      divide_block(block_begin, size, scale, value, current);
    }
    previous = current;
    previous_size = size;
  }
  for (std::size_t value_idx = 0; value_idx < previous_size; ++value_idx) accumulator = accumulator + previous[value_idx];
  return accumulator;
}

// Linear interpolation between the neighbours of position q * (n - 1) of the
// sorted values, which at(idx) gives.
template <class At>
double percentile(std::size_t count, double fraction, At&& at) noexcept {
  const double position = fraction * static_cast<double>(count - 1);
  const double lo = std::floor(position);
  const double hi = std::ceil(position);
  const double f = position - lo;
  return (1.0 - f) * at(static_cast<std::size_t>(lo)) + f * at(static_cast<std::size_t>(hi));
}

// The statistics of `count` (at least one) sorted values: at(idx) gives any
// of them, next(idx) each one once in ascending order (for the mean).
template <class At, class Next>
NumericStats stats_of_sorted(std::size_t count, At&& at, Next&& next) noexcept {
  NumericStats stats;
  stats.min = at(0);
  stats.max = at(count - 1);
  // Dividing by the largest magnitude keeps every addend within [-1, 1], so
  // the sum cannot overflow; s == 0 means every value is a zero.
  const double scale = std::max(std::fabs(stats.min), std::fabs(stats.max));
  if (scale == 0.0) {
    for (std::size_t value_idx = 0; value_idx < count; ++value_idx) (void)next(value_idx);
    stats.mean = 0.0;
  } else {
    stats.mean = scale * (scaled_sum(count, scale, next) / static_cast<double>(count));
  }
  stats.median = percentile(count, 0.5, at);
  stats.p25 = percentile(count, 0.25, at);
  stats.p50 = stats.median;
  stats.p75 = percentile(count, 0.75, at);
  return stats;
}

// What the collecting walk finds besides the keys of the usable values.
struct CollectedKeys {
  std::size_t integer_count = 0;  // integer keys, at the front of the key buffer
  std::size_t float_count = 0;    // float keys, at the back of the key buffer
  NumericKeyCounts counts;
};

// Walks the cells of a numeric column once: integer cells become integer
// keys from the front of `keys` (room for every cell), finite floats become
// total-order keys from the back, NaN and infinities are only noted. The
// first refused cell ends the walk with the value-kind error.
template <LogicalType kType>
Status collect_keys(std::string_view column_name, const ColumnValues& values, std::uint64_t* keys,
                    CollectedKeys& collected, const ExecutionContext& context) {
  const std::size_t row_count = values.size();
  const Cell* cells = values.cells().data();
  std::uint64_t* front = keys;
  std::uint64_t* back = keys + row_count;
  for (std::size_t chunk_begin = 0; chunk_begin < row_count; chunk_begin += kInterruptStride) {
    if (chunk_begin != 0) NOLT_TRY(context.check());
    const std::size_t chunk_end = std::min(row_count, chunk_begin + kInterruptStride);
    for (std::size_t row_idx = chunk_begin; row_idx < chunk_end; ++row_idx) {
      const Cell& cell = cells[row_idx];
      switch (cell.kind()) {
        case ValueKind::Null: ++collected.counts.null_count; break;
        case ValueKind::Integer: *front++ = integer_order_key(cell.as_integer()); break;
        case ValueKind::Float: {
          if constexpr (kType == LogicalType::Integer) return value_kind_error(column_name, kType, cell.kind());
          back -= float_key(cell.as_float(), back - 1, collected.counts) ? 1 : 0;
          break;
        }
        case ValueKind::Boolean:
        case ValueKind::String: return value_kind_error(column_name, kType, cell.kind());
      }
    }
  }
  collected.integer_count = static_cast<std::size_t>(front - keys);
  collected.float_count = static_cast<std::size_t>(keys + row_count - back);
  return Status();
}

}  // namespace

Result<std::optional<NumericStats>> compute_numeric_stats(std::string_view column_name, LogicalType type,
                                                          const ColumnValues& values) {
  NOLT_ASSIGN_OR_RETURN(NumericSummary summary, summarize_numeric_column(column_name, type, values));
  return summary.stats;
}

Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values) {
  ColumnWorkspace workspace;
  return summarize_numeric_column(column_name, type, values, workspace, kSerialContext);
}

Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values, ColumnWorkspace& workspace,
                                                const ExecutionContext& context) {
  NumericSummary summary;
  if (!is_numeric(type)) return summary;
  const std::size_t row_count = values.size();
  workspace.reserve(row_count);
  // Keys in the first buffer, the sorts' scratch in the second.
  const std::span<std::uint64_t> keys(workspace.first(), row_count);
  const std::span<std::uint64_t> scratch(workspace.second(), row_count);
  CollectedKeys collected;
  NOLT_TRY(type == LogicalType::Integer
               ? collect_keys<LogicalType::Integer>(column_name, values, keys.data(), collected, context)
               : collect_keys<LogicalType::Float>(column_name, values, keys.data(), collected, context));
  const std::size_t float_begin = row_count - collected.float_count;
  return summarize_numeric_keys(keys.first(collected.integer_count), scratch.first(collected.integer_count),
                                keys.subspan(float_begin), scratch.subspan(float_begin), collected.counts, context);
}

Result<NumericSummary> summarize_numeric_keys(std::span<std::uint64_t> unsorted_integer_keys,
                                              std::span<std::uint64_t> integer_scratch,
                                              std::span<std::uint64_t> unsorted_float_keys,
                                              std::span<std::uint64_t> float_scratch, const NumericKeyCounts& collected,
                                              const ExecutionContext& context) {
  NumericSummary summary;
  summary.null_count = collected.null_count;
  // Integers and floats are sorted apart, each by its own exact order.
  NOLT_ASSIGN_OR_RETURN(const std::span<std::uint64_t> integer_keys,
                        sort_keys(unsorted_integer_keys, integer_scratch, context));
  NOLT_ASSIGN_OR_RETURN(const std::span<std::uint64_t> float_keys,
                        sort_keys(unsorted_float_keys, float_scratch, context));

  IntegerCursor integers(integer_keys);
  FloatCursor floats(float_keys);
  if (float_keys.empty() && !integer_keys.empty()) {
    summary.stats = stats_of_sorted(
        integer_keys.size(), [&](std::size_t idx) { return IntegerKeys::value_of(integer_keys[idx]); },
        [&](std::size_t) { return integers.take(); });
  } else if (integer_keys.empty() && !float_keys.empty()) {
    summary.stats = stats_of_sorted(
        float_keys.size(), [&](std::size_t idx) { return from_order_key(float_keys[idx]); },
        [&](std::size_t) { return floats.take(); });
  } else if (!integer_keys.empty()) {
    // Integers among floats: the two sorted sequences merged once.
    std::vector<double> merged(integer_keys.size() + float_keys.size());
    merge_values(integers, floats, merged.data());
    summary.stats = stats_of_sorted(
        merged.size(), [&](std::size_t idx) { return merged[idx]; }, [&](std::size_t idx) { return merged[idx]; });
  }
  summary.unique_count = integers.distinct() + floats.distinct() + (collected.nan_count != 0 ? 1 : 0) +
                         (collected.positive_infinity_count != 0 ? 1 : 0) + (collected.negative_infinity_count != 0 ? 1 : 0);
  // Zeros and negatives by two searches of each sorted sequence.
  const auto count_below = [](std::span<const std::uint64_t> sorted, std::uint64_t key) {
    return static_cast<std::uint64_t>(std::lower_bound(sorted.begin(), sorted.end(), key) - sorted.begin());
  };
  const auto count_to = [](std::span<const std::uint64_t> sorted, std::uint64_t key) {
    return static_cast<std::uint64_t>(std::upper_bound(sorted.begin(), sorted.end(), key) - sorted.begin());
  };
  const std::uint64_t lowest_zero = std::min(order_key(-0.0), order_key(0.0));
  const std::uint64_t highest_zero = std::max(order_key(-0.0), order_key(0.0));
  NumberCounts& counts = summary.counts;
  counts.nan_count = collected.nan_count;
  counts.positive_infinity_count = collected.positive_infinity_count;
  counts.negative_infinity_count = collected.negative_infinity_count;
  counts.negative_count = count_below(integer_keys, integer_order_key(0)) + count_below(float_keys, lowest_zero);
  counts.zero_count = count_to(integer_keys, integer_order_key(0)) - count_below(integer_keys, integer_order_key(0)) +
                      count_to(float_keys, highest_zero) - count_below(float_keys, lowest_zero);
  return summary;
}

std::uint64_t count_distinct_numbers(std::span<std::uint64_t> integer_keys, std::span<std::uint64_t> float_keys) {
  sort_keys(integer_keys);
  sort_keys(float_keys);
  IntegerCursor integers(integer_keys);
  FloatCursor floats(float_keys);
  while (!integers.done()) (void)integers.take();
  while (!floats.done()) (void)floats.take();
  return integers.distinct() + floats.distinct();
}

}  // namespace nolt
