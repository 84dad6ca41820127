#include <gtest/gtest.h>

#include <string>

#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/ruby_base.hpp"
#include "test_classifier_support.hpp"

namespace kogane {
namespace {

using classifier_test::classify_text;
using classifier_test::show;
using classifier_test::show_diagnostics;

const std::string kG1 = "※［＃「木＋吶のつくり」、第3水準1-85-54］";
const std::string kG2 = "※［＃「あ」、U+3042］";
const std::string kHeldG2 = "gaiji[" + kG2 + "](あ)";

TEST(ClassifierRuby, Bases) {
    EXPECT_EQ(show("漢字《かんじ》"), "ruby[漢字《かんじ》](漢字/かんじ)");
    EXPECT_EQ(show("ひらがな漢字《よみ》"), "t:ひらがな ruby[漢字《よみ》](漢字/よみ)");
    EXPECT_EQ(show("人々《ひとびと》"), "ruby[人々《ひとびと》](人々/ひとびと)");
    EXPECT_EQ(show("カタ・カナ《x》"), "t:カタ・ ruby[カナ《x》](カナ/x)");
    EXPECT_EQ(show("C++《x》"), "t:C ruby[++《x》](++/x)");
    EXPECT_EQ(show("漢字αβ《x》"), "t:漢字 ruby[αβ《x》](αβ/x)");
    EXPECT_EQ(show("｜東京タワー《とうきょうたわー》"), "ruby[｜東京タワー《とうきょうたわー》](東京タワー/とうきょうたわー)");
    EXPECT_EQ(show("a｜b｜漢字、かな《x》"), "t:a｜b ruby[｜漢字、かな《x》](漢字、かな/x)");
    // Neither base reaches before the run, which a node ends.
    EXPECT_EQ(show("漢［＃a］字《x》"), "t:漢 dir[［＃a］] ruby[字《x》](字/x)");
    EXPECT_EQ(show("｜漢［＃a］字《x》"), "t:｜漢 dir[［＃a］] ruby[字《x》](字/x)");
}

TEST(ClassifierRuby, FailuresStayPlainText) {
    auto c = classify_text("｜漢字《》");
    EXPECT_EQ(show(*c), "t:｜漢字《》");
    EXPECT_EQ(show_diagnostics(*c), "kogane::lex::empty_ruby_reading[｜漢字《》]");
    c = classify_text("漢字《》");
    EXPECT_EQ(show(*c), "t:漢字《》");
    EXPECT_EQ(show_diagnostics(*c), "");
    EXPECT_EQ(show("、《よみ》"), "t:、《よみ》");
    EXPECT_EQ(show("｜《よみ》"), "t:｜《よみ》");
    EXPECT_EQ(show("a\n《よみ》"), "t:a lf t:《よみ》");
}

TEST(ClassifierRuby, NestedOpener) {
    auto c = classify_text("漢字《よ《み》》");
    EXPECT_EQ(show(*c), "ruby[漢字《よ《み》》](漢字/よ《み》)");
    ASSERT_EQ(c->diagnostics.size(), 1u);
    EXPECT_EQ(c->diagnostics[0].tag, DiagTag::NestedRuby);
    EXPECT_EQ(c->diagnostics[0].span, (Span{12, 15}));
    // The outer group has no base; re-read, the inner one has.
    c = classify_text("、《よ《み》》");
    EXPECT_EQ(show(*c), "t:、《 ruby[よ《み》](よ/み) t:》");
    EXPECT_EQ(show_diagnostics(*c), "kogane::lex::nested_ruby[《]");
}

TEST(ClassifierRuby, ReadingContentKeepsGaijiAndRemarks) {
    auto c = classify_text("漢《か" + kG2 + "》");
    EXPECT_EQ(show(*c), "ruby[漢《か" + kG2 + "》](漢/か{g:あ})");
    const Segment& reading = c->store.segments(c->pool.node(c->events[0]).ruby.reading)[0];
    ASSERT_EQ(reading.tag, SegmentTag::Run);
    ASSERT_EQ(reading.b, 2u);
    const GaijiItem& g = c->store.items(reading.a, 2)[1].gaiji;
    EXPECT_EQ(g.code.kind, CodeKind::Unicode);
    EXPECT_EQ(g.code.value, 0x3042u);
    EXPECT_TRUE(g.separated);
    EXPECT_FALSE(g.no_mark);

    EXPECT_EQ(show("漢字《かん［＃注］じ》"), "ruby[漢字《かん［＃注］じ》](漢字/かん{d:［＃注］}じ)");
    EXPECT_EQ(show("漢《※［＃注］》"), "ruby[漢《※［＃注］》](漢/※{d:［＃注］})");
    c = classify_text("漢《※［＃「xyzzy」］》");
    EXPECT_EQ(show(*c), "ruby[漢《※［＃「xyzzy」］》](漢/{g:xyzzy})");
    EXPECT_EQ(show_diagnostics(*c), "kogane::lex::unresolved_gaiji[※［＃「xyzzy」］]");
}

TEST(ClassifierGaiji, References) {
    auto c = classify_text("a" + kG1 + "b");
    EXPECT_EQ(show(*c), "t:a gaiji[" + kG1 + "](木＋吶のつくり) t:b");
    EXPECT_EQ(c->pool.node(c->events[1]).gaiji.code.value, CodeRef::jis(1, 85, 54).value);
    EXPECT_EQ(show_diagnostics(*c), "");
    c = classify_text("※［＃「xyzzy」］");
    EXPECT_EQ(show(*c), "gaiji[※［＃「xyzzy」］](xyzzy)");
    EXPECT_EQ(show_diagnostics(*c), "kogane::lex::unresolved_gaiji[※［＃「xyzzy」］]");

    EXPECT_EQ(show(kG2 + "※x\n"), kHeldG2 + " t:※x lf");
    EXPECT_EQ(show("※※x"), "t:※※x");
    EXPECT_EQ(show("※［abc］"), "t:※［abc］");
    EXPECT_EQ(show("※［＃覚え書き］"), "t:※ dir[［＃覚え書き］]");
    EXPECT_EQ(show("※《よみ》"), "t:※《よみ》");
}

TEST(ClassifierGaiji, RubyOverConsecutiveReferences) {
    // Kanji right before or after the references share their base; kana
    // do not.
    EXPECT_EQ(show("前" + kG1 + kG2 + "《よみ》後"),
              "ruby[前" + kG1 + kG2 + "《よみ》](前{g:木＋吶のつくり}{g:あ}/よみ) t:後");
    EXPECT_EQ(show("まえ" + kG1 + kG2 + "《よみ》後"),
              "t:まえ ruby[" + kG1 + kG2 + "《よみ》]({g:木＋吶のつくり}{g:あ}/よみ) t:後");
    EXPECT_EQ(show(kG2 + "漢《x》"), "ruby[" + kG2 + "漢《x》]({g:あ}漢/x)");
    EXPECT_EQ(show(kG2 + "かな《x》"), kHeldG2 + " ruby[かな《x》](かな/x)");
    EXPECT_EQ(show("前" + kG2 + "後"), "t:前 " + kHeldG2 + " t:後");
    EXPECT_EQ(show(kG2 + "《》"), kHeldG2 + " t:《》");
    EXPECT_EQ(show(kG2 + kG2 + "［＃注］"), kHeldG2 + " " + kHeldG2 + " dir[［＃注］]");
    // A ｜ right before the references marks them as the base: it belongs
    // to the ruby, and is plain text again when no reading follows.
    EXPECT_EQ(show("前｜" + kG1 + kG2 + "《よみ》後"),
              "t:前 ruby[｜" + kG1 + kG2 + "《よみ》]({g:木＋吶のつくり}{g:あ}/よみ) t:後");
    EXPECT_EQ(show("前｜" + kG2 + "後"), "t:前｜ " + kHeldG2 + " t:後");
    EXPECT_EQ(show("｜" + kG2 + "《》"), "t:｜ " + kHeldG2 + " t:《》");
}

TEST(ClassifierStream, RemarksAngleQuotesQuotesAndLines) {
    auto c = classify_text("前［＃覚え書き］後");
    EXPECT_EQ(show(*c), "t:前 dir[［＃覚え書き］] t:後");
    EXPECT_EQ(c->pool.node(c->events[1]).directive.kind, RemarkKind::Other);
    EXPECT_EQ(show("［abc］"), "t:［abc］");
    EXPECT_EQ(show("［a［＃b］c］"), "t:［a dir[［＃b］] t:c］");
    // An unclosed annotation is text, and what it held is still classified.
    EXPECT_EQ(show("［＃あ漢字《かんじ》\nx"), "t:［＃あ ruby[漢字《かんじ》](漢字/かんじ) lf t:x");

    EXPECT_EQ(show("a≪引用\n" + kG2 + "≫"), "t:a angle[≪引用\n" + kG2 + "≫](引用\n{g:あ})");
    EXPECT_EQ(show("≪≫"), "t:≪≫");

    EXPECT_EQ(show("ab「cd」ef"), "t:ab t:「cd」ef");
    EXPECT_EQ(show("｜ab「cd《x》"), "t:｜ab t:「 ruby[cd《x》](cd/x)");
    // A nested 「 is no boundary; 「 inside 〔…〕 is plain text.
    EXPECT_EQ(show("「a「b」x｜y「z《w》"), "t:「a「b」x ruby[｜y「z《w》](y「z/w)");
    EXPECT_EQ(show("〔a「b」〕｜c「d《e》"), "t:〔a「b」〕｜c t:「 ruby[d《e》](d/e)");

    EXPECT_EQ(show(""), "");
    EXPECT_EQ(show("a\r\n\nb"), "t:a lf lf t:b");
    EXPECT_EQ(show("a＃b」c〕"), "t:a＃b」c〕");
}

TEST(ClassifierStream, ReReadingAnOpenerThatNeverCloses) {
    EXPECT_EQ(show("《a\n漢字《かんじ》"), "t:《a lf ruby[漢字《かんじ》](漢字/かんじ)");
    EXPECT_EQ(show("［a《b］漢字《かんじ》［＃x］"), "t:［a《b］ ruby[漢字《かんじ》](漢字/かんじ) dir[［＃x］]");
    // A re-read opener that never closes is text; later groups still follow
    // their own bracket pairs, whatever was unclosed before them.
    EXPECT_EQ(show("［＃「］"), "dir[［＃「］]");
    EXPECT_EQ(show("［a《b］［＃「］"), "t:［a《b］ dir[［＃「］]");
}

TEST(ClassifierRubyBase, ClassTable) {
    EXPECT_EQ(ruby_base_class(0x20B9F), RubyClass::Kanji);
    EXPECT_EQ(ruby_base_class(0x3097), RubyClass::None);
    EXPECT_EQ(ruby_base_class(0x309D), RubyClass::Hiragana);
    EXPECT_EQ(ruby_base_class(0x30FB), RubyClass::None);
    EXPECT_EQ(ruby_base_class(0x30FC), RubyClass::Katakana);
    EXPECT_EQ(ruby_base_class(0xD7), RubyClass::None);
    EXPECT_EQ(ruby_base_class(0xFF5A), RubyClass::Latin);
    EXPECT_EQ(ruby_base_class(0x3C9), RubyClass::Greek);
    EXPECT_EQ(implicit_ruby_base_start(std::string_view("\xE6\xBC", 2), 0, 2), 2u);
    EXPECT_EQ(implicit_ruby_base_start("漢字", 3, 6), 3u);
}

TEST(ClassifierRubyBase, WordsOutsideOneClass) {
    EXPECT_EQ(ruby_base_class(U'８'), RubyClass::Digit);
    EXPECT_EQ(ruby_base_class(U'Ж'), RubyClass::Cyrillic);
    EXPECT_EQ(ruby_base_class(U'ό'), RubyClass::Greek);
    EXPECT_EQ(ruby_base_class(U'ヶ'), RubyClass::None);
    // ヶ joins kanji on both sides, and after a kanji at the end; not alone.
    const std::string_view rokka = "あ六ヶ敷";
    EXPECT_EQ(implicit_ruby_base_start(rokka, 0, uint32_t(rokka.size())), 3u);
    EXPECT_EQ(implicit_ruby_base_start("一ヶ", 0, 6), 0u);
    EXPECT_EQ(implicit_ruby_base_start("あヶ", 0, 6), 6u);
    EXPECT_EQ(implicit_ruby_base_start("ヶ月", 0, 6), 3u);
    // Latin joiners stay inside the word, never at its start.
    EXPECT_EQ(implicit_ruby_base_start("-butter-cup", 0, 11), 1u);
    EXPECT_EQ(implicit_ruby_base_start("etc.", 0, 4), 0u);
    // An accent fragment is one base from 〔 to 〕; an empty one is none.
    const std::string_view fragment = "a〔Gürtel〕";
    EXPECT_EQ(implicit_ruby_base_start(fragment, 0, uint32_t(fragment.size())), 1u);
    EXPECT_EQ(implicit_ruby_base_start("〔〕", 0, 6), 6u);
    // Kanji words next to a gaiji.
    EXPECT_EQ(kanji_run_start("これは粗", 0, 12), 9u);
    EXPECT_TRUE(is_kanji_word("六ヶ敷", 0, 9));
    EXPECT_FALSE(is_kanji_word("ヶ月", 0, 6));
    EXPECT_FALSE(is_kanji_word("粗い", 0, 6));
}

// Three-byte characters are read back without the general decoder; what it
// refuses (a surrogate, an overlong form, a character cut by the floor) the
// quick read refuses too.
TEST(ClassifierRubyBase, PreviousCharacter) {
    uint32_t cp = 0;
    EXPECT_EQ(previous_char("a字", 0, 4, &cp), 1u);
    EXPECT_EQ(cp, 0x5B57u);
    EXPECT_EQ(previous_char("字é", 0, 5, &cp), 3u);
    EXPECT_EQ(cp, 0xE9u);
    EXPECT_EQ(previous_char("\U0002000B", 0, 4, &cp), 0u);
    EXPECT_EQ(cp, 0x2000Bu);
    cp = 7;
    for (std::string_view bad : {std::string_view("\xED\xA0\x80"), std::string_view("\xE0\x80\xAF"),
                                 std::string_view("\x80\x80\x80")})
        EXPECT_EQ(previous_char(bad, 0, 3, &cp), 3u);
    EXPECT_EQ(previous_char("a字", 2, 4, &cp), 4u);  // the floor cuts the character
    EXPECT_EQ(previous_char("字", 0, 2, &cp), 2u);
    EXPECT_EQ(cp, 7u);
}

// ---------------------------------------------------------------------------
// Results the stub never produces, injected through the dispatcher override.

struct OverrideGuard {
    explicit OverrideGuard(AnnotationDispatch f) { classifier_test::test_dispatch() = std::move(f); }
    ~OverrideGuard() { classifier_test::test_dispatch() = {}; }
};

std::string body_of(const AnnotationInput& in) {
    return std::string(slice(in.text, Span{in.events[in.opener + 1].end, in.events[in.closer].start}));
}

Span annotation_span(const AnnotationInput& in) { return Span{in.events[in.opener].start, in.events[in.closer].end}; }

TEST(ClassifierDispatch, ContainerOpensAndCloses) {
    OverrideGuard guard([](const AnnotationInput& in) -> std::optional<AnnotationResult> {
        AnnotationResult r;
        r.span = annotation_span(in);
        r.spec = ContainerSpec::make_indent(IndentSpec{.amount = 2});
        r.outcome = body_of(in) == "open" ? AnnotationOutcome::ContainerOpen : AnnotationOutcome::ContainerClose;
        return r;
    });
    auto c = classify_text("x［＃open］y\n［＃close］");
    EXPECT_EQ(show(*c), "t:x open[［＃open］] t:y lf close[［＃close］]");
    EXPECT_EQ(c->pool.spec(c->events[1]).indent.amount, 2);
    EXPECT_EQ(c->pool.spec(c->events[4]).kind(), ContainerKind::Indent);
    // Inside a reading only remarks and gaiji become items.
    EXPECT_EQ(show("漢《か［＃open］》"), "ruby[漢《か［＃open］》](漢/か［＃open］)");
}

// Answers every annotation with a Format node over 東京 spanning from
// `node_from` (the ［ when unset), placing a decoration on `placed` when it
// is non-empty; records the run start it was given.
struct ForwardFake {
    std::optional<uint32_t> node_from;
    Span placed;
    std::optional<uint32_t> seen_run_start;

    AnnotationDispatch fn() {
        return [this](const AnnotationInput& in) -> std::optional<AnnotationResult> {
            seen_run_start = in.run_start;
            FormatNode f;
            f.target = in.store.content_from_segment(in.store.text_segment("東京"));
            AnnotationResult r;
            r.span = annotation_span(in);
            if (node_from) r.span.start = *node_from;
            r.node = Node::make_format(f);
            if (!placed.empty()) r.placed = PlacedFormat{Node::make_format(f), placed};
            return r;
        };
    }
};

TEST(ClassifierDispatch, PlacedDecorationSplitsTheRun) {
    ForwardFake fake;
    fake.placed = Span{0, 6};
    OverrideGuard guard(fake.fn());
    EXPECT_EQ(show("東京は大きい［＃x］"), "fmt[東京](東京) t:は大きい fmt[［＃x］](東京)");
    EXPECT_EQ(fake.seen_run_start, 0u);
    EXPECT_EQ(show("東京［＃x］"), "fmt[東京](東京) fmt[［＃x］](東京)");
    // A placement outside the current run is ignored.
    EXPECT_EQ(show("東京\nは［＃x］"), "t:東京 lf t:は fmt[［＃x］](東京)");
    EXPECT_EQ(fake.seen_run_start, 7u);
    EXPECT_EQ(show("a\n［＃x］"), "t:a lf fmt[［＃x］](東京)");
    EXPECT_FALSE(fake.seen_run_start.has_value());
}

TEST(ClassifierDispatch, NodeSpanMayCoverItsTargetButNotPassTheRunStart) {
    ForwardFake fake;
    fake.node_from = 3;
    OverrideGuard guard(fake.fn());
    EXPECT_EQ(show("あ東京［＃x］"), "t:あ fmt[東京［＃x］](東京)");
    fake.node_from = 0;
    EXPECT_EQ(show("ab\ncd［＃x］"), "t:ab lf fmt[cd［＃x］](東京)");
    EXPECT_EQ(show("ab［＃y］［＃x］"), "fmt[ab［＃y］](東京) fmt[［＃x］](東京)");
}

TEST(ClassifierDispatch, KaeritenAndDiagnosticsAreCollected) {
    OverrideGuard guard([](const AnnotationInput& in) -> std::optional<AnnotationResult> {
        if (body_of(in) == "none") return std::nullopt;
        AnnotationResult r;
        r.span = annotation_span(in);
        r.node = Node::make_kaeriten(in.store.intern(body_of(in)));
        r.diagnostic = Diagnostic::non_canonical_directive(r.span);
        r.canonical = "レ";
        r.kaeriten = KaeritenMark{r.span, KaeritenSeries::UpDown, 2, true, false};
        return r;
    });
    auto c = classify_text("一［＃中］二［＃none］");
    EXPECT_EQ(show(*c), "t:一 node11[［＃中］] t:二［＃none］");
    ASSERT_EQ(c->kaeriten.size(), 1u);
    EXPECT_EQ(c->kaeriten[0].span, (Span{3, 15}));
    EXPECT_EQ(c->kaeriten[0].ordinal, 2);
    ASSERT_EQ(c->diagnostics.size(), 1u);
    EXPECT_EQ(c->diagnostics.canonical(c->diagnostics[0]), "レ");
}

}  // namespace
}  // namespace kogane
