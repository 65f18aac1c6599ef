#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schema/observed.h"
#include "schema/suggested.h"

namespace nolt {
namespace {

using ObservedList = std::vector<ObservedValue>;

ColumnInput input(std::string name, LogicalType type, ColumnValues values = {}) {
  return ColumnInput{std::move(name), std::move(values), type};
}

// A profile record built by hand, so the derivation is tested on its own.
ColumnProfile profile_of(std::string name, LogicalType type, std::uint64_t count, std::uint64_t null_count,
                         std::uint64_t unique_count, std::optional<NumericStats> stats = std::nullopt) {
  ColumnProfile profile;
  profile.name = std::move(name);
  profile.logical_type = type;
  profile.count = count;
  profile.null_count = null_count;
  profile.unique_count = unique_count;
  profile.numeric_stats = stats;
  return profile;
}

ColumnValues texts(std::initializer_list<const char*> items) {
  ColumnValues values;
  for (const char* item : items) {
    if (item == nullptr) {
      values.push_null();
    } else {
      values.push_text(item);
    }
  }
  return values;
}

TEST(CollectObservedValuesTest, BooleansInFirstAppearanceOrderSkippingOtherKinds) {
  ColumnValues values;
  values.push_null();
  values.push_integer(1);
  values.push_boolean(false);
  values.push_text("true");
  values.push_boolean(false);
  values.push_boolean(true);
  EXPECT_EQ(collect_observed_values(LogicalType::Boolean, values, 4), (ObservedList{false, true}));
}

TEST(CollectObservedValuesTest, BooleanListIsAlwaysProduced) {
  ColumnValues nulls;
  nulls.push_null();
  // The boolean list ignores the distinct-count limit and is never absent.
  EXPECT_EQ(collect_observed_values(LogicalType::Boolean, nulls, 0), ObservedList{});
  EXPECT_EQ(collect_observed_values(LogicalType::Boolean, ColumnValues{}, 1000), ObservedList{});
}

TEST(CollectObservedValuesTest, TextsByExactBytes) {
  ColumnValues values = texts({"b", "a", nullptr, "A", "b", "a "});
  values.push_text(std::string_view("a\0b", 3));
  values.push_text(std::string_view("a\0c", 3));
  values.push_integer(7);
  const ObservedList expected{std::string("b"), std::string("a"), std::string("A"), std::string("a "),
                              std::string("a\0b", 3), std::string("a\0c", 3)};
  for (LogicalType type : {LogicalType::String, LogicalType::Categorical}) {
    EXPECT_EQ(collect_observed_values(type, values, 7), expected);
  }
}

TEST(CollectObservedValuesTest, TextLimitIsFiftyDistinctValues) {
  ColumnValues values = texts({"x", "y"});
  EXPECT_TRUE(collect_observed_values(LogicalType::String, values, kObservedValuesLimit).has_value());
  EXPECT_EQ(collect_observed_values(LogicalType::String, values, kObservedValuesLimit + 1), std::nullopt);
  EXPECT_EQ(collect_observed_values(LogicalType::Categorical, values, kObservedValuesLimit + 1), std::nullopt);
  EXPECT_EQ(collect_observed_values(LogicalType::String, texts({nullptr}), 0), ObservedList{});
}

TEST(CollectObservedValuesTest, OtherTypesHaveNoList) {
  const ColumnValues values = texts({"x", "y"});
  for (LogicalType type : {LogicalType::Integer, LogicalType::Float, LogicalType::Datetime, LogicalType::Unknown}) {
    EXPECT_EQ(collect_observed_values(type, values, 2), std::nullopt) << logical_type_name(type);
  }
}

TEST(DeriveObservedSchemaTest, CopiesProfileFieldsAndRange) {
  DatasetProfile profile;
  profile.row_count = 3;
  NumericStats stats{};
  stats.min = -0.0;
  stats.max = 3.5;
  profile.columns.push_back(profile_of("n", LogicalType::Float, 3, 1, 2, stats));
  profile.columns.push_back(profile_of("d", LogicalType::Datetime, 3, 0, 3));
  profile.columns.push_back(profile_of("c", LogicalType::Categorical, 3, 1, 2));
  std::vector<ColumnInput> columns;
  columns.push_back(input("n", LogicalType::Float));
  columns.push_back(input("d", LogicalType::Datetime, texts({"2020", "2021", "2022"})));
  columns.push_back(input("c", LogicalType::Categorical, texts({"b", nullptr, "a"})));

  Result<ObservedDatasetSchema> result = derive_observed_schema(profile, columns);
  ASSERT_TRUE(result.ok()) << result.error().message();
  const ObservedDatasetSchema& schema = *result;
  EXPECT_EQ(schema.row_count, 3u);
  ASSERT_EQ(schema.columns.size(), 3u);

  const ObservedColumnSchema& numeric = schema.columns[0];
  EXPECT_EQ(numeric.name, "n");
  EXPECT_EQ(numeric.logical_type, LogicalType::Float);
  EXPECT_TRUE(numeric.observed_nullable);
  EXPECT_EQ(numeric.observed_unique_count, 2u);
  ASSERT_TRUE(numeric.observed_range.has_value());
  EXPECT_TRUE(std::signbit(numeric.observed_range->min));  // copied bit for bit
  EXPECT_EQ(numeric.observed_range->max, 3.5);
  EXPECT_EQ(numeric.observed_values, std::nullopt);

  EXPECT_FALSE(schema.columns[1].observed_nullable);
  EXPECT_EQ(schema.columns[1].observed_range.has_value(), false);
  EXPECT_EQ(schema.columns[1].observed_values, std::nullopt);

  EXPECT_EQ(schema.columns[2].observed_values, (ObservedList{std::string("b"), std::string("a")}));
}

struct ConsistencyCase {
  const char* label;
  std::vector<std::pair<std::string, LogicalType>> profile_columns;
  std::vector<std::pair<std::string, LogicalType>> input_columns;
  CoreErrorKind kind;
  const char* message;
};

class DeriveObservedConsistencyTest : public ::testing::TestWithParam<ConsistencyCase> {};

TEST_P(DeriveObservedConsistencyTest, FailsWithExactMessage) {
  const ConsistencyCase& test_case = GetParam();
  DatasetProfile profile;
  for (const auto& [name, type] : test_case.profile_columns) profile.columns.push_back(profile_of(name, type, 0, 0, 0));
  std::vector<ColumnInput> columns;
  for (const auto& [name, type] : test_case.input_columns) columns.push_back(input(name, type));
  Result<ObservedDatasetSchema> result = derive_observed_schema(profile, columns);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), test_case.kind);
  EXPECT_EQ(result.error().message(), test_case.message);
}

constexpr LogicalType kInt = LogicalType::Integer;
constexpr LogicalType kStr = LogicalType::String;

INSTANTIATE_TEST_SUITE_P(
    Cases, DeriveObservedConsistencyTest,
    ::testing::Values(
        ConsistencyCase{"count", {{"a", kInt}}, {{"a", kInt}, {"b", kInt}}, CoreErrorKind::ValueError,
                        "Observed schema input has 2 columns; profile has 1"},
        ConsistencyCase{"name_case", {{"a", kInt}, {"b", kInt}}, {{"a", kInt}, {"B", kInt}},
                        CoreErrorKind::ValueError, "Column 1 is named 'B' in the input but 'b' in the profile"},
        ConsistencyCase{"type", {{"a", kInt}}, {{"a", kStr}}, CoreErrorKind::TypeError,
                        "Column 'a' has logical type string in the input; expected integer"},
        // Pairs are checked in order, each by name then type: the first pair decides.
        ConsistencyCase{"first_pair_decides", {{"a", kInt}, {"b", kInt}}, {{"a", kStr}, {"c", kInt}},
                        CoreErrorKind::TypeError,
                        "Column 'a' has logical type string in the input; expected integer"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DeriveObservedSchemaTest, AllPairsCheckedBeforeObservedValues) {
  // Column 0 would fail on its observed values, column 1 on its type: the type error comes first.
  DatasetProfile profile;
  profile.columns.push_back(profile_of("c", LogicalType::Categorical, 2, 0, 2));
  profile.columns.push_back(profile_of("x", LogicalType::Integer, 2, 0, 0));
  std::vector<ColumnInput> columns;
  ColumnValues mixed = texts({"a"});
  mixed.push_integer(1);
  columns.push_back(input("c", LogicalType::Categorical, std::move(mixed)));
  columns.push_back(input("x", LogicalType::Float));
  Result<ObservedDatasetSchema> result = derive_observed_schema(profile, columns);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().message(), "Column 'x' has logical type float in the input; expected integer");
}

TEST(DeriveObservedSchemaTest, ObservedValuesCountMustMatchUniqueCount) {
  DatasetProfile profile;
  profile.row_count = 2;
  profile.columns.push_back(profile_of("ok", LogicalType::String, 2, 0, 2));
  profile.columns.push_back(profile_of("c", LogicalType::Categorical, 2, 0, 2));
  std::vector<ColumnInput> columns;
  columns.push_back(input("ok", LogicalType::String, texts({"x", "y"})));
  ColumnValues mixed = texts({"a"});
  mixed.push_integer(1);
  columns.push_back(input("c", LogicalType::Categorical, std::move(mixed)));
  Result<ObservedDatasetSchema> result = derive_observed_schema(profile, columns);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), CoreErrorKind::ValueError);
  EXPECT_EQ(result.error().message(), "Column 'c' produced 1 observed values; expected 2");

  // Above the limit nothing is collected, so nothing can disagree.
  profile.columns[1].unique_count = kObservedValuesLimit + 1;
  Result<ObservedDatasetSchema> unlimited = derive_observed_schema(profile, columns);
  ASSERT_TRUE(unlimited.ok()) << unlimited.error().message();
  EXPECT_EQ(unlimited->columns[1].observed_values, std::nullopt);
}

ObservedColumnSchema observed_column(std::string name, LogicalType type, bool nullable,
                                     std::optional<ObservedList> values,
                                     std::optional<ObservedRange> range = std::nullopt) {
  ObservedColumnSchema column;
  column.name = std::move(name);
  column.logical_type = type;
  column.observed_nullable = nullable;
  column.observed_unique_count = values ? values->size() : 0;
  column.observed_range = range;
  column.observed_values = std::move(values);
  return column;
}

SuggestedColumnSchema suggested_column(std::string name, LogicalType type, bool nullable,
                                       std::optional<std::vector<SuggestedValue>> allowed = std::nullopt) {
  SuggestedColumnSchema column;
  column.name = std::move(name);
  column.logical_type = type;
  column.nullable = nullable;
  column.constraints.allowed_values = std::move(allowed);
  return column;
}

TEST(DeriveSuggestedSchemaTest, RulesPerColumn) {
  const std::vector<ObservedColumnSchema> observed = {
      observed_column("f", LogicalType::Float, false, std::nullopt, ObservedRange{1.0, 2.0}),
      observed_column("c", LogicalType::Categorical, true, ObservedList{std::string("b"), std::string("a")}),
      observed_column("c", LogicalType::Categorical, true, ObservedList{}),
      observed_column("wide", LogicalType::Categorical, false, std::nullopt),
      observed_column("s", LogicalType::String, false, ObservedList{std::string("x")}),
      observed_column("b", LogicalType::Boolean, false, ObservedList{true, false}),
  };
  const SuggestedDatasetSchema expected{{
      suggested_column("f", LogicalType::Float, false),
      suggested_column("c", LogicalType::Categorical, true,
                       std::vector<SuggestedValue>{std::string("b"), std::string("a")}),
      suggested_column("c", LogicalType::Categorical, true),
      suggested_column("wide", LogicalType::Categorical, false),
      suggested_column("s", LogicalType::String, false),
      suggested_column("b", LogicalType::Boolean, false),
  }};
  EXPECT_EQ(derive_suggested_schema(observed), expected);
}

}  // namespace
}  // namespace nolt
