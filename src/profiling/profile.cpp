#include "profiling/profile.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

#include <absl/container/flat_hash_set.h>

#include "profiling/hashing.h"

namespace nolt {

namespace {

using U64Set = absl::flat_hash_set<std::uint64_t, U64Hash>;

// A text in the distinct set is named by its row, so a slot costs eight bytes
// whatever the text's length; the stored 32-bit fingerprint serves rehashing
// and rejects most unequal texts without touching the arena.
struct TextSlot {
  std::uint32_t row_idx;
  std::uint32_t fingerprint;
};

// Slots for columns of 2**32 rows or more.
struct WideTextSlot {
  std::uint64_t row_idx;
  std::uint64_t fingerprint;
};

struct TextSlotHash {
  template <class Slot>
  std::size_t operator()(const Slot& slot) const noexcept {
    // Spread the fingerprint over all 64 bits: the table takes its probe
    // position from the high bits and its control byte from the low ones.
    return static_cast<std::size_t>(static_cast<std::uint64_t>(slot.fingerprint) * 0x9E3779B97F4A7C15ULL);
  }
};

struct TextSlotEq {
  const ColumnValues* values;
  template <class Slot>
  bool operator()(const Slot& lhs, const Slot& rhs) const noexcept {
    if (lhs.fingerprint != rhs.fingerprint) return false;
    if (lhs.row_idx == rhs.row_idx) return true;
    return values->text((*values)[lhs.row_idx]) == values->text((*values)[rhs.row_idx]);
  }
};

// Rows looked at before the sets are sized for the whole column.
constexpr std::size_t kSampleRows = 8192;

// Keys of different kinds never compare equal, so every kind is counted in a
// set of its own and the counts add up.
template <class Slot>
class DistinctCounter {
 public:
  explicit DistinctCounter(const ColumnValues& values)
      : values_(values), texts_(0, TextSlotHash{}, TextSlotEq{&values}) {}

  std::uint64_t count() {
    const std::size_t row_count = values_.size();
    const std::size_t sample_end = std::min(row_count, kSampleRows);
    add_rows(0, sample_end);
    // A set that holds mostly distinct values after the sample is sized for
    // the column's extrapolated distinct count at once: one allocation instead
    // of a chain of rehashes of a table that outgrows the caches.
    reserve_if_distinct(integers_, sample_end, row_count);
    reserve_if_distinct(floats_, sample_end, row_count);
    reserve_if_distinct(texts_, sample_end, row_count);
    add_rows(sample_end, row_count);
    return integers_.size() + floats_.size() + texts_.size() + (seen_boolean_[0] ? 1 : 0) +
           (seen_boolean_[1] ? 1 : 0);
  }

 private:
  template <class Set>
  static void reserve_if_distinct(Set& set, std::size_t sampled_rows, std::size_t row_count) {
    if (sampled_rows == 0 || set.size() * 2 <= sampled_rows) return;
    const double share = static_cast<double>(set.size()) / static_cast<double>(sampled_rows);
    set.reserve(static_cast<std::size_t>(share * static_cast<double>(row_count)));
  }

  void add_rows(std::size_t begin, std::size_t end) {
    const std::vector<Cell>& cells = values_.cells();
    for (std::size_t row_idx = begin; row_idx < end; ++row_idx) {
      const Cell& cell = cells[row_idx];
      switch (cell.kind()) {
        case ValueKind::Null: break;
        case ValueKind::Integer: integers_.insert(static_cast<std::uint64_t>(cell.as_integer())); break;
        case ValueKind::Float: floats_.insert(canonical_float_bits(cell.as_float())); break;
        case ValueKind::Boolean: seen_boolean_[cell.as_boolean() ? 1 : 0] = true; break;
        case ValueKind::String: {
          const std::uint64_t hash = hash_text(values_.text(cell));
          texts_.insert(Slot{static_cast<decltype(Slot::row_idx)>(row_idx),
                             static_cast<decltype(Slot::fingerprint)>(hash)});
          break;
        }
      }
    }
  }

  const ColumnValues& values_;
  U64Set integers_;
  U64Set floats_;
  absl::flat_hash_set<Slot, TextSlotHash, TextSlotEq> texts_;
  bool seen_boolean_[2] = {false, false};
};

std::uint64_t count_nulls(const ColumnValues& values) noexcept {
  std::uint64_t null_count = 0;
  for (const Cell& cell : values) null_count += cell.is_null() ? 1 : 0;
  return null_count;
}

}  // namespace

std::uint64_t count_unique(const ColumnValues& values) {
  if (values.size() <= std::numeric_limits<std::uint32_t>::max()) return DistinctCounter<TextSlot>(values).count();
  return DistinctCounter<WideTextSlot>(values).count();
}

Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count) {
  DatasetProfile profile;
  profile.row_count = row_count;
  profile.columns.reserve(columns.size());
  for (const ColumnInput& column : columns) {
    ColumnProfile column_profile;
    column_profile.name = column.name;
    column_profile.logical_type = column.logical_type;
    column_profile.count = row_count;
    column_profile.null_count = count_nulls(column.values);
    // The statistics come first only because their sorted buffer may give the
    // distinct count too; counting cannot fail, so the first error is unchanged.
    NOLT_ASSIGN_OR_RETURN(NumericSummary summary,
                          summarize_numeric_column(column.name, column.logical_type, column.values));
    column_profile.numeric_stats = summary.stats;
    column_profile.unique_count = summary.unique_count ? *summary.unique_count : count_unique(column.values);
    profile.columns.push_back(std::move(column_profile));
  }
  return profile;
}

Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns(columns, row_count);
}

}  // namespace nolt
