// Hashing helpers for flat hash containers: xxHash for texts and 64-bit
// values, and the canonical bits under which floats count as one value.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace nolt {

inline std::uint64_t hash_text(std::string_view text) noexcept { return XXH3_64bits(text.data(), text.size()); }

inline std::uint64_t hash_u64(std::uint64_t value) noexcept { return XXH3_64bits(&value, sizeof value); }

// The bits a float is counted under: every NaN is the one quiet NaN and -0.0
// is +0.0, so values that compare as the same value share one pattern.
inline std::uint64_t canonical_float_bits(double value) noexcept {
  if (value != value) return 0x7FF8000000000000ULL;
  if (value == 0.0) return 0;
  return std::bit_cast<std::uint64_t>(value);
}

// Hasher for 64-bit keys (integers, canonical float bits).
struct U64Hash {
  std::size_t operator()(std::uint64_t value) const noexcept { return hash_u64(value); }
};

// Transparent hasher and equality for text keys: std::string_view keys that
// borrow an arena, or std::string keys looked up by view.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept { return hash_text(text); }
  std::size_t operator()(const std::string& text) const noexcept { return hash_text(text); }
};

struct TextEq {
  using is_transparent = void;
  bool operator()(std::string_view lhs, std::string_view rhs) const noexcept { return lhs == rhs; }
};

}  // namespace nolt
