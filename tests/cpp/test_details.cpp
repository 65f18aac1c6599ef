#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "profiling/details.h"

namespace nolt {
namespace {

using namespace std::string_view_literals;

struct MomentCase {
  std::string_view text;
  bool valid;
  MomentKind kind = MomentKind::Naive;
  std::int64_t seconds = 0;
  std::string_view fraction = "";
};

constexpr std::int64_t k2024 = 1704067200;  // 2024-01-01T00:00:00Z

class ParseMomentTest : public ::testing::TestWithParam<MomentCase> {};

TEST_P(ParseMomentTest, ReadsTheExtendedFormsOnly) {
  const MomentCase& expected = GetParam();
  const std::optional<Moment> moment = parse_moment(expected.text);
  ASSERT_EQ(moment.has_value(), expected.valid) << expected.text;
  if (!moment) return;
  EXPECT_EQ(moment->kind, expected.kind) << expected.text;
  EXPECT_EQ(moment->seconds, expected.seconds) << expected.text;
  EXPECT_EQ(moment->fraction, expected.fraction) << expected.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseMomentTest,
    ::testing::Values(
        MomentCase{"1970-01-01", true, MomentKind::Naive, 0}, MomentCase{"2024-01-01", true, MomentKind::Naive, k2024},
        MomentCase{"2024-02-29 12:30", true, MomentKind::Naive, k2024 + 59 * 86400 + 45000},
        MomentCase{"2024-01-01T00:00:01.250000", true, MomentKind::Naive, k2024 + 1, "25"},
        MomentCase{"2024-01-01T00:00:01,000", true, MomentKind::Naive, k2024 + 1, ""},
        MomentCase{"2024-01-01T01:00:00+01:00", true, MomentKind::Aware, k2024},
        MomentCase{"2024-01-01T00:00:00-0130", true, MomentKind::Aware, k2024 + 5400},
        MomentCase{"2024-01-01T00:00:00-00", true, MomentKind::Aware, k2024},
        MomentCase{"2023-12-31T23:00:00Z", true, MomentKind::Aware, k2024 - 3600},
        MomentCase{"0001-01-01", true, MomentKind::Naive, -62135596800},
        MomentCase{"2024-12-31 23:59:59", true, MomentKind::Naive, k2024 + 366 * 86400 - 1},
        MomentCase{"2024-12-31T23:59:60", false}, MomentCase{"2024-12-31T2a:59:59", false},
        MomentCase{"2023-02-29T00:00:00", false}, MomentCase{"2024-12-31T23-59:59", false},
        MomentCase{"9999-12-31T23:59:59.999999999", true, MomentKind::Naive, 253402300799, "999999999"},
        MomentCase{"23:59:59.5", true, MomentKind::TimeOfDay, 86399, "5"},
        MomentCase{"00:00", true, MomentKind::TimeOfDay, 0}, MomentCase{"", false}, MomentCase{"2024", false},
        MomentCase{"0000-01-01", false}, MomentCase{"2023-02-29", false}, MomentCase{"2024-13-01", false},
        MomentCase{"2024-1-01", false}, MomentCase{"20240101", false}, MomentCase{"2024-W01-1", false},
        MomentCase{"2024-01-01T", false}, MomentCase{"2024-01-01T24:00", false},
        MomentCase{"2024-01-01T12:60", false}, MomentCase{"2024-01-01T12:00:60", false},
        MomentCase{"2024-01-01T12:00:00.", false}, MomentCase{"2024-01-01T12:00:00+24:00", false},
        MomentCase{"2024-01-01T12:00:00+01:00:00", false}, MomentCase{"2024-01-01T12:00:00+1", false},
        MomentCase{"2024-01-01T12:00:00z", false}, MomentCase{"2024-01-01x", false},
        MomentCase{"12:00:00Z", false}, MomentCase{"12:00:00 ", false}, MomentCase{"２０２４-01-01", false}));

// The common layouts are read by a faster road than the general reader: both
// must agree on every day (a fraction of zero sends a text down the general one).
TEST(ParseMomentTest, CommonLayoutsAgreeWithTheGeneralReader) {
  std::mt19937_64 random(3);
  for (int draw_idx = 0; draw_idx < 20000; ++draw_idx) {
    const int year = draw_idx < 10000 ? 1890 + draw_idx % 280 : 1 + static_cast<int>(random() % 9999);
    const int month = 1 + static_cast<int>(random() % 12);
    const int day = 1 + static_cast<int>(random() % 31);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, static_cast<int>(random() % 24),
                  static_cast<int>(random() % 60), static_cast<int>(random() % 60));
    const std::string common(text);
    const std::optional<Moment> fast = parse_moment(common);
    const std::optional<Moment> general = parse_moment(common + ".0");
    ASSERT_EQ(fast.has_value(), general.has_value()) << common;
    const std::optional<Moment> date = parse_moment(common.substr(0, 10));
    ASSERT_EQ(date.has_value(), fast.has_value()) << common;
    if (!fast) continue;
    EXPECT_EQ(fast->seconds, general->seconds) << common;
    EXPECT_EQ(date->seconds, fast->seconds - (fast->seconds % 86400 + 86400) % 86400) << common;
  }
}

TEST(CompareMomentsTest, FractionsCompareAsDecimals) {
  const auto at = [](std::string_view text) { return *parse_moment(text); };
  EXPECT_LT(compare_moments(at("12:00:00.25"), at("12:00:00.5")), 0);
  EXPECT_LT(compare_moments(at("12:00:00.5"), at("12:00:00.51")), 0);
  EXPECT_EQ(compare_moments(at("12:00:00.5"), at("12:00:00.500")), 0);
  EXPECT_LT(compare_moments(at("12:00:00"), at("12:00:00.000000001")), 0);
  EXPECT_EQ(compare_moments(at("2024-01-01T01:00:00+01:00"), at("2024-01-01T00:00:00Z")), 0);
}

TEST(Utf8Test, CountsCodePointsNotBytes) {
  for (std::string_view text : {""sv, "a"sv, "abcdefgh"sv, "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"sv,
                                "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80 longer than eight bytes"sv}) {
    std::size_t expected = 0;
    for (char byte : text) expected += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    EXPECT_EQ(utf8_code_point_count(text), expected) << text;
  }
  EXPECT_EQ(utf8_code_point_count("\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), 7u);
}

ColumnInput column_of(LogicalType type, ColumnValues values) { return ColumnInput{"c", std::move(values), type}; }

ColumnDetails details_of(const ColumnInput& column) {
  const DatasetProfile profile = profile_dataset_columns({column}).value();
  return column_details(column, profile.columns[0]);
}

TEST(ColumnDetailsTest, NumbersCountNonFiniteZerosAndNegatives) {
  ColumnValues values;
  for (double value : {1.5, std::bit_cast<double>(0xFFF0000000000123ULL), std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), -0.0, 0.0,
                       -2.5}) {
    values.push_float(value);
  }
  values.push_integer(0);
  values.push_integer(-3);
  values.push_null();
  const auto details = std::get<NumberDetails>(details_of(column_of(LogicalType::Float, std::move(values))));
  EXPECT_EQ(details.nan_count, 2u);
  EXPECT_EQ(details.positive_infinity_count, 1u);
  EXPECT_EQ(details.negative_infinity_count, 1u);
  EXPECT_EQ(details.zero_count, 3u);
  EXPECT_EQ(details.negative_count, 2u);
}

TEST(ColumnDetailsTest, TopValuesByCountThenFirstAppearance) {
  ColumnValues values;
  values.push_text("b");
  values.push_float(-0.0);
  values.push_text("a");
  values.push_integer(1);
  values.push_float(0.0);
  values.push_boolean(true);
  values.push_text("a");
  values.push_text("\xf0\x9f\x98\x80");
  values.push_null();
  values.push_text("b");
  values.push_integer(7);
  const ColumnInput column = column_of(LogicalType::String, std::move(values));
  const auto details = std::get<TextDetails>(details_of(column));
  EXPECT_EQ(details.min_length, 1u);
  EXPECT_EQ(details.max_length, 1u);
  ASSERT_EQ(details.top_values.size(), kTopValueCount);
  const std::vector<std::uint64_t> counts = {2, 2, 2, 1, 1};
  for (std::size_t idx = 0; idx < kTopValueCount; ++idx) EXPECT_EQ(details.top_values[idx].count, counts[idx]);
  EXPECT_EQ(details.top_values[0].value.text, "b");
  EXPECT_EQ(details.top_values[1].value.cell.float_bits(), std::bit_cast<std::uint64_t>(-0.0));  // as first seen
  EXPECT_EQ(details.top_values[2].value.text, "a");
  EXPECT_EQ(details.top_values[3].value.cell.as_integer(), 1);
  EXPECT_EQ(details.top_values[4].value.cell.kind(), ValueKind::Boolean);
}

TEST(ColumnDetailsTest, DatetimeRangeOnlyForOneKind) {
  std::vector<ColumnInput> columns;  // the details view their texts
  columns.reserve(2);
  const auto range_of = [&](std::vector<std::string_view> texts) {
    ColumnValues values;
    for (std::string_view text : texts) values.push_text(text);
    values.push_null();
    values.push_integer(5);
    columns.push_back(column_of(LogicalType::Datetime, std::move(values)));
    return std::get<DatetimeDetails>(details_of(columns.back()));
  };
  const DatetimeDetails aware =
      range_of({"2024-01-01T00:30:00+01:00", "2024-01-01T00:00:00Z", "2023-12-31T23:30:00Z", "bad"});
  EXPECT_EQ(aware.earliest, "2024-01-01T00:30:00+01:00");  // the first of the two equal instants
  EXPECT_EQ(aware.latest, "2024-01-01T00:00:00Z");
  EXPECT_EQ(aware.aware_count, 3u);
  EXPECT_EQ(aware.invalid_count, 2u);
  const DatetimeDetails mixed = range_of({"2024-01-01", "2024-01-02T00:00:00Z", "12:00"});
  EXPECT_FALSE(mixed.earliest.has_value());
  EXPECT_FALSE(mixed.latest.has_value());
  EXPECT_EQ(mixed.naive_count + mixed.aware_count + mixed.time_count, 3u);
}

// Every detail and profile field as text, so that whole results compare at once;
// a shown value carries its cell's payload (a text's offset: the occurrence shown).
std::string describe(const ColumnProfile& profile, const ColumnDetails& details) {
  std::ostringstream out;
  out << profile.null_count << "/" << profile.unique_count;
  if (const auto* text = std::get_if<TextDetails>(&details)) {
    out << " len " << text->min_length.value_or(0) << ".." << text->max_length.value_or(0) << (text->min_length ? "" : "-");
    for (const TopValue& top : text->top_values) {
      out << " " << static_cast<int>(top.value.cell.kind()) << ":" << top.value.text << "@" << top.value.cell.float_bits()
          << "x" << top.count;
    }
  } else if (const auto* number = std::get_if<NumberDetails>(&details)) {
    out << " n " << number->nan_count << " " << number->positive_infinity_count << " "
        << number->negative_infinity_count << " " << number->zero_count << " " << number->negative_count;
  } else if (const auto* datetime = std::get_if<DatetimeDetails>(&details)) {
    out << " d " << datetime->earliest.value_or("-") << " " << datetime->latest.value_or("-") << " "
        << datetime->invalid_count;
  }
  return out.str();
}

// A column of `rows` cells drawn from about `distinct` texts (with non-ASCII
// ones; or naive date-times, equal instants written two ways, as `moments`),
// and with `mixed` also nulls, numbers (-0.0, NaNs) and booleans.
ColumnValues random_column(std::size_t rows, std::size_t distinct, bool mixed, std::uint64_t seed,
                           bool moments = false) {
  std::mt19937_64 random(seed);
  ColumnValues values;
  for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
    const std::uint64_t draw = random() % (distinct == 0 ? 1 : distinct);
    switch (mixed ? random() % 8 : 7) {
      case 0: values.push_null(); break;
      case 1: values.push_integer(static_cast<std::int64_t>(draw % 3)); break;
      case 2: values.push_float(draw % 3 == 0 ? -0.0 : (draw % 3 == 1 ? std::nan("") : 1.0)); break;
      case 3: values.push_boolean(draw % 2 == 0); break;
      default:
        if (moments) {
          char text[32];
          const auto size = std::snprintf(text, sizeof text, "2024-03-%02dT%02d:00:00", static_cast<int>(draw % 28 + 1),
                                          static_cast<int>(draw / 28 % 24));
          if (draw / 672 % 2 == 1) text[10] = ' ';
          values.push_text(std::string_view(text, static_cast<std::size_t>(size)));
          break;
        }
        std::string text = draw % 5 == 0 ? "\xc3\xa9\xe2\x82\xac" : "k";
        text += std::to_string(draw);
        text.append(draw % 7, 'x');
        values.push_text(text);
    }
  }
  return values;
}

// Numbers around zero: with `floats` also ±0.0, NaNs, infinities and integers among the floats.
ColumnValues random_numbers(std::size_t rows, bool floats, std::uint64_t seed) {
  constexpr double kSpecial[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                 -std::numeric_limits<double>::quiet_NaN(), -1.5, 2.5};
  std::mt19937_64 random(seed);
  ColumnValues values;
  for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
    const std::uint64_t draw = random();
    if (draw % 11 == 0) {
      values.push_null();
    } else if (!floats || draw % 3 == 0) {
      values.push_integer(static_cast<std::int64_t>(draw >> 8) % 5 - 2);
    } else {
      values.push_float(kSpecial[(draw >> 8) % 8]);
    }
  }
  return values;
}

struct FoldCase {
  std::size_t rows;
  std::size_t distinct;
  bool mixed;
  LogicalType type;
};

class FoldedDetailsTest : public ::testing::TestWithParam<FoldCase> {};

// The profile with its details computed together equals the profile and the
// details computed apart, on one thread and on several.
TEST_P(FoldedDetailsTest, EqualTheSeparatePasses) {
  const FoldCase& test_case = GetParam();
  std::vector<ColumnInput> columns;
  columns.push_back(column_of(test_case.type, random_column(test_case.rows, test_case.distinct, test_case.mixed, 1,
                                                            test_case.type == LogicalType::Datetime)));
  columns.push_back(column_of(LogicalType::Unknown, random_column(test_case.rows, 3, true, 2)));
  columns.push_back(column_of(LogicalType::Float, random_numbers(test_case.rows, true, 3)));
  columns.push_back(column_of(LogicalType::Integer, random_numbers(test_case.rows, false, 4)));
  const DatasetProfile profile = profile_dataset_columns(columns).value();
  const std::vector<ColumnDetails> details = profile_details(columns, profile).value();
  for (const std::size_t threads : {1, 2, 3}) {
    Executor executor(threads);
    const ProfileWithDetails together = profile_dataset_with_details(columns, ExecutionContext{&executor}).value();
    for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
      EXPECT_EQ(describe(together.profile.columns[column_idx], together.details[column_idx]),
                describe(profile.columns[column_idx], details[column_idx]))
          << "column " << column_idx << ", " << threads << " threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Columns, FoldedDetailsTest,
    ::testing::Values(FoldCase{0, 0, false, LogicalType::String}, FoldCase{1, 1, true, LogicalType::String},
                      FoldCase{500, 4, true, LogicalType::Categorical}, FoldCase{20000, 15000, false, LogicalType::String},
                      FoldCase{60000, 1u << 30, true, LogicalType::String},
                      FoldCase{300000, 200000, false, LogicalType::String},
                      FoldCase{300000, 1u << 30, false, LogicalType::Categorical},
                      FoldCase{300000, 40, true, LogicalType::String},
                      FoldCase{300000, 150000, true, LogicalType::Datetime},
                      FoldCase{300000, 150000, false, LogicalType::Datetime}));

}  // namespace
}  // namespace nolt
