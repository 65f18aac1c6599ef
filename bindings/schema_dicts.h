// Dictionary builders for the observed and suggested schemas and the
// inspection that holds both, shared by the schema functions and comparison.
#pragma once

#include "ingest/python.h"
#include "profiling/profile.h"
#include "schema/observed.h"
#include "schema/suggested.h"

namespace nolt::py {

// One element of the "columns" list of observed_schema_dataset.
Result<PyRef> observed_column_to_dict(const ObservedColumnSchema& column);
// {"row_count", "columns"}.
Result<PyRef> observed_schema_to_dict(const ObservedDatasetSchema& schema);
// {"columns"}.
Result<PyRef> suggested_schema_to_dict(const SuggestedDatasetSchema& schema);
// {"profile", "observed_schema", "suggested_schema"}.
Result<PyRef> inspection_to_dict(const DatasetProfile& profile, const ObservedDatasetSchema& observed,
                                 const SuggestedDatasetSchema& suggested);

}  // namespace nolt::py
