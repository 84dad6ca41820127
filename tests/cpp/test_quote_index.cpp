// The search for forward-reference targets in the text before them.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "pipeline/lexer/classify/quote_index.hpp"
#include "pipeline/lexer/classify/target_batch.hpp"

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

// Answers of the one-pass batch against a plain search: first occurrences,
// absent targets, targets noted as found, with texts of every kind of
// character and targets that share keys, heads and tails, or end inside a
// character.
TEST(TargetBatch, AgreesWithPlainSearch) {
    const std::string pieces[] = {"「", "」", "あ", "い", "東京", "x", "é", "𠮟", "ー", std::string(300, 'y'),
                                  "むかしむかしあるところに"};  // long enough for the eight-character steps
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::vector<size_t> starts;
        std::string text;
        for (int n = std::uniform_int_distribution<int>(0, 60)(rng); n > 0; --n) {
            const std::string& p = pieces[std::uniform_int_distribution<size_t>(0, 10)(rng)];
            for (size_t i = 0; i < p.size();) {
                starts.push_back(text.size() + i);
                const unsigned char b = static_cast<unsigned char>(p[i]);
                i += b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            }
            text += p;
        }
        starts.push_back(text.size());
        // Also targets that end inside a character (\xE6\x9D: 東 cut short).
        std::vector<std::string> targets = {"不在", "あいー", "y東京", "éé", "𠮟x", "ーー", "\xE6\x9D", "\xE3\x81",
                                            "ところにー", "かしあ"};
        // Every other round only targets of two or more three-byte
        // characters, the keys the scanner's eight-character steps take.
        const bool kana_keys = round % 2 == 1;
        auto all_three_byte = [](const std::string& t) {
            if (t.size() < 6 || t.size() % 3 != 0) return false;
            for (size_t i = 0; i < t.size(); i += 3)
                if ((static_cast<unsigned char>(t[i]) & 0xF0) != 0xE0) return false;
            return true;
        };
        if (kana_keys) targets = {"不在", "あいー", "ーー", "ところにー", "かしあ", "しむか", "東京あ"};
        for (int k = 0; k < 10 && starts.size() > 1; ++k) {
            size_t a = std::uniform_int_distribution<size_t>(0, starts.size() - 2)(rng);
            size_t b = std::uniform_int_distribution<size_t>(a + 1, std::min(starts.size() - 1, a + 12))(rng);
            const std::string t = text.substr(starts[a], starts[b] - starts[a]);
            if (!kana_keys || all_three_byte(t)) targets.push_back(t);
        }
        const size_t limit = std::uniform_int_distribution<size_t>(0, text.size())(rng);
        TargetBatch batch(1 << 20);
        for (const std::string& t : targets) ASSERT_TRUE(batch.add(t));
        ASSERT_TRUE(batch.note_before("noted", 7));
        batch.run(text, limit);
        for (const std::string& t : targets) {
            const TargetBatch::Answer a = batch.find(t);
            ASSERT_TRUE(a.listed && a.searched) << t;
            const size_t hit = text.find(t);
            if (a.first != TargetBatch::kNotSeen)
                ASSERT_EQ(a.first, hit) << t << " in a text of " << text.size();
            else  // not seen: absent from everything the pass read
                ASSERT_TRUE(hit == std::string::npos || hit + t.size() > batch.scanned_to()) << t;
            ASSERT_GE(batch.scanned_to(), limit);
        }
        const TargetBatch::Answer noted = batch.find("noted");
        EXPECT_TRUE(noted.listed && !noted.searched);
        EXPECT_EQ(noted.before, 7u);
        EXPECT_FALSE(batch.find("never added").listed);
    }
}

// Many targets sharing their last bytes over a text made of those bytes:
// verifying them all at every position would be quadratic, so the pass
// hands over to the automaton and still finds the late ones exactly.
TEST(TargetBatch, SharedKeysStayLinear) {
    std::string text(100000, 'a');
    text += "baaaaaaa";
    TargetBatch batch(1 << 24);
    std::vector<std::string> targets;
    for (int k = 6; k < 600; ++k) targets.push_back("b" + std::string(k, 'a'));
    for (const std::string& t : targets) ASSERT_TRUE(batch.add(t));
    batch.run(text, text.size());
    EXPECT_EQ(batch.find(targets[0]).first, 100000u);  // "b" + 6 a
    EXPECT_EQ(batch.find(targets[1]).first, 100000u);  // "b" + 7 a
    EXPECT_EQ(batch.find(targets[2]).first, TargetBatch::kNotSeen);
    EXPECT_EQ(batch.find(targets.back()).first, TargetBatch::kNotSeen);
    EXPECT_EQ(batch.scanned_to(), text.size());
}

TEST(TargetBatch, TakesTargetsUpToItsCap) {
    TargetBatch batch(10);
    EXPECT_TRUE(batch.add("東京"));  // 6 bytes
    EXPECT_TRUE(batch.add("東京"));  // the same target costs nothing again
    EXPECT_FALSE(batch.add("大阪"));
    EXPECT_TRUE(batch.add(""));
    EXPECT_TRUE(batch.add("\x80x"));  // starts inside a character: left to other searches
    batch.run("大阪と東京", 100);
    EXPECT_EQ(batch.find("東京").first, 9u);
    EXPECT_FALSE(batch.find("大阪").listed);
    EXPECT_FALSE(batch.find("\x80x").listed);
}

// With the annotations' targets listed, a far target is found however much
// of the budget other searches have spent, and missing ones cost one pass.
TEST(QuoteIndex, ListedTargetsDoNotDependOnTheBudget) {
    std::string text = "遠い昔の話。";
    text += std::string(200000, 'a');
    const uint32_t end = static_cast<uint32_t>(text.size());
    std::vector<std::pair<std::string, uint32_t>> listed = {{"遠い昔", end}, {"近い昔", end}, {"a", end}};
    int lists = 0;
    QuoteIndex q(text, [&](const QuoteIndex::TargetSink& add) {
        ++lists;
        for (const auto& [t, at] : listed)
            if (!add(t, at)) return;
    });
    // Unlisted missing targets spend the whole budget.
    for (int i = 0; i < 5000; ++i) EXPECT_FALSE(q.occurs_before("b" + std::to_string(i), end));
    EXPECT_EQ(q.budget_left(), 0u);
    EXPECT_TRUE(q.occurs_before("遠い昔", end));
    EXPECT_TRUE(q.occurs_before("遠い昔", 9));
    EXPECT_FALSE(q.occurs_before("遠い昔", 8));  // straddles the offset
    EXPECT_FALSE(q.occurs_before("近い昔", end));
    EXPECT_TRUE(q.occurs_before("aaaa", end));  // right before the offset
    EXPECT_FALSE(q.occurs_before("b1", end));
    EXPECT_EQ(lists, 1);
}

// A target that nearly matches at every position (its anchor bytes are
// everywhere): the search checks hits, then finishes by a search that
// stays linear, and still answers exactly.
TEST(QuoteIndex, NearlyMatchingTargets) {
    const std::string text = std::string(60000, 'a') + "b漢字かな" + std::string(60000, 'a');
    const std::string present = "かな" + std::string(40, 'a'), absent = "c" + std::string(40, 'a');
    const uint32_t end = static_cast<uint32_t>(text.size());
    const uint32_t after = static_cast<uint32_t>(text.find("かな") + present.size());
    QuoteIndex q(text);
    EXPECT_TRUE(q.occurs_before(present, end));
    EXPECT_TRUE(q.occurs_before(present, after));
    EXPECT_FALSE(q.occurs_before(present, after - 1));
    EXPECT_FALSE(q.occurs_before(absent, end));
    EXPECT_TRUE(q.occurs_before("漢字か", end));  // anchored on a kanji
    EXPECT_FALSE(q.occurs_before("かな漢", end));
}

// Plain scans for far targets go on while they cost less than the batch
// would: a few missing targets in a long text never make it, and many make
// it after a few scans rather than after reading the text several times.
TEST(QuoteIndex, BatchOnlyWhenFarTargetsWouldCostMore) {
    std::string text = "遠い昔の話。";
    for (int i = 0; i < 140000; ++i) text += "あいうえおかきくけこ";
    const auto n = static_cast<uint32_t>(text.size());
    std::vector<std::pair<std::string, uint32_t>> asked;
    for (uint32_t k = 1; k <= 200; ++k) asked.emplace_back("東京" + std::to_string(k), n / 200 * k);
    auto lister_of = [&](int& lists) {
        return [&](const QuoteIndex::TargetSink& add) {
            ++lists;
            for (const auto& [t, at] : asked)
                if (!add(t, at)) return;
            add("遠い昔", n);
        };
    };

    int few_lists = 0;
    QuoteIndex few(text, lister_of(few_lists));
    for (int k = 197; k <= 200; ++k) EXPECT_FALSE(few.occurs_before(asked[k - 1].first, n));
    EXPECT_TRUE(few.occurs_before("遠い昔", n));
    EXPECT_EQ(few_lists, 0);

    int many_lists = 0;
    QuoteIndex many(text, lister_of(many_lists));
    const size_t full = many.budget_left();
    for (const auto& [t, at] : asked) EXPECT_FALSE(many.occurs_before(t, at)) << t;
    EXPECT_TRUE(many.occurs_before("遠い昔", n));
    EXPECT_FALSE(many.occurs_before("遠い昔", 8));  // straddles the offset
    EXPECT_EQ(many_lists, 1);
    // Near searches and a handful of plain scans; reading on until the
    // scans had cost the batch would be eight times the text.
    EXPECT_LT(full - many.budget_left(), size_t(n));
}
