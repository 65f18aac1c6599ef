#include "details_dicts.h"

#include <utility>

#include "profile_dicts.h"
#include "results.h"

namespace nolt::py {

namespace {

Result<PyRef> make_found_value(const FoundValue& value) {
  switch (value.cell.kind()) {
    case ValueKind::Integer: {
      PyObject* integer = PyLong_FromLongLong(value.cell.as_integer());
      if (integer == nullptr) return fetch_error();
      return PyRef::steal(integer);
    }
    case ValueKind::Float: return make_double(value.cell.as_float());
    case ValueKind::Boolean: return make_bool(value.cell.as_boolean());
    case ValueKind::String: return make_text(value.text);
    case ValueKind::Null: break;
  }
  return PyRef::borrow(Py_None);
}

Result<PyRef> make_top_value(const TopValue& top) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_object(dict.get(), "value", make_found_value(top.value)));
  NOLT_TRY(put_count(dict.get(), "count", top.count));
  return dict;
}

Result<PyRef> make_count_of(std::uint64_t count) { return make_count(count); }
Result<PyRef> make_text_of(std::string_view text) { return make_text(text); }

// Integer columns show the counts that can be non-zero for them.
Result<PyRef> number_dict(const NumberDetails& details, LogicalType type) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  if (type == LogicalType::Float) {
    NOLT_TRY(put_count(target, "nan_count", details.nan_count));
    NOLT_TRY(put_count(target, "positive_infinity_count", details.positive_infinity_count));
    NOLT_TRY(put_count(target, "negative_infinity_count", details.negative_infinity_count));
  }
  NOLT_TRY(put_count(target, "zero_count", details.zero_count));
  NOLT_TRY(put_count(target, "negative_count", details.negative_count));
  return dict;
}

Result<PyRef> boolean_dict(const BooleanDetails& details) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  NOLT_TRY(put_count(dict.get(), "true_count", details.true_count));
  NOLT_TRY(put_count(dict.get(), "false_count", details.false_count));
  return dict;
}

Result<PyRef> text_dict(const TextDetails& details) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_optional(target, "min_length", details.min_length, make_count_of));
  NOLT_TRY(put_optional(target, "max_length", details.max_length, make_count_of));
  NOLT_TRY(put_object(target, "top_values", list_of(details.top_values, make_top_value)));
  return dict;
}

Result<PyRef> datetime_dict(const DatetimeDetails& details) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, new_dict());
  PyObject* target = dict.get();
  NOLT_TRY(put_optional(target, "earliest", details.earliest, make_text_of));
  NOLT_TRY(put_optional(target, "latest", details.latest, make_text_of));
  NOLT_TRY(put_count(target, "naive_count", details.naive_count));
  NOLT_TRY(put_count(target, "aware_count", details.aware_count));
  NOLT_TRY(put_count(target, "time_count", details.time_count));
  NOLT_TRY(put_count(target, "invalid_count", details.invalid_count));
  return dict;
}

Result<PyRef> details_object(const ColumnDetails& details, LogicalType type) {
  struct Make {
    LogicalType type;
    Result<PyRef> operator()(std::monostate) const { return PyRef::borrow(Py_None); }
    Result<PyRef> operator()(const NumberDetails& value) const { return number_dict(value, type); }
    Result<PyRef> operator()(const BooleanDetails& value) const { return boolean_dict(value); }
    Result<PyRef> operator()(const TextDetails& value) const { return text_dict(value); }
    Result<PyRef> operator()(const DatetimeDetails& value) const { return datetime_dict(value); }
  };
  return std::visit(Make{type}, details);
}

}  // namespace

Result<PyRef> profile_with_details_to_dict(const DatasetProfile& profile, const std::vector<ColumnDetails>& details) {
  NOLT_ASSIGN_OR_RETURN(PyRef dict, profile_to_dict(profile));
  // Borrowed: the outer dictionary holds the list and the list its column dictionaries.
  PyObject* columns = PyDict_GetItemString(dict.get(), "columns");
  for (std::size_t column_idx = 0; column_idx < profile.columns.size(); ++column_idx) {
    PyObject* column = PyList_GET_ITEM(columns, static_cast<Py_ssize_t>(column_idx));
    NOLT_TRY(put_object(column, "details", details_object(details[column_idx], profile.columns[column_idx].logical_type)));
  }
  return dict;
}

}  // namespace nolt::py
