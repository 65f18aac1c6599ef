// Null and distinct counts of a column of any type. Integer, Float, Boolean
// and String values never equal each other; NaNs count as one value, -0.0 as
// +0.0, texts compare by their bytes.
#pragma once

#include <cstdint>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/statistics.h"

namespace nolt {

struct ColumnCounts {
  std::uint64_t unique_count = 0;
  std::uint64_t null_count = 0;
};

// Texts are counted in a hash table that names each text by its row: one
// small table while the column repeats its texts, otherwise hash partitions
// small enough to stay in cache, counted apart (and over the context's
// threads); each text is hashed once. Numbers are sorted and their runs
// counted. The partitions are written into `workspace`. Fails only with the
// context's interrupt.
Result<ColumnCounts> count_column_values(const ColumnValues& values, ColumnWorkspace& workspace,
                                         const ExecutionContext& context);
Result<ColumnCounts> count_column_values(const ColumnValues& values, const ExecutionContext& context);

}  // namespace nolt
