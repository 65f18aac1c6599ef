#include "validation/failure_detail.h"

#include <algorithm>
#include <charconv>
#include <type_traits>

#include "common/name_join.h"
#include "validation/allowed_set.h"

namespace nolt {

namespace {

// The number written by `width` digits at `text[at]`, or -1.
int digits_at(std::string_view text, std::size_t at, std::size_t width) noexcept {
  if (text.size() < at + width) return -1;
  int value = 0;
  for (std::size_t idx = 0; idx < width; ++idx) {
    const unsigned digit = static_cast<unsigned char>(text[at + idx]) - unsigned{'0'};
    if (digit > 9) return -1;
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

int days_in_month(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool is_date(std::string_view text) noexcept {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const int year = digits_at(text, 0, 4);
  const int month = digits_at(text, 5, 2);
  const int day = digits_at(text, 8, 2);
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

// The end of HH:MM[:SS[.fraction of one to nine digits]] read from `at`, or npos.
std::size_t clock_end(std::string_view text, std::size_t at) noexcept {
  constexpr std::size_t kNone = std::string_view::npos;
  if (text.size() < at + 5 || text[at + 2] != ':') return kNone;
  const int hour = digits_at(text, at, 2);
  const int minute = digits_at(text, at + 3, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return kNone;
  std::size_t end = at + 5;
  if (end == text.size() || text[end] != ':') return end;
  const int second = digits_at(text, end + 1, 2);
  if (second < 0 || second > 59) return kNone;
  end += 3;
  if (end == text.size() || text[end] != '.') return end;
  const std::size_t fraction_begin = ++end;
  while (end < text.size() && static_cast<unsigned char>(text[end]) - unsigned{'0'} <= 9) ++end;
  const std::size_t digits = end - fraction_begin;
  return digits >= 1 && digits <= 9 ? end : kNone;
}

// A time of day with an optional zone: Z, or +HH:MM with optional seconds.
bool is_time(std::string_view text) noexcept {
  const std::size_t end = clock_end(text, 0);
  if (end == std::string_view::npos) return false;
  if (end == text.size()) return true;
  if (text[end] == 'Z') return end + 1 == text.size();
  return (text[end] == '+' || text[end] == '-') && clock_end(text, end + 1) == text.size();
}

FailureValue failure_value(const Cell& cell, const ColumnValues& values) {
  switch (cell.kind()) {
    case ValueKind::Integer: return cell.as_integer();
    case ValueKind::Float: return cell.as_float();
    case ValueKind::Boolean: return cell.as_boolean();
    default: return std::string(values.text(cell));
  }
}

// How an unreadable cell is named in the issue's observed value.
IssueValue observed_text(const FailureValue& value) {
  if (const bool* flag = std::get_if<bool>(&value)) return IssueValue(*flag);
  if (const std::string* text = std::get_if<std::string>(&value)) return IssueValue(*text);
  char buffer[32];
  const auto written = std::holds_alternative<double>(value)
                           ? std::to_chars(buffer, buffer + sizeof buffer, std::get<double>(value))
                           : std::to_chars(buffer, buffer + sizeof buffer, std::get<std::int64_t>(value));
  return IssueValue(std::string(buffer, written.ptr));
}

// Counts a failing row; the first rows are kept.
void count_row(FailureDetail& detail, std::uint64_t row_idx) {
  if (detail.failure_rows.size() < kFailureRowLimit) detail.failure_rows.push_back(row_idx);
  ++detail.failure_count;
}

void count_row(FailureDetail& detail, std::uint64_t row_idx, const Cell& cell, const ColumnValues& values) {
  if (detail.failure_rows.size() < kFailureRowLimit) detail.failure_values->push_back(failure_value(cell, values));
  count_row(detail, row_idx);
}

FailureDetail every_row(std::uint64_t row_count) {
  FailureDetail detail;
  detail.failure_count = row_count;
  for (std::uint64_t row_idx = 0; row_idx < std::min<std::uint64_t>(row_count, kFailureRowLimit); ++row_idx) {
    detail.failure_rows.push_back(row_idx);
  }
  return detail;
}

DetailedIssue detailed(const ValidationIssue& issue, FailureDetail detail) {
  return DetailedIssue{issue_code_name(issue.code), issue.severity, issue.column, issue.expected, issue.observed,
                       std::move(detail)};
}

// One disallowed value: its detail, and whether its cells are unreadable
// (text in a boolean column), which makes its issue part of unreadable_value.
struct DisallowedValue {
  FailureDetail detail;
  bool unreadable = false;
};

// Everything one pass over a type-matched column finds.
struct ColumnFindings {
  bool scanned = false;  // false for a missing or type-mismatched column
  FailureDetail unreadable;
  FailureDetail nulls;
  std::vector<DisallowedValue> disallowed;  // in the order the values are first met
  FailureDetail range;
  bool core_range_violated = false;  // unreadable cells included, as the core tests them
};

bool has_fit_rule(LogicalType type) noexcept {
  return type == LogicalType::Integer || type == LogicalType::Float || type == LogicalType::Boolean ||
         type == LogicalType::Datetime;
}

Status scan_column(const SuggestedColumnSchema& schema_column, const ColumnValues& values, bool cells_fit,
                   const ExecutionContext& context, ColumnFindings& found) {
  const LogicalType type = schema_column.logical_type;
  found.scanned = true;
  const bool check_fit = has_fit_rule(type) && !cells_fit;
  if (check_fit) found.unreadable.failure_values.emplace();
  const bool check_nulls = !schema_column.nullable;

  std::optional<AllowedSet> allowed;
  if (schema_column.constraints.allowed_values) {
    allowed.emplace(*schema_column.constraints.allowed_values, type);
    if (allowed->empty()) allowed.reset();
  }
  // One lookup per text cell: the allowed texts are in the table, marked kAllowedSlot.
  constexpr std::size_t kAllowedSlot = SIZE_MAX - 1;
  TextViewMap<std::size_t> text_slots;
  const auto slot_of = [&](std::string_view text) -> std::size_t& {
    return text_slots.try_emplace(text, SIZE_MAX).first->second;
  };
  if (allowed) {
    for (const SuggestedValue& value : *schema_column.constraints.allowed_values) {
      const std::string* text = std::get_if<std::string>(&value);
      if (text != nullptr && allowed->contains_text(*text)) slot_of(*text) = kAllowedSlot;
    }
  }
  std::size_t boolean_slots[2] = {SIZE_MAX, SIZE_MAX};
  // The kinds that fit the type without a further test; a datetime's text is tested.
  const unsigned fit_kinds = type == LogicalType::Integer   ? 1u << static_cast<unsigned>(ValueKind::Integer)
                             : type == LogicalType::Float   ? (1u << static_cast<unsigned>(ValueKind::Integer)) |
                                                                (1u << static_cast<unsigned>(ValueKind::Float))
                             : type == LogicalType::Boolean ? 1u << static_cast<unsigned>(ValueKind::Boolean)
                                                            : 0u;
  const bool tests_text = type == LogicalType::Datetime;
  std::string_view last_datetime;  // the last datetime text that was read (empty never is one)

  const auto& range = schema_column.constraints.numeric_range;
  const bool check_range = range && is_numeric(type) && (range->min || range->max);
  const bool has_min = check_range && range->min.has_value();
  const bool has_max = check_range && range->max.has_value();
  const double min = has_min ? *range->min : 0.0;
  const double max = has_max ? *range->max : 0.0;
  if (check_range) {
    found.range.failure_values.emplace();
    found.range.range = *range;
  }

  auto disallowed_slot = [&](std::size_t& slot, bool unreadable) -> FailureDetail& {
    if (slot == SIZE_MAX) {
      slot = found.disallowed.size();
      found.disallowed.push_back({FailureDetail{}, unreadable});
    }
    return found.disallowed[slot].detail;
  };

  bool core_range_violated = false;
  std::uint64_t below_min_count = 0, above_max_count = 0, range_count = 0;
  std::size_t range_listed = 0;
  const Cell* const cells = values.cells().data();
  const std::size_t row_count = values.size();
  // The loop is compiled once for each combination of checks, without the others' tests.
  const auto scan = [&](auto fit_c, auto nulls_c, auto allowed_c, auto range_c) -> Status {
    constexpr bool kFit = decltype(fit_c)::value;
    constexpr bool kNulls = decltype(nulls_c)::value;
    constexpr bool kAllowed = decltype(allowed_c)::value;
    constexpr bool kRange = decltype(range_c)::value;
    if constexpr (!kFit && !kNulls && !kAllowed && !kRange) return Status();
    for (std::size_t chunk_begin = 0; chunk_begin < row_count; chunk_begin += kInterruptStride) {
      if (chunk_begin != 0) NOLT_TRY(context.check());
      const std::size_t chunk_end = std::min(row_count, chunk_begin + kInterruptStride);
      for (std::size_t row_idx = chunk_begin; row_idx < chunk_end; ++row_idx) {
        const Cell& cell = cells[row_idx];
        const ValueKind kind = cell.kind();
        if (kind == ValueKind::Null) {
          if constexpr (kNulls) count_row(found.nulls, row_idx);
          continue;
        }
        bool unreadable = false;
        if constexpr (kFit) {
          if (((fit_kinds >> static_cast<unsigned>(kind)) & 1u) == 0) {
            if (tests_text && kind == ValueKind::String) {
              // A text equal to the last one read is read alike: runs of one date are common.
              const std::string_view text = values.text(cell);
              if (!same_bytes(text, last_datetime)) {
                unreadable = !is_iso_datetime_text(text);
                if (!unreadable) last_datetime = text;
              }
            } else {
              unreadable = true;
            }
            if (unreadable) count_row(found.unreadable, row_idx, cell, values);
          }
        }
        if constexpr (kAllowed) {
          if (kind == ValueKind::String) {
            std::size_t& slot = slot_of(values.text(cell));
            if (slot != kAllowedSlot) count_row(disallowed_slot(slot, unreadable), row_idx);
          } else if (kind == ValueKind::Boolean && !allowed->contains_boolean(cell.as_boolean())) {
            count_row(disallowed_slot(boolean_slots[cell.as_boolean()], unreadable), row_idx);
          }
        }
        if constexpr (kRange) {
          if (kind == ValueKind::Integer || kind == ValueKind::Float) {
            // Integers are compared as their nearest double; a NaN never violates.
            const double value = kind == ValueKind::Integer ? static_cast<double>(cell.as_integer()) : cell.as_float();
            // Counted without branching on the outcome, which random data cannot predict.
            const bool below = has_min & (value < min);
            const bool above = has_max & (value > max);
            core_range_violated |= below | above;
            const bool counted = (below | above) & !unreadable;
            below_min_count += below & counted;
            above_max_count += above & counted;
            range_count += counted;
            if (range_listed < kFailureRowLimit && counted) {
              ++range_listed;
              found.range.failure_rows.push_back(row_idx);
              found.range.failure_values->push_back(failure_value(cell, values));
            }
          }
        }
      }
    }
    return Status();
  };
  const auto choose = [](bool flag, auto&& next) {
    return flag ? next(std::true_type{}) : next(std::false_type{});
  };
  NOLT_TRY(choose(check_fit, [&](auto fit_c) {
    return choose(check_nulls, [&](auto nulls_c) {
      return choose(allowed.has_value(), [&](auto allowed_c) {
        return choose(check_range, [&](auto range_c) { return scan(fit_c, nulls_c, allowed_c, range_c); });
      });
    });
  }));
  found.core_range_violated = core_range_violated;
  found.range.failure_count = range_count;
  found.range.below_min_count = below_min_count;
  found.range.above_max_count = above_max_count;
  return Status();
}

// Reads the core's issues in order, each once.
class CoreIssues {
 public:
  explicit CoreIssues(const std::vector<ValidationIssue>& issues) : issues_(issues) {}
  const ValidationIssue& next() { return issues_.at(next_++); }

 private:
  const std::vector<ValidationIssue>& issues_;
  std::size_t next_ = 0;
};

void add_column_issues(const SuggestedColumnSchema& schema_column, const ColumnFindings& found, CoreIssues& core,
                       std::vector<DetailedIssue>& out) {
  if (found.unreadable.failure_count != 0) {
    DetailedIssue& issue = out.emplace_back();
    issue.code = kUnreadableValueCode;
    issue.column = schema_column.name;
    issue.expected.emplace(std::in_place_type<LogicalType>, schema_column.logical_type);
    issue.observed = observed_text(found.unreadable.failure_values->front());
    issue.detail = found.unreadable;
  }
  if (found.nulls.failure_count != 0) out.push_back(detailed(core.next(), found.nulls));
  for (const DisallowedValue& value : found.disallowed) {
    const ValidationIssue& issue = core.next();
    if (!value.unreadable) out.push_back(detailed(issue, value.detail));
  }
  if (found.core_range_violated) {
    const ValidationIssue& issue = core.next();
    if (found.range.failure_count != 0) out.push_back(detailed(issue, found.range));
  }
}

}  // namespace

bool is_iso_datetime_text(std::string_view text) noexcept {
  if (text.size() >= 10 && text[4] == '-') {
    if (!is_date(text.substr(0, 10))) return false;
    if (text.size() == 10) return true;
    return (text[10] == 'T' || text[10] == ' ') && is_time(text.substr(11));
  }
  return is_time(text);
}

bool fits_logical_type(const Cell& cell, const ColumnValues& values, LogicalType type) noexcept {
  const ValueKind kind = cell.kind();
  if (kind == ValueKind::Null) return true;
  switch (type) {
    case LogicalType::Integer: return kind == ValueKind::Integer;
    case LogicalType::Float: return kind == ValueKind::Integer || kind == ValueKind::Float;
    case LogicalType::Boolean: return kind == ValueKind::Boolean;
    case LogicalType::Datetime: return kind == ValueKind::String && is_iso_datetime_text(values.text(cell));
    default: return true;
  }
}

Result<std::vector<DetailedIssue>> validate_with_detail(const std::vector<ColumnInput>& columns,
                                                        const std::vector<SuggestedColumnSchema>& schema_columns,
                                                        const ExecutionContext& context,
                                                        std::span<const char> cells_fit) {
  NOLT_ASSIGN_OR_RETURN(std::vector<ValidationIssue> core_issues,
                        validate_against_schema(columns, schema_columns, context));
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

  std::vector<ColumnFindings> findings(checks.size());
  NOLT_TRY(run_until_failure(context, checks.size(), [&](std::size_t check_idx) -> Status {
    const Check& check = checks[check_idx];
    if (check.column == nullptr || check.column->logical_type != check.schema_column->logical_type) return Status();
    const bool fit = !cells_fit.empty() && cells_fit[static_cast<std::size_t>(check.column - columns.data())] != 0;
    return scan_column(*check.schema_column, check.column->values, fit, context, findings[check_idx]);
  }));

  std::uint64_t row_count = 0;
  for (const ColumnInput& column : columns) row_count = std::max<std::uint64_t>(row_count, column.values.size());

  CoreIssues core(core_issues);
  std::vector<DetailedIssue> issues;
  for (std::size_t check_idx = 0; check_idx < checks.size(); ++check_idx) {
    const Check& check = checks[check_idx];
    if (check.column == nullptr) {
      issues.push_back(detailed(core.next(), every_row(row_count)));
    } else if (!findings[check_idx].scanned) {
      issues.push_back(detailed(core.next(), every_row(check.column->values.size())));
    } else {
      add_column_issues(*check.schema_column, findings[check_idx], core, issues);
    }
  }
  for (const ColumnInput* column : unexpected) issues.push_back(detailed(core.next(), every_row(column->values.size())));
  return issues;
}

}  // namespace nolt
