// The strict reader of the schema document. One cursor walks the UTF-8 text;
// the first error ends the read and carries its line and column: the bytes of
// the line up to and including the byte at which the error was detected.
//
// Where errors are detected:
// - a syntax error at the offending byte (or at the end of the text);
// - a value of the wrong type once that value has been read whole;
// - a missing field once the closing brace of its object has been consumed;
// - a duplicate field once its key has been read.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "common/utf8.h"
#include "persistence/document.h"
#include "persistence/json_text.h"

namespace nolt {
namespace {

constexpr int kEnd = -1;
constexpr int kMaxDepth = 128;

// What a JSON value turned out to be, for "invalid type" messages and for a
// suggested value whose content comes before its kind.
struct FoundValue {
  enum class Kind : std::uint8_t { Null, Boolean, Unsigned, Signed, Float, String, Map, Sequence };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::uint64_t unsigned_value = 0;
  std::int64_t signed_value = 0;
  double float_value = 0.0;
  std::string text;
};

void append_found(std::string& out, const FoundValue& found) {
  switch (found.kind) {
    case FoundValue::Kind::Null: out.append("null"); return;
    case FoundValue::Kind::Boolean: out.append(found.boolean ? "boolean `true`" : "boolean `false`"); return;
    case FoundValue::Kind::Unsigned: out.append(str_cat("integer `", found.unsigned_value, "`")); return;
    case FoundValue::Kind::Signed: out.append(str_cat("integer `", found.signed_value, "`")); return;
    case FoundValue::Kind::Float:
      out.append("floating point `");
      append_json_double(out, found.float_value);
      out.push_back('`');
      return;
    case FoundValue::Kind::String:
      out.append("string ");
      append_quoted_for_message(out, found.text);
      return;
    case FoundValue::Kind::Map: out.append("map"); return;
    case FoundValue::Kind::Sequence: out.append("sequence"); return;
  }
}

bool is_digit(int byte) { return byte >= '0' && byte <= '9'; }

bool starts_value(int byte) {
  return byte == '"' || byte == '-' || is_digit(byte) || byte == 't' || byte == 'f' || byte == 'n' || byte == '[' ||
         byte == '{';
}

int hex_value(int byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// A record's fields in their written order.
struct RecordLayout {
  std::string_view expecting;      // "struct X", for invalid types
  std::string_view length_text;    // "struct X with N elements", for short arrays
  std::array<std::string_view, 4> fields;
  std::size_t field_count;
  std::size_t required_count;      // the first fields are the required ones
};

constexpr RecordLayout kPersistedLayout{"struct PersistedSuggestedSchema",
                                    "struct PersistedSuggestedSchema with 2 elements",
                                    {"format_version", "schema", "", ""},
                                    2,
                                    2};
constexpr RecordLayout kDatasetLayout{
    "struct SuggestedDatasetSchema", "struct SuggestedDatasetSchema with 1 element", {"columns", "", "", ""}, 1, 1};
constexpr RecordLayout kColumnLayout{"struct SuggestedColumnSchema",
                                 "struct SuggestedColumnSchema with 4 elements",
                                 {"name", "logical_type", "nullable", "constraints"},
                                 4,
                                 4};
constexpr RecordLayout kConstraintsLayout{"struct SuggestedConstraints",
                                      "struct SuggestedConstraints with 2 elements",
                                      {"numeric_range", "allowed_values", "", ""},
                                      2,
                                      0};
constexpr RecordLayout kRangeLayout{"struct SuggestedNumericRange",
                                "struct SuggestedNumericRange with 2 elements",
                                {"min", "max", "", ""},
                                2,
                                0};

constexpr std::string_view kSuggestedValueExpecting = "adjacently tagged enum SuggestedValue";

class DocumentReader {
 public:
  explicit DocumentReader(std::string_view text) : text_(text) {}

  Result<PersistedSuggestedSchema> read() {
    PersistedSuggestedSchema document;
    if (!read_persisted(document) || !expect_end()) return CoreError::value_error(std::move(error_));
    return document;
  }

 private:
  // ---- cursor ----------------------------------------------------------------

  int peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : kEnd; }

  int skip_whitespace() {
    while (pos_ < text_.size()) {
      const char byte = text_[pos_];
      if (byte != ' ' && byte != '\n' && byte != '\t' && byte != '\r') break;
      ++pos_;
    }
    return peek();
  }

  // Fails with the position after `consumed` bytes of the text.
  bool fail_after(std::string_view description, std::size_t consumed) {
    const std::string_view before = text_.substr(0, consumed);
    const std::size_t last_line_feed = before.rfind('\n');
    const std::size_t line_start = last_line_feed == std::string_view::npos ? 0 : last_line_feed + 1;
    const auto line = 1 + std::count(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
    error_ = str_cat(description, " at line ", static_cast<std::uint64_t>(line), " column ",
                     static_cast<std::uint64_t>(consumed - line_start));
    return false;
  }
  // Detected at the byte just consumed (or at the end of the text).
  bool fail_here(std::string_view description) { return fail_after(description, pos_); }
  // Detected at the byte under the cursor, which counts as read.
  bool fail_at_peek(std::string_view description) {
    return fail_after(description, std::min(pos_ + 1, text_.size()));
  }

  bool enter_nesting() {
    if (++depth_ > kMaxDepth) return fail_at_peek("recursion limit exceeded");
    ++pos_;
    return true;
  }
  void leave_nesting() { --depth_; }

  // ---- grammar -----------------------------------------------------------------

  bool expect_end() {
    if (skip_whitespace() != kEnd) return fail_at_peek("trailing characters");
    return true;
  }

  // The rest of true, false or null after its first byte.
  bool read_ident(std::string_view rest) {
    ++pos_;
    for (const char expected : rest) {
      if (pos_ >= text_.size()) return fail_here("EOF while parsing a value");
      if (text_[pos_++] != expected) return fail_here("expected ident");
    }
    return true;
  }

  // A string after its opening quote has been seen; decoded into `out` when given.
  bool read_string(std::string* out) {
    ++pos_;
    bool valid_utf8 = true;
    while (true) {
      const std::size_t run_start = pos_;
      while (pos_ < text_.size()) {
        const auto byte = static_cast<unsigned char>(text_[pos_]);
        if (byte == '"' || byte == '\\' || byte < 0x20) break;
        ++pos_;
      }
      // A valid sequence never contains a quote, backslash or control byte,
      // so the runs between escapes can be checked on their own.
      const std::string_view run = text_.substr(run_start, pos_ - run_start);
      if (valid_utf8 && !is_valid_utf8(run)) valid_utf8 = false;
      if (out != nullptr) out->append(run);
      if (pos_ >= text_.size()) return fail_here("EOF while parsing a string");
      const char byte = text_[pos_++];
      if (byte == '"') {
        if (!valid_utf8) return fail_here("invalid unicode code point");
        return true;
      }
      if (byte != '\\') return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
      if (!read_escape(out)) return false;
    }
  }

  bool read_escape(std::string* out) {
    if (pos_ >= text_.size()) return fail_here("EOF while parsing a string");
    const char letter = text_[pos_++];
    char decoded = 0;
    switch (letter) {
      case '"': decoded = '"'; break;
      case '\\': decoded = '\\'; break;
      case '/': decoded = '/'; break;
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      case 'u': return read_unicode_escape(out);
      default: return fail_here("invalid escape");
    }
    if (out != nullptr) out->push_back(decoded);
    return true;
  }

  bool read_hex4(std::uint32_t& value) {
    value = 0;
    for (int digit_idx = 0; digit_idx < 4; ++digit_idx) {
      if (pos_ >= text_.size()) return fail_here("EOF while parsing a string");
      const int digit = hex_value(static_cast<unsigned char>(text_[pos_++]));
      if (digit < 0) return fail_here("unexpected end of hex escape");
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // After "\u": one code point, or a high and a low surrogate escape.
  bool read_unicode_escape(std::string* out) {
    std::uint32_t code_point = 0;
    if (!read_hex4(code_point)) return false;
    if (code_point >= 0xDC00 && code_point <= 0xDFFF) return fail_here("invalid unicode code point");
    if (code_point >= 0xD800 && code_point <= 0xDBFF) {
      for (const char expected : {'\\', 'u'}) {
        if (pos_ >= text_.size()) return fail_here("EOF while parsing a string");
        if (text_[pos_++] != expected) return fail_here("lone leading surrogate in hex escape");
      }
      std::uint32_t low = 0;
      if (!read_hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
    }
    if (out != nullptr) append_utf8(*out, code_point);
    return true;
  }

  // A number from its first byte ('-' or a digit). With `found`, it is also
  // converted: integers as u64 or i64 where they fit, anything else as the
  // nearest double; a magnitude beyond the double range fails.
  bool read_number(FoundValue* found) {
    const std::size_t start = pos_;
    const bool negative = peek() == '-';
    if (negative) ++pos_;
    if (pos_ >= text_.size()) return fail_here("EOF while parsing a value");
    const char first = text_[pos_++];
    if (first == '0') {
      if (is_digit(peek())) return fail_at_peek("invalid number");
    } else if (first >= '1' && first <= '9') {
      while (is_digit(peek())) ++pos_;
    } else {
      return fail_here("invalid number");
    }
    const std::size_t integer_end = pos_;
    bool integral = true;
    if (peek() == '.') {
      integral = false;
      ++pos_;
      if (!is_digit(peek())) return fail_at_peek(peek() == kEnd ? "EOF while parsing a value" : "invalid number");
      while (is_digit(peek())) ++pos_;
    }
    if (peek() == 'e' || peek() == 'E') {
      integral = false;
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (pos_ >= text_.size()) return fail_here("EOF while parsing a value");
      if (!is_digit(static_cast<unsigned char>(text_[pos_++]))) return fail_here("invalid number");
      while (is_digit(peek())) ++pos_;
    }
    if (found == nullptr) return true;
    if (integral) {
      const char* digits = text_.data() + start + (negative ? 1 : 0);
      std::uint64_t magnitude = 0;
      const auto [end, ec] = std::from_chars(digits, text_.data() + integer_end, magnitude);
      (void)end;
      if (ec == std::errc()) {
        if (!negative) {
          found->kind = FoundValue::Kind::Unsigned;
          found->unsigned_value = magnitude;
          return true;
        }
        // -0 and magnitudes beyond the i64 range are read as doubles.
        if (magnitude != 0 && magnitude <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1) {
          found->kind = FoundValue::Kind::Signed;
          found->signed_value = static_cast<std::int64_t>(0 - magnitude);
          return true;
        }
      }
    }
    found->kind = FoundValue::Kind::Float;
    return convert_double(start, found->float_value);
  }

  bool convert_double(std::size_t start, double& value) {
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    const auto [end, ec] = std::from_chars(first, last, value);
    (void)end;
    if (ec == std::errc()) {
      if (std::isinf(value)) return fail_here("number out of range");
      return true;
    }
    // Out of range: too large fails, too small is a zero of the same sign.
    if (decimal_magnitude(std::string_view(first, static_cast<std::size_t>(last - first))) > 0) {
      return fail_here("number out of range");
    }
    value = *first == '-' ? -0.0 : 0.0;
    return true;
  }

  // The decimal exponent of the first significant digit of a valid JSON number
  // (saturating; only its sign matters to the caller).
  static std::int64_t decimal_magnitude(std::string_view number) {
    std::size_t pos = number[0] == '-' ? 1 : 0;
    std::int64_t position = -1;  // exponent of the digit at `pos`
    std::int64_t first_significant = std::numeric_limits<std::int64_t>::min();
    std::size_t integer_digits = 0;
    for (std::size_t idx = pos; idx < number.size() && is_digit(number[idx]); ++idx) ++integer_digits;
    position = static_cast<std::int64_t>(integer_digits) - 1;
    for (; pos < number.size(); ++pos) {
      const char byte = number[pos];
      if (byte == '.') continue;
      if (byte == 'e' || byte == 'E') break;
      if (byte != '0') {
        first_significant = position;
        break;
      }
      --position;
    }
    if (first_significant == std::numeric_limits<std::int64_t>::min()) return first_significant;
    std::int64_t exponent = 0;
    const std::size_t mark = number.find_first_of("eE");
    if (mark != std::string_view::npos) {
      std::size_t idx = mark + 1;
      const bool exponent_negative = number[idx] == '-';
      if (number[idx] == '+' || number[idx] == '-') ++idx;
      for (; idx < number.size(); ++idx) {
        exponent = std::min<std::int64_t>(exponent * 10 + (number[idx] - '0'), std::int64_t{1} << 40);
      }
      if (exponent_negative) exponent = -exponent;
    }
    return first_significant + exponent;
  }

  // Between members: true with `key` set, or false at the closing brace,
  // which is left for the caller.
  bool next_key(bool& first, bool& has_key, std::string& key) {
    int byte = skip_whitespace();
    if (byte == '}') {
      has_key = false;
      return true;
    }
    if (byte == kEnd) return fail_at_peek("EOF while parsing an object");
    if (first) {
      first = false;
    } else if (byte == ',') {
      ++pos_;
      byte = skip_whitespace();
      if (byte == '}') return fail_at_peek("trailing comma");
      if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    } else {
      return fail_at_peek("expected `,` or `}`");
    }
    if (byte != '"') return fail_at_peek(starts_value(byte) ? "key must be a string" : "expected `\"`");
    key.clear();
    if (!read_string(&key)) return false;
    has_key = true;
    return true;
  }

  bool read_colon() {
    const int byte = skip_whitespace();
    if (byte == ':') {
      ++pos_;
      return true;
    }
    return fail_at_peek(byte == kEnd ? "EOF while parsing an object" : "expected `:`");
  }

  // Before an element: true if one follows, false at the closing bracket,
  // which is left for the caller.
  bool has_next_element(bool& first, bool& has_element) {
    int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a list");
    has_element = true;
    if (byte == ']') {
      has_element = false;
    } else if (first) {
      first = false;
    } else if (byte == ',') {
      ++pos_;
      byte = skip_whitespace();
      if (byte == ']') return fail_at_peek("trailing comma");
      if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    } else {
      return fail_at_peek("expected `,` or `]`");
    }
    return true;
  }

  // After the last element of a record given as an array.
  bool end_record_array() {
    int byte = skip_whitespace();
    if (byte == ']') {
      ++pos_;
      leave_nesting();
      return true;
    }
    if (byte == ',') {
      ++pos_;
      byte = skip_whitespace();
      return fail_at_peek(byte == ']' ? "trailing comma" : "trailing characters");
    }
    return fail_at_peek(byte == kEnd ? "EOF while parsing a list" : "trailing characters");
  }

  // Any JSON value. With `found`, the value's kind (and text, boolean or
  // number) is recorded and a number converted; numbers inside its arrays and
  // objects are converted too when `convert_nested` is set. Otherwise the value
  // is only validated.
  bool read_any(FoundValue* found, bool convert_nested = false) {
    const int byte = skip_whitespace();
    switch (byte) {
      case kEnd: return fail_at_peek("EOF while parsing a value");
      case 'n':
        if (found != nullptr) found->kind = FoundValue::Kind::Null;
        return read_ident("ull");
      case 't':
      case 'f':
        if (found != nullptr) {
          found->kind = FoundValue::Kind::Boolean;
          found->boolean = byte == 't';
        }
        return read_ident(byte == 't' ? "rue" : "alse");
      case '"':
        if (found != nullptr) {
          found->kind = FoundValue::Kind::String;
          found->text.clear();
        }
        return read_string(found != nullptr ? &found->text : nullptr);
      case '[': {
        if (found != nullptr) found->kind = FoundValue::Kind::Sequence;
        if (!enter_nesting()) return false;
        FoundValue element;
        bool first = true;
        while (true) {
          bool has_element = false;
          if (!has_next_element(first, has_element)) return false;
          if (!has_element) break;
          if (!read_any(convert_nested ? &element : nullptr, convert_nested)) return false;
        }
        ++pos_;
        leave_nesting();
        return true;
      }
      case '{': {
        if (found != nullptr) found->kind = FoundValue::Kind::Map;
        if (!enter_nesting()) return false;
        FoundValue member;
        std::string key;
        bool first = true;
        while (true) {
          bool has_key = false;
          if (!next_key(first, has_key, key)) return false;
          if (!has_key) break;
          if (!read_colon() || !read_any(convert_nested ? &member : nullptr, convert_nested)) return false;
        }
        ++pos_;
        leave_nesting();
        return true;
      }
      default:
        if (byte == '-' || is_digit(byte)) return read_number(found);
        return fail_at_peek("expected value");
    }
  }

  bool skip_value() { return read_any(nullptr); }

  // The value under the cursor is not of the wanted type: read it whole, then
  // fail naming what it is.
  bool fail_invalid_type(std::string_view expecting) {
    FoundValue found;
    if (!read_any(&found)) return false;
    std::string description = "invalid type: ";
    append_found(description, found);
    description.append(", expected ");
    description.append(expecting);
    return fail_here(description);
  }

  // Reads a record from an object (members in any order, unknown ones
  // skipped) or from an array of all its fields in order. `read_field(idx)`
  // reads the value of field idx at the cursor.
  template <class ReadField>
  bool read_record(const RecordLayout& layout, ReadField&& read_field) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte == '[') {
      if (!enter_nesting()) return false;
      bool first = true;
      for (std::size_t field_idx = 0; field_idx < layout.field_count; ++field_idx) {
        bool has_element = false;
        if (!has_next_element(first, has_element)) return false;
        if (!has_element) {
          ++pos_;
          return fail_here(str_cat("invalid length ", field_idx, ", expected ", layout.length_text));
        }
        if (!read_field(field_idx)) return false;
      }
      return end_record_array();
    }
    if (byte != '{') return fail_invalid_type(layout.expecting);
    if (!enter_nesting()) return false;
    std::array<bool, 4> seen{};
    std::string key;
    bool first = true;
    while (true) {
      bool has_key = false;
      if (!next_key(first, has_key, key)) return false;
      if (!has_key) break;
      const auto* field = std::find(layout.fields.begin(), layout.fields.begin() + layout.field_count, key);
      if (field == layout.fields.begin() + layout.field_count) {
        if (!read_colon() || !skip_value()) return false;
        continue;
      }
      const auto field_idx = static_cast<std::size_t>(field - layout.fields.begin());
      if (seen[field_idx]) return fail_here(str_cat("duplicate field `", layout.fields[field_idx], "`"));
      seen[field_idx] = true;
      if (!read_colon() || !read_field(field_idx)) return false;
    }
    ++pos_;
    leave_nesting();
    for (std::size_t field_idx = 0; field_idx < layout.required_count; ++field_idx) {
      if (!seen[field_idx]) return fail_here(str_cat("missing field `", layout.fields[field_idx], "`"));
    }
    return true;
  }

  // ---- field values --------------------------------------------------------------

  bool read_u32(std::uint32_t& value) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != '-' && !is_digit(byte)) return fail_invalid_type("u32");
    FoundValue number;
    if (!read_number(&number)) return false;
    if (number.kind == FoundValue::Kind::Unsigned && number.unsigned_value <= std::numeric_limits<std::uint32_t>::max()) {
      value = static_cast<std::uint32_t>(number.unsigned_value);
      return true;
    }
    std::string description = number.kind == FoundValue::Kind::Float ? "invalid type: " : "invalid value: ";
    append_found(description, number);
    description.append(", expected u32");
    return fail_here(description);
  }

  bool read_text(std::string& value) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != '"') return fail_invalid_type("a string");
    value.clear();
    return read_string(&value);
  }

  bool read_boolean(bool& value) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != 't' && byte != 'f') return fail_invalid_type("a boolean");
    value = byte == 't';
    return read_ident(value ? "rue" : "alse");
  }

  // null for absent; true if a value follows instead.
  bool read_null_or_value(bool& present) {
    const int byte = skip_whitespace();
    present = byte != 'n';
    if (present) return true;
    return read_ident("ull");
  }

  bool read_optional_double(std::optional<double>& value) {
    bool present = false;
    if (!read_null_or_value(present)) return false;
    if (!present) {
      value.reset();
      return true;
    }
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != '-' && !is_digit(byte)) return fail_invalid_type("f64");
    FoundValue number;
    if (!read_number(&number)) return false;
    switch (number.kind) {
      case FoundValue::Kind::Unsigned: value = static_cast<double>(number.unsigned_value); break;
      case FoundValue::Kind::Signed: value = static_cast<double>(number.signed_value); break;
      default: value = number.float_value; break;
    }
    return true;
  }

  // A variant name: a string, checked against `names`.
  template <std::size_t N>
  bool read_variant(const std::array<std::string_view, N>& names, std::string_view expected_text, std::size_t& index) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != '"') {
      if (!starts_value(byte)) return fail_at_peek("expected value");
      return fail_invalid_type("variant identifier");
    }
    std::string name;
    if (!read_string(&name)) return false;
    const auto* match = std::find(names.begin(), names.end(), name);
    if (match == names.end()) return fail_here(str_cat("unknown variant `", name, "`, expected ", expected_text));
    index = static_cast<std::size_t>(match - names.begin());
    return true;
  }

  // A name string, or a one-member object {"name": null}.
  bool read_logical_type(LogicalType& type) {
    static constexpr std::string_view kExpected =
        "one of `integer`, `float`, `boolean`, `string`, `datetime`, `categorical`, `unknown`";
    std::size_t index = 0;
    if (skip_whitespace() != '{') {
      if (!read_variant(kLogicalTypeNames, kExpected, index)) return false;
      type = static_cast<LogicalType>(index);
      return true;
    }
    if (!enter_nesting() || !read_variant(kLogicalTypeNames, kExpected, index) || !read_colon()) return false;
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != 'n') return fail_invalid_type("unit");
    if (!read_ident("ull")) return false;
    const int closing = skip_whitespace();
    if (closing != '}') return fail_at_peek(closing == kEnd ? "EOF while parsing an object" : "expected value");
    ++pos_;
    leave_nesting();
    type = static_cast<LogicalType>(index);
    return true;
  }

  // A suggested value's content once its kind (0 string, 1 boolean) is known.
  bool read_value_content(std::size_t kind, SuggestedValue& value) {
    if (kind == 0) {
      std::string text;
      if (!read_text(text)) return false;
      value = std::move(text);
      return true;
    }
    bool boolean = false;
    if (!read_boolean(boolean)) return false;
    value = boolean;
    return true;
  }

  // Content read before its kind; checked now that the kind is known.
  bool take_buffered_content(std::size_t kind, FoundValue& content, SuggestedValue& value) {
    if (kind == 0 && content.kind == FoundValue::Kind::String) {
      value = std::move(content.text);
      return true;
    }
    if (kind == 1 && content.kind == FoundValue::Kind::Boolean) {
      value = content.boolean;
      return true;
    }
    std::string description = "invalid type: ";
    append_found(description, content);
    description.append(kind == 0 ? ", expected a string" : ", expected a boolean");
    return fail_here(description);
  }

  // {"kind": ..., "value": ...} with the two members in either order, or [kind, value].
  bool read_suggested_value(SuggestedValue& value) {
    static constexpr std::array<std::string_view, 2> kKinds = {"string", "boolean"};
    static constexpr std::string_view kExpected = "`string` or `boolean`";
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte == '[') {
      if (!enter_nesting()) return false;
      bool first = true;
      bool has_element = false;
      std::size_t kind = 0;
      for (std::size_t element_idx = 0; element_idx < 2; ++element_idx) {
        if (!has_next_element(first, has_element)) return false;
        if (!has_element) {
          ++pos_;
          return fail_here(str_cat("invalid length ", element_idx, ", expected ", kSuggestedValueExpecting));
        }
        if (element_idx == 0 ? !read_variant(kKinds, kExpected, kind) : !read_value_content(kind, value)) return false;
      }
      return end_record_array();
    }
    if (byte != '{') return fail_invalid_type(kSuggestedValueExpecting);
    if (!enter_nesting()) return false;
    std::optional<std::size_t> kind;
    std::optional<FoundValue> buffered;
    bool have_value = false;
    std::string key;
    bool first = true;
    while (true) {
      bool has_key = false;
      if (!next_key(first, has_key, key)) return false;
      if (!has_key) break;
      if (key == "kind") {
        if (kind) return fail_here("duplicate field `kind`");
        std::size_t index = 0;
        if (!read_colon() || !read_variant(kKinds, kExpected, index)) return false;
        kind = index;
        if (buffered) {
          if (!take_buffered_content(index, *buffered, value)) return false;
          buffered.reset();
          have_value = true;
        }
      } else if (key == "value") {
        if (have_value || buffered) return fail_here("duplicate field `value`");
        if (!read_colon()) return false;
        if (kind) {
          if (!read_value_content(*kind, value)) return false;
          have_value = true;
        } else {
          buffered.emplace();
          if (!read_any(&*buffered, true)) return false;
        }
      } else if (!read_colon() || !skip_value()) {
        return false;
      }
    }
    ++pos_;
    leave_nesting();
    if (!kind) return fail_here("missing field `kind`");
    if (!have_value) return fail_here("missing field `value`");
    return true;
  }

  bool read_allowed_values(std::optional<std::vector<SuggestedValue>>& values) {
    bool present = false;
    if (!read_null_or_value(present)) return false;
    if (!present) {
      values.reset();
      return true;
    }
    values.emplace();
    return read_sequence(*values, [&](SuggestedValue& value) { return read_suggested_value(value); });
  }

  bool read_range(std::optional<SuggestedNumericRange>& range) {
    bool present = false;
    if (!read_null_or_value(present)) return false;
    if (!present) {
      range.reset();
      return true;
    }
    range.emplace();
    return read_record(kRangeLayout, [&](std::size_t field_idx) {
      return read_optional_double(field_idx == 0 ? range->min : range->max);
    });
  }

  bool read_constraints(SuggestedConstraints& constraints) {
    return read_record(kConstraintsLayout, [&](std::size_t field_idx) {
      return field_idx == 0 ? read_range(constraints.numeric_range) : read_allowed_values(constraints.allowed_values);
    });
  }

  bool read_column(SuggestedColumnSchema& column) {
    return read_record(kColumnLayout, [&](std::size_t field_idx) {
      switch (field_idx) {
        case 0: return read_text(column.name);
        case 1: return read_logical_type(column.logical_type);
        case 2: return read_boolean(column.nullable);
        default: return read_constraints(column.constraints);
      }
    });
  }

  bool read_columns(std::vector<SuggestedColumnSchema>& columns) {
    columns.clear();
    return read_sequence(columns, [&](SuggestedColumnSchema& column) { return read_column(column); });
  }

  // A JSON array whose elements are read one by one into `out`.
  template <class T, class ReadElement>
  bool read_sequence(std::vector<T>& out, ReadElement&& read_element) {
    const int byte = skip_whitespace();
    if (byte == kEnd) return fail_at_peek("EOF while parsing a value");
    if (byte != '[') return fail_invalid_type("a sequence");
    if (!enter_nesting()) return false;
    bool first = true;
    while (true) {
      bool has_element = false;
      if (!has_next_element(first, has_element)) return false;
      if (!has_element) break;
      if (!read_element(out.emplace_back())) return false;
    }
    ++pos_;
    leave_nesting();
    return true;
  }

  bool read_dataset(SuggestedDatasetSchema& schema) {
    return read_record(kDatasetLayout, [&](std::size_t) { return read_columns(schema.columns); });
  }

  bool read_persisted(PersistedSuggestedSchema& document) {
    return read_record(kPersistedLayout, [&](std::size_t field_idx) {
      return field_idx == 0 ? read_u32(document.format_version) : read_dataset(document.schema);
    });
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::string error_;
};

}  // namespace

Result<PersistedSuggestedSchema> decode_schema_document(std::string_view text) {
  return DocumentReader(text).read();
}

}  // namespace nolt
