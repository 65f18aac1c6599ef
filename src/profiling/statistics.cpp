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

// Linear interpolation between the neighbours of position q * (n - 1).
double percentile(std::span<const std::uint64_t> sorted_keys, double fraction) noexcept {
  const double position = fraction * static_cast<double>(sorted_keys.size() - 1);
  const double lo = std::floor(position);
  const double hi = std::ceil(position);
  const double f = position - lo;
  const double lower = from_order_key(sorted_keys[static_cast<std::size_t>(lo)]);
  const double upper = from_order_key(sorted_keys[static_cast<std::size_t>(hi)]);
  return (1.0 - f) * lower + f * upper;
}

// The statistics of values already sorted as total-order keys (at least one).
NumericStats stats_of_sorted(std::span<const std::uint64_t> sorted_keys) noexcept {
  NumericStats stats;
  stats.min = from_order_key(sorted_keys.front());
  stats.max = from_order_key(sorted_keys.back());
  // Dividing by the largest magnitude keeps every addend within [-1, 1], so
  // the sum cannot overflow; s == 0 means every value is a zero.
  const double scale = std::max(std::fabs(stats.min), std::fabs(stats.max));
  if (scale == 0.0) {
    stats.mean = 0.0;
  } else {
    double accumulator = -0.0;
    for (const std::uint64_t key : sorted_keys) accumulator = accumulator + from_order_key(key) / scale;
    stats.mean = scale * (accumulator / static_cast<double>(sorted_keys.size()));
  }
  stats.median = percentile(sorted_keys, 0.5);
  stats.p25 = percentile(sorted_keys, 0.25);
  stats.p50 = stats.median;
  stats.p75 = percentile(sorted_keys, 0.75);
  return stats;
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

// What the collecting pass learns about the distinct values besides the keys.
struct DistinctEvidence {
  bool seen_integer = false;
  bool seen_float = false;
  bool integer_beyond_exact = false;  // |value| > 2**53: two integers may share a double
  bool seen_nan = false;
  bool seen_positive_infinity = false;
  bool seen_negative_infinity = false;
  std::uint64_t null_count = 0;

  bool exact() const noexcept { return !(seen_integer && seen_float) && !integer_beyond_exact; }
};

constexpr std::int64_t kExactIntegerLimit = std::int64_t{1} << 53;

// Collects the usable values of a numeric column as total-order keys into
// `keys` (room for every cell) and returns how many there are; the first
// refused cell ends the walk with the value-kind error.
template <bool kGatherEvidence>
Result<std::size_t> collect_keys(std::string_view column_name, LogicalType type, const ColumnValues& values,
                                 std::uint64_t* keys, DistinctEvidence& evidence) {
  std::size_t key_count = 0;
  for (const Cell& cell : values) {
    double value = 0.0;
    switch (classify(type, cell, value)) {
      case CellUse::Skip:
        if constexpr (kGatherEvidence) {
          if (cell.kind() == ValueKind::Float) {
            evidence.seen_float = true;
            evidence.seen_nan |= std::isnan(value);
            evidence.seen_positive_infinity |= value == std::numeric_limits<double>::infinity();
            evidence.seen_negative_infinity |= value == -std::numeric_limits<double>::infinity();
          } else {
            ++evidence.null_count;
          }
        }
        break;
      case CellUse::Value:
        keys[key_count++] = order_key(value);
        if constexpr (kGatherEvidence) {
          if (cell.kind() == ValueKind::Integer) {
            evidence.seen_integer = true;
            const std::int64_t integer = cell.as_integer();
            evidence.integer_beyond_exact |= integer > kExactIntegerLimit || integer < -kExactIntegerLimit;
          } else {
            evidence.seen_float = true;
          }
        }
        break;
      case CellUse::Refuse: return value_kind_error(column_name, type, cell.kind());
    }
  }
  return key_count;
}

void sort_with_workspace(std::span<std::uint64_t> keys, StatisticsWorkspace& workspace) {
  if (keys.size() < kRadixSortMinSize) {
    std::sort(keys.begin(), keys.end());
    return;
  }
  radix_sort_keys(keys, std::span<std::uint64_t>(workspace.scratch(), keys.size()));
}

// Distinct values of sorted keys: runs of equal keys, with -0.0 and +0.0
// (adjacent in the total order) as one value.
std::uint64_t count_runs(std::span<const std::uint64_t> sorted_keys) noexcept {
  constexpr std::uint64_t kNegativeZero = order_key(-0.0);
  constexpr std::uint64_t kPositiveZero = order_key(0.0);
  std::uint64_t runs = sorted_keys.empty() ? 0 : 1;
  for (std::size_t key_idx = 1; key_idx < sorted_keys.size(); ++key_idx) {
    const std::uint64_t previous = sorted_keys[key_idx - 1];
    const std::uint64_t current = sorted_keys[key_idx];
    runs += (current != previous && !(previous == kNegativeZero && current == kPositiveZero)) ? 1 : 0;
  }
  return runs;
}

}  // namespace

Result<std::optional<NumericStats>> compute_numeric_stats(std::string_view column_name, LogicalType type,
                                                          const ColumnValues& values) {
  if (!is_numeric(type)) return std::optional<NumericStats>();
  // The buffers live for this column only.
  StatisticsWorkspace workspace;
  workspace.reserve(values.size());
  DistinctEvidence unused;
  NOLT_ASSIGN_OR_RETURN(const std::size_t key_count,
                        collect_keys<false>(column_name, type, values, workspace.keys(), unused));
  if (key_count == 0) return std::optional<NumericStats>();
  const std::span<std::uint64_t> keys(workspace.keys(), key_count);
  sort_with_workspace(keys, workspace);
  return std::optional<NumericStats>(stats_of_sorted(keys));
}

Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values) {
  StatisticsWorkspace workspace;
  return summarize_numeric_column(column_name, type, values, workspace);
}

Result<NumericSummary> summarize_numeric_column(std::string_view column_name, LogicalType type,
                                                const ColumnValues& values, StatisticsWorkspace& workspace) {
  NumericSummary summary;
  if (!is_numeric(type)) return summary;
  workspace.reserve(values.size());
  DistinctEvidence evidence;
  NOLT_ASSIGN_OR_RETURN(const std::size_t key_count,
                        collect_keys<true>(column_name, type, values, workspace.keys(), evidence));
  const std::span<std::uint64_t> keys(workspace.keys(), key_count);
  if (!keys.empty()) {
    sort_with_workspace(keys, workspace);
    summary.stats = stats_of_sorted(keys);
  }
  if (evidence.exact()) {
    summary.unique_count = count_runs(keys) + (evidence.seen_nan ? 1 : 0) +
                           (evidence.seen_positive_infinity ? 1 : 0) + (evidence.seen_negative_infinity ? 1 : 0);
  }
  summary.null_count = evidence.null_count;
  return summary;
}

}  // namespace nolt
