#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "validation/failure_detail.h"

namespace nolt {
namespace {

using TestCell = std::variant<std::monostate, std::int64_t, double, bool, std::string>;

ColumnInput column(std::string name, LogicalType type, std::vector<TestCell> cells) {
  ColumnInput input{std::move(name), {}, type};
  for (const TestCell& cell : cells) {
    switch (cell.index()) {
      case 0: input.values.push_null(); break;
      case 1: input.values.push_integer(std::get<1>(cell)); break;
      case 2: input.values.push_float(std::get<2>(cell)); break;
      case 3: input.values.push_boolean(std::get<3>(cell)); break;
      default: input.values.push_text(std::get<4>(cell)); break;
    }
  }
  return input;
}

SuggestedColumnSchema schema(std::string name, LogicalType type, bool nullable,
                             std::optional<SuggestedNumericRange> range = std::nullopt,
                             std::optional<std::vector<SuggestedValue>> allowed = std::nullopt) {
  return SuggestedColumnSchema{std::move(name), type, nullable, SuggestedConstraints{range, std::move(allowed)}};
}

struct Expected {
  std::string code;
  std::string column;
  std::uint64_t count;
  std::vector<std::uint64_t> rows;
  std::optional<std::vector<FailureValue>> values = std::nullopt;
};

TEST(FailureDetail, CountsRowsAndValuesOfEveryIssue) {
  using LT = LogicalType;
  const std::string n_a = "n/a";
  const std::vector<ColumnInput> columns = {
      column("state", LT::Categorical, {"CO", "UT", std::string("XX"), {}, std::string("XX"), std::string("YY")}),
      column("temp", LT::Float, {1.5, n_a, {}, 99.0, std::int64_t{-5}, n_a}),
      column("flag", LT::Boolean, {true, std::string("yes"), false, false, {}, true}),
      column("age", LT::Integer, {std::int64_t{1}, 2.5, std::int64_t{3}, {}, {}, std::int64_t{4}}),
      column("typed", LT::String, {std::string("a"), {}, {}, {}, {}, {}}),
      column("extra", LT::String, {{}, {}, {}, {}, {}, {}}),
  };
  const std::vector<SuggestedColumnSchema> schema_columns = {
      schema("state", LT::Categorical, false, std::nullopt, std::vector<SuggestedValue>{"CO", "UT"}),
      schema("temp", LT::Float, false, SuggestedNumericRange{0.0, 50.0}),
      schema("flag", LT::Boolean, true, std::nullopt, std::vector<SuggestedValue>{true}),
      schema("age", LT::Integer, true, SuggestedNumericRange{std::nullopt, 2.0}),
      schema("typed", LT::Integer, true),
      schema("gone", LT::String, true),
  };
  const std::vector<DetailedIssue> issues = validate_with_detail(columns, schema_columns, kSerialContext).value();
  const std::vector<Expected> expected = {
      {"null_not_allowed", "state", 1, {3}},
      {"value_not_allowed", "state", 2, {2, 4}},
      {"value_not_allowed", "state", 1, {5}},
      {"unreadable_value", "temp", 2, {1, 5}, std::vector<FailureValue>{n_a, n_a}},
      {"null_not_allowed", "temp", 1, {2}},
      {"range_violation", "temp", 2, {3, 4}, std::vector<FailureValue>{99.0, std::int64_t{-5}}},
      // "yes" is unreadable, not also a disallowed value.
      {"unreadable_value", "flag", 1, {1}, std::vector<FailureValue>{std::string("yes")}},
      {"value_not_allowed", "flag", 2, {2, 3}},
      // 2.5 is unreadable as an integer and so not also out of range.
      {"unreadable_value", "age", 1, {1}, std::vector<FailureValue>{2.5}},
      {"range_violation", "age", 2, {2, 5}, std::vector<FailureValue>{std::int64_t{3}, std::int64_t{4}}},
      {"type_mismatch", "typed", 6, {0, 1, 2, 3, 4, 5}},
      {"missing_column", "gone", 6, {0, 1, 2, 3, 4, 5}},
      {"unexpected_column", "extra", 6, {0, 1, 2, 3, 4, 5}},
  };
  ASSERT_EQ(issues.size(), expected.size());
  for (std::size_t idx = 0; idx < issues.size(); ++idx) {
    SCOPED_TRACE(idx);
    EXPECT_EQ(issues[idx].code, expected[idx].code);
    EXPECT_EQ(issues[idx].column, expected[idx].column);
    EXPECT_EQ(issues[idx].detail.failure_count, expected[idx].count);
    EXPECT_EQ(issues[idx].detail.failure_rows, expected[idx].rows);
    EXPECT_EQ(issues[idx].detail.failure_values, expected[idx].values);
  }
  EXPECT_EQ(issues[1].observed, IssueValue(std::string("XX")));
  EXPECT_EQ(issues[3].expected, IssueValue(LT::Float));
  EXPECT_EQ(issues[3].observed, IssueValue(n_a));
  EXPECT_EQ(issues[8].observed, IssueValue(std::string("2.5")));
  EXPECT_EQ(issues[5].detail.below_min_count, 1u);
  EXPECT_EQ(issues[5].detail.above_max_count, 1u);
}

TEST(FailureDetail, KeepsTheCoreReportWhereEveryCellIsReadable) {
  ColumnInput n{"n", {}, LogicalType::Integer};
  for (std::int64_t value = 0; value < 50; ++value) {
    if (value % 7 == 0) {
      n.values.push_null();
    } else {
      n.values.push_integer(value);
    }
  }
  const std::vector<ColumnInput> columns = {std::move(n)};
  const std::vector<SuggestedColumnSchema> schema_columns = {
      schema("n", LogicalType::Integer, false, SuggestedNumericRange{5.0, 40.0})};
  const std::vector<DetailedIssue> issues = validate_with_detail(columns, schema_columns, kSerialContext).value();
  const std::vector<ValidationIssue> core = validate_against_schema(columns, schema_columns);
  ASSERT_EQ(issues.size(), core.size());
  for (std::size_t idx = 0; idx < core.size(); ++idx) {
    EXPECT_EQ(issues[idx].code, issue_code_name(core[idx].code));
    EXPECT_EQ(issues[idx].observed, core[idx].observed);
  }
  EXPECT_EQ(issues[0].detail.failure_count, 8u);  // 0, 7, ..., 49
  // 1-4 and 41-48 but the multiples of 7 (null).
  EXPECT_EQ(issues[1].detail.failure_count, 11u);
  EXPECT_EQ(issues[1].detail.failure_rows, (std::vector<std::uint64_t>{1, 2, 3, 4, 41, 43, 44, 45, 46, 47, 48}));
}

TEST(FailureDetail, ReadsIsoDatetimeText) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"2024-02-29", true},           {"2023-02-29", false},          {"2024-13-01", false},
      {"0000-01-01", false},          {"2024-05-01T12:00:00", true},  {"2024-05-01 12:00", true},
      {"2024-05-01T24:00:00", false}, {"2024-05-01T12:00:00.123456789", true},
      {"2024-05-01T12:00:00.", false}, {"2024-05-01T12:00:00+00:00", true},
      {"2024-05-01T12:00:00Z", true}, {"12:30:05", true},             {"n/a", false},
      {"", false},                    {"2024-05-01x", false},          {"2024-5-01", false},
  };
  for (const auto& [text, fits] : cases) EXPECT_EQ(is_iso_datetime_text(text), fits) << text;
}

}  // namespace
}  // namespace nolt
