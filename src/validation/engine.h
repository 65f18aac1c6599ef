// Checks a converted dataset against a suggested schema.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "data/severity.h"
#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "schema/suggested.h"

namespace nolt {

enum class IssueCode : std::uint8_t {
  MissingColumn,
  UnexpectedColumn,
  TypeMismatch,
  NullNotAllowed,
  ValueNotAllowed,
  RangeViolation,
};

constexpr std::string_view issue_code_name(IssueCode code) {
  switch (code) {
    case IssueCode::MissingColumn: return "missing_column";
    case IssueCode::UnexpectedColumn: return "unexpected_column";
    case IssueCode::TypeMismatch: return "type_mismatch";
    case IssueCode::NullNotAllowed: return "null_not_allowed";
    case IssueCode::ValueNotAllowed: return "value_not_allowed";
    case IssueCode::RangeViolation: return "range_violation";
  }
  return "";
}

// A string, a boolean or a logical type.
using IssueValue = std::variant<std::string, bool, LogicalType>;

struct ValidationIssue {
  IssueCode code = IssueCode::MissingColumn;
  Severity severity = Severity::Error;
  std::optional<std::string> column;
  std::optional<IssueValue> expected;
  std::optional<IssueValue> observed;
  friend bool operator==(const ValidationIssue&, const ValidationIssue&) = default;
};

struct ValidationReport {
  std::vector<ValidationIssue> issues;
};

// Every finding is an issue, in schema order, then the unexpected columns in
// input order. Reads the inputs only; the schema's columns are checked over
// the context's threads, and only the context's interrupt makes it fail.
Result<std::vector<ValidationIssue>> validate_against_schema(const std::vector<ColumnInput>& columns,
                                                             const std::vector<SuggestedColumnSchema>& schema_columns,
                                                             const ExecutionContext& context);

// The same on this thread, never interrupted: cannot fail.
std::vector<ValidationIssue> validate_against_schema(const std::vector<ColumnInput>& columns,
                                                     const std::vector<SuggestedColumnSchema>& schema_columns);

}  // namespace nolt
