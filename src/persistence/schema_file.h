// Saving and loading suggested-schema files.
#pragma once

#include <string>

#include "error/core_error.h"
#include "schema/suggested.h"

namespace nolt {

// Checks for non-finite bounds, encodes in memory, then replaces the file with
// the whole document: a failed save leaves the previous file as it was.
Status save_suggested_schema(const SuggestedDatasetSchema& schema, const std::string& path);

// Reads the whole file, requires UTF-8, decodes, accepts format version 1 only.
Result<SuggestedDatasetSchema> load_suggested_schema(const std::string& path);

}  // namespace nolt
