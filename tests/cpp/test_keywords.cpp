#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/lexer/classify/keywords.hpp"
#include "pipeline/lexer/classify/normalise.hpp"

using namespace kogane;

namespace {
uint32_t pattern_of(std::string_view body) {
    auto m = body_pattern_search(body);
    return m ? m->pattern : 999;
}
}  // namespace

TEST(Keywords, ListShape) {
    std::set<std::string_view> seen;
    for (uint32_t p = 0; p < kBodyPatternCount; ++p) {
        EXPECT_TRUE(seen.insert(body_pattern(p).keyword).second) << p;
        EXPECT_LE(body_pattern(p).family, 44);
    }
    EXPECT_EQ(body_pattern(3).keyword, "ここから地から");
    EXPECT_EQ(body_pattern(45).keyword, "ここから地より");
    EXPECT_EQ(body_pattern(88).keyword, "（");
    EXPECT_EQ(body_pattern(108).keyword, "レ");
    EXPECT_EQ(body_pattern(128).keyword, "９");
}

TEST(Keywords, LongestPrefixWins) {
    EXPECT_EQ(pattern_of("ここから字下げ"), 0u);
    EXPECT_EQ(pattern_of("横組み終わり"), 19u);
    EXPECT_EQ(pattern_of("横組み"), 18u);
    EXPECT_EQ(pattern_of("ここから２字下げ"), 4u);
    auto m = body_pattern_search("ここから２字下げ");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->end, std::string_view("ここから").size());
    EXPECT_EQ(m->family, 29);
    EXPECT_EQ(body_pattern_search("改頁")->family, 0);
    EXPECT_EQ(body_pattern_search("改ページ")->family, 0);
    EXPECT_EQ(body_pattern_search("ここで")->family, 22);
    EXPECT_EQ(body_pattern_search("ここで字下げ終わり")->family, 14);
    EXPECT_EQ(pattern_of("一レ"), 89u);
    EXPECT_EQ(pattern_of("１０字下げ"), 120u);
    EXPECT_FALSE(body_pattern_search("「本」に傍点"));
    EXPECT_FALSE(body_pattern_search(""));
    EXPECT_FALSE(body_pattern_search("こ"));  // a keyword's prefix is no match
}

TEST(Keywords, WholeBodyFamilies) {
    const uint8_t whole[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 18, 19, 20, 21,
                             23, 24, 25, 26, 38, 39};
    std::set<uint8_t> w(std::begin(whole), std::end(whole));
    for (uint8_t f = 0; f < 43; ++f) EXPECT_EQ(family_requires_whole(f), w.count(f) == 1) << int(f);
}

TEST(Keywords, ConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::vector<uint32_t> got(4);
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i] = pattern_of("ここで罫囲み終わり"); });
    for (auto& t : threads) t.join();
    for (uint32_t g : got) EXPECT_EQ(g, 29u);
    prewarm_keywords();
    prewarm_keywords();
}

TEST(Normalise, ExactAndTemplates) {
    EXPECT_EQ(normalise_spelling("ここから表組"), "ここから表");
    EXPECT_EQ(normalise_spelling("地付きで"), "地付き");
    EXPECT_EQ(normalise_spelling("字下げ終り"), "ここで字下げ終わり");
    EXPECT_EQ(normalise_spelling("２回り大きな文字"), "２段階大きな文字");
    EXPECT_EQ(normalise_spelling("ここより３字下げ"), "ここから３字下げ");
    EXPECT_EQ(normalise_spelling("以下2字下げ"), "ここから2字下げ");
    EXPECT_EQ(normalise_spelling("ここから２　字下げ"), "ここから２字下げ");
    EXPECT_EQ(normalise_spelling("ここで２字下げ終わり"), "ここで字下げ終わり");
    EXPECT_EQ(normalise_spelling("ここで1段階小さな文字終わり"), "ここで小さな文字終わり");
    EXPECT_FALSE(normalise_spelling("ここで字下げ終わり"));
    EXPECT_FALSE(normalise_spelling("ここから２字下げ"));
    EXPECT_FALSE(normalise_spelling("「東京」に傍点"));
    EXPECT_FALSE(normalise_spelling(""));
}

TEST(Normalise, Suffixes) {
    EXPECT_EQ(normalise_spelling("「12」は横一列"), "「12」は縦中横");
    EXPECT_EQ(normalise_spelling("「東京」に黒丸傍点"), "「東京」に丸傍点");
    EXPECT_EQ(normalise_spelling("「x」の部分はイタリック体"), "「x」は斜体");
    EXPECT_EQ(normalise_spelling("「x」に枠囲い"), "「x」は罫囲み");
    EXPECT_EQ(normalise_spelling("「ママ」にママの注記"), "「ママ」に「ママ」の注記");
    EXPECT_EQ(normalise_spelling("「x」注記"), "「x」の注記");
    EXPECT_EQ(normalise_spelling("「x」と注記"), "「x」の注記");
    EXPECT_EQ(normalise_spelling("「x」ゴシック体"), "「x」はゴシック体");
    EXPECT_EQ(normalise_spelling("「x」の傍点"), "「x」に傍点");
    EXPECT_EQ(normalise_spelling("「x」傍点"), "「x」に傍点");
    EXPECT_FALSE(normalise_spelling("「x」の注記"));
    EXPECT_FALSE(normalise_spelling("「x」はゴシック体"));
}

TEST(Normalise, LegacyPhrases) {
    EXPECT_EQ(recognise_legacy_phrase("ここから最大２字下げ"), "ここから２字下げ");
    EXPECT_EQ(recognise_legacy_phrase("３字下げて、地より１字上げ"), "地から１字上げ");
    EXPECT_EQ(recognise_legacy_phrase("２字上で地付き"), "地から２字上げ");
    EXPECT_EQ(recognise_legacy_phrase("行末から３字上げ"), "地から３字上げ");
    EXPECT_EQ(recognise_legacy_phrase("「12」は半角字アキ"), "「12」は縦中横");
    EXPECT_FALSE(recognise_legacy_phrase("改ページ"));
    EXPECT_FALSE(recognise_legacy_phrase("ここから２字下げ"));
}
