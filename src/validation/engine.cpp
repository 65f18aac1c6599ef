#include "validation/engine.h"

#include <algorithm>

#include "common/name_join.h"
#include "validation/allowed_set.h"

namespace nolt {

namespace {

ValidationIssue make_issue(IssueCode code, std::string_view column, std::optional<IssueValue> expected = std::nullopt,
                           std::optional<IssueValue> observed = std::nullopt) {
  return ValidationIssue{code, Severity::Error, std::string(column), std::move(expected), std::move(observed)};
}

// The cells of a column in stretches of kInterruptStride, with an interrupt
// check before every stretch but the first; visit(cell) returns false to stop.
template <class Visit>
Status scan_cells(const ColumnValues& values, const ExecutionContext& context, Visit&& visit) {
  const std::size_t row_count = values.size();
  for (std::size_t chunk_begin = 0; chunk_begin < row_count; chunk_begin += kInterruptStride) {
    if (chunk_begin != 0) NOLT_TRY(context.check());
    const std::size_t chunk_end = std::min(row_count, chunk_begin + kInterruptStride);
    for (std::size_t row_idx = chunk_begin; row_idx < chunk_end; ++row_idx) {
      if (!visit(values[row_idx])) return Status();
    }
  }
  return Status();
}

// Emits one value_not_allowed per distinct disallowed string or boolean cell,
// in the order the values are first met. Texts stay borrowed from the column's
// arena until the issues are built.
Status check_allowed_values(const SuggestedColumnSchema& schema_column, const ColumnValues& values,
                            std::vector<ValidationIssue>& issues, const ExecutionContext& context) {
  const AllowedSet allowed(*schema_column.constraints.allowed_values, schema_column.logical_type);
  if (allowed.empty()) return Status();

  struct Disallowed {
    std::string_view text;
    bool is_boolean;
    bool boolean;
  };
  std::vector<Disallowed> first_met;
  TextViewSet seen_texts;
  bool seen_true = false;
  bool seen_false = false;
  NOLT_TRY(scan_cells(values, context, [&](const Cell& cell) {
    if (cell.kind() == ValueKind::String) {
      const std::string_view text = values.text(cell);
      if (allowed.contains_text(text)) return true;
      if (seen_texts.insert(text).second) first_met.push_back({text, false, false});
    } else if (cell.kind() == ValueKind::Boolean) {
      const bool value = cell.as_boolean();
      if (allowed.contains_boolean(value)) return true;
      bool& seen = value ? seen_true : seen_false;
      if (!seen) {
        seen = true;
        first_met.push_back({{}, true, value});
      }
    }
    return true;
  }));
  for (const Disallowed& value : first_met) {
    IssueValue observed = value.is_boolean ? IssueValue(value.boolean) : IssueValue(std::string(value.text));
    issues.push_back(make_issue(IssueCode::ValueNotAllowed, schema_column.name, std::nullopt, std::move(observed)));
  }
  return Status();
}

// True at the first integer or float cell strictly outside the bounds. A NaN
// cell is skipped and a NaN bound never compares, so neither ever violates.
Result<bool> violates_range(const SuggestedNumericRange& range, const ColumnValues& values,
                            const ExecutionContext& context) {
  if (!range.min && !range.max) return false;
  const bool has_min = range.min.has_value();
  const bool has_max = range.max.has_value();
  const double min = range.min.value_or(0.0);
  const double max = range.max.value_or(0.0);
  bool violated = false;
  NOLT_TRY(scan_cells(values, context, [&](const Cell& cell) {
    double value;
    if (cell.kind() == ValueKind::Integer) {
      // Nearest double: above 2**53 neighbouring integers compare as equal.
      value = static_cast<double>(cell.as_integer());
    } else if (cell.kind() == ValueKind::Float) {
      value = cell.as_float();
    } else {
      return true;
    }
    violated = (has_min && value < min) || (has_max && value > max);
    return !violated;
  }));
  return violated;
}

Result<bool> column_has_null(const ColumnValues& values, const ExecutionContext& context) {
  bool found = false;
  NOLT_TRY(scan_cells(values, context, [&](const Cell& cell) {
    found = cell.is_null();
    return !found;
  }));
  return found;
}

Status check_schema_column(const SuggestedColumnSchema& schema_column, const ColumnInput* found,
                           std::vector<ValidationIssue>& issues, const ExecutionContext& context) {
  if (found == nullptr) {
    issues.push_back(make_issue(IssueCode::MissingColumn, schema_column.name));
    return Status();
  }
  const ColumnInput& column = *found;
  if (column.logical_type != schema_column.logical_type) {
    // Filled in place: moving a freshly made logical-type alternative trips a
    // false -Wmaybe-uninitialized in sanitizer builds.
    ValidationIssue& issue = issues.emplace_back(make_issue(IssueCode::TypeMismatch, schema_column.name));
    issue.expected.emplace(std::in_place_type<LogicalType>, schema_column.logical_type);
    issue.observed.emplace(std::in_place_type<LogicalType>, column.logical_type);
    return Status();
  }
  if (!schema_column.nullable) {
    NOLT_ASSIGN_OR_RETURN(const bool has_null_cell, column_has_null(column.values, context));
    if (has_null_cell) issues.push_back(make_issue(IssueCode::NullNotAllowed, schema_column.name));
  }
  if (schema_column.constraints.allowed_values) {
    NOLT_TRY(check_allowed_values(schema_column, column.values, issues, context));
  }
  const auto& range = schema_column.constraints.numeric_range;
  if (range && is_numeric(schema_column.logical_type)) {
    NOLT_ASSIGN_OR_RETURN(const bool violated, violates_range(*range, column.values, context));
    if (violated) issues.push_back(make_issue(IssueCode::RangeViolation, schema_column.name));
  }
  return Status();
}

}  // namespace

Result<std::vector<ValidationIssue>> validate_against_schema(const std::vector<ColumnInput>& columns,
                                                             const std::vector<SuggestedColumnSchema>& schema_columns,
                                                             const ExecutionContext& context) {
  // Later columns replace earlier ones of the same name: the last one is checked.
  struct Check {
    const SuggestedColumnSchema* schema_column;
    const ColumnInput* column;
  };
  std::vector<Check> checks;
  checks.reserve(schema_columns.size());
  std::vector<const ColumnInput*> unexpected;
  join_by_name(
      schema_columns, columns,
      [&](const SuggestedColumnSchema& schema_column, const ColumnInput* column) {
        checks.push_back({&schema_column, column});
      },
      [&](const ColumnInput& column) { unexpected.push_back(&column); });

  // Each schema column's issues apart, then all of them in schema order.
  std::vector<std::vector<ValidationIssue>> found(checks.size());
  NOLT_TRY(run_until_failure(context, checks.size(), [&](std::size_t check_idx) {
    return check_schema_column(*checks[check_idx].schema_column, checks[check_idx].column, found[check_idx],
                               context);
  }));
  std::vector<ValidationIssue> issues;
  for (std::vector<ValidationIssue>& column_issues : found) {
    for (ValidationIssue& issue : column_issues) issues.push_back(std::move(issue));
  }
  for (const ColumnInput* column : unexpected) issues.push_back(make_issue(IssueCode::UnexpectedColumn, column->name));
  return issues;
}

std::vector<ValidationIssue> validate_against_schema(const std::vector<ColumnInput>& columns,
                                                     const std::vector<SuggestedColumnSchema>& schema_columns) {
  // The serial context is never interrupted, so validation cannot fail.
  return validate_against_schema(columns, schema_columns, kSerialContext).value();
}

}  // namespace nolt
