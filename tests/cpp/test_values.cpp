#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "data/values.h"
#include "error/core_error.h"

namespace nolt {
namespace {

TEST(LogicalTypeTest, NamesRoundTripInTheirFixedOrder) {
  const char* names[] = {"integer", "float", "boolean", "string", "datetime", "categorical", "unknown"};
  for (int order = 0; order < 7; ++order) {
    auto parsed = parse_logical_type(names[order]);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(static_cast<int>(*parsed), order);
    EXPECT_EQ(logical_type_name(*parsed), names[order]);
  }
}

TEST(LogicalTypeTest, MatchingIsExact) {
  for (const char* text : {"Categorical", "integer ", "", "INTEGER", "str"}) {
    auto parsed = parse_logical_type(text);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error().kind(), CoreErrorKind::ValueError);
    EXPECT_EQ(parsed.error().message(), std::string("Unsupported logical type '") + text + "'");
  }
}

TEST(ColumnValuesTest, CellsKeepTheirPayloadsAndTextsBorrowTheArena) {
  ColumnValues values;
  values.push_null();
  values.push_integer(std::numeric_limits<std::int64_t>::min());
  values.push_float(-0.0);
  values.push_boolean(true);
  values.push_text("h\xc3\xa9llo");
  values.push_text("");
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[0].kind(), ValueKind::Null);
  EXPECT_EQ(values[1].as_integer(), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE(std::signbit(values[2].as_float()));
  EXPECT_TRUE(values[3].as_boolean());
  EXPECT_EQ(values.text(values[4]), "h\xc3\xa9llo");
  EXPECT_EQ(values.text(values[5]), "");
}

TEST(ColumnValuesTest, ViewingColumnsViewTextsWhereTheyLieAndKeepTheirCopiesInPlace) {
  const std::string source = "in place";
  ColumnValues values = ColumnValues::viewing();
  ASSERT_TRUE(values.views_texts());
  const Cell viewed = values.push_viewed_text(source);
  values.push_viewed_text(std::string_view());
  std::vector<std::string> copied;
  std::vector<std::string_view> seen;
  // Copies across several blocks, one longer than a block, must not move as the column grows.
  for (std::size_t length : {std::size_t{3}, std::size_t{70000}, std::size_t{5}, std::size_t{40000}, std::size_t{40000}}) {
    copied.push_back(std::string(length, static_cast<char>('a' + copied.size())));
    seen.push_back(values.text(values.push_text(copied.back())));
  }
  values.push_text("");
  values.push_shared_text(viewed);
  ASSERT_EQ(values.size(), 9u);
  EXPECT_EQ(values.text(values[0]).data(), source.data());
  EXPECT_EQ(values.text(values[1]), "");
  for (std::size_t copy_idx = 0; copy_idx < copied.size(); ++copy_idx) {
    EXPECT_EQ(values.text(values[2 + copy_idx]), copied[copy_idx]);
    EXPECT_EQ(values.text(values[2 + copy_idx]).data(), seen[copy_idx].data());
  }
  EXPECT_EQ(values.text(values[7]), "");
  EXPECT_EQ(values.text(values[8]).data(), source.data());

  // A copy shares the texts and appends apart: neither overwrites the other's.
  ColumnValues copy = values;
  const Cell mine = copy.push_text("copy");
  const Cell theirs = values.push_text("orig");
  EXPECT_EQ(copy.text(mine), "copy");
  EXPECT_EQ(values.text(theirs), "orig");
  EXPECT_EQ(copy.text(copy[3]), copied[1]);

  // A moved-from column takes texts again in blocks of its own.
  ColumnValues moved = std::move(copy);
  copy.push_text("again");
  EXPECT_EQ(copy.text(copy[copy.size() - 1]), "again");
  EXPECT_EQ(moved.text(mine), "copy");
}

TEST(ColumnValuesTest, NanPayloadIsKeptBitForBit) {
  ColumnValues values;
  double nan_with_payload;
  const std::uint64_t bits = 0xFFF8000000000123ull;
  std::memcpy(&nan_with_payload, &bits, sizeof bits);
  values.push_float(nan_with_payload);
  EXPECT_EQ(values[0].float_bits(), bits);
}

ColumnInput column(std::string name, std::size_t length) {
  ColumnInput input;
  input.name = std::move(name);
  for (std::size_t i = 0; i < length; ++i) input.values.push_null();
  return input;
}

TEST(CheckEqualLengthsTest, RowCountOrTheFirstDifferingColumn) {
  std::vector<ColumnInput> none;
  EXPECT_EQ(*check_equal_lengths(none), 0u);

  std::vector<ColumnInput> equal;
  equal.push_back(column("a", 3));
  equal.push_back(column("b", 3));
  EXPECT_EQ(*check_equal_lengths(equal), 3u);

  std::vector<ColumnInput> short_last;
  short_last.push_back(column("a", 3));
  short_last.push_back(column("b", 3));
  short_last.push_back(column("c", 2));
  auto result = check_equal_lengths(short_last);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), CoreErrorKind::ValueError);
  EXPECT_EQ(result.error().message(), "Column 'c' has 2 values; expected 3");

  std::vector<ColumnInput> long_second;
  long_second.push_back(column("a", 3));
  long_second.push_back(column("b", 5));
  long_second.push_back(column("c", 1));
  EXPECT_EQ(check_equal_lengths(long_second).error().message(), "Column 'b' has 5 values; expected 3");
}

Result<int> half(int value) {
  if (value % 2 != 0) return CoreError::value_error("odd");
  return value / 2;
}

Result<int> quarter(int value) {
  NOLT_ASSIGN_OR_RETURN(int halved, half(value));
  NOLT_ASSIGN_OR_RETURN(int quartered, half(halved));
  return quartered;
}

Status check_even(int value) {
  NOLT_TRY(half(value));
  return {};
}

TEST(ResultTest, ErrorsPropagateUnchanged) {
  EXPECT_EQ(*quarter(8), 2);
  auto odd = quarter(6);
  ASSERT_FALSE(odd.ok());
  EXPECT_EQ(odd.error().message(), "odd");
  EXPECT_TRUE(check_even(4).ok());
  EXPECT_FALSE(check_even(3).ok());
  CoreError prefixed = CoreError::type_error("bad").with_prefix("argument 'x': ");
  EXPECT_EQ(prefixed.message(), "argument 'x': bad");
}

}  // namespace
}  // namespace nolt
