// The primitives every result dictionary is built with. Keys are inserted in
// the order the caller puts them; any interpreter failure comes back as a
// Propagated error and the partly built objects are released by their owners.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "data/values.h"
#include "ingest/python.h"

namespace nolt::py {

Result<PyRef> new_dict();
Result<PyRef> new_list();

Status put_object(PyObject* dict, const char* key, PyRef value);
Status put_text(PyObject* dict, const char* key, std::string_view text);
Status put_count(PyObject* dict, const char* key, std::uint64_t count);
Status put_double(PyObject* dict, const char* key, double value);
Status put_bool(PyObject* dict, const char* key, bool value);
Status put_none(PyObject* dict, const char* key);
Status put_logical_type(PyObject* dict, const char* key, LogicalType type);
Status put_optional_double(PyObject* dict, const char* key, const std::optional<double>& value);

Status append(PyObject* list, PyRef value);

Result<PyRef> make_text(std::string_view text);
Result<PyRef> make_bool(bool value);

}  // namespace nolt::py
