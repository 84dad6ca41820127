#pragma once
// The sentinel registry laid out for lookup by sentinel byte position.

#include <span>
#include <vector>

#include "collections/eytzinger.hpp"
#include "collections/spare_buffers.hpp"
#include "syntax/ast/node.hpp"

namespace kogane {

class SentinelRegistry {
public:
    SentinelRegistry() = default;

    // `sorted` must be in strictly ascending position order (the fold
    // produces it that way). Only the positions are laid out for search;
    // the entries stay in that order, found from a slot by its rank, so a
    // walk through the text reads them front to back and building the
    // layout never moves a 64-byte entry.
    static SentinelRegistry build(SpareVector<RegistryEntry> sorted) {
        SentinelRegistry r;
        r.positions_.resize(sorted.size());
        const RegistryEntry* next = sorted.data();
        eytzinger_in_order(sorted.size(), [&](uint64_t slot) { r.positions_[slot] = (next++)->position; });
        r.entries_ = std::move(sorted);
        return r;
    }

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // The positions in Eytzinger order.
    const std::vector<uint32_t>& positions() const { return positions_; }

    // The entry whose sentinel sits at byte `position`, or null.
    const RegistryEntry* find(uint32_t position) const {
        auto slot = eytzinger_find(positions_, position);
        if (!slot) return nullptr;
        const RegistryEntry& e = entries_[eytzinger_rank(*slot, positions_.size())];
        return e.kind == SentinelKind::Absent ? nullptr : &e;
    }

    // Every entry, in document order (absent ones included).
    std::span<const RegistryEntry> in_order() const { return entries_; }

private:
    std::vector<uint32_t> positions_;
    SpareVector<RegistryEntry> entries_;
};

}  // namespace kogane
