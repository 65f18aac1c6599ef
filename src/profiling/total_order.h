// Sorting numbers exactly through unsigned 64-bit keys whose natural order is
// the numbers' order: doubles by the IEEE 754 total order (-0.0 before +0.0),
// integers by value. Sorting is deterministic: every method below yields the
// same sorted sequence, so results never depend on the method or the threads.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "parallel/execution.h"

namespace nolt {

inline constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// Negative values: all bits flipped, so larger magnitudes come first; others:
// the sign bit set, so they follow every negative value. (The arithmetic
// shift spreads the sign bit: a mask without a branch.)
constexpr std::uint64_t order_key(double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return bits ^ (static_cast<std::uint64_t>(static_cast<std::int64_t>(bits) >> 63) | kSignBit);
}

constexpr double from_order_key(std::uint64_t key) noexcept {
  return std::bit_cast<double>(key ^ (~static_cast<std::uint64_t>(static_cast<std::int64_t>(key) >> 63) | kSignBit));
}

// Two's complement with the sign bit flipped: INT64_MIN becomes 0.
constexpr std::uint64_t integer_order_key(std::int64_t value) noexcept {
  return static_cast<std::uint64_t>(value) ^ kSignBit;
}

constexpr std::int64_t integer_from_order_key(std::uint64_t key) noexcept {
  return static_cast<std::int64_t>(key ^ kSignBit);
}

// Below this many keys a comparison sort beats the vectorised sort's fixed cost.
inline constexpr std::size_t kComparisonSortMaxSize = 128;

// Key ranges of at most this many bits (after subtracting the smallest key)
// are sorted by two radix passes, which beat the vectorised sort there.
inline constexpr unsigned kRadixSortMaxBits = 22;

// Below this many keys a sort is never split over threads.
inline constexpr std::size_t kParallelSortMinSize = std::size_t{1} << 17;

// Ascending LSD radix sort by the bits of (key - min_key) below `bits`, in
// passes of at most 11 bits; every key must lie in [min_key, min_key + 2**bits).
// `scratch` must hold keys.size() keys. The result is in `keys`.
void radix_sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch, std::uint64_t min_key,
                     unsigned bits) noexcept;

// The sorting methods of one thread: the vectorised sort keeps a small buffer
// of its own, so each thread that sorts uses its own KeySorter.
class KeySorter {
 public:
  KeySorter();
  ~KeySorter();
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  // Sorts keys ascending on this thread, by the fastest method for their
  // count and range: a comparison sort for a few keys, nothing for keys
  // already in order, radix passes for a narrow range (when `scratch` holds
  // keys.size() keys; it may be empty), the vectorised sort otherwise.
  void sort(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Sorts keys ascending; `scratch` must hold keys.size() keys. With a parallel
// context and enough keys the keys are cut into one slice per thread, the
// slices sorted at once, then merged pairwise, each merge split over the
// threads at exact ranks. Returns the span, `keys` or `scratch`, that holds
// the sorted keys; its contents are the same for any context. Fails only
// with the context's interrupt.
Result<std::span<std::uint64_t>> sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch,
                                           const ExecutionContext& context);

// Sorts keys ascending in place on this thread.
void sort_keys(std::span<std::uint64_t> keys);

}  // namespace nolt
