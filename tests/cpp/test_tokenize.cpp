#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "collections/panic.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"

namespace kogane {
namespace {

// Compact rendering: T[0,3) for text, B/H/...: trigger kind number, N@k.
std::string show(const std::vector<Token>& tokens) {
    std::string s;
    for (const Token& t : tokens) {
        if (!s.empty()) s += ' ';
        switch (t.tag) {
            case TokenTag::Text: s += "T[" + std::to_string(t.start) + "," + std::to_string(t.end) + ")"; break;
            case TokenTag::Trigger:
                s += "G" + std::to_string(t.kind) + "[" + std::to_string(t.start) + "," + std::to_string(t.end) + ")";
                break;
            case TokenTag::Newline: s += "N@" + std::to_string(t.start); break;
        }
    }
    return s;
}

std::string tok(std::string_view text) { return show(tokenize(text)); }

TEST(Tokenize, BasicShapes) {
    EXPECT_EQ(tok(""), "");
    EXPECT_EQ(tok("abc"), "T[0,3)");
    EXPECT_EQ(tok("｜"), "G0[0,3)");
    EXPECT_EQ(tok("a\nb"), "T[0,1) N@1 T[2,3)");
    EXPECT_EQ(tok("\n\n"), "N@0 N@1");
    EXPECT_EQ(tok("ab\n"), "T[0,2) N@2");
    EXPECT_EQ(tok("［＃"), "G5[0,3) G7[3,6)");
    EXPECT_EQ(tok("｜漢字《かんじ》"), "G0[0,3) T[3,9) G1[9,12) T[12,21) G2[21,24)");
    // Look-alikes are text.
    EXPECT_EQ(tok("|[#『｛"), "T[0,9)");
}

TEST(Tokenize, EveryTriggerKind) {
    const std::string all = kTriggerPatterns;
    std::string expected;
    for (int k = 0; k < kTriggerCount; ++k) {
        if (k) expected += ' ';
        expected += "G" + std::to_string(k) + "[" + std::to_string(3 * k) + "," + std::to_string(3 * k + 3) + ")";
    }
    EXPECT_EQ(tok(all), expected);
}

TEST(Tokenize, TokensTileTheText) {
    std::mt19937 rng(7);
    const std::vector<std::string> pieces = {"｜", "《", "》", "［", "＃", "］", "「", "」", "※", "\n", "あ", "x", "\xE3\x80", "〔", "〕", "≪", "≫"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (auto i = static_cast<int>(rng() % 60); i > 0; --i) text += pieces[rng() % pieces.size()];
        const std::vector<Token> tokens = tokenize(text);
        uint32_t at = 0;
        for (size_t i = 0; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            ASSERT_EQ(t.start, at);
            ASSERT_LT(t.start, t.end);
            if (t.tag == TokenTag::Text) {
                // Text runs are maximal: never two in a row.
                ASSERT_TRUE(i == 0 || tokens[i - 1].tag != TokenTag::Text);
                ASSERT_EQ(std::string_view(text).substr(t.start, t.end - t.start).find('\n'), std::string_view::npos);
            }
            ASSERT_EQ(t.end - t.start, t.tag == TokenTag::Newline ? 1u : t.tag == TokenTag::Trigger ? 3u : t.end - t.start);
            at = t.end;
        }
        ASSERT_EQ(at, text.size());
    }
}

TEST(Tokenize, OffsetsAreInTheSanitizedText) {
    Diagnostics diagnostics;
    const SharedText text = sanitize(std::make_shared<const std::string>("\r\n」"), diagnostics);
    EXPECT_EQ(*text, "\n」");
    EXPECT_EQ(show(tokenize(*text)), "N@0 G12[1,4)");
}

TEST(Tokenize, SpanLimit) {
    EXPECT_NO_THROW(check_span_limit(0xFFFFFFFFull));
    try {
        check_span_limit(0x100000000ull);
        FAIL() << "expected an internal error";
    } catch (const InternalError& e) {
        EXPECT_STREQ(e.what(), "source too long for u32 span offsets (4294967296 bytes)");
    }
}

}  // namespace
}  // namespace kogane
