#include "profiling/statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

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

// The bits of a double as an unsigned key whose order is the IEEE total order.
inline std::uint64_t order_key(double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

inline double from_order_key(std::uint64_t key) noexcept {
  const std::uint64_t bits = (key >> 63) != 0 ? key & ~(std::uint64_t{1} << 63) : ~key;
  return std::bit_cast<double>(bits);
}

void sort_total_order(std::vector<double>& values) {
  std::vector<std::uint64_t> keys(values.size());
  for (std::size_t idx = 0; idx < values.size(); ++idx) keys[idx] = order_key(values[idx]);
  std::sort(keys.begin(), keys.end());
  for (std::size_t idx = 0; idx < values.size(); ++idx) values[idx] = from_order_key(keys[idx]);
}

double percentile(const std::vector<double>& sorted, double fraction) noexcept {
  const double position = fraction * static_cast<double>(sorted.size() - 1);
  const double lo = std::floor(position);
  const double hi = std::ceil(position);
  const double f = position - lo;
  return (1.0 - f) * sorted[static_cast<std::size_t>(lo)] + f * sorted[static_cast<std::size_t>(hi)];
}

}  // namespace

Result<std::optional<double>> numeric_value(std::string_view column_name, LogicalType type, const Cell& cell) {
  if (!is_numeric(type)) return std::optional<double>();
  switch (cell.kind()) {
    case ValueKind::Null: return std::optional<double>();
    case ValueKind::Integer: return std::optional<double>(static_cast<double>(cell.as_integer()));
    case ValueKind::Float: {
      if (type == LogicalType::Integer) return value_kind_error(column_name, type, ValueKind::Float);
      const double value = cell.as_float();
      if (!std::isfinite(value)) return std::optional<double>();
      return std::optional<double>(value);
    }
    case ValueKind::Boolean:
    case ValueKind::String: return value_kind_error(column_name, type, cell.kind());
  }
  return std::optional<double>();
}

Result<std::optional<NumericStats>> compute_numeric_stats(std::string_view column_name, LogicalType type,
                                                          const ColumnValues& values) {
  if (!is_numeric(type)) return std::optional<NumericStats>();
  std::vector<double> sorted;
  sorted.reserve(values.size());
  for (const Cell& cell : values) {
    NOLT_ASSIGN_OR_RETURN(std::optional<double> value, numeric_value(column_name, type, cell));
    if (value) sorted.push_back(*value);
  }
  if (sorted.empty()) return std::optional<NumericStats>();
  sort_total_order(sorted);
  NumericStats stats;
  stats.min = sorted.front();
  stats.max = sorted.back();
  const double scale = std::max(std::fabs(stats.min), std::fabs(stats.max));
  if (scale == 0.0) {
    stats.mean = 0.0;
  } else {
    double accumulator = -0.0;
    for (const double value : sorted) accumulator = accumulator + value / scale;
    stats.mean = scale * (accumulator / static_cast<double>(sorted.size()));
  }
  stats.median = percentile(sorted, 0.5);
  stats.p25 = percentile(sorted, 0.25);
  stats.p50 = stats.median;
  stats.p75 = percentile(sorted, 0.75);
  return std::optional<NumericStats>(stats);
}

}  // namespace nolt
