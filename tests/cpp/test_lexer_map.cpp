// Lexer spans seen through the document: every rewrite of the sanitize
// stage must shift later offsets back to the caller's bytes. The single
// rewrites are covered from Python (test_lexer.py); these are the mixes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics_text/report.hpp"
#include "document/document.hpp"

namespace kogane {
namespace {

DocPtr parse(const std::string& text) { return parse_document(std::make_shared<const std::string>(text)); }

// "code@start..end" for each diagnostic in source coordinates.
std::vector<std::string> diags(const KoganeDoc& doc) {
    std::vector<std::string> out;
    for (const Diagnostic& d : doc.diagnostics_in_source()) {
        const std::string code = d.code();
        out.push_back(code.substr(code.rfind(':') + 1) + "@" + std::to_string(d.span.start) + ".." +
                      std::to_string(d.span.end));
    }
    return out;
}

using V = std::vector<std::string>;

TEST(LexerMap, InsertedRuleLineFeed) {
    DocPtr doc = parse("text\n----------\n］");
    EXPECT_EQ(*doc->snapshot().sanitized, "text\n\n----------\n］");
    EXPECT_EQ(diags(*doc), V{"unmatched_close@16..19"});
    EXPECT_EQ(diags(*parse("text\r\n----------\r\n］")), V{"unmatched_close@18..21"});
}

TEST(LexerMap, RewrittenAccentFragmentSpanningLines) {
    DocPtr doc = parse("〔AE&\r\nx〕］");
    EXPECT_EQ(*doc->snapshot().sanitized, "〔Æ\nx〕］");
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@0..12", "unmatched_close@12..15"}));
    doc = parse("〔e'\nb〕］");
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@0..10", "unmatched_close@10..13"}));
}

TEST(LexerMap, EverythingAtOnce) {
    const std::string src = "\xEF\xBB\xBFtitle\r\n==========\r\n〔o/〕\xEE\x80\x83［x\r\n";
    DocPtr doc = parse(src);
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@22..30", "source_contains_pua@30..33",
                              "unclosed_bracket@33..36"}));
    EXPECT_EQ(render_diagnostics_text(doc->diagnostics_in_source(), doc->source()),
              "note [kogane::lex::accent_decomposition_applied] @ 22..30: accent digraph decomposed in sanitize stage\n"
              "  > \"〔o/〕\"\n"
              "warning [kogane::lex::source_contains_pua] @ 30..33: source contains lexer PUA sentinel codepoint "
              "'\\u{e003}'\n"
              "  > \"\\u{e003}\"\n"
              "error [kogane::lex::unclosed_bracket] @ 33..36: unclosed Kogane Bracket bracket\n"
              "  > \"［\"\n");
}

TEST(LexerMap, CleanSourceIsSharedAndUnmapped) {
    DocPtr doc = parse("｜漢字《かんじ》］");
    EXPECT_TRUE(doc->snapshot().sanitized_is_source);
    EXPECT_EQ(doc->snapshot().sanitized.get(), doc->snapshot().source.get());
    EXPECT_EQ(diags(*doc), V{"unmatched_close@24..27"});
}

}  // namespace
}  // namespace kogane
