// Hashing helpers for flat hash containers: xxHash for texts and 64-bit
// values, the canonical bits under which floats count as one value, and the
// tables keyed by borrowed texts that every part uses.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

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

// Byte equality of two texts, inline for the short texts that dominate
// table columns (a library memcmp call costs more than the comparison).
inline bool same_bytes(std::string_view lhs, std::string_view rhs) noexcept {
  const std::size_t size = lhs.size();
  if (size != rhs.size()) return false;
  const char* left = lhs.data();
  const char* right = rhs.data();
  if (size >= 8 && size <= 16) {
    // Two overlapping words cover every byte.
    std::uint64_t left_head, right_head, left_tail, right_tail;
    std::memcpy(&left_head, left, 8);
    std::memcpy(&right_head, right, 8);
    std::memcpy(&left_tail, left + size - 8, 8);
    std::memcpy(&right_tail, right + size - 8, 8);
    return ((left_head ^ right_head) | (left_tail ^ right_tail)) == 0;
  }
  if (size < 8) {
    for (std::size_t byte_idx = 0; byte_idx < size; ++byte_idx) {
      if (left[byte_idx] != right[byte_idx]) return false;
    }
    return true;
  }
  return std::memcmp(left, right, size) == 0;
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

// Tables keyed by views of texts that someone else owns (a column's arena, a
// record's name); the owner must outlive the table.
using TextViewSet = absl::flat_hash_set<std::string_view, TextHash, TextEq>;
template <class Value>
using TextViewMap = absl::flat_hash_map<std::string_view, Value, TextHash, TextEq>;

}  // namespace nolt
