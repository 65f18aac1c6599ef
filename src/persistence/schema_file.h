// Saving and loading suggested-schema files.
#pragma once

#include <string>

#include "error/core_error.h"
#include "parallel/execution.h"
#include "schema/suggested.h"

namespace nolt {

// Checks for non-finite bounds, encodes in memory, then replaces the file with
// the whole document: a failed save leaves the previous file as it was.
// Every wait on the file (an open or a write that blocks, as on a pipe
// without a reader) is interruptible: a system call a signal cuts short asks
// the context's interrupt, whose error ends the save.
Status save_suggested_schema(const SuggestedDatasetSchema& schema, const std::string& path,
                             const ExecutionContext& context = kSerialContext);

// Reads the whole file, requires UTF-8, decodes, accepts format version 1 only.
// Interruptible like a save; the interrupt is also asked after every read, so
// a file that never ends (a device, an endless pipe) can be stopped.
Result<SuggestedDatasetSchema> load_suggested_schema(const std::string& path,
                                                     const ExecutionContext& context = kSerialContext);

}  // namespace nolt
