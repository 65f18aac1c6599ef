#include "profiling/profile.h"

#include <algorithm>
#include <atomic>
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

}  // namespace

Result<ColumnProfile> profile_column(const ColumnInput& column, std::uint64_t row_count, ColumnWorkspace& workspace,
                                     const ExecutionContext& context, TextTallies* tallies,
                                     NumberCounts* numbers) {
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
    if (numbers != nullptr) *numbers = summary.counts;
  } else {
    NOLT_ASSIGN_OR_RETURN(const ColumnCounts counts, count_column_values(column.values, workspace, context, tallies));
    column_profile.null_count = counts.null_count;
    column_profile.unique_count = counts.unique_count;
  }
  return column_profile;
}

std::uint64_t column_cost(const ColumnInput& column, bool with_details) noexcept {
  std::uint64_t per_row = 0;
  switch (column.logical_type) {
    case LogicalType::Boolean: per_row = 2; break;
    case LogicalType::Integer:
    case LogicalType::Float: per_row = with_details ? 10 : 8; break;
    case LogicalType::String:
    case LogicalType::Categorical:
    case LogicalType::Unknown: per_row = with_details ? 14 : 10; break;
    case LogicalType::Datetime: per_row = with_details ? 20 : 10; break;  // each text read as a moment
  }
  return per_row * column.values.size();
}

Status run_column_tasks(const std::vector<std::uint64_t>& costs, const ExecutionContext& context,
                        const ColumnTask& task) {
  const std::size_t column_count = costs.size();
  if (!context.parallel()) {
    ColumnWorkspace workspace;
    return run_until_failure(context, column_count,
                             [&](std::size_t column_idx) { return task(column_idx, workspace, context); });
  }
  std::vector<std::size_t> order(column_count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t lhs, std::size_t rhs) { return costs[lhs] > costs[rhs]; });
  // A column splits its own work when it alone would outlast the others'
  // share, or when it starts so late that threads will soon have nothing
  // else to do; otherwise it runs on its thread alone, which costs less in
  // all (no merging of split work).
  const std::size_t thread_count = context.thread_count();
  const std::uint64_t total_cost = std::accumulate(costs.begin(), costs.end(), std::uint64_t{0});
  const ExecutionContext serial_with_interrupt{nullptr, context.interrupt};
  std::atomic<std::size_t> started{0};
  WorkspacePool workspaces;
  return run_until_failure(
      context, column_count,
      [&](std::size_t column_idx) -> Status {
        const std::size_t start_idx = started.fetch_add(1, std::memory_order_relaxed);
        const bool split = costs[column_idx] * thread_count > total_cost || start_idx + thread_count > column_count;
        std::unique_ptr<ColumnWorkspace> workspace = workspaces.acquire();
        Status status = task(column_idx, *workspace, split ? context : serial_with_interrupt);
        workspaces.release(std::move(workspace));
        return status;
      },
      order);
}

std::uint64_t count_unique(const ColumnValues& values) {
  // The serial context is never interrupted, so counting cannot fail.
  return count_column_values(values, kSerialContext).value().unique_count;
}

std::vector<std::uint64_t> column_costs(const std::vector<ColumnInput>& columns, bool with_details,
                                        const CallerColumns* caller) {
  std::vector<std::uint64_t> costs(columns.size());
  for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
    costs[column_idx] = caller != nullptr && caller->owns(column_idx) ? caller->costs[column_idx]
                                                                      : column_cost(columns[column_idx], with_details);
  }
  return costs;
}

Status profile_caller_column(const ColumnInput& column, std::uint64_t row_count, const CallerColumns& caller,
                             std::size_t column_idx, ColumnWorkspace& workspace, const ExecutionContext& context,
                             ColumnProfile& profile) {
  profile.name = column.name;
  profile.logical_type = column.logical_type;
  profile.count = row_count;
  return caller.profile(column_idx, workspace, context, profile);
}

Result<DatasetProfile> profile_columns(const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                                       const ExecutionContext& context, const CallerColumns* caller) {
  DatasetProfile profile;
  profile.row_count = row_count;
  profile.columns.resize(columns.size());
  NOLT_TRY(run_column_tasks(column_costs(columns, false, caller), context,
                            [&](std::size_t column_idx, ColumnWorkspace& workspace,
                                const ExecutionContext& column_context) -> Status {
                              if (caller != nullptr && caller->owns(column_idx)) {
                                return profile_caller_column(columns[column_idx], row_count, *caller, column_idx,
                                                             workspace, column_context, profile.columns[column_idx]);
                              }
                              NOLT_ASSIGN_OR_RETURN(profile.columns[column_idx],
                                                    profile_column(columns[column_idx], row_count, workspace,
                                                                   column_context));
                              return Status();
                            }));
  return profile;
}

Result<DatasetProfile> profile_dataset_columns(const std::vector<ColumnInput>& columns, const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(std::uint64_t row_count, check_equal_lengths(columns));
  return profile_columns(columns, row_count, context);
}

}  // namespace nolt
