#include "detail_dicts.h"

#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> make_failure_value(const FailureValue& value) {
  if (const std::int64_t* integer = std::get_if<std::int64_t>(&value)) {
    PyRef object = PyRef::steal(PyLong_FromLongLong(*integer));
    if (!object) return fetch_error();
    return object;
  }
  if (const double* number = std::get_if<double>(&value)) return make_double(*number);
  if (const bool* flag = std::get_if<bool>(&value)) return make_bool(*flag);
  return make_text(std::get<std::string>(value));
}

Status put_detail(PyObject* dict, const FailureDetail& detail) {
  NOLT_TRY(put_count(dict, "failure_count", detail.failure_count));
  NOLT_TRY(put_object(dict, "failure_rows", list_of(detail.failure_rows, make_count)));
  if (detail.failure_values) {
    NOLT_TRY(put_object(dict, "failure_values", list_of(*detail.failure_values, make_failure_value)));
  } else {
    NOLT_TRY(put_none(dict, "failure_values"));
  }
  if (detail.range) {
    NOLT_TRY(put_optional(dict, "min", detail.range->min, make_double));
    NOLT_TRY(put_optional(dict, "max", detail.range->max, make_double));
    NOLT_TRY(put_count(dict, "below_min_count", detail.below_min_count));
    NOLT_TRY(put_count(dict, "above_max_count", detail.above_max_count));
  }
  return Status();
}

}  // namespace

Result<PyRef> detailed_report_to_dict(const std::vector<DetailedIssue>& issues, bool with_detail) {
  const SeverityCounts counts = count_severities(issues);
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_bool(dict.get(), "is_valid", counts.errors == 0));
  NOLT_TRY(put_count(dict.get(), "error_count", counts.errors));
  NOLT_TRY(put_count(dict.get(), "warning_count", counts.warnings));
  NOLT_TRY(put_object(dict.get(), "issues", list_of(issues, [&](const DetailedIssue& issue) -> Result<PyRef> {
    NOLT_ASSIGN_OR_RETURN(PyRef entry, new_dict());
    NOLT_TRY(put_text(entry.get(), "code", issue.code));
    NOLT_TRY(put_text(entry.get(), "severity", severity_name(issue.severity)));
    NOLT_TRY(put_optional(entry.get(), "column", issue.column, make_text));
    NOLT_TRY(put_optional(entry.get(), "expected", issue.expected, make_variant));
    NOLT_TRY(put_optional(entry.get(), "observed", issue.observed, make_variant));
    if (with_detail) NOLT_TRY(put_detail(entry.get(), issue.detail));
    return entry;
  })));
  return dict;
}

}  // namespace nolt::py
