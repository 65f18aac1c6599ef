// Dictionary builders for the observed and suggested schemas, shared by the
// schema functions, inspection and comparison.
#pragma once

#include "ingest/python.h"
#include "schema/observed.h"
#include "schema/suggested.h"

namespace nolt::py {

// One element of the "columns" list of observed_schema_dataset.
Result<PyRef> observed_column_to_dict(const ObservedColumnSchema& column);
// {"row_count", "columns"}.
Result<PyRef> observed_schema_to_dict(const ObservedDatasetSchema& schema);
// {"columns"}.
Result<PyRef> suggested_schema_to_dict(const SuggestedDatasetSchema& schema);

}  // namespace nolt::py
