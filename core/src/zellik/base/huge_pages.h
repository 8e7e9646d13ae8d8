#pragma once

#include <cstddef>
#include <memory>

namespace zellik {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes)
// with huge pages, so that a big buffer written for the first time costs one
// page fault per 2 MiB instead of one per 4 KiB. Only worth it for buffers of
// many megabytes, which it takes as a hint: it does nothing for smaller ones,
// where the system does not offer huge pages on request, or when the kernel
// declines.
void advise_huge_pages(void* data, std::size_t bytes);

// The standard allocator, giving the advice above for every block it hands
// out: for tables that grow to many megabytes and are read at random, where
// huge pages also spare the translation misses.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) noexcept {}  // NOLINT: rebinding is implicit
  T* allocate(std::size_t n) {
    T* block = std::allocator<T>().allocate(n);
    advise_huge_pages(block, n * sizeof(T));
    return block;
  }
  void deallocate(T* block, std::size_t n) noexcept { std::allocator<T>().deallocate(block, n); }
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
};

}  // namespace zellik
