#include "collections/spare_buffers.hpp"

#include "collections/huge_pages.hpp"

#include <array>
#include <cstdint>
#include <cstddef>
#include <mutex>
#include <utility>

namespace kogane {

namespace {

// A cleared buffer too small to be worth keeping counts as an empty slot.
size_t kept_size(const std::string& s) { return s.capacity() >= SpareBufferLimits::kMinBytes ? s.capacity() : 0; }

// A block's usable size stands in a header before it, so a block taken for
// a smaller request is kept again at its full size.
constexpr size_t kBlockHeader = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t) : sizeof(size_t);

size_t& block_size(void* block) { return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kBlockHeader); }

// An owned block, freed when it goes.
class Block {
public:
    Block() = default;
    explicit Block(void* block) : block_(block) {}
    Block(Block&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    Block& operator=(Block&& other) noexcept {
        std::swap(block_, other.block_);
        return *this;
    }
    ~Block() {
        if (block_ != nullptr) ::operator delete(static_cast<char*>(block_) - kBlockHeader);
    }
    void* release() { return std::exchange(block_, nullptr); }
    friend size_t kept_size(const Block& b) { return b.block_ != nullptr ? block_size(b.block_) : 0; }

private:
    void* block_ = nullptr;
};

// A few kept items (text buffers, array blocks) for any thread to take,
// bounded in number and in bytes. Slots rather than a growing list, so
// keeping an item never allocates (it runs in destructors). `kept_size`
// gives an item's bytes, 0 for an empty slot.
template <typename Item, size_t kSlots, size_t kMaxBytes, size_t kMaxOversize>
class KeptPool {
public:
    // The smallest kept item of at least `want` bytes that is not too large
    // for it, or an empty item.
    Item take(size_t want) {
        std::lock_guard guard(lock_);
        Item* best = nullptr;
        for (Item& item : slots_) {
            const size_t have = kept_size(item);
            if (have == 0 || have < want || have / kMaxOversize > want) continue;
            if (best == nullptr || have < kept_size(*best)) best = &item;
        }
        if (best == nullptr) return Item();
        bytes_ -= kept_size(*best);
        return std::exchange(*best, Item());
    }

    // Keeps `item` when the bounds allow, smaller kept items making way for
    // a larger one; otherwise leaves it with the caller.
    void keep(Item& item) noexcept {
        const size_t have = kept_size(item);
        if (have == 0 || have > kMaxBytes) return;
        std::lock_guard guard(lock_);
        for (;;) {
            Item* empty = nullptr;
            Item* smallest = nullptr;  // of the kept ones
            for (Item& slot : slots_) {
                if (kept_size(slot) == 0) {
                    if (empty == nullptr) empty = &slot;
                } else if (smallest == nullptr || kept_size(slot) < kept_size(*smallest)) {
                    smallest = &slot;
                }
            }
            if (empty != nullptr && bytes_ + have <= kMaxBytes) {
                *empty = std::exchange(item, Item());
                bytes_ += have;
                return;
            }
            if (smallest == nullptr || kept_size(*smallest) >= have) return;
            // Freed under the lock: the pool's bound holds at every moment.
            bytes_ -= kept_size(*smallest);
            const Item freed = std::exchange(*smallest, Item());
        }
    }

    // Frees every kept item; returns how many bytes they held.
    size_t release() noexcept {
        std::array<Item, kSlots> freed;
        std::lock_guard guard(lock_);
        freed.swap(slots_);
        return std::exchange(bytes_, 0);
    }

    size_t bytes() noexcept {
        std::lock_guard guard(lock_);
        return bytes_;
    }

private:
    std::mutex lock_;
    std::array<Item, kSlots> slots_;
    size_t bytes_ = 0;
};

using BufferPool = KeptPool<std::string, SpareBufferLimits::kMaxBuffers, SpareBufferLimits::kMaxBytes,
                            SpareBufferLimits::kMaxOversize>;
using BlockPool =
    KeptPool<Block, SpareBlockLimits::kMaxBlocks, SpareBlockLimits::kMaxBytes, SpareBlockLimits::kMaxOversize>;

// Never destroyed: documents may outlive static destruction.
BufferPool& buffer_pool() {
    static BufferPool* const p = new BufferPool;
    return *p;
}

BlockPool& block_pool() {
    static BlockPool* const p = new BlockPool;
    return *p;
}

}  // namespace

std::string take_spare_buffer(size_t capacity) {
    std::string taken = capacity >= SpareBufferLimits::kMinBytes ? buffer_pool().take(capacity) : std::string();
    taken.clear();
    if (taken.capacity() < capacity) {
        taken.reserve(capacity);
        // Kept and read again by every later stage of a long book (the
        // 50 MB book parses 3-4 % faster). On a virtual machine whose
        // memory the host has not backed yet, a fresh huge page costs more
        // to fault in than small ones: a one-off parse of a 100 MB flood
        // of brackets took about a quarter longer there.
        advise_huge_pages(taken.data(), taken.capacity());
    }
    return taken;
}

void keep_spare_buffer(std::string&& buffer) noexcept {
    buffer.clear();
    buffer_pool().keep(buffer);
}

size_t release_spare_buffers() noexcept { return block_pool().release() + buffer_pool().release(); }

size_t spare_buffer_bytes() noexcept { return buffer_pool().bytes(); }

void* take_spare_block(size_t bytes) {
    if (Block kept = block_pool().take(bytes); kept_size(kept) != 0) return kept.release();
    if (bytes > SIZE_MAX - kBlockHeader) throw std::bad_alloc();
    void* block = static_cast<char*>(::operator new(bytes + kBlockHeader)) + kBlockHeader;
    advise_huge_pages(block, bytes);
    block_size(block) = bytes;
    return block;
}

void keep_spare_block(void* block) noexcept {
    Block owned(block);
    block_pool().keep(owned);  // freed here unless kept
}

size_t spare_block_bytes() noexcept { return block_pool().bytes(); }

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
