// Lexer spans seen through the document: every rewrite of the sanitize
// stage must shift later offsets back to the caller's bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics_text/report.hpp"
#include "document/document.hpp"
#include "json/views.hpp"

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

TEST(LexerMap, ByteOrderMarksShiftEverything) {
    EXPECT_EQ(diags(*parse("\xEF\xBB\xBF］")), V{"unmatched_close@3..6"});
    EXPECT_EQ(diags(*parse("\xEF\xBB\xBF\xEF\xBB\xBF］")), V{"unmatched_close@6..9"});
    DocPtr doc = parse("\xEF\xBB\xBF《a》");
    EXPECT_EQ(pairs_json(*doc),
              R"({"schemaVersion":3,"data":[{"kind":"ruby","open":{"start":3,"end":6},"close":{"start":7,"end":10}}]})");
}

TEST(LexerMap, LineEnds) {
    // CR LF on every line: each earlier line end counts two bytes.
    DocPtr doc = parse("「\r\n\r\nx\r\n」\r\n］");
    EXPECT_EQ(diags(*doc), V{"unmatched_close@15..18"});
    ASSERT_EQ(doc->pair_list().size(), 1u);
    EXPECT_EQ(doc->pair_list()[0].open, (Span{0, 3}));
    EXPECT_EQ(doc->pair_list()[0].close, (Span{10, 13}));
    // A lone CR keeps the length.
    EXPECT_EQ(diags(*parse("a\rb］")), V{"unmatched_close@3..6"});
    // A ［ closed by a CR LF line end.
    EXPECT_EQ(diags(*parse("x\r\n［a\r\nb")), V{"unclosed_bracket@3..6"});
}

TEST(LexerMap, InsertedRuleLineFeed) {
    DocPtr doc = parse("text\n----------\n］");
    EXPECT_EQ(*doc->snapshot().sanitized, "text\n\n----------\n］");
    EXPECT_EQ(diags(*doc), V{"unmatched_close@16..19"});
    EXPECT_EQ(diags(*parse("text\r\n----------\r\n］")), V{"unmatched_close@18..21"});
}

TEST(LexerMap, RewrittenAccentFragments) {
    DocPtr doc = parse("〔AE&〕］");
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@0..9", "unmatched_close@9..12"}));
    ASSERT_EQ(doc->pair_list().size(), 1u);
    EXPECT_EQ(doc->pair_list()[0].close, (Span{6, 9}));
    // Two fragments and a CR LF between them.
    doc = parse("〔e'〕\r\n〔oe&〕「");
    EXPECT_EQ(diags(*doc),
              (V{"accent_decomposition_applied@0..8", "accent_decomposition_applied@10..19", "unclosed_bracket@19..22"}));
}

TEST(LexerMap, RewrittenAccentFragmentSpanningLines) {
    DocPtr doc = parse("〔AE&\r\nx〕］");
    EXPECT_EQ(*doc->snapshot().sanitized, "〔Æ\nx〕］");
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@0..12", "unmatched_close@12..15"}));
    doc = parse("〔e'\nb〕］");
    EXPECT_EQ(diags(*doc), (V{"accent_decomposition_applied@0..10", "unmatched_close@10..13"}));
}

TEST(LexerMap, ReplacedSentinels) {
    DocPtr doc = parse("\r\n\xEE\x80\x81］");
    EXPECT_EQ(diags(*doc), (V{"source_contains_pua@2..5", "unmatched_close@5..8"}));
    EXPECT_EQ(diagnostics_json(*doc),
              R"({"schemaVersion":3,"data":[)"
              R"({"kind":"source_contains_pua","severity":"warning","source":"source","span":{"start":2,"end":5},"codepoint":57345},)"
              R"({"kind":"unmatched_close","severity":"error","source":"source","span":{"start":5,"end":8}}]})");
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
    EXPECT_EQ(doc->snapshot().sanitized.get(), doc->shared_source().get());
    EXPECT_EQ(diags(*doc), V{"unmatched_close@24..27"});
}

}  // namespace
}  // namespace kogane
