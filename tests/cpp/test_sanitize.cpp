#include <gtest/gtest.h>

#include <string>

#include "pipeline/lexer/sanitize.hpp"

namespace kogane {
namespace {

// The stage's product beside the diagnostics it appended.
struct Sanitized {
    SharedText source;
    SharedText text;
    Diagnostics diagnostics;
    bool shared() const { return text == source; }
};

Sanitized run(SharedText source) {
    Sanitized out;
    out.source = std::move(source);
    out.text = sanitize(out.source, out.diagnostics);
    return out;
}

Sanitized run(const std::string& text) { return run(std::make_shared<const std::string>(text)); }

std::string sanitized(const std::string& text) { return *run(text).text; }

TEST(Sanitize, CleanTextIsSharedNotCopied) {
    for (const std::string text : {"", "abc", "｜漢字《かんじ》", "ー－＿", "- = _ -=_-=_-=_", "\xEF\xBF\xBD\xEE\x80\x80\xEE\x80\x85"}) {
        auto source = std::make_shared<const std::string>(text);
        Sanitized out = run(source);
        EXPECT_EQ(out.text.get(), source.get()) << text;
        EXPECT_TRUE(out.diagnostics.empty());
    }
}

TEST(Sanitize, ControlsAreReportedPerRunAndKept) {
    // Reported, not rewritten: the text stays shared.
    const std::string text = std::string("x") + '\0' + "y\t\n\x1B\x1Fz" + std::string(70, 'a') + "\x7F\x01";
    auto source = std::make_shared<const std::string>(text);
    Sanitized out = run(source);
    EXPECT_EQ(out.text.get(), source.get());
    ASSERT_EQ(out.diagnostics.size(), 3u);
    EXPECT_EQ(out.diagnostics[0].tag, DiagTag::SourceContainsControl);
    EXPECT_EQ(out.diagnostics[0].span, (Span{1, 2}));
    EXPECT_EQ(out.diagnostics[0].codepoint, 0u);
    EXPECT_EQ(out.diagnostics[1].span, (Span{5, 7}));  // ESC and US: one run; tab and LF are not reported
    EXPECT_EQ(out.diagnostics[1].codepoint, 0x1Bu);
    EXPECT_EQ(out.diagnostics[2].span, (Span{79, 80}));  // DEL is no C0 control
    EXPECT_EQ(out.diagnostics[2].message(), "source contains control character '\\u{1}'; HTML shows it as U+FFFD");

    // Spans are in the sanitized text; CR is a line end, not a control.
    Sanitized crlf = run("a\r\n\x02\rb");
    EXPECT_EQ(*crlf.text, "a\n\x02\nb");
    ASSERT_EQ(crlf.diagnostics.size(), 1u);
    EXPECT_EQ(crlf.diagnostics[0].span, (Span{2, 3}));
}

TEST(Sanitize, ByteOrderMarks) {
    Sanitized two = run("\xEF\xBB\xBF\xEF\xBB\xBF" "abc");
    EXPECT_EQ(*two.text, "abc");
    EXPECT_FALSE(two.shared());
    EXPECT_EQ(sanitized("\xEF\xBB\xBF"), "");
    EXPECT_FALSE(run("\xEF\xBB\xBF").shared());
    EXPECT_EQ(sanitized("a\xEF\xBB\xBF"), "a\xEF\xBB\xBF");  // only leading marks go
    EXPECT_TRUE(run("a\xEF\xBB\xBF").shared());
}

TEST(Sanitize, LineTerminators) {
    EXPECT_EQ(sanitized("a\r\nb"), "a\nb");
    EXPECT_EQ(sanitized("a\rb"), "a\nb");
    EXPECT_EQ(sanitized("a\r\r\nb"), "a\n\nb");
    EXPECT_EQ(sanitized("\r"), "\n");
    EXPECT_EQ(sanitized("\r\n\r\n"), "\n\n");
    EXPECT_EQ(sanitized("\n\r"), "\n\n");
    // Archive files: CR LF on every line, long enough for the vector probe.
    std::string in, want;
    for (int i = 0; i < 50; ++i) {
        in += "第" + std::to_string(i) + "行　｜本文《ほんぶん》\r\n";
        want += "第" + std::to_string(i) + "行　｜本文《ほんぶん》\n";
    }
    EXPECT_EQ(sanitized(in), want);
    EXPECT_EQ(sanitized("\xEF\xBB\xBF" + in), want);
}

TEST(RuleLines, Detection) {
    EXPECT_TRUE(is_rule_line("----------"));
    EXPECT_TRUE(is_rule_line("=========="));
    EXPECT_TRUE(is_rule_line("____________________"));
    EXPECT_FALSE(is_rule_line("---------"));
    EXPECT_FALSE(is_rule_line("-----=-----"));
    EXPECT_TRUE(is_rule_line("　　----------　"));
    EXPECT_TRUE(is_rule_line(" \t----------\xC2\xA0"));
    EXPECT_FALSE(is_rule_line("x----------"));
    EXPECT_FALSE(is_rule_line("ーーーーーーーーーー"));  // katakana long vowel marks
    EXPECT_FALSE(has_rule_line("a\n---------\nb"));
    EXPECT_TRUE(has_rule_line("a\nb\n　----------"));
    EXPECT_TRUE(has_rule_line("==========\n"));
    EXPECT_FALSE(has_rule_line("a-b=c_d\n--x--------"));
}

TEST(RuleLines, Isolation) {
    EXPECT_EQ(isolate_rule_lines("text\n----------"), "text\n\n----------");
    EXPECT_EQ(isolate_rule_lines("text\n---------"), "text\n---------");
    EXPECT_EQ(isolate_rule_lines("text\n\n----------"), "text\n\n----------");
    EXPECT_EQ(isolate_rule_lines("text\n  \n----------"), "text\n  \n----------");
    EXPECT_EQ(isolate_rule_lines("text\n-----=----"), "text\n-----=----");
    EXPECT_EQ(isolate_rule_lines("text\n　　----------\n"), "text\n\n　　----------\n");
    EXPECT_EQ(isolate_rule_lines("----------\ntext"), "----------\ntext");
    EXPECT_EQ(isolate_rule_lines("a\n----------\n=========="), "a\n\n----------\n\n==========");
    // A rule after a blank line that follows a rule; a line of rule
    // characters broken by another; a first line that is empty.
    EXPECT_EQ(isolate_rule_lines("__________\n\n__________\nx"), "__________\n\n__________\nx");
    EXPECT_EQ(isolate_rule_lines("x\n---===---===\n----------"), "x\n---===---===\n\n----------");
    EXPECT_EQ(isolate_rule_lines("\n----------\n"), "\n----------\n");
    // Through the stage, together with CR LF.
    Sanitized out = run("title\r\n----------\r\nbody");
    EXPECT_EQ(*out.text, "title\n\n----------\nbody");
    EXPECT_FALSE(out.shared());
    // Several, the last at the end of the text: each line feed goes in
    // where the line ends were normalized, the text after it moved up.
    const std::string several = "a\r\n----------\r\n==========\r\nb\r\n__________";
    EXPECT_EQ(sanitized(several), "a\n\n----------\n\n==========\nb\n\n__________");
    EXPECT_EQ(sanitized(several), isolate_rule_lines(normalize_line_ends(several)));
    // A rule line that needs no inserted line feed leaves the text shared.
    Sanitized kept = run("\n----------\n");
    EXPECT_EQ(*kept.text, "\n----------\n");
    EXPECT_TRUE(kept.shared());
}

TEST(Sanitize, AccentFragments) {
    Sanitized out = run("〔e'〕");
    EXPECT_EQ(*out.text, "〔é〕");
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(out.diagnostics[0].tag, DiagTag::AccentDecompositionApplied);
    EXPECT_EQ(out.diagnostics[0].span, (Span{0, 8}));

    // No mark, or a mark with no table entry: unchanged, no diagnostic,
    // and the source buffer is shared rather than copied.
    for (const std::string text : {"〔abc〕", "〔x'〕"}) {
        Sanitized same = run(text);
        EXPECT_EQ(*same.text, text);
        EXPECT_TRUE(same.diagnostics.empty());
        EXPECT_TRUE(same.shared());
    }

    // Spans are in output coordinates, after earlier rewrites shrank the text.
    out = run("ab\r\n〔AE&〕〔x〕〔e'〕");
    EXPECT_EQ(*out.text, "ab\n〔Æ〕〔x〕〔é〕");
    ASSERT_EQ(out.diagnostics.size(), 2u);
    EXPECT_EQ(out.diagnostics[0].span, (Span{3, 11}));
    EXPECT_EQ(out.diagnostics[1].span, (Span{18, 26}));

    // A 〔 inside a fragment is content; brackets do not nest.
    EXPECT_EQ(sanitized("〔a〔e'〕o/〕"), "〔a〔é〕o/〕");
    // No closer: the rest is left alone.
    EXPECT_EQ(sanitized("〔e'〕〔e' and more"), "〔é〕〔e' and more");
    EXPECT_EQ(sanitized("〔e'"), "〔e'");
    // Fragments may span lines.
    EXPECT_EQ(sanitized("〔e'\r\na`〕"), "〔é\nà〕");
}

TEST(Sanitize, SentinelCodePoints) {
    Sanitized out = run("a\xEE\x80\x82" "b");
    EXPECT_EQ(*out.text, "a\xEF\xBF\xBD" "b");
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(out.diagnostics[0].tag, DiagTag::SourceContainsPua);
    EXPECT_EQ(out.diagnostics[0].codepoint, 0xE002u);
    EXPECT_EQ(out.diagnostics[0].span, (Span{1, 4}));
    EXPECT_EQ(out.diagnostics[0].message(), "source contains lexer PUA sentinel codepoint '\\u{e002}'");

    EXPECT_TRUE(run("\xEE\x80\x80\xEE\x80\x85").shared());  // U+E000, U+E005
    EXPECT_TRUE(run("\xEE\x80").shared());                  // cut short

    // Accent notes come first, then the sentinel warnings, each in text order.
    out = run("\xEE\x80\x84〔e'〕\xEE\x80\x81");
    ASSERT_EQ(out.diagnostics.size(), 3u);
    EXPECT_EQ(out.diagnostics[0].tag, DiagTag::AccentDecompositionApplied);
    EXPECT_EQ(out.diagnostics[0].span, (Span{3, 11}));
    EXPECT_EQ(out.diagnostics[1].codepoint, 0xE004u);
    EXPECT_EQ(out.diagnostics[1].span, (Span{0, 3}));
    EXPECT_EQ(out.diagnostics[2].codepoint, 0xE001u);
    EXPECT_EQ(out.diagnostics[2].span, (Span{11, 14}));
}

TEST(Sanitize, AppendsToTheDiagnosticsGiven) {
    Diagnostics diagnostics{Diagnostic::simple(DiagTag::UnresolvedGaiji, Span{0, 1})};
    const SharedText text = sanitize(std::make_shared<const std::string>("〔e'〕"), diagnostics);
    EXPECT_EQ(*text, "〔é〕");
    ASSERT_EQ(diagnostics.size(), 2u);
    EXPECT_EQ(diagnostics[0].tag, DiagTag::UnresolvedGaiji);
    EXPECT_EQ(diagnostics[1].tag, DiagTag::AccentDecompositionApplied);
}

TEST(Sanitize, AllStepsTogether) {
    const std::string src = "\xEF\xBB\xBFtitle\r\n==========\r〔o/〕\xEE\x80\x83\r\n";
    Sanitized out = run(src);
    EXPECT_EQ(*out.text, "title\n\n==========\n〔ø〕\xEF\xBF\xBD\n");
    ASSERT_EQ(out.diagnostics.size(), 2u);
    EXPECT_EQ(out.diagnostics[0].span, (Span{18, 26}));
    EXPECT_EQ(out.diagnostics[1].span, (Span{26, 29}));
}

}  // namespace
}  // namespace kogane
