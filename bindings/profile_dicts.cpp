#include "profile_dicts.h"

#include <utility>

#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> stats_to_dict(const NumericStats& stats) {
  const std::pair<const char*, double> fields[] = {
      {"min", stats.min}, {"max", stats.max}, {"mean", stats.mean}, {"median", stats.median},
      {"p25", stats.p25}, {"p50", stats.p50}, {"p75", stats.p75}};
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  for (const auto& [key, value] : fields) NOLT_TRY(put_double(dict.get(), key, value));
  return dict;
}

Result<PyRef> column_to_dict(const ColumnProfile& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_column_dict(column.name, column.logical_type));
  PyObject* target = dict.get();
  NOLT_TRY(put_count(target, "count", column.count));
  NOLT_TRY(put_count(target, "null_count", column.null_count));
  NOLT_TRY(put_count(target, "unique_count", column.unique_count));
  NOLT_TRY(put_optional(target, "numeric_stats", column.numeric_stats, stats_to_dict));
  return dict;
}

}  // namespace

Result<PyRef> profile_to_dict(const DatasetProfile& profile) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_count(dict.get(), "row_count", profile.row_count));
  NOLT_TRY(put_object(dict.get(), "columns", list_of(profile.columns, column_to_dict)));
  return dict;
}

}  // namespace nolt::py
