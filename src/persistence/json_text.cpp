#include "persistence/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "persistence/unicode_escape_table.h"

namespace nolt {

void append_json_double(std::string& out, double value) {
  if (value == 0.0) {
    out.append(std::signbit(value) ? "-0.0" : "0.0");
    return;
  }
  // Shortest round-trip digits, as d.ddde±XX; re-laid out below.
  char buffer[40];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  (void)ec;
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  std::size_t pos = 0;
  if (text[0] == '-') {
    out.push_back('-');
    pos = 1;
  }
  const std::size_t exponent_mark = text.find('e');
  std::string digits;
  digits.reserve(20);
  for (std::size_t idx = pos; idx < exponent_mark; ++idx) {
    if (text[idx] != '.') digits.push_back(text[idx]);
  }
  int exponent = 0;
  {
    const char* first = text.data() + exponent_mark + 1;
    if (*first == '+') ++first;
    std::from_chars(first, text.data() + text.size(), exponent);
  }
  const int digit_count = static_cast<int>(digits.size());
  if (exponent >= 0 && exponent <= 15) {
    if (digit_count <= exponent + 1) {
      out.append(digits);
      out.append(static_cast<std::size_t>(exponent + 1 - digit_count), '0');
      out.append(".0");
    } else {
      out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
      out.push_back('.');
      out.append(digits, static_cast<std::size_t>(exponent + 1));
    }
  } else if (exponent < 0 && exponent >= -5) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits);
  } else {
    out.push_back(digits[0]);
    if (digit_count > 1) {
      out.push_back('.');
      out.append(digits, 1);
    }
    out.push_back('e');
    out.push_back(exponent < 0 ? '-' : '+');
    char exponent_text[8];
    const auto [exponent_end, exponent_ec] =
        std::to_chars(exponent_text, exponent_text + sizeof exponent_text, std::abs(exponent));
    (void)exponent_ec;
    out.append(exponent_text, exponent_end);
  }
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t idx = 0; idx < text.size(); ++idx) {
    const auto byte = static_cast<unsigned char>(text[idx]);
    if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
    out.append(text.data() + run_start, idx - run_start);
    run_start = idx + 1;
    switch (byte) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run_start, text.size() - run_start);
  out.push_back('"');
}

namespace {

bool shown_escaped(std::uint32_t code_point) {
  const auto* table_end = std::end(detail::kEscapedCodePoints);
  const auto* range = std::upper_bound(
      std::begin(detail::kEscapedCodePoints), table_end, code_point,
      [](std::uint32_t value, const detail::CodePointRange& entry) { return value < entry.first; });
  if (range == std::begin(detail::kEscapedCodePoints)) return false;
  --range;
  return code_point <= range->last;
}

// Decodes one UTF-8 sequence at `pos`; a malformed byte decodes as itself
// with length 1 (the reader only hands over valid text).
std::uint32_t decode_utf8(std::string_view text, std::size_t pos, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t needed = 0;
  std::uint32_t code_point = lead;
  if (lead >= 0xF0 && lead < 0xF8) {
    needed = 3;
    code_point = lead & 0x07;
  } else if (lead >= 0xE0) {
    needed = 2;
    code_point = lead & 0x0F;
  } else if (lead >= 0xC0) {
    needed = 1;
    code_point = lead & 0x1F;
  }
  if (lead >= 0xF8 || (lead >= 0x80 && lead < 0xC0) || pos + needed >= text.size()) {
    length = 1;
    return lead;
  }
  for (std::size_t idx = 1; idx <= needed; ++idx) {
    const auto next = static_cast<unsigned char>(text[pos + idx]);
    if ((next & 0xC0) != 0x80) {
      length = 1;
      return lead;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  length = needed + 1;
  return code_point;
}

void append_code_point_escape(std::string& out, std::uint32_t code_point) {
  char hex[8];
  const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, code_point, 16);
  (void)ec;
  out.append("\\u{");
  out.append(hex, end);
  out.push_back('}');
}

}  // namespace

void append_quoted_for_message(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      switch (byte) {
        case '\t': out.append("\\t"); break;
        case '\r': out.append("\\r"); break;
        case '\n': out.append("\\n"); break;
        case '\\': out.append("\\\\"); break;
        case '"': out.append("\\\""); break;
        case '\0': out.append("\\0"); break;
        default:
          if (byte < 0x20 || byte == 0x7F) {
            append_code_point_escape(out, byte);
          } else {
            out.push_back(static_cast<char>(byte));
          }
      }
      ++pos;
      continue;
    }
    std::size_t length = 1;
    const std::uint32_t code_point = decode_utf8(text, pos, length);
    if (shown_escaped(code_point)) {
      append_code_point_escape(out, code_point);
    } else {
      out.append(text.data() + pos, length);
    }
    pos += length;
  }
  out.push_back('"');
}

}  // namespace nolt
