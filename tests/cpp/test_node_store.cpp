#include <gtest/gtest.h>

#include <string>

#include "collections/panic.hpp"
#include "syntax/ast/node_store.hpp"

using namespace kogane;

TEST(NodeStore, InterningDeduplicatesShortStringsOnly) {
    NodeStore s;
    StringId a = s.intern("かんじ");
    StringId b = s.intern("漢字");
    EXPECT_NE(a, b);
    EXPECT_EQ(s.intern("かんじ"), a);  // table hit, not the one-entry cache
    EXPECT_EQ(s.resolve(a), "かんじ");

    std::string long_text(65, 'x');
    StringId l1 = s.intern(long_text);
    StringId l2 = s.intern("y");
    StringId l3 = s.intern(long_text);
    EXPECT_NE(l1, l3);  // 65 bytes or more are never deduplicated
    EXPECT_EQ(s.resolve(l3), long_text);
    EXPECT_NE(l2, l1);

    std::string short_text(64, 'x');
    StringId s1 = s.intern(short_text);
    s.intern("z");
    EXPECT_EQ(s.intern(short_text), s1);
    EXPECT_EQ(s.stats().bypassed_long, 2u);
}

TEST(NodeStore, OneEntryCacheAnswersRepeatedIntern) {
    NodeStore s;
    StringId a = s.intern("ルビ");
    uint64_t hits = s.stats().cache_hits;
    EXPECT_EQ(s.intern("ルビ"), a);
    EXPECT_EQ(s.stats().cache_hits, hits + 1);
}

TEST(NodeStore, EmptyStringIsValid) {
    NodeStore s;
    StringId e = s.intern("");
    EXPECT_EQ(s.resolve(e), "");
    EXPECT_EQ(s.intern(""), e);
}

TEST(NodeStore, TableGrowsAtTheTwoHundredTwentyFifthString) {
    NodeStore s;
    std::vector<StringId> ids;
    for (int i = 0; i < 224; ++i) ids.push_back(s.intern("k" + std::to_string(i)));
    EXPECT_EQ(s.table_slots(), 256u);
    EXPECT_EQ(s.stats().growths, 0u);
    ids.push_back(s.intern("k224"));
    EXPECT_EQ(s.table_slots(), 512u);
    EXPECT_EQ(s.stats().growths, 1u);
    // Ids stay stable and lookups still hit after the rehash.
    for (size_t i = 0; i < 225; ++i) {
        EXPECT_EQ(s.intern("k" + std::to_string(i)), ids[i]);
        EXPECT_EQ(s.resolve(ids[i]), "k" + std::to_string(i));
    }
    EXPECT_EQ(s.string_count(), 225u);
    for (int i = 225; i < 5000; ++i) s.intern("k" + std::to_string(i));
    EXPECT_EQ(s.string_count(), 5000u);
    EXPECT_GE(s.table_slots() * 7, s.string_count() * 8);
}

TEST(NodeStore, Segments) {
    NodeStore s;
    Segment empty = s.text_segment("");
    EXPECT_EQ(empty.tag, SegmentTag::Run);
    EXPECT_EQ(empty.b, 0u);

    Segment t = s.text_segment("本");
    EXPECT_EQ(t.tag, SegmentTag::Text);
    EXPECT_EQ(s.resolve(t.a), "本");

    ContentItem items[] = {ContentItem::make_text(s.intern("a")), ContentItem::make_text(s.intern("b"))};
    Segment joined = s.segment_from_items(items);
    EXPECT_EQ(joined.tag, SegmentTag::Text);
    EXPECT_EQ(s.resolve(joined.a), "ab");

    GaijiItem g;
    g.description = s.intern("木＋吶のつくり");
    g.code = CodeRef::jis(1, 85, 54);
    ContentItem mixed[] = {ContentItem::make_text(s.intern("a")), ContentItem::make_gaiji(g)};
    Segment run = s.segment_from_items(mixed);
    ASSERT_EQ(run.tag, SegmentTag::Run);
    auto got = s.items(run.a, run.b);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].tag, ContentTag::Gaiji);
    EXPECT_EQ(got[1].gaiji.code.plane(), 1);
    EXPECT_EQ(got[1].gaiji.code.row(), 85);
    EXPECT_EQ(got[1].gaiji.code.cell(), 54);

    RubyNode r = s.make_ruby(s.text_segment("漢字"), s.text_segment("かんじ"));
    std::string_view base, reading;
    ASSERT_TRUE(s.single_text(r.base, &base));
    ASSERT_TRUE(s.single_text(r.reading, &reading));
    EXPECT_EQ(base, "漢字");
    EXPECT_EQ(reading, "かんじ");
    EXPECT_FALSE(r.base_style.present());
}

TEST(NodeStore, OutOfRangeLookupsAreInternalErrors) {
    NodeStore s;
    EXPECT_THROW(s.resolve(7), InternalError);
    EXPECT_THROW(s.segments(ContentRef{0, 1}), InternalError);
    EXPECT_THROW(s.items(0, 3), InternalError);
    try {
        s.items(1, 1);
        FAIL();
    } catch (const InternalError& e) {
        EXPECT_STREQ(e.what(), "content range belongs to store");
    }
}
