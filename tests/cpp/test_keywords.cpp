#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/lexer/classify/keywords.hpp"
#include "pipeline/lexer/classify/normalise.hpp"

using namespace kogane;

namespace {
// The keyword an annotation body starts with, or nothing.
std::optional<Keyword> keyword_of(std::string_view body) {
    auto m = body_pattern_search(body);
    return m ? std::optional<Keyword>(m->key) : std::nullopt;
}
}  // namespace

TEST(Keywords, RowsAreNamedAndUnique) {
    std::set<std::string_view> seen;
    uint32_t index = 0;
    for (const KeywordRow& row : keyword_rows()) {
        EXPECT_EQ(static_cast<uint32_t>(row.key), index++);
        EXPECT_TRUE(seen.insert(row.text).second) << row.text;
        EXPECT_FALSE(row.text.empty());
    }
    EXPECT_EQ(index, kKeywordCount);
    EXPECT_EQ(keyword_text(Keyword::HereRaisedFromEnd), "ここから地から");
    EXPECT_EQ(keyword_text(Keyword::HereRaisedFromEndAlt), "ここから地より");
    EXPECT_EQ(keyword_text(Keyword::ParenOpen), "（");
    EXPECT_EQ(keyword_text(Keyword::Re), "レ");
    EXPECT_EQ(keyword_text(Keyword::WideDigit9), "９");
    EXPECT_STREQ(keyword_row(Keyword::Goma).html_class, "goma");
    EXPECT_EQ(keyword_row(Keyword::Ichi).html_class, nullptr);
    ASSERT_NE(find_keyword("分数"), nullptr);
    EXPECT_EQ(find_keyword("分数")->match, KeywordMatch::None);
    EXPECT_EQ(find_keyword("分数 "), nullptr);
}

TEST(Keywords, LongestPrefixWins) {
    EXPECT_EQ(keyword_of("ここから字下げ"), Keyword::HereIndent);
    EXPECT_EQ(keyword_of("横組み終わり"), Keyword::HorizontalEnd);
    EXPECT_EQ(keyword_of("横組み"), Keyword::Horizontal);
    EXPECT_EQ(keyword_of("ここから２字下げ"), Keyword::Here);
    auto m = body_pattern_search("ここから２字下げ");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->end, std::string_view("ここから").size());
    EXPECT_EQ(m->family, KeywordFamily::BlockOpen);
    EXPECT_EQ(m->match, KeywordMatch::Prefix);
    EXPECT_EQ(body_pattern_search("改頁")->family, KeywordFamily::PageBreak);
    EXPECT_EQ(body_pattern_search("改ページ")->family, KeywordFamily::PageBreak);
    EXPECT_EQ(body_pattern_search("ここで")->family, KeywordFamily::HereClose);
    EXPECT_EQ(body_pattern_search("ここで字下げ終わり")->family, KeywordFamily::IndentBlockClose);
    EXPECT_EQ(keyword_of("一レ"), Keyword::IchiRe);
    EXPECT_EQ(keyword_of("１０字下げ"), Keyword::WideDigit1);
    EXPECT_FALSE(body_pattern_search("「本」に傍点"));
    EXPECT_FALSE(body_pattern_search(""));
    EXPECT_FALSE(body_pattern_search("こ"));   // a keyword's prefix is no match
    EXPECT_FALSE(body_pattern_search("分数"));  // a style named only after 「…」は
}

TEST(Keywords, WholeBodyKeywords) {
    const KeywordFamily whole[] = {
        KeywordFamily::PageBreak,          KeywordFamily::BodyEnd,           KeywordFamily::ForcedBreak,
        KeywordFamily::SectionOddPage,     KeywordFamily::SectionColumn,     KeywordFamily::SectionSpread,
        KeywordFamily::LineAlignEnd,       KeywordFamily::LineCentre,        KeywordFamily::LineGothic,
        KeywordFamily::FramedOpen,         KeywordFamily::FramedClose,       KeywordFamily::IndentBlockOpen,
        KeywordFamily::CentreBlockOpen,    KeywordFamily::AlignEndBlockOpen, KeywordFamily::AlignEndBlockClose,
        KeywordFamily::LineWidthClose,     KeywordFamily::TableOpen,         KeywordFamily::TableClose,
        KeywordFamily::HorizontalOpen,     KeywordFamily::HorizontalClose,   KeywordFamily::FontSizeClose,
        KeywordFamily::WarichuRemarkOpen,  KeywordFamily::WarichuRemarkClose, KeywordFamily::KaeritenSingle,
        KeywordFamily::KaeritenCompound,   KeywordFamily::WarichuOpen,       KeywordFamily::WarichuClose,
        KeywordFamily::InlineStyle,        KeywordFamily::IndentOne,
    };
    const std::set<KeywordFamily> w(std::begin(whole), std::end(whole));
    for (const KeywordRow& row : keyword_rows()) {
        if (row.match == KeywordMatch::None) continue;
        EXPECT_EQ(row.match == KeywordMatch::Whole, w.count(row.family) == 1) << row.text;
    }
}

TEST(Keywords, ConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::vector<std::optional<Keyword>> got(4);
    for (size_t i = 0; i < 4; ++i) threads.emplace_back([&, i] { got[i] = keyword_of("ここで罫囲み終わり"); });
    for (auto& t : threads) t.join();
    for (auto g : got) EXPECT_EQ(g, Keyword::HereFramedEnd);
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
