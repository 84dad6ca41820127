#pragma once
// The sentinel registry laid out for lookup by sentinel byte position.

#include <optional>
#include <vector>

#include "collections/eytzinger.hpp"
#include "collections/spare_buffers.hpp"
#include "syntax/ast/node.hpp"

namespace kogane {

class SentinelRegistry {
public:
    SentinelRegistry() = default;

    // `sorted` must be in strictly ascending position order (the fold
    // produces it that way).
    static SentinelRegistry build(SpareVector<RegistryEntry> sorted) {
        SentinelRegistry r;
        const uint32_t n = static_cast<uint32_t>(sorted.size());
        // Rearranged in place, cycle by cycle, so a document full of
        // sentinels never holds its entries twice.
        std::vector<uint32_t> perm = eytzinger_order(n);
        for (uint32_t i = 0; i < n; ++i) {
            if (perm[i] == i) continue;
            const RegistryEntry first = sorted[i];
            uint32_t slot = i;
            while (true) {
                const uint32_t from = perm[slot];
                perm[slot] = slot;  // placed
                if (from == i) {
                    sorted[slot] = first;
                    break;
                }
                sorted[slot] = sorted[from];
                slot = from;
            }
        }
        std::vector<uint32_t>().swap(perm);
        r.positions_.resize(n);
        for (uint32_t i = 0; i < n; ++i) r.positions_[i] = sorted[i].position;
        r.entries_ = std::move(sorted);
        return r;
    }

    size_t size() const { return positions_.size(); }
    bool empty() const { return positions_.empty(); }
    const std::vector<uint32_t>& positions() const { return positions_; }

    // The entry whose sentinel sits at byte `position`, or null.
    const RegistryEntry* find(uint32_t position) const {
        auto slot = eytzinger_find(positions_, position);
        if (!slot) return nullptr;
        const RegistryEntry& e = entries_[*slot];
        return e.kind == SentinelKind::Absent ? nullptr : &e;
    }

    const RegistryEntry& at_slot(uint32_t slot) const { return entries_[slot]; }

    // Entries in document order (an in-order walk of the layout).
    std::vector<const RegistryEntry*> in_order() const {
        std::vector<const RegistryEntry*> out;
        out.reserve(entries_.size());
        eytzinger_in_order(entries_.size(), [&](uint64_t slot) { out.push_back(&entries_[slot]); });
        return out;
    }

private:
    std::vector<uint32_t> positions_;
    SpareVector<RegistryEntry> entries_;
};

}  // namespace kogane
