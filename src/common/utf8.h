// UTF-8 text: the well-formedness check (shortest forms only, no surrogates,
// nothing above U+10FFFF) and the count of code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// The code points of well-formed UTF-8 text: its bytes less its continuation
// bytes (10xxxxxx), eight bytes at a time.
inline std::size_t utf8_code_point_count(std::string_view text) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  constexpr std::uint64_t kLowBytes = 0x0101010101010101ULL;
  // One per continuation byte (bit 7 set, bit 6 clear: the shift moves each
  // byte's bit 6 to its bit 7), summed into the top byte by the multiplication.
  const auto continuations_in = [](std::uint64_t word) noexcept {
    return static_cast<std::size_t>(((((word & ~(word << 1)) & kHighBits) >> 7) * kLowBytes) >> 56);
  };
  const char* bytes = text.data();
  const std::size_t size = text.size();
  std::size_t continuations = 0;
  std::size_t pos = 0;
  for (; pos + 8 <= size; pos += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + pos, sizeof word);
    continuations += continuations_in(word);
  }
  if (pos == size) return size - continuations;
  if (size >= 8) {
    // The last eight bytes, shifted so that the bytes already counted drop
    // out (zero bytes are no continuation bytes).
    std::uint64_t word;
    std::memcpy(&word, bytes + size - 8, sizeof word);
    continuations += continuations_in(word >> (8 * (8 - (size - pos))));
  } else {
    for (; pos < size; ++pos) continuations += (static_cast<unsigned char>(bytes[pos]) & 0xC0) == 0x80;
  }
  return size - continuations;
}

}  // namespace nolt
