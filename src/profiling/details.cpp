#include "profiling/details.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <span>

#include "common/hashing.h"
#include "common/utf8.h"
#include "memory/page_advice.h"
#include "profiling/total_order.h"

namespace nolt {

namespace {

// --- ISO 8601 text ---

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The two digits at `at` as a number, or -1.
inline int two_digits(const char* at) noexcept {
  const unsigned high = static_cast<unsigned char>(at[0]) - unsigned{'0'};
  const unsigned low = static_cast<unsigned char>(at[1]) - unsigned{'0'};
  return high > 9 || low > 9 ? -1 : static_cast<int>(high * 10 + low);
}

constexpr bool is_leap_year(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Tables at namespace scope: a table local to a function is rebuilt on the stack at each call.
constexpr std::array<int, 12> kDaysInMonth = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr std::array<unsigned, 12> kDaysBeforeMonth = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

constexpr int days_in_month(int year, int month) noexcept {
  return month == 2 && is_leap_year(year) ? 29 : kDaysInMonth[static_cast<std::size_t>(month - 1)];
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar, year 1 or later.
constexpr std::int64_t days_from_civil(int year, int month, int day) noexcept {
  const unsigned years_before = static_cast<unsigned>(year) - 1;  // unsigned: divisions by constants stay cheap
  const unsigned leap_day = month > 2 && is_leap_year(year) ? 1 : 0;
  const unsigned days = 365 * years_before + years_before / 4 - years_before / 100 + years_before / 400 +
                        kDaysBeforeMonth[static_cast<std::size_t>(month - 1)] + leap_day + static_cast<unsigned>(day) - 1;
  return static_cast<std::int64_t>(days) - 719162;  // 719162 days from 0001-01-01 to 1970-01-01
}

// Days from 1970-01-01 to the first day of each month of the years most data
// falls in, so that the common layouts skip the calendar arithmetic.
constexpr int kTableFirstYear = 1900;
constexpr int kTableYears = 256;
constexpr auto kMonthStarts = [] {
  std::array<std::int32_t, kTableYears * 12> starts{};
  for (int year_idx = 0; year_idx < kTableYears; ++year_idx) {
    for (int month = 1; month <= 12; ++month) {
      starts[static_cast<std::size_t>(year_idx * 12 + month - 1)] =
          static_cast<std::int32_t>(days_from_civil(kTableFirstYear + year_idx, month, 1));
    }
  }
  return starts;
}();

// Days from 1970-01-01 to a valid day.
inline std::int64_t days_since_epoch(int year, int month, int day) noexcept {
  const auto year_idx = static_cast<unsigned>(year - kTableFirstYear);
  if (year_idx < static_cast<unsigned>(kTableYears)) {
    return kMonthStarts[year_idx * 12 + static_cast<unsigned>(month - 1)] + day - 1;
  }
  return days_from_civil(year, month, day);
}

// HH:MM[:SS[(.|,)digits]] at `pos`: seconds since midnight and the fraction
// without trailing zeros; `pos` moves past it.
bool read_time(std::string_view text, std::size_t& pos, std::int64_t& seconds, std::string_view& fraction) noexcept {
  const char* at = text.data() + pos;
  const std::size_t left = text.size() - pos;
  if (left < 5 || at[2] != ':') return false;
  const int hour = two_digits(at);
  const int minute = two_digits(at + 3);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return false;
  seconds = hour * 3600 + minute * 60;
  pos += 5;
  if (left == 5 || at[5] != ':') return true;
  if (left < 8) return false;
  const int second = two_digits(at + 6);
  if (second < 0 || second > 59) return false;
  seconds += second;
  pos += 3;
  if (left == 8 || (at[8] != '.' && at[8] != ',')) return true;
  const std::size_t start = ++pos;
  while (pos < text.size() && is_digit(text[pos])) ++pos;
  if (pos == start) return false;
  std::size_t end = pos;
  while (end > start && text[end - 1] == '0') --end;
  fraction = text.substr(start, end - start);
  return true;
}

// "Z", ±HH:MM, ±HHMM or ±HH from `pos` to the end: the offset east of UTC in seconds.
bool read_zone(std::string_view text, std::size_t pos, std::int64_t& offset) noexcept {
  const char* at = text.data() + pos;
  const std::size_t left = text.size() - pos;
  if (at[0] == 'Z') {
    offset = 0;
    return left == 1;
  }
  if ((at[0] != '+' && at[0] != '-') || (left != 3 && left != 5 && left != 6)) return false;
  const int hour = two_digits(at + 1);
  int minute = 0;
  if (left == 5) minute = two_digits(at + 3);
  if (left == 6) minute = at[3] == ':' ? two_digits(at + 4) : -1;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return false;
  offset = (hour * 3600 + minute * 60) * (at[0] == '-' ? -1 : 1);
  return true;
}

// --- the common layouts, eight bytes at a time ---

inline std::uint64_t load_word(const char* at) noexcept {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The bytes of a word given as text, for the masks below (little-endian: the first character is the lowest byte).
constexpr std::uint64_t word_of(const char (&text)[9]) noexcept {
  std::uint64_t word = 0;
  for (int idx = 7; idx >= 0; --idx) word = (word << 8) | static_cast<unsigned char>(text[idx]);
  return word;
}

// Whether the bytes of `word` under `digits` (0xFF per digit byte) are decimal digits and the
// others equal those of `separators`; then the digit values (0 to 9) in place, other bytes 0.
inline bool digits_in(std::uint64_t word, std::uint64_t digits, std::uint64_t separators, std::uint64_t& values) noexcept {
  constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ULL;
  if ((word & ~digits) != separators) return false;
  const std::uint64_t nibbles = (word ^ 0x3030303030303030ULL) & digits;
  // A digit byte is 0x30-0x39: its high nibble is 3 and its low nibble stays below 16 when 6 is added.
  if ((nibbles & kHighNibbles) != 0 || ((nibbles + 0x0606060606060606ULL) & digits & kHighNibbles) != 0) return false;
  values = nibbles;
  return true;
}

// The two-digit numbers that start at each byte of `values` (tens there, units in the next
// byte); read the byte where a number starts.
inline std::uint64_t pairs_of(std::uint64_t values) noexcept { return values * 10 + (values >> 8); }

inline int byte_at(std::uint64_t word, int idx) noexcept { return static_cast<int>((word >> (8 * idx)) & 0xFF); }

// YYYY-MM-DD and YYYY-MM-DDTHH:MM:SS (or a space for the T), the forms nolt's readers and
// adapters write for naive values; false for anything else, which the general reader takes.
[[gnu::always_inline]] inline bool read_common_moment(std::string_view text, Moment& moment) noexcept {
  const std::size_t size = text.size();
  if (size != 10 && size != 19) return false;
  const char* at = text.data();
  std::uint64_t date_values;
  if (!digits_in(load_word(at), word_of("\xFF\xFF\xFF\xFF\0\xFF\xFF\0"), word_of("\0\0\0\0-\0\0-"), date_values)) return false;
  const std::uint64_t date_pairs = pairs_of(date_values);
  const int year = byte_at(date_pairs, 0) * 100 + byte_at(date_pairs, 2);
  const int month = byte_at(date_pairs, 5);
  const int day = two_digits(at + 8);
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  if (day > kDaysInMonth[static_cast<std::size_t>(month - 1)] && !(month == 2 && day == 29 && is_leap_year(year))) {
    return false;
  }
  moment.seconds = days_since_epoch(year, month, day) * 86400;
  if (size == 10) return true;
  if (at[10] != 'T' && at[10] != ' ') return false;
  std::uint64_t time_values;
  if (!digits_in(load_word(at + 11), word_of("\xFF\xFF\0\xFF\xFF\0\xFF\xFF"), word_of("\0\0:\0\0:\0\0"), time_values)) return false;
  const std::uint64_t time_pairs = pairs_of(time_values);
  const int hour = byte_at(time_pairs, 0);
  const int minute = byte_at(time_pairs, 3);
  const int second = byte_at(time_pairs, 6);
  if (hour > 23 || minute > 59 || second > 59) return false;
  moment.seconds += hour * 3600 + minute * 60 + second;
  return true;
}

// parse_moment into `moment`, inlined into the loop over a column.
[[gnu::always_inline]] inline bool read_moment(std::string_view text, Moment& moment) noexcept {
  std::size_t pos = 0;
  const char* at = text.data();
  if (text.size() >= 5 && at[2] == ':') {
    if (!read_time(text, pos, moment.seconds, moment.fraction) || pos != text.size()) return false;
    moment.kind = MomentKind::TimeOfDay;
    return true;
  }
  if (text.size() < 10 || at[4] != '-' || at[7] != '-') return false;
  const int century = two_digits(at);
  const int year_of_century = two_digits(at + 2);
  const int month = two_digits(at + 5);
  const int day = two_digits(at + 8);
  if (century < 0 || year_of_century < 0 || month < 1 || month > 12 || day < 1) return false;
  const int year = century * 100 + year_of_century;
  if (year < 1 || day > days_in_month(year, month)) return false;
  moment.seconds = days_from_civil(year, month, day) * 86400;
  if (text.size() == 10) return true;
  if (at[10] != 'T' && at[10] != ' ') return false;
  pos = 11;
  std::int64_t time_seconds = 0;
  if (!read_time(text, pos, time_seconds, moment.fraction)) return false;
  moment.seconds += time_seconds;
  if (pos == text.size()) return true;
  std::int64_t offset = 0;
  if (!read_zone(text, pos, offset)) return false;
  moment.kind = MomentKind::Aware;
  moment.seconds -= offset;
  return true;
}

// --- the details of each type ---

NumberDetails number_details(const ColumnValues& values) {
  NumberDetails details;
  for (const Cell& cell : values) {
    if (cell.kind() == ValueKind::Integer) {
      const std::int64_t value = cell.as_integer();
      details.zero_count += value == 0;
      details.negative_count += value < 0;
    } else if (cell.kind() == ValueKind::Float) {
      const double value = cell.as_float();
      if (std::isfinite(value)) {
        details.zero_count += value == 0.0;
        details.negative_count += value < 0.0;
      } else if (std::isnan(value)) {
        ++details.nan_count;
      } else if (value > 0.0) {
        ++details.positive_infinity_count;
      } else {
        ++details.negative_infinity_count;
      }
    }
  }
  return details;
}

BooleanDetails boolean_details(const ColumnValues& values) {
  BooleanDetails details;
  std::uint64_t boolean_count = 0;
  for (const Cell& cell : values) {
    const bool is_boolean = cell.kind() == ValueKind::Boolean;
    boolean_count += is_boolean;
    details.true_count += is_boolean & cell.as_boolean();  // no branch on random truths
  }
  details.false_count = boolean_count - details.true_count;
  return details;
}

using Tally = ValueTally;

FoundValue found_at(const ColumnValues& values, std::uint64_t row_idx) {
  const Cell& cell = values[row_idx];
  return FoundValue{cell, cell.kind() == ValueKind::String ? values.text(cell) : std::string_view()};
}

// Shortest and longest text in code points.
struct TextLengths {
  std::uint64_t min = UINT64_MAX;
  std::uint64_t max = 0;

  void add(std::uint64_t length) noexcept {
    min = length < min ? length : min;
    max = length > max ? length : max;
  }
};

void count_at(Tally& tally, std::uint64_t row_idx) noexcept {
  if (tally.count++ == 0) tally.first_row = row_idx;
}

// Columns with at most this many distinct values count their texts in one
// table that stays in the first-level cache; others sort their texts' hashes.
constexpr std::size_t kSmallDistinct = std::size_t{1} << 12;

// The texts of a column with few distinct texts: each slot holds the high 32
// bits of a text's hash (its fingerprint) above the index of its tally, so a
// probe rarely compares text. Lengths are measured once per distinct text.
class SmallTextTable {
 public:
  explicit SmallTextTable(std::size_t distinct) {
    std::size_t capacity = 64;
    while (capacity < 4 * distinct) capacity *= 2;
    slots_.assign(capacity, kEmpty);
    mask_ = capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    texts_.reserve(distinct);
    tallies_.reserve(distinct);
  }

  void add(std::string_view text, std::uint64_t row_idx, TextLengths& lengths) {
    const std::uint64_t fingerprint = hash_text(text) & 0xFFFFFFFF00000000ULL;
    for (std::size_t slot_idx = (fingerprint * 0x9E3779B97F4A7C15ULL) >> shift_;; slot_idx = (slot_idx + 1) & mask_) {
      const std::uint64_t slot = slots_[slot_idx];
      if (slot == kEmpty) {
        slots_[slot_idx] = fingerprint | texts_.size();
        texts_.push_back(text);
        tallies_.push_back(Tally{row_idx, 1});
        lengths.add(utf8_code_point_count(text));
        return;
      }
      if ((slot & 0xFFFFFFFF00000000ULL) == fingerprint) {
        const auto index = static_cast<std::uint32_t>(slot);
        if (same_bytes(texts_[index], text)) {
          ++tallies_[index].count;
          return;
        }
      }
    }
  }

  const std::vector<Tally>& tallies() const noexcept { return tallies_; }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  std::vector<std::uint64_t> slots_;
  std::vector<std::string_view> texts_;
  std::vector<Tally> tallies_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
};

// The texts of a column with many distinct texts: one key per text, its
// fingerprint above its row, sorted, so equal texts lie together in row order
// (texts that merely share a fingerprint are told apart by their bytes).
void offer_sorted_texts(const ColumnValues& values, std::span<std::uint64_t> keys, TopTallies& best) {
  sort_keys(keys);
  struct Group {
    std::string_view text;
    Tally tally;
  };
  std::vector<Group> groups;
  for (std::size_t begin = 0; begin < keys.size();) {
    const std::uint64_t fingerprint = keys[begin] >> 32;
    std::size_t end = begin + 1;
    while (end < keys.size() && (keys[end] >> 32) == fingerprint) ++end;
    if (end - begin == 1) {
      best.offer(Tally{keys[begin] & 0xFFFFFFFFULL, 1});
      begin = end;
      continue;
    }
    groups.clear();
    for (std::size_t key_idx = begin; key_idx < end; ++key_idx) {
      const std::uint64_t row_idx = keys[key_idx] & 0xFFFFFFFFULL;
      const std::string_view text = values.text(values[row_idx]);
      auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& known) { return same_bytes(known.text, text); });
      if (group == groups.end()) {
        groups.push_back(Group{text, Tally{row_idx, 1}});
      } else {
        ++group->tally.count;
      }
    }
    for (const Group& group : groups) best.offer(group.tally);
    begin = end;
  }
}

// Counts the cells that are not texts into `best`.
void offer_other_values(const ColumnValues& values, TopTallies& best) {
  absl::flat_hash_map<std::uint64_t, Tally, U64Hash> integers;
  absl::flat_hash_map<std::uint64_t, Tally, U64Hash> floats;  // by canonical bits
  std::array<Tally, 2> booleans{};
  for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
    const Cell& cell = values[row_idx];
    switch (cell.kind()) {
      case ValueKind::Integer: count_at(integers[static_cast<std::uint64_t>(cell.as_integer())], row_idx); break;
      case ValueKind::Float: count_at(floats[canonical_float_bits(cell.as_float())], row_idx); break;
      case ValueKind::Boolean: count_at(booleans[cell.as_boolean() ? 1 : 0], row_idx); break;
      case ValueKind::Null:
      case ValueKind::String: break;
    }
  }
  for (const auto& entry : integers) best.offer(entry.second);
  for (const auto& entry : floats) best.offer(entry.second);
  for (const Tally& tally : booleans) {
    if (tally.count > 0) best.offer(tally);
  }
}

// The details of a text column whose distinct count gathered `tallies`:
// only its cells that are not texts (if any) are read again.
TextDetails text_details(const ColumnValues& values, const ColumnProfile& profile, const TextTallies& tallies) {
  TextDetails details;
  TopTallies best = tallies.top_texts;
  if (tallies.text_count != values.size() - profile.null_count) offer_other_values(values, best);
  if (tallies.text_count > 0) {
    details.min_length = tallies.min_length;
    details.max_length = tallies.max_length;
  }
  for (std::size_t idx = 0; idx < best.size(); ++idx) {
    details.top_values.push_back(TopValue{found_at(values, best[idx].first_row), best[idx].count});
  }
  return details;
}

TextDetails text_details(const ColumnValues& values, const ColumnProfile& profile) {
  TextDetails details;
  TextLengths lengths;
  TopTallies best;
  std::size_t text_count = 0;
  const std::uint64_t present = values.size() - profile.null_count;
  const Cell* cells = values.cells().data();
  if (profile.unique_count == present) {
    // Every value occurs once: the first ones are the top values.
    for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
      const Cell& cell = cells[row_idx];
      if (cell.is_null()) continue;
      if (best.size() < kTopValueCount) best.offer(Tally{row_idx, 1});
      if (cell.kind() != ValueKind::String) continue;
      ++text_count;
      lengths.add(utf8_code_point_count(values.text(cell)));
    }
  } else if (profile.unique_count <= kSmallDistinct) {
    SmallTextTable table(profile.unique_count);
    for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
      const Cell& cell = cells[row_idx];
      if (cell.kind() != ValueKind::String) continue;
      ++text_count;
      table.add(values.text(cell), row_idx, lengths);
    }
    for (const Tally& tally : table.tallies()) best.offer(tally);
  } else if (values.size() < UINT32_MAX) {
    ScratchArray<std::uint64_t> keys(values.size());
    for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
      const Cell& cell = cells[row_idx];
      if (cell.kind() != ValueKind::String) continue;
      const std::string_view text = values.text(cell);
      keys.data()[text_count++] = (hash_text(text) & 0xFFFFFFFF00000000ULL) | row_idx;
      lengths.add(utf8_code_point_count(text));
    }
    offer_sorted_texts(values, std::span<std::uint64_t>(keys.data(), text_count), best);
  } else {
    // Rows past 32 bits: a general table.
    TextViewMap<Tally> texts;
    for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
      const Cell& cell = cells[row_idx];
      if (cell.kind() != ValueKind::String) continue;
      ++text_count;
      const std::string_view text = values.text(cell);
      lengths.add(utf8_code_point_count(text));
      count_at(texts[text], row_idx);
    }
    for (const auto& entry : texts) best.offer(entry.second);
  }
  if (profile.unique_count != present && text_count != present) offer_other_values(values, best);
  if (text_count > 0) {
    details.min_length = lengths.min;
    details.max_length = lengths.max;
  }
  for (std::size_t idx = 0; idx < best.size(); ++idx) {
    details.top_values.push_back(TopValue{found_at(values, best[idx].first_row), best[idx].count});
  }
  return details;
}

// The earliest and latest moments of one kind, each the first of its instant.
struct MomentRange {
  std::uint64_t count = 0;
  Moment earliest;
  Moment latest;
  std::string_view earliest_text;
  std::string_view latest_text;

  void add(const Moment& moment, std::string_view text) {
    if (count++ == 0 || compare_moments(moment, earliest) < 0) {
      earliest = moment;
      earliest_text = text;
    }
    if (count == 1 || compare_moments(moment, latest) > 0) {
      latest = moment;
      latest_text = text;
    }
  }
};

// The moments of a run of rows; runs merge in row order.
struct MomentTally {
  std::array<MomentRange, 3> ranges;  // by MomentKind
  std::uint64_t invalid_count = 0;

  void add_rows(const ColumnValues& values, std::size_t begin, std::size_t end) {
    const Cell* cells = values.cells().data();
    for (std::size_t row_idx = begin; row_idx < end; ++row_idx) {
      const Cell& cell = cells[row_idx];
      if (cell.is_null()) continue;
      Moment moment;
      if (cell.kind() != ValueKind::String) {
        ++invalid_count;
        continue;
      }
      const std::string_view text = values.text(cell);
      if (!read_common_moment(text, moment) && !read_moment(text, moment)) {
        ++invalid_count;
        continue;
      }
      ranges[static_cast<std::size_t>(moment.kind)].add(moment, text);
    }
  }

  // Adds the tally of the rows that follow this one's.
  void merge_later(const MomentTally& later) {
    invalid_count += later.invalid_count;
    for (std::size_t kind_idx = 0; kind_idx < ranges.size(); ++kind_idx) {
      MomentRange& range = ranges[kind_idx];
      const MomentRange& other = later.ranges[kind_idx];
      if (other.count == 0) continue;
      if (range.count == 0) {
        range = other;
        continue;
      }
      range.count += other.count;
      // Strict comparisons: of equal instants, the earlier rows' stays.
      if (compare_moments(other.earliest, range.earliest) < 0) {
        range.earliest = other.earliest;
        range.earliest_text = other.earliest_text;
      }
      if (compare_moments(other.latest, range.latest) > 0) {
        range.latest = other.latest;
        range.latest_text = other.latest_text;
      }
    }
  }
};

// Columns of fewer rows read their moments on one thread.
constexpr std::size_t kParallelMomentRows = std::size_t{1} << 17;

DatetimeDetails datetime_details(const ColumnValues& values, const ExecutionContext& context) {
  const std::size_t run_count = context.parallel() && values.size() >= kParallelMomentRows ? 2 * context.thread_count() : 1;
  std::vector<MomentTally> tallies(run_count);
  context.parallel_for(run_count, [&](std::size_t run_idx) {
    tallies[run_idx].add_rows(values, values.size() * run_idx / run_count, values.size() * (run_idx + 1) / run_count);
  });
  for (std::size_t run_idx = 1; run_idx < run_count; ++run_idx) tallies[0].merge_later(tallies[run_idx]);
  const std::array<MomentRange, 3>& ranges = tallies[0].ranges;
  DatetimeDetails details;
  details.invalid_count = tallies[0].invalid_count;
  details.naive_count = ranges[static_cast<std::size_t>(MomentKind::Naive)].count;
  details.aware_count = ranges[static_cast<std::size_t>(MomentKind::Aware)].count;
  details.time_count = ranges[static_cast<std::size_t>(MomentKind::TimeOfDay)].count;
  const MomentRange* only = nullptr;
  std::size_t kinds = 0;
  for (const MomentRange& range : ranges) {
    if (range.count == 0) continue;
    ++kinds;
    only = &range;
  }
  if (kinds == 1) {
    details.earliest = only->earliest_text;
    details.latest = only->latest_text;
  }
  return details;
}

}  // namespace

std::optional<Moment> parse_moment(std::string_view text) noexcept {
  Moment moment;
  if (!read_common_moment(text, moment) && !read_moment(text, moment)) return std::nullopt;
  return moment;
}

ColumnDetails column_details(const ColumnInput& column, const ColumnProfile& profile) {
  switch (column.logical_type) {
    case LogicalType::Integer:
    case LogicalType::Float: return number_details(column.values);
    case LogicalType::Boolean: return boolean_details(column.values);
    case LogicalType::String:
    case LogicalType::Categorical: return text_details(column.values, profile);
    case LogicalType::Datetime: return datetime_details(column.values, kSerialContext);
    case LogicalType::Unknown: break;
  }
  return std::monostate();
}

Result<std::vector<ColumnDetails>> profile_details(const std::vector<ColumnInput>& columns,
                                                   const DatasetProfile& profile, const ExecutionContext& context) {
  std::vector<ColumnDetails> details(columns.size());
  NOLT_TRY(run_until_failure(context, columns.size(), [&](std::size_t column_idx) -> Status {
    details[column_idx] = column_details(columns[column_idx], profile.columns[column_idx]);
    return Status();
  }));
  return details;
}

Result<ProfileWithDetails> profile_columns_with_details(const std::vector<ColumnInput>& columns,
                                                        std::uint64_t row_count, const ExecutionContext& context,
                                                        const CallerColumns* caller) {
  ProfileWithDetails result;
  result.profile.row_count = row_count;
  result.profile.columns.resize(columns.size());
  result.details.resize(columns.size());
  NOLT_TRY(run_column_tasks(
      column_costs(columns, true, caller), context,
      [&](std::size_t column_idx, ColumnWorkspace& workspace, const ExecutionContext& column_context) -> Status {
        const ColumnInput& column = columns[column_idx];
        if (caller != nullptr && caller->owns(column_idx)) {
          return profile_caller_column(column, row_count, *caller, column_idx, workspace, column_context,
                                       result.profile.columns[column_idx]);
        }
        const bool of_texts =
            column.logical_type == LogicalType::String || column.logical_type == LogicalType::Categorical;
        const bool of_numbers = is_numeric(column.logical_type);
        TextTallies tallies;
        NumberCounts numbers;
        NOLT_ASSIGN_OR_RETURN(ColumnProfile column_profile,
                              profile_column(column, row_count, workspace, column_context, of_texts ? &tallies : nullptr,
                                             of_numbers ? &numbers : nullptr));
        if (of_numbers) {
          result.details[column_idx] = numbers;
        } else if (tallies.gathered) {
          result.details[column_idx] = text_details(column.values, column_profile, tallies);
        } else if (column.logical_type == LogicalType::Datetime) {
          result.details[column_idx] = datetime_details(column.values, column_context);
        } else {
          result.details[column_idx] = column_details(column, column_profile);
        }
        result.profile.columns[column_idx] = std::move(column_profile);
        return Status();
      }));
  return result;
}

Result<ProfileWithDetails> profile_dataset_with_details(const std::vector<ColumnInput>& columns,
                                                        const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns_with_details(columns, row_count, context);
}

}  // namespace nolt
