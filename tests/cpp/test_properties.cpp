// Whatever the input: spans inside the source on character boundaries,
// well-formed JSON views, balanced HTML, valid UTF-8 output.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../fuzz/invariants.hpp"

using namespace kogane;

namespace {

const std::vector<std::string> kPieces = {
    "｜", "《", "》", "≪", "≫", "［", "］", "＃", "※", "〔", "〕", "「", "」",
    "\n", "\r\n", "\r", "\xEF\xBB\xBF", "　", " ", "漢", "字", "東京", "か", "な", "カナ", "、", "。",
    "a", "e'", "AE&", "o/", "\xEE\x80\x81", "\xEE\x80\x84", "\xEF\xBF\xBD", "<", "&", "\"", std::string(1, '\0'),
    "ここから", "ここで", "字下げ", "終わり", "２", "傍点", "太字", "改ページ", "に", "は", "第3水準1-85-54",
    "U+3042", "木＋吶のつくり", "----------", "𠮟",
    // truncated or look-alike bytes of the trigger encodings
    "\xEF\xBC", "\xE3\x80", "\xE2\x80", "|", "[", "#", "『",
};

std::string random_text(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> len(0, 40), pick(0, kPieces.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += kPieces[pick(rng)];
    return s;
}

}  // namespace

TEST(Properties, InvariantsHoldForGeneratedInputs) {
    std::mt19937 rng(20261207);
    for (int i = 0; i < 3000; ++i) {
        std::string raw = random_text(rng);
        // The parser only ever sees valid UTF-8; truncated pieces make some
        // inputs undecodable, which is the decoder's business.
        if (!is_valid_utf8(raw)) continue;
        DocPtr doc = parse_document(std::make_shared<const std::string>(raw));
        std::string err = checks::check_document(*doc);
        ASSERT_EQ(err, "") << "input: " << raw;
    }
}

TEST(Properties, CheckersCatchBrokenOutput) {
    EXPECT_EQ(checks::check_html_balanced("<p>a<br />\n<b>x</b></p>\n"), "");
    EXPECT_NE(checks::check_html_balanced("<p><b>x</p></b>"), "");
    EXPECT_NE(checks::check_html_balanced("<p>"), "");
    EXPECT_TRUE(checks::JsonValidator("{\"a\":[1,{\"b\":\"\\u00e9\"}],\"c\":true}").valid());
    EXPECT_FALSE(checks::JsonValidator("{\"a\":[1,]}").valid());
    EXPECT_FALSE(checks::JsonValidator("{\"a\":\"\x01\"}").valid());
    EXPECT_NE(checks::check_span("日本", Span{1, 3}, "x"), "");
    EXPECT_NE(checks::check_span("日本", Span{0, 7}, "x"), "");
    EXPECT_EQ(checks::check_span("日本", Span{3, 6}, "x"), "");
}
