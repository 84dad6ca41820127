#include <gtest/gtest.h>

#include <string>

#include "diagnostics_text/report.hpp"
#include "json/views.hpp"
#include "syntax/diagnostic.hpp"

using namespace kogane;

TEST(Diagnostics, CodesSeveritiesAndMessages) {
    Diagnostic pua = Diagnostic::source_contains_pua({0, 3}, 0xE003);
    EXPECT_STREQ(pua.code(), "kogane::lex::source_contains_pua");
    EXPECT_EQ(pua.severity(), Severity::Warning);
    EXPECT_EQ(pua.message(), "source contains lexer PUA sentinel codepoint '\\u{e003}'");

    Diagnostic stray = Diagnostic::unmatched_close(PairKind::Quote, {4, 7});
    EXPECT_EQ(stray.message(), "unmatched Kogane Quote close delimiter");
    EXPECT_EQ(stray.severity(), Severity::Error);
    EXPECT_EQ(Diagnostic::unclosed_bracket(PairKind::Bracket, {0, 3}).message(), "unclosed Kogane Bracket bracket");

    EXPECT_EQ(Diagnostic::simple(DiagTag::AccentDecompositionApplied, {}).severity(), Severity::Note);
    EXPECT_EQ(Diagnostic::mismatched_container_close({}, "indent", "bold").message(),
              "container opened as `indent` closed by a `bold` closer");
    EXPECT_EQ(Diagnostic::mismatched_bouten_container({}, "傍点", "傍線").message(),
              "傍点 range opened as `傍点` closed by a `傍線` closer");
    EXPECT_EQ(Diagnostic::break_in_single_line_container({}, "align-end").message(),
              "page/section break inside a single-line `align-end` container");
    Diagnostic lint = Diagnostic::non_canonical_directive({}, "ここから表");
    EXPECT_STREQ(lint.code(), "kogane::lint::non_canonical_directive");
    EXPECT_EQ(lint.message(), "non-canonical directive; the canonical form is `ここから表`");

    Diagnostic internal = Diagnostic::internal({}, InternalCheck::RegistryOutOfOrder);
    EXPECT_STREQ(internal.code(), "kogane::lex::registry_out_of_order");
    EXPECT_STREQ(internal.origin(), "internal");
    EXPECT_EQ(internal.message(), "internal kogane pipeline check failed: kogane::lex::registry_out_of_order");
    EXPECT_STREQ(stray.origin(), "source");

    // Severity is a function of the tag alone.
    const DiagTag warnings[] = {DiagTag::SourceContainsPua, DiagTag::UnresolvedGaiji, DiagTag::NonCanonicalDirective,
                                DiagTag::UnrecognisedContainerDirective, DiagTag::TcyTargetNotFound,
                                DiagTag::BoutenTargetAmbiguous, DiagTag::ForwardReferentNotStylable,
                                DiagTag::BreakInSingleLineContainer, DiagTag::KaeritenOutsideKanbun};
    for (DiagTag t : warnings) EXPECT_EQ(Diagnostic::simple(t, {}).severity(), Severity::Warning);
    const DiagTag errors[] = {DiagTag::UnclosedBracket, DiagTag::UnmatchedClose, DiagTag::MismatchedContainerClose,
                              DiagTag::EmptyRubyReading, DiagTag::NestedRuby, DiagTag::BracketedKaeritenNoPair,
                              DiagTag::MismatchedBoutenContainer, DiagTag::Internal};
    for (DiagTag t : errors) EXPECT_EQ(Diagnostic::simple(t, {}).severity(), Severity::Error);
}

TEST(Diagnostics, SortByStartEndThenCode) {
    Diagnostics list = {
        Diagnostic::non_canonical_directive({5, 9}, "x"),
        Diagnostic::simple(DiagTag::UnrecognisedContainerDirective, {5, 9}),
        Diagnostic::unmatched_close(PairKind::Ruby, {0, 3}),
        Diagnostic::simple(DiagTag::NestedRuby, {5, 8}),
        Diagnostic::simple(DiagTag::EmptyRubyReading, {5, 9}),
    };
    sort_diagnostics(list);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0].tag, DiagTag::UnmatchedClose);
    EXPECT_EQ(list[1].tag, DiagTag::NestedRuby);
    EXPECT_EQ(list[2].tag, DiagTag::EmptyRubyReading);            // kogane::lex::empty…
    EXPECT_EQ(list[3].tag, DiagTag::UnrecognisedContainerDirective);  // kogane::lex::unrec…
    EXPECT_EQ(list[4].tag, DiagTag::NonCanonicalDirective);       // "lint" after "lex"
}

TEST(DiagnosticsText, HeaderAndQuotedSlice) {
    Diagnostics list = {Diagnostic::unmatched_close(PairKind::Bracket, {0, 3})};
    EXPECT_EQ(render_diagnostics_text(list, "］"),
              "error [kogane::lex::unmatched_close] @ 0..3: unmatched Kogane Bracket close delimiter\n"
              "  > \"］\"\n");
    EXPECT_EQ(render_diagnostics_text({}, "abc"), "");
}

TEST(DiagnosticsText, SliceEscaping) {
    std::string src = std::string("a\"b\\c\td\r\n") + '\0' + "e\xE3\x82\x99" "f\xEE\x80\x81" "日本";
    Diagnostics list = {Diagnostic::simple(DiagTag::UnresolvedGaiji, {0, static_cast<uint32_t>(src.size())})};
    std::string out = render_diagnostics_text(list, src);
    EXPECT_NE(out.find("  > \"a\\\"b\\\\c\\td\\r\\n\\0e\\u{3099}f\\u{e001}日本\"\n"), std::string::npos) << out;
}

TEST(DiagnosticsText, InvalidSlicesOnlyGetTheHeader) {
    std::string src = "日本";
    Diagnostics list = {
        Diagnostic::simple(DiagTag::NestedRuby, {1, 3}),    // not on a character boundary
        Diagnostic::simple(DiagTag::NestedRuby, {3, 99}),   // past the end
        Diagnostic::simple(DiagTag::NestedRuby, {6, 6}),    // empty: shown as ""
    };
    std::string out = render_diagnostics_text(list, src);
    EXPECT_EQ(out,
              "error [kogane::lex::nested_ruby] @ 1..3: ruby reading contains a nested ruby\n"
              "error [kogane::lex::nested_ruby] @ 3..99: ruby reading contains a nested ruby\n"
              "error [kogane::lex::nested_ruby] @ 6..6: ruby reading contains a nested ruby\n"
              "  > \"\"\n");
}

TEST(DiagnosticsJson, EntryShape) {
    Diagnostics list = {Diagnostic::unmatched_close(PairKind::Bracket, {0, 3}),
                        Diagnostic::source_contains_pua({3, 6}, 0xE001),
                        Diagnostic::internal({6, 6}, InternalCheck::UnregisteredSentinel)};
    EXPECT_EQ(diagnostics_json(list),
              "{\"schemaVersion\":3,\"data\":["
              "{\"kind\":\"unmatched_close\",\"severity\":\"error\",\"source\":\"source\",\"span\":{\"start\":0,\"end\":3}},"
              "{\"kind\":\"source_contains_pua\",\"severity\":\"warning\",\"source\":\"source\",\"span\":{\"start\":3,\"end\":6},\"codepoint\":57345},"
              "{\"kind\":\"unregistered_sentinel\",\"severity\":\"error\",\"source\":\"internal\",\"span\":{\"start\":6,\"end\":6}}"
              "]}");
}

TEST(Diagnostics, PastTheLimitOneCodeIsCountedNotStored) {
    Diagnostics list(2);
    for (uint32_t i = 0; i < 5; ++i) list.push_back(Diagnostic::unclosed_bracket(PairKind::Bracket, {3 * i, 3 * i + 3}));
    list.push_back(Diagnostic::simple(DiagTag::NestedRuby, {0, 1}));  // other codes keep their own room
    list.push_back(Diagnostic::internal({0, 0}, InternalCheck::UnregisteredSentinel));
    list.push_back(Diagnostic::internal({0, 0}, InternalCheck::RegistryOutOfOrder));
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list.dropped(), 3u);
    const Diagnostic& summary = list[2];
    EXPECT_EQ(summary.tag, DiagTag::DiagnosticsDropped);
    EXPECT_EQ(summary.span, (Span{6, 9}));  // the first one not stored
    EXPECT_STREQ(summary.code(), "kogane::lex::diagnostics_dropped");
    EXPECT_STREQ(summary.dropped_code(), "kogane::lex::unclosed_bracket");
    EXPECT_EQ(summary.severity(), Severity::Warning);
    EXPECT_EQ(summary.message(),
              "3 further `kogane::lex::unclosed_bracket` diagnostics counted but not listed "
              "(at most 1000000 of one code are kept per document)");

    // Appending another list folds its summary into ours and its stored
    // diagnostics go through our limit.
    Diagnostics other(2);
    for (uint32_t i = 0; i < 4; ++i) other.push_back(Diagnostic::unclosed_bracket(PairKind::Ruby, {90 + i, 91 + i}));
    list.insert(list.end(), other.begin(), other.end());
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(list.dropped(), 3u + 4u);

    sort_diagnostics(list);
    list.push_back(Diagnostic::unclosed_bracket(PairKind::Bracket, {100, 103}));  // summary found after sorting
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(list.dropped(), 8u);
    const std::string json = diagnostics_json(list);
    EXPECT_NE(json.find("{\"kind\":\"diagnostics_dropped\",\"severity\":\"warning\",\"source\":\"source\","
                        "\"span\":{\"start\":6,\"end\":9},\"of\":\"unclosed_bracket\",\"count\":8}"),
              std::string::npos)
        << json;
    const std::string text = render_diagnostics_text(list, std::string(200, 'a'));
    EXPECT_NE(text.find("warning [kogane::lex::diagnostics_dropped] @ 6..9: 8 further `kogane::lex::unclosed_bracket`"),
              std::string::npos)
        << text;
}

TEST(Diagnostics, OwnedCanonicalTextSurvivesCopiesAndMoves) {
    Diagnostics list;
    list.push_back(Diagnostic::non_canonical_directive({0, 3}, "ここから２字下げ"));
    list.push_back(Diagnostic::mismatched_container_close({3, 6}, "indent", "bold"));
    Diagnostics copy = list;
    Diagnostics moved = std::move(list);
    sort_diagnostics(copy);
    EXPECT_EQ(copy[0].canonical(), "ここから２字下げ");
    EXPECT_EQ(moved[0].canonical(), "ここから２字下げ");
    EXPECT_STREQ(copy[1].opened(), "indent");
    EXPECT_EQ(copy[1].canonical(), "");
    Diagnostic plain = Diagnostic::simple(DiagTag::NonCanonicalDirective, {});  // no text at all
    EXPECT_EQ(plain.message(), "non-canonical directive; the canonical form is ``");
    plain = copy[0];
    EXPECT_EQ(plain.canonical(), "ここから２字下げ");
}
