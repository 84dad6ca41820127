#pragma once
// Large fresh buffers backed by huge pages where the system offers them.
//
// A buffer of tens of megabytes comes from the system untouched, and
// filling it faults once per 4 KB page: on a virtual machine that costs
// more than the filling itself, and it is what makes a parse of a long
// book slower per byte than one of a short book. Asking for huge pages on
// the buffer's aligned interior makes it one fault per 2 MB. Memory is
// still committed only where written (to within one huge page), and a
// buffer that is already resident is unaffected.

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kogane {

inline constexpr size_t kHugePageBytes = size_t(2) << 20;

// Below this a buffer gains little and would round up a larger share.
inline constexpr size_t kHugePageMinBuffer = 2 * kHugePageBytes;

// Advises the whole huge pages inside [data, data + bytes); a hint only.
inline void prefer_huge_pages(const void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (data == nullptr || bytes < kHugePageMinBuffer) return;
    const uintptr_t mask = kHugePageBytes - 1;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(data) + mask) & ~mask;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(data) + bytes) & ~mask;
    if (to > from) (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// reserve() on a string or vector about to be filled, with the room it
// got advised for huge pages.
template <typename Buffer>
void reserve_large(Buffer& buffer, size_t items) {
    buffer.reserve(items);
    prefer_huge_pages(buffer.data(), buffer.capacity() * sizeof(*buffer.data()));
}

}  // namespace kogane
