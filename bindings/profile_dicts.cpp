#include "profile_dicts.h"

#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> stats_to_dict(const NumericStats& stats) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_double(target, "min", stats.min));
  NOLT_TRY(put_double(target, "max", stats.max));
  NOLT_TRY(put_double(target, "mean", stats.mean));
  NOLT_TRY(put_double(target, "median", stats.median));
  NOLT_TRY(put_double(target, "p25", stats.p25));
  NOLT_TRY(put_double(target, "p50", stats.p50));
  NOLT_TRY(put_double(target, "p75", stats.p75));
  return dict;
}

Result<PyRef> column_to_dict(const ColumnProfile& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_text(target, "name", column.name));
  NOLT_TRY(put_logical_type(target, "logical_type", column.logical_type));
  NOLT_TRY(put_count(target, "count", column.count));
  NOLT_TRY(put_count(target, "null_count", column.null_count));
  NOLT_TRY(put_count(target, "unique_count", column.unique_count));
  if (column.numeric_stats) {
    NOLT_ASSIGN_OR_RETURN(PyRef stats, stats_to_dict(*column.numeric_stats));
    NOLT_TRY(put_object(target, "numeric_stats", std::move(stats)));
  } else {
    NOLT_TRY(put_none(target, "numeric_stats"));
  }
  return dict;
}

}  // namespace

Result<PyRef> profile_to_dict(const DatasetProfile& profile) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_ASSIGN_OR_RETURN(PyRef columns, new_list());
  NOLT_TRY(put_count(dict.get(), "row_count", profile.row_count));
  for (const ColumnProfile& column : profile.columns) {
    NOLT_ASSIGN_OR_RETURN(PyRef column_dict, column_to_dict(column));
    NOLT_TRY(append(columns.get(), std::move(column_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "columns", std::move(columns)));
  return dict;
}

}  // namespace nolt::py
