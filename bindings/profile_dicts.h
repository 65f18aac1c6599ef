// The profile dictionary, shared by profile_dataset and inspect_dataset.
#pragma once

#include "ingest/python.h"
#include "profiling/profile.h"

namespace nolt::py {

Result<PyRef> profile_to_dict(const DatasetProfile& profile);

}  // namespace nolt::py
