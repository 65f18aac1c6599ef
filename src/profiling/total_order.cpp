#include "profiling/total_order.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

namespace nolt {

void radix_sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch) noexcept {
  constexpr int kPasses = 8;
  constexpr std::size_t kBuckets = 256;
  const std::size_t key_count = keys.size();
  if (key_count < 2) return;

  // All eight histograms in one read of the keys.
  std::array<std::array<std::size_t, kBuckets>, kPasses> histograms{};
  for (const std::uint64_t key : keys) {
    for (int pass_idx = 0; pass_idx < kPasses; ++pass_idx) {
      ++histograms[pass_idx][(key >> (8 * pass_idx)) & 0xFF];
    }
  }

  std::uint64_t* source = keys.data();
  std::uint64_t* target = scratch.data();
  for (int pass_idx = 0; pass_idx < kPasses; ++pass_idx) {
    std::array<std::size_t, kBuckets>& counts = histograms[pass_idx];
    const unsigned shift = 8 * static_cast<unsigned>(pass_idx);
    // A pass where every key shares the digit would only copy.
    if (counts[(source[0] >> shift) & 0xFF] == key_count) continue;
    std::size_t offset = 0;
    for (std::size_t& count : counts) offset += std::exchange(count, offset);
    for (std::size_t key_idx = 0; key_idx < key_count; ++key_idx) {
      const std::uint64_t key = source[key_idx];
      target[counts[(key >> shift) & 0xFF]++] = key;
    }
    std::swap(source, target);
  }
  if (source != keys.data()) std::copy(source, source + key_count, keys.data());
}

void sort_keys(std::span<std::uint64_t> keys) {
  if (keys.size() < kRadixSortMinSize) {
    std::sort(keys.begin(), keys.end());
    return;
  }
  auto scratch = std::make_unique_for_overwrite<std::uint64_t[]>(keys.size());
  radix_sort_keys(keys, std::span<std::uint64_t>(scratch.get(), keys.size()));
}

}  // namespace nolt
