#include "collections/spare_buffers.hpp"

#include <array>
#include <mutex>
#include <utility>

namespace kogane {

namespace {

// Slots rather than a growing list, so keeping a buffer never allocates
// (it runs in destructors).
struct SparePool {
    std::mutex lock;
    std::array<std::string, SpareBufferLimits::kMaxBuffers> slots;
    size_t bytes = 0;
};

SparePool& pool() {
    static SparePool* const p = new SparePool;  // never destroyed: documents may outlive static destruction
    return *p;
}

}  // namespace

std::string take_spare_buffer(size_t capacity) {
    std::string taken;
    if (capacity >= SpareBufferLimits::kMinBytes) {
        SparePool& p = pool();
        std::lock_guard guard(p.lock);
        std::string* best = nullptr;
        for (std::string& s : p.slots) {
            const size_t have = s.capacity();
            if (have < capacity || have / SpareBufferLimits::kMaxOversize > capacity) continue;
            if (best == nullptr || have < best->capacity()) best = &s;
        }
        if (best != nullptr) {
            p.bytes -= best->capacity();
            taken = std::move(*best);
            *best = std::string();
        }
    }
    taken.clear();
    taken.reserve(capacity);
    return taken;
}

void keep_spare_buffer(std::string&& buffer) noexcept {
    const size_t have = buffer.capacity();
    if (have < SpareBufferLimits::kMinBytes || have > SpareBufferLimits::kMaxBytes) return;
    SparePool& p = pool();
    std::lock_guard guard(p.lock);
    for (;;) {
        std::string* empty = nullptr;
        std::string* smallest = nullptr;  // of the kept ones
        for (std::string& s : p.slots) {
            if (s.capacity() < SpareBufferLimits::kMinBytes) {
                if (empty == nullptr) empty = &s;
            } else if (smallest == nullptr || s.capacity() < smallest->capacity()) {
                smallest = &s;
            }
        }
        if (empty != nullptr && p.bytes + have <= SpareBufferLimits::kMaxBytes) {
            buffer.clear();
            *empty = std::move(buffer);
            p.bytes += have;
            return;
        }
        // No room: smaller kept buffers make way for a larger one.
        if (smallest == nullptr || smallest->capacity() >= have) return;
        p.bytes -= smallest->capacity();
        std::string().swap(*smallest);
    }
}

size_t release_spare_buffers() noexcept {
    std::array<std::string, SpareBufferLimits::kMaxBuffers> freed;
    size_t bytes;
    {
        SparePool& p = pool();
        std::lock_guard guard(p.lock);
        freed.swap(p.slots);
        bytes = std::exchange(p.bytes, 0);
    }
    return bytes;
}

size_t spare_buffer_bytes() noexcept {
    SparePool& p = pool();
    std::lock_guard guard(p.lock);
    return p.bytes;
}

SharedText share_keeping_buffer(std::string&& text) {
    // Made as a mutable string, so its storage may be taken back when the
    // last owner lets go (at once, should the control block not be
    // allocated).
    return SharedText(new std::string(std::move(text)), [](const std::string* s) {
        keep_spare_buffer(std::move(*const_cast<std::string*>(s)));
        delete s;
    });
}

}  // namespace kogane
