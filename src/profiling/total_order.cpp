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

  // A digit that every key shares needs neither a histogram nor a pass: the
  // bits set in some key but not in all mark the digits that vary.
  std::uint64_t all_and = ~std::uint64_t{0};
  std::uint64_t all_or = 0;
  for (const std::uint64_t key : keys) {
    all_and &= key;
    all_or |= key;
  }
  const std::uint64_t varying = all_and ^ all_or;
  int pass_shifts[kPasses];
  int pass_count = 0;
  for (int digit_idx = 0; digit_idx < kPasses; ++digit_idx) {
    if (((varying >> (8 * digit_idx)) & 0xFF) != 0) pass_shifts[pass_count++] = 8 * digit_idx;
  }
  if (pass_count == 0) return;  // every key is the same

  // The histograms of the varying digits in one read of the keys.
  std::array<std::array<std::size_t, kBuckets>, kPasses> histograms{};
  for (const std::uint64_t key : keys) {
    for (int pass_idx = 0; pass_idx < pass_count; ++pass_idx) {
      ++histograms[pass_idx][(key >> pass_shifts[pass_idx]) & 0xFF];
    }
  }

  std::uint64_t* source = keys.data();
  std::uint64_t* target = scratch.data();
  for (int pass_idx = 0; pass_idx < pass_count; ++pass_idx) {
    std::array<std::size_t, kBuckets>& counts = histograms[pass_idx];
    const unsigned shift = static_cast<unsigned>(pass_shifts[pass_idx]);
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
