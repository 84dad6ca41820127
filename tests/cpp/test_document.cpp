#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "document/document.hpp"
#include "document/lazy.hpp"
#include "json/views.hpp"

using namespace kogane;

TEST(Document, LengthLimitDecision) {
    EXPECT_TRUE(source_length_ok(0));
    EXPECT_TRUE(source_length_ok(0xFFFFFFFFull));
    EXPECT_FALSE(source_length_ok(0x100000000ull));
    auto r = new_document("", 0x100000000ull);  // refused before reading any byte
    ASSERT_TRUE(std::holds_alternative<LengthError>(r));
    EXPECT_EQ(std::get<LengthError>(r).length, 0x100000000ull);
}

TEST(Document, EmptySource) {
    auto r = new_document("", 0);
    ASSERT_TRUE(std::holds_alternative<DocPtr>(r));
    const KoganeDoc& d = *std::get<DocPtr>(r);
    EXPECT_EQ(d.source(), "");
    EXPECT_TRUE(d.snapshot().normalized.empty());
    EXPECT_TRUE(d.snapshot().diagnostics.empty());
    const std::string empty = "{\"schemaVersion\":3,\"data\":[]}";
    EXPECT_EQ(nodes_json(d), empty);
    EXPECT_EQ(pairs_json(d), empty);
    EXPECT_EQ(container_pairs_json(d), empty);
    EXPECT_EQ(gaiji_json(d), empty);
    EXPECT_EQ(diagnostics_json(d), empty);
}

TEST(Document, SourceIsSharedNotCopied) {
    auto text = std::make_shared<const std::string>("plain text");
    DocPtr d = parse_document(text);
    EXPECT_EQ(d->shared_source().get(), text.get());
    EXPECT_EQ(&d->source()[0], text->data());
}

TEST(Document, ViewsAreBuiltOnce) {
    DocPtr d = parse_document(std::make_shared<const std::string>("abc"));
    const auto* first = &d->node_list();
    EXPECT_EQ(first, &d->node_list());
    EXPECT_EQ(&d->coordinate_map(), &d->coordinate_map());
    EXPECT_EQ(&d->pair_list(), &d->pair_list());
}

TEST(Lazy, PoisonedCellIsFilledAfresh) {
    Lazy<int> cell;
    EXPECT_THROW(cell.get([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(cell.state(), Lazy<int>::State::Poisoned);
    EXPECT_EQ(cell.get([] { return 7; }), 7);
    EXPECT_EQ(cell.state(), Lazy<int>::State::Complete);
    EXPECT_EQ(cell.get([] { return 8; }), 7);  // never rebuilt once complete
}

TEST(Lazy, ConcurrentCallersShareOneFill) {
    Lazy<int> cell;
    std::atomic<int> fills{0};
    std::vector<std::thread> threads;
    std::vector<int> seen(8);
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            seen[i] = cell.get([&] {
                ++fills;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return 42;
            });
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(fills.load(), 1);
    for (int v : seen) EXPECT_EQ(v, 42);
}

TEST(Document, FragmentParse) {
    ParseSnapshot snap;
    parse_fragment("caption text", snap);
    EXPECT_EQ(*snap.sanitized, "caption text");
}
