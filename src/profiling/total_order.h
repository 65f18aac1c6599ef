// Sorting doubles by the IEEE 754 total order (-0.0 before +0.0) through
// unsigned keys whose natural order is that total order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace nolt {

inline constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// Negative values: all bits flipped, so larger magnitudes come first; others:
// the sign bit set, so they follow every negative value.
constexpr std::uint64_t order_key(double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

constexpr double from_order_key(std::uint64_t key) noexcept {
  return std::bit_cast<double>((key & kSignBit) != 0 ? key & ~kSignBit : ~key);
}

// Below this many keys a comparison sort beats the radix passes' fixed cost.
inline constexpr std::size_t kRadixSortMinSize = 256;

// Ascending LSD radix sort, eight passes of one byte; passes in which every
// key has the same byte are skipped. `scratch` must hold keys.size() keys.
void radix_sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch) noexcept;

// Sorts keys ascending: std::sort for small inputs, radix sort otherwise.
void sort_keys(std::span<std::uint64_t> keys);

}  // namespace nolt
