// The cell and column vocabulary shared by every part of the system: logical
// types, cells, column values and converted columns. Plain C++; ingestion
// fills these records from Python objects, every computing part reads them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/core_error.h"

namespace nolt {

// The declared type of a column. The order is fixed and part of the contract.
enum class LogicalType : std::uint8_t { Integer, Float, Boolean, String, Datetime, Categorical, Unknown };

inline constexpr std::array<std::string_view, 7> kLogicalTypeNames = {
    "integer", "float", "boolean", "string", "datetime", "categorical", "unknown"};

constexpr std::string_view logical_type_name(LogicalType type) {
  return kLogicalTypeNames[static_cast<std::size_t>(type)];
}

constexpr bool is_numeric(LogicalType type) {
  return type == LogicalType::Integer || type == LogicalType::Float;
}

// Exact, case-sensitive match of one of the seven names.
inline std::optional<LogicalType> logical_type_from_name(std::string_view text) {
  for (std::size_t i = 0; i < kLogicalTypeNames.size(); ++i) {
    if (kLogicalTypeNames[i] == text) return static_cast<LogicalType>(i);
  }
  return std::nullopt;
}

inline Result<LogicalType> parse_logical_type(std::string_view text) {
  if (auto type = logical_type_from_name(text)) return *type;
  return CoreError::value_error(str_cat("Unsupported logical type '", text, "'"));
}

// The alternatives of a normalized cell, in their fixed order.
enum class ValueKind : std::uint8_t { Null, Integer, Float, Boolean, String };

// One normalized cell in 16 bytes: no heap allocation per cell. A String cell
// holds an offset and a length into its column's text arena.
class Cell {
 public:
  static Cell null() { return Cell(ValueKind::Null, 0, 0); }
  static Cell integer(std::int64_t value) {
    return Cell(ValueKind::Integer, static_cast<std::uint64_t>(value), 0);
  }
  static Cell floating(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Cell(ValueKind::Float, bits, 0);
  }
  static Cell boolean(bool value) { return Cell(ValueKind::Boolean, value ? 1 : 0, 0); }
  static Cell text(std::uint64_t offset, std::uint64_t length) {
    return Cell(ValueKind::String, offset, length);
  }

  ValueKind kind() const noexcept { return static_cast<ValueKind>(kind_); }
  bool is_null() const noexcept { return kind() == ValueKind::Null; }
  std::int64_t as_integer() const noexcept { return static_cast<std::int64_t>(payload_); }
  double as_float() const noexcept {
    double value;
    std::memcpy(&value, &payload_, sizeof value);
    return value;
  }
  std::uint64_t float_bits() const noexcept { return payload_; }
  bool as_boolean() const noexcept { return payload_ != 0; }
  std::uint64_t text_offset() const noexcept { return payload_; }
  std::uint64_t text_length() const noexcept { return length_; }

 private:
  Cell(ValueKind kind, std::uint64_t payload, std::uint64_t length)
      : payload_(payload), length_(length), kind_(static_cast<std::uint64_t>(kind)) {}

  std::uint64_t payload_;
  std::uint64_t length_ : 56;
  std::uint64_t kind_ : 8;
};
static_assert(sizeof(Cell) == 16, "a cell must stay 16 bytes");

// The cells of one column with the text of its String cells.
//
// By default the texts are copied into one arena and a String cell holds an
// offset and a length into it: texts are views into the arena and stay valid
// while the column lives and is not appended to.
//
// A column made with ColumnValues::viewing() holds texts in place instead: a
// String cell holds the address of its first byte, which may lie in memory the
// column does not own (push_viewed_text: the caller keeps that memory alive
// while the column's texts are read) or in blocks the column owns
// (push_text, whose copies never move). Such texts stay valid while the
// column lives, however much it is appended to.
//
// Several cells may share one text's bytes.
class ColumnValues {
 public:
  ColumnValues() = default;
  // An empty column whose texts are held in place (see above).
  static ColumnValues viewing() {
    ColumnValues values;
    values.viewing_ = true;
    return values;
  }

  std::size_t size() const noexcept { return cells_.size(); }
  bool empty() const noexcept { return cells_.empty(); }
  const std::vector<Cell>& cells() const noexcept { return cells_; }
  const Cell& operator[](std::size_t row_idx) const noexcept { return cells_[row_idx]; }
  auto begin() const noexcept { return cells_.begin(); }
  auto end() const noexcept { return cells_.end(); }
  bool views_texts() const noexcept { return viewing_; }

  std::string_view text(const Cell& cell) const noexcept {
    if (viewing_) {
      // An address kept as an integer: an empty text may have none (0).
      return std::string_view(reinterpret_cast<const char*>(static_cast<std::uintptr_t>(cell.text_offset())),
                              cell.text_length());
    }
    return std::string_view(arena_.data() + cell.text_offset(), cell.text_length());
  }

  void reserve(std::size_t cell_count) { cells_.reserve(cell_count); }
  void push_null() { cells_.push_back(Cell::null()); }
  void push_integer(std::int64_t value) { cells_.push_back(Cell::integer(value)); }
  void push_float(double value) { cells_.push_back(Cell::floating(value)); }
  void push_boolean(bool value) { cells_.push_back(Cell::boolean(value)); }
  // Appends a String cell with its text copied into the column; returns the
  // cell, which push_shared_text may repeat.
  Cell push_text(std::string_view text) {
    if (viewing_) return push_viewed_text(std::string_view(blocks_.copy(text), text.size()));
    const std::uint64_t offset = arena_.size();
    arena_.append(text.data(), text.size());
    const Cell cell = Cell::text(offset, text.size());
    cells_.push_back(cell);
    return cell;
  }
  // Appends a String cell over `text` where it lies, without a copy (a viewing
  // column only): the memory must outlive every read of the column's texts.
  Cell push_viewed_text(std::string_view text) {
    NOLT_DEBUG_CHECK(viewing_, "a viewed text in a column that copies its texts");
    const Cell cell = Cell::text(text.empty() ? 0 : reinterpret_cast<std::uintptr_t>(text.data()), text.size());
    cells_.push_back(cell);
    return cell;
  }
  // Appends a String cell over the bytes of an earlier String cell of this
  // column: the two cells name the same bytes. Ranges may thus repeat and
  // overlap; nothing may assume that they are disjoint or in order.
  void push_shared_text(const Cell& stored) {
    NOLT_DEBUG_CHECK(stored.kind() == ValueKind::String &&
                         (viewing_ || (stored.text_offset() <= arena_.size() &&
                                       stored.text_length() <= arena_.size() - stored.text_offset())),
                     "a shared text outside its column's arena");
    cells_.push_back(stored);
  }
  void shrink_arena() { arena_.shrink_to_fit(); }
  // Room for about `byte_count` more text bytes: one allocation instead of a
  // chain of doublings that each copy the arena. Only a size hint.
  void reserve_text(std::size_t byte_count) {
    if (!viewing_) arena_.reserve(arena_.size() + byte_count);
  }
  // The arena's buffer with its reserved capacity, for memory advice.
  const char* text_buffer() const noexcept { return arena_.data(); }
  std::size_t text_buffer_bytes() const noexcept { return arena_.capacity(); }

 private:
  // A viewing column's own copies of texts, in blocks that never move. A
  // copy of the column shares the blocks (texts never change) and writes its
  // own copies into blocks of its own.
  class TextBlocks {
   public:
    TextBlocks() = default;
    TextBlocks(const TextBlocks& other) : blocks_(other.blocks_) {}
    TextBlocks& operator=(const TextBlocks& other) {
      blocks_ = other.blocks_;
      used_ = room_ = 0;
      return *this;
    }
    // A moved-from value has no blocks and no room left.
    TextBlocks(TextBlocks&& other) noexcept
        : blocks_(std::move(other.blocks_)), used_(std::exchange(other.used_, 0)),
          room_(std::exchange(other.room_, 0)) {}
    TextBlocks& operator=(TextBlocks&& other) noexcept {
      blocks_ = std::move(other.blocks_);
      used_ = std::exchange(other.used_, 0);
      room_ = std::exchange(other.room_, 0);
      return *this;
    }

    const char* copy(std::string_view text) {
      if (text.empty()) return nullptr;
      if (room_ < text.size()) {
        const std::size_t bytes = text.size() > kBlockBytes ? text.size() : kBlockBytes;
        blocks_.push_back(std::make_shared_for_overwrite<char[]>(bytes));
        used_ = 0;
        room_ = bytes;
      }
      char* at = blocks_.back().get() + used_;
      std::memcpy(at, text.data(), text.size());
      used_ += text.size();
      room_ -= text.size();
      return at;
    }

   private:
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
    std::vector<std::shared_ptr<char[]>> blocks_;
    std::size_t used_ = 0;
    std::size_t room_ = 0;
  };

  std::vector<Cell> cells_;
  std::string arena_;
  bool viewing_ = false;
  TextBlocks blocks_;
};

// Whether any cell is null; stops at the first.
inline bool has_null(const ColumnValues& values) noexcept {
  for (const Cell& cell : values) {
    if (cell.is_null()) return true;
  }
  return false;
}

// One converted input column: the name as given, the cells in iteration order
// and the declared logical type.
struct ColumnInput {
  std::string name;
  ColumnValues values;
  LogicalType logical_type = LogicalType::Unknown;
};

// Every column must have the first column's length; the common length is the
// row count (0 without columns).
// `length_of(column_idx)` gives a column's length where its cells are not all
// it holds (a caller may keep some columns in another form).
template <class LengthOf>
Result<std::uint64_t> check_equal_lengths(const std::vector<ColumnInput>& columns, LengthOf&& length_of) {
  if (columns.empty()) return std::uint64_t{0};
  const std::uint64_t expected = length_of(std::size_t{0});
  for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
    const std::uint64_t length = length_of(column_idx);
    if (length != expected) {
      return CoreError::value_error(
          str_cat("Column '", columns[column_idx].name, "' has ", length, " values; expected ", expected));
    }
  }
  return expected;
}

inline Result<std::uint64_t> check_equal_lengths(const std::vector<ColumnInput>& columns) {
  return check_equal_lengths(columns, [&](std::size_t column_idx) -> std::uint64_t {
    return columns[column_idx].values.size();
  });
}

}  // namespace nolt
