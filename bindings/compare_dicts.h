// Dictionary builders for the comparison and the drift report.
#pragma once

#include "compare/comparison.h"
#include "compare/drift.h"
#include "ingest/python.h"

namespace nolt::py {

Result<PyRef> comparison_to_dict(const DatasetComparison& comparison);
Result<PyRef> drift_report_to_dict(const DriftReport& report);

}  // namespace nolt::py
