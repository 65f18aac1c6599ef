// Numeric columns read straight from the memory of a buffer exporter (numpy's
// array, array.array, memoryview) instead of one Python object per cell.
#pragma once

#include <cstdint>

#include "data/values.h"
#include "ingest/python.h"

namespace nolt::py {

enum class BufferFill : std::uint8_t {
  Handled,     // every cell was appended to the column
  NotHandled,  // nothing was appended: the column must be read by iterating it
};

// Fills `out` from the values object's buffer when that object is exactly one
// of the exporters this module knows, holding one dimension of a fixed-width
// integer, float32, float64 or bool format, and the cells are known to be the
// ones iterating the object and converting each item would give (plain
// conversion, or typed conversion by `type` when `typed`). In every other case,
// including each case where iterating would fail, it appends nothing and
// returns NotHandled, leaving the interpreter without a pending error. The one
// error is a released memoryview's refusal (its iterator would end at once and
// make the column look empty). Runs no Python code and creates no Python
// object; the buffer is released before it returns.
[[nodiscard]] Result<BufferFill> fill_from_buffer(PyObject* values, LogicalType type, bool typed, ColumnValues& out);

}  // namespace nolt::py
