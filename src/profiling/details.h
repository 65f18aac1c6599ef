// What a column's profile leaves out, by its declared type: the non-finite,
// zero and negative numbers beside the statistics, the range of a datetime
// column, the lengths and most frequent values of text, the truth counts of
// booleans. Computed beside the profile (a text column's in its distinct
// count's pass), or from the converted cells after it, whose counts it
// reuses; nothing here changes the profile itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/profile.h"

namespace nolt {

// Integer and float columns: the counts of NumberCounts (statistics.h).
// Integer columns hold no non-finite values, so their first three stay 0.
using NumberDetails = NumberCounts;

struct BooleanDetails {
  std::uint64_t true_count = 0;
  std::uint64_t false_count = 0;
};

// A cell as found in the column; `text` views the column's arena for a String cell.
struct FoundValue {
  Cell cell = Cell::null();
  std::string_view text;
};

struct TopValue {
  FoundValue value;
  std::uint64_t count = 0;
};

inline constexpr std::size_t kTopValueCount = kTopTallyCount;

// String and categorical columns. Lengths are in code points, over the text
// cells (absent without any). The top values are the most frequent non-null
// values, at most kTopValueCount, by falling count and, among equal counts,
// by first appearance; values are told apart as the distinct count tells
// them apart (1, 1.0, true and "1" differ; NaNs are one value, -0.0 is +0.0)
// and each is shown as it first appears.
struct TextDetails {
  std::optional<std::uint64_t> min_length;
  std::optional<std::uint64_t> max_length;
  std::vector<TopValue> top_values;
};

// Datetime columns: cells are ISO 8601 text. Each non-null cell is a naive
// date or date-time, a date-time with a zone ("Z" or an offset), a time of
// day, or invalid (other text, numbers, booleans). The earliest and latest
// cells (as their text, the first of equal instants) are given when every
// valid cell is of one of the three kinds; values with a zone are compared as
// UTC instants. A column mixing kinds has no range: a naive value and a value
// with a zone name no common instant.
struct DatetimeDetails {
  std::optional<std::string_view> earliest;
  std::optional<std::string_view> latest;
  std::uint64_t naive_count = 0;
  std::uint64_t aware_count = 0;
  std::uint64_t time_count = 0;
  std::uint64_t invalid_count = 0;
};

// Nothing for "unknown" columns.
using ColumnDetails = std::variant<std::monostate, NumberDetails, BooleanDetails, TextDetails, DatetimeDetails>;

// The details of one column whose profile is `profile` (its null and distinct
// counts spare work). Text views borrow the column's arena.
ColumnDetails column_details(const ColumnInput& column, const ColumnProfile& profile);

// The details of every column, in column order, spread over the context's
// threads. Fails only with the context's interrupt.
Result<std::vector<ColumnDetails>> profile_details(const std::vector<ColumnInput>& columns,
                                                   const DatasetProfile& profile,
                                                   const ExecutionContext& context = kSerialContext);

struct ProfileWithDetails {
  DatasetProfile profile;
  std::vector<ColumnDetails> details;
};

// profile_columns and profile_details in one: each column's details computed
// with its profile (a text column's top values and lengths in the pass that
// counts its distinct texts), the columns scheduled over the context's threads
// as one piece of work. The same results as the two apart, for any context.
// With `caller`, the columns it owns are profiled by it and their details
// left empty (std::monostate) for the caller to fill.
Result<ProfileWithDetails> profile_columns_with_details(const std::vector<ColumnInput>& columns,
                                                        std::uint64_t row_count,
                                                        const ExecutionContext& context = kSerialContext,
                                                        const CallerColumns* caller = nullptr);

// check_equal_lengths followed by profile_columns_with_details.
Result<ProfileWithDetails> profile_dataset_with_details(const std::vector<ColumnInput>& columns,
                                                        const ExecutionContext& context = kSerialContext);

// --- ISO 8601 text, as a datetime column holds it ---

enum class MomentKind : std::uint8_t { Naive, Aware, TimeOfDay };

// A moment read from text: seconds since 1970-01-01T00:00:00 (UTC for aware
// values; since midnight for a time of day) and the fraction's digits without
// trailing zeros, so two moments compare exactly by (seconds, fraction), the
// digits compared as text.
struct Moment {
  MomentKind kind = MomentKind::Naive;
  std::int64_t seconds = 0;
  std::string_view fraction;
};

// Reads YYYY-MM-DD; YYYY-MM-DD followed by "T" or a space and a time, with an
// optional zone "Z", ±HH:MM, ±HHMM or ±HH; or a time HH:MM[:SS[.digits]]
// alone (the fraction after "." or ","). Years 0001 to 9999, real calendar
// days, hours 00-23, minutes and seconds 00-59, zone offsets below 24 hours.
// Nothing else: no week or ordinal dates, no basic format, no leap second.
std::optional<Moment> parse_moment(std::string_view text) noexcept;

// Orders moments of one kind; 0 when they are the same instant.
inline int compare_moments(const Moment& lhs, const Moment& rhs) noexcept {
  if (lhs.seconds != rhs.seconds) return lhs.seconds < rhs.seconds ? -1 : 1;
  // Fractions without trailing zeros compare as decimals when compared as text.
  const int order = lhs.fraction.compare(rhs.fraction);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace nolt
