#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "../../fuzz/invariants.hpp"

namespace kogane {
namespace {

// The stage's product beside every diagnostic so far (sanitizing first).
struct Paired {
    std::vector<PairEvent> events;
    std::vector<PairLink> links;
    Diagnostics diagnostics;
};

Paired pair_text(const std::string& text) {
    Paired out;
    const SharedText sanitized = sanitize(std::make_shared<const std::string>(text), out.diagnostics);
    PairedEvents p = pair(*sanitized, out.diagnostics);
    out.events = std::move(p.events);
    out.links = std::move(p.links);
    return out;
}

const char* kind_letter(PairKind k) {
    switch (k) {
        case PairKind::Bracket: return "B";
        case PairKind::Ruby: return "R";
        case PairKind::AngleQuote: return "A";
        case PairKind::Tortoise: return "T";
        case PairKind::Quote: return "Q";
    }
    return "?";
}

// Compact rendering of the events: Open(B) Text Close(B) Unclosed(Q) ...
std::string show(const std::vector<PairEvent>& events) {
    std::string s;
    for (const PairEvent& e : events) {
        if (!s.empty()) s += ' ';
        switch (e.tag) {
            case PairTag::Text: s += "Text"; break;
            case PairTag::Trigger: s += "Trigger" + std::to_string(e.kind); break;
            case PairTag::Open: s += std::string("Open(") + kind_letter(e.pair_kind()) + ")"; break;
            case PairTag::Close: s += std::string("Close(") + kind_letter(e.pair_kind()) + ")"; break;
            case PairTag::Unclosed: s += std::string("Unclosed(") + kind_letter(e.pair_kind()) + ")"; break;
            case PairTag::Unmatched: s += std::string("Unmatched(") + kind_letter(e.pair_kind()) + ")"; break;
            case PairTag::Newline: s += "Newline"; break;
        }
    }
    return s;
}

std::string events(const std::string& text) { return show(pair_text(text).events); }

TEST(Pair, RecoveryRules) {
    EXPECT_EQ(events("《a》"), "Open(R) Text Close(R)");
    EXPECT_EQ(events("［＃x》］"), "Open(B) Trigger7 Text Unmatched(R) Close(B)");
    EXPECT_EQ(events("［a「b］"), "Open(B) Text Open(Q) Text Unclosed(Q) Close(B)");
    // Openers still open at the end of the text give no events (their
    // diagnostics are below).
    EXPECT_EQ(events("「a［b」"), "Open(Q) Text Open(B) Text Unmatched(Q)");
    EXPECT_EQ(events("［a\nb］"), "Open(B) Text Unclosed(B) Newline Text Unmatched(B)");
    EXPECT_EQ(events("「［a\n"), "Open(Q) Open(B) Text Unclosed(B) Newline");
    EXPECT_EQ(events("［「a\n"), "Open(B) Open(Q) Text Newline");
    EXPECT_EQ(events("》"), "Unmatched(R)");
    EXPECT_EQ(events(""), "");
    EXPECT_EQ(events("｜※＃"), "Trigger0 Trigger8 Trigger7");
    // Stacked brackets at a line end all close, innermost first.
    EXPECT_EQ(events("［［\n"), "Open(B) Open(B) Unclosed(B) Unclosed(B) Newline");
    // Other pairs span lines.
    EXPECT_EQ(events("「a\nb」"), "Open(Q) Text Newline Text Close(Q)");
}

TEST(Pair, LinksAndDiagnostics) {
    Paired p = pair_text("《「〔x〕」》");
    ASSERT_EQ(p.links.size(), 3u);
    EXPECT_EQ(p.links[0].kind, PairKind::Tortoise);
    EXPECT_EQ(p.links[1].kind, PairKind::Quote);
    EXPECT_EQ(p.links[2].kind, PairKind::Ruby);
    EXPECT_EQ(p.links[2].open, (Span{0, 3}));
    EXPECT_EQ(p.links[2].close, (Span{16, 19}));
    EXPECT_TRUE(p.diagnostics.empty());

    p = pair_text("［a「b］");
    ASSERT_EQ(p.links.size(), 1u);
    EXPECT_EQ(p.links[0].open, (Span{0, 3}));
    EXPECT_EQ(p.links[0].close, (Span{8, 11}));
    ASSERT_EQ(p.diagnostics.size(), 1u);
    EXPECT_EQ(p.diagnostics[0].tag, DiagTag::UnclosedBracket);
    EXPECT_EQ(p.diagnostics[0].pair, PairKind::Quote);
    EXPECT_EQ(p.diagnostics[0].span, (Span{4, 7}));
    EXPECT_EQ(p.diagnostics[0].message(), "unclosed Kogane Quote bracket");

    p = pair_text("a」");
    ASSERT_EQ(p.diagnostics.size(), 1u);
    EXPECT_EQ(p.diagnostics[0].tag, DiagTag::UnmatchedClose);
    EXPECT_EQ(p.diagnostics[0].span, (Span{1, 4}));
    EXPECT_EQ(p.diagnostics[0].message(), "unmatched Kogane Quote close delimiter");
    EXPECT_TRUE(p.links.empty());

    // Sanitize diagnostics stay first.
    p = pair_text("〔e'〕》");
    ASSERT_EQ(p.diagnostics.size(), 2u);
    EXPECT_EQ(p.diagnostics[0].tag, DiagTag::AccentDecompositionApplied);
    EXPECT_EQ(p.diagnostics[1].tag, DiagTag::UnmatchedClose);
    EXPECT_EQ(p.links.size(), 1u);  // the tortoise pair
}

TEST(Pair, NewlineEventCarriesItsOffset) {
    Paired p = pair_text("［\n");
    ASSERT_EQ(p.events.size(), 3u);  // Open, Unclosed, Newline
    EXPECT_EQ(p.events[2].tag, PairTag::Newline);
    EXPECT_EQ(p.events[2].start, 3u);
}

TEST(Pair, OpenersLeftAtTheEndAreReportedInnermostFirst) {
    Diagnostics diagnostics;
    PairedEvents p = pair("「《a", diagnostics);
    EXPECT_EQ(show(p.events), "Open(Q) Open(R) Text");
    ASSERT_EQ(diagnostics.size(), 2u);
    EXPECT_EQ(diagnostics[0].span, (Span{3, 6}));
    EXPECT_EQ(diagnostics[1].span, (Span{0, 3}));
    EXPECT_TRUE(p.links.empty());
}

TEST(Pair, DeepNestingBeyondTheInPlaceStack) {
    std::string text;
    for (int i = 0; i < 50; ++i) text += i % 2 ? "「" : "《";
    text += "［";
    for (int i = 0; i < 20; ++i) text += "〔";
    text += "］";  // closes the ［, reporting the 20 〔 above it
    for (int i = 49; i >= 0; --i) text += i % 2 ? "」" : "》";
    Paired p = pair_text(text);
    EXPECT_EQ(p.links.size(), 51u);
    EXPECT_EQ(p.diagnostics.size(), 20u);
    // The 〔 entries are reported innermost first, before the bracket closes.
    EXPECT_EQ(p.events[71].tag, PairTag::Unclosed);
    EXPECT_EQ(p.events[71].start, 51u * 3 + 19 * 3);
    EXPECT_EQ(p.events[91].tag, PairTag::Close);
    EXPECT_EQ(p.events[91].pair_kind(), PairKind::Bracket);
    EXPECT_EQ(p.links.back().kind, PairKind::Ruby);
    EXPECT_EQ(p.links.back().open, (Span{0, 3}));
}

TEST(Pair, ManyOpenersThenManyStrayBrackets) {
    // 「 x N then ］ x N: every ］ is unmatched (no ［ is open) and every 「
    // is reported at the end, innermost first, without events.
    const int n = 100000;
    std::string text;
    for (int i = 0; i < n; ++i) text += "「";
    for (int i = 0; i < n; ++i) text += "］";
    Paired p = pair_text(text);
    ASSERT_EQ(p.events.size(), 2u * n);
    EXPECT_EQ(p.events[n].tag, PairTag::Unmatched);
    EXPECT_EQ(p.events[2 * n - 1].tag, PairTag::Unmatched);
    ASSERT_EQ(p.diagnostics.size(), 2u * n);
    EXPECT_EQ(p.diagnostics[n].tag, DiagTag::UnclosedBracket);
    EXPECT_EQ(p.diagnostics[n].span.start, uint32_t(3 * (n - 1)));
    EXPECT_EQ(p.diagnostics[2 * n - 1].span.start, 0u);
    EXPECT_TRUE(p.links.empty());
}

TEST(Pair, NothingButTriggers) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += kTriggerPatterns;
    Paired p = pair_text(text);
    // Per repetition ｜《》≪≫［］＃※〔〕「」: five pairs close in place.
    EXPECT_EQ(p.links.size(), 30u * 5);
    EXPECT_TRUE(p.diagnostics.empty());
    EXPECT_EQ(p.events.size(), 30u * 13);
}

std::string show_quotes(const std::string& text, const std::vector<PairLink>& links) {
    std::string out;
    for (const PairLink& l : links) out += "[" + text.substr(l.open.end, l.close.start - l.open.end) + "]";
    return out;
}

TEST(AnnotationQuotes, FollowedFromTheirOpenerAlone) {
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"漢字［＃「漢字」に傍点］", "[漢字]"},
        {"［＃「甲」の「乙」は「丙」］", "[甲]"},                      // only 」「 chains
        {"［＃「甲」「乙」「丙」に傍点］", "[甲][乙][丙]"},
        {"［＃「外「内」外」に傍点］［＃「《る》」］", "[外「内」外][《る》]"},
        {"［＃「行を\nまたぐ」に傍点］", "[行を\nまたぐ]"},             // a quotation may span lines
        {"［＃「甲］乙」に傍点］", ""},                                 // ］ gives the 「 up
        {"［＃「甲［乙］丙」に傍点］", "[甲［乙］丙]"},
        {"［＃「甲［乙\n丙」に傍点］", "[甲［乙\n丙]"},                 // the inner ［ ends at the line end
        {"［＃「甲《乙」丙》」に傍点］", "[甲《乙」丙》]"},               // a stray 」 inside 《》 is passed over
        {"［＃「甲〔乙］", ""},
        {"※［＃「木＋世」、第3水準1-85-56］［＃「」］", "[]"},
        {"［＃「閉じない", ""},
        {"［＃ここから２字下げ］「台詞」", ""},
    };
    for (const Case& c : cases) {
        const auto links = annotation_quote_links(c.text, 1 << 20);
        ASSERT_TRUE(links.has_value()) << c.text;
        EXPECT_EQ(show_quotes(c.text, *links), c.expected) << c.text;
        EXPECT_EQ(checks::check_annotation_quotes(c.text), "") << c.text;
    }
}

TEST(AnnotationQuotes, SameAsPairingTheWholeText) {
    static const std::vector<std::string> pieces = {"［＃「", "［＃「", "「", "」", "」「", "［", "］", "＃", "※", "《",
                                                    "》", "〔", "〕", "≪", "≫", "｜", "\n", "漢", "x", "\xE3\x80"};
    std::mt19937 rng(20261208);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (auto k = rng() % 24; k > 0; --k) text += pieces[rng() % pieces.size()];
        ASSERT_EQ(checks::check_annotation_quotes(text), "") << text;
    }
}

TEST(AnnotationQuotes, GivesUpPastItsReadingLimit) {
    // Quotations left open read to the end of the text each: past the
    // limit the caller pairs the text instead.
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "［＃「開いたまま";
    EXPECT_FALSE(annotation_quote_links(text, 2 * text.size()).has_value());
    EXPECT_TRUE(annotation_quote_links("［＃「甲」］", 64).has_value());
}

}  // namespace
}  // namespace kogane
