// The well-formedness check of UTF-8 text: shortest forms only, no surrogates,
// nothing above U+10FFFF.
#pragma once

#include <cstddef>
#include <string_view>

namespace nolt {

inline bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
      ++pos;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (pos + length > text.size()) return false;
    const auto second = static_cast<unsigned char>(text[pos + 1]);
    if (second < low || second > high) return false;
    for (std::size_t idx = 2; idx < length; ++idx) {
      if ((static_cast<unsigned char>(text[pos + idx]) & 0xC0) != 0x80) return false;
    }
    pos += length;
  }
  return true;
}

}  // namespace nolt
