// The schema_columns argument: a sequence of five-element tuples
// (name, logical type name, nullable, numeric range, allowed values). Its
// shape is checked while the arguments are taken; the type names and the
// allowed values are interpreted only after the dataset has been converted.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ingest/python.h"
#include "schema/suggested.h"

namespace nolt::py {

// One taken item, not yet interpreted.
struct SchemaColumnSpec {
  std::string name;
  std::string logical_type_text;
  bool nullable = false;
  std::optional<std::pair<std::optional<double>, std::optional<double>>> numeric_range;
  std::optional<std::vector<PyRef>> allowed_values;
};

// Takes the argument item by item; every failure has passed through
// argument_error("schema_columns", ...).
Result<std::vector<SchemaColumnSpec>> take_schema_columns(PyObject* object);

// Interprets the taken items in order; errors carry no argument prefix.
Result<std::vector<SuggestedColumnSchema>> build_suggested_columns(std::vector<SchemaColumnSpec> taken_columns);

// A bool becomes the boolean alternative, a str (or subclass) the string one.
Result<SuggestedValue> convert_allowed_value(PyObject* object);

}  // namespace nolt::py
