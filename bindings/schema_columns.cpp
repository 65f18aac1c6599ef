#include "schema_columns.h"

#include <algorithm>

#include "frame.h"

namespace nolt::py {

namespace {

constexpr std::string_view kParameter = "schema_columns";

CoreError cannot_convert(PyObject* object, std::string_view target) {
  return CoreError::type_error(str_cat("'", type_qualname(object), "' object cannot be converted to '", target, "'"));
}

Result<bool> take_nullable(PyObject* object) {
  NOLT_ASSIGN_OR_RETURN(std::optional<bool> value, boolean_rule(object));
  if (value) return *value;
  return cannot_convert(object, "PyBool");
}

// None, or a number the interpreter converts to a double (NaN and infinities
// included); its own exception reports any other object.
Result<std::optional<double>> take_bound(PyObject* object) {
  if (object == Py_None) return std::optional<double>();
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return fetch_error();
  return std::optional<double>(value);
}

using TakenRange = std::optional<std::pair<std::optional<double>, std::optional<double>>>;

Result<TakenRange> take_numeric_range(PyObject* object) {
  if (object == Py_None) return TakenRange();
  if (!PyTuple_Check(object)) return cannot_convert(object, "PyTuple");
  const Py_ssize_t length = PyTuple_GET_SIZE(object);
  if (length != 2) {
    return CoreError::value_error(str_cat("expected tuple of length 2, but got tuple of length ", length));
  }
  NOLT_ASSIGN_OR_RETURN(std::optional<double> min, take_bound(PyTuple_GET_ITEM(object, 0)));
  NOLT_ASSIGN_OR_RETURN(std::optional<double> max, take_bound(PyTuple_GET_ITEM(object, 1)));
  return TakenRange(std::in_place, min, max);
}

Result<std::optional<std::vector<PyRef>>> take_allowed_values(PyObject* object) {
  if (object == Py_None) return std::optional<std::vector<PyRef>>();
  NOLT_ASSIGN_OR_RETURN(std::vector<PyRef> items, sequence_items(object));
  return std::optional<std::vector<PyRef>>(std::move(items));
}

// One item: a tuple of exactly five elements, read in position order.
Result<SchemaColumnSpec> take_item(PyObject* item) {
  if (!PyTuple_Check(item)) return cannot_convert(item, "PyTuple");
  const Py_ssize_t length = PyTuple_GET_SIZE(item);
  if (length != 5) {
    return CoreError::value_error(str_cat("expected tuple of length 5, but got tuple of length ", length));
  }
  SchemaColumnSpec taken;
  NOLT_ASSIGN_OR_RETURN(taken.name, extract_text(PyTuple_GET_ITEM(item, 0)));
  NOLT_ASSIGN_OR_RETURN(taken.logical_type_text, extract_text(PyTuple_GET_ITEM(item, 1)));
  NOLT_ASSIGN_OR_RETURN(taken.nullable, take_nullable(PyTuple_GET_ITEM(item, 2)));
  NOLT_ASSIGN_OR_RETURN(taken.numeric_range, take_numeric_range(PyTuple_GET_ITEM(item, 3)));
  NOLT_ASSIGN_OR_RETURN(taken.allowed_values, take_allowed_values(PyTuple_GET_ITEM(item, 4)));
  return taken;
}

Result<std::vector<SchemaColumnSpec>> take_items(PyObject* object) {
  return take_sequence<SchemaColumnSpec>(object, Py_ssize_t{1} << 16,
                                         [](PyRef item) { return take_item(item.get()); });
}

}  // namespace

Result<std::vector<SchemaColumnSpec>> take_schema_columns(PyObject* object) {
  auto taken_columns = take_items(object);
  if (!taken_columns.ok()) return argument_error(kParameter, taken_columns.take_error());
  return taken_columns;
}

Result<SuggestedValue> convert_allowed_value(PyObject* object) {
  // One value filled in place and moved once: moving a freshly made boolean
  // alternative trips a false -Wmaybe-uninitialized in sanitizer builds.
  SuggestedValue value;
  if (PyBool_Check(object)) {
    value.emplace<bool>(object == Py_True);
  } else if (PyUnicode_Check(object)) {
    NOLT_ASSIGN_OR_RETURN(std::get<std::string>(value), extract_text(object));
  } else {
    return CoreError::type_error(str_cat("Unsupported suggested allowed value type '", type_name(object), "'"));
  }
  return value;
}

Result<std::vector<SuggestedColumnSchema>> build_suggested_columns(std::vector<SchemaColumnSpec> taken_columns) {
  std::vector<SuggestedColumnSchema> columns;
  columns.reserve(taken_columns.size());
  for (SchemaColumnSpec& taken : taken_columns) {
    SuggestedColumnSchema column;
    NOLT_ASSIGN_OR_RETURN(column.logical_type, parse_logical_type(taken.logical_type_text));
    if (taken.allowed_values) {
      std::vector<SuggestedValue> allowed;
      allowed.reserve(taken.allowed_values->size());
      for (const PyRef& value : *taken.allowed_values) {
        NOLT_ASSIGN_OR_RETURN(SuggestedValue converted, convert_allowed_value(value.get()));
        allowed.push_back(std::move(converted));
      }
      column.constraints.allowed_values = std::move(allowed);
    }
    if (taken.numeric_range) {
      column.constraints.numeric_range = SuggestedNumericRange{taken.numeric_range->first, taken.numeric_range->second};
    }
    column.name = std::move(taken.name);
    column.nullable = taken.nullable;
    columns.push_back(std::move(column));
  }
  return columns;
}

}  // namespace nolt::py
