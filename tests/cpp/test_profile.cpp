#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/hashing.h"
#include "parallel/execution.h"
#include "profiling/distinct.h"
#include "profiling/profile.h"

namespace nolt {
namespace {

double nan_with_bits(std::uint64_t bits) {
  const double value = std::bit_cast<double>(bits);
  EXPECT_TRUE(std::isnan(value));
  return value;
}

ColumnInput column(std::string name, LogicalType type, ColumnValues values) {
  return ColumnInput{std::move(name), std::move(values), type};
}

TEST(CountUniqueTest, KindsNeverCompareEqual) {
  ColumnValues values;
  values.push_integer(1);
  values.push_float(1.0);
  values.push_boolean(true);
  values.push_text("1");
  values.push_null();
  values.push_integer(1);
  values.push_text("1");
  EXPECT_EQ(count_unique(values), 4u);
}

TEST(CountUniqueTest, FloatsAreCanonical) {
  ColumnValues values;
  values.push_float(nan_with_bits(0x7FF8000000000000ULL));
  values.push_float(nan_with_bits(0x7FF0000000000001ULL));
  values.push_float(nan_with_bits(0xFFF8000000000123ULL));
  values.push_float(0.0);
  values.push_float(-0.0);
  values.push_float(std::numeric_limits<double>::infinity());
  values.push_float(-std::numeric_limits<double>::infinity());
  EXPECT_EQ(count_unique(values), 4u);
  EXPECT_EQ(canonical_float_bits(-0.0), 0u);
  EXPECT_EQ(canonical_float_bits(nan_with_bits(0xFFF0000000000001ULL)), 0x7FF8000000000000ULL);
}

TEST(CountUniqueTest, TextsCompareByBytes) {
  ColumnValues values;
  using namespace std::string_view_literals;
  for (std::string_view text : {"a"sv, "A"sv, "a"sv, ""sv, ""sv, "a\0b"sv, "a\0c"sv}) {
    values.push_text(text);
  }
  EXPECT_EQ(count_unique(values), 5u);
}

TEST(CountUniqueTest, NullsAndEmptyColumnsCountNothing) {
  ColumnValues values;
  EXPECT_EQ(count_unique(values), 0u);
  for (int row_idx = 0; row_idx < 3; ++row_idx) values.push_null();
  EXPECT_EQ(count_unique(values), 0u);
}

// Large mixed columns go through the sizing policy; the counts must match an
// ordinary set whether the opening rows are distinct or not.
TEST(CountUniqueTest, LargeColumnsMatchAnOrdinarySet) {
  std::mt19937_64 rng(5);
  for (std::uint64_t cardinality : {3u, 50u, 5000u, 1u << 30}) {
    ColumnValues values;
    std::set<std::string> texts;
    std::set<std::int64_t> ints;
    std::set<std::uint64_t> float_bits;
    for (int row_idx = 0; row_idx < 30000; ++row_idx) {
      const std::uint64_t draw = rng() % cardinality;
      switch (rng() % 4) {
        case 0: {
          const std::string text = "text" + std::to_string(draw);
          values.push_text(text);
          texts.insert(text);
          break;
        }
        case 1:
          values.push_integer(static_cast<std::int64_t>(draw));
          ints.insert(static_cast<std::int64_t>(draw));
          break;
        case 2:
          values.push_float(static_cast<double>(draw) / 4.0);
          float_bits.insert(canonical_float_bits(static_cast<double>(draw) / 4.0));
          break;
        default:
          values.push_null();
      }
    }
    EXPECT_EQ(count_unique(values), texts.size() + ints.size() + float_bits.size()) << cardinality;
  }
}

// Pairs of unequal ASCII texts whose hashes agree in their top 32 bits: each
// `prefix` followed by four bytes of seven bits of a number.
std::vector<std::string> texts_sharing_fingerprints(std::string_view prefix, std::size_t pairs) {
  std::map<std::uint64_t, std::string> seen;
  std::vector<std::string> texts;
  for (std::uint32_t number = 0; texts.size() < 2 * pairs; ++number) {
    std::string text(prefix);
    for (unsigned shift = 0; shift < 28; shift += 7) text.push_back(static_cast<char>((number >> shift) & 0x7F));
    const auto [it, fresh] = seen.emplace(hash_text(text) >> 32, text);
    if (!fresh) texts.insert(texts.end(), {it->second, text});
  }
  return texts;
}

// Texts of a few bytes, NUL and high bytes among them, some prefixes of
// others, and texts that share fingerprints: short, eight-byte and long ones, mostly
// distinct (hash partitions, with text words or, for texts that rarely
// repeat, without) or repeated (one table), on one thread and two, with and
// without tallies.
TEST(CountUniqueTest, ShortAndLongTextsMatchAnOrdinarySet) {
  std::mt19937_64 rng(18);
  Executor executor(2);
  std::vector<std::string> sharing = texts_sharing_fingerprints("", 2);
  for (std::string_view prefix : {"abcd", "a longer "}) {  // eight bytes (packed when ASCII) and thirteen
    for (std::string& text : texts_sharing_fingerprints(prefix, 2)) sharing.push_back(std::move(text));
  }
  // "u" and the row; past the opening rows that decide how to count them,
  // one row in 64 repeats an earlier row's text and one in 256 a sharing one.
  constexpr std::size_t kRarelyRepeated = 0;
  for (std::size_t max_length : {std::size_t{5}, std::size_t{14}, kRarelyRepeated}) {
    ColumnValues values;
    std::map<std::string, std::uint64_t> counts;
    for (int row_idx = 0; row_idx < 200000; ++row_idx) {
      std::string text(rng() % (max_length + 1), 'a');
      for (char& byte : text) byte = "\0a\xff"[rng() % 3];
      if (max_length != kRarelyRepeated) {
        if (row_idx % 8 == 0) text = sharing[rng() % sharing.size()];
      } else if (row_idx >= 10000 && row_idx % 256 == 0) {
        text = sharing[rng() % sharing.size()];
      } else {
        text = "u" + std::to_string(row_idx >= 10000 && row_idx % 64 == 63 ? rng() % row_idx : row_idx);
      }
      values.push_text(text);
      ++counts[text];
    }
    std::uint64_t most = 0;
    for (const auto& [text, count] : counts) most = std::max(most, count);
    for (const ExecutionContext& context : {kSerialContext, ExecutionContext{&executor, nullptr}}) {
      ColumnWorkspace workspace;
      TextTallies tallies;
      EXPECT_EQ(count_column_values(values, context)->unique_count, counts.size()) << max_length;
      EXPECT_EQ(count_column_values(values, workspace, context, &tallies)->unique_count, counts.size()) << max_length;
      EXPECT_EQ(tallies.top_texts[0].count, most) << max_length;
    }
  }
}

TEST(ProfileColumnsTest, CountsPerColumn) {
  std::vector<ColumnInput> columns;
  ColumnValues numbers;
  for (std::int64_t value : {4, 1, 3, 1}) numbers.push_integer(value);
  columns.push_back(column("n", LogicalType::Integer, std::move(numbers)));
  ColumnValues texts;
  texts.push_text("x");
  texts.push_null();
  texts.push_text("x");
  texts.push_integer(7);
  columns.push_back(column("s", LogicalType::String, std::move(texts)));

  auto profile = profile_dataset_columns(columns);
  ASSERT_TRUE(profile.ok());
  EXPECT_EQ(profile->row_count, 4u);
  ASSERT_EQ(profile->columns.size(), 2u);
  const ColumnProfile& numeric = profile->columns[0];
  EXPECT_EQ(numeric.name, "n");
  EXPECT_EQ(numeric.logical_type, LogicalType::Integer);
  EXPECT_EQ(numeric.count, 4u);
  EXPECT_EQ(numeric.null_count, 0u);
  EXPECT_EQ(numeric.unique_count, 3u);
  ASSERT_TRUE(numeric.numeric_stats.has_value());
  EXPECT_EQ(numeric.numeric_stats->median, 2.0);
  const ColumnProfile& text = profile->columns[1];
  EXPECT_EQ(text.logical_type, LogicalType::String);
  EXPECT_EQ(text.count, 4u);
  EXPECT_EQ(text.null_count, 1u);
  EXPECT_EQ(text.unique_count, 2u);
  EXPECT_FALSE(text.numeric_stats.has_value());
}

TEST(ProfileColumnsTest, EmptyDataset) {
  auto profile = profile_dataset_columns({});
  ASSERT_TRUE(profile.ok());
  EXPECT_EQ(profile->row_count, 0u);
  EXPECT_TRUE(profile->columns.empty());
}

TEST(ProfileColumnsTest, FirstFailingColumnWins) {
  std::vector<ColumnInput> columns;
  ColumnValues fine;
  fine.push_integer(1);
  fine.push_integer(2);
  columns.push_back(column("fine", LogicalType::Integer, std::move(fine)));
  ColumnValues bad_second;
  bad_second.push_integer(1);
  bad_second.push_float(2.5);
  columns.push_back(column("age", LogicalType::Integer, std::move(bad_second)));
  ColumnValues bad_third;
  bad_third.push_text("x");
  bad_third.push_text("y");
  columns.push_back(column("score", LogicalType::Float, std::move(bad_third)));

  auto profile = profile_columns(columns, 2);
  ASSERT_FALSE(profile.ok());
  EXPECT_EQ(profile.error().kind(), CoreErrorKind::TypeError);
  EXPECT_EQ(profile.error().message(), "Column 'age' expected integer values but received Float");
}

TEST(ProfileColumnsTest, LengthsAreCheckedFirst) {
  std::vector<ColumnInput> columns;
  ColumnValues three;
  for (int row_idx = 0; row_idx < 3; ++row_idx) three.push_text("x");
  columns.push_back(column("a", LogicalType::Integer, std::move(three)));
  ColumnValues two;
  two.push_null();
  two.push_null();
  columns.push_back(column("b", LogicalType::Float, std::move(two)));

  auto profile = profile_dataset_columns(columns);
  ASSERT_FALSE(profile.ok());
  EXPECT_EQ(profile.error().kind(), CoreErrorKind::ValueError);
  EXPECT_EQ(profile.error().message(), "Column 'b' has 2 values; expected 3");
}

}  // namespace
}  // namespace nolt
