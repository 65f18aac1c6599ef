#include "ingest/buffer_columns.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

#include "memory/page_advice.h"

// Iterating a buffer exporter yields one Python object per element and the
// column converts each of them. Here the elements are read from memory
// instead, and only where the outcome is certain to be the same: the cells
// appended are those iteration would append. Every case where iteration would
// fail (and any case not worked out below) goes back to iteration, which then
// raises its own error at its own cell.

namespace nolt::py {

namespace {

// The exporters whose iteration is known: which objects it yields, and that it
// walks the one dimension of the buffer in order.
enum class Exporter : std::uint8_t {
  NumpyArray,  // yields numpy scalars: np.int64, np.float32, np.bool, ...
  ArrayArray,  // yields Python int and float
  MemoryView,  // yields Python int, float and bool
};

// The exact type only: a subclass may iterate differently. numpy's array type
// is a static type, and array.array a type bound to its extension module; a
// class statement can make neither, so neither can be imitated from Python by
// naming a class after it.
std::optional<Exporter> known_exporter(PyObject* values) {
  PyTypeObject* type = Py_TYPE(values);
  if (type == &PyMemoryView_Type) return Exporter::MemoryView;
  if (type->tp_as_buffer == nullptr || type->tp_as_buffer->bf_getbuffer == nullptr) return std::nullopt;
  if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
    // A static type's tp_name is its module and name.
    if (std::strcmp(type->tp_name, "numpy.ndarray") == 0) return Exporter::NumpyArray;
    return std::nullopt;
  }
  if (std::strcmp(type->tp_name, "array.array") != 0) return std::nullopt;
  PyObject* module = PyType_GetModule(type);  // borrowed
  if (module == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  PyModuleDef* definition = PyModule_GetDef(module);
  if (definition == nullptr || definition->m_name == nullptr || std::strcmp(definition->m_name, "array") != 0) {
    PyErr_Clear();
    return std::nullopt;
  }
  return Exporter::ArrayArray;
}

// The exporter's buffer, held for as long as this lives.
class HeldBuffer {
 public:
  HeldBuffer() noexcept = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&view_);
  }

  // False, with the exporter's error pending, when it refuses (numpy does
  // for datetime arrays, memoryview once released).
  bool acquire(PyObject* exporter) noexcept {
    if (PyObject_GetBuffer(exporter, &view_, PyBUF_RECORDS_RO) != 0) return false;
    held_ = true;
    return true;
  }
  const Py_buffer& view() const noexcept { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

enum class ElementKind : std::uint8_t { Signed, Unsigned, Float, Bool };

struct ElementFormat {
  ElementKind kind;
  std::size_t size;  // bytes per element
  bool swap_bytes;   // stored in the other byte order than this machine's
};

// One element format character: its kind and its size with native sizes
// ("@" or no prefix) and with standard sizes ("=", "<", ">", "!").
struct FormatChar {
  char code;
  ElementKind kind;
  std::size_t native_size;
  std::size_t standard_size;  // 0: no standard size
};

constexpr FormatChar kFormatChars[] = {
    {'b', ElementKind::Signed, 1, 1},
    {'B', ElementKind::Unsigned, 1, 1},
    {'h', ElementKind::Signed, sizeof(short), 2},
    {'H', ElementKind::Unsigned, sizeof(unsigned short), 2},
    {'i', ElementKind::Signed, sizeof(int), 4},
    {'I', ElementKind::Unsigned, sizeof(unsigned int), 4},
    {'l', ElementKind::Signed, sizeof(long), 4},
    {'L', ElementKind::Unsigned, sizeof(unsigned long), 4},
    {'q', ElementKind::Signed, sizeof(long long), 8},
    {'Q', ElementKind::Unsigned, sizeof(unsigned long long), 8},
    {'n', ElementKind::Signed, sizeof(Py_ssize_t), 0},
    {'N', ElementKind::Unsigned, sizeof(std::size_t), 0},
    {'f', ElementKind::Float, sizeof(float), 4},
    {'d', ElementKind::Float, sizeof(double), 8},
    {'?', ElementKind::Bool, sizeof(bool), 1},
};

// The element format of a struct-style format string of one item, or nullopt
// for anything else. A memoryview iterates only native formats (a byte order
// prefix makes its iteration raise), so only numpy's array may carry one.
// The size read from the format must equal the buffer's item size.
std::optional<ElementFormat> element_format(const Py_buffer& view, Exporter exporter) {
  const char* format = view.format;
  if (format == nullptr) return std::nullopt;
  bool standard_sizes = false;
  bool big_endian = std::endian::native == std::endian::big;
  switch (format[0]) {
    case '@':
      ++format;
      break;
    case '=':
    case '<':
    case '>':
    case '!':
      if (exporter != Exporter::NumpyArray) return std::nullopt;
      standard_sizes = true;
      if (format[0] == '<') big_endian = false;
      if (format[0] == '>' || format[0] == '!') big_endian = true;
      ++format;
      break;
    default:
      break;  // "^" (unaligned native) and the rest: not one of ours
  }
  if (format[0] == '\0' || format[1] != '\0') return std::nullopt;
  for (const FormatChar& entry : kFormatChars) {
    if (entry.code != format[0]) continue;
    const std::size_t size = standard_sizes ? entry.standard_size : entry.native_size;
    if (size == 0 || static_cast<Py_ssize_t>(size) != view.itemsize) return std::nullopt;
    if (entry.kind == ElementKind::Float && size != sizeof(float) && size != sizeof(double)) return std::nullopt;
    if (entry.kind != ElementKind::Float && size != 1 && size != 2 && size != 4 && size != 8) return std::nullopt;
    return ElementFormat{entry.kind, size, big_endian != (std::endian::native == std::endian::big)};
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// What converting each iterated item gives, worked out per exporter family and
// element kind. `nullopt` means the conversion fails at the first item (or
// the outcome is not certain), so iteration must run and raise it.

// How a cell is made from an element once the outcome is known.
enum class CellRule : std::uint8_t {
  Integer,         // Integer cell of the value (0 or 1 for a bool)
  Float,           // Float cell of the value as a double
  FloatNanIsNull,  // the same, but a NaN becomes a Null cell
  Boolean,         // Boolean cell, true for any nonzero byte
};

// The conversion each cell goes through. Typed text-like columns convert
// plainly, so they share Plain.
enum class Target : std::uint8_t { Plain, TypedInteger, TypedFloat, TypedBoolean };

Target conversion_target(LogicalType type, bool typed) {
  if (!typed) return Target::Plain;
  switch (type) {
    case LogicalType::Integer:
      return Target::TypedInteger;
    case LogicalType::Float:
      return Target::TypedFloat;
    case LogicalType::Boolean:
      return Target::TypedBoolean;
    case LogicalType::String:
    case LogicalType::Datetime:
    case LogicalType::Categorical:
    case LogicalType::Unknown:
      break;
  }
  return Target::Plain;
}

// array.array and memoryview of an integer format yield Python ints.
std::optional<CellRule> python_int_rule(Target target) {
  switch (target) {
    case Target::Plain:         // an int is an Integer (beyond 64 bits: OverflowError, checked by the caller)
    case Target::TypedInteger:  // the 64-bit conversion reads it (beyond: refused, checked by the caller)
      return CellRule::Integer;
    case Target::TypedFloat:  // int to double rounds to nearest, ties to even, as the machine's conversion does
      return CellRule::FloatNanIsNull;
    case Target::TypedBoolean:  // the boolean rule refuses an int
      return std::nullopt;
  }
  return std::nullopt;
}

// array.array and memoryview of "f" or "d" yield Python floats ("f" widened).
std::optional<CellRule> python_float_rule(Target target) {
  switch (target) {
    case Target::Plain:
      return CellRule::Float;  // NaN and infinities stay Float
    case Target::TypedFloat:
      return CellRule::FloatNanIsNull;
    case Target::TypedInteger:  // a float has no __index__: refused
    case Target::TypedBoolean:  // refused by the boolean rule
      return std::nullopt;
  }
  return std::nullopt;
}

// memoryview of "?" yields Python bools.
std::optional<CellRule> python_bool_rule(Target target) {
  switch (target) {
    case Target::Plain:
    case Target::TypedBoolean:
      return CellRule::Boolean;
    case Target::TypedInteger:  // bool is an int: 0 or 1
      return CellRule::Integer;
    case Target::TypedFloat:  // 0.0 or 1.0
      return CellRule::Float;
  }
  return std::nullopt;
}

// numpy's integer scalars are not ints: plain conversion refuses them with
// their own type name ('int64', 'longlong', 'uint8', ...).
std::optional<CellRule> numpy_int_rule(Target target) {
  switch (target) {
    case Target::TypedInteger:  // through __index__ (uint64 beyond the signed range: refused, checked by the caller)
      return CellRule::Integer;
    case Target::TypedFloat:  // through __float__, numpy's C conversion to double
      return CellRule::FloatNanIsNull;
    case Target::Plain:
    case Target::TypedBoolean:  // the boolean rule takes only numpy's bool
      return std::nullopt;
  }
  return std::nullopt;
}

// np.float64 is a float subclass; np.float32 is not (plain conversion refuses
// it as 'float32'). Neither has __index__.
std::optional<CellRule> numpy_float_rule(Target target, std::size_t size) {
  switch (target) {
    case Target::Plain:
      if (size == sizeof(double)) return CellRule::Float;
      return std::nullopt;
    case Target::TypedFloat:  // np.float32 widens exactly through __float__
      return CellRule::FloatNanIsNull;
    case Target::TypedInteger:
    case Target::TypedBoolean:
      return std::nullopt;
  }
  return std::nullopt;
}

// np.bool is neither a bool nor an int: plain conversion refuses it as
// 'bool', and it has no __index__; it has __float__, and the boolean rule
// takes it by its truth.
std::optional<CellRule> numpy_bool_rule(Target target) {
  switch (target) {
    case Target::TypedFloat:
      return CellRule::Float;
    case Target::TypedBoolean:
      return CellRule::Boolean;
    case Target::Plain:
    case Target::TypedInteger:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<CellRule> cell_rule(Exporter exporter, const ElementFormat& element, Target target) {
  const bool numpy_scalars = exporter == Exporter::NumpyArray;
  switch (element.kind) {
    case ElementKind::Signed:
    case ElementKind::Unsigned:
      return numpy_scalars ? numpy_int_rule(target) : python_int_rule(target);
    case ElementKind::Float:
      return numpy_scalars ? numpy_float_rule(target, element.size) : python_float_rule(target);
    case ElementKind::Bool:
      return numpy_scalars ? numpy_bool_rule(target) : python_bool_rule(target);
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Reading the elements.

// A bool element: one byte, true when nonzero, as both numpy's scalar and
// memoryview's unpacking read it.
struct BoolByte {
  std::uint8_t byte;
};

// The one-dimensional walk over the buffer.
struct Strided {
  const char* first;
  Py_ssize_t stride;  // bytes between elements; may be zero or negative
  Py_ssize_t length;
};

template <class Element, bool kSwap>
inline Element load(const char* at) noexcept {
  // Elements may be unaligned, so they are copied out byte-wise.
  char bytes[sizeof(Element)];
  std::memcpy(bytes, at, sizeof bytes);
  if constexpr (kSwap) std::reverse(bytes, bytes + sizeof bytes);
  Element value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

template <class Element>
inline std::int64_t integer_of(Element value) noexcept {
  if constexpr (std::is_same_v<Element, BoolByte>) {
    return value.byte != 0 ? 1 : 0;
  } else {
    return static_cast<std::int64_t>(value);
  }
}

template <class Element>
inline double double_of(Element value) noexcept {
  if constexpr (std::is_same_v<Element, BoolByte>) {
    return value.byte != 0 ? 1.0 : 0.0;
  } else {
    return static_cast<double>(value);
  }
}

template <class Element>
inline bool boolean_of(Element value) noexcept {
  if constexpr (std::is_same_v<Element, BoolByte>) {
    return value.byte != 0;
  } else {
    return value != 0;
  }
}

template <class Element, bool kSwap, class Visit>
inline void for_each_element(const Strided& walk, Visit&& visit) {
  // The address of each element only: with a negative stride, one step past the
  // last element would point before the buffer.
  for (Py_ssize_t row_idx = 0; row_idx < walk.length; ++row_idx) {
    visit(load<Element, kSwap>(walk.first + row_idx * walk.stride));
  }
}

// An unsigned 64-bit element beyond the signed range is no Integer: plain
// conversion raises OverflowError and typed conversion refuses it.
template <class Element, bool kSwap>
bool fits_signed_64(const Strided& walk) {
  if constexpr (std::is_same_v<Element, std::uint64_t>) {
    bool fits = true;
    for_each_element<Element, kSwap>(walk, [&](Element value) {
      fits &= value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    });
    return fits;
  } else {
    return true;
  }
}

// Flattened: the per-cell append is inlined into each loop (left to itself the
// compiler calls it out of line for every cell, at three times the cost).
template <class Element, bool kSwap>
[[gnu::flatten]] BufferFill fill_elements(const Strided& walk, CellRule rule, ColumnValues& out) {
  if (rule == CellRule::Integer && !fits_signed_64<Element, kSwap>(walk)) return BufferFill::NotHandled;
  try {
    out.reserve(static_cast<std::size_t>(walk.length));
  } catch (const std::bad_alloc&) {
    return BufferFill::NotHandled;  // iteration grows the column as it goes
  }
  // Every reserved cell is written next: fault the pages in with one call.
  advise_huge_pages(out.cells().data(), out.cells().capacity() * sizeof(Cell));
  prefault_for_writing(out.cells().data(), out.cells().capacity() * sizeof(Cell));
  switch (rule) {
    case CellRule::Integer:
      for_each_element<Element, kSwap>(walk, [&](Element value) { out.push_integer(integer_of(value)); });
      break;
    case CellRule::Float:
      for_each_element<Element, kSwap>(walk, [&](Element value) { out.push_float(double_of(value)); });
      break;
    case CellRule::FloatNanIsNull:
      for_each_element<Element, kSwap>(walk, [&](Element value) {
        const double number = double_of(value);
        if (number != number) {
          out.push_null();
        } else {
          out.push_float(number);
        }
      });
      break;
    case CellRule::Boolean:
      for_each_element<Element, kSwap>(walk, [&](Element value) { out.push_boolean(boolean_of(value)); });
      break;
  }
  return BufferFill::Handled;
}

template <class Element>
BufferFill fill_in_order(const Strided& walk, bool swap_bytes, CellRule rule, ColumnValues& out) {
  if (swap_bytes) return fill_elements<Element, true>(walk, rule, out);
  return fill_elements<Element, false>(walk, rule, out);
}

BufferFill fill_cells(const Strided& walk, const ElementFormat& element, CellRule rule, ColumnValues& out) {
  const bool swap = element.swap_bytes && element.size > 1;
  switch (element.kind) {
    case ElementKind::Signed:
      switch (element.size) {
        case 1: return fill_in_order<std::int8_t>(walk, swap, rule, out);
        case 2: return fill_in_order<std::int16_t>(walk, swap, rule, out);
        case 4: return fill_in_order<std::int32_t>(walk, swap, rule, out);
        case 8: return fill_in_order<std::int64_t>(walk, swap, rule, out);
        default: return BufferFill::NotHandled;
      }
    case ElementKind::Unsigned:
      switch (element.size) {
        case 1: return fill_in_order<std::uint8_t>(walk, swap, rule, out);
        case 2: return fill_in_order<std::uint16_t>(walk, swap, rule, out);
        case 4: return fill_in_order<std::uint32_t>(walk, swap, rule, out);
        case 8: return fill_in_order<std::uint64_t>(walk, swap, rule, out);
        default: return BufferFill::NotHandled;
      }
    case ElementKind::Float:
      if (element.size == sizeof(float)) return fill_in_order<float>(walk, swap, rule, out);
      if (element.size == sizeof(double)) return fill_in_order<double>(walk, swap, rule, out);
      return BufferFill::NotHandled;
    case ElementKind::Bool:
      return fill_in_order<BoolByte>(walk, false, rule, out);
  }
  return BufferFill::NotHandled;
}

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "float elements are read as IEEE 754 binary32 and binary64");

}  // namespace

Result<BufferFill> fill_from_buffer(PyObject* values, LogicalType type, bool typed, ColumnValues& out) {
  const std::optional<Exporter> exporter = known_exporter(values);
  if (!exporter) return BufferFill::NotHandled;
  HeldBuffer buffer;
  if (!buffer.acquire(values)) {
    // A released memoryview refuses with ValueError, but the iterator it still
    // hands out ends at once: the column would silently be empty. Its
    // refusal is the column's error, as listing the view raises it.
    if (*exporter == Exporter::MemoryView && PyErr_ExceptionMatches(PyExc_ValueError)) return fetch_error();
    // Running out of memory is no refusal of the data.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return fetch_error();
    PyErr_Clear();  // iteration decides
    return BufferFill::NotHandled;
  }
  const Py_buffer& view = buffer.view();
  // One dimension, plain strides: what iteration walks element by element.
  if (view.ndim != 1 || view.shape == nullptr || view.strides == nullptr || view.suboffsets != nullptr) {
    return BufferFill::NotHandled;
  }
  const std::optional<ElementFormat> element = element_format(view, *exporter);
  if (!element) return BufferFill::NotHandled;
  const std::optional<CellRule> rule = cell_rule(*exporter, *element, conversion_target(type, typed));
  if (!rule) return BufferFill::NotHandled;
  const Strided walk{static_cast<const char*>(view.buf), view.strides[0], view.shape[0]};
  if (walk.length < 0 || (walk.length > 0 && walk.first == nullptr)) return BufferFill::NotHandled;
  return fill_cells(walk, *element, *rule, out);
}

}  // namespace nolt::py
