// The profile dictionary of nolt's engine: the core's profile dictionary with
// each column's "details" after the core's keys.
#pragma once

#include <vector>

#include "ingest/python.h"
#include "profiling/details.h"
#include "profiling/profile.h"

namespace nolt::py {

// `details` holds one entry per column of `profile`, in column order.
Result<PyRef> profile_with_details_to_dict(const DatasetProfile& profile, const std::vector<ColumnDetails>& details);

}  // namespace nolt::py
