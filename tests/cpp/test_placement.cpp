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
    EXPECT_EQ(eytzinger_order(0), std::vector<uint32_t>{});
    EXPECT_EQ(eytzinger_order(1), std::vector<uint32_t>{0});
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
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(order[i]->position, sorted[i]);
        // Stepping through the layout meets the same positions in order.
        std::vector<uint32_t> stepped;
        for (EytzingerCursor c(n); !c.done(); c.advance()) stepped.push_back(r.positions()[c.slot()]);
        EXPECT_EQ(stepped, sorted) << n;
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
