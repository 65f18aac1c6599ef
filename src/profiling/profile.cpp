#include "profiling/profile.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <numeric>
#include <utility>

#include "profiling/distinct.h"

namespace nolt {

namespace {

// Column workspaces handed to the column tasks one at a time, so a profile
// allocates (and first-touches) one per thread, not one per column.
class WorkspacePool {
 public:
  std::unique_ptr<ColumnWorkspace> acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty()) return std::make_unique<ColumnWorkspace>();
    std::unique_ptr<ColumnWorkspace> workspace = std::move(free_.back());
    free_.pop_back();
    return workspace;
  }
  void release(std::unique_ptr<ColumnWorkspace> workspace) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(workspace));
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<ColumnWorkspace>> free_;
};

Result<ColumnProfile> profile_column(const ColumnInput& column, std::uint64_t row_count,
                                     ColumnWorkspace& workspace, const ExecutionContext& context) {
  ColumnProfile column_profile;
  column_profile.name = column.name;
  column_profile.logical_type = column.logical_type;
  column_profile.count = row_count;
  if (is_numeric(column.logical_type)) {
    // The sort of the statistics gives the distinct count too.
    NOLT_ASSIGN_OR_RETURN(NumericSummary summary, summarize_numeric_column(column.name, column.logical_type,
                                                                           column.values, workspace, context));
    column_profile.numeric_stats = summary.stats;
    column_profile.null_count = summary.null_count;
    column_profile.unique_count = summary.unique_count;
  } else {
    NOLT_ASSIGN_OR_RETURN(const ColumnCounts counts, count_column_values(column.values, workspace, context));
    column_profile.null_count = counts.null_count;
    column_profile.unique_count = counts.unique_count;
  }
  return column_profile;
}

// Column indexes by falling expected cost, so the threads finish together:
// a boolean column costs little per row, the rest about the same.
std::vector<std::size_t> largest_first(const std::vector<ColumnInput>& columns) {
  std::vector<std::size_t> order(columns.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto cost = [&](std::size_t column_idx) {
    const ColumnInput& column = columns[column_idx];
    return column.values.size() * (column.logical_type == LogicalType::Boolean ? 1 : 8);
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t lhs, std::size_t rhs) { return cost(lhs) > cost(rhs); });
  return order;
}

}  // namespace

std::uint64_t count_unique(const ColumnValues& values) {
  // The serial context is never interrupted, so counting cannot fail.
  return count_column_values(values, kSerialContext).value().unique_count;
}

Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                                       const ExecutionContext& context) {
  DatasetProfile profile;
  profile.row_count = row_count;
  profile.columns.resize(columns.size());
  if (!context.parallel()) {
    // One workspace for every column of the dataset.
    ColumnWorkspace workspace;
    NOLT_TRY(run_until_failure(context, columns.size(), [&](std::size_t column_idx) -> Status {
      NOLT_ASSIGN_OR_RETURN(profile.columns[column_idx], profile_column(columns[column_idx], row_count, workspace, context));
      return Status();
    }));
    return profile;
  }
  // Enough columns to keep every thread busy: the columns are spread, each
  // computed on one thread. Fewer: one column after another, each split.
  const bool by_column = columns.size() >= context.thread_count();
  const ExecutionContext serial_with_interrupt{nullptr, context.interrupt};
  const ExecutionContext& across_columns = by_column ? context : serial_with_interrupt;
  const ExecutionContext& within_column = by_column ? serial_with_interrupt : context;
  const std::vector<std::size_t> order = largest_first(columns);
  WorkspacePool workspaces;
  NOLT_TRY(run_until_failure(
      across_columns, columns.size(),
      [&](std::size_t column_idx) -> Status {
        std::unique_ptr<ColumnWorkspace> workspace = workspaces.acquire();
        Result<ColumnProfile> column_profile =
            profile_column(columns[column_idx], row_count, *workspace, within_column);
        workspaces.release(std::move(workspace));
        NOLT_TRY(column_profile);
        profile.columns[column_idx] = std::move(column_profile).value();
        return Status();
      },
      order));
  return profile;
}

Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns, const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns(columns, row_count, context);
}

}  // namespace nolt
