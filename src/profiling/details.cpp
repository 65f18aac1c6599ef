#include "profiling/details.h"

#include <array>
#include <cmath>

#include "common/hashing.h"
#include "common/utf8.h"

namespace nolt {

namespace {

// --- ISO 8601 text ---

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The `count` digits at `pos` as a number, or -1.
int read_digits(std::string_view text, std::size_t pos, std::size_t count) noexcept {
  if (pos + count > text.size()) return -1;
  int number = 0;
  for (std::size_t idx = pos; idx < pos + count; ++idx) {
    if (!is_digit(text[idx])) return -1;
    number = number * 10 + (text[idx] - '0');
  }
  return number;
}

constexpr bool is_leap_year(int year) noexcept { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

constexpr int days_in_month(int year, int month) noexcept {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
constexpr std::int64_t days_from_civil(int year, int month, int day) noexcept {
  // Years counted from March, so the leap day ends a year.
  const std::int64_t shifted_year = month <= 2 ? year - 1 : year;
  const std::int64_t era = (shifted_year >= 0 ? shifted_year : shifted_year - 399) / 400;
  const std::int64_t year_of_era = shifted_year - era * 400;
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

// HH:MM[:SS[(.|,)digits]] at `pos`: seconds since midnight and the fraction
// without trailing zeros; `pos` moves past it.
bool read_time(std::string_view text, std::size_t& pos, std::int64_t& seconds, std::string_view& fraction) noexcept {
  const int hour = read_digits(text, pos, 2);
  if (hour < 0 || hour > 23 || pos + 2 >= text.size() || text[pos + 2] != ':') return false;
  const int minute = read_digits(text, pos + 3, 2);
  if (minute < 0 || minute > 59) return false;
  seconds = hour * 3600 + minute * 60;
  pos += 5;
  if (pos == text.size() || text[pos] != ':') return true;
  const int second = read_digits(text, pos + 1, 2);
  if (second < 0 || second > 59) return false;
  seconds += second;
  pos += 3;
  if (pos == text.size() || (text[pos] != '.' && text[pos] != ',')) return true;
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
  if (text[pos] == 'Z') {
    offset = 0;
    return pos + 1 == text.size();
  }
  if (text[pos] != '+' && text[pos] != '-') return false;
  const int hour = read_digits(text, pos + 1, 2);
  if (hour < 0 || hour > 23) return false;
  std::size_t minute_pos = pos + 3;
  int minute = 0;
  if (minute_pos < text.size()) {
    if (text[minute_pos] == ':') ++minute_pos;
    minute = read_digits(text, minute_pos, 2);
    if (minute < 0 || minute > 59 || minute_pos + 2 != text.size()) return false;
  }
  offset = (hour * 3600 + minute * 60) * (text[pos] == '-' ? -1 : 1);
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
  for (const Cell& cell : values) {
    if (cell.kind() != ValueKind::Boolean) continue;
    (cell.as_boolean() ? details.true_count : details.false_count) += 1;
  }
  return details;
}

// How often a value occurs and where it first does.
struct Tally {
  std::uint64_t first_row = 0;
  std::uint64_t count = 0;
};

// The kTopValueCount best tallies offered: more occurrences first, then the earlier first row.
class TopTallies {
 public:
  void offer(const Tally& tally) {
    std::size_t position = size_;
    while (position > 0 && better(tally, best_[position - 1])) --position;
    if (position >= kTopValueCount) return;
    const std::size_t last = size_ < kTopValueCount ? size_ : kTopValueCount - 1;
    for (std::size_t idx = last; idx > position; --idx) best_[idx] = best_[idx - 1];
    best_[position] = tally;
    if (size_ < kTopValueCount) ++size_;
  }
  std::size_t size() const noexcept { return size_; }
  const Tally& operator[](std::size_t idx) const noexcept { return best_[idx]; }

 private:
  static bool better(const Tally& lhs, const Tally& rhs) noexcept {
    return lhs.count != rhs.count ? lhs.count > rhs.count : lhs.first_row < rhs.first_row;
  }
  std::array<Tally, kTopValueCount> best_{};
  std::size_t size_ = 0;
};

FoundValue found_at(const ColumnValues& values, std::uint64_t row_idx) {
  const Cell& cell = values[row_idx];
  return FoundValue{cell, cell.kind() == ValueKind::String ? values.text(cell) : std::string_view()};
}

std::vector<TopValue> top_values(const ColumnValues& values, const ColumnProfile& profile) {
  std::vector<TopValue> top;
  const std::uint64_t present = values.size() - profile.null_count;
  if (profile.unique_count == present) {
    // Every value occurs once: the first ones are the top values.
    for (std::size_t row_idx = 0; row_idx < values.size() && top.size() < kTopValueCount; ++row_idx) {
      if (!values[row_idx].is_null()) top.push_back(TopValue{found_at(values, row_idx), 1});
    }
    return top;
  }
  TextViewMap<Tally> texts;
  absl::flat_hash_map<std::uint64_t, Tally, U64Hash> integers;
  absl::flat_hash_map<std::uint64_t, Tally, U64Hash> floats;  // by canonical bits
  std::array<Tally, 2> booleans{};
  texts.reserve(profile.unique_count);
  auto count_at = [](Tally& tally, std::uint64_t row_idx) {
    if (tally.count++ == 0) tally.first_row = row_idx;
  };
  for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
    const Cell& cell = values[row_idx];
    switch (cell.kind()) {
      case ValueKind::Null: break;
      case ValueKind::String: count_at(texts[values.text(cell)], row_idx); break;
      case ValueKind::Integer: count_at(integers[static_cast<std::uint64_t>(cell.as_integer())], row_idx); break;
      case ValueKind::Float: count_at(floats[canonical_float_bits(cell.as_float())], row_idx); break;
      case ValueKind::Boolean: count_at(booleans[cell.as_boolean() ? 1 : 0], row_idx); break;
    }
  }
  TopTallies best;
  for (const auto& entry : texts) best.offer(entry.second);
  for (const auto& entry : integers) best.offer(entry.second);
  for (const auto& entry : floats) best.offer(entry.second);
  for (const Tally& tally : booleans) {
    if (tally.count > 0) best.offer(tally);
  }
  for (std::size_t idx = 0; idx < best.size(); ++idx) top.push_back(TopValue{found_at(values, best[idx].first_row), best[idx].count});
  return top;
}

TextDetails text_details(const ColumnValues& values, const ColumnProfile& profile) {
  TextDetails details;
  std::uint64_t min_length = UINT64_MAX;
  std::uint64_t max_length = 0;
  bool any_text = false;
  for (const Cell& cell : values) {
    if (cell.kind() != ValueKind::String) continue;
    const std::uint64_t length = utf8_code_point_count(values.text(cell));
    any_text = true;
    min_length = length < min_length ? length : min_length;
    max_length = length > max_length ? length : max_length;
  }
  if (any_text) {
    details.min_length = min_length;
    details.max_length = max_length;
  }
  details.top_values = top_values(values, profile);
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

DatetimeDetails datetime_details(const ColumnValues& values) {
  std::array<MomentRange, 3> ranges;  // by MomentKind
  DatetimeDetails details;
  for (const Cell& cell : values) {
    if (cell.is_null()) continue;
    std::optional<Moment> moment;
    if (cell.kind() == ValueKind::String) moment = parse_moment(values.text(cell));
    if (!moment) {
      ++details.invalid_count;
      continue;
    }
    ranges[static_cast<std::size_t>(moment->kind)].add(*moment, values.text(cell));
  }
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
  std::size_t pos = 0;
  if (text.size() >= 5 && text[2] == ':') {
    if (!read_time(text, pos, moment.seconds, moment.fraction) || pos != text.size()) return std::nullopt;
    moment.kind = MomentKind::TimeOfDay;
    return moment;
  }
  const int year = read_digits(text, 0, 4);
  if (year < 1 || text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const int month = read_digits(text, 5, 2);
  if (month < 1 || month > 12) return std::nullopt;
  const int day = read_digits(text, 8, 2);
  if (day < 1 || day > days_in_month(year, month)) return std::nullopt;
  moment.seconds = days_from_civil(year, month, day) * 86400;
  if (text.size() == 10) return moment;
  if (text[10] != 'T' && text[10] != ' ') return std::nullopt;
  pos = 11;
  std::int64_t time_seconds = 0;
  if (!read_time(text, pos, time_seconds, moment.fraction)) return std::nullopt;
  moment.seconds += time_seconds;
  if (pos == text.size()) return moment;
  std::int64_t offset = 0;
  if (!read_zone(text, pos, offset)) return std::nullopt;
  moment.kind = MomentKind::Aware;
  moment.seconds -= offset;
  return moment;
}

int compare_moments(const Moment& lhs, const Moment& rhs) noexcept {
  if (lhs.seconds != rhs.seconds) return lhs.seconds < rhs.seconds ? -1 : 1;
  // Fractions without trailing zeros compare as decimals when compared as text.
  const int order = lhs.fraction.compare(rhs.fraction);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

ColumnDetails column_details(const ColumnInput& column, const ColumnProfile& profile) {
  switch (column.logical_type) {
    case LogicalType::Integer:
    case LogicalType::Float: return number_details(column.values);
    case LogicalType::Boolean: return boolean_details(column.values);
    case LogicalType::String:
    case LogicalType::Categorical: return text_details(column.values, profile);
    case LogicalType::Datetime: return datetime_details(column.values);
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

}  // namespace nolt
