// Null and distinct counts of a column of any type. Integer, Float, Boolean
// and String values never equal each other; NaNs count as one value, -0.0 as
// +0.0, texts compare by their bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/statistics.h"

namespace nolt {

struct ColumnCounts {
  std::uint64_t unique_count = 0;
  std::uint64_t null_count = 0;
};

// How often a value occurs and the row where it first does.
struct ValueTally {
  std::uint64_t first_row = 0;
  std::uint64_t count = 0;
};

inline constexpr std::size_t kTopTallyCount = 5;

// The kTopTallyCount best tallies offered: more occurrences first, then the
// earlier first row. Offering the same tallies in any order gives the same result.
class TopTallies {
 public:
  void offer(const ValueTally& tally) noexcept {
    std::size_t position = size_;
    while (position > 0 && better(tally, best_[position - 1])) --position;
    if (position >= kTopTallyCount) return;
    const std::size_t last = size_ < kTopTallyCount ? size_ : kTopTallyCount - 1;
    for (std::size_t idx = last; idx > position; --idx) best_[idx] = best_[idx - 1];
    best_[position] = tally;
    if (size_ < kTopTallyCount) ++size_;
  }
  // Offers `tally` of a value that may already be in under `old_first_row`
  // (its tally can only have grown since: more occurrences or an earlier row).
  void offer_again(std::uint64_t old_first_row, const ValueTally& tally) noexcept {
    for (std::size_t idx = 0; idx < size_; ++idx) {
      if (best_[idx].first_row != old_first_row) continue;
      for (std::size_t next = idx + 1; next < size_; ++next) best_[next - 1] = best_[next];
      --size_;
      break;
    }
    offer(tally);
  }
  void offer_all(const TopTallies& other) noexcept {
    for (std::size_t idx = 0; idx < other.size_; ++idx) offer(other.best_[idx]);
  }
  // For tallies of rows below 2**32, ranked as one number: a tally enters
  // only if its rank_key is above this (0 while there is room).
  std::uint64_t entry_threshold() const noexcept {
    if (size_ < kTopTallyCount) return 0;
    const ValueTally& worst = best_[kTopTallyCount - 1];
    return rank_key(worst.count, static_cast<std::uint32_t>(worst.first_row));
  }
  // More occurrences rank higher, then the earlier row; above 0 for every tally.
  static std::uint64_t rank_key(std::uint64_t count, std::uint32_t first_row) noexcept {
    return (count << 32) | static_cast<std::uint32_t>(~first_row);
  }
  std::size_t size() const noexcept { return size_; }
  const ValueTally& operator[](std::size_t idx) const noexcept { return best_[idx]; }

 private:
  static bool better(const ValueTally& lhs, const ValueTally& rhs) noexcept {
    return lhs.count != rhs.count ? lhs.count > rhs.count : lhs.first_row < rhs.first_row;
  }
  std::array<ValueTally, kTopTallyCount> best_{};
  std::size_t size_ = 0;
};

// What counting a column's texts gathers besides the distinct count, when
// asked: the number of text cells, their shortest and longest length in code
// points, and the most frequent texts (texts only: other cells are not
// tallied). `gathered` stays false for a column of 2**32 - 1 rows or more,
// whose texts the caller tallies itself.
struct TextTallies {
  bool gathered = false;
  std::uint64_t text_count = 0;
  std::uint64_t min_length = UINT64_MAX;
  std::uint64_t max_length = 0;
  TopTallies top_texts;
};

// Texts are counted in a hash table that names each text by its row: one
// small table while the column repeats its texts, otherwise hash partitions
// small enough to stay in cache, counted apart (and over the context's
// threads); each text is hashed once, and its tallies, when asked for, are
// gathered in the same pass. Numbers are sorted and their runs
// counted. The partitions are written into `workspace`. Fails only with the
// context's interrupt.
Result<ColumnCounts> count_column_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                         const ExecutionContext& context);
Result<ColumnCounts> count_column_values(const ColumnValues& values, const ExecutionContext& context);
// The same, gathering `tallies` on the way (null: as without them).
Result<ColumnCounts> count_column_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                         const ExecutionContext& context, TextTallies* tallies);

}  // namespace nolt
