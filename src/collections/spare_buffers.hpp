#pragma once
// Large text buffers of finished parses, kept for the next parse. A library
// converts book after book, and each book's text and normalized text are
// megabytes that the C library would hand back to the system when the
// document goes, for the kernel to fault in (and zero) again for the next
// book: on a 1 MB book that was a third of the parse's time. A few buffers
// are kept, bounded in number and in bytes, for any thread to take.

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "collections/span.hpp"

namespace kogane {

struct SpareBufferLimits {
    static constexpr size_t kMinBytes = size_t(256) << 10;  // smaller ones the allocator reuses well
    static constexpr size_t kMaxBuffers = 4;
    static constexpr size_t kMaxBytes = size_t(160) << 20;  // the two texts of a 50 MB book
    // A kept buffer goes only to a request of at least this share of its
    // size, so a small document does not hold a large buffer for its life.
    static constexpr size_t kMaxOversize = 4;
};

// A cleared string with room for at least `capacity` bytes: the smallest
// kept buffer that is large enough, else a new one.
std::string take_spare_buffer(size_t capacity);

// Keeps `buffer`'s storage for a later take when it is large enough and
// the bounds allow; frees it otherwise.
void keep_spare_buffer(std::string&& buffer) noexcept;

// Frees every kept buffer and block; returns how many bytes they held.
size_t release_spare_buffers() noexcept;

// How many bytes the kept buffers hold.
size_t spare_buffer_bytes() noexcept;

// `text` shared, its storage kept for a later parse once the last owner
// lets go.
SharedText share_keeping_buffer(std::string&& text);

}  // namespace kogane

namespace kogane {

// The same for the large arrays of a parse (its events, nodes and sentinel
// entries): blocks of at least SpareBlockLimits::kMinBytes, kept when freed
// and handed to the next request they suit.
struct SpareBlockLimits {
    static constexpr size_t kMinBytes = SpareBufferLimits::kMinBytes;
    static constexpr size_t kMaxBlocks = 8;
    static constexpr size_t kMaxBytes = size_t(96) << 20;  // a 50 MB book's arrays
    static constexpr size_t kMaxOversize = SpareBufferLimits::kMaxOversize;
};

// At least `bytes` bytes, aligned for any scalar type, from a kept block or
// new; throws std::bad_alloc.
void* take_spare_block(size_t bytes);

// Gives back a block from take_spare_block: kept, or freed.
void keep_spare_block(void* block) noexcept;

// How many bytes the kept blocks hold.
size_t spare_block_bytes() noexcept;

// Small arrays come from the usual allocator, large ones from the kept
// blocks.
template <typename T>
struct SpareAllocator {
    static_assert(alignof(T) <= alignof(std::max_align_t));
    using value_type = T;

    SpareAllocator() noexcept = default;
    template <typename U>
    SpareAllocator(const SpareAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > std::allocator_traits<std::allocator<T>>::max_size(std::allocator<T>()))
            throw std::bad_array_new_length();
        if (n * sizeof(T) < SpareBlockLimits::kMinBytes) return std::allocator<T>().allocate(n);
        return static_cast<T*>(take_spare_block(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) < SpareBlockLimits::kMinBytes)
            std::allocator<T>().deallocate(p, n);
        else
            keep_spare_block(p);
    }

    template <typename U>
    bool operator==(const SpareAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using SpareVector = std::vector<T, SpareAllocator<T>>;

}  // namespace kogane
