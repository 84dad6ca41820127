#pragma once
// Asks the system to back a large, not yet written buffer with huge pages:
// the kept text buffers and array blocks, read all over again by every
// later stage, and a long book's HTML str, which the interpreter maps
// afresh for every call (28,000 page faults for a 50 MB book's, more than
// its writing cost). Advice only: nothing depends on it being
// taken, and where the system has no such advice it does nothing.

#include <cstddef>

namespace kogane {

// Buffers below this gain nothing worth a system call.
inline constexpr size_t kHugePageAdviceBytes = size_t(4) << 20;

// Advises the whole huge pages inside [data, data + bytes) when `bytes` is
// at least kHugePageAdviceBytes. Call it before the buffer is first written:
// pages already faulted in keep their size.
void advise_huge_pages(void* data, size_t bytes) noexcept;

}  // namespace kogane
