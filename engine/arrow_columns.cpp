#include "arrow_columns.h"

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>

#include "common/utf8.h"

namespace nolt::arrow {
namespace {

// How the cells of a column are made: as the column's own values, or as the
// text of its integers and booleans (a column declared as a text type).
enum class Form : std::uint8_t { Natural, Text };

bool is_text_type(LogicalType type) noexcept {
  return type == LogicalType::String || type == LogicalType::Datetime || type == LogicalType::Categorical ||
         type == LogicalType::Unknown;
}

std::int32_t read_i32(const void* at) noexcept {
  std::int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// Whether the metadata (the interface's count-prefixed key/value pairs)
// names an extension type: such a column is its extension's, not its
// storage type's.
bool has_extension_name(const char* metadata) noexcept {
  if (metadata == nullptr) return false;
  constexpr std::string_view kKey = "ARROW:extension:name";
  const char* cursor = metadata;
  const std::int32_t pair_count = read_i32(cursor);
  cursor += 4;
  for (std::int32_t pair_idx = 0; pair_idx < pair_count; ++pair_idx) {
    const std::int32_t key_length = read_i32(cursor);
    cursor += 4;
    const std::string_view key(cursor, key_length < 0 ? 0 : static_cast<std::size_t>(key_length));
    cursor += key.size();
    const std::int32_t value_length = read_i32(cursor);
    cursor += 4 + (value_length < 0 ? 0 : value_length);
    if (key == kKey) return true;
  }
  return false;
}

bool is_integer_format(std::string_view format) noexcept {
  return format.size() == 1 && std::string_view("cCsSiIlL").find(format[0]) != std::string_view::npos;
}

bool is_temporal_format(std::string_view format) noexcept {
  return format == "tdD" || format == "tdm" || format == "tts" || format == "ttm" || format == "ttu" ||
         format == "ttn" || (format.size() >= 4 && format.substr(0, 2) == "ts" && format[3] == ':' &&
                              std::string_view("smun").find(format[2]) != std::string_view::npos);
}

bool valid(const std::uint8_t* validity, std::int64_t position) noexcept {
  return validity == nullptr || ((validity[position >> 3] >> (position & 7)) & 1) != 0;
}

// Whether every byte of the range is ASCII, eight bytes at a time.
bool all_ascii(const char* data, std::size_t size) noexcept {
  std::size_t byte_idx = 0;
  std::uint64_t high = 0;
  for (; byte_idx + 8 <= size; byte_idx += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + byte_idx, 8);
    high |= word;
  }
  for (; byte_idx < size; ++byte_idx) high |= static_cast<std::uint8_t>(data[byte_idx]);
  return (high & 0x8080808080808080ULL) == 0;
}

// --- ISO 8601 text ---------------------------------------------------------

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t floor_div(std::int64_t value, std::int64_t divisor) noexcept {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

void put_digits(char* out, std::uint64_t value, int width) noexcept {
  for (int digit_idx = width - 1; digit_idx >= 0; --digit_idx) {
    out[digit_idx] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// "YYYY-MM-DD" of a count of days since 1970-01-01 (the proleptic Gregorian
// calendar); false outside the years 1 to 9999, which the adapters' tools
// write in different ways.
bool put_date(char* out, std::int64_t days) noexcept {
  // Days to civil date, from the era-based algorithm on 400-year cycles.
  if (days < -719162 || days > 2932896) return false;  // 0001-01-01 .. 9999-12-31
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = floor_div(shifted, 146097);
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  put_digits(out, static_cast<std::uint64_t>(year), 4);
  out[4] = '-';
  put_digits(out + 5, static_cast<std::uint64_t>(month), 2);
  out[7] = '-';
  put_digits(out + 8, static_cast<std::uint64_t>(day), 2);
  return true;
}

// "HH:MM:SS" and, as isoformat() writes it, six fractional digits when the
// value has a fraction of whole microseconds and nine otherwise. Returns the
// length written.
std::size_t put_time(char* out, std::int64_t second_of_day, std::int64_t nanos) noexcept {
  put_digits(out, static_cast<std::uint64_t>(second_of_day / 3600), 2);
  out[2] = ':';
  put_digits(out + 3, static_cast<std::uint64_t>(second_of_day / 60 % 60), 2);
  out[5] = ':';
  put_digits(out + 6, static_cast<std::uint64_t>(second_of_day % 60), 2);
  if (nanos == 0) return 8;
  out[8] = '.';
  if (nanos % 1000 == 0) {
    put_digits(out + 9, static_cast<std::uint64_t>(nanos / 1000), 6);
    return 15;
  }
  put_digits(out + 9, static_cast<std::uint64_t>(nanos), 9);
  return 18;
}

std::int64_t units_per_second(char unit) noexcept {
  switch (unit) {
    case 's': return 1;
    case 'm': return 1000;
    case 'u': return 1000000;
    default: return 1000000000;
  }
}

// --- one chunk --------------------------------------------------------------

class ChunkReader {
 public:
  ChunkReader(const ArrowSchema& schema, const ArrowArray& array, std::int64_t parent_offset, std::int64_t length,
              Form form, ColumnValues& out)
      : format_(schema.format), schema_(schema), array_(array), start_(parent_offset + array.offset),
        length_(length), form_(form), out_(out) {}

  bool read() {
    if (length_ < 0 || start_ < 0) return false;
    if (schema_.dictionary != nullptr) return read_dictionary();
    if (format_ == "n") return read_nulls();
    if (array_.n_buffers < 1) return false;
    validity_ = array_.null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array_.buffers[0]);
    if (is_integer_format(format_)) return read_integers();
    if (format_ == "b") return read_booleans();
    if (format_ == "e" || format_ == "f" || format_ == "g") return read_floats();
    if (format_ == "u") return read_texts<std::int32_t>();
    if (format_ == "U") return read_texts<std::int64_t>();
    if (format_ == "vu") return read_text_views();
    if (is_temporal_format(format_)) return read_temporal();
    return false;
  }

 private:
  template <class Read>
  void each_row(Read&& read_row) {
    if (validity_ == nullptr) {
      for (std::int64_t position = start_; position < start_ + length_; ++position) read_row(position);
      return;
    }
    for (std::int64_t row_idx = 0; row_idx < length_; ++row_idx) {
      const std::int64_t position = start_ + row_idx;
      if (!valid(validity_, position)) {
        out_.push_null();
      } else {
        read_row(position);
      }
    }
  }

  template <class T>
  const T* values() const noexcept {
    return static_cast<const T*>(array_.buffers[1]);
  }

  bool read_nulls() {
    for (std::int64_t row_idx = 0; row_idx < length_; ++row_idx) out_.push_null();
    return true;
  }

  template <class T>
  bool append_integers() {
    const T* data = values<T>();
    bool fits = true;
    if (form_ == Form::Text) {
      each_row([&](std::int64_t position) {
        std::array<char, 24> text;
        const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), data[position]);
        out_.push_text(std::string_view(text.data(), static_cast<std::size_t>(end - text.data())));
      });
      return true;
    }
    each_row([&](std::int64_t position) {
      const T value = data[position];
      if constexpr (std::is_same_v<T, std::uint64_t>) {
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) fits = false;
      }
      out_.push_integer(static_cast<std::int64_t>(value));
    });
    return fits;
  }

  bool read_integers() {
    if (array_.n_buffers != 2 || array_.buffers[1] == nullptr) return length_ == 0 && array_.n_buffers == 2;
    switch (format_[0]) {
      case 'c': return append_integers<std::int8_t>();
      case 'C': return append_integers<std::uint8_t>();
      case 's': return append_integers<std::int16_t>();
      case 'S': return append_integers<std::uint16_t>();
      case 'i': return append_integers<std::int32_t>();
      case 'I': return append_integers<std::uint32_t>();
      case 'l': return append_integers<std::int64_t>();
      default: return append_integers<std::uint64_t>();
    }
  }

  bool read_booleans() {
    if (array_.n_buffers != 2) return false;
    const auto* bits = values<std::uint8_t>();
    if (bits == nullptr) return length_ == 0;
    each_row([&](std::int64_t position) {
      const bool value = valid(bits, position);
      if (form_ == Form::Text) {
        out_.push_text(value ? "true" : "false");
      } else {
        out_.push_boolean(value);
      }
    });
    return true;
  }

  static double half_to_double(std::uint16_t half) noexcept {
    const std::uint64_t sign = static_cast<std::uint64_t>(half >> 15) << 63;
    const std::uint32_t exponent = (half >> 10) & 0x1f;
    std::uint64_t fraction = half & 0x3ff;
    std::uint64_t bits;
    if (exponent == 0x1f) {
      bits = sign | (0x7ffULL << 52) | (fraction << 42);  // infinities and NaNs keep their payload
    } else if (exponent != 0) {
      bits = sign | (static_cast<std::uint64_t>(exponent - 15 + 1023) << 52) | (fraction << 42);
    } else if (fraction == 0) {
      bits = sign;
    } else {
      // A subnormal half is a normal double: shift the fraction up to its leading one.
      int shift = 0;
      while ((fraction & 0x400) == 0) {
        fraction <<= 1;
        ++shift;
      }
      bits = sign | (static_cast<std::uint64_t>(1 - 15 - shift + 1023) << 52) | ((fraction & 0x3ff) << 42);
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }

  bool read_floats() {
    if (form_ != Form::Natural || array_.n_buffers != 2) return false;
    if (array_.buffers[1] == nullptr) return length_ == 0;
    if (format_ == "g") {
      each_row([&](std::int64_t position) { out_.push_float(values<double>()[position]); });
    } else if (format_ == "f") {
      each_row([&](std::int64_t position) { out_.push_float(static_cast<double>(values<float>()[position])); });
    } else {
      each_row([&](std::int64_t position) { out_.push_float(half_to_double(values<std::uint16_t>()[position])); });
    }
    return true;
  }

  template <class Offset>
  bool read_texts() {
    if (array_.n_buffers != 3) return false;
    if (length_ == 0) return true;
    const Offset* offsets = values<Offset>();
    const char* data = static_cast<const char*>(array_.buffers[2]);
    if (offsets == nullptr) return false;
    const Offset first = offsets[start_];
    const Offset last = offsets[start_ + length_];
    if (last < first || (data == nullptr && last != first)) return false;
    const bool ascii = all_ascii(data + first, static_cast<std::size_t>(last - first));
    out_.reserve_text(static_cast<std::size_t>(last - first));
    bool well_formed = true;
    each_row([&](std::int64_t position) {
      const std::string_view text(data + offsets[position], static_cast<std::size_t>(offsets[position + 1] - offsets[position]));
      if (!ascii && !is_valid_utf8(text)) well_formed = false;
      out_.push_text(text);
    });
    return well_formed;
  }

  bool read_text_views() {
    if (array_.n_buffers < 3) return false;
    const auto* views = static_cast<const char*>(array_.buffers[1]);
    if (views == nullptr) return length_ == 0;
    const std::int64_t data_buffer_count = array_.n_buffers - 3;
    bool well_formed = true;
    each_row([&](std::int64_t position) {
      const char* view = views + position * 16;
      const std::int32_t size = read_i32(view);
      std::string_view text;
      if (size <= 12) {
        text = std::string_view(view + 4, static_cast<std::size_t>(size < 0 ? 0 : size));
      } else {
        const std::int32_t buffer_idx = read_i32(view + 8);
        const std::int32_t offset = read_i32(view + 12);
        if (buffer_idx < 0 || buffer_idx >= data_buffer_count || offset < 0) {
          well_formed = false;
          return out_.push_null();
        }
        text = std::string_view(static_cast<const char*>(array_.buffers[2 + buffer_idx]) + offset,
                                static_cast<std::size_t>(size));
      }
      if (!all_ascii(text.data(), text.size()) && !is_valid_utf8(text)) well_formed = false;
      out_.push_text(text);
    });
    return well_formed;
  }

  bool read_temporal() {
    if (array_.n_buffers != 2) return false;
    if (array_.buffers[1] == nullptr) return length_ == 0;
    bool in_range = true;
    std::array<char, 48> text;
    const auto push = [&](std::size_t size) { out_.push_text(std::string_view(text.data(), size)); };
    if (format_ == "tdD" || format_ == "tdm") {
      const bool days32 = format_ == "tdD";
      each_row([&](std::int64_t position) {
        std::int64_t days = days32 ? values<std::int32_t>()[position] : 0;
        if (!days32) {
          const std::int64_t millis = values<std::int64_t>()[position];
          days = floor_div(millis, kSecondsPerDay * 1000);
          if (days * kSecondsPerDay * 1000 != millis) in_range = false;  // a date64 off midnight
        }
        if (!put_date(text.data(), days)) return (void)(in_range = false, out_.push_null());
        push(10);
      });
      return in_range;
    }
    const std::int64_t per_second = units_per_second(format_[2]);
    const std::int64_t nanos_per_unit = 1000000000 / per_second;
    if (format_[1] == 't') {
      const bool wide = format_[2] == 'u' || format_[2] == 'n';
      each_row([&](std::int64_t position) {
        const std::int64_t value = wide ? values<std::int64_t>()[position] : values<std::int32_t>()[position];
        if (value < 0 || value >= kSecondsPerDay * per_second) return (void)(in_range = false, out_.push_null());
        push(put_time(text.data(), value / per_second, value % per_second * nanos_per_unit));
      });
      return in_range;
    }
    // Timestamps: the values count from the epoch in UTC; a zone only changes
    // how they are shown, and zoned ones are shown in UTC.
    const bool zoned = format_.size() > 4;
    each_row([&](std::int64_t position) {
      const std::int64_t value = values<std::int64_t>()[position];
      const std::int64_t seconds = floor_div(value, per_second);
      const std::int64_t nanos = (value - seconds * per_second) * nanos_per_unit;
      const std::int64_t days = floor_div(seconds, kSecondsPerDay);
      if (!put_date(text.data(), days)) return (void)(in_range = false, out_.push_null());
      text[10] = 'T';
      std::size_t size = 11 + put_time(text.data() + 11, seconds - days * kSecondsPerDay, nanos);
      if (zoned) {
        std::memcpy(text.data() + size, "+00:00", 6);
        size += 6;
      }
      push(size);
    });
    return in_range;
  }

  // Each entry's text is copied into the column once; later rows share it.
  template <class Index>
  bool append_dictionary_cells(const ColumnValues& entries) {
    const Index* indexes = values<Index>();
    std::vector<Cell> stored(entries.size(), Cell::null());  // null: not copied yet
    bool in_range = true;
    each_row([&](std::int64_t position) {
      const auto index = static_cast<std::int64_t>(indexes[position]);
      if (index < 0 || static_cast<std::uint64_t>(index) >= entries.size()) {
        in_range = false;
        return out_.push_null();
      }
      const Cell& entry = entries[static_cast<std::size_t>(index)];
      Cell& copy = stored[static_cast<std::size_t>(index)];
      if (entry.is_null()) {
        out_.push_null();
      } else if (copy.is_null()) {
        copy = out_.push_text(entries.text(entry));
      } else {
        out_.push_shared_text(copy);
      }
    });
    return in_range;
  }

  // Dictionary entries are shown as the text of their values.
  bool read_dictionary() {
    if (array_.dictionary == nullptr || array_.n_buffers != 2 || !is_integer_format(format_)) return false;
    if (has_extension_name(schema_.dictionary->metadata)) return false;
    const ArrowArray& dictionary = *array_.dictionary;
    ColumnValues entries;
    entries.reserve(static_cast<std::size_t>(dictionary.length));
    ChunkReader entry_reader(*schema_.dictionary, dictionary, 0, dictionary.length, Form::Text, entries);
    if (!entry_reader.read()) return false;
    for (const Cell& entry : entries) {
      if (!entry.is_null() && entry.kind() != ValueKind::String) return false;
    }
    validity_ = array_.null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array_.buffers[0]);
    if (length_ > 0 && array_.buffers[1] == nullptr) return false;
    switch (format_[0]) {
      case 'c': return append_dictionary_cells<std::int8_t>(entries);
      case 'C': return append_dictionary_cells<std::uint8_t>(entries);
      case 's': return append_dictionary_cells<std::int16_t>(entries);
      case 'S': return append_dictionary_cells<std::uint16_t>(entries);
      case 'i': return append_dictionary_cells<std::int32_t>(entries);
      case 'I': return append_dictionary_cells<std::uint32_t>(entries);
      case 'l': return append_dictionary_cells<std::int64_t>(entries);
      default: return append_dictionary_cells<std::uint64_t>(entries);
    }
  }

  std::string_view format_;
  const ArrowSchema& schema_;
  const ArrowArray& array_;
  std::int64_t start_;
  std::int64_t length_;
  Form form_;
  ColumnValues& out_;
  const std::uint8_t* validity_ = nullptr;
};

}  // namespace

std::optional<LogicalType> natural_logical_type(const ArrowSchema& schema) {
  if (schema.format == nullptr || has_extension_name(schema.metadata)) return std::nullopt;
  const std::string_view format(schema.format);
  if (schema.dictionary != nullptr) return LogicalType::Categorical;
  if (is_integer_format(format)) return LogicalType::Integer;
  if (format == "e" || format == "f" || format == "g") return LogicalType::Float;
  if (format == "b") return LogicalType::Boolean;
  if (format == "u" || format == "U" || format == "vu") return LogicalType::String;
  if (is_temporal_format(format)) return LogicalType::Datetime;
  if (format == "n") return LogicalType::Unknown;
  return std::nullopt;
}

bool read_column(const ArrowSchema& schema, std::span<const Chunk> chunks, LogicalType declared, ColumnValues& out) {
  const std::optional<LogicalType> natural = natural_logical_type(schema);
  if (!natural) return false;
  Form form = Form::Natural;
  if (declared != *natural && !(is_text_type(declared) && is_text_type(*natural))) {
    if (!is_text_type(declared)) return false;  // a cast to numbers or booleans stays with the adapters
    form = Form::Text;
  }
  std::size_t cell_count = 0;
  for (const Chunk& chunk : chunks) cell_count += static_cast<std::size_t>(chunk.length < 0 ? 0 : chunk.length);
  out.reserve(cell_count);
  for (const Chunk& chunk : chunks) {
    if (!ChunkReader(schema, *chunk.array, chunk.offset, chunk.length, form, out).read()) return false;
  }
  return true;
}

}  // namespace nolt::arrow
