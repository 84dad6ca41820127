#include "collections/spare_buffers.hpp"

#include <array>
#include <cstdint>
#include <cstddef>
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

// A block's usable size stands in a header before it, so a block taken for
// a smaller request is kept again at its full size.
constexpr size_t kBlockHeader = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);

size_t& block_size(void* block) { return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kBlockHeader); }

void free_block(void* block) noexcept { ::operator delete(static_cast<char*>(block) - kBlockHeader); }

struct KeptBlock {
    void* block = nullptr;
    size_t bytes = 0;
};

struct BlockPool {
    std::mutex lock;
    std::array<KeptBlock, SpareBlockLimits::kMaxBlocks> slots;
    size_t bytes = 0;
};

BlockPool& block_pool() {
    static BlockPool* const p = new BlockPool;  // never destroyed, as above
    return *p;
}

size_t release_spare_blocks() noexcept {
    std::array<KeptBlock, SpareBlockLimits::kMaxBlocks> freed;
    size_t bytes;
    {
        BlockPool& p = block_pool();
        std::lock_guard guard(p.lock);
        freed.swap(p.slots);
        bytes = std::exchange(p.bytes, 0);
    }
    for (const KeptBlock& k : freed)
        if (k.block != nullptr) free_block(k.block);
    return bytes;
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
    const size_t block_bytes = release_spare_blocks();
    std::array<std::string, SpareBufferLimits::kMaxBuffers> freed;
    size_t bytes;
    {
        SparePool& p = pool();
        std::lock_guard guard(p.lock);
        freed.swap(p.slots);
        bytes = std::exchange(p.bytes, 0);
    }
    return bytes + block_bytes;
}

size_t spare_buffer_bytes() noexcept {
    SparePool& p = pool();
    std::lock_guard guard(p.lock);
    return p.bytes;
}

void* take_spare_block(size_t bytes) {
    {
        BlockPool& p = block_pool();
        std::lock_guard guard(p.lock);
        KeptBlock* best = nullptr;
        for (KeptBlock& k : p.slots) {
            if (k.block == nullptr || k.bytes < bytes || k.bytes / SpareBlockLimits::kMaxOversize > bytes) continue;
            if (best == nullptr || k.bytes < best->bytes) best = &k;
        }
        if (best != nullptr) {
            p.bytes -= best->bytes;
            return std::exchange(*best, KeptBlock{}).block;
        }
    }
    if (bytes > SIZE_MAX - kBlockHeader) throw std::bad_alloc();
    void* block = static_cast<char*>(::operator new(bytes + kBlockHeader)) + kBlockHeader;
    block_size(block) = bytes;
    return block;
}

void keep_spare_block(void* block) noexcept {
    const size_t have = block_size(block);
    if (have <= SpareBlockLimits::kMaxBytes) {
        BlockPool& p = block_pool();
        std::lock_guard guard(p.lock);
        for (;;) {
            KeptBlock* empty = nullptr;
            KeptBlock* smallest = nullptr;  // of the kept ones
            for (KeptBlock& k : p.slots) {
                if (k.block == nullptr) {
                    if (empty == nullptr) empty = &k;
                } else if (smallest == nullptr || k.bytes < smallest->bytes) {
                    smallest = &k;
                }
            }
            if (empty != nullptr && p.bytes + have <= SpareBlockLimits::kMaxBytes) {
                *empty = KeptBlock{block, have};
                p.bytes += have;
                return;
            }
            // No room: smaller kept blocks make way for a larger one.
            if (smallest == nullptr || smallest->bytes >= have) break;
            p.bytes -= smallest->bytes;
            // Freed under the lock: the pool's bound holds at every moment.
            free_block(std::exchange(*smallest, KeptBlock{}).block);
        }
    }
    free_block(block);
}

size_t spare_block_bytes() noexcept {
    BlockPool& p = block_pool();
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
