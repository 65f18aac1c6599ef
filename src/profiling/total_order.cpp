#include "profiling/total_order.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <numeric>
#include <utility>
#include <vector>

#include <hwy/contrib/sort/vqsort.h>

namespace nolt {

void radix_sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch, std::uint64_t min_key,
                     unsigned bits) noexcept {
  constexpr unsigned kMaxDigitBits = 11;
  const std::size_t key_count = keys.size();
  if (key_count < 2 || bits == 0) return;
  // Digits of equal width; at most 2**11 buckets keep the histograms and the
  // scatter's open cache lines within the first-level cache.
  const unsigned pass_count = (bits + kMaxDigitBits - 1) / kMaxDigitBits;
  const unsigned digit_bits = (bits + pass_count - 1) / pass_count;
  const std::uint64_t digit_mask = (std::uint64_t{1} << digit_bits) - 1;
  std::vector<std::size_t> histograms(static_cast<std::size_t>(pass_count) << digit_bits, 0);
  for (const std::uint64_t key : keys) {
    const std::uint64_t offset = key - min_key;
    for (unsigned pass_idx = 0; pass_idx < pass_count; ++pass_idx) {
      ++histograms[(static_cast<std::size_t>(pass_idx) << digit_bits) + ((offset >> (pass_idx * digit_bits)) & digit_mask)];
    }
  }
  std::uint64_t* source = keys.data();
  std::uint64_t* target = scratch.data();
  for (unsigned pass_idx = 0; pass_idx < pass_count; ++pass_idx) {
    std::size_t* counts = histograms.data() + (static_cast<std::size_t>(pass_idx) << digit_bits);
    const unsigned shift = pass_idx * digit_bits;
    std::size_t start = 0;
    for (std::size_t bucket_idx = 0; bucket_idx <= digit_mask; ++bucket_idx) {
      start += std::exchange(counts[bucket_idx], start);
    }
    for (std::size_t key_idx = 0; key_idx < key_count; ++key_idx) {
      const std::uint64_t key = source[key_idx];
      target[counts[((key - min_key) >> shift) & digit_mask]++] = key;
    }
    std::swap(source, target);
  }
  if (source != keys.data()) std::memcpy(keys.data(), source, key_count * sizeof(std::uint64_t));
}

namespace {

// The number of low bits up to the highest bit in which some keys differ.
unsigned varying_bits(std::span<const std::uint64_t> keys) noexcept {
  std::uint64_t all_and = ~std::uint64_t{0};
  std::uint64_t all_or = 0;
  for (const std::uint64_t key : keys) {
    all_and &= key;
    all_or |= key;
  }
  return static_cast<unsigned>(std::bit_width(all_and ^ all_or));
}

}  // namespace

struct KeySorter::Impl {
  hwy::Sorter vectorised;
};

KeySorter::KeySorter() : impl_(std::make_unique<Impl>()) {}
KeySorter::~KeySorter() = default;

void KeySorter::sort(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch) const {
  if (keys.size() <= kComparisonSortMaxSize) {
    std::sort(keys.begin(), keys.end());
    return;
  }
  // Columns often arrive in order (row ids, timestamps); a shuffled one
  // leaves this check within its first few keys.
  if (std::is_sorted(keys.begin(), keys.end())) return;
  if (scratch.size() >= keys.size()) {
    // The bits in which keys differ bound their range: above the highest of
    // them every key has the bits of the common prefix. The opening keys
    // usually show a wide range already, and then the full pass is skipped.
    if (const unsigned bits = varying_bits(keys.first(64)); bits <= kRadixSortMaxBits) {
      const std::uint64_t all_and = std::reduce(keys.begin(), keys.end(), ~std::uint64_t{0}, std::bit_and<>());
      const std::uint64_t all_or = std::reduce(keys.begin(), keys.end(), std::uint64_t{0}, std::bit_or<>());
      const auto range_bits = static_cast<unsigned>(std::bit_width(all_and ^ all_or));
      if (range_bits <= kRadixSortMaxBits) {
        const std::uint64_t prefix = range_bits == 64 ? 0 : all_and & ~((std::uint64_t{1} << range_bits) - 1);
        radix_sort_keys(keys, scratch.first(keys.size()), prefix, range_bits);
        return;
      }
    }
  }
  impl_->vectorised(keys.data(), keys.size(), hwy::SortAscending());
}

namespace {

// The split of a merge of sorted `left` and `right` at output rank `rank`: how
// many of the first `rank` outputs come from `left`, taking left first among
// equal keys.
std::size_t merge_split(std::span<const std::uint64_t> left, std::span<const std::uint64_t> right,
                        std::size_t rank) noexcept {
  std::size_t lo = rank > right.size() ? rank - right.size() : 0;
  std::size_t hi = std::min(rank, left.size());
  // The smallest count whose next left key follows the last right key taken.
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (right[rank - mid - 1] < left[mid]) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

void merge_into(std::span<const std::uint64_t> left, std::span<const std::uint64_t> right,
                std::uint64_t* out) noexcept {
  std::size_t left_idx = 0;
  std::size_t right_idx = 0;
  while (left_idx < left.size() && right_idx < right.size()) {
    const std::uint64_t left_key = left[left_idx];
    const std::uint64_t right_key = right[right_idx];
    const bool take_left = left_key <= right_key;
    *out++ = take_left ? left_key : right_key;
    left_idx += take_left ? 1 : 0;
    right_idx += take_left ? 0 : 1;
  }
  out = std::copy(left.begin() + static_cast<std::ptrdiff_t>(left_idx), left.end(), out);
  std::copy(right.begin() + static_cast<std::ptrdiff_t>(right_idx), right.end(), out);
}

}  // namespace

Result<std::span<std::uint64_t>> sort_keys(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch,
                                           const ExecutionContext& context) {
  const std::size_t key_count = keys.size();
  const std::size_t thread_count = context.thread_count();
  if (thread_count < 2 || key_count < kParallelSortMinSize) {
    KeySorter().sort(keys, scratch);
    return keys;
  }
  // One slice per thread, rounded up to a power of two so the merges pair up.
  const std::size_t slice_count = std::bit_ceil(thread_count);
  std::vector<std::size_t> bounds(slice_count + 1);
  for (std::size_t slice_idx = 0; slice_idx <= slice_count; ++slice_idx) {
    bounds[slice_idx] = key_count * slice_idx / slice_count;
  }
  context.parallel_for(slice_count, [&](std::size_t slice_idx) {
    const std::size_t begin = bounds[slice_idx];
    const std::size_t size = bounds[slice_idx + 1] - begin;
    KeySorter().sort(keys.subspan(begin, size), scratch.subspan(begin, size));
  });
  NOLT_TRY(context.check());

  // Pairwise merges, each cut into one part per thread at exact output ranks.
  std::span<std::uint64_t> source = keys;
  std::span<std::uint64_t> target = scratch.first(key_count);
  for (std::size_t run_width = 1; run_width < slice_count; run_width *= 2) {
    const std::size_t merge_count = slice_count / (2 * run_width);
    const std::size_t part_count = std::max<std::size_t>(1, thread_count / merge_count);
    context.parallel_for(merge_count * part_count, [&](std::size_t task_idx) {
      const std::size_t merge_idx = task_idx / part_count;
      const std::size_t part_idx = task_idx % part_count;
      const std::size_t begin = bounds[2 * merge_idx * run_width];
      const std::size_t middle = bounds[(2 * merge_idx + 1) * run_width];
      const std::size_t end = bounds[(2 * merge_idx + 2) * run_width];
      const std::span<const std::uint64_t> left = source.subspan(begin, middle - begin);
      const std::span<const std::uint64_t> right = source.subspan(middle, end - middle);
      const std::size_t total = end - begin;
      const std::size_t rank_begin = total * part_idx / part_count;
      const std::size_t rank_end = total * (part_idx + 1) / part_count;
      const std::size_t left_begin = merge_split(left, right, rank_begin);
      const std::size_t left_end = merge_split(left, right, rank_end);
      merge_into(left.subspan(left_begin, left_end - left_begin),
                 right.subspan(rank_begin - left_begin, (rank_end - left_end) - (rank_begin - left_begin)),
                 target.data() + begin + rank_begin);
    });
    NOLT_TRY(context.check());
    std::swap(source, target);
  }
  return source;
}

void sort_keys(std::span<std::uint64_t> keys) {
  std::vector<std::uint64_t> scratch(keys.size() > kComparisonSortMaxSize ? keys.size() : 0);
  KeySorter().sort(keys, scratch);
}

}  // namespace nolt
