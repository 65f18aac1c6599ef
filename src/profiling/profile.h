// Per-column counts, distinct counts and statistics of one dataset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"
#include "profiling/distinct.h"
#include "profiling/statistics.h"

namespace nolt {

struct ColumnProfile {
  std::string name;
  LogicalType logical_type = LogicalType::Unknown;
  std::uint64_t count = 0;
  std::uint64_t null_count = 0;
  std::uint64_t unique_count = 0;
  std::optional<NumericStats> numeric_stats;
};

struct DatasetProfile {
  std::uint64_t row_count = 0;
  std::vector<ColumnProfile> columns;
};

// Number of distinct non-null values; Integer, Float, Boolean and String
// values never equal each other. NaNs count as one value, -0.0 as +0.0.
std::uint64_t count_unique(const ColumnValues& values);

// Columns whose values the caller holds in a form of its own (their cells
// absent or not to be read as cells): `profile` fills a column's null and
// distinct counts and statistics (its name, type and count are set), in the
// same schedule as the other columns, at the cost given (as column_cost's).
struct CallerColumns {
  std::vector<char> owned;  // one per column: whether `profile` profiles it
  std::vector<std::uint64_t> costs;
  std::function<Status(std::size_t column_idx, ColumnWorkspace& workspace, const ExecutionContext& column_context,
                       ColumnProfile& profile)>
      profile;

  bool owns(std::size_t column_idx) const noexcept { return column_idx < owned.size() && owned[column_idx] != 0; }
};

// The caller applies check_equal_lengths first and passes its row count. With
// a parallel context the columns are spread over the threads when there are
// at least as many columns as threads, and each column's own work (its sort,
// its distinct count) is split otherwise. The result is the same for every
// context; the error is the first column's in column order (or the interrupt's).
// With `caller`, the columns it owns are profiled by it.
Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                                       const ExecutionContext& context = kSerialContext,
                                       const CallerColumns* caller = nullptr);

// One column's profile over `row_count` rows, computed in `workspace`. With
// `tallies`, a column of texts (not numbers) gathers its texts' tallies too;
// with `numbers`, a numeric column gives its NumberCounts.
Result<ColumnProfile> profile_column(const ColumnInput& column, std::uint64_t row_count, ColumnWorkspace& workspace,
                                     const ExecutionContext& context, TextTallies* tallies = nullptr,
                                     NumberCounts* numbers = nullptr);

// What a column costs to profile, roughly in nanoseconds per row on one thread;
// `with_details` adds what its details cost.
std::uint64_t column_cost(const ColumnInput& column, bool with_details) noexcept;

// The costs of every column, those `caller` owns at its costs.
std::vector<std::uint64_t> column_costs(const std::vector<ColumnInput>& columns, bool with_details,
                                        const CallerColumns* caller);

// The profile of a column `caller` owns: its name, type and count, then the rest by caller.profile.
Status profile_caller_column(const ColumnInput& column, std::uint64_t row_count, const CallerColumns& caller,
                             std::size_t column_idx, ColumnWorkspace& workspace, const ExecutionContext& context,
                             ColumnProfile& profile);

using ColumnTask = std::function<Status(std::size_t column_idx, ColumnWorkspace& workspace,
                                        const ExecutionContext& column_context)>;

// Runs task for every column. Serially: in column order, one workspace for
// them all. In parallel: the columns spread over the threads, the costliest
// first (by `costs`, one per column), each task with a workspace of its own
// for the time it runs; `column_context` lets a column split its own work
// over the threads that the other columns leave idle. The error is the
// first column's in column order (or the interrupt's).
Status run_column_tasks(const std::vector<std::uint64_t>& costs, const ExecutionContext& context,
                        const ColumnTask& task);

// check_equal_lengths followed by profile_columns.
Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns,
                                               const ExecutionContext& context = kSerialContext);

}  // namespace nolt
