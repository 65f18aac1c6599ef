#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "compare/comparison.h"

namespace nolt {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Kind = ColumnChangeKind;
using CS = ComparisonStatus;

ObservedColumnSchema observed(std::string name, LogicalType type = LogicalType::Integer, bool nullable = false,
                              std::uint64_t unique_count = 1, std::optional<ObservedRange> range = std::nullopt,
                              std::optional<std::vector<ObservedValue>> values = std::nullopt) {
  return ObservedColumnSchema{std::move(name), type, nullable, unique_count, range, std::move(values)};
}

ObservedDatasetSchema dataset(std::vector<ObservedColumnSchema> columns, std::uint64_t row_count = 3) {
  return ObservedDatasetSchema{row_count, std::move(columns)};
}

// One entry reduced to what matching decides: name, status, which sides are
// present, which after column was matched (by its unique count) and the changes.
struct Summary {
  std::string name;
  CS status;
  bool has_before;
  std::optional<std::uint64_t> after_unique_count;
  std::vector<Kind> changes;
  friend bool operator==(const Summary&, const Summary&) = default;
};

std::vector<Summary> summarize(const DatasetComparison& comparison) {
  std::vector<Summary> out;
  for (const ColumnComparison& entry : comparison.columns) {
    std::optional<std::uint64_t> after_unique;
    if (entry.after) after_unique = entry.after->observed_unique_count;
    out.push_back(Summary{entry.name, entry.status, entry.before.has_value(), after_unique, entry.changes});
  }
  return out;
}

std::vector<Kind> changes_between(const ObservedColumnSchema& before, const ObservedColumnSchema& after) {
  const DatasetComparison comparison = compare_observed_schemas(dataset({before}), dataset({after}));
  EXPECT_EQ(comparison.columns.size(), 1u);
  const ColumnComparison& entry = comparison.columns.front();
  EXPECT_EQ(entry.status, entry.changes.empty() ? CS::Unchanged : CS::Changed);
  return entry.changes;
}

TEST(CompareMatching, IdenticalSchemasAreUnchangedInBeforeOrder) {
  const auto schema = dataset({observed("a"), observed("b", LogicalType::String)});
  const DatasetComparison comparison = compare_observed_schemas(schema, schema);
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"a", CS::Unchanged, true, 1, {}},
                                                         {"b", CS::Unchanged, true, 1, {}}}));
  EXPECT_EQ(comparison.before_row_count, 3u);
  EXPECT_EQ(comparison.after_row_count, 3u);
}

TEST(CompareMatching, EmptySides) {
  EXPECT_TRUE(compare_observed_schemas(dataset({}, 0), dataset({}, 0)).columns.empty());
  const DatasetComparison added = compare_observed_schemas(dataset({}, 0), dataset({observed("x")}, 5));
  EXPECT_EQ(summarize(added), (std::vector<Summary>{{"x", CS::Added, false, 1, {}}}));
  EXPECT_EQ(added.before_row_count, 0u);
  EXPECT_EQ(added.after_row_count, 5u);
  const DatasetComparison removed = compare_observed_schemas(dataset({observed("x")}), dataset({}, 0));
  EXPECT_EQ(summarize(removed), (std::vector<Summary>{{"x", CS::Removed, true, std::nullopt, {}}}));
}

TEST(CompareMatching, ReorderedAfterSideFollowsBeforeOrder) {
  const DatasetComparison comparison = compare_observed_schemas(
      dataset({observed("a"), observed("b"), observed("c")}), dataset({observed("c"), observed("a"), observed("b")}));
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"a", CS::Unchanged, true, 1, {}},
                                                         {"b", CS::Unchanged, true, 1, {}},
                                                         {"c", CS::Unchanged, true, 1, {}}}));
}

TEST(CompareMatching, NamesMatchAsExactBytes) {
  const DatasetComparison comparison = compare_observed_schemas(
      dataset({observed("Name"), observed("id"), observed("x ")}),
      dataset({observed("name"), observed("id"), observed("x")}));
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"Name", CS::Removed, true, std::nullopt, {}},
                                                         {"id", CS::Unchanged, true, 1, {}},
                                                         {"x ", CS::Removed, true, std::nullopt, {}},
                                                         {"name", CS::Added, false, 1, {}},
                                                         {"x", CS::Added, false, 1, {}}}));
}

TEST(CompareMatching, RepeatedAfterNameMatchesTheLastAndAddsNothing) {
  const DatasetComparison comparison = compare_observed_schemas(
      dataset({observed("a", LogicalType::Integer, false, 2)}),
      dataset({observed("a", LogicalType::Integer, false, 1), observed("a", LogicalType::Integer, false, 2)}));
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"a", CS::Unchanged, true, 2, {}}}));
}

TEST(CompareMatching, RepeatedBeforeNameComparesEachWithTheSameAfterColumn) {
  const DatasetComparison comparison = compare_observed_schemas(
      dataset({observed("a", LogicalType::Integer, false, 1), observed("a", LogicalType::Integer, false, 2)}),
      dataset({observed("a", LogicalType::Integer, false, 2)}));
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"a", CS::Changed, true, 2, {Kind::UniqueCountChanged}},
                                                         {"a", CS::Unchanged, true, 2, {}}}));
}

TEST(CompareMatching, RepeatedNameOnlyAfterIsAddedEachTime) {
  const DatasetComparison comparison = compare_observed_schemas(
      dataset({observed("b")}), dataset({observed("n", LogicalType::Integer, false, 1), observed("b"),
                                          observed("n", LogicalType::Integer, false, 2)}));
  EXPECT_EQ(summarize(comparison), (std::vector<Summary>{{"b", CS::Unchanged, true, 1, {}},
                                                         {"n", CS::Added, false, 1, {}},
                                                         {"n", CS::Added, false, 2, {}}}));
}

TEST(CompareMatching, EntriesOwnCopiesOfTheColumns) {
  DatasetComparison comparison;
  {
    const auto before = dataset({observed("a", LogicalType::String, true, 2, std::nullopt,
                                          std::vector<ObservedValue>{std::string("x"), std::string("y")})});
    comparison = compare_observed_schemas(before, before);
  }
  ASSERT_EQ(comparison.columns.size(), 1u);
  const ColumnComparison& entry = comparison.columns.front();
  ASSERT_TRUE(entry.before && entry.after);
  EXPECT_EQ(entry.before->name, "a");
  EXPECT_EQ(*entry.after->observed_values, (std::vector<ObservedValue>{std::string("x"), std::string("y")}));
}

TEST(CompareChanges, EveryCheckFiresInFixedOrder) {
  const auto before = observed("a", LogicalType::Integer, false, 2, ObservedRange{1.0, 2.0});
  const auto after = observed("a", LogicalType::String, true, 3, std::nullopt,
                              std::vector<ObservedValue>{std::string("1")});
  EXPECT_EQ(changes_between(before, after),
            (std::vector<Kind>{Kind::LogicalTypeChanged, Kind::NullabilityChanged, Kind::UniqueCountChanged,
                               Kind::RangeChanged, Kind::ObservedValuesChanged}));
}

struct RangeCase {
  const char* label;
  std::optional<ObservedRange> before;
  std::optional<ObservedRange> after;
  bool changed;
};

class CompareRange : public testing::TestWithParam<RangeCase> {};

TEST_P(CompareRange, DetectsExactDifferences) {
  const RangeCase& param = GetParam();
  const auto changes = changes_between(observed("a", LogicalType::Float, false, 1, param.before),
                                       observed("a", LogicalType::Float, false, 1, param.after));
  EXPECT_EQ(changes, param.changed ? std::vector<Kind>{Kind::RangeChanged} : std::vector<Kind>{});
}

INSTANTIATE_TEST_SUITE_P(
    CompareRanges, CompareRange,
    testing::Values(RangeCase{"both_absent", std::nullopt, std::nullopt, false},
                    RangeCase{"equal", ObservedRange{1.0, 2.0}, ObservedRange{1.0, 2.0}, false},
                    RangeCase{"gained", std::nullopt, ObservedRange{1.0, 2.0}, true},
                    RangeCase{"lost", ObservedRange{1.0, 2.0}, std::nullopt, true},
                    RangeCase{"min_moves", ObservedRange{1.0, 2.0}, ObservedRange{0.5, 2.0}, true},
                    RangeCase{"max_moves_by_one_ulp", ObservedRange{1.0, 2.0},
                              ObservedRange{1.0, 2.0000000000000004}, true},
                    RangeCase{"signed_zeros_are_equal", ObservedRange{-0.0, 0.0}, ObservedRange{0.0, -0.0}, false},
                    RangeCase{"nan_min_on_both_sides", ObservedRange{kNaN, 1.0}, ObservedRange{kNaN, 1.0}, true},
                    RangeCase{"nan_max_on_one_side", ObservedRange{0.0, 1.0}, ObservedRange{0.0, kNaN}, true}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.label); });

struct ValuesCase {
  const char* label;
  std::optional<std::vector<ObservedValue>> before;
  std::optional<std::vector<ObservedValue>> after;
  bool changed;
};

class CompareValues : public testing::TestWithParam<ValuesCase> {};

TEST_P(CompareValues, DetectsOrderedDifferences) {
  const ValuesCase& param = GetParam();
  const auto changes = changes_between(observed("a", LogicalType::Categorical, false, 1, std::nullopt, param.before),
                                       observed("a", LogicalType::Categorical, false, 1, std::nullopt, param.after));
  EXPECT_EQ(changes, param.changed ? std::vector<Kind>{Kind::ObservedValuesChanged} : std::vector<Kind>{});
}

using Values = std::vector<ObservedValue>;

INSTANTIATE_TEST_SUITE_P(
    CompareObservedValues, CompareValues,
    testing::Values(
        ValuesCase{"both_absent", std::nullopt, std::nullopt, false},
        ValuesCase{"both_empty", Values{}, Values{}, false},
        ValuesCase{"empty_versus_absent", Values{}, std::nullopt, true},
        ValuesCase{"equal", Values{std::string("b"), std::string("a")}, Values{std::string("b"), std::string("a")},
                   false},
        ValuesCase{"other_order", Values{std::string("b"), std::string("a")},
                   Values{std::string("a"), std::string("b")}, true},
        ValuesCase{"longer", Values{std::string("a")}, Values{std::string("a"), std::string("b")}, true},
        ValuesCase{"case_differs", Values{std::string("a")}, Values{std::string("A")}, true},
        ValuesCase{"booleans_equal", Values{false, true}, Values{false, true}, false},
        ValuesCase{"booleans_reordered", Values{false, true}, Values{true, false}, true},
        ValuesCase{"boolean_never_equals_text", Values{true}, Values{std::string("true")}, true}),
    [](const testing::TestParamInfo<ValuesCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace nolt
