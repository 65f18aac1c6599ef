#include "profiling/distinct.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include <absl/container/flat_hash_set.h>

#include "common/hashing.h"
#include "common/utf8.h"
#include "memory/page_advice.h"
#include "profiling/statistics.h"
#include "profiling/total_order.h"

namespace nolt {

namespace {

// --- texts named by their row ---

// A text in a table is one 64-bit entry: the high 32 bits of the text's hash
// (its fingerprint) above the row that brought it in. The fingerprint places
// the entry, serves rehashing and rejects almost every unequal text without
// touching the column; the row finds the bytes when fingerprints agree.
using Entry = std::uint64_t;
constexpr Entry kEmptySlot = ~Entry{0};

inline Entry make_entry(std::uint64_t hash, std::size_t row_idx) noexcept {
  return (hash & 0xFFFFFFFF00000000ULL) | static_cast<std::uint32_t>(row_idx);
}
inline std::uint32_t entry_fingerprint(Entry entry) noexcept { return static_cast<std::uint32_t>(entry >> 32); }
inline std::uint32_t entry_row(Entry entry) noexcept { return static_cast<std::uint32_t>(entry); }

inline bool same_text(std::string_view lhs, std::string_view rhs) noexcept {
  return (lhs.data() == rhs.data() && lhs.size() == rhs.size()) || same_bytes(lhs, rhs);
}

// A text's word: a text of up to seven bytes as its bytes in the low seven
// bytes and its length in the top one, and a text of eight ASCII bytes as
// their 56 low bits below a top byte of 8, so that two such texts are equal
// exactly when their words are; a longer text (top bit set) as its length
// and the address of its bytes, so that comparing it needs no walk from its
// row to its bytes (when the length or the address does not fit, the length
// field is all ones and the row finds the bytes). Comparing a long text reads
// both texts' bytes, wherever in the column they are: eight-character codes
// are common enough to be spared that.
constexpr std::uint64_t kLongText = std::uint64_t{1} << 63;
constexpr std::uint64_t kAddressBits = 48;
constexpr std::uint64_t kUnpackedLength = 0x7FFF;

// The seven low bits of each of the eight bytes of `bytes`, packed into 56 bits.
constexpr std::uint64_t pack_ascii(std::uint64_t bytes) noexcept {
  std::uint64_t packed = 0;
  for (unsigned byte_idx = 0; byte_idx < 8; ++byte_idx) {
    packed |= ((bytes >> (8 * byte_idx)) & 0x7F) << (7 * byte_idx);
  }
  return packed;
}
// Each byte's seven bits land in a range of their own, so equal words mean equal texts.
static_assert([] {
  for (unsigned byte_idx = 0; byte_idx < 8; ++byte_idx) {
    if (pack_ascii(std::uint64_t{0x7F} << (8 * byte_idx)) != std::uint64_t{0x7F} << (7 * byte_idx)) return false;
  }
  return true;
}());

inline std::uint64_t text_word(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  if (size == 8) {
    std::uint64_t eight;
    std::memcpy(&eight, bytes, 8);
    if ((eight & 0x8080808080808080ULL) == 0) return (std::uint64_t{8} << 56) | pack_ascii(eight);
  }
  if (size >= 8) {
    const auto address = reinterpret_cast<std::uintptr_t>(bytes);
    if (size < kUnpackedLength && (address >> kAddressBits) == 0) {
      return kLongText | (std::uint64_t{size} << kAddressBits) | address;
    }
    return kLongText | (kUnpackedLength << kAddressBits);
  }
  std::uint64_t word = std::uint64_t{size} << 56;
  if (size >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, bytes, 4);
    std::memcpy(&tail, bytes + size - 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      head = __builtin_bswap32(head);
      tail = __builtin_bswap32(tail);
    }
    return word | head | (std::uint64_t{tail} << (8 * (size - 4)));
  }
  if (size > 0) {
    word |= std::uint64_t{bytes[0]} | (std::uint64_t{bytes[size / 2]} << (8 * (size / 2))) |
            (std::uint64_t{bytes[size - 1]} << (8 * (size - 1)));
  }
  return word;
}

inline bool is_short_word(std::uint64_t word) noexcept { return (word & kLongText) == 0; }

// The text of a long text's word, or `fallback()` when the word does not hold it.
template <class Fallback>
inline std::string_view long_text(std::uint64_t word, Fallback&& fallback) noexcept {
  const std::uint64_t size = (word >> kAddressBits) & kUnpackedLength;
  if (size == kUnpackedLength) return fallback();
  const auto address = static_cast<std::uintptr_t>(word & ((std::uint64_t{1} << kAddressBits) - 1));
  return std::string_view(reinterpret_cast<const char*>(address), static_cast<std::size_t>(size));
}

// The distinct texts of a column of fewer than 2**32 - 1 rows (all ones marks
// an empty slot). Open addressing with linear probing over 64-bit entries:
// a probe rarely leaves its cache line, and a caller can prefetch a slot
// before it inserts. With kCounts the table also counts each text's
// occurrences, and its entry keeps the earliest row inserted (entries may
// arrive out of row order).
template <bool kCounts>
class RowTable {
 public:
  explicit RowTable(const ColumnValues& values) : values_(&values) { reset(0); }

  // Empties the table and sizes it for `distinct` texts without growing.
  // Without words (`by_words` false), texts are inserted by their rows alone
  // and compared by visiting the column (insert_by_row).
  void reset(std::size_t distinct, bool by_words = true) {
    by_words_ = by_words;
    std::size_t capacity = kMinCapacity;
    while (grow_at(capacity) < distinct) capacity *= 2;
    slots_.resize_discard(capacity);
    std::fill_n(slots_.data(), capacity, kEmptySlot);
    words_.resize_discard(capacity);
    if constexpr (kCounts) {
      counts_.resize_discard(capacity);
      std::fill_n(counts_.data(), capacity, 0);
    }
    set_capacity(capacity);
    views_.assign(capacity <= kViewCapacity ? capacity : 0, std::string_view());
    size_ = 0;
  }

  // Room for `distinct` texts without growing; the texts already in stay.
  void reserve(std::size_t distinct) {
    std::size_t capacity = capacity_;
    while (grow_at(capacity) < distinct) capacity *= 2;
    if (capacity > capacity_) rehash(capacity);
  }

  std::size_t size() const noexcept { return size_; }
  // Small enough (32 KiB) for the first-level cache: no prefetching needed.
  bool in_first_level_cache() const noexcept { return capacity_ <= 4096; }

  void prefetch(Entry entry) const noexcept {
    const std::size_t slot_idx = position(entry_fingerprint(entry));
    __builtin_prefetch(&slots_[slot_idx], 1);
    if (by_words_) __builtin_prefetch(&words_[slot_idx], 1);
    if constexpr (kCounts) __builtin_prefetch(&counts_[slot_idx], 1);
  }

  // Adds the text of `entry`, which is `text`, unless an equal text is in;
  // true when it was not. While the table keeps its texts' views, the text
  // at hand is compared with the stored view, and its word is made only if
  // it enters.
  bool insert(Entry entry, std::string_view text) {
    return insert_with(entry, [text] { return text_word(text); }, 1, [text] { return text; }, true);
  }

  // The same, the entry's text (whose word is `word`) looked up by its row
  // only when the word neither is nor locates it.
  bool insert(Entry entry, std::uint64_t word) {
    return insert_with(entry, [word] { return word; }, 1, [this, entry] { return row_text(entry_row(entry)); });
  }

  // The same for a table without words: the texts are compared by their rows.
  bool insert_by_row(Entry entry) {
    return insert_with(entry, [] { return std::uint64_t{0}; }, 1, [this, entry] { return row_text(entry_row(entry)); });
  }

  // Inserts a run of `count` items, each slot prefetched a few entries ahead:
  // pairs {entry, text word} into a table by words, entries into one without.
  void insert_all(const std::uint64_t* items, std::size_t count) {
    if (by_words_) {
      insert_run<2>(items, count, [this](const std::uint64_t* pair) { insert(pair[0], pair[1]); });
    } else {
      insert_run<1>(items, count, [this](const std::uint64_t* entry) { insert_by_row(*entry); });
    }
  }

  // Adds every text of `other` (a table over the same column), with its count.
  void insert_all(const RowTable& other) {
    reserve(size_ + other.size_);
    for (std::size_t slot_idx = 0; slot_idx < other.capacity_; ++slot_idx) {
      const Entry entry = other.slots_[slot_idx];
      if (entry == kEmptySlot) continue;
      const std::uint32_t weight = kCounts ? other.counts_[slot_idx] : 1;
      insert_with(entry, [&] { return other.words_[slot_idx]; }, weight,
                  [this, entry] { return row_text(entry_row(entry)); });
    }
  }

  // From now on, keeps `top` up to date with the tallies of the texts that
  // enter or grow (instead of offer_tallies at the end).
  void track(TopTallies* top) noexcept
    requires kCounts
  {
    tracked_ = top;
    threshold_ = top->entry_threshold();
  }

  // Offers every text's tally.
  void offer_tallies(TopTallies& top) const noexcept
    requires kCounts
  {
    // Without a branch per slot on whether it is empty (an empty slot's
    // count is 0, so its key too): most slots fail the one test below.
    std::uint64_t threshold = top.entry_threshold();
    for (std::size_t slot_idx = 0; slot_idx < capacity_; ++slot_idx) {
      const Entry entry = slots_[slot_idx];
      const std::uint64_t key = TopTallies::rank_key(counts_[slot_idx], entry_row(entry)) & -std::uint64_t{entry != kEmptySlot};
      if (key > threshold) {
        top.offer(ValueTally{entry_row(entry), counts_[slot_idx]});
        threshold = top.entry_threshold();
      }
    }
  }

 private:
  static constexpr std::size_t kMinCapacity = 64;

  // Inserts `count` items of kStride words each, prefetching a few ahead.
  template <std::size_t kStride, class Insert>
  void insert_run(const std::uint64_t* items, std::size_t count, Insert&& insert_item) {
    constexpr std::size_t kAhead = 8;
    const std::size_t prefetched = count < kAhead ? count : count - kAhead;
    std::size_t entry_idx = 0;
    for (; entry_idx < prefetched; ++entry_idx) {
      prefetch(items[kStride * (entry_idx + kAhead)]);
      insert_item(items + kStride * entry_idx);
    }
    for (; entry_idx < count; ++entry_idx) insert_item(items + kStride * entry_idx);
  }

  // A quarter full at most: most probes end at their first slot, so the
  // branch that ends a probe is rarely mispredicted.
  static std::size_t grow_at(std::size_t capacity) noexcept { return capacity / 4; }

  std::size_t position(std::uint32_t fingerprint) const noexcept {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(fingerprint) * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  std::string_view row_text(std::uint32_t row_idx) const noexcept { return values_->text((*values_)[row_idx]); }

  // The text in a slot: its view while the table is small enough to keep
  // them (no walk from the row to the column's bytes), else found by its row.
  std::string_view stored_text(std::size_t slot_idx, Entry slot) const noexcept {
    return views_.empty() ? row_text(entry_row(slot)) : views_[slot_idx];
  }

  // `word_of()` gives the entry's text word, `text_of()` its text (at hand,
  // or found by its row).
  template <class WordOf, class TextOf>
  bool insert_with(Entry entry, WordOf&& word_of, std::uint32_t weight, TextOf&& text_of, bool text_at_hand = false) {
    const Entry fingerprint_bits = entry & 0xFFFFFFFF00000000ULL;
    for (std::size_t slot_idx = position(entry_fingerprint(entry));; slot_idx = (slot_idx + 1) & mask_) {
      const Entry slot = slots_[slot_idx];
      if (slot == kEmptySlot) {
        slots_[slot_idx] = entry;
        if (by_words_) words_[slot_idx] = word_of();
        if constexpr (kCounts) {
          counts_[slot_idx] = weight;
          if (tracked_ != nullptr && TopTallies::rank_key(weight, entry_row(entry)) > threshold_) {
            tracked_->offer(ValueTally{entry_row(entry), weight});
            threshold_ = tracked_->entry_threshold();
          }
        }
        if (!views_.empty()) views_[slot_idx] = text_of();
        if (++size_ > grow_at_) rehash(capacity_ * 2);
        return true;
      }
      if ((slot & 0xFFFFFFFF00000000ULL) == fingerprint_bits &&
          (!by_words_ || (text_at_hand && !views_.empty()) ? same_text(stored_text(slot_idx, slot), text_of())
                                                           : same_word_text(slot_idx, slot, word_of(), text_of))) {
        if constexpr (kCounts) {
          const std::uint32_t count = counts_[slot_idx] += weight;
          const Entry earliest = entry < slot ? entry : slot;  // same fingerprint: the earlier row
          slots_[slot_idx] = earliest;
          if (tracked_ != nullptr && TopTallies::rank_key(count, entry_row(earliest)) > threshold_) {
            tracked_->offer_again(entry_row(slot), ValueTally{entry_row(earliest), count});
            threshold_ = tracked_->entry_threshold();
          }
        }
        return false;
      }
    }
  }

  // Whether the text in a slot equals the text whose word is `word`.
  template <class TextOf>
  bool same_word_text(std::size_t slot_idx, Entry slot, std::uint64_t word, TextOf& text_of) const noexcept {
    const std::uint64_t stored_word = words_[slot_idx];
    if (is_short_word(word) || is_short_word(stored_word)) return stored_word == word;
    return same_text(long_text(stored_word, [&] { return stored_text(slot_idx, slot); }), long_text(word, text_of));
  }

  // Views are kept up to this many slots (16 KiB of views).
  static constexpr std::size_t kViewCapacity = 1024;

  void set_capacity(std::size_t capacity) noexcept {
    capacity_ = capacity;
    mask_ = capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    grow_at_ = grow_at(capacity);
  }

  void rehash(std::size_t capacity) {
    ScratchArray<Entry> old = std::move(slots_);
    ScratchArray<std::uint64_t> old_words = std::move(words_);
    ScratchArray<std::uint32_t> old_counts = std::move(counts_);
    std::vector<std::string_view> old_views = std::move(views_);
    const std::size_t old_capacity = capacity_;
    slots_ = ScratchArray<Entry>(capacity);
    std::fill_n(slots_.data(), capacity, kEmptySlot);
    words_ = ScratchArray<std::uint64_t>(capacity);
    if constexpr (kCounts) {
      counts_ = ScratchArray<std::uint32_t>(capacity);
      std::fill_n(counts_.data(), capacity, 0);
    }
    set_capacity(capacity);
    views_.assign(capacity <= kViewCapacity ? capacity : 0, std::string_view());
    for (std::size_t slot_idx = 0; slot_idx < old_capacity; ++slot_idx) {
      const Entry entry = old[slot_idx];
      if (entry == kEmptySlot) continue;
      std::size_t target = position(entry_fingerprint(entry));
      while (slots_[target] != kEmptySlot) target = (target + 1) & mask_;
      slots_[target] = entry;
      if (by_words_) words_[target] = old_words[slot_idx];
      if constexpr (kCounts) counts_[target] = old_counts[slot_idx];
      if (!views_.empty()) views_[target] = old_views.empty() ? row_text(entry_row(entry)) : old_views[slot_idx];
    }
  }

  const ColumnValues* values_;
  ScratchArray<Entry> slots_;
  ScratchArray<std::uint64_t> words_;  // per slot: its text's word, when by_words_
  bool by_words_ = true;
  ScratchArray<std::uint32_t> counts_;  // per slot, with kCounts
  TopTallies* tracked_ = nullptr;
  std::uint64_t threshold_ = 0;  // tracked_'s entry threshold
  std::vector<std::string_view> views_;  // per slot, while the table is small
  std::size_t capacity_ = 0;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  std::size_t grow_at_ = 0;
  unsigned shift_ = 64;
};

// The code points of a text: its size when its bytes are ASCII (one or two
// overlapping loads tell, for texts of up to 16 bytes), else counted.
inline std::uint64_t code_point_length(std::string_view text) noexcept {
  const char* bytes = text.data();
  const std::size_t size = text.size();
  std::uint64_t high_bits = 0x80;
  if (size >= 8 && size <= 16) {
    std::uint64_t head, tail;
    std::memcpy(&head, bytes, 8);
    std::memcpy(&tail, bytes + size - 8, 8);
    high_bits = (head | tail) & 0x8080808080808080ULL;
  } else if (size >= 4 && size < 8) {
    std::uint32_t head, tail;
    std::memcpy(&head, bytes, 4);
    std::memcpy(&tail, bytes + size - 4, 4);
    high_bits = (head | tail) & 0x80808080U;
  }
  return high_bits == 0 ? size : utf8_code_point_count(text);
}

// Shortest and longest text in code points.
struct LengthRange {
  std::uint64_t min = UINT64_MAX;
  std::uint64_t max = 0;

  void add(std::string_view text) noexcept {
    const std::uint64_t length = code_point_length(text);
    min = length < min ? length : min;
    max = length > max ? length : max;
  }
  void merge(const LengthRange& other) noexcept {
    min = other.min < min ? other.min : min;
    max = other.max > max ? other.max : max;
  }
};

// --- the cells that are not texts ---

// Nulls, booleans and numbers of a run of rows; tallies of several runs add up.
struct Tally {
  std::uint64_t null_count = 0;
  std::uint64_t text_count = 0;  // counted with the texts' tallies only
  LengthRange lengths;           // the same
  bool seen_boolean[2] = {false, false};
  bool seen_nan = false;
  bool seen_positive_infinity = false;
  bool seen_negative_infinity = false;
  std::vector<std::uint64_t> integer_keys;
  std::vector<std::uint64_t> float_keys;  // finite floats

  void add(const Cell& cell) {
    switch (cell.kind()) {
      case ValueKind::Null: ++null_count; break;
      case ValueKind::Boolean: seen_boolean[cell.as_boolean() ? 1 : 0] = true; break;
      case ValueKind::Integer: integer_keys.push_back(integer_order_key(cell.as_integer())); break;
      case ValueKind::Float: {
        const double value = cell.as_float();
        if (std::isfinite(value)) {
          float_keys.push_back(order_key(value));
        } else if (std::isnan(value)) {
          seen_nan = true;
        } else {
          (value > 0 ? seen_positive_infinity : seen_negative_infinity) = true;
        }
        break;
      }
      case ValueKind::String: break;
    }
  }

  void merge(Tally& other) {
    null_count += other.null_count;
    text_count += other.text_count;
    lengths.merge(other.lengths);
    seen_boolean[0] |= other.seen_boolean[0];
    seen_boolean[1] |= other.seen_boolean[1];
    seen_nan |= other.seen_nan;
    seen_positive_infinity |= other.seen_positive_infinity;
    seen_negative_infinity |= other.seen_negative_infinity;
    integer_keys.insert(integer_keys.end(), other.integer_keys.begin(), other.integer_keys.end());
    float_keys.insert(float_keys.end(), other.float_keys.begin(), other.float_keys.end());
  }

  // Distinct values that are not texts.
  std::uint64_t distinct() {
    return count_distinct_numbers(integer_keys, float_keys) + (seen_boolean[0] ? 1 : 0) + (seen_boolean[1] ? 1 : 0) +
           (seen_nan ? 1 : 0) + (seen_positive_infinity ? 1 : 0) + (seen_negative_infinity ? 1 : 0);
  }
};

// Rows looked at before the counting strategy and the table sizes are chosen.
constexpr std::size_t kSampleRows = 8192;

// Columns of fewer rows are counted on one thread.
constexpr std::size_t kParallelMinRows = std::size_t{1} << 17;

// Rows whose text hashes are computed (and their slots prefetched) before any
// of them is inserted, so the table's cache misses overlap.
constexpr std::size_t kHashBatch = 16;

// The texts of rows [begin, end) into one table and the other cells into the
// tally, with an interrupt check every kInterruptStride rows. With kCounts
// the tally counts the texts and their lengths: each new text's while the
// table is small (few distinct texts), every text's otherwise.
template <bool kCounts>
Status count_rows_into_table(const ColumnValues& values, std::size_t begin, std::size_t end, RowTable<kCounts>& table,
                             Tally& tally, const ExecutionContext& context) {
  const Cell* cells = values.cells().data();
  // The text tallies in locals, as in PartitionedEntries::fill_run.
  std::uint64_t texts_seen = 0;
  LengthRange lengths;
  Entry batch[kHashBatch];
  std::uint64_t batch_words[kHashBatch];
  for (std::size_t chunk_begin = begin; chunk_begin < end; chunk_begin += kInterruptStride) {
    if (chunk_begin != begin) NOLT_TRY(context.check());
    const std::size_t chunk_end = std::min(end, chunk_begin + kInterruptStride);
    for (std::size_t batch_begin = chunk_begin; batch_begin < chunk_end; batch_begin += kHashBatch) {
      const std::size_t batch_end = std::min(chunk_end, batch_begin + kHashBatch);
      if (table.in_first_level_cache()) {
        for (std::size_t row_idx = batch_begin; row_idx < batch_end; ++row_idx) {
          const Cell& cell = cells[row_idx];
          if (cell.kind() == ValueKind::String) {
            const std::string_view text = values.text(cell);
            const bool added = table.insert(make_entry(hash_text(text), row_idx), text);
            if constexpr (kCounts) {
              ++texts_seen;
              if (added) lengths.add(text);
            }
          } else {
            tally.add(cell);
          }
        }
        continue;
      }
      std::size_t text_count = 0;
      for (std::size_t row_idx = batch_begin; row_idx < batch_end; ++row_idx) {
        const Cell& cell = cells[row_idx];
        if (cell.kind() == ValueKind::String) {
          const std::string_view text = values.text(cell);
          const Entry entry = make_entry(hash_text(text), row_idx);
          table.prefetch(entry);
          if constexpr (kCounts) {
            ++texts_seen;
            lengths.add(text);
          }
          batch_words[text_count] = text_word(text);
          batch[text_count++] = entry;
        } else {
          tally.add(cell);
        }
      }
      for (std::size_t text_idx = 0; text_idx < text_count; ++text_idx) {
        table.insert(batch[text_idx], batch_words[text_idx]);
      }
    }
  }
  tally.text_count += texts_seen;
  tally.lengths.merge(lengths);
  return Status();
}

// --- hash partitions ---

// Expected entries per partition: its table (twice as many slots of eight
// bytes, 256 KiB) stays in the second-level cache while it fills.
constexpr std::size_t kPartitionEntries = std::size_t{1} << 14;

// Texts as pairs {entry, text word} grouped by the top bits of their
// fingerprint, in the workspace's two buffers (the lower half of the
// partitions in the first): short texts are compared without a look at the
// column. A column of texts that rarely repeat compares few of them, and
// its entries go alone, half the memory to write and read again.
// Each run of rows (one per thread) writes its own region of each partition,
// sized from the run's rows; the rare entry of a region that is full goes to
// the run's overflow list.
class PartitionedEntries {
 public:
  PartitionedEntries(std::size_t row_count, std::size_t run_count, unsigned partition_bits, bool with_words,
                     ColumnWorkspace& workspace)
      : partition_bits_(partition_bits), stride_(with_words ? 2 : 1),
        partition_count_(std::size_t{1} << partition_bits),
        run_bounds_(run_count + 1), run_capacities_(run_count), regions_(run_count * partition_count_),
        fills_(run_count * partition_count_, 0), overflows_(run_count) {
    std::size_t half_size = 0;
    for (std::size_t run_idx = 0; run_idx < run_count; ++run_idx) {
      run_bounds_[run_idx] = row_count * run_idx / run_count;
      const std::size_t rows = row_count * (run_idx + 1) / run_count - run_bounds_[run_idx];
      // A partition's share of a run is binomial around rows / partitions:
      // four standard deviations of slack make an overflow rare.
      const double mean = static_cast<double>(rows) / static_cast<double>(partition_count_);
      run_capacities_[run_idx] = static_cast<std::size_t>(mean + 4.0 * std::sqrt(mean)) + 16;
      half_size += run_capacities_[run_idx] * (partition_count_ / 2);
    }
    run_bounds_[run_count] = row_count;
    workspace.reserve(std::max(stride_ * half_size, row_count));
    Entry* halves[] = {workspace.first(), workspace.second()};
    for (std::size_t run_idx = 0; run_idx < run_count; ++run_idx) {
      for (std::size_t partition_idx = 0; partition_idx < partition_count_; ++partition_idx) {
        Entry*& next = halves[partition_idx < partition_count_ / 2 ? 0 : 1];
        regions_[run_idx * partition_count_ + partition_idx] = next;
        next += stride_ * run_capacities_[run_idx];
      }
    }
  }

  std::size_t run_count() const noexcept { return run_capacities_.size(); }
  bool with_words() const noexcept { return stride_ == 2; }
  std::size_t partition_count() const noexcept { return partition_count_; }
  std::size_t run_begin(std::size_t run_idx) const noexcept { return run_bounds_[run_idx]; }
  std::size_t run_end(std::size_t run_idx) const noexcept { return run_bounds_[run_idx + 1]; }

  std::size_t partition_of(Entry entry) const noexcept {
    return static_cast<std::size_t>(entry >> (64 - partition_bits_));
  }

  // Hashes the texts of run `run_idx` into its region and tallies every
  // other cell; only one thread fills a run. With kCounts the tally counts
  // and measures the texts too. Flattened: the text hash is inlined (the
  // compiler keeps it out of line in the larger loop otherwise).
  template <bool kCounts>
  Status fill_run(const ColumnValues& values, std::size_t run_idx, Tally& tally, const ExecutionContext& context) {
    return with_words() ? fill_run<kCounts, true>(values, run_idx, tally, context)
                        : fill_run<kCounts, false>(values, run_idx, tally, context);
  }

  template <bool kCounts, bool kWords>
  [[gnu::flatten]] Status fill_run(const ColumnValues& values, std::size_t run_idx, Tally& tally,
                                   const ExecutionContext& context) {
    constexpr std::size_t kStride = kWords ? 2 : 1;
    // Write positions in locals: stores of entries cannot alias them.
    Entry* const* regions = regions_.data() + run_idx * partition_count_;
    std::vector<Entry*> cursors(regions, regions + partition_count_);
    std::vector<Entry*> limits(partition_count_);
    for (std::size_t partition_idx = 0; partition_idx < partition_count_; ++partition_idx) {
      limits[partition_idx] = regions[partition_idx] + kStride * run_capacities_[run_idx];
    }
    std::vector<Entry>& overflow = overflows_[run_idx];
    const unsigned shift = 64 - partition_bits_;
    const Cell* cells = values.cells().data();
    const std::size_t end = run_end(run_idx);
    // The text tallies in locals too: in the tally, every row's update would
    // wait on the last one's store, which an entry's store might overwrite.
    std::uint64_t text_count = 0;
    LengthRange lengths;
    for (std::size_t chunk_begin = run_begin(run_idx); chunk_begin < end; chunk_begin += kInterruptStride) {
      NOLT_TRY(context.check());
      const std::size_t chunk_end = std::min(end, chunk_begin + kInterruptStride);
      for (std::size_t row_idx = chunk_begin; row_idx < chunk_end; ++row_idx) {
        const Cell& cell = cells[row_idx];
        if (cell.kind() != ValueKind::String) {
          tally.add(cell);
          continue;
        }
        const std::string_view text = values.text(cell);
        const Entry entry = make_entry(hash_text(text), row_idx);
        if constexpr (kCounts) {
          ++text_count;
          lengths.add(text);
        }
        const std::size_t partition_idx = static_cast<std::size_t>(entry >> shift);
        if (cursors[partition_idx] != limits[partition_idx]) {
          Entry* cursor = cursors[partition_idx];
          cursor[0] = entry;
          if constexpr (kWords) cursor[1] = text_word(text);
          cursors[partition_idx] = cursor + kStride;
        } else {
          overflow.push_back(entry);
          if constexpr (kWords) overflow.push_back(text_word(text));
        }
      }
    }
    for (std::size_t partition_idx = 0; partition_idx < partition_count_; ++partition_idx) {
      fills_[run_idx * partition_count_ + partition_idx] =
          static_cast<std::size_t>(cursors[partition_idx] - regions[partition_idx]) / kStride;
    }
    tally.text_count += text_count;
    tally.lengths.merge(lengths);
    return Status();
  }

  // After every run is added: the overflow entries grouped by partition.
  void group_overflows() {
    overflow_bounds_.assign(partition_count_ + 1, 0);
    for (const std::vector<Entry>& overflow : overflows_) {
      for (std::size_t item_idx = 0; item_idx < overflow.size(); item_idx += stride_) {
        ++overflow_bounds_[partition_of(overflow[item_idx]) + 1];
      }
    }
    for (std::size_t partition_idx = 0; partition_idx < partition_count_; ++partition_idx) {
      overflow_bounds_[partition_idx + 1] += overflow_bounds_[partition_idx];
    }
    grouped_overflow_.resize(stride_ * overflow_bounds_[partition_count_]);
    std::vector<std::size_t> next(overflow_bounds_.begin(), overflow_bounds_.end() - 1);
    for (const std::vector<Entry>& overflow : overflows_) {
      for (std::size_t item_idx = 0; item_idx < overflow.size(); item_idx += stride_) {
        const std::size_t target = stride_ * next[partition_of(overflow[item_idx])]++;
        std::copy_n(overflow.begin() + static_cast<std::ptrdiff_t>(item_idx), stride_,
                    grouped_overflow_.begin() + static_cast<std::ptrdiff_t>(target));
      }
    }
  }

  std::size_t partition_size(std::size_t partition_idx) const noexcept {
    std::size_t size = overflow_bounds_[partition_idx + 1] - overflow_bounds_[partition_idx];
    for (std::size_t run_idx = 0; run_idx < run_count(); ++run_idx) {
      size += fills_[run_idx * partition_count_ + partition_idx];
    }
    return size;
  }

  // Calls visit(items, count) for every stretch of the partition's items.
  template <class Visit>
  void for_each_stretch(std::size_t partition_idx, Visit&& visit) const {
    for (std::size_t run_idx = 0; run_idx < run_count(); ++run_idx) {
      visit(regions_[run_idx * partition_count_ + partition_idx], fills_[run_idx * partition_count_ + partition_idx]);
    }
    const std::size_t overflow_begin = overflow_bounds_[partition_idx];
    visit(grouped_overflow_.data() + stride_ * overflow_begin, overflow_bounds_[partition_idx + 1] - overflow_begin);
  }

 private:
  unsigned partition_bits_;
  std::size_t stride_;  // words per text: its entry, and its text word when with_words()
  std::size_t partition_count_;
  std::vector<std::size_t> run_bounds_;
  std::vector<std::size_t> run_capacities_;
  std::vector<Entry*> regions_;  // per run and partition, in the workspace
  std::vector<std::size_t> fills_;
  std::vector<std::vector<Entry>> overflows_;  // pairs, per run
  std::vector<std::size_t> overflow_bounds_;
  std::vector<Entry> grouped_overflow_;  // pairs
};

// Distinct texts of a column expected to hold about `expected_distinct` of
// them: every text hashed once into its partition (runs of rows over the
// threads), then each partition counted in a cache-sized table of its own
// (groups of partitions over the threads). Equal texts share a partition, so
// the partitions' counts add up exactly, and with kCounts the best of the
// partitions' best tallies are the column's best texts.
template <bool kCounts>
Result<std::uint64_t> count_texts_partitioned(const ColumnValues& values, std::size_t expected_distinct,
                                              bool with_words, std::vector<Tally>& tallies, TopTallies& top_texts,
                                              ColumnWorkspace& workspace, const ExecutionContext& context) {
  const std::size_t row_count = values.size();
  const std::size_t thread_count = context.thread_count();
  const std::size_t wanted = std::max<std::size_t>({2, expected_distinct / kPartitionEntries, 4 * thread_count});
  const auto partition_bits = static_cast<unsigned>(std::min(16, std::countr_zero(std::bit_ceil(wanted))));
  const std::size_t run_count = row_count < kParallelMinRows ? 1 : thread_count;
  PartitionedEntries partitions(row_count, run_count, partition_bits, with_words, workspace);
  tallies.resize(run_count);

  NOLT_TRY(run_until_failure(context, run_count, [&](std::size_t run_idx) -> Status {
    return partitions.template fill_run<kCounts>(values, run_idx, tallies[run_idx], context);
  }));
  partitions.group_overflows();

  // A group's table is sized once for its largest partition and reused.
  const std::size_t partition_count = partitions.partition_count();
  const std::size_t group_count = std::min(partition_count, context.parallel() ? 4 * thread_count : 1);
  std::vector<std::uint64_t> group_distinct(group_count, 0);
  std::vector<TopTallies> group_top(kCounts ? group_count : 0);
  NOLT_TRY(run_until_failure(context, group_count, [&](std::size_t group_idx) -> Status {
    const std::size_t first = partition_count * group_idx / group_count;
    const std::size_t last = partition_count * (group_idx + 1) / group_count;
    RowTable<kCounts> table(values);
    if constexpr (kCounts) table.track(&group_top[group_idx]);
    for (std::size_t partition_idx = first; partition_idx < last; ++partition_idx) {
      NOLT_TRY(context.check());
      table.reset(partitions.partition_size(partition_idx), partitions.with_words());
      partitions.for_each_stretch(
          partition_idx, [&](const std::uint64_t* pairs, std::size_t count) { table.insert_all(pairs, count); });
      group_distinct[group_idx] += table.size();
    }
    return Status();
  }));
  std::uint64_t distinct = 0;
  for (const std::uint64_t count : group_distinct) distinct += count;
  for (const TopTallies& top : group_top) top_texts.offer_all(top);
  return distinct;
}

// Whether a mostly distinct column's texts repeat often enough for the
// partitions to carry their words (PartitionedEntries). A word costs every
// text eight bytes written and read again; a repeat compared without words
// visits the column twice, some thirty times that: words pay from about
// three repeats in a hundred texts. The sample's repeats estimate how many
// texts the column draws from, as for draws with replacement (s draws with
// r repeats come from about s * s / (2 * r) texts), and from that the share
// of the column's texts that repeat.
constexpr double kWordsMinRepeatShare = 0.03;

bool words_pay(std::size_t sample_texts, std::size_t sample_distinct, double column_texts) {
  if (sample_distinct >= sample_texts || column_texts <= 0) return false;
  const auto draws = static_cast<double>(sample_texts);
  const double population = draws * draws / (2.0 * static_cast<double>(sample_texts - sample_distinct));
  const double column_distinct = -population * std::expm1(-column_texts / population);
  return 1.0 - column_distinct / column_texts >= kWordsMinRepeatShare;
}

// Distinct texts of a column that repeats them: one table, or one per run of
// rows over the threads, merged at the end.
template <bool kCounts>
Result<std::uint64_t> count_texts_in_table(const ColumnValues& values, std::size_t first_row, RowTable<kCounts>& table,
                                           std::vector<Tally>& tallies, TopTallies& top_texts,
                                           const ExecutionContext& context) {
  const std::size_t row_count = values.size();
  const std::size_t run_count = row_count - first_row < kParallelMinRows ? 1 : context.thread_count();
  tallies.resize(run_count + 1);
  std::vector<RowTable<kCounts>> run_tables;
  run_tables.reserve(run_count - 1);
  for (std::size_t run_idx = 1; run_idx < run_count; ++run_idx) run_tables.emplace_back(values);
  NOLT_TRY(run_until_failure(context, run_count, [&](std::size_t run_idx) -> Status {
    const std::size_t begin = first_row + (row_count - first_row) * run_idx / run_count;
    const std::size_t end = first_row + (row_count - first_row) * (run_idx + 1) / run_count;
    RowTable<kCounts>& run_table = run_idx == 0 ? table : run_tables[run_idx - 1];
    if (run_idx != 0) run_table.reserve(table.size());
    return count_rows_into_table(values, begin, end, run_table, tallies[run_idx + 1], context);
  }));
  for (const RowTable<kCounts>& run_table : run_tables) table.insert_all(run_table);
  if constexpr (kCounts) table.offer_tallies(top_texts);
  return static_cast<std::uint64_t>(table.size());
}

// --- columns of 2**32 - 1 rows or more ---

struct WideTextSlot {
  std::uint64_t row_idx;
  std::uint64_t fingerprint;
};

struct WideTextSlotHash {
  std::size_t operator()(const WideTextSlot& slot) const noexcept {
    return static_cast<std::size_t>(slot.fingerprint * 0x9E3779B97F4A7C15ULL);
  }
};

struct WideTextSlotEq {
  const ColumnValues* values;
  bool operator()(const WideTextSlot& lhs, const WideTextSlot& rhs) const noexcept {
    if (lhs.fingerprint != rhs.fingerprint) return false;
    if (lhs.row_idx == rhs.row_idx) return true;
    return same_text(values->text((*values)[lhs.row_idx]), values->text((*values)[rhs.row_idx]));
  }
};

Result<ColumnCounts> count_wide_column(const ColumnValues& values, const ExecutionContext& context) {
  absl::flat_hash_set<WideTextSlot, WideTextSlotHash, WideTextSlotEq> texts(0, WideTextSlotHash{},
                                                                             WideTextSlotEq{&values});
  Tally tally;
  for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
    if (row_idx % kInterruptStride == 0 && row_idx != 0) NOLT_TRY(context.check());
    const Cell& cell = values[row_idx];
    if (cell.kind() == ValueKind::String) {
      texts.insert(WideTextSlot{row_idx, static_cast<std::uint32_t>(hash_text(values.text(cell)))});
    } else {
      tally.add(cell);
    }
  }
  return ColumnCounts{texts.size() + tally.distinct(), tally.null_count};
}

template <bool kCounts>
Result<ColumnCounts> count_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                  const ExecutionContext& context, TextTallies* text_tallies) {
  const std::size_t row_count = values.size();
  if (row_count >= std::numeric_limits<std::uint32_t>::max()) return count_wide_column(values, context);

  // The sample decides: a column that repeats its texts keeps one table; one
  // whose texts are mostly distinct is counted by hash partitions.
  std::vector<Tally> tallies(1);
  RowTable<kCounts> table(values);
  TopTallies top_texts;
  const std::size_t sample_end = std::min(row_count, kSampleRows);
  NOLT_TRY(count_rows_into_table(values, 0, sample_end, table, tallies[0], kSerialContext));
  const auto sample_texts = static_cast<std::size_t>(
      std::count_if(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(sample_end),
                    [](const Cell& cell) { return cell.kind() == ValueKind::String; }));
  std::uint64_t text_distinct = 0;
  const bool mostly_distinct = table.size() * 2 > sample_texts;
  const std::size_t expected_distinct =
      sample_end == 0 ? 0
                      : static_cast<std::size_t>(static_cast<double>(table.size()) / static_cast<double>(sample_end) *
                                                 static_cast<double>(row_count));
  if (mostly_distinct && expected_distinct > 2 * kPartitionEntries) {
    std::vector<Tally> run_tallies;
    const double column_texts = static_cast<double>(sample_texts) / static_cast<double>(sample_end) *
                                static_cast<double>(row_count);
    const bool with_words = words_pay(sample_texts, table.size(), column_texts);
    NOLT_ASSIGN_OR_RETURN(text_distinct, count_texts_partitioned<kCounts>(values, expected_distinct, with_words,
                                                                          run_tallies, top_texts, workspace, context));
    tallies = std::move(run_tallies);
  } else {
    if (mostly_distinct) table.reserve(expected_distinct);
    NOLT_ASSIGN_OR_RETURN(text_distinct, count_texts_in_table(values, sample_end, table, tallies, top_texts, context));
  }
  Tally& tally = tallies[0];
  for (std::size_t tally_idx = 1; tally_idx < tallies.size(); ++tally_idx) tally.merge(tallies[tally_idx]);
  if constexpr (kCounts) {
    text_tallies->gathered = true;
    text_tallies->text_count = tally.text_count;
    text_tallies->min_length = tally.lengths.min;
    text_tallies->max_length = tally.lengths.max;
    text_tallies->top_texts = top_texts;
  }
  return ColumnCounts{text_distinct + tally.distinct(), tally.null_count};
}

}  // namespace

Result<ColumnCounts> count_column_values(const ColumnValues& values, const ExecutionContext& context) {
  ColumnWorkspace workspace;
  return count_column_values(values, workspace, context);
}

Result<ColumnCounts> count_column_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                         const ExecutionContext& context) {
  return count_values<false>(values, workspace, context, nullptr);
}

Result<ColumnCounts> count_column_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                         const ExecutionContext& context, TextTallies* tallies) {
  if (tallies == nullptr) return count_values<false>(values, workspace, context, nullptr);
  return count_values<true>(values, workspace, context, tallies);
}

}  // namespace nolt
