#include "ingest/convert.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include <absl/container/flat_hash_map.h>

#include "ingest/buffer_columns.h"
#include "memory/page_advice.h"
#include "parallel/execution.h"


namespace nolt::py {

namespace {

CoreError unsupported_value(std::string_view column_name) {
  return CoreError::type_error(str_cat("Column '", column_name, "' contains an unsupported value"));
}

// The texts of one column, stored once per str object. A column often holds
// one object many times (a frame's text column repeats its objects, [s] * n
// repeats one): the object's UTF-8 bytes go into the column's arena the first
// time, and each later cell of that object shares them, so the arena follows
// the distinct objects given rather than the cells times their length.
// Objects are told apart by identity alone (a str never changes), which holds
// only while the object lives: an address freed can pass to another object.
//
// Texts shorter than a cell are copied: sharing them would save less than it
// costs. So is the text of an object with a single reference (the list's, or
// the iterator's new one): nothing else holds it, so no later cell can be it.
// Other texts are looked up among recent objects (one probe of a
// direct-mapped table, cheaper than the copy it may save), and texts of
// kAllRememberedBytes or more are all remembered, so none is stored twice.
//
// Cells read from a list or a tuple are kept alive by it, and no Python code
// runs between two cells of a column that holds texts (plain conversion runs
// none; the typed conversions that may, of numbers and booleans, store no
// text) except the signal handlers, which may change the list: recent objects are then
// remembered by address alone and forgotten after the handlers ran. Cells
// from an iterator may die as soon as they are converted: an object
// remembered is held by a reference of its own. The remembered long texts
// are always held.
class SharedTexts {
 public:
  SharedTexts() = default;
  SharedTexts(const SharedTexts&) = delete;
  SharedTexts& operator=(const SharedTexts&) = delete;
  ~SharedTexts() {
    forget_recent();
    for (const auto& [object, cell] : all_) Py_DECREF(object);
  }

  // Cells come from an iterator from here on (see above).
  void set_from_iterator() noexcept { from_iterator_ = true; }

  // After Python code may have run: recent objects known by address only may
  // be gone.
  void forget_borrowed() noexcept {
    if (!from_iterator_) forget_recent();
  }

  // Appends a String cell of `object`, whose UTF-8 form is `utf8`. Only the
  // length test is inline: a column of short texts pays nothing more.
  void push(PyObject* object, std::string_view utf8, ColumnValues& out) {
    if (utf8.size() < kMinSharedBytes) {
      out.push_text(utf8);
    } else {
      push_long(object, utf8, out);
    }
  }

 private:
  static constexpr std::size_t kMinSharedBytes = sizeof(Cell);
  static constexpr std::size_t kAllRememberedBytes = 1024;
  static constexpr unsigned kRecentBits = 10;  // 24 KiB of slots

  struct Slot {
    PyObject* object = nullptr;  // owned when from an iterator
    Cell cell = Cell::null();
  };
  using Slots = std::array<Slot, std::size_t{1} << kRecentBits>;

  [[gnu::noinline]] void push_long(PyObject* object, std::string_view utf8, ColumnValues& out) {
    if (Py_REFCNT(object) < 2) {
      out.push_text(utf8);
    } else if (utf8.size() < kAllRememberedBytes) {
      push_recent(object, utf8, out);
    } else {
      push_remembered(object, utf8, out);
    }
  }

  void push_recent(PyObject* object, std::string_view utf8, ColumnValues& out) {
    if (!recent_) recent_ = std::make_unique<Slots>();
    const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(object));
    Slot& slot = (*recent_)[static_cast<std::size_t>(((address >> 4) * 0x9E3779B97F4A7C15ULL) >> (64 - kRecentBits))];
    if (slot.object == object) {
      out.push_shared_text(slot.cell);
      return;
    }
    const Cell cell = out.push_text(utf8);
    if (from_iterator_) {
      // The object it replaces may be freed here; everything is consistent by now.
      Py_XDECREF(std::exchange(slot.object, Py_NewRef(object)));
    } else {
      slot.object = object;
    }
    slot.cell = cell;
  }

  void push_remembered(PyObject* object, std::string_view utf8, ColumnValues& out) {
    const auto [entry, inserted] = all_.try_emplace(object, Cell::null());
    if (!inserted) {
      out.push_shared_text(entry->second);
      return;
    }
    Py_INCREF(object);  // the table owns its keys from here on
    entry->second = out.push_text(utf8);
  }

  void forget_recent() noexcept {
    if (!recent_) return;
    for (Slot& slot : *recent_) {
      if (from_iterator_) Py_XDECREF(slot.object);
      slot.object = nullptr;
    }
  }

  bool from_iterator_ = false;
  std::unique_ptr<Slots> recent_;
  absl::flat_hash_map<PyObject*, Cell> all_;
};

Status push_text(PyObject* object, ColumnValues& out, SharedTexts* texts) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return fetch_error();
  const std::string_view text(utf8, static_cast<std::size_t>(size));
  if (texts == nullptr) {
    out.push_text(text);
  } else {
    texts->push(object, text, out);
  }
  return {};
}

// normalize_value and normalize_typed_value, storing texts through `texts`
// (null: each text copied).
Status normalize_plain(PyObject* object, ColumnValues& out, SharedTexts* texts);
Status normalize_typed(PyObject* object, LogicalType type, std::string_view column_name, ColumnValues& out,
                       SharedTexts* texts);

// The column tuple's parts once its shape has been accepted.
struct ColumnHeader {
  std::string name;
  std::string type_text;
  PyObject* values = nullptr;  // borrowed from the item
  bool typed = false;
};

// Four elements: name, type name, values, typed flag. Any failure is silent
// and sends the item to the three-element reading; only running out of
// memory is passed on.
Result<std::optional<ColumnHeader>> read_four_elements(PyObject* item) {
  using Header = std::optional<ColumnHeader>;
  if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 4) return Header();
  auto name = extract_text(PyTuple_GET_ITEM(item, 0));
  if (!name.ok()) return is_memory_error(name.error()) ? Result<Header>(name.take_error()) : Result<Header>(Header());
  auto type_text = extract_text(PyTuple_GET_ITEM(item, 1));
  if (!type_text.ok()) {
    return is_memory_error(type_text.error()) ? Result<Header>(type_text.take_error()) : Result<Header>(Header());
  }
  NOLT_ASSIGN_OR_RETURN(std::optional<bool> typed, boolean_rule(PyTuple_GET_ITEM(item, 3)));
  if (!typed) return Header();
  return Header(ColumnHeader{std::move(name).value(), std::move(type_text).value(), PyTuple_GET_ITEM(item, 2), *typed});
}

Result<ColumnHeader> read_three_elements(PyObject* item) {
  if (!PyTuple_Check(item)) {
    return CoreError::type_error(str_cat("'", type_qualname(item), "' object cannot be converted to 'PyTuple'"));
  }
  const Py_ssize_t length = PyTuple_GET_SIZE(item);
  if (length != 3) {
    return CoreError::value_error(str_cat("expected tuple of length 3, but got tuple of length ", length));
  }
  NOLT_ASSIGN_OR_RETURN(std::string name, extract_text(PyTuple_GET_ITEM(item, 0)));
  NOLT_ASSIGN_OR_RETURN(std::string type_text, extract_text(PyTuple_GET_ITEM(item, 1)));
  return ColumnHeader{std::move(name), std::move(type_text), PyTuple_GET_ITEM(item, 2), false};
}

// The length hint only sizes the first allocation: a failing or absurd hint
// costs nothing but a later regrowth. `exact` marks the length of a list or
// tuple, which will be filled: its pages are faulted in at once.
void reserve_from_hint(PyObject* values, ColumnValues& out, bool exact = false) {
  const Py_ssize_t hint = PyObject_LengthHint(values, 0);
  if (hint < 0) {
    PyErr_Clear();
    return;
  }
  // A list's or tuple's length is what will be filled; any other object's
  // hint may lie, so it reserves at most 16 MiB of cells and growth does the rest.
  constexpr Py_ssize_t kMaxHintedCells = Py_ssize_t{1} << 20;
  try {
    out.reserve(static_cast<std::size_t>(exact ? hint : std::min(hint, kMaxHintedCells)));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  advise_huge_pages(out.cells().data(), out.cells().capacity() * sizeof(Cell));
  if (exact) prefault_for_writing(out.cells().data(), out.cells().capacity() * sizeof(Cell));
}

// Sizes the text arena from a few cells spread over the list, so a text
// column fills one allocation instead of a chain of doublings that each copy
// the arena. Reading the sampled cells runs no Python code.
void reserve_text_from_sample(PyObject* list, ColumnValues& out) {
  constexpr Py_ssize_t kSampleCells = 64;
  const Py_ssize_t size = PyList_GET_SIZE(list);
  if (size < 4 * kSampleCells) return;
  const Py_ssize_t stride = size / kSampleCells;
  std::size_t sampled_bytes = 0;
  std::array<PyObject*, kSampleCells> sampled{};
  for (Py_ssize_t sample_idx = 0; sample_idx < kSampleCells; ++sample_idx) {
    // Each sampled cell is a likely cache miss: a column whose first eight
    // samples hold no text is taken to hold none worth sizing for.
    if (sample_idx == 8 && sampled_bytes == 0) return;
    PyObject* cell = PyList_GET_ITEM(list, sample_idx * stride);
    sampled[static_cast<std::size_t>(sample_idx)] = cell;
    if (!PyUnicode_Check(cell)) continue;
    // A long text met again shares its bytes (SharedTexts): they count once.
    if (PyUnicode_GET_LENGTH(cell) >= 1024 &&
        std::find(sampled.begin(), sampled.begin() + sample_idx, cell) != sampled.begin() + sample_idx) {
      continue;
    }
    // Non-ASCII text takes up to three bytes per character in UTF-8; two is
    // a guess that only sizes the first allocation.
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(cell));
    sampled_bytes += PyUnicode_IS_ASCII(cell) ? length : 2 * length;
  }
  if (sampled_bytes == 0) return;
  const double per_cell = static_cast<double>(sampled_bytes) / static_cast<double>(kSampleCells);
  // An eighth more than the sample suggests; reserved pages never touched cost no memory.
  const auto estimate = static_cast<std::size_t>(per_cell * 1.125 * static_cast<double>(size)) + 64;
  constexpr std::size_t kMaxReservedTextBytes = std::size_t{1} << 34;
  try {
    out.reserve_text(std::min(estimate, kMaxReservedTextBytes));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  advise_huge_pages(out.text_buffer(), out.text_buffer_bytes());
}

// The cells that need no interpreter call that could run Python code: exact
// int, float, bool, None and ASCII str, read in place exactly as the general
// conversion would read them. Returns false (nothing appended) for every other
// cell, and for an int beyond 64 bits, whose error the general path raises.
inline bool push_exact_plain(PyObject* object, ColumnValues& out, SharedTexts& texts) {
  PyTypeObject* type = Py_TYPE(object);
  if (type == &PyFloat_Type) {
    out.push_float(PyFloat_AS_DOUBLE(object));
    return true;
  }
  if (type == &PyLong_Type) {
    const auto* number = reinterpret_cast<const PyLongObject*>(object);
    if (PyUnstable_Long_IsCompact(number)) {
      out.push_integer(static_cast<std::int64_t>(PyUnstable_Long_CompactValue(number)));
      return true;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (overflow != 0) return false;
    if (value == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return false;
    }
    out.push_integer(value);
    return true;
  }
  if (type == &PyUnicode_Type && PyUnicode_IS_COMPACT_ASCII(object)) {
    // For a compact ASCII str the UTF-8 form is the character data itself.
    texts.push(object,
               std::string_view(static_cast<const char*>(PyUnicode_DATA(object)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(object))),
               out);
    return true;
  }
  if (object == Py_None) {
    out.push_null();
    return true;
  }
  if (type == &PyBool_Type) {
    out.push_boolean(object == Py_True);
    return true;
  }
  return false;
}

// The fast path of typed conversion: the same values as normalize_typed_value
// for the exact types it takes; false sends the cell to the general path.
inline bool push_exact_typed(PyObject* object, LogicalType type, ColumnValues& out, SharedTexts& texts) {
  switch (type) {
    case LogicalType::Integer:
      return Py_TYPE(object) == &PyLong_Type && push_exact_plain(object, out, texts);
    case LogicalType::Float:
      if (Py_TYPE(object) != &PyFloat_Type) return false;
      if (const double value = PyFloat_AS_DOUBLE(object); value != value) {
        out.push_null();
      } else {
        out.push_float(value);
      }
      return true;
    case LogicalType::Boolean:
      if (Py_TYPE(object) != &PyBool_Type) return false;
      out.push_boolean(object == Py_True);
      return true;
    case LogicalType::String:
    case LogicalType::Datetime:
    case LogicalType::Categorical:
    case LogicalType::Unknown:
      return push_exact_plain(object, out, texts);
  }
  return false;
}

// Whether the signal handlers run before the cell at `row_idx`: once every
// kInterruptStride cells, so a long column can be stopped (Ctrl-C).
inline bool signal_check_due(Py_ssize_t row_idx) noexcept {
  constexpr std::size_t kMask = kInterruptStride - 1;
  return (static_cast<std::size_t>(row_idx) & kMask) == kMask;
}

// `fast` takes the common exact-type cells in place; every other cell goes to
// `convert`, holding a reference of its own, since converting it may run
// Python code that changes the list (so may the signal handlers).
template <class Fast, class Convert>
Status fill_values(PyObject* values, ColumnValues& out, SharedTexts& texts, bool may_hold_text, Fast&& fast,
                   Convert&& convert) {
  // Exact lists and tuples are walked by index exactly as their iterators
  // would walk them (a list's length is re-read at every step), without
  // creating an iterator object.
  if (PyList_CheckExact(values)) {
    reserve_from_hint(values, out, true);
    if (may_hold_text) reserve_text_from_sample(values, out);
    for (Py_ssize_t row_idx = 0; row_idx < PyList_GET_SIZE(values); ++row_idx) {
      if (signal_check_due(row_idx)) {
        NOLT_TRY(check_signals());
        texts.forget_borrowed();
      }
      PyObject* cell = PyList_GET_ITEM(values, row_idx);
      if (fast(cell)) continue;
      PyRef held = PyRef::borrow(cell);
      NOLT_TRY(convert(held.get()));
    }
    return {};
  }
  if (PyTuple_CheckExact(values)) {
    const Py_ssize_t size = PyTuple_GET_SIZE(values);
    reserve_from_hint(values, out, true);
    for (Py_ssize_t row_idx = 0; row_idx < size; ++row_idx) {
      if (signal_check_due(row_idx)) {
        NOLT_TRY(check_signals());
        texts.forget_borrowed();
      }
      PyObject* cell = PyTuple_GET_ITEM(values, row_idx);
      if (fast(cell)) continue;
      NOLT_TRY(convert(cell));
    }
    return {};
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(values));
  if (!iterator) return fetch_error();
  reserve_from_hint(values, out);
  texts.set_from_iterator();
  for (Py_ssize_t row_idx = 0;; ++row_idx) {
    // An iterator written in Python runs the handlers itself; one written
    // in C (a numpy array's, itertools.repeat) may never.
    if (signal_check_due(row_idx)) NOLT_TRY(check_signals());
    PyRef cell = PyRef::steal(PyIter_Next(iterator.get()));
    if (!cell) {
      if (PyErr_Occurred()) return fetch_error();
      return {};
    }
    if (fast(cell.get())) continue;
    NOLT_TRY(convert(cell.get()));
  }
}

Result<ColumnInput> convert_column(PyObject* item) {
  NOLT_ASSIGN_OR_RETURN(std::optional<ColumnHeader> four, read_four_elements(item));
  ColumnHeader header;
  if (four) {
    header = std::move(*four);
  } else {
    NOLT_ASSIGN_OR_RETURN(header, read_three_elements(item));
  }
  NOLT_ASSIGN_OR_RETURN(LogicalType type, parse_logical_type(header.type_text));

  ColumnInput column;
  column.name = std::move(header.name);
  column.logical_type = type;
  ColumnValues& out = column.values;
  const std::string& name = column.name;
  // Numeric arrays are read from their memory when that gives the same cells.
  NOLT_ASSIGN_OR_RETURN(const BufferFill from_buffer, fill_from_buffer(header.values, type, header.typed, out));
  if (from_buffer == BufferFill::Handled) return column;
  SharedTexts texts;
  if (header.typed) {
    const bool may_hold_text = !is_numeric(type) && type != LogicalType::Boolean;
    NOLT_TRY(fill_values(
        header.values, out, texts, may_hold_text,
        [&](PyObject* cell) { return push_exact_typed(cell, type, out, texts); },
        [&](PyObject* cell) { return normalize_typed(cell, type, name, out, &texts); }));
  } else {
    NOLT_TRY(fill_values(
        header.values, out, texts, true, [&](PyObject* cell) { return push_exact_plain(cell, out, texts); },
        [&](PyObject* cell) { return normalize_plain(cell, out, &texts); }));
  }
  return column;
}

Status normalize_plain(PyObject* object, ColumnValues& out, SharedTexts* texts) {
  PyTypeObject* type = Py_TYPE(object);
  // Exact types first: the common case costs one pointer comparison.
  if (type == &PyFloat_Type) {
    out.push_float(PyFloat_AS_DOUBLE(object));
    return {};
  }
  if (object == Py_None) {
    out.push_null();
    return {};
  }
  if (type == &PyBool_Type) {
    out.push_boolean(object == Py_True);
    return {};
  }
  if (PyLong_Check(object)) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) return fetch_error();
    out.push_integer(value);
    return {};
  }
  if (PyFloat_Check(object)) {
    out.push_float(PyFloat_AS_DOUBLE(object));
    return {};
  }
  if (PyUnicode_Check(object)) return push_text(object, out, texts);
  return CoreError::type_error(str_cat("Unsupported normalized value type '", type_name(object), "'"));
}

Status normalize_typed(PyObject* object, LogicalType type, std::string_view column_name, ColumnValues& out,
                       SharedTexts* texts) {
  switch (type) {
    case LogicalType::Integer: {
      const long long value = PyLong_AsLongLong(object);
      if (value == -1 && PyErr_Occurred()) {
        NOLT_TRY(clear_refusal());
        return unsupported_value(column_name);
      }
      out.push_integer(value);
      return {};
    }
    case LogicalType::Float: {
      const double value = PyFloat_AsDouble(object);
      if (value == -1.0 && PyErr_Occurred()) return fetch_error();
      if (value != value) {
        out.push_null();
      } else {
        out.push_float(value);
      }
      return {};
    }
    case LogicalType::Boolean: {
      NOLT_ASSIGN_OR_RETURN(std::optional<bool> value, boolean_rule(object));
      if (!value) return unsupported_value(column_name);
      out.push_boolean(*value);
      return {};
    }
    case LogicalType::String:
    case LogicalType::Datetime:
    case LogicalType::Categorical:
    case LogicalType::Unknown:
      return normalize_plain(object, out, texts);
  }
  return normalize_plain(object, out, texts);
}

}  // namespace

Status normalize_value(PyObject* object, ColumnValues& out) { return normalize_plain(object, out, nullptr); }

Status normalize_typed_value(PyObject* object, LogicalType type, std::string_view column_name, ColumnValues& out) {
  return normalize_typed(object, type, column_name, out, nullptr);
}

Result<std::vector<ColumnInput>> convert_columns(std::vector<PyRef> items) {
  std::vector<ColumnInput> columns;
  columns.reserve(items.size());
  for (PyRef& item : items) {
    if (!columns.empty()) NOLT_TRY(check_signals());
    NOLT_ASSIGN_OR_RETURN(ColumnInput column, convert_column(item.get()));
    columns.push_back(std::move(column));
    item = PyRef();  // the item is no longer needed
  }
  return columns;
}

}  // namespace nolt::py
