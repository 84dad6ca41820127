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
    const auto open = static_cast<uint32_t>(san2.find("《"));
    EXPECT_EQ(start(m2, open), src2.find("《"));
    EXPECT_EQ(end(m2, static_cast<uint32_t>(san2.size())), src2.size());
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

namespace {

// The edit table read one edit at a time, as it is documented: the indexed
// lookup must give the same answer for every offset.
uint32_t walk_edits(const CoordinateMap& m, uint32_t offset, Side side) {
    uint64_t x = offset < m.clamp ? offset : m.clamp;
    uint64_t prev_san = 0, prev_src = 0;
    for (const CoordinateEdit& e : m.edits) {
        if (x < e.sanitized_start) return static_cast<uint32_t>(prev_src + (x - prev_san));
        if (x == e.sanitized_start && e.sanitized_start == e.sanitized_end) {
            prev_san = e.sanitized_end;
            prev_src = e.source_end;
            continue;
        }
        if (x == e.sanitized_start) return static_cast<uint32_t>(e.source_start);
        if (x < e.sanitized_end) return static_cast<uint32_t>(side == Side::Start ? e.source_start : e.source_end);
        if (x == e.sanitized_end) return static_cast<uint32_t>(e.source_end);
        prev_san = e.sanitized_end;
        prev_src = e.source_end;
    }
    return static_cast<uint32_t>(prev_src + (x - prev_san));
}

}  // namespace

TEST(CoordinateMap, IndexedLookupAgreesWithTheEditWalk) {
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&](uint64_t n) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed % n;
    };
    for (int round = 0; round < 300; ++round) {
        // Random sorted tables with every kind of edit: empty sanitized
        // ranges (dropped marks), CR LF, inserted line feeds, rewrites, and
        // edits that touch.
        CoordinateMap m;
        uint64_t s = 0, r = 0;
        const uint64_t count = next(12);
        for (uint64_t k = 0; k < count; ++k) {
            s += next(3);
            r += next(4);
            const uint64_t sl = next(3), rl = next(4);
            m.edits.push_back({s, s + sl, r, r + rl});
            s += sl;
            r += rl;
        }
        m.clamp = s + next(5);
        for (uint32_t x = 0; x <= m.clamp + 2; ++x) {
            for (Side side : {Side::Start, Side::End}) {
                ASSERT_EQ(map_offset(m, x, side), walk_edits(m, x, side)) << "round " << round << " offset " << x;
            }
        }
    }
}

TEST(CoordinateMap, NestedTortoisesOverCrLfKeepEveryLineExact) {
    // Each 〔 opens a body reaching to the single 〕 that differs from the
    // sanitized body only in its line ends; every CR LF stays its own edit.
    std::string src, san;
    for (int i = 0; i < 4; ++i) {
        src += "〔a\r\n";
        san += "〔a\n";
    }
    src += "〕z";
    san += "〕z";
    CoordinateMap m = build_coordinate_map(src, san, false);
    ASSERT_EQ(m.edits.size(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m.edits[i].sanitized_start, 5 * i + 4);
        EXPECT_EQ(m.edits[i].source_start, 6 * i + 4);
        EXPECT_EQ(m.edits[i].source_end, 6 * i + 6);
    }
    EXPECT_EQ(start(m, static_cast<uint32_t>(san.size()) - 1), src.size() - 1);  // z

    // Openers without any closer, then CR LF: line ends still map.
    std::string src2 = "〔〔〔x\r\ny", san2 = "〔〔〔x\ny";
    CoordinateMap m2 = build_coordinate_map(src2, san2, false);
    EXPECT_EQ(start(m2, 11), 12u);  // y
}
