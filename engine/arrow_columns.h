// Columns read from Arrow data handed over through the Arrow C data interface:
// the structures themselves, their release, and the cells nolt's adapters
// would make of each supported Arrow type. Plain C++: no interpreter here, so
// the reading runs on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "data/values.h"
#include "memory/page_advice.h"
#include "profiling/details.h"
#include "profiling/statistics.h"

// The structures of the Arrow C data interface, laid out as that interface
// fixes them (guarded so that another header declaring them is compatible).
extern "C" {
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};
#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE
struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};
#endif  // ARROW_C_STREAM_INTERFACE
}

namespace nolt::arrow {

// Owns one structure moved out of its producer's hands and releases it once.
template <class Struct>
class Owned {
 public:
  Owned() noexcept { value_.release = nullptr; }
  // Takes over `source` and marks it released, as the interface's move does.
  static Owned take(Struct* source) noexcept {
    Owned owned;
    owned.value_ = *source;
    source->release = nullptr;
    return owned;
  }
  Owned(Owned&& other) noexcept : value_(other.value_) { other.value_.release = nullptr; }
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.value_;
      other.value_.release = nullptr;
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  void reset() noexcept {
    if (value_.release != nullptr) value_.release(&value_);
    value_.release = nullptr;
  }
  bool live() const noexcept { return value_.release != nullptr; }
  Struct* get() noexcept { return &value_; }
  const Struct& operator*() const noexcept { return value_; }
  const Struct* operator->() const noexcept { return &value_; }

 private:
  Struct value_;
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

// One piece of a column: an array and the slice of it that belongs to the
// column (a record batch's own offset and length apply to its children).
struct Chunk {
  const ArrowArray* array;
  std::int64_t offset;  // the parent's offset; the array's own offset is added on reading
  std::int64_t length;
};

// The logical type the adapters give a column of this Arrow type, or nullopt
// for a type this reader leaves to them (decimals, durations, binary, nested
// and extension types, among others, still get a type there).
std::optional<LogicalType> natural_logical_type(const ArrowSchema& schema);

// Arrow data taken over from its exporter: the schema and every batch, held
// (and so kept alive by their producer) until this value is destroyed.
struct ImportedArrow {
  OwnedSchema schema;
  std::vector<OwnedArray> batches;
};

// Makes `out` the cells of every chunk of one column, declared `declared`, as
// the adapters make them: numbers and booleans as they are (float16 and float32
// widened exactly), text as text, dictionary entries as the text of their
// values, dates, times and timestamps as ISO 8601 text (zoned ones in UTC with
// "+00:00"), the null type as nulls; a column declared as a text type that
// holds integers or booleans gets their text. Returns false, leaving `out` in
// an unspecified state, where the adapters' cells cannot be reproduced
// exactly here (the type, a cast to another type, an unsigned integer past
// the 64-bit integers, a date outside the years 1 to 9999, a malformed array).
// `out` views its texts (ColumnValues::viewing): those of text columns where
// they lie in the chunks' buffers, which must outlive every read of them.
bool read_column(const ArrowSchema& schema, std::span<const Chunk> chunks, LogicalType declared, ColumnValues& out);

// A column read without its text, where the text is a function of a number
// that tells values apart exactly as their texts would:
// - Temporal: every cell is the Arrow value itself (days, milliseconds,
//   time units or epoch units of `format`), an Integer cell; within one column
//   the ISO 8601 text is a strictly increasing function of that value, so equal
//   values are equal texts and the smallest value is the earliest instant.
//   With `with_numbers` there are no cells (`keys_only`): `numbers` holds the
//   integer_order_key of each value, in row order, and counts the nulls.
// - Dictionary: every cell is the index of its entry's text in `texts` (one
//   index per distinct text over every chunk's dictionary; a null entry is a
//   null cell), an Integer cell. With `with_numbers` there are no cells
//   (`keys_only`): `tallies` holds per text how often and where first it
//   occurs, `numbers` counts the rows and the nulls.
// - Number: no cells; `numbers` holds the keys of the values (an integer
//   column's integer_order_key of each value, a float column's order_key of
//   each finite value), in row order, and counts the others.
// - Boolean: no cells; `numbers` counts the values.
struct NumberKeys {
  std::uint64_t row_count = 0;
  ScratchArray<std::uint64_t> keys;
  std::uint64_t* into = nullptr;  // where read_number_keys puts them instead of `keys`
  std::size_t key_count = 0;
  NumericKeyCounts counts;  // the nulls, and a float column's NaNs and infinities
  std::uint64_t true_count = 0;
  std::uint64_t false_count = 0;
  bool first_true = false;  // the first value of a boolean column that has one

  std::uint64_t* key_data() noexcept { return into != nullptr ? into : keys.data(); }
};

// How often a dictionary column's text occurs, and in which row first.
struct TextTally {
  std::uint64_t count = 0;
  std::uint64_t first_row = 0;
};

struct TypedColumn {
  enum class Kind : std::uint8_t { None, Temporal, Dictionary, Number, Boolean };
  Kind kind = Kind::None;
  std::string format;                   // Temporal, and Number when keys_deferred: the Arrow format of the values
  std::vector<std::string_view> texts;  // Dictionary: the distinct texts, as `entries` view them
  std::vector<std::unique_ptr<ColumnValues>> entries;
  std::vector<TextTally> tallies;       // Dictionary when keys_only: one per text
  NumberKeys numbers;                   // Number, Boolean, and Temporal or Dictionary when keys_only
  bool keys_only = false;               // no cells: Number, Boolean, and the others read with numbers
  // Number: the chunks whose keys read_number_keys reads later (when the
  // chunks' structure alone shows they read); the chunks' arrays must stay
  // where they are, the column's schema need not (only its format is kept).
  bool keys_deferred = false;
  std::vector<Chunk> deferred_chunks;
};

// read_column, but where a column of this declared type can be held as a
// TypedColumn (temporal columns declared "datetime" or "unknown", dictionary
// columns declared "string", "categorical" or "unknown", and with
// `with_numbers` integer, float and boolean columns declared as their own
// type), its cells are as above and `typed` says how to read them. Returns
// false exactly where read_column does.
bool read_typed_column(const ArrowSchema& schema, std::span<const Chunk> chunks, LogicalType declared,
                       ColumnValues& out, TypedColumn& typed, bool with_numbers = true);

// The keys of a Number column whose reading read_typed_column deferred, into
// `into` (room for numbers.row_count keys), with its counts: the same keys
// and counts it would have read then. A column's keys are read once. The
// deferral checked that they read, so false means a fault of this reader.
bool read_number_keys(TypedColumn& typed, std::uint64_t* into);

// The ISO 8601 text read_column writes for one value of a temporal column of
// this Arrow format (a value it accepts), into `out` (48 bytes); returns its length.
std::size_t temporal_text(std::string_view format, std::int64_t value, char* out) noexcept;

// The kind of moment the texts of this temporal format are: dates and
// timestamps without a zone are naive, zoned timestamps (written in UTC) are
// aware, times are times of day.
MomentKind temporal_moment_kind(std::string_view format) noexcept;

}  // namespace nolt::arrow
