// The index of 「…」 texts used by forward references.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "pipeline/lexer/classify/quote_index.hpp"

using namespace kogane;

TEST(QuoteIndex, MatchesEachCloseWithTheNearestOpen) {
    const std::string text = "」東京「東京」と「大阪「京都」です」、「」と「未完";
    QuoteIndex q(text);
    EXPECT_TRUE(q.is_quoted("東京"));
    EXPECT_TRUE(q.is_quoted("京都"));
    EXPECT_TRUE(q.is_quoted("大阪「京都」です"));
    EXPECT_FALSE(q.is_quoted("大阪"));
    EXPECT_FALSE(q.is_quoted(""));  // 「」 holds nothing
    EXPECT_FALSE(q.is_quoted("未完"));
    EXPECT_FALSE(q.is_quoted("東京「東京」"));
    EXPECT_EQ(q.size(), 3u);
}

TEST(QuoteIndex, OccursBefore) {
    const std::string text = "前に東京。" + std::string(3000, 'x') + "［＃「東京」に傍点］";
    QuoteIndex q(text);
    const uint32_t annotation = static_cast<uint32_t>(text.find("［"));
    const uint32_t tokyo = static_cast<uint32_t>(text.find("東京"));
    EXPECT_TRUE(q.occurs_before("東京", annotation));
    EXPECT_TRUE(q.occurs_before("東京", tokyo + 6));   // ends exactly at the offset
    EXPECT_FALSE(q.occurs_before("東京", tokyo + 5));  // straddles it
    EXPECT_FALSE(q.occurs_before("大阪", annotation));
    EXPECT_TRUE(q.occurs_before("xx", annotation));
    EXPECT_FALSE(q.occurs_before("前に東京。x", 5));
    EXPECT_TRUE(q.occurs_before("", 0));
    EXPECT_TRUE(q.occurs_before("東京", 0xFFFFFFFFu));  // offsets past the end clamp
}

// Against a plain search, over texts dense in brackets and repeats, both
// with direct scans and, once those have used up their budget, through the
// character index.
TEST(QuoteIndex, AgreesWithPlainSearch) {
    const std::string pieces[] = {"「", "」", "あ", "い", "東京", "x", "「あ」", "」「", "𠮟"};
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<size_t> starts;  // character starts
        std::string text;
        for (int n = std::uniform_int_distribution<int>(0, 60)(rng); n > 0; --n) {
            const std::string& p = pieces[std::uniform_int_distribution<size_t>(0, 8)(rng)];
            for (size_t i = 0; i < p.size(); i += p[i] == 'x' ? 1 : p[i] == '\xF0' ? 4 : 3) starts.push_back(text.size() + i);
            text += p;
        }
        starts.push_back(text.size());
        // Naive pairing: every 」 closes the nearest unmatched 「.
        std::vector<size_t> open;
        std::vector<std::string> probes;
        for (size_t k = 0; k + 1 < starts.size(); ++k) {
            std::string_view c(text.data() + starts[k], starts[k + 1] - starts[k]);
            if (c == "「") open.push_back(starts[k + 1]);
            if (c == "」" && !open.empty()) {
                if (starts[k] > open.back()) probes.push_back(text.substr(open.back(), starts[k] - open.back()));
                open.pop_back();
            }
        }
        const size_t quoted = probes.size();
        for (int k = 0; k < 8 && starts.size() > 1; ++k) {  // arbitrary substrings too
            size_t a = std::uniform_int_distribution<size_t>(0, starts.size() - 2)(rng);
            size_t b = std::uniform_int_distribution<size_t>(a + 1, starts.size() - 1)(rng);
            probes.push_back(text.substr(starts[a], starts[b] - starts[a]));
        }
        probes.push_back("不在");

        QuoteIndex fresh(text), indexed(text);
        // Each miss scans the whole text; the slack is 64 KiB beyond one length.
        for (size_t spend = 0; text.size() >= 6 && spend < (65536 + text.size()) / text.size() + 2; ++spend)
            indexed.first_occurrence("不在");
        for (const QuoteIndex* q : {&fresh, &indexed}) {
            for (size_t i = 0; i < probes.size(); ++i) {
                const std::string& t = probes[i];
                if (i < quoted) {
                    ASSERT_TRUE(q->is_quoted(t)) << text << " / " << t;
                }
                const size_t hit = text.find(t);
                ASSERT_EQ(q->first_occurrence(t), hit == std::string::npos ? std::nullopt : std::optional<uint32_t>(hit))
                    << text << " / " << t;
                for (uint32_t off = 0; off <= text.size(); off += 5)
                    ASSERT_EQ(q->occurs_before(t, off), hit != std::string::npos && hit + t.size() <= off) << t << off;
            }
            for (const std::string& probe : {std::string("あい"), std::string("「東京"), std::string("x」")}) {
                bool expected = false;
                for (size_t i = 0; i < quoted; ++i) expected |= probes[i] == probe;
                EXPECT_EQ(q->is_quoted(probe), expected);
            }
        }
    }
}

// Deep nesting hashes every byte once; the contents are still all found.
TEST(QuoteIndex, DeeplyNestedQuotes) {
    std::string text;
    const int depth = 20000;
    for (int i = 0; i < depth; ++i) text += "「";
    text += "核";
    for (int i = 0; i < depth; ++i) text += "」";
    QuoteIndex q(text);
    EXPECT_EQ(q.size(), size_t(depth));
    EXPECT_TRUE(q.is_quoted("核"));
    EXPECT_TRUE(q.is_quoted("「「核」」"));
    EXPECT_EQ(q.first_occurrence("「核」"), uint32_t(3 * (depth - 1)));
}

// Many distinct annotation targets exhaust the direct-search budget; the
// one-pass answers for all remaining targets must equal plain search,
// including targets that are prefixes or suffixes of one another.
TEST(QuoteIndex, ManyAnnotationTargetsMatchPlainSearch) {
    std::string text;
    std::vector<std::string> targets;
    for (int i = 0; i < 1500; ++i) {
        std::string t = "語" + std::to_string(i % 2 ? i : i / 7);
        if (i % 5 == 0) t = std::to_string(i) + "語";
        targets.push_back(t);
        text += "前" + t + "中［＃「" + t + "」に傍点］";
        if (i % 3 == 0) text += "「" + t + "」［＃「" + t + "」「語」は太字］\n";
    }
    text += "［＃「最後」～「語1」に傍点］";
    targets.push_back("語");
    targets.push_back("最後");
    QuoteIndex q(text);
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::string& t = targets[targets.size() - 1 - i];  // late targets first: big direct searches
        const size_t hit = text.find(t);
        ASSERT_EQ(q.first_occurrence(t), hit == std::string::npos ? std::nullopt : std::optional<uint32_t>(hit)) << t;
        const uint32_t before = hit == std::string::npos ? 0 : static_cast<uint32_t>(hit + t.size());
        EXPECT_TRUE(hit == std::string::npos || q.occurs_before(t, before)) << t;
        if (hit != std::string::npos) {
            EXPECT_FALSE(q.occurs_before(t, before - 1)) << t;
        }
    }
}
