// Memory advice for large buffers. A column of a million cells fills 16 MB
// that the kernel hands out page by page on first touch; on a virtual machine
// each 4 KiB fault costs microseconds, so first touch can cost more than the
// conversion itself. Asking for transparent huge pages on the buffer's
// 2 MiB-aligned interior makes that 512 times fewer faults. The advice never
// changes the buffer's contents; where it is unavailable it does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace nolt {

inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Below this a buffer gains little and may share its pages with other data.
inline constexpr std::size_t kHugePageAdviceMinBytes = std::size_t{4} << 20;

inline void advise_huge_pages(const void* data, std::size_t byte_count) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (data == nullptr || byte_count < kHugePageAdviceMinBytes) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
  const std::uintptr_t last = (begin + byte_count) & ~(std::uintptr_t{kHugePageBytes} - 1);
  if (last <= first) return;
  // Advice only: a refusal (no THP support, a locked region) changes nothing.
  (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)byte_count;
#endif
}

// Faults in every page of a buffer that is about to be written in full, in
// one call instead of one trap per page: a column of ten thousand cells
// spans forty pages. Only for buffers whose size is known to be used, since
// the pages become resident at once. Does nothing where unsupported.
inline void prefault_for_writing(const void* data, std::size_t byte_count) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPageBytes = 4096;
  if (data == nullptr || byte_count < 4 * kPageBytes) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kPageBytes - 1) & ~(kPageBytes - 1);
  const std::uintptr_t last = (begin + byte_count) & ~(kPageBytes - 1);
  if (last <= first) return;
  // Advice only: an older kernel refuses it and the pages fault in as they are written.
  (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#else
  (void)data;
  (void)byte_count;
#endif
}

// An uninitialised array of trivially copyable T for scratch work, aligned to
// a huge page when large so that all of it can be backed by huge pages.
template <class T>
class ScratchArray {
 public:
  ScratchArray() noexcept = default;
  explicit ScratchArray(std::size_t count) { resize_discard(count); }
  ScratchArray(ScratchArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        count_(std::exchange(other.count_, 0)),
        aligned_(std::exchange(other.aligned_, false)) {}
  ScratchArray& operator=(ScratchArray&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
      count_ = std::exchange(other.count_, 0);
      aligned_ = std::exchange(other.aligned_, false);
    }
    return *this;
  }
  ScratchArray(const ScratchArray&) = delete;
  ScratchArray& operator=(const ScratchArray&) = delete;
  ~ScratchArray() { release(); }

  // Room for `count` elements; the old contents are not kept.
  void resize_discard(std::size_t count) {
    if (count <= count_) return;
    release();
    const std::size_t bytes = count * sizeof(T);
    if (bytes >= kHugePageAdviceMinBytes) {
      data_ = static_cast<T*>(::operator new(bytes, std::align_val_t{kHugePageBytes}));
      aligned_ = true;
      advise_huge_pages(data_, bytes);
    } else {
      data_ = static_cast<T*>(::operator new(bytes));
      aligned_ = false;
    }
    count_ = count;
  }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return count_; }
  T& operator[](std::size_t idx) noexcept { return data_[idx]; }
  const T& operator[](std::size_t idx) const noexcept { return data_[idx]; }

 private:
  void release() noexcept {
    if (data_ == nullptr) return;
    if (aligned_) {
      ::operator delete(data_, std::align_val_t{kHugePageBytes});
    } else {
      ::operator delete(data_);
    }
    data_ = nullptr;
    count_ = 0;
  }

  T* data_ = nullptr;
  std::size_t count_ = 0;
  bool aligned_ = false;
};

}  // namespace nolt
