#include "validation_dicts.h"

#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> issue_to_dict(const ValidationIssue& issue) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_text(dict.get(), "code", issue_code_name(issue.code)));
  NOLT_TRY(put_text(dict.get(), "severity", severity_name(issue.severity)));
  NOLT_TRY(put_optional(dict.get(), "column", issue.column, make_text));
  NOLT_TRY(put_optional(dict.get(), "expected", issue.expected, make_variant));
  NOLT_TRY(put_optional(dict.get(), "observed", issue.observed, make_variant));
  return dict;
}

}  // namespace

Result<PyRef> validation_report_to_dict(const ValidationReport& report) {
  const SeverityCounts counts = count_severities(report.issues);
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_bool(dict.get(), "is_valid", counts.errors == 0));
  NOLT_TRY(put_count(dict.get(), "error_count", counts.errors));
  NOLT_TRY(put_count(dict.get(), "warning_count", counts.warnings));
  NOLT_TRY(put_object(dict.get(), "issues", list_of(report.issues, issue_to_dict)));
  return dict;
}

}  // namespace nolt::py
