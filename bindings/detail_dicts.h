// Dictionary builder for the validation report with failure detail.
#pragma once

#include <vector>

#include "ingest/python.h"
#include "validation/failure_detail.h"

namespace nolt::py {

// The validation report's dictionary ("is_valid", "error_count",
// "warning_count", "issues"), each issue with the report's keys in the
// report's order; with `with_detail`, followed by "failure_count",
// "failure_rows", "failure_values" and, for a range violation, "min", "max",
// "below_min_count" and "above_max_count".
Result<PyRef> detailed_report_to_dict(const std::vector<DetailedIssue>& issues, bool with_detail);

}  // namespace nolt::py
