#pragma once

namespace zellik {

// Asks for the cache line holding `address` to be read into cache ahead of
// use. Only a hint: it never faults and may do nothing.
inline void prefetch_for_read(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace zellik
