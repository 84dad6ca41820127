// The search for forward-reference targets in the text before them.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "pipeline/lexer/classify/quote_index.hpp"

using namespace kogane;

TEST(QuoteIndex, OccursBefore) {
    const std::string text = "前に東京。" + std::string(9000, 'x') + "［＃「東京」に傍点］";
    QuoteIndex q(text);
    const uint32_t annotation = static_cast<uint32_t>(text.find("［"));
    const uint32_t tokyo = static_cast<uint32_t>(text.find("東京"));
    EXPECT_TRUE(q.occurs_before("東京", annotation));  // beyond the near window
    EXPECT_TRUE(q.occurs_before("東京", annotation));  // remembered
    EXPECT_TRUE(q.occurs_before("東京", tokyo + 6));   // ends exactly at the offset
    EXPECT_FALSE(q.occurs_before("東京", tokyo + 5));  // straddles it
    EXPECT_FALSE(q.occurs_before("大阪", annotation));
    EXPECT_FALSE(q.occurs_before("大阪", annotation + 3));  // resumes the earlier scan
    EXPECT_TRUE(q.occurs_before("xx", annotation));
    EXPECT_FALSE(q.occurs_before("前に東京。x", 5));
    EXPECT_TRUE(q.occurs_before("", 0));
    EXPECT_TRUE(q.occurs_before("東京", 0xFFFFFFFFu));  // offsets past the end clamp
}

// Repeats matter for warnings only close by; the near search looks back
// kNearBytes (and the target's length) from the offset, and no further.
TEST(QuoteIndex, OccursNear) {
    const std::string text = "東京" + std::string(QuoteIndex::kNearBytes, 'x') + "東京";
    QuoteIndex q(text);
    EXPECT_FALSE(q.occurs_near("東京", static_cast<uint32_t>(text.size() - 1)));
    EXPECT_TRUE(q.occurs_before("東京", static_cast<uint32_t>(text.size() - 1)));
    EXPECT_TRUE(q.occurs_near("東京", static_cast<uint32_t>(text.size())));
    EXPECT_TRUE(q.occurs_near("東京", static_cast<uint32_t>(QuoteIndex::kNearBytes)));
}

// Against a plain search, with offsets in any order, so that remembered
// scans are resumed and reused both forwards and backwards.
TEST(QuoteIndex, AgreesWithPlainSearch) {
    const std::string pieces[] = {"「", "」", "あ", "い", "東京", "x", "「あ」", "」「", "𠮟", std::string(3000, 'y')};
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        std::vector<size_t> starts;  // character starts
        std::string text;
        for (int n = std::uniform_int_distribution<int>(0, 40)(rng); n > 0; --n) {
            const std::string& p = pieces[std::uniform_int_distribution<size_t>(0, 9)(rng)];
            for (size_t i = 0; i < p.size();) {
                starts.push_back(text.size() + i);
                const unsigned char b = static_cast<unsigned char>(p[i]);
                i += b < 0x80 ? 1 : b >= 0xF0 ? 4 : 3;
            }
            text += p;
        }
        starts.push_back(text.size());
        std::vector<std::string> probes = {"不在", "あい", "y東京", "x」"};
        for (int k = 0; k < 8 && starts.size() > 1; ++k) {
            size_t a = std::uniform_int_distribution<size_t>(0, starts.size() - 2)(rng);
            size_t b = std::uniform_int_distribution<size_t>(a + 1, std::min(starts.size() - 1, a + 12))(rng);
            probes.push_back(text.substr(starts[a], starts[b] - starts[a]));
        }
        QuoteIndex q(text);
        for (int k = 0; k < 60; ++k) {
            const std::string& t = probes[std::uniform_int_distribution<size_t>(0, probes.size() - 1)(rng)];
            const uint32_t off = std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(text.size()))(rng);
            const size_t hit = text.find(t);
            ASSERT_EQ(q.occurs_before(t, off), hit != std::string::npos && hit + t.size() <= off) << t << " @" << off;
        }
    }
}

// Thousands of distinct missing targets asked at the end of a long text:
// every search is paid for from one budget, a fixed multiple of the text,
// so the work stays linear; once it is spent the answer is "absent".
TEST(QuoteIndex, WorkIsBoundedByTheText) {
    const std::string text(200000, 'a');
    QuoteIndex q(text);
    const size_t budget = q.budget_left();
    EXPECT_LE(budget, 40 * text.size() + (size_t(8) << 20));
    for (int i = 0; i < 5000; ++i) EXPECT_FALSE(q.occurs_before("b" + std::to_string(i), 200000));
    EXPECT_EQ(q.budget_left(), 0u);
    // A target right before the offset still costs only its own window.
    QuoteIndex fresh(text);
    for (uint32_t i = 0; i < 5000; ++i) EXPECT_TRUE(fresh.occurs_before("aaaa", 200000 - i));
    EXPECT_GT(fresh.budget_left(), budget - 5000 * 300);
}

// Once plain scans from the start have read the text about twice, far and
// missing targets cost about the distance the pairs of characters leave
// open, not a scan of everything before the offset.
TEST(QuoteIndex, FarSearchesStartWhereTheTargetCanFirstBe) {
    std::string text = "序。";
    for (int i = 0; i < 20000; ++i) text += "あいうえお";
    const size_t late = text.size();
    text += "東京へ行く。";
    for (int i = 0; i < 2000; ++i) text += "かきくけこ";
    const uint32_t end = static_cast<uint32_t>(text.size());
    QuoteIndex q(text);
    for (const char* missing : {"大阪", "奈良", "神戸"}) EXPECT_FALSE(q.occurs_before(missing, end));
    const size_t full = q.budget_left();
    // 京都 has a pair (京都) found nowhere: no scan at all.
    EXPECT_FALSE(q.occurs_before("京都", end));
    EXPECT_LT(full - q.budget_left(), 3 * QuoteIndex::kNearBytes);
    // 東京 first occurs late: the scan starts there, not at the start.
    const size_t before = q.budget_left();
    EXPECT_TRUE(q.occurs_before("東京へ", end));
    EXPECT_LT(before - q.budget_left(), text.size() - late + 3 * QuoteIndex::kNearBytes);
    // The same answers at offsets before the index reaches, and straddling.
    EXPECT_FALSE(q.occurs_before("東京へ", static_cast<uint32_t>(late + 6)));
    EXPECT_TRUE(q.occurs_before("東京へ", static_cast<uint32_t>(late + 9)));
    EXPECT_TRUE(q.occurs_before("おあ", end));  // pairs across repeats
    EXPECT_FALSE(q.occurs_before("おか", static_cast<uint32_t>(late)));
    EXPECT_TRUE(q.occurs_before("こ", end));  // a single character has no pair
}
