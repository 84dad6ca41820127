#pragma once
// Large text buffers of finished parses, kept for the next parse. A library
// converts book after book, and each book's text and normalized text are
// megabytes that the C library would hand back to the system when the
// document goes, for the kernel to fault in (and zero) again for the next
// book: on a 1 MB book that was a third of the parse's time. A few buffers
// are kept, bounded in number and in bytes, for any thread to take.

#include <cstddef>
#include <string>

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

// Frees every kept buffer; returns how many bytes they held.
size_t release_spare_buffers() noexcept;

// How many bytes the kept buffers hold.
size_t spare_buffer_bytes() noexcept;

// `text` shared, its storage kept for a later parse once the last owner
// lets go.
SharedText share_keeping_buffer(std::string&& text);

}  // namespace kogane
