#pragma once

#include <cstddef>

namespace zellik {

// Asks the kernel to back the whole 2 MiB pages inside [data, data + bytes)
// with huge pages, so that a big buffer written for the first time costs one
// page fault per 2 MiB instead of one per 4 KiB. Only worth it for buffers of
// many megabytes, which it takes as a hint: it does nothing for smaller ones,
// where the system does not offer huge pages on request, or when the kernel
// declines.
void advise_huge_pages(void* data, std::size_t bytes);

}  // namespace zellik
