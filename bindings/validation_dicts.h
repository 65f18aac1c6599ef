// Dictionary builder for the validation report.
#pragma once

#include "ingest/python.h"
#include "validation/engine.h"

namespace nolt::py {

// {"is_valid", "error_count", "warning_count", "issues"}; the three summary
// values come from the severities, whatever rules produced the issues.
Result<PyRef> validation_report_to_dict(const ValidationReport& report);

}  // namespace nolt::py
