#include <gtest/gtest.h>

#include <string>

#include "document/coordinate_map.hpp"

using namespace kogane;

namespace {

uint32_t start(const CoordinateMap& m, uint32_t x) { return map_offset(m, x, Side::Start); }
uint32_t end(const CoordinateMap& m, uint32_t x) { return map_offset(m, x, Side::End); }

}  // namespace

TEST(CoordinateMap, IdenticalTextsNeedNoEdits) {
    CoordinateMap m = build_coordinate_map("abc", "abc", true);
    EXPECT_TRUE(m.edits.empty());
    EXPECT_EQ(start(m, 2), 2u);
    EXPECT_EQ(start(m, 99), 3u);  // clamped to the sanitized length
}

TEST(CoordinateMap, LeadingByteOrderMarks) {
    const std::string bom = "\xEF\xBB\xBF";
    CoordinateMap one = build_coordinate_map(bom + "abc", "abc", false);
    EXPECT_EQ(start(one, 0), 3u);
    EXPECT_EQ(end(one, 3), 6u);

    CoordinateMap two = build_coordinate_map(bom + bom + "abc", "abc", false);
    ASSERT_EQ(two.edits.size(), 1u);
    EXPECT_EQ(two.edits[0].source_end, 6u);
    EXPECT_EQ(start(two, 0), 6u);
    EXPECT_EQ(start(two, 1), 7u);

    CoordinateMap only = build_coordinate_map(bom, "", false);
    EXPECT_EQ(start(only, 0), 3u);
}

TEST(CoordinateMap, CarriageReturns) {
    // a CR LF b CR c CR CR LF d
    std::string src = "a\r\nb\rc\r\r\nd";
    std::string san = "a\nb\nc\n\nd";
    CoordinateMap m = build_coordinate_map(src, san, false);
    EXPECT_EQ(m.edits.size(), 4u);
    // A span starting at the LF that replaced CR LF starts at the CR and one
    // ending after it ends after the LF.
    EXPECT_EQ(start(m, 1), 1u);
    EXPECT_EQ(end(m, 2), 3u);
    EXPECT_EQ(start(m, 2), 3u);  // b
    EXPECT_EQ(start(m, 3), 4u);  // lone CR
    EXPECT_EQ(start(m, 4), 5u);  // c
    EXPECT_EQ(start(m, 5), 6u);  // first CR of CR CR LF
    EXPECT_EQ(start(m, 6), 7u);  // CR LF
    EXPECT_EQ(start(m, 7), 9u);  // d
    EXPECT_EQ(end(m, 8), 10u);
}

TEST(CoordinateMap, InsertedLineFeedBeforeRuleLine) {
    std::string src = "text\n----------\n";
    std::string san = "text\n\n----------\n";
    CoordinateMap m = build_coordinate_map(src, san, false);
    ASSERT_EQ(m.edits.size(), 1u);
    EXPECT_EQ(m.edits[0].sanitized_start, 5u);
    EXPECT_EQ(m.edits[0].source_start, 5u);
    EXPECT_EQ(m.edits[0].source_end, 5u);
    EXPECT_EQ(start(m, 6), 5u);   // the rule line itself
    EXPECT_EQ(end(m, 16), 15u);
}

TEST(CoordinateMap, RewrittenAccentBody) {
    // 〔e'〕x becomes 〔é〕x: body 2 bytes in both, but different bytes.
    std::string src = "ab〔cafe'〕x";
    std::string san = "ab〔café〕x";
    CoordinateMap m = build_coordinate_map(src, san, false);
    ASSERT_EQ(m.edits.size(), 1u);
    EXPECT_EQ(m.edits[0].sanitized_start, 5u);
    EXPECT_EQ(m.edits[0].sanitized_end, 10u);
    EXPECT_EQ(m.edits[0].source_start, 5u);
    EXPECT_EQ(m.edits[0].source_end, 10u);
    EXPECT_EQ(start(m, 7), 5u);   // inside the body: body start for starts
    EXPECT_EQ(end(m, 7), 10u);    // and body end for ends

    // A rewrite that shortens the body shifts everything after it.
    std::string src2 = "〔AE&〕《x》";
    std::string san2 = "〔Æ〕《x》";
    CoordinateMap m2 = build_coordinate_map(src2, san2, false);
    size_t open = san2.find("《");
    EXPECT_EQ(start(m2, open), src2.find("《"));
    EXPECT_EQ(end(m2, san2.size()), src2.size());
}

TEST(CoordinateMap, UnclosedTortoiseWithCrLfKeepsLaterOffsetsExact) {
    std::string src = "〔a\r\nb\r\nc";
    std::string san = "〔a\nb\nc";
    CoordinateMap m = build_coordinate_map(src, san, false);
    EXPECT_EQ(start(m, 5), 6u);  // b
    EXPECT_EQ(start(m, 6), 7u);  // the CR of the second CR LF
    EXPECT_EQ(start(m, 7), 9u);  // c
}

TEST(CoordinateMap, ReplacedSentinelsKeepLength) {
    std::string src = "a\xEE\x80\x82" "b\r\n";
    std::string san = "a\xEF\xBF\xBD" "b\n";
    CoordinateMap m = build_coordinate_map(src, san, false);
    EXPECT_EQ(start(m, 4), 4u);
    EXPECT_EQ(end(m, 6), 7u);
}

TEST(CoordinateMap, UnexpectedDifferenceEndsWithOneFinalEdit) {
    CoordinateMap m = build_coordinate_map("abcXYZ", "abcQ", false);
    ASSERT_EQ(m.edits.size(), 1u);
    EXPECT_EQ(m.edits[0].sanitized_start, 3u);
    EXPECT_EQ(m.edits[0].source_end, 6u);
    EXPECT_EQ(start(m, 2), 2u);
    EXPECT_EQ(end(m, 4), 6u);
}

TEST(CoordinateMap, MapOffsetFollowsTheEditTable) {
    CoordinateMap m;
    m.clamp = 20;
    m.edits = {{0, 0, 0, 3}, {5, 6, 8, 10}, {10, 12, 14, 14}};
    EXPECT_EQ(start(m, 0), 3u);
    EXPECT_EQ(start(m, 4), 7u);
    EXPECT_EQ(start(m, 5), 8u);   // x = s0
    EXPECT_EQ(end(m, 6), 10u);    // x = s1
    EXPECT_EQ(start(m, 7), 11u);
    EXPECT_EQ(start(m, 11), 14u);  // inside a deleting edit
    EXPECT_EQ(end(m, 11), 14u);
    EXPECT_EQ(start(m, 15), 17u);
    EXPECT_EQ(start(m, 30), 22u);  // clamped at 20
}
