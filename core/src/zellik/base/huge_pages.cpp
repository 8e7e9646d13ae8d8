#include "zellik/base/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zellik {

void advise_huge_pages(void* data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes < 4 * kHugePage) return;
  // The whole huge pages inside the buffer: from the first 2 MiB boundary.
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  const std::size_t lead = (kHugePage - address % kHugePage) % kHugePage;
  const std::size_t length = (bytes - lead) / kHugePage * kHugePage;
  // A refusal (no transparent huge pages here) leaves the buffer as it was.
  if (length > 0) madvise(static_cast<char*>(data) + lead, length, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace zellik
