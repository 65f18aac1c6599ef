// The primitives every result dictionary is built with. Keys are inserted in
// the order the caller puts them; any interpreter failure comes back as a
// Propagated error and the partly built objects are released by their owners.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "data/values.h"
#include "ingest/python.h"

namespace nolt::py {

Result<PyRef> new_dict();
Result<PyRef> new_list();
// A new dict holding the "name" and "logical_type" every column entry opens with.
Result<PyRef> new_column_dict(std::string_view name, LogicalType type);

Result<PyRef> make_text(std::string_view text);
Result<PyRef> make_bool(bool value);
Result<PyRef> make_count(std::uint64_t count);
Result<PyRef> make_double(double value);

Status put_object(PyObject* dict, const char* key, PyRef value);
// The object a builder made, or the builder's error.
Status put_object(PyObject* dict, const char* key, Result<PyRef>&& built);
Status put_text(PyObject* dict, const char* key, std::string_view text);
Status put_count(PyObject* dict, const char* key, std::uint64_t count);
Status put_double(PyObject* dict, const char* key, double value);
Status put_bool(PyObject* dict, const char* key, bool value);
Status put_none(PyObject* dict, const char* key);
Status put_logical_type(PyObject* dict, const char* key, LogicalType type);

Status append(PyObject* list, PyRef value);

// A new list holding make(item) for every item, in order.
template <class Items, class Make>
Result<PyRef> list_of(const Items& items, Make&& make) {
  NOLT_ASSIGN_OR_RETURN(PyRef list, new_list());
  for (const auto& item : items) {
    NOLT_ASSIGN_OR_RETURN(PyRef object, make(item));
    NOLT_TRY(append(list.get(), std::move(object)));
  }
  return list;
}

// make(*value) under `key`, or None when there is no value.
template <class T, class Make>
Status put_optional(PyObject* dict, const char* key, const std::optional<T>& value, Make&& make) {
  if (!value) return put_none(dict, key);
  return put_object(dict, key, make(*value));
}

namespace detail {
inline Result<PyRef> make_alternative(const std::string& text) { return make_text(text); }
inline Result<PyRef> make_alternative(bool value) { return make_bool(value); }
inline Result<PyRef> make_alternative(LogicalType type) { return make_text(logical_type_name(type)); }
}  // namespace detail

// The object of the alternative a variant holds: a str, a bool, or a logical
// type's name. A function object, so it can be handed to list_of and put_optional.
inline constexpr struct MakeVariant {
  template <class... Alternatives>
  Result<PyRef> operator()(const std::variant<Alternatives...>& value) const {
    return std::visit([](const auto& alternative) { return detail::make_alternative(alternative); }, value);
  }
} make_variant{};

}  // namespace nolt::py
