#include <gtest/gtest.h>

#include <string>

#include "diagnostics_text/report.hpp"
#include "json/views.hpp"
#include "syntax/ast/node.hpp"
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
    EXPECT_EQ(Diagnostic::mismatched_container_close({}, ContainerKey::Indent, ContainerKey::Bold).message(),
              "container opened as `indent` closed by a `bold` closer");
    EXPECT_EQ(Diagnostic::mismatched_bouten_container({}, DiagName::BoutenDots, DiagName::BoutenLines).message(),
              "傍点 range opened as `傍点` closed by a `傍線` closer");
    EXPECT_EQ(Diagnostic::break_in_single_line_container({}, DiagName::AlignEnd).message(),
              "page/section break inside a single-line `align-end` container");
    Diagnostics lints;
    lints.push_back(Diagnostic::non_canonical_directive({}), "ここから表");
    EXPECT_STREQ(lints[0].code(), "kogane::lint::non_canonical_directive");
    EXPECT_EQ(lints.message(lints[0]), "non-canonical directive; the canonical form is `ここから表`");

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
        Diagnostic::non_canonical_directive({5, 9}),
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
    list.append(other);
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

TEST(Diagnostics, RecordIsSixteenPlainBytesNamingItsContainers) {
    static_assert(sizeof(Diagnostic) == 16);
    static_assert(std::is_trivially_copyable_v<Diagnostic>);
    const char* const expected[] = {
        "indent", "warichu", "framed", "align-end", "line-width", "bouten-range", "bold", "gothic", "italic",
        "heading", "columns", "table", "horizontal", "font-size", "small-script", "caption", "inline-style",
        "傍点", "傍線", "center", "line-gothic", "",
    };
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_STREQ(diag_name_text(static_cast<DiagName>(i)), expected[i]) << i;
    EXPECT_STREQ(diag_name_text(static_cast<DiagName>(200)), "");
    for (uint8_t k = 0; k < 17; ++k)
        EXPECT_STREQ(diag_name_text(container_name(static_cast<ContainerKey>(k))), kContainerDisplayNames[k]);
    EXPECT_EQ(container_name(static_cast<ContainerKey>(99)), DiagName::Indent);

    const Diagnostic mismatch =
        Diagnostic::mismatched_container_close({3, 6}, ContainerKey::InlineStyle, ContainerKey::Warichu);
    EXPECT_STREQ(mismatch.opened(), "inline-style");
    EXPECT_STREQ(mismatch.closed(), "warichu");
    const Diagnostic brk = Diagnostic::break_in_single_line_container({}, DiagName::LineGothic);
    EXPECT_STREQ(brk.opened(), "line-gothic");
    EXPECT_STREQ(brk.closed(), "");
    // Other tags read their payload as something else, never as names.
    const Diagnostic pua = Diagnostic::source_contains_pua({}, 0x0101);
    EXPECT_STREQ(pua.opened(), "");
    EXPECT_STREQ(pua.closed(), "");
}

TEST(Diagnostics, CanonicalTextsLiveInTheListAndFollowItsEntries) {
    Diagnostics list(2);
    list.push_back(Diagnostic::non_canonical_directive({9, 12}), "ここから２字下げ");
    list.push_back(Diagnostic::mismatched_container_close({3, 6}, ContainerKey::Indent, ContainerKey::Bold),
                   "ignored for other tags");
    list.push_back(Diagnostic::non_canonical_directive({0, 3}), "ここから表");
    list.push_back(Diagnostic::non_canonical_directive({20, 23}), "dropped, so never kept");
    ASSERT_EQ(list.size(), 4u);  // the third lint is a summary
    EXPECT_EQ(list.canonical(list[1]), "");

    Diagnostics copy = list;
    Diagnostics moved = std::move(list);
    sort_diagnostics(copy);
    ASSERT_EQ(copy[0].span, (Span{0, 3}));
    EXPECT_EQ(copy.canonical(copy[0]), "ここから表");
    EXPECT_EQ(copy.canonical(copy[2]), "ここから２字下げ");
    EXPECT_EQ(moved.canonical(moved[0]), "ここから２字下げ");
    EXPECT_EQ(copy.message(copy[3]),
              "1 further `kogane::lint::non_canonical_directive` diagnostics counted but not listed "
              "(at most 1000000 of one code are kept per document)");

    // Appended to another list the texts come along, re-indexed there.
    Diagnostics other;
    other.push_back(Diagnostic::non_canonical_directive({40, 43}), "レ");
    other.append(copy);
    ASSERT_EQ(other.size(), 5u);
    EXPECT_EQ(other.canonical(other[1]), "ここから表");
    EXPECT_EQ(other.canonical(other[3]), "ここから２字下げ");
    other.append(other);
    EXPECT_EQ(other.canonical(other[8]), "ここから２字下げ");
    const std::string report = render_diagnostics_text(copy, std::string(30, 'a'));
    EXPECT_EQ(report.substr(0, report.find('\n')),
              "warning [kogane::lint::non_canonical_directive] @ 0..3: non-canonical directive; the canonical "
              "form is `ここから表`");

    // A record pushed without its text, or read against a list that did not
    // store it, quotes nothing.
    Diagnostics bare;
    bare.push_back(copy[0]);
    EXPECT_EQ(bare.message(bare[0]), "non-canonical directive; the canonical form is ``");
    Diagnostic stray = Diagnostic::non_canonical_directive({});
    stray.text = 7;
    EXPECT_EQ(copy.canonical(stray), "");
    EXPECT_EQ(copy.canonical(Diagnostic::simple(DiagTag::NonCanonicalDirective, {})), "");
}
