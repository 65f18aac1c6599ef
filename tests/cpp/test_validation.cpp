#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "validation/engine.h"

namespace nolt {

// Readable failure output: code, column, expected and observed.
void PrintTo(const ValidationIssue& issue, std::ostream* out) {
  const auto value_text = [](const std::optional<IssueValue>& value) -> std::string {
    if (!value) return "-";
    if (const auto* text = std::get_if<std::string>(&*value)) return "'" + *text + "'";
    if (const auto* flag = std::get_if<bool>(&*value)) return *flag ? "true" : "false";
    return std::string(logical_type_name(std::get<LogicalType>(*value)));
  };
  *out << issue_code_name(issue.code) << "/" << severity_name(issue.severity) << "(" << issue.column.value_or("-")
       << ", " << value_text(issue.expected) << ", " << value_text(issue.observed) << ")";
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A cell as written in a test: null, integer, float, boolean or text.
using TestCell = std::variant<std::monostate, std::int64_t, double, bool, std::string>;

ColumnInput column(std::string name, LogicalType type, std::vector<TestCell> cells = {}) {
  ColumnInput input;
  input.name = std::move(name);
  input.logical_type = type;
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

SuggestedColumnSchema schema(std::string name, LogicalType type, bool nullable = true,
                             std::optional<SuggestedNumericRange> range = std::nullopt,
                             std::optional<std::vector<SuggestedValue>> allowed = std::nullopt) {
  return SuggestedColumnSchema{std::move(name), type, nullable, SuggestedConstraints{range, std::move(allowed)}};
}

ValidationIssue issue(IssueCode code, std::string column, std::optional<IssueValue> expected = std::nullopt,
                      std::optional<IssueValue> observed = std::nullopt) {
  return ValidationIssue{code, Severity::Error, std::move(column), std::move(expected), std::move(observed)};
}

ValidationIssue not_allowed(std::string column, IssueValue observed) {
  return issue(IssueCode::ValueNotAllowed, std::move(column), std::nullopt, std::move(observed));
}

std::vector<ColumnInput> dataset(std::vector<ColumnInput> columns) { return columns; }

const std::monostate null{};

TEST(ValidationEngineTest, EmptyInputsGiveNoIssues) {
  EXPECT_TRUE(validate_against_schema({}, {}).empty());
}

TEST(ValidationEngineTest, ConformingDatasetGivesNoIssues) {
  auto columns = dataset({column("id", LogicalType::Integer, {std::int64_t{1}, std::int64_t{2}}),
                          column("color", LogicalType::Categorical, {std::string("red"), null})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("id", LogicalType::Integer, false, SuggestedNumericRange{1.0, 2.0}),
      schema("color", LogicalType::Categorical, true, std::nullopt, std::vector<SuggestedValue>{std::string("red")})};
  EXPECT_TRUE(validate_against_schema(columns, schema_columns).empty());
}

TEST(ValidationEngineTest, MissingBeforeLaterSchemaColumnsAndUnexpectedLast) {
  auto columns = dataset({column("x", LogicalType::String), column("b", LogicalType::Integer, {null})});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("a", LogicalType::String),
                                                       schema("b", LogicalType::Integer, false)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::MissingColumn, "a"),
                                          issue(IssueCode::NullNotAllowed, "b"),
                                          issue(IssueCode::UnexpectedColumn, "x")}));
}

TEST(ValidationEngineTest, TypeMismatchEndsTheChecksOfThatColumn) {
  auto columns = dataset({column("age", LogicalType::String, {null, std::string("x")})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("age", LogicalType::Integer, false, SuggestedNumericRange{0.0, 0.0},
             std::vector<SuggestedValue>{std::string("y")})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{
                issue(IssueCode::TypeMismatch, "age", LogicalType::Integer, LogicalType::String)}));
}

TEST(ValidationEngineTest, LastDatasetColumnOfANameIsTheOneChecked) {
  auto columns = dataset({column("a", LogicalType::Integer, {null}), column("a", LogicalType::Integer, {std::int64_t{1}}),
                          column("b", LogicalType::Float), column("b", LogicalType::Float)});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("a", LogicalType::Integer, false)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::UnexpectedColumn, "b"),
                                          issue(IssueCode::UnexpectedColumn, "b")}));
}

TEST(ValidationEngineTest, RepeatedSchemaColumnsRepeatTheirFindings) {
  auto columns = dataset({column("a", LogicalType::Float, {null})});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("a", LogicalType::Float, false),
                                                       schema("a", LogicalType::Integer, false)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{
                issue(IssueCode::NullNotAllowed, "a"),
                issue(IssueCode::TypeMismatch, "a", LogicalType::Integer, LogicalType::Float)}));
}

TEST(ValidationEngineTest, NamesMatchAsExactBytes) {
  auto columns = dataset({column("Age", LogicalType::Integer), column("caf\xc3\xa9", LogicalType::Integer)});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("age", LogicalType::Integer),
                                                       schema("caf\xc3\xa9", LogicalType::Integer),
                                                       schema("caf\xc3\xa9 ", LogicalType::Integer)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::MissingColumn, "age"),
                                          issue(IssueCode::MissingColumn, "caf\xc3\xa9 "),
                                          issue(IssueCode::UnexpectedColumn, "Age")}));
}

TEST(ValidationEngineTest, OneNullFindingPerColumnAndNaNIsNotNull) {
  auto columns = dataset({column("n", LogicalType::Unknown, {null, null, null}),
                          column("f", LogicalType::Float, {kNaN}),
                          column("ok", LogicalType::Datetime, {null})});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("n", LogicalType::Unknown, false),
                                                       schema("f", LogicalType::Float, false),
                                                       schema("ok", LogicalType::Datetime, true)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::NullNotAllowed, "n")}));
}

TEST(ValidationEngineTest, DisallowedValuesInFirstMetOrderOncePerValue) {
  auto columns = dataset({column("s", LogicalType::String,
                                 {std::string("c"), std::string("a"), std::string("d"), std::string("c"), null,
                                  true, std::int64_t{5}, true})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("s", LogicalType::String, true, std::nullopt,
             std::vector<SuggestedValue>{std::string("a"), std::string("b"), true})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{not_allowed("s", std::string("c")), not_allowed("s", std::string("d")),
                                          not_allowed("s", true)}));
}

TEST(ValidationEngineTest, CategoricalAdmitsBothKindsWhichNeverMatchEachOther) {
  auto columns = dataset({column("c", LogicalType::Categorical,
                                 {true, std::string("x"), false, std::string("true"), std::string("x")})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("c", LogicalType::Categorical, true, std::nullopt, std::vector<SuggestedValue>{true})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{not_allowed("c", std::string("x")), not_allowed("c", false),
                                          not_allowed("c", std::string("true"))}));
}

TEST(ValidationEngineTest, BooleanColumnTestsBooleanEntriesOnly) {
  auto columns = dataset({column("b", LogicalType::Boolean, {true, false, std::string("false"), false})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("b", LogicalType::Boolean, true, std::nullopt, std::vector<SuggestedValue>{std::string("false"), true})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{not_allowed("b", false), not_allowed("b", std::string("false"))}));
}

TEST(ValidationEngineTest, EmptyAllowedSetTestsNothing) {
  const std::vector<TestCell> cells = {std::string("x"), true, std::int64_t{1}, 1.5};
  struct Case {
    LogicalType type;
    std::vector<SuggestedValue> allowed;
  };
  const std::vector<Case> cases = {
      {LogicalType::String, {}},
      {LogicalType::Categorical, {}},
      {LogicalType::Boolean, {std::string("true"), std::string("x")}},
      {LogicalType::String, {false}},
      {LogicalType::Integer, {std::string("y"), true}},
      {LogicalType::Float, {std::string("y")}},
      {LogicalType::Datetime, {std::string("y")}},
      {LogicalType::Unknown, {std::string("y"), false}},
  };
  for (const Case& test_case : cases) {
    auto columns = dataset({column("c", test_case.type, cells)});
    std::vector<SuggestedColumnSchema> schema_columns = {
        schema("c", test_case.type, true, std::nullopt, test_case.allowed)};
    EXPECT_TRUE(validate_against_schema(columns, schema_columns).empty())
        << logical_type_name(test_case.type);
  }
}

struct RangeCase {
  const char* label;
  LogicalType type;
  SuggestedNumericRange range;
  std::vector<TestCell> cells;
  bool violates;
};

class ValidationEngineRangeTest : public testing::TestWithParam<RangeCase> {};

TEST_P(ValidationEngineRangeTest, AtMostOneViolation) {
  const RangeCase& test_case = GetParam();
  auto columns = dataset({column("r", test_case.type, test_case.cells)});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("r", test_case.type, true, test_case.range)};
  std::vector<ValidationIssue> expected;
  if (test_case.violates) expected.push_back(issue(IssueCode::RangeViolation, "r"));
  EXPECT_EQ(validate_against_schema(columns, schema_columns), expected);
}

constexpr std::int64_t kTwoTo53 = std::int64_t{1} << 53;

INSTANTIATE_TEST_SUITE_P(
    Ranges, ValidationEngineRangeTest,
    testing::Values(
        RangeCase{"both_sides", LogicalType::Integer, {0.0, 10.0},
                  {std::int64_t{0}, std::int64_t{10}, std::int64_t{11}, std::int64_t{-1}}, true},
        RangeCase{"bounds_are_inside", LogicalType::Integer, {0.0, 10.0}, {std::int64_t{0}, std::int64_t{10}}, false},
        RangeCase{"below_signed_min", LogicalType::Integer, {-5.0, std::nullopt}, {std::int64_t{-6}}, true},
        RangeCase{"at_signed_min", LogicalType::Integer, {-5.0, std::nullopt}, {std::int64_t{-5}}, false},
        RangeCase{"negative_zero_bound", LogicalType::Float, {0.0, -0.0}, {-0.0, 0.0}, false},
        RangeCase{"nan_cell_skipped", LogicalType::Float, {std::nullopt, 1.5}, {kNaN, 1.5}, false},
        RangeCase{"positive_infinity", LogicalType::Float, {std::nullopt, 1.5}, {kNaN, 1.5, kInf}, true},
        RangeCase{"negative_infinity", LogicalType::Float, {0.0, std::nullopt}, {-kInf}, true},
        RangeCase{"nan_bounds_never_violate", LogicalType::Float, {kNaN, kNaN}, {-kInf, kInf, 0.0}, false},
        RangeCase{"nan_min_real_max", LogicalType::Float, {kNaN, 1.0}, {2.0}, true},
        RangeCase{"no_bounds", LogicalType::Integer, {std::nullopt, std::nullopt}, {std::int64_t{-99}}, false},
        RangeCase{"no_cells", LogicalType::Float, {1.0, 0.0}, {}, false},
        RangeCase{"inverted_bounds", LogicalType::Float, {5.0, 1.0}, {3.0}, true},
        RangeCase{"beyond_2_53_rounds", LogicalType::Integer, {std::nullopt, static_cast<double>(kTwoTo53)},
                  {kTwoTo53 + 1}, false},
        RangeCase{"beyond_2_53_far", LogicalType::Integer, {std::nullopt, static_cast<double>(kTwoTo53)},
                  {kTwoTo53 + 2}, true},
        RangeCase{"int64_extremes", LogicalType::Integer, {-9.3e18, 9.3e18},
                  {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}, false},
        RangeCase{"non_numeric_cells_skipped", LogicalType::Integer, {0.0, 1.0},
                  {null, true, std::string("99")}, false},
        RangeCase{"integer_column_float_cell", LogicalType::Integer, {0.0, 1.0}, {1.25}, true},
        RangeCase{"string_column_untested", LogicalType::String, {0.0, 1.0}, {std::int64_t{7}}, false},
        RangeCase{"categorical_column_untested", LogicalType::Categorical, {0.0, 1.0}, {9.0}, false},
        RangeCase{"boolean_column_untested", LogicalType::Boolean, {0.0, 0.0}, {std::int64_t{3}}, false},
        RangeCase{"datetime_column_untested", LogicalType::Datetime, {0.0, 0.0}, {std::int64_t{3}}, false}),
    [](const testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.label); });

TEST(ValidationEngineTest, NullThenValuesThenRange) {
  auto columns = dataset({column("s", LogicalType::String, {std::string("z"), null}),
                          column("i", LogicalType::Integer, {std::int64_t{50}, null})});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("s", LogicalType::String, false, SuggestedNumericRange{0.0, 1.0},
             std::vector<SuggestedValue>{std::string("a")}),
      schema("i", LogicalType::Integer, false, SuggestedNumericRange{0.0, 1.0},
             std::vector<SuggestedValue>{std::string("a")})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::NullNotAllowed, "s"), not_allowed("s", std::string("z")),
                                          issue(IssueCode::NullNotAllowed, "i"),
                                          issue(IssueCode::RangeViolation, "i")}));
}

TEST(ValidationEngineTest, ColumnsOfDifferentLengthsAreCheckedEachOnItsOwn) {
  auto columns = dataset({column("a", LogicalType::Integer, {std::int64_t{1}}),
                          column("b", LogicalType::Integer, {std::int64_t{1}, std::int64_t{2}, null})});
  std::vector<SuggestedColumnSchema> schema_columns = {schema("a", LogicalType::Integer, false),
                                                       schema("b", LogicalType::Integer, false)};
  EXPECT_EQ(validate_against_schema(columns, schema_columns),
            (std::vector<ValidationIssue>{issue(IssueCode::NullNotAllowed, "b")}));
}

TEST(ValidationEngineTest, ManyDistinctDisallowedValuesKeepTheirOrder) {
  std::vector<TestCell> cells;
  std::vector<ValidationIssue> expected;
  for (int value_idx = 999; value_idx >= 0; --value_idx) {
    cells.emplace_back(std::to_string(value_idx));
    cells.emplace_back(std::to_string(value_idx));
    if (value_idx != 500) expected.push_back(not_allowed("c", std::to_string(value_idx)));
  }
  auto columns = dataset({column("c", LogicalType::Categorical, cells)});
  std::vector<SuggestedColumnSchema> schema_columns = {
      schema("c", LogicalType::Categorical, true, std::nullopt, std::vector<SuggestedValue>{std::string("500")})};
  EXPECT_EQ(validate_against_schema(columns, schema_columns), expected);
}

}  // namespace
}  // namespace nolt
