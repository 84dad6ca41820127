// The Eytzinger placement index over sentinel positions.

#include <gtest/gtest.h>

#include "syntax/ast/registry.hpp"

using namespace kogane;

namespace {

SentinelRegistry registry_of(const std::vector<uint32_t>& sorted) {
    SpareVector<RegistryEntry> entries;
    for (uint32_t p : sorted) {
        RegistryEntry e;
        e.kind = SentinelKind::Inline;
        e.position = p;
        e.span = Span{p, p + 1};
        entries.push_back(e);
    }
    return SentinelRegistry::build(std::move(entries));
}

}  // namespace

TEST(Placement, EytzingerLayouts) {
    EXPECT_EQ(registry_of({10, 20, 30, 40, 50, 60, 70}).positions(),
              (std::vector<uint32_t>{40, 20, 60, 10, 30, 50, 70}));
    EXPECT_EQ(registry_of({10, 20, 30, 40, 50}).positions(), (std::vector<uint32_t>{40, 20, 50, 10, 30}));
}

// The rank of every slot, against an in-order walk of the layout, for
// full, nearly full and barely started bottom levels.
TEST(Placement, RankOfEverySlot) {
    for (uint64_t n = 1; n <= 1100; ++n) {
        uint64_t counter = 0;
        eytzinger_in_order(n, [&](uint64_t slot) { ASSERT_EQ(eytzinger_rank(slot, n), counter++) << n << " " << slot; });
        ASSERT_EQ(counter, n);
    }
    // Near the top of the u32 range the arithmetic stays in 64 bits.
    const uint64_t n = (uint64_t{1} << 32) - 5;
    EXPECT_EQ(eytzinger_rank(0, n), (uint64_t{1} << 31) - 1);
    EXPECT_EQ(eytzinger_rank(n - 1, n), (uint64_t{1} << 32) - 10);  // the last bottom slot, 2 * (2^31 - 5)
}

TEST(Placement, LookupHitsAndMisses) {
    SentinelRegistry empty = registry_of({});
    EXPECT_EQ(empty.find(0), nullptr);
    EXPECT_TRUE(empty.in_order().empty());

    // Every stored position is found, with its own entry; nothing between
    // (n = 1 included).
    for (uint32_t n = 0; n < 70; ++n) {
        std::vector<uint32_t> sorted;
        for (uint32_t i = 0; i < n; ++i) sorted.push_back(10 * i + 3);
        SentinelRegistry r = registry_of(sorted);
        for (uint32_t p : sorted) {
            const RegistryEntry* e = r.find(p);
            ASSERT_NE(e, nullptr) << n << " " << p;
            EXPECT_EQ(e->span.start, p);
            EXPECT_EQ(r.find(p + 1), nullptr);
            EXPECT_EQ(r.find(p - 1), nullptr);
        }
        EXPECT_EQ(r.find(0), nullptr);
        EXPECT_EQ(r.find(0xFFFFFFFFu), nullptr);
        auto order = r.in_order();
        ASSERT_EQ(order.size(), n);
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(order[i].position, sorted[i]);
    }
}

TEST(Placement, AbsentEntriesAreNotFound) {
    SpareVector<RegistryEntry> entries(3);
    for (uint32_t i = 0; i < 3; ++i) {
        entries[i].kind = i == 1 ? SentinelKind::Absent : SentinelKind::BlockLeaf;
        entries[i].position = i * 3;
    }
    SentinelRegistry r = SentinelRegistry::build(std::move(entries));
    EXPECT_NE(r.find(0), nullptr);
    EXPECT_EQ(r.find(3), nullptr);
    EXPECT_NE(r.find(6), nullptr);
}
