#pragma once
// Eytzinger (breadth-first) layout of a sorted array: slot 0 is the root and
// the children of slot k are 2k+1 and 2k+2, so a binary search walks one
// contiguous array whose top levels share cache lines.

#include <bit>
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

// The sorted-order index of `slot` in an n-element layout, in O(1): its
// in-order rank in the complete tree one level deeper than full, less the
// missing bottom-level slots that would come before it. Lets the entries
// that go with the keys stay in sorted order beside the laid-out keys.
// Needs slot < n.
inline uint64_t eytzinger_rank(uint64_t slot, uint64_t n) {
    const uint64_t last_depth = static_cast<uint64_t>(std::bit_width(n)) - 1;  // levels 0..last_depth
    const uint64_t bottom = n - ((uint64_t{1} << last_depth) - 1);            // slots on the last level
    const uint64_t heap = slot + 1;
    const uint64_t depth = static_cast<uint64_t>(std::bit_width(heap)) - 1;
    const uint64_t across = heap - (uint64_t{1} << depth);
    const uint64_t complete = ((2 * across + 1) << (last_depth - depth)) - 1;
    const uint64_t half = (complete + 1) / 2;  // bottom-level slots before it, present or not
    return complete - (half > bottom ? half - bottom : 0);
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
