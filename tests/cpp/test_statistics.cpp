#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "profiling/profile.h"
#include "profiling/statistics.h"
#include "profiling/total_order.h"

namespace nolt {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits_of(double value) { return std::bit_cast<std::uint64_t>(value); }

ColumnValues floats(std::initializer_list<double> items) {
  ColumnValues values;
  for (double item : items) values.push_float(item);
  return values;
}

ColumnValues integers(std::initializer_list<std::int64_t> items) {
  ColumnValues values;
  for (std::int64_t item : items) values.push_integer(item);
  return values;
}

NumericStats stats_of(LogicalType type, const ColumnValues& values) {
  auto stats = compute_numeric_stats("c", type, values);
  EXPECT_TRUE(stats.ok());
  EXPECT_TRUE(stats->has_value());
  return stats->value_or(NumericStats{});
}

void expect_bits(const NumericStats& stats, std::initializer_list<double> expected) {
  const double actual[] = {stats.min, stats.max, stats.mean, stats.median, stats.p25, stats.p50, stats.p75};
  std::size_t field_idx = 0;
  for (double value : expected) {
    EXPECT_EQ(bits_of(actual[field_idx]), bits_of(value)) << "field " << field_idx << ": " << actual[field_idx]
                                                          << " vs " << value;
    ++field_idx;
  }
}

// --- the per-cell rule ---

struct CellCase {
  LogicalType type;
  Cell cell;
  std::optional<double> value;
  const char* refused_kind;  // null when accepted
};

TEST(NumericValueTest, FollowsTheCellAndColumnTable) {
  const CellCase cases[] = {
      {LogicalType::Integer, Cell::null(), std::nullopt, nullptr},
      {LogicalType::Float, Cell::null(), std::nullopt, nullptr},
      {LogicalType::Integer, Cell::integer(-3), -3.0, nullptr},
      {LogicalType::Float, Cell::integer(9007199254740993), 9007199254740992.0, nullptr},
      {LogicalType::Integer, Cell::floating(2.5), std::nullopt, "Float"},
      {LogicalType::Integer, Cell::floating(kNaN), std::nullopt, "Float"},
      {LogicalType::Integer, Cell::floating(kInf), std::nullopt, "Float"},
      {LogicalType::Float, Cell::floating(2.5), 2.5, nullptr},
      {LogicalType::Float, Cell::floating(kNaN), std::nullopt, nullptr},
      {LogicalType::Float, Cell::floating(-kInf), std::nullopt, nullptr},
      {LogicalType::Integer, Cell::boolean(true), std::nullopt, "Boolean"},
      {LogicalType::Float, Cell::boolean(false), std::nullopt, "Boolean"},
      {LogicalType::Integer, Cell::text(0, 1), std::nullopt, "String"},
      {LogicalType::Float, Cell::text(0, 0), std::nullopt, "String"},
  };
  for (const CellCase& test_case : cases) {
    auto result = numeric_value("col", test_case.type, test_case.cell);
    if (test_case.refused_kind != nullptr) {
      ASSERT_FALSE(result.ok());
      EXPECT_EQ(result.error().kind(), CoreErrorKind::TypeError);
      EXPECT_EQ(result.error().message(), str_cat("Column 'col' expected ", logical_type_name(test_case.type),
                                                  " values but received ", test_case.refused_kind));
    } else {
      ASSERT_TRUE(result.ok());
      EXPECT_EQ(*result, test_case.value);
    }
  }
}

TEST(NumericValueTest, OtherColumnTypesTakeNoValueAndNeverFail) {
  for (LogicalType type : {LogicalType::Boolean, LogicalType::String, LogicalType::Datetime, LogicalType::Categorical,
                           LogicalType::Unknown}) {
    for (const Cell& cell : {Cell::null(), Cell::integer(1), Cell::floating(1.5), Cell::boolean(true), Cell::text(0, 0)}) {
      auto result = numeric_value("col", type, cell);
      ASSERT_TRUE(result.ok());
      EXPECT_FALSE(result->has_value());
    }
  }
}

// --- statistics ---

TEST(NumericStatsTest, StatedExamples) {
  expect_bits(stats_of(LogicalType::Integer, integers({4, 1, 3, 2})), {1.0, 4.0, 2.5, 2.5, 1.75, 2.5, 3.25});
  expect_bits(stats_of(LogicalType::Float, floats({1.0, kNaN, kInf})), {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0});
  expect_bits(stats_of(LogicalType::Float, integers({1, 2})), {1.0, 2.0, 1.5, 1.5, 1.25, 1.5, 1.75});
  expect_bits(stats_of(LogicalType::Float, floats({1e308, 1e308})), {1e308, 1e308, 1e308, 1e308, 1e308, 1e308, 1e308});
  const double rounded = 9007199254740992.0;
  expect_bits(stats_of(LogicalType::Integer, integers({9007199254740993})),
              {rounded, rounded, rounded, rounded, rounded, rounded, rounded});
  expect_bits(stats_of(LogicalType::Float, floats({0.0, -0.0})), {-0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
  expect_bits(stats_of(LogicalType::Float, floats({-0.0})), {-0.0, -0.0, 0.0, -0.0, -0.0, -0.0, -0.0});
  expect_bits(stats_of(LogicalType::Float, floats({-2.5})), {-2.5, -2.5, -2.5, -2.5, -2.5, -2.5, -2.5});
}

TEST(NumericStatsTest, NullsAreSkippedAndExtremeIntegersConvert) {
  ColumnValues values = integers({1});
  values.push_null();
  values.push_integer(3);
  expect_bits(stats_of(LogicalType::Integer, values), {1.0, 3.0, 2.0, 2.0, 1.5, 2.0, 2.5});
  const double low = -9223372036854775808.0;
  const double high = 9223372036854775808.0;
  const NumericStats extremes = stats_of(
      LogicalType::Integer, integers({std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}));
  expect_bits(extremes, {low, high, high * ((-1.0 + 1.0) / 2.0), 0.0, low * 0.75 + high * 0.25, 0.0,
                         low * 0.25 + high * 0.75});
}

TEST(NumericStatsTest, AbsentWithoutUsableValuesOrForOtherTypes) {
  ColumnValues only_unusable = floats({kNaN, kInf, -kInf});
  only_unusable.push_null();
  auto stats = compute_numeric_stats("c", LogicalType::Float, only_unusable);
  ASSERT_TRUE(stats.ok());
  EXPECT_FALSE(stats->has_value());

  stats = compute_numeric_stats("c", LogicalType::Integer, ColumnValues{});
  ASSERT_TRUE(stats.ok());
  EXPECT_FALSE(stats->has_value());

  ColumnValues mixed = integers({1});
  mixed.push_text("x");
  mixed.push_boolean(true);
  stats = compute_numeric_stats("c", LogicalType::Categorical, mixed);
  ASSERT_TRUE(stats.ok());
  EXPECT_FALSE(stats->has_value());
}

TEST(NumericStatsTest, FirstOffendingCellDecides) {
  ColumnValues values = floats({1.0, kNaN});
  values.push_text("x");
  values.push_boolean(true);
  auto stats = compute_numeric_stats("score", LogicalType::Float, values);
  ASSERT_FALSE(stats.ok());
  EXPECT_EQ(stats.error().kind(), CoreErrorKind::TypeError);
  EXPECT_EQ(stats.error().message(), "Column 'score' expected float values but received String");

  stats = compute_numeric_stats("age", LogicalType::Integer, integers({1, 2}));
  ASSERT_TRUE(stats.ok());
  ColumnValues with_float = integers({1});
  with_float.push_float(2.0);
  stats = compute_numeric_stats("age", LogicalType::Integer, with_float);
  ASSERT_FALSE(stats.ok());
  EXPECT_EQ(stats.error().message(), "Column 'age' expected integer values but received Float");
}

// The stated arithmetic, written out over doubles sorted with a comparison.
NumericStats reference_stats(std::vector<double> sorted) {
  std::sort(sorted.begin(), sorted.end(), [](double lhs, double rhs) {
    if (lhs == rhs) return std::signbit(lhs) && !std::signbit(rhs);
    return lhs < rhs;
  });
  NumericStats stats;
  stats.min = sorted.front();
  stats.max = sorted.back();
  const double scale = std::max(std::fabs(stats.min), std::fabs(stats.max));
  if (scale == 0.0) {
    stats.mean = 0.0;
  } else {
    double accumulator = -0.0;
    for (double value : sorted) accumulator = accumulator + value / scale;
    stats.mean = scale * (accumulator / static_cast<double>(sorted.size()));
  }
  auto percentile = [&](double fraction) {
    const double position = fraction * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(position));
    const auto hi = static_cast<std::size_t>(std::ceil(position));
    const double f = position - static_cast<double>(lo);
    return (1.0 - f) * sorted[lo] + f * sorted[hi];
  };
  stats.median = stats.p50 = percentile(0.5);
  stats.p25 = percentile(0.25);
  stats.p75 = percentile(0.75);
  return stats;
}

// Finite doubles of every class: zeros of both signs, subnormals, the
// extremes and ordinary values over the whole exponent range.
std::vector<double> random_doubles(std::mt19937_64& rng, std::size_t count) {
  const double specials[] = {0.0, -0.0, 5e-324, -5e-324, 2.2250738585072009e-308, -2.2250738585072014e-308,
                             std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(), 1.0, -1.0};
  std::vector<double> values;
  values.reserve(count);
  while (values.size() < count) {
    const std::uint64_t draw = rng();
    if (draw % 8 == 0) {
      values.push_back(specials[(draw >> 8) % std::size(specials)]);
    } else {
      const double value = std::bit_cast<double>(rng());
      if (std::isfinite(value)) values.push_back(value);
    }
  }
  return values;
}

TEST(NumericStatsTest, MatchesTheReferenceOnRandomColumns) {
  std::mt19937_64 rng(20240601);
  for (std::size_t size : {1u, 2u, 3u, 7u, 255u, 256u, 257u, 1000u, 40000u}) {
    const std::vector<double> doubles = random_doubles(rng, size);
    ColumnValues values;
    for (double value : doubles) values.push_float(value);
    const NumericStats expected = reference_stats(doubles);
    expect_bits(stats_of(LogicalType::Float, values), {expected.min, expected.max, expected.mean, expected.median,
                                                       expected.p25, expected.p50, expected.p75});
  }
}

// --- the distinct count taken from the sorted values ---

TEST(NumericSummaryTest, DistinctCountAgreesWithTheHashSet) {
  std::mt19937_64 rng(99);
  const double specials[] = {0.0, -0.0, kNaN, -kNaN, kInf, -kInf, 5e-324, 1.5};
  for (std::size_t size : {0u, 1u, 5u, 300u, 20000u}) {
    for (std::uint64_t cardinality : {std::uint64_t{2}, std::uint64_t{40}, std::uint64_t{1} << 40}) {
      ColumnValues float_column;
      ColumnValues integer_column;
      for (std::size_t row_idx = 0; row_idx < size; ++row_idx) {
        const std::uint64_t draw = rng();
        if (draw % 10 == 0) {
          float_column.push_null();
          integer_column.push_null();
          continue;
        }
        const auto integer = static_cast<std::int64_t>(draw % cardinality) - static_cast<std::int64_t>(cardinality / 2);
        integer_column.push_integer(integer);
        float_column.push_float(draw % 10 == 1 ? specials[(draw >> 8) % std::size(specials)]
                                               : static_cast<double>(integer) / 8.0);
      }
      for (auto [type, values] : {std::pair{LogicalType::Float, &float_column},
                                  std::pair{LogicalType::Integer, &integer_column},
                                  std::pair{LogicalType::Float, &integer_column}}) {
        auto summary = summarize_numeric_column("c", type, *values);
        ASSERT_TRUE(summary.ok());
        ASSERT_TRUE(summary->unique_count.has_value());
        EXPECT_EQ(*summary->unique_count, count_unique(*values)) << "size " << size << ", cardinality " << cardinality;
        auto stats = compute_numeric_stats("c", type, *values);
        ASSERT_TRUE(stats.ok());
        ASSERT_EQ(summary->stats.has_value(), stats->has_value());
        if (stats->has_value()) {
          EXPECT_EQ(bits_of(summary->stats->mean), bits_of((*stats)->mean));
          EXPECT_EQ(bits_of(summary->stats->p25), bits_of((*stats)->p25));
        }
      }
    }
  }
}

TEST(NumericSummaryTest, LeavesAmbiguousColumnsToTheHashSet) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 53;
  auto unique_of = [](LogicalType type, const ColumnValues& values) {
    auto summary = summarize_numeric_column("c", type, values);
    EXPECT_TRUE(summary.ok());
    return summary->unique_count;
  };
  // Integers that share a double once converted.
  EXPECT_EQ(unique_of(LogicalType::Integer, integers({kLimit, kLimit + 1})), std::nullopt);
  EXPECT_EQ(unique_of(LogicalType::Integer, integers({-kLimit - 1, 0})), std::nullopt);
  EXPECT_EQ(unique_of(LogicalType::Integer, integers({kLimit, -kLimit, kLimit - 1})), std::optional<std::uint64_t>(3));
  // Integer 1 and Float 1.0 are different values with one double.
  ColumnValues mixed = integers({1});
  mixed.push_float(1.0);
  EXPECT_EQ(unique_of(LogicalType::Float, mixed), std::nullopt);
  ColumnValues mixed_nan = integers({1});
  mixed_nan.push_float(kNaN);
  EXPECT_EQ(unique_of(LogicalType::Float, mixed_nan), std::nullopt);
  // Nothing is known of other column types.
  EXPECT_EQ(unique_of(LogicalType::String, integers({1, 2})), std::nullopt);
  // Only unusable floats: the count still comes from the walk.
  EXPECT_EQ(unique_of(LogicalType::Float, floats({kNaN, -kNaN, kInf, kInf})), std::optional<std::uint64_t>(2));
}

TEST(NumericSummaryTest, FailsLikeTheStatistics) {
  ColumnValues values = floats({1.0});
  values.push_boolean(false);
  auto summary = summarize_numeric_column("score", LogicalType::Float, values);
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error().message(), "Column 'score' expected float values but received Boolean");
}

// --- the total-order sort ---

TEST(TotalOrderTest, KeysOrderLikeTheTotalOrderAndRoundTrip) {
  const double ascending[] = {-kInf, std::numeric_limits<double>::lowest(), -1.0, -5e-324, -0.0, 0.0,
                              5e-324, 1.0, std::numeric_limits<double>::max(), kInf};
  for (std::size_t idx = 0; idx < std::size(ascending); ++idx) {
    EXPECT_EQ(bits_of(from_order_key(order_key(ascending[idx]))), bits_of(ascending[idx]));
    if (idx > 0) {
      EXPECT_LT(order_key(ascending[idx - 1]), order_key(ascending[idx]));
    }
  }
}

TEST(TotalOrderTest, RadixSortMatchesComparisonSort) {
  std::mt19937_64 rng(7);
  for (std::size_t size : {0u, 1u, 2u, 100u, 255u, 256u, 5000u, 200000u}) {
    std::vector<std::uint64_t> keys;
    for (double value : random_doubles(rng, size)) keys.push_back(order_key(value));
    std::vector<std::uint64_t> expected = keys;
    std::sort(expected.begin(), expected.end());

    std::vector<std::uint64_t> radix = keys;
    std::vector<std::uint64_t> scratch(radix.size());
    radix_sort_keys(radix, scratch);
    EXPECT_EQ(radix, expected) << "radix, size " << size;

    std::vector<std::uint64_t> dispatched = keys;
    sort_keys(dispatched);
    EXPECT_EQ(dispatched, expected) << "dispatch, size " << size;
  }
}

TEST(TotalOrderTest, RadixSortSkipsSharedDigitsCorrectly) {
  // Integral doubles share their low bytes; an odd number of real passes
  // leaves the result in the scratch buffer.
  std::mt19937_64 rng(11);
  for (std::uint64_t modulus : {2u, 3u, 1000u, 1u << 20}) {
    std::vector<std::uint64_t> keys;
    for (int key_idx = 0; key_idx < 3000; ++key_idx) {
      keys.push_back(order_key(static_cast<double>(static_cast<std::int64_t>(rng() % modulus) - 5)));
    }
    std::vector<std::uint64_t> expected = keys;
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint64_t> scratch(keys.size());
    radix_sort_keys(keys, scratch);
    EXPECT_EQ(keys, expected) << "modulus " << modulus;
  }
  std::vector<std::uint64_t> same(1000, order_key(-0.0));
  std::vector<std::uint64_t> scratch(same.size());
  radix_sort_keys(same, scratch);
  EXPECT_EQ(same, std::vector<std::uint64_t>(1000, order_key(-0.0)));
}

}  // namespace
}  // namespace nolt
