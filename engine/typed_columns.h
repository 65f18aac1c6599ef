// The computations on columns read in their typed form (temporal values and
// dictionary indexes instead of text, the keys of numbers and the counts of
// booleans instead of cells) that give exactly what the same columns as cells
// give: the profile itself needs nothing more (null and distinct counts are
// the same on the numbers), the details and the observed values need the
// texts back, from the values or the dictionary. The typed columns are
// profiled in the core's schedule of columns, beside the others. Plain C++:
// no interpreter here.
#pragma once

#include <array>
#include <vector>

#include "arrow_columns.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/details.h"
#include "profiling/profile.h"
#include "schema/observed.h"

namespace nolt::engine {

// The columns of one dataset argument; `typed` holds one entry per column
// (Kind::None for a column of ordinary cells). Columns read from Arrow data
// view its texts, which `arrow` keeps alive.
struct EngineColumns {
  std::vector<arrow::ImportedArrow> arrow;
  std::vector<ColumnInput> columns;
  std::vector<arrow::TypedColumn> typed;
};

// What profiling a typed column learns beyond its profile, for its details
// and observed values.
using arrow::TextTally;
struct TypedSummary {
  // Temporal: the smallest and the largest value (when the column has one).
  std::int64_t low = 0;
  std::int64_t high = 0;
  // Dictionary: per text index, how often the text occurs and where first.
  std::vector<TextTally> tallies;
  // Number: what the statistics leave out (its details).
  NumberCounts numbers;
};

struct TypedProfile {
  DatasetProfile profile;
  std::vector<TypedSummary> summaries;  // one per column
};

// check_equal_lengths and profile_columns over columns of either form: a
// temporal column's distinct count is that of its values (sorted over the
// context's threads), a dictionary column's that of its text indexes
// (tallied), a number column's from its keys as the core's walk over cells
// would make them. The keys are sorted where they are, so the columns are
// profiled once (by one of the three functions here), and they must have been
// read with every typed form (TypedForms::All: keys and tallies, no cells).
Result<TypedProfile> profile_typed_columns(EngineColumns& input, const ExecutionContext& context);

// Room for the texts that the details of one typed column show.
struct DetailTexts {
  std::array<char, 48> earliest{};
  std::array<char, 48> latest{};
};

// profile_columns_with_details over columns of either form. `texts` gets one
// entry per column and must outlive the details, which view it and the columns.
Result<ProfileWithDetails> profile_typed_columns_with_details(EngineColumns& input, std::vector<DetailTexts>& texts,
                                                              const ExecutionContext& context);

// observe_columns over columns of either form, with the profile it derives
// the observed schema from. A dictionary column whose observed values are
// listed is left holding only the first appearance of each text.
struct TypedObservation {
  DatasetProfile profile;
  ObservedDatasetSchema observed;
};
Result<TypedObservation> observe_typed_columns(EngineColumns& input, const ExecutionContext& context);

}  // namespace nolt::engine
