#include "schema_dicts.h"

#include "profile_dicts.h"
#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> range_to_dict(const ObservedRange& range) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_double(dict.get(), "min", range.min));
  NOLT_TRY(put_double(dict.get(), "max", range.max));
  return dict;
}

Result<PyRef> numeric_range_to_dict(const SuggestedNumericRange& range) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_optional(dict.get(), "min", range.min, make_double));
  NOLT_TRY(put_optional(dict.get(), "max", range.max, make_double));
  return dict;
}

// Observed and allowed values: each a str or a bool, in their stored order.
template <class Value>
Result<PyRef> values_to_list(const std::vector<Value>& values) {
  return list_of(values, make_variant);
}

Result<PyRef> constraints_to_dict(const SuggestedConstraints& constraints) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_optional(dict.get(), "numeric_range", constraints.numeric_range, numeric_range_to_dict));
  NOLT_TRY(put_optional(dict.get(), "allowed_values", constraints.allowed_values, values_to_list<SuggestedValue>));
  return dict;
}

Result<PyRef> suggested_column_to_dict(const SuggestedColumnSchema& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_column_dict(column.name, column.logical_type));
  PyObject* target = dict.get();
  NOLT_TRY(put_bool(target, "nullable", column.nullable));
  NOLT_TRY(put_object(target, "constraints", constraints_to_dict(column.constraints)));
  return dict;
}

}  // namespace

Result<PyRef> observed_column_to_dict(const ObservedColumnSchema& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_column_dict(column.name, column.logical_type));
  PyObject* target = dict.get();
  NOLT_TRY(put_bool(target, "observed_nullable", column.observed_nullable));
  NOLT_TRY(put_count(target, "observed_unique_count", column.observed_unique_count));
  NOLT_TRY(put_optional(target, "observed_range", column.observed_range, range_to_dict));
  NOLT_TRY(put_optional(target, "observed_values", column.observed_values, values_to_list<ObservedValue>));
  return dict;
}

Result<PyRef> observed_schema_to_dict(const ObservedDatasetSchema& schema) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_count(dict.get(), "row_count", schema.row_count));
  NOLT_TRY(put_object(dict.get(), "columns", list_of(schema.columns, observed_column_to_dict)));
  return dict;
}

Result<PyRef> suggested_schema_to_dict(const SuggestedDatasetSchema& schema) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_object(dict.get(), "columns", list_of(schema.columns, suggested_column_to_dict)));
  return dict;
}

Result<PyRef> inspection_to_dict(const DatasetProfile& profile, const ObservedDatasetSchema& observed,
                                 const SuggestedDatasetSchema& suggested) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_object(dict.get(), "profile", profile_to_dict(profile)));
  NOLT_TRY(put_object(dict.get(), "observed_schema", observed_schema_to_dict(observed)));
  NOLT_TRY(put_object(dict.get(), "suggested_schema", suggested_schema_to_dict(suggested)));
  return dict;
}

}  // namespace nolt::py
