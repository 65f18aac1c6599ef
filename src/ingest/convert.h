// Conversion of a dataset argument into internal columns.
#pragma once

#include <string_view>
#include <vector>

#include "data/values.h"
#include "ingest/python.h"

namespace nolt::py {

// Plain conversion: by the Python type of the cell alone; appends to `out`.
Status normalize_value(PyObject* object, ColumnValues& out);

// Typed conversion: by the column's declared logical type; appends to `out`.
Status normalize_typed_value(PyObject* object, LogicalType type, std::string_view column_name, ColumnValues& out);

// Converts the items of a dataset argument, in order; the first failing item
// ends the conversion. Consumes the items.
Result<std::vector<ColumnInput>> convert_columns(std::vector<PyRef> items);

}  // namespace nolt::py
