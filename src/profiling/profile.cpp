#include "profiling/profile.h"

#include <bit>
#include <cstdint>
#include <string_view>

#include <absl/container/flat_hash_set.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace nolt {

namespace {

struct DistinctKey {
  ValueKind kind;
  std::uint64_t bits;
  std::string_view text;
  bool operator==(const DistinctKey& other) const noexcept {
    return kind == other.kind && bits == other.bits && text == other.text;
  }
};

struct DistinctHash {
  std::size_t operator()(const DistinctKey& key) const noexcept {
    if (key.kind == ValueKind::String) return XXH3_64bits(key.text.data(), key.text.size());
    const std::uint64_t mixed[2] = {static_cast<std::uint64_t>(key.kind), key.bits};
    return XXH3_64bits(mixed, sizeof mixed);
  }
};

}  // namespace

std::uint64_t count_unique(const ColumnValues& values) {
  absl::flat_hash_set<DistinctKey, DistinctHash> seen;
  for (const Cell& cell : values) {
    switch (cell.kind()) {
      case ValueKind::Null: break;
      case ValueKind::Integer: seen.insert({ValueKind::Integer, cell.float_bits(), {}}); break;
      case ValueKind::Float: {
        double value = cell.as_float();
        std::uint64_t bits = cell.float_bits();
        if (value != value) bits = 0x7FF8000000000000ULL;
        else if (value == 0.0) bits = 0;
        seen.insert({ValueKind::Float, bits, {}});
        break;
      }
      case ValueKind::Boolean: seen.insert({ValueKind::Boolean, cell.float_bits(), {}}); break;
      case ValueKind::String: seen.insert({ValueKind::String, 0, values.text(cell)}); break;
    }
  }
  return seen.size();
}

Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count) {
  DatasetProfile profile;
  profile.row_count = row_count;
  profile.columns.reserve(columns.size());
  for (const ColumnInput& column : columns) {
    ColumnProfile column_profile;
    column_profile.name = column.name;
    column_profile.logical_type = column.logical_type;
    column_profile.count = column.values.size();
    for (const Cell& cell : column.values) column_profile.null_count += cell.is_null() ? 1 : 0;
    column_profile.unique_count = count_unique(column.values);
    NOLT_ASSIGN_OR_RETURN(column_profile.numeric_stats,
                          compute_numeric_stats(column.name, column.logical_type, column.values));
    profile.columns.push_back(std::move(column_profile));
  }
  return profile;
}

Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns(columns, row_count);
}

}  // namespace nolt
