#include "validation/engine.h"

#include "common/name_join.h"

namespace nolt {

namespace {

ValidationIssue make_issue(IssueCode code, std::string_view column, std::optional<IssueValue> expected = std::nullopt,
                           std::optional<IssueValue> observed = std::nullopt) {
  return ValidationIssue{code, Severity::Error, std::string(column), std::move(expected), std::move(observed)};
}

// The allowed values a column of one logical type can be tested against. A
// string and a boolean never match each other, so the two kinds are kept apart.
class AllowedSet {
 public:
  AllowedSet(const std::vector<SuggestedValue>& values, LogicalType type) {
    const bool admits_text = type == LogicalType::String || type == LogicalType::Categorical;
    const bool admits_boolean = type == LogicalType::Boolean || type == LogicalType::Categorical;
    for (const SuggestedValue& value : values) {
      if (const std::string* text = std::get_if<std::string>(&value)) {
        if (admits_text) texts_.insert(std::string_view(*text));
      } else if (admits_boolean) {
        (std::get<bool>(value) ? allows_true_ : allows_false_) = true;
      }
    }
  }

  bool empty() const noexcept { return texts_.empty() && !allows_true_ && !allows_false_; }
  bool contains_text(std::string_view text) const { return texts_.contains(text); }
  bool contains_boolean(bool value) const noexcept { return value ? allows_true_ : allows_false_; }

 private:
  TextViewSet texts_;
  bool allows_true_ = false;
  bool allows_false_ = false;
};

// Emits one value_not_allowed per distinct disallowed string or boolean cell,
// in the order the values are first met. Texts stay borrowed from the column's
// arena until the issues are built.
void check_allowed_values(const SuggestedColumnSchema& schema_column, const ColumnValues& values,
                          std::vector<ValidationIssue>& issues) {
  const AllowedSet allowed(*schema_column.constraints.allowed_values, schema_column.logical_type);
  if (allowed.empty()) return;

  struct Disallowed {
    std::string_view text;
    bool is_boolean;
    bool boolean;
  };
  std::vector<Disallowed> first_met;
  TextViewSet seen_texts;
  bool seen_true = false;
  bool seen_false = false;
  for (const Cell& cell : values) {
    if (cell.kind() == ValueKind::String) {
      const std::string_view text = values.text(cell);
      if (allowed.contains_text(text)) continue;
      if (seen_texts.insert(text).second) first_met.push_back({text, false, false});
    } else if (cell.kind() == ValueKind::Boolean) {
      const bool value = cell.as_boolean();
      if (allowed.contains_boolean(value)) continue;
      bool& seen = value ? seen_true : seen_false;
      if (!seen) {
        seen = true;
        first_met.push_back({{}, true, value});
      }
    }
  }
  for (const Disallowed& value : first_met) {
    IssueValue observed = value.is_boolean ? IssueValue(value.boolean) : IssueValue(std::string(value.text));
    issues.push_back(make_issue(IssueCode::ValueNotAllowed, schema_column.name, std::nullopt, std::move(observed)));
  }
}

// True at the first integer or float cell strictly outside the bounds. A NaN
// cell is skipped and a NaN bound never compares, so neither ever violates.
bool violates_range(const SuggestedNumericRange& range, const ColumnValues& values) noexcept {
  if (!range.min && !range.max) return false;
  const bool has_min = range.min.has_value();
  const bool has_max = range.max.has_value();
  const double min = range.min.value_or(0.0);
  const double max = range.max.value_or(0.0);
  for (const Cell& cell : values) {
    double value;
    if (cell.kind() == ValueKind::Integer) {
      // Nearest double: above 2**53 neighbouring integers compare as equal.
      value = static_cast<double>(cell.as_integer());
    } else if (cell.kind() == ValueKind::Float) {
      value = cell.as_float();
    } else {
      continue;
    }
    if ((has_min && value < min) || (has_max && value > max)) return true;
  }
  return false;
}

void check_schema_column(const SuggestedColumnSchema& schema_column, const ColumnInput* found,
                         std::vector<ValidationIssue>& issues) {
  if (found == nullptr) {
    issues.push_back(make_issue(IssueCode::MissingColumn, schema_column.name));
    return;
  }
  const ColumnInput& column = *found;
  if (column.logical_type != schema_column.logical_type) {
    // Filled in place: moving a freshly made logical-type alternative trips a
    // false -Wmaybe-uninitialized in sanitizer builds.
    ValidationIssue& issue = issues.emplace_back(make_issue(IssueCode::TypeMismatch, schema_column.name));
    issue.expected.emplace(std::in_place_type<LogicalType>, schema_column.logical_type);
    issue.observed.emplace(std::in_place_type<LogicalType>, column.logical_type);
    return;
  }
  if (!schema_column.nullable && has_null(column.values)) {
    issues.push_back(make_issue(IssueCode::NullNotAllowed, schema_column.name));
  }
  if (schema_column.constraints.allowed_values) check_allowed_values(schema_column, column.values, issues);
  const auto& range = schema_column.constraints.numeric_range;
  if (range && is_numeric(schema_column.logical_type) && violates_range(*range, column.values)) {
    issues.push_back(make_issue(IssueCode::RangeViolation, schema_column.name));
  }
}

}  // namespace

std::vector<ValidationIssue> validate_against_schema(const std::vector<ColumnInput>& columns,
                                                     const std::vector<SuggestedColumnSchema>& schema_columns) {
  // Later columns replace earlier ones of the same name: the last one is checked.
  std::vector<ValidationIssue> issues;
  join_by_name(
      schema_columns, columns,
      [&](const SuggestedColumnSchema& schema_column, const ColumnInput* column) {
        check_schema_column(schema_column, column, issues);
      },
      [&](const ColumnInput& column) { issues.push_back(make_issue(IssueCode::UnexpectedColumn, column.name)); });
  return issues;
}

}  // namespace nolt
