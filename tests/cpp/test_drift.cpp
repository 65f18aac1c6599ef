#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "compare/drift.h"

namespace nolt {

void PrintTo(const DriftIssue& issue, std::ostream* out) {
  *out << drift_code_name(issue.code) << "/" << severity_name(issue.severity) << "(" << issue.column << ")";
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using TestCell = std::variant<std::monostate, std::int64_t, double, bool, std::string>;
using Columns = std::vector<ColumnInput>;
using Issues = std::vector<DriftIssue>;

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

// An initializer list would copy every column; a side is built by moving them.
template <class... Inputs>
Columns side(Inputs... inputs) {
  Columns out;
  (out.push_back(std::move(inputs)), ...);
  return out;
}

DriftIssue added(std::string name) { return {std::move(name), Severity::Warning, DriftCode::ColumnAdded}; }
DriftIssue removed(std::string name) { return {std::move(name), Severity::Error, DriftCode::ColumnRemoved}; }
DriftIssue type_changed(std::string name) { return {std::move(name), Severity::Error, DriftCode::LogicalTypeChanged}; }
DriftIssue nulls_changed(std::string name, Severity severity) {
  return {std::move(name), severity, DriftCode::NullabilityChanged};
}

Issues drift(const Columns& before, const Columns& after) {
  Result<DriftReport> report = detect_schema_drift(before, after);
  EXPECT_TRUE(report.ok()) << (report.ok() ? "" : report.error().message());
  return report.ok() ? report->issues : Issues{};
}

void expect_error(const Columns& before, const Columns& after, CoreErrorKind kind, const std::string& message) {
  Result<DriftReport> report = detect_schema_drift(before, after);
  ASSERT_FALSE(report.ok());
  EXPECT_EQ(report.error().kind(), kind);
  EXPECT_EQ(report.error().message(), message);
}

TEST(DriftDetection, RemovedInBeforeOrderThenAddedInAfterOrder) {
  EXPECT_EQ(drift(side(column("Id", LogicalType::Integer), column("keep", LogicalType::String),
                       column("old", LogicalType::String)),
                  side(column("new", LogicalType::String), column("keep", LogicalType::String),
                       column("id", LogicalType::Integer))),
            (Issues{removed("Id"), removed("old"), added("new"), added("id")}));
}

TEST(DriftDetection, SeveritiesOfTypeAndNullChanges) {
  // Values and row counts are not compared; NaN is a value, not a null.
  EXPECT_EQ(drift(side(column("a", LogicalType::Integer, {1, 2}),
                       column("b", LogicalType::String, {std::monostate{}, "y"}),
                       column("f", LogicalType::Float, {1.0, 2.0})),
                  side(column("f", LogicalType::Float, {kNaN}), column("a", LogicalType::Float, {std::monostate{}}),
                       column("b", LogicalType::String, {"x"}))),
            (Issues{type_changed("a"), nulls_changed("a", Severity::Error), nulls_changed("b", Severity::Warning)}));
}

TEST(DriftDetection, RepeatedNames) {
  // After side: the last column with a name is the one matched, and none of them is added.
  EXPECT_EQ(drift(side(column("a", LogicalType::Integer, {1})),
                  side(column("a", LogicalType::String, {"x"}), column("a", LogicalType::Integer, {2}))),
            Issues{});
  EXPECT_EQ(drift(side(column("a", LogicalType::Integer, {1})),
                  side(column("a", LogicalType::Integer, {2}), column("a", LogicalType::String, {"x"}))),
            Issues{type_changed("a")});
  // Before side: every column is compared with the same after column.
  EXPECT_EQ(drift(side(column("a", LogicalType::Integer, {1}), column("a", LogicalType::String, {std::monostate{}})),
                  side(column("a", LogicalType::String, {"x"}))),
            (Issues{type_changed("a"), nulls_changed("a", Severity::Warning)}));
  // Only on the after side: added once per column.
  EXPECT_EQ(drift(Columns{}, side(column("n", LogicalType::Integer), column("n", LogicalType::String))),
            (Issues{added("n"), added("n")}));
}

TEST(DriftPreparation, OtherTypesAcceptEveryValue) {
  const Columns mixed = side(column("u", LogicalType::Unknown, {1, 2.5, true, "x"}),
                             column("s", LogicalType::String, {1, 2.5, true, "x"}),
                             column("f", LogicalType::Float, {1, 2.5, kNaN, std::monostate{}}));
  EXPECT_EQ(drift(mixed, mixed), Issues{});
}

TEST(DriftPreparation, FirstRefusedValueInColumnThenRowOrder) {
  expect_error(side(column("p", LogicalType::Integer, {1, "x", 2.5}), column("q", LogicalType::Integer, {true, 1, 1})),
               Columns{}, CoreErrorKind::TypeError, "Column 'p' expected integer values but received String");
  expect_error(Columns{}, side(column("score", LogicalType::Float, {1.0, true})), CoreErrorKind::TypeError,
               "Column 'score' expected float values but received Boolean");
}

TEST(DriftPreparation, BeforeSideIsPreparedCompletelyFirst) {
  // Before: lengths fine, a bad value in its second column. After: unequal lengths.
  const Columns before = side(column("a", LogicalType::Integer, {1}), column("age", LogicalType::Integer, {2.5}));
  const Columns after = side(column("x", LogicalType::Integer, {1}), column("y", LogicalType::Integer, {}));
  expect_error(before, after, CoreErrorKind::TypeError, "Column 'age' expected integer values but received Float");
  expect_error(side(column("a", LogicalType::Integer, {1})), after, CoreErrorKind::ValueError,
               "Column 'y' has 0 values; expected 1");
  // Within one side the length check comes before any value.
  expect_error(side(column("a", LogicalType::Integer, {2.5}), column("b", LogicalType::Integer, {1, 2})), Columns{},
               CoreErrorKind::ValueError, "Column 'b' has 2 values; expected 1");
}

}  // namespace
}  // namespace nolt
