#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "common/hashing.h"
#include "parallel/execution.h"
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

// The distinct values as the profile defines them, counted in an ordinary set:
// kind first, then the integer or the canonical bits of the float.
std::uint64_t reference_distinct(const ColumnValues& values) {
  std::set<std::pair<int, std::uint64_t>> seen;
  for (const Cell& cell : values) {
    if (cell.kind() == ValueKind::Integer) seen.emplace(0, static_cast<std::uint64_t>(cell.as_integer()));
    if (cell.kind() == ValueKind::Float) seen.emplace(1, canonical_float_bits(cell.as_float()));
  }
  return seen.size();
}

std::vector<double> usable_doubles(const ColumnValues& values) {
  std::vector<double> doubles;
  for (const Cell& cell : values) {
    if (cell.kind() == ValueKind::Integer) doubles.push_back(static_cast<double>(cell.as_integer()));
    if (cell.kind() == ValueKind::Float && std::isfinite(cell.as_float())) doubles.push_back(cell.as_float());
  }
  return doubles;
}

// Float, integer and mixed columns with every special value: counts and
// statistics against the ordinary set and the written-out arithmetic.
TEST(NumericSummaryTest, MatchesTheReferenceOnRandomColumns) {
  std::mt19937_64 rng(99);
  const double specials[] = {0.0, -0.0, kNaN, -kNaN, std::bit_cast<double>(0x7FF0000000000001ULL), kInf, -kInf, 5e-324};
  const std::int64_t big = std::int64_t{1} << 60;
  for (std::size_t size : {0u, 1u, 5u, 300u, 20000u}) {
    for (std::uint64_t cardinality : {std::uint64_t{2}, std::uint64_t{40}, std::uint64_t{1} << 40}) {
      ColumnValues float_column;
      ColumnValues integer_column;
      ColumnValues mixed_column;
      for (std::size_t row_idx = 0; row_idx < size; ++row_idx) {
        const std::uint64_t draw = rng();
        if (draw % 10 == 0) {
          float_column.push_null();
          integer_column.push_null();
          mixed_column.push_null();
          continue;
        }
        const auto integer = static_cast<std::int64_t>(draw % cardinality) - static_cast<std::int64_t>(cardinality / 2);
        // Near 2**60 neighbouring integers share a double.
        integer_column.push_integer(draw % 7 == 0 ? big + integer : integer);
        const double value = draw % 10 == 1 ? specials[(draw >> 8) % std::size(specials)]
                                            : static_cast<double>(integer) / 8.0;
        float_column.push_float(value);
        if (draw % 3 == 0) {
          mixed_column.push_integer(integer / 8);
        } else {
          mixed_column.push_float(value);
        }
      }
      for (auto [type, values] : {std::pair{LogicalType::Float, &float_column},
                                  std::pair{LogicalType::Integer, &integer_column},
                                  std::pair{LogicalType::Float, &integer_column},
                                  std::pair{LogicalType::Float, &mixed_column}}) {
        auto summary = summarize_numeric_column("c", type, *values);
        ASSERT_TRUE(summary.ok());
        EXPECT_EQ(summary->unique_count, reference_distinct(*values)) << "size " << size << ", cardinality " << cardinality;
        EXPECT_EQ(count_unique(*values), summary->unique_count);
        const std::vector<double> doubles = usable_doubles(*values);
        ASSERT_EQ(summary->stats.has_value(), !doubles.empty());
        if (!doubles.empty()) {
          const NumericStats expected = reference_stats(doubles);
          expect_bits(*summary->stats, {expected.min, expected.max, expected.mean, expected.median, expected.p25,
                                        expected.p50, expected.p75});
        }
      }
    }
  }
}

TEST(NumericSummaryTest, DistinctValuesAreExact) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 53;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    const char* what;
    LogicalType type;
    std::vector<Cell> cells;
    std::uint64_t unique_count;
  };
  const Case cases[] = {
      {"integers sharing a double", LogicalType::Integer,
       {Cell::integer(kLimit), Cell::integer(kLimit + 1), Cell::integer(kLimit + 1)}, 2},
      {"negative integers sharing a double", LogicalType::Integer, {Cell::integer(-kLimit - 1), Cell::integer(-kLimit)}, 2},
      {"integer extremes", LogicalType::Integer, {Cell::integer(kMax), Cell::integer(kMax - 1), Cell::integer(kMin)}, 3},
      {"integer and float of one value", LogicalType::Float, {Cell::integer(1), Cell::floating(1.0)}, 2},
      {"integer among floats sharing its double", LogicalType::Float,
       {Cell::integer(kLimit + 1), Cell::integer(kLimit), Cell::floating(9007199254740992.0)}, 3},
      {"zeros", LogicalType::Float, {Cell::integer(0), Cell::floating(-0.0), Cell::floating(0.0)}, 2},
      {"NaN payloads and infinities", LogicalType::Float,
       {Cell::floating(kNaN), Cell::floating(std::bit_cast<double>(0xFFF8000000000123ULL)),
        Cell::floating(std::bit_cast<double>(0x7FF0000000000001ULL)), Cell::floating(kInf), Cell::floating(kInf),
        Cell::floating(-kInf)},
       3},
      {"unusable floats beside an integer", LogicalType::Float, {Cell::floating(kNaN), Cell::integer(1), Cell::null()}, 2},
  };
  for (const Case& test_case : cases) {
    ColumnValues values;
    for (const Cell& cell : test_case.cells) {
      if (cell.kind() == ValueKind::Integer) values.push_integer(cell.as_integer());
      if (cell.kind() == ValueKind::Float) values.push_float(cell.as_float());
      if (cell.kind() == ValueKind::Null) values.push_null();
    }
    auto summary = summarize_numeric_column("c", test_case.type, values);
    ASSERT_TRUE(summary.ok()) << test_case.what;
    EXPECT_EQ(summary->unique_count, test_case.unique_count) << test_case.what;
    EXPECT_EQ(count_unique(values), test_case.unique_count) << test_case.what;
  }
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
  const std::int64_t integers_ascending[] = {std::numeric_limits<std::int64_t>::min(), -1, 0, 1,
                                             std::numeric_limits<std::int64_t>::max()};
  for (std::size_t idx = 0; idx < std::size(integers_ascending); ++idx) {
    EXPECT_EQ(integer_from_order_key(integer_order_key(integers_ascending[idx])), integers_ascending[idx]);
    if (idx > 0) {
      EXPECT_LT(integer_order_key(integers_ascending[idx - 1]), integer_order_key(integers_ascending[idx]));
    }
  }
}

// Key sets that take every path of the sort: comparison sort, sorted input,
// narrow ranges (radix passes), wide ranges (vectorised sort), duplicates.
std::vector<std::vector<std::uint64_t>> key_sets(std::mt19937_64& rng) {
  std::vector<std::vector<std::uint64_t>> sets;
  for (std::size_t size : {0u, 1u, 2u, 100u, 128u, 129u, 5000u, 200000u}) {
    std::vector<std::uint64_t> doubles, narrow, ascending, few, descending;
    for (double value : random_doubles(rng, size)) doubles.push_back(order_key(value));
    for (std::size_t key_idx = 0; key_idx < size; ++key_idx) {
      narrow.push_back(integer_order_key(-1000 + static_cast<std::int64_t>(rng() % (std::uint64_t{1} << 21))));
      ascending.push_back(integer_order_key(static_cast<std::int64_t>(key_idx) - 7));
      few.push_back(order_key(static_cast<double>(rng() % 3) - 1.0));
    }
    descending.assign(ascending.rbegin(), ascending.rend());
    for (auto* keys : {&doubles, &narrow, &ascending, &few, &descending}) sets.push_back(std::move(*keys));
  }
  return sets;
}

TEST(TotalOrderTest, EveryMethodSortsLikeAComparisonSort) {
  std::mt19937_64 rng(7);
  std::vector<std::unique_ptr<Executor>> executors;
  for (std::size_t thread_count : {1u, 2u, 3u, 8u}) executors.push_back(std::make_unique<Executor>(thread_count));
  const KeySorter sorter;
  for (const std::vector<std::uint64_t>& keys : key_sets(rng)) {
    std::vector<std::uint64_t> expected = keys;
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint64_t> scratch(keys.size());

    std::vector<std::uint64_t> sorted = keys;
    sorter.sort(sorted, scratch);
    EXPECT_EQ(sorted, expected) << "with scratch, size " << keys.size();
    sorted = keys;
    sorter.sort(sorted, {});
    EXPECT_EQ(sorted, expected) << "without scratch, size " << keys.size();
    if (!keys.empty()) {
      sorted = keys;
      radix_sort_keys(sorted, scratch, expected.front(), static_cast<unsigned>(std::bit_width(expected.back() - expected.front())));
      EXPECT_EQ(sorted, expected) << "radix, size " << keys.size();
    }
    for (const auto& executor : executors) {
      sorted = keys;
      auto result = sort_keys(sorted, scratch, ExecutionContext{executor.get(), nullptr});
      ASSERT_TRUE(result.ok());
      EXPECT_TRUE(std::equal(result->begin(), result->end(), expected.begin(), expected.end()))
          << executor->thread_count() << " threads, size " << keys.size();
    }
  }
}

}  // namespace
}  // namespace nolt
