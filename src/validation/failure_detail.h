// Which rows fail each validation issue, and why: the core's report with the
// failing rows counted, plus the cells that cannot be read as their column's
// declared type, each column's as one issue of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "validation/engine.h"

namespace nolt {

// How many failing rows an issue lists (the first ones, ascending).
inline constexpr std::size_t kFailureRowLimit = 20;

inline constexpr std::string_view kUnreadableValueCode = "unreadable_value";

// A failing cell as it was given: an integer, a float, a boolean or a text.
using FailureValue = std::variant<std::int64_t, double, bool, std::string>;

struct FailureDetail {
  std::uint64_t failure_count = 0;
  std::vector<std::uint64_t> failure_rows;  // the first kFailureRowLimit, ascending
  // The cells of failure_rows, for the codes whose cells are the cause
  // (range_violation and unreadable_value); absent for the others.
  std::optional<std::vector<FailureValue>> failure_values;
  // range_violation only: the bounds and how many cells cross each.
  std::optional<SuggestedNumericRange> range;
  std::uint64_t below_min_count = 0;
  std::uint64_t above_max_count = 0;
  friend bool operator==(const FailureDetail&, const FailureDetail&) = default;
};

// An issue of the core's report, or an unreadable_value issue (whose code the
// core does not have), with its failure detail.
struct DetailedIssue {
  std::string_view code;  // issue_code_name(...) or kUnreadableValueCode
  Severity severity = Severity::Error;
  std::optional<std::string> column;
  std::optional<IssueValue> expected;
  std::optional<IssueValue> observed;
  FailureDetail detail;
};

// Whether a cell can be read as the logical type: integer columns take
// integers, float columns integers and floats, boolean columns booleans,
// datetime columns ISO 8601 dates, date-times and times; nulls fit every
// type and the text types take every cell.
bool fits_logical_type(const Cell& cell, const ColumnValues& values, LogicalType type) noexcept;

// An ISO 8601 calendar date (years 0001 to 9999), date-time or time of day,
// with an optional fraction of up to nine digits and zone (Z or +HH:MM).
bool is_iso_datetime_text(std::string_view text) noexcept;

// The core's issues for the columns and the schema, in the core's order, each
// with its detail; a column with cells that cannot be read as its declared
// type gets an unreadable_value issue before its other issues, and those
// cells take part in none of its other checks. Column-level issues
// (missing, unexpected and type-mismatched columns) fail every row of their
// column: of the dataset (its longest column) for a missing one.
// `cells_fit`, when given, holds one flag per column: a set flag says that
// every cell of that column can be read as its logical type, whatever the
// cell's kind (a temporal column held as its numbers), and spares the test.
Result<std::vector<DetailedIssue>> validate_with_detail(const std::vector<ColumnInput>& columns,
                                                        const std::vector<SuggestedColumnSchema>& schema_columns,
                                                        const ExecutionContext& context,
                                                        std::span<const char> cells_fit = {});

}  // namespace nolt
