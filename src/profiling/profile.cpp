#include "profiling/profile.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include <absl/container/flat_hash_set.h>

#include "common/hashing.h"
#include "memory/page_advice.h"

namespace nolt {

namespace {

using U64Set = absl::flat_hash_set<std::uint64_t, U64Hash>;

// A text in the distinct set is named by its row, so a slot costs eight bytes
// whatever the text's length; the stored 32-bit fingerprint serves rehashing
// and rejects most unequal texts without touching the arena. Used for columns
// of 2**32 - 1 rows or more.
struct WideTextSlot {
  std::uint64_t row_idx;
  std::uint64_t fingerprint;
};

struct TextSlotHash {
  std::size_t operator()(const WideTextSlot& slot) const noexcept {
    // Spread the fingerprint over all 64 bits: the table takes its probe
    // position from the high bits and its control byte from the low ones.
    return static_cast<std::size_t>(slot.fingerprint * 0x9E3779B97F4A7C15ULL);
  }
};

struct TextSlotEq {
  const ColumnValues* values;
  bool operator()(const WideTextSlot& lhs, const WideTextSlot& rhs) const noexcept {
    if (lhs.fingerprint != rhs.fingerprint) return false;
    if (lhs.row_idx == rhs.row_idx) return true;
    return same_bytes(values->text((*values)[lhs.row_idx]), values->text((*values)[rhs.row_idx]));
  }
};

using WideTextSet = absl::flat_hash_set<WideTextSlot, TextSlotHash, TextSlotEq>;

inline std::uint32_t text_hash32(std::string_view text) noexcept {
  return static_cast<std::uint32_t>(hash_text(text));
}

// The distinct texts of a column of fewer than 2**32 - 1 rows, each named by
// the row that brought it in. Open addressing with linear probing over 64-bit
// slots: the text's 32-bit hash in the high half, the row in the low half,
// all ones for an empty slot. A slot is one word, so a probe rarely leaves its
// cache line, and a caller can prefetch a slot before it inserts.
class TextDistinctSet {
 public:
  explicit TextDistinctSet(const ColumnValues& values) : values_(values) { reset(0); }

  // Empties the set and sizes it for `distinct` texts without growing.
  void reset(std::size_t distinct) {
    std::size_t capacity = kMinCapacity;
    while (capacity / kMaxLoadDenominator * kMaxLoadNumerator < distinct) capacity *= 2;
    slots_.resize_discard(capacity);
    std::fill_n(slots_.data(), capacity, kEmpty);
    capacity_ = capacity;
    size_ = 0;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    grow_at_ = capacity / kMaxLoadDenominator * kMaxLoadNumerator;
  }

  // Room for `distinct` texts without growing; the texts already in stay.
  void reserve(std::size_t distinct) {
    std::size_t capacity = capacity_;
    while (capacity / kMaxLoadDenominator * kMaxLoadNumerator < distinct) capacity *= 2;
    if (capacity > capacity_) rehash(capacity);
  }

  std::size_t size() const noexcept { return size_; }

  void prefetch(std::uint32_t hash) const noexcept { __builtin_prefetch(&slots_[position(hash)], 1); }

  void insert(std::uint32_t hash, std::uint32_t row_idx) {
    const std::uint64_t fingerprint = static_cast<std::uint64_t>(hash) << 32;
    for (std::size_t slot_idx = position(hash);; slot_idx = (slot_idx + 1) & (capacity_ - 1)) {
      const std::uint64_t slot = slots_[slot_idx];
      if (slot == kEmpty) {
        slots_[slot_idx] = fingerprint | row_idx;
        if (++size_ > grow_at_) rehash(capacity_ * 2);
        return;
      }
      if ((slot & kFingerprintMask) == fingerprint && same_text(static_cast<std::uint32_t>(slot), row_idx)) return;
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  static constexpr std::uint64_t kFingerprintMask = ~std::uint64_t{0} << 32;
  static constexpr std::size_t kMinCapacity = 16;
  // At most five eighths full: short probe runs at 13 to 26 bytes per text.
  static constexpr std::size_t kMaxLoadNumerator = 5;
  static constexpr std::size_t kMaxLoadDenominator = 8;

  std::size_t position(std::uint32_t hash) const noexcept {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  bool same_text(std::uint32_t stored_row, std::uint32_t row_idx) const noexcept {
    return same_bytes(values_.text(values_[stored_row]), values_.text(values_[row_idx]));
  }

  void rehash(std::size_t capacity) {
    ScratchArray<std::uint64_t> old = std::move(slots_);
    const std::size_t old_capacity = capacity_;
    const std::size_t old_size = size_;
    slots_ = ScratchArray<std::uint64_t>(capacity);
    std::fill_n(slots_.data(), capacity, kEmpty);
    capacity_ = capacity;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    grow_at_ = capacity / kMaxLoadDenominator * kMaxLoadNumerator;
    for (std::size_t slot_idx = 0; slot_idx < old_capacity; ++slot_idx) {
      const std::uint64_t slot = old[slot_idx];
      if (slot == kEmpty) continue;
      std::size_t target = position(static_cast<std::uint32_t>(slot >> 32));
      while (slots_[target] != kEmpty) target = (target + 1) & (capacity_ - 1);
      slots_[target] = slot;
    }
    size_ = old_size;
  }

  const ColumnValues& values_;
  ScratchArray<std::uint64_t> slots_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t grow_at_ = 0;
  unsigned shift_ = 64;
};

// Rows looked at before the counting strategy and table sizes are chosen.
constexpr std::size_t kSampleRows = 8192;

// Rows whose text hashes are computed (and their slots prefetched) before
// any of them is inserted, so the table's cache misses overlap.
constexpr std::size_t kHashBatch = 32;

// Non-null counts of one column: distinct values and nulls.
struct ColumnCounts {
  std::uint64_t unique_count = 0;
  std::uint64_t null_count = 0;
};

// Keys of different kinds never compare equal, so every kind is counted in a
// set of its own and the counts add up.
template <class TextSet>
class DistinctCounter {
 public:
  static constexpr bool kRowSlots = std::is_same_v<TextSet, TextDistinctSet>;

  explicit DistinctCounter(const ColumnValues& values) : values_(values), texts_(make_text_set(values)) {}

  ColumnCounts count() {
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
    return {integers_.size() + floats_.size() + texts_.size() + (seen_boolean_[0] ? 1 : 0) +
                (seen_boolean_[1] ? 1 : 0),
            null_count_};
  }

 private:
  static TextSet make_text_set(const ColumnValues& values) {
    if constexpr (kRowSlots) {
      return TextSet(values);
    } else {
      return TextSet(0, TextSlotHash{}, TextSlotEq{&values});
    }
  }

  template <class Set>
  static void reserve_if_distinct(Set& set, std::size_t sampled_rows, std::size_t row_count) {
    if (sampled_rows == 0 || set.size() * 2 <= sampled_rows) return;
    const double share = static_cast<double>(set.size()) / static_cast<double>(sampled_rows);
    set.reserve(static_cast<std::size_t>(share * static_cast<double>(row_count)));
  }

  void add_rows(std::size_t begin, std::size_t end) {
    const std::vector<Cell>& cells = values_.cells();
    std::uint32_t hashes[kHashBatch];
    std::uint32_t rows[kHashBatch];
    for (std::size_t batch_begin = begin; batch_begin < end; batch_begin += kHashBatch) {
      const std::size_t batch_end = std::min(end, batch_begin + kHashBatch);
      std::size_t text_count = 0;
      for (std::size_t row_idx = batch_begin; row_idx < batch_end; ++row_idx) {
        const Cell& cell = cells[row_idx];
        switch (cell.kind()) {
          case ValueKind::Null: ++null_count_; break;
          case ValueKind::Integer: integers_.insert(static_cast<std::uint64_t>(cell.as_integer())); break;
          case ValueKind::Float: floats_.insert(canonical_float_bits(cell.as_float())); break;
          case ValueKind::Boolean: seen_boolean_[cell.as_boolean() ? 1 : 0] = true; break;
          case ValueKind::String:
            if constexpr (kRowSlots) {
              const std::uint32_t hash = text_hash32(values_.text(cell));
              texts_.prefetch(hash);
              hashes[text_count] = hash;
              rows[text_count] = static_cast<std::uint32_t>(row_idx);
              ++text_count;
            } else {
              const std::uint64_t hash = hash_text(values_.text(cell));
              texts_.insert(WideTextSlot{row_idx, static_cast<std::uint32_t>(hash)});
            }
            break;
        }
      }
      if constexpr (kRowSlots) {
        for (std::size_t text_idx = 0; text_idx < text_count; ++text_idx) texts_.insert(hashes[text_idx], rows[text_idx]);
      }
    }
  }

  const ColumnValues& values_;
  U64Set integers_;
  U64Set floats_;
  TextSet texts_;
  bool seen_boolean_[2] = {false, false};
  std::uint64_t null_count_ = 0;
};

ColumnCounts count_column(const ColumnValues& values) {
  // Row indexes up to 2**32 - 2 fit a slot; all ones marks an empty one.
  if (values.size() < std::numeric_limits<std::uint32_t>::max()) {
    return DistinctCounter<TextDistinctSet>(values).count();
  }
  return DistinctCounter<WideTextSet>(values).count();
}

}  // namespace

std::uint64_t count_unique(const ColumnValues& values) { return count_column(values).unique_count; }

Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count) {
  DatasetProfile profile;
  profile.row_count = row_count;
  profile.columns.reserve(columns.size());
  // One set of sort buffers for every numeric column of the dataset.
  StatisticsWorkspace workspace;
  for (const ColumnInput& column : columns) {
    ColumnProfile column_profile;
    column_profile.name = column.name;
    column_profile.logical_type = column.logical_type;
    column_profile.count = row_count;
    if (is_numeric(column.logical_type)) {
      // The statistics come first only because their sorted buffer may give
      // the distinct count too; counting cannot fail, so the first error is unchanged.
      NOLT_ASSIGN_OR_RETURN(NumericSummary summary,
                            summarize_numeric_column(column.name, column.logical_type, column.values, workspace));
      column_profile.numeric_stats = summary.stats;
      column_profile.null_count = summary.null_count;
      column_profile.unique_count = summary.unique_count ? *summary.unique_count : count_unique(column.values);
    } else {
      const ColumnCounts counts = count_column(column.values);
      column_profile.null_count = counts.null_count;
      column_profile.unique_count = counts.unique_count;
    }
    profile.columns.push_back(std::move(column_profile));
  }
  return profile;
}

Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns(columns, row_count);
}

}  // namespace nolt
