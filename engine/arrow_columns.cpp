#include "arrow_columns.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

#include "common/hashing.h"
#include "common/utf8.h"
#include "memory/page_advice.h"

namespace nolt::arrow {
namespace {

// How the cells of a column are made: as the column's own values, as the
// text of its integers and booleans (a column declared as a text type), or,
// for temporal and dictionary columns, as the numbers their texts are made of.
enum class Form : std::uint8_t { Natural, Text, Typed };

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

// The bits set among positions [start, start + length) of `bits` and, when
// there is one, of `validity` too: the bytes wholly inside at once, the
// partial bytes at either end bit by bit.
std::uint64_t true_bits(const std::uint8_t* bits, const std::uint8_t* validity, std::int64_t start,
                        std::int64_t length) noexcept {
  std::uint64_t count = 0;
  std::int64_t position = start;
  const std::int64_t end = start + length;
  for (; position < end && (position & 7) != 0; ++position) count += valid(bits, position) && valid(validity, position);
  for (; position + 8 <= end; position += 8) {
    const std::uint8_t byte = bits[position >> 3] & (validity == nullptr ? 0xFF : validity[position >> 3]);
    count += static_cast<std::uint64_t>(std::popcount(byte));
  }
  for (; position < end; ++position) count += valid(bits, position) && valid(validity, position);
  return count;
}

// The positions of [start, start + length) whose validity bit is clear.
std::uint64_t null_bits(const std::uint8_t* validity, std::int64_t start, std::int64_t length) noexcept {
  return validity == nullptr ? 0 : static_cast<std::uint64_t>(length) - true_bits(validity, nullptr, start, length);
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

// One temporal Arrow format: how its values are written as ISO 8601 text.
class TemporalFormat {
 public:
  explicit TemporalFormat(std::string_view format) noexcept
      : type_(format[1] == 'd' ? format[2] : format[1]), per_second_(units_per_second(format[2])),
        zoned_(format.size() > 4) {}

  bool date32() const noexcept { return type_ == 'D'; }
  bool date64() const noexcept { return type_ == 'm'; }
  bool time() const noexcept { return type_ == 't'; }
  bool timestamp() const noexcept { return type_ == 's'; }
  // Whether the values are 64 bits wide (else 32).
  bool wide() const noexcept { return type_ == 'm' || type_ == 's' || (time() && per_second_ >= 1000000); }
  MomentKind moment_kind() const noexcept {
    if (time()) return MomentKind::TimeOfDay;
    return zoned_ ? MomentKind::Aware : MomentKind::Naive;
  }

  // Whether a value has a text here, apart from a date64's time of day (see
  // on_midnight). Increasing values are accepted over one interval.
  bool in_range(std::int64_t value) const noexcept {
    if (time()) return value >= 0 && value < kSecondsPerDay * per_second_;
    return in_date_range(days_of(value));
  }
  static bool on_midnight(std::int64_t millis) noexcept { return millis % (kSecondsPerDay * 1000) == 0; }

  // The text of an accepted value (in_range, and on_midnight for a date64), into 48 bytes of
  // `out`; returns its length.
  std::size_t write(std::int64_t value, char* out) const noexcept {
    if (date32() || date64()) {
      put_date(out, days_of(value));
      return 10;
    }
    const std::int64_t nanos_per_unit = 1000000000 / per_second_;
    if (time()) return put_time(out, value / per_second_, value % per_second_ * nanos_per_unit);
    const std::int64_t seconds = floor_div(value, per_second_);
    const std::int64_t nanos = (value - seconds * per_second_) * nanos_per_unit;
    const std::int64_t days = floor_div(seconds, kSecondsPerDay);
    put_date(out, days);
    out[10] = 'T';
    std::size_t size = 11 + put_time(out + 11, seconds - days * kSecondsPerDay, nanos);
    if (zoned_) {
      std::memcpy(out + size, "+00:00", 6);
      size += 6;
    }
    return size;
  }

 private:
  static bool in_date_range(std::int64_t days) noexcept { return days >= -719162 && days <= 2932896; }
  // Days since 1970-01-01 of a date or timestamp value (a date64 rounded down to its day).
  std::int64_t days_of(std::int64_t value) const noexcept {
    if (date32()) return value;
    if (date64()) return floor_div(value, kSecondsPerDay * 1000);
    return floor_div(floor_div(value, per_second_), kSecondsPerDay);
  }

  char type_;  // 'D' date32, 'm' date64, 't' time, 's' timestamp
  std::int64_t per_second_;
  bool zoned_;
};

// The distinct texts of one dictionary column's entries, over every chunk's
// dictionary: each text gets the next index on its first sight. Chunks that
// share their dictionary's buffers (Arrow data never changes) share its indexes.
class DictionaryTexts {
 public:
  explicit DictionaryTexts(TypedColumn& typed) : typed_(typed) {}

  // The indexes of the entries of a dictionary with the buffers of the last
  // one indexed, or nullptr.
  const std::vector<std::int64_t>* indexes_if_seen(const ArrowArray& dictionary) const noexcept {
    if (last_buffers_.empty() || dictionary.length != last_length_ || dictionary.offset != last_offset_ ||
        dictionary.n_buffers != static_cast<std::int64_t>(last_buffers_.size())) {
      return nullptr;
    }
    return std::equal(last_buffers_.begin(), last_buffers_.end(), dictionary.buffers) ? &last_indexes_ : nullptr;
  }

  std::vector<TextTally>& tallies() noexcept { return typed_.tallies; }
  std::uint64_t rows_read = 0;  // the rows of the chunks tallied so far

  // The index of the text of every entry of one chunk's dictionary (-1 for a
  // null entry); the entries are kept for the texts' views.
  const std::vector<std::int64_t>& index_entries(const ArrowArray& dictionary, std::unique_ptr<ColumnValues> entries) {
    last_indexes_.assign(entries->size(), -1);
    for (std::size_t entry_idx = 0; entry_idx < entries->size(); ++entry_idx) {
      const Cell& entry = (*entries)[entry_idx];
      if (entry.is_null()) continue;
      const std::string_view text = entries->text(entry);
      const auto [found, inserted] = known_.try_emplace(text, static_cast<std::int64_t>(typed_.texts.size()));
      if (inserted) typed_.texts.push_back(text);
      last_indexes_[entry_idx] = found->second;
    }
    if (typed_.keys_only) typed_.tallies.resize(typed_.texts.size());
    typed_.entries.push_back(std::move(entries));
    last_buffers_.assign(dictionary.buffers, dictionary.buffers + dictionary.n_buffers);
    last_length_ = dictionary.length;
    last_offset_ = dictionary.offset;
    return last_indexes_;
  }

 private:
  TypedColumn& typed_;
  TextViewMap<std::int64_t> known_;
  std::vector<const void*> last_buffers_;
  std::int64_t last_length_ = 0;
  std::int64_t last_offset_ = 0;
  std::vector<std::int64_t> last_indexes_;
};

// --- one chunk --------------------------------------------------------------

class ChunkReader {
 public:
  ChunkReader(const ArrowSchema& schema, const ArrowArray& array, std::int64_t parent_offset, std::int64_t length,
              Form form, ColumnValues& out, DictionaryTexts* dictionary_texts = nullptr, NumberKeys* keys = nullptr)
      : format_(schema.format), schema_(schema), array_(array), start_(parent_offset + array.offset),
        length_(length), form_(form), out_(out), dictionary_texts_(dictionary_texts), keys_(keys) {}

  // Whether read() takes this chunk of a number column by its structure
  // alone: in bounds, with validity and values buffers (no values only where
  // there are no rows).
  bool number_structure_reads() const noexcept {
    return length_ >= 0 && start_ >= 0 && array_.n_buffers == 2 && (array_.buffers[1] != nullptr || length_ == 0);
  }

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

  // each_row into keys_: the nulls are only counted.
  template <class Read>
  void each_row_to_keys(Read&& read_row) {
    if (validity_ == nullptr) {
      for (std::int64_t position = start_; position < start_ + length_; ++position) read_row(position);
      return;
    }
    std::uint64_t null_count = 0;
    for (std::int64_t position = start_; position < start_ + length_; ++position) {
      if (!valid(validity_, position)) {
        ++null_count;
      } else {
        read_row(position);
      }
    }
    keys_->counts.null_count += null_count;
  }

  // The values buffer, read a value at a time by copying its bytes out: a
  // producer need not align it (buffers that travelled between processes
  // often are not), and an unaligned load through a T pointer is undefined.
  template <class T>
  class Values {
   public:
    explicit Values(const void* data) noexcept : data_(static_cast<const char*>(data)) {}
    T operator[](std::int64_t position) const noexcept {
      T value;
      std::memcpy(&value, data_ + position * static_cast<std::int64_t>(sizeof(T)), sizeof(T));
      return value;
    }
    explicit operator bool() const noexcept { return data_ != nullptr; }

   private:
    const char* data_;
  };

  template <class T>
  Values<T> values() const noexcept {
    return Values<T>(array_.buffers[1]);
  }

  bool read_nulls() {
    for (std::int64_t row_idx = 0; row_idx < length_; ++row_idx) out_.push_null();
    return true;
  }


  template <class T>
  bool append_integers() {
    const Values<T> data = values<T>();
    bool fits = true;
    if (keys_ != nullptr) {
      // The cells' rule: every value as it is, an unsigned one past the 64-bit integers refused.
      std::uint64_t* out = keys_->key_data() + keys_->key_count;
      each_row_to_keys([&](std::int64_t position) {
        const T value = data[position];
        if constexpr (std::is_same_v<T, std::uint64_t>) {
          if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) fits = false;
        }
        *out++ = integer_order_key(static_cast<std::int64_t>(value));
      });
      keys_->key_count = static_cast<std::size_t>(out - keys_->key_data());
      return fits;
    }
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
    if (!number_structure_reads()) return false;
    if (array_.buffers[1] == nullptr) return true;  // no rows
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
    const auto* bits = static_cast<const std::uint8_t*>(array_.buffers[1]);
    if (bits == nullptr) return length_ == 0;
    if (keys_ != nullptr) {
      // Counted a byte of rows at a time: the values present are the valid bits.
      const std::uint64_t present = static_cast<std::uint64_t>(length_) - null_bits(validity_, start_, length_);
      const std::uint64_t true_count = true_bits(bits, validity_, start_, length_);
      if (keys_->true_count + keys_->false_count == 0 && present != 0) {
        std::int64_t first = start_;
        while (!valid(validity_, first)) ++first;
        keys_->first_true = valid(bits, first);
      }
      keys_->counts.null_count += static_cast<std::uint64_t>(length_) - present;
      keys_->true_count += true_count;
      keys_->false_count += present - true_count;
      return true;
    }
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

  // The keys of a float column's values, each as its float cell holds it.
  template <class Take>
  void float_keys(Take&& take) {
    if (format_ == "g") {
      each_row_to_keys([&](std::int64_t position) { take(values<double>()[position]); });
    } else if (format_ == "f") {
      each_row_to_keys([&](std::int64_t position) { take(static_cast<double>(values<float>()[position])); });
    } else {
      each_row_to_keys([&](std::int64_t position) { take(half_to_double(values<std::uint16_t>()[position])); });
    }
  }

  bool read_floats() {
    if (form_ == Form::Text || !number_structure_reads()) return false;
    if (array_.buffers[1] == nullptr) return true;  // no rows
    if (keys_ != nullptr) {
      std::uint64_t* out = keys_->key_data() + keys_->key_count;
      NumericKeyCounts& counts = keys_->counts;
      float_keys([&](double value) { out += float_key(value, out, counts) ? 1 : 0; });
      keys_->key_count = static_cast<std::size_t>(out - keys_->key_data());
      return true;
    }
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
    const Values<Offset> offsets = values<Offset>();
    const char* data = static_cast<const char*>(array_.buffers[2]);
    if (!offsets) return false;
    const Offset first = offsets[start_];
    const Offset last = offsets[start_ + length_];
    if (last < first || (data == nullptr && last != first)) return false;
    const bool ascii = last == first || all_ascii(data + first, static_cast<std::size_t>(last - first));
    bool well_formed = true;
    each_row([&](std::int64_t position) {
      const Offset begin = offsets[position];
      const Offset end = offsets[position + 1];
      if (end < begin) {
        well_formed = false;
        return out_.push_null();
      }
      const std::string_view text(begin == end ? nullptr : data + begin, static_cast<std::size_t>(end - begin));
      if (!ascii && !is_valid_utf8(text)) well_formed = false;
      push_text(text);
    });
    return well_formed;
  }

  // Views of 16 bytes: the length, then up to twelve bytes of text inline or
  // a prefix, the data buffer's index and the offset in it. Flattened: the
  // compiler keeps appending a cell out of line in this loop otherwise.
  [[gnu::flatten]] bool read_text_views() {
    if (array_.n_buffers < 3) return false;
    const auto* views = static_cast<const char*>(array_.buffers[1]);
    if (views == nullptr) return length_ == 0;
    const std::int64_t data_buffer_count = array_.n_buffers - 3;
    const void* const* data_buffers = array_.buffers + 2;
    // The last buffer holds the data buffers' sizes.
    const Values<std::int64_t> data_sizes(array_.buffers[array_.n_buffers - 1]);
    bool well_formed = true;
    for (std::int64_t position = start_; position < start_ + length_; ++position) {
      if (!valid(validity_, position)) {
        out_.push_null();
        continue;
      }
      const char* view = views + position * 16;
      const std::int32_t size = read_i32(view);
      std::string_view text;
      bool ascii;
      if (size <= 12) {
        if (size < 0) return false;
        text = std::string_view(view + 4, static_cast<std::size_t>(size));
        // The twelve inline bytes at once; bytes past the text only ever send it to the full check.
        std::uint64_t head, tail;
        std::memcpy(&head, view, 8);
        std::memcpy(&tail, view + 8, 8);
        ascii = (((head >> 32) | tail) & 0x8080808080808080ULL) == 0;
      } else {
        const std::int32_t buffer_idx = read_i32(view + 8);
        const std::int32_t offset = read_i32(view + 12);
        if (buffer_idx < 0 || buffer_idx >= data_buffer_count || offset < 0 || data_buffers[buffer_idx] == nullptr ||
            (data_sizes && static_cast<std::int64_t>(offset) + size > data_sizes[buffer_idx])) {
          return false;
        }
        text = std::string_view(static_cast<const char*>(data_buffers[buffer_idx]) + offset, static_cast<std::size_t>(size));
        ascii = all_ascii(text.data(), text.size());
      }
      if (!ascii && !is_valid_utf8(text)) well_formed = false;
      push_text(text);
    }
    return well_formed;
  }

  // A text of the Arrow buffers: viewed where it lies when the column views
  // its texts (the buffers outlive it), copied otherwise.
  void push_text(std::string_view text) {
    if (out_.views_texts()) {
      out_.push_viewed_text(text);
    } else {
      out_.push_text(text);
    }
  }

  bool read_temporal() {
    if (array_.n_buffers != 2) return false;
    if (array_.buffers[1] == nullptr) return length_ == 0;
    const TemporalFormat temporal(format_);
    if (form_ == Form::Typed) return temporal.wide() ? read_temporal_values<std::int64_t>(temporal)
                                                     : read_temporal_values<std::int32_t>(temporal);
    bool in_range = true;
    std::array<char, 48> text;
    const Values<std::int64_t> wide = values<std::int64_t>();
    const Values<std::int32_t> narrow = values<std::int32_t>();
    each_row([&](std::int64_t position) {
      const std::int64_t value = temporal.wide() ? wide[position] : narrow[position];
      if (!temporal.in_range(value) || (temporal.date64() && !TemporalFormat::on_midnight(value))) {
        in_range = false;
        return out_.push_null();
      }
      out_.push_text(std::string_view(text.data(), temporal.write(value, text.data())));
    });
    return in_range;
  }

  // The values themselves, refused where their text would be: every accepted
  // interval of values is one range, so its ends decide.
  // With keys_, their integer_order_key instead of cells.
  template <class T>
  bool read_temporal_values(const TemporalFormat& temporal) {
    const Values<T> data = values<T>();
    std::int64_t low = std::numeric_limits<std::int64_t>::max();
    std::int64_t high = std::numeric_limits<std::int64_t>::min();
    bool midnight = true;
    const auto value_at = [&](std::int64_t position) {
      const std::int64_t value = data[position];
      low = value < low ? value : low;
      high = value > high ? value : high;
      if constexpr (std::is_same_v<T, std::int64_t>) {
        if (temporal.date64()) midnight = midnight && TemporalFormat::on_midnight(value);
      }
      return value;
    };
    if (keys_ != nullptr) {
      std::uint64_t* out = keys_->key_data() + keys_->key_count;
      each_row_to_keys([&](std::int64_t position) { *out++ = integer_order_key(value_at(position)); });
      keys_->key_count = static_cast<std::size_t>(out - keys_->key_data());
    } else {
      each_row([&](std::int64_t position) { out_.push_integer(value_at(position)); });
    }
    if (low > high) return true;  // no value
    return midnight && temporal.in_range(low) && temporal.in_range(high);
  }

  // Each entry's text is copied into the column once; later rows share it.
  template <class Index>
  bool append_dictionary_cells(const ColumnValues& entries) {
    const Values<Index> indexes = values<Index>();
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

  // Each row as the index of its entry's text among the column's distinct
  // texts; with keys_, tallied instead (a null entry counts as a null).
  template <class Index>
  bool append_dictionary_indexes(const std::vector<std::int64_t>& text_indexes) {
    const Values<Index> indexes = values<Index>();
    bool in_range = true;
    if (keys_ != nullptr) {
      std::vector<TextTally>& tallies = dictionary_texts_->tallies();
      const std::uint64_t first_row = dictionary_texts_->rows_read;  // the rows of the chunks before
      std::uint64_t null_entries = 0;
      each_row_to_keys([&](std::int64_t position) {
        const auto index = static_cast<std::int64_t>(indexes[position]);
        if (index < 0 || static_cast<std::uint64_t>(index) >= text_indexes.size()) {
          in_range = false;
          return;
        }
        const std::int64_t text_idx = text_indexes[static_cast<std::size_t>(index)];
        if (text_idx < 0) {
          ++null_entries;
          return;
        }
        TextTally& tally = tallies[static_cast<std::size_t>(text_idx)];
        if (tally.count++ == 0) tally.first_row = first_row + static_cast<std::uint64_t>(position - start_);
      });
      keys_->counts.null_count += null_entries;
      dictionary_texts_->rows_read += static_cast<std::uint64_t>(length_);
      return in_range;
    }
    each_row([&](std::int64_t position) {
      const auto index = static_cast<std::int64_t>(indexes[position]);
      if (index < 0 || static_cast<std::uint64_t>(index) >= text_indexes.size()) {
        in_range = false;
        return out_.push_null();
      }
      const std::int64_t text_idx = text_indexes[static_cast<std::size_t>(index)];
      if (text_idx < 0) return out_.push_null();
      out_.push_integer(text_idx);
    });
    return in_range;
  }

  template <class Index>
  bool append_dictionary(const ColumnValues* entries, const std::vector<std::int64_t>* text_indexes) {
    return text_indexes != nullptr ? append_dictionary_indexes<Index>(*text_indexes)
                                   : append_dictionary_cells<Index>(*entries);
  }

  // Dictionary entries are shown as the text of their values.
  bool read_dictionary() {
    if (array_.dictionary == nullptr || array_.n_buffers != 2 || !is_integer_format(format_)) return false;
    if (has_extension_name(schema_.dictionary->metadata)) return false;
    const ArrowArray& dictionary = *array_.dictionary;
    const std::vector<std::int64_t>* text_indexes =
        form_ == Form::Typed ? dictionary_texts_->indexes_if_seen(dictionary) : nullptr;
    std::unique_ptr<ColumnValues> entries;
    if (text_indexes == nullptr) {
      entries = std::make_unique<ColumnValues>(ColumnValues::viewing());
      entries->reserve(static_cast<std::size_t>(dictionary.length));
      ChunkReader entry_reader(*schema_.dictionary, dictionary, 0, dictionary.length, Form::Text, *entries);
      if (!entry_reader.read()) return false;
      for (const Cell& entry : *entries) {
        if (!entry.is_null() && entry.kind() != ValueKind::String) return false;
      }
      if (form_ == Form::Typed) text_indexes = &dictionary_texts_->index_entries(dictionary, std::move(entries));
    }
    validity_ = array_.null_count == 0 ? nullptr : static_cast<const std::uint8_t*>(array_.buffers[0]);
    if (length_ > 0 && array_.buffers[1] == nullptr) return false;
    switch (format_[0]) {
      case 'c': return append_dictionary<std::int8_t>(entries.get(), text_indexes);
      case 'C': return append_dictionary<std::uint8_t>(entries.get(), text_indexes);
      case 's': return append_dictionary<std::int16_t>(entries.get(), text_indexes);
      case 'S': return append_dictionary<std::uint16_t>(entries.get(), text_indexes);
      case 'i': return append_dictionary<std::int32_t>(entries.get(), text_indexes);
      case 'I': return append_dictionary<std::uint32_t>(entries.get(), text_indexes);
      case 'l': return append_dictionary<std::int64_t>(entries.get(), text_indexes);
      default: return append_dictionary<std::uint64_t>(entries.get(), text_indexes);
    }
  }

  std::string_view format_;
  const ArrowSchema& schema_;
  const ArrowArray& array_;
  std::int64_t start_;
  std::int64_t length_;
  Form form_;
  ColumnValues& out_;
  DictionaryTexts* dictionary_texts_;
  NumberKeys* keys_;  // no cells: numbers and temporal values as keys, booleans counted, dictionary indexes tallied
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

namespace {

// The form of a column declared `declared`, or nullopt where only the adapters
// can make its cells.
std::optional<Form> form_of(const ArrowSchema& schema, LogicalType declared) {
  const std::optional<LogicalType> natural = natural_logical_type(schema);
  if (!natural) return std::nullopt;
  if (declared == *natural || (is_text_type(declared) && is_text_type(*natural))) return Form::Natural;
  if (!is_text_type(declared)) return std::nullopt;  // a cast to numbers or booleans stays with the adapters
  return Form::Text;
}

bool read_chunks(const ArrowSchema& schema, std::span<const Chunk> chunks, Form form, ColumnValues& out,
                 DictionaryTexts* dictionary_texts, NumberKeys* keys = nullptr) {
  std::size_t cell_count = 0;
  for (const Chunk& chunk : chunks) cell_count += static_cast<std::size_t>(chunk.length < 0 ? 0 : chunk.length);
  if (keys != nullptr) {
    keys->row_count = cell_count;
    // Booleans are counted and dictionary indexes tallied: only the others have keys.
    if (dictionary_texts == nullptr && std::string_view(schema.format) != "b") keys->keys.resize_discard(cell_count);
  } else {
    out = ColumnValues::viewing();
    out.reserve(cell_count);
    advise_huge_pages(out.cells().data(), cell_count * sizeof(Cell));
  }
  for (const Chunk& chunk : chunks) {
    if (!ChunkReader(schema, *chunk.array, chunk.offset, chunk.length, form, out, dictionary_texts, keys).read()) {
      return false;
    }
  }
  return true;
}

// Whether a number column's keys can be read later, where they are sorted:
// where its chunks' structure alone shows that ChunkReader reads them (every
// value of an unsigned 64-bit column must be seen first).
bool keys_read_later(const ArrowSchema& schema, std::span<const Chunk> chunks) {
  if (std::string_view(schema.format) == "L") return false;
  ColumnValues unused;
  return std::all_of(chunks.begin(), chunks.end(), [&](const Chunk& chunk) {
    return ChunkReader(schema, *chunk.array, chunk.offset, chunk.length, Form::Typed, unused).number_structure_reads();
  });
}

}  // namespace

bool read_number_keys(TypedColumn& typed, std::uint64_t* into) {
  NumberKeys& numbers = typed.numbers;
  numbers.into = into;
  ArrowSchema schema{};  // a number column's reading needs its format alone
  schema.format = typed.format.c_str();
  ColumnValues unused;
  bool read = true;
  for (const Chunk& chunk : typed.deferred_chunks) {
    read = read && ChunkReader(schema, *chunk.array, chunk.offset, chunk.length, Form::Typed, unused, nullptr, &numbers)
                       .read();
  }
  typed.deferred_chunks.clear();
  return read;
}

bool read_column(const ArrowSchema& schema, std::span<const Chunk> chunks, LogicalType declared, ColumnValues& out) {
  const std::optional<Form> form = form_of(schema, declared);
  return form && read_chunks(schema, chunks, *form, out, nullptr);
}

bool read_typed_column(const ArrowSchema& schema, std::span<const Chunk> chunks, LogicalType declared,
                       ColumnValues& out, TypedColumn& typed, bool with_numbers) {
  const std::optional<Form> form = form_of(schema, declared);
  if (!form) return false;
  const std::optional<LogicalType> natural = natural_logical_type(schema);
  const bool as_text = declared == LogicalType::String || declared == LogicalType::Categorical;
  if (*form == Form::Natural && *natural == LogicalType::Datetime &&
      (declared == LogicalType::Datetime || declared == LogicalType::Unknown)) {
    typed.kind = TypedColumn::Kind::Temporal;
    typed.format = schema.format;
    typed.keys_only = with_numbers;
    return read_chunks(schema, chunks, Form::Typed, out, nullptr, with_numbers ? &typed.numbers : nullptr);
  }
  if (*form == Form::Natural && *natural == LogicalType::Categorical && (as_text || declared == LogicalType::Unknown)) {
    typed.kind = TypedColumn::Kind::Dictionary;
    typed.keys_only = with_numbers;
    DictionaryTexts texts(typed);
    return read_chunks(schema, chunks, Form::Typed, out, &texts, with_numbers ? &typed.numbers : nullptr);
  }
  if (with_numbers && *form == Form::Natural && declared == *natural &&
      (*natural == LogicalType::Integer || *natural == LogicalType::Float || *natural == LogicalType::Boolean)) {
    typed.kind = *natural == LogicalType::Boolean ? TypedColumn::Kind::Boolean : TypedColumn::Kind::Number;
    typed.keys_only = true;
    if (typed.kind == TypedColumn::Kind::Number && keys_read_later(schema, chunks)) {
      typed.keys_deferred = true;
      typed.format = schema.format;
      typed.deferred_chunks.assign(chunks.begin(), chunks.end());
      for (const Chunk& chunk : chunks) typed.numbers.row_count += static_cast<std::uint64_t>(chunk.length);
      return true;
    }
    return read_chunks(schema, chunks, Form::Typed, out, nullptr, &typed.numbers);
  }
  return read_chunks(schema, chunks, *form, out, nullptr);
}

std::size_t temporal_text(std::string_view format, std::int64_t value, char* out) noexcept {
  return TemporalFormat(format).write(value, out);
}

MomentKind temporal_moment_kind(std::string_view format) noexcept { return TemporalFormat(format).moment_kind(); }

}  // namespace nolt::arrow
