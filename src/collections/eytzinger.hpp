#pragma once
// Eytzinger (breadth-first) layout of a sorted array: slot 0 is the root and
// the children of slot k are 2k+1 and 2k+2, so a binary search walks one
// contiguous array whose top levels share cache lines.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "collections/panic.hpp"

namespace kogane {

// Calls fn(slot) for the slots of an n-element layout in sorted order (an
// in-order walk; the explicit stack replaces recursion on left children).
template <typename F>
void eytzinger_in_order(uint64_t n, F&& fn) {
    std::vector<uint64_t> stack;
    uint64_t k = 0;
    while (true) {
        while (k < n) {
            stack.push_back(k);
            k = 2 * k + 1;
        }
        if (stack.empty()) break;
        k = stack.back();
        stack.pop_back();
        fn(k);
        k = 2 * k + 2;
    }
}

// The slots of an n-element layout in sorted order, one step at a time:
// for a walk that meets the keys in order, each lookup becomes a step that
// costs O(1) on average instead of a search from the root.
class EytzingerCursor {
public:
    explicit EytzingerCursor(uint64_t n) : n_(n), slot_(n == 0 ? 0 : leftmost(0, n)) {
        if (n == 0) slot_ = n_;
    }

    bool done() const { return slot_ >= n_; }
    uint64_t slot() const { return slot_; }

    // The next slot in sorted order (done() after the last).
    void advance() {
        uint64_t k = slot_;
        if (2 * k + 2 < n_) {
            slot_ = leftmost(2 * k + 2, n_);
            return;
        }
        // Up past every node this one is the right child of; the parent
        // of a left child comes next.
        while (k != 0 && (k & 1) == 0) k = (k - 1) / 2;
        slot_ = k == 0 ? n_ : (k - 1) / 2;
    }

private:
    static uint64_t leftmost(uint64_t k, uint64_t n) {
        while (2 * k + 1 < n) k = 2 * k + 1;
        return k;
    }

    uint64_t n_;
    uint64_t slot_;
};

// perm[slot] = index into the sorted input that belongs in that slot.
inline std::vector<uint32_t> eytzinger_order(uint32_t n) {
    std::vector<uint32_t> perm(n);
    uint32_t counter = 0;
    eytzinger_in_order(n, [&](uint64_t slot) { perm[slot] = counter++; });
    return perm;
}

// Slot holding `key`, or nothing.
inline std::optional<uint32_t> eytzinger_find(std::span<const uint32_t> keys, uint32_t key) {
    uint64_t k = 0;
    const uint64_t n = keys.size();
    while (k < n) {
        uint32_t v = keys[k];
        if (v == key) return static_cast<uint32_t>(k);
        uint64_t next = v > key ? 2 * k + 1 : 2 * k + 2;
        invariant(next > k, "Eytzinger traversal must advance");
        k = next;
    }
    return std::nullopt;
}

}  // namespace kogane
