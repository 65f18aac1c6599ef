#include "schema_dicts.h"

#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> range_to_dict(const ObservedRange& range) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_double(dict.get(), "min", range.min));
  NOLT_TRY(put_double(dict.get(), "max", range.max));
  return dict;
}

Result<PyRef> observed_values_to_list(const std::vector<ObservedValue>& values) {
  NOLT_ASSIGN_OR_RETURN(PyRef list, new_list());
  for (const ObservedValue& value : values) {
    if (const bool* flag = std::get_if<bool>(&value)) {
      NOLT_ASSIGN_OR_RETURN(PyRef item, make_bool(*flag));
      NOLT_TRY(append(list.get(), std::move(item)));
    } else {
      NOLT_ASSIGN_OR_RETURN(PyRef item, make_text(std::get<std::string>(value)));
      NOLT_TRY(append(list.get(), std::move(item)));
    }
  }
  return list;
}

Result<PyRef> suggested_values_to_list(const std::vector<SuggestedValue>& values) {
  NOLT_ASSIGN_OR_RETURN(PyRef list, new_list());
  for (const SuggestedValue& value : values) {
    if (const std::string* text = std::get_if<std::string>(&value)) {
      NOLT_ASSIGN_OR_RETURN(PyRef item, make_text(*text));
      NOLT_TRY(append(list.get(), std::move(item)));
    } else {
      NOLT_ASSIGN_OR_RETURN(PyRef item, make_bool(std::get<bool>(value)));
      NOLT_TRY(append(list.get(), std::move(item)));
    }
  }
  return list;
}

Result<PyRef> numeric_range_to_dict(const SuggestedNumericRange& range) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_optional_double(dict.get(), "min", range.min));
  NOLT_TRY(put_optional_double(dict.get(), "max", range.max));
  return dict;
}

Result<PyRef> constraints_to_dict(const SuggestedConstraints& constraints) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  if (constraints.numeric_range) {
    NOLT_ASSIGN_OR_RETURN(PyRef range, numeric_range_to_dict(*constraints.numeric_range));
    NOLT_TRY(put_object(target, "numeric_range", std::move(range)));
  } else {
    NOLT_TRY(put_none(target, "numeric_range"));
  }
  if (constraints.allowed_values) {
    NOLT_ASSIGN_OR_RETURN(PyRef allowed, suggested_values_to_list(*constraints.allowed_values));
    NOLT_TRY(put_object(target, "allowed_values", std::move(allowed)));
  } else {
    NOLT_TRY(put_none(target, "allowed_values"));
  }
  return dict;
}

Result<PyRef> suggested_column_to_dict(const SuggestedColumnSchema& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_text(target, "name", column.name));
  NOLT_TRY(put_logical_type(target, "logical_type", column.logical_type));
  NOLT_TRY(put_bool(target, "nullable", column.nullable));
  NOLT_ASSIGN_OR_RETURN(PyRef constraints, constraints_to_dict(column.constraints));
  NOLT_TRY(put_object(target, "constraints", std::move(constraints)));
  return dict;
}

}  // namespace

Result<PyRef> observed_column_to_dict(const ObservedColumnSchema& column) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_text(target, "name", column.name));
  NOLT_TRY(put_logical_type(target, "logical_type", column.logical_type));
  NOLT_TRY(put_bool(target, "observed_nullable", column.observed_nullable));
  NOLT_TRY(put_count(target, "observed_unique_count", column.observed_unique_count));
  if (column.observed_range) {
    NOLT_ASSIGN_OR_RETURN(PyRef range, range_to_dict(*column.observed_range));
    NOLT_TRY(put_object(target, "observed_range", std::move(range)));
  } else {
    NOLT_TRY(put_none(target, "observed_range"));
  }
  if (column.observed_values) {
    NOLT_ASSIGN_OR_RETURN(PyRef values, observed_values_to_list(*column.observed_values));
    NOLT_TRY(put_object(target, "observed_values", std::move(values)));
  } else {
    NOLT_TRY(put_none(target, "observed_values"));
  }
  return dict;
}

Result<PyRef> observed_schema_to_dict(const ObservedDatasetSchema& schema) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_count(dict.get(), "row_count", schema.row_count));
  NOLT_ASSIGN_OR_RETURN(PyRef columns, new_list());
  for (const ObservedColumnSchema& column : schema.columns) {
    NOLT_ASSIGN_OR_RETURN(PyRef column_dict, observed_column_to_dict(column));
    NOLT_TRY(append(columns.get(), std::move(column_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "columns", std::move(columns)));
  return dict;
}

Result<PyRef> suggested_schema_to_dict(const SuggestedDatasetSchema& schema) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_ASSIGN_OR_RETURN(PyRef columns, new_list());
  for (const SuggestedColumnSchema& column : schema.columns) {
    NOLT_ASSIGN_OR_RETURN(PyRef column_dict, suggested_column_to_dict(column));
    NOLT_TRY(append(columns.get(), std::move(column_dict)));
  }
  NOLT_TRY(put_object(dict.get(), "columns", std::move(columns)));
  return dict;
}

}  // namespace nolt::py
