// The annotation vocabulary, driven directly with lexed groups.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/lexer/classify/directive_rules.hpp"
#include "pipeline/lexer/classify/forward.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"

using namespace kogane;

namespace {

// Lexes `before` + `annotation`, and classifies the last ［…］ group with
// the text before it as the active run.
struct Classified {
    std::optional<AnnotationResult> result;
    NodeStore store;
    std::string text;

    std::string_view str(StringId id) const { return store.resolve(id); }
    std::string content(ContentRef ref) const {
        std::string out;
        for (const Segment& s : store.segments(ref)) {
            if (s.tag == SegmentTag::Text) out += store.resolve(s.a);
            else
                for (const ContentItem& it : store.items(s.a, s.b))
                    if (it.tag == ContentTag::Text) out += store.resolve(it.text);
        }
        return out;
    }
};

Classified classify(const std::string& before, const std::string& annotation) {
    Classified c;
    c.text = before + annotation;
    Diagnostics diagnostics;
    const SharedText sanitized = sanitize(std::make_shared<const std::string>(c.text), diagnostics);
    PairedEvents p = pair(*sanitized, diagnostics);
    std::vector<uint32_t> partners(p.events.size(), kNoPartner);
    std::vector<uint32_t> stack;
    uint32_t opener = 0, closer = 0;
    for (uint32_t i = 0; i < p.events.size(); ++i) {
        const PairEvent& e = p.events[i];
        if (e.tag == PairTag::Open) stack.push_back(i);
        if (e.tag == PairTag::Close && !stack.empty()) {
            uint32_t o = stack.back();
            stack.pop_back();
            partners[o] = i;
            partners[i] = o;
            if (e.pair_kind() == PairKind::Bracket) {
                opener = o;
                closer = i;
            }
        }
    }
    AnnotationInput in{p.events, partners, opener, closer, *sanitized, c.store, nullptr,
                       before.empty() ? std::nullopt : std::optional<uint32_t>(0), {}, {}};
    c.result = classify_directive(in);
    return c;
}

Classified classify(const std::string& annotation) { return classify("", annotation); }

ContainerSpec open_spec(const Classified& c) {
    EXPECT_TRUE(c.result);
    EXPECT_EQ(c.result->outcome, AnnotationOutcome::ContainerOpen);
    return c.result->spec;
}

ContainerSpec close_spec(const Classified& c) {
    EXPECT_TRUE(c.result);
    EXPECT_EQ(c.result->outcome, AnnotationOutcome::ContainerClose);
    return c.result->spec;
}

Node node_of(const Classified& c) {
    EXPECT_TRUE(c.result);
    EXPECT_EQ(c.result->outcome, AnnotationOutcome::Node);
    return c.result->node;
}

// Remark kind, and the lint's canonical text or the diagnostic code.
std::pair<int, std::string> remark(const Classified& c) {
    Node n = node_of(c);
    if (n.tag != NodeTag::Directive) return {-1, ""};
    std::string diag;
    if (c.result->diagnostic) diag = c.result->diagnostic->tag == DiagTag::NonCanonicalDirective
                                         ? c.result->canonical
                                         : c.result->diagnostic->code();
    return {static_cast<int>(n.directive.kind), diag};
}

}  // namespace

TEST(ParseCount, DigitsAndLimits) {
    EXPECT_EQ(parse_count("２字")->value, 2);
    EXPECT_EQ(parse_count("1２3x")->value, 123);
    EXPECT_EQ(parse_count("1２3x")->rest, "x");
    EXPECT_EQ(parse_count("255")->value, 255);
    EXPECT_FALSE(parse_count("256"));
    EXPECT_FALSE(parse_count("99999999999999999999"));
    EXPECT_FALSE(parse_count("二字"));
    EXPECT_FALSE(parse_count(""));
}

TEST(Directive, IndentContainers) {
    ContainerSpec two = open_spec(classify("［＃ここから２字下げ］"));
    EXPECT_EQ(two.kind(), ContainerKind::Indent);
    EXPECT_EQ(two.indent.amount, 2);
    EXPECT_EQ(open_spec(classify("［＃ここから字下げ］")).indent.amount, 1);
    EXPECT_EQ(close_spec(classify("［＃ここで字下げ終わり］")).kind(), ContainerKind::Indent);
    EXPECT_EQ(remark(classify("［＃ここから２５６字下げ］")),
              (std::pair<int, std::string>{1, "kogane::lex::unrecognised_container_directive"}));

    ContainerSpec wrap = open_spec(classify("［＃ここから改行天付き、折り返して３字下げ］"));
    EXPECT_EQ(wrap.kind(), ContainerKind::IndentWrap);
    EXPECT_EQ(wrap.indent.wrap, 3);
    ContainerSpec compound = open_spec(classify("［＃ここから１字下げ、折り返して２字下げ、ゴシック体、10行20字組み］"));
    EXPECT_EQ(compound.kind(), ContainerKind::IndentWrap);
    EXPECT_EQ(compound.indent.amount, 1);
    EXPECT_EQ(compound.indent.wrap, 2);
    EXPECT_TRUE(compound.indent.gothic);
    EXPECT_FALSE(compound.indent.framed);
    EXPECT_EQ(compound.indent.grid, LineGrid::Kumi);
    EXPECT_EQ(compound.indent.kumi_lines, 10);
    EXPECT_EQ(compound.indent.kumi_width, 20);
    ContainerSpec width = open_spec(classify("［＃ここから３字下げ、25字詰め、小さな活字］"));
    EXPECT_EQ(width.indent.grid, LineGrid::Width);
    EXPECT_EQ(width.indent.width, 25);
    EXPECT_EQ(width.indent.font_steps, -1);
    // a repeated modifier rejects the whole body
    EXPECT_EQ(remark(classify("［＃ここから１字下げ、罫囲み、罫囲み］")).first, 1);
    EXPECT_EQ(close_spec(classify("［＃ここで字下げ、20字組み終わり］")).indent.kumi_width, 20);
    EXPECT_EQ(close_spec(classify("［＃ここで字下げ、10行20字組み終わり］")).indent.kumi_width, 20);
    ContainerSpec centred = open_spec(classify("［＃ここからページの左右中央］"));
    EXPECT_TRUE(centred.indent.centre);
    EXPECT_EQ(centred.indent.amount, 0);
}

TEST(Directive, OtherContainers) {
    ContainerSpec small = open_spec(classify("［＃ここから２段階小さな文字］"));
    EXPECT_EQ(small.kind(), ContainerKind::FontSize);
    EXPECT_EQ(small.font_size.steps, -2);
    EXPECT_EQ(close_spec(classify("［＃ここで小さな文字終わり］")).font_size.steps, -1);
    EXPECT_EQ(close_spec(classify("［＃大きな文字終わり］")).font_size.steps, 1);
    EXPECT_EQ(open_spec(classify("［＃ここから地から３字上げ］")).align_end.raise, 3);
    ContainerSpec width = open_spec(classify("［＃ここから２０字詰め］"));
    EXPECT_EQ(width.kind(), ContainerKind::LineWidth);
    EXPECT_EQ(width.line_width.width, 20);
    ContainerSpec columns = open_spec(classify("［＃ここから２段組み］"));
    EXPECT_EQ(columns.kind(), ContainerKind::Columns);
    EXPECT_EQ(columns.columns.count, 2);
    EXPECT_EQ(close_spec(classify("［＃ここで段組み終わり］")).kind(), ContainerKind::Columns);
    EXPECT_EQ(open_spec(classify("［＃罫囲み］")).kind(), ContainerKind::Framed);
    EXPECT_EQ(close_spec(classify("［＃ここで罫囲み終わり］")).kind(), ContainerKind::Framed);
    EXPECT_EQ(open_spec(classify("［＃ここから割り注］")).kind(), ContainerKind::Warichu);
    EXPECT_EQ(open_spec(classify("［＃横組み］")).kind(), ContainerKind::Horizontal);
    EXPECT_EQ(close_spec(classify("［＃行左小書き終わり］")).script.side, MarkSide::Left);
    ContainerSpec bold = open_spec(classify("［＃ここから太字］"));
    EXPECT_EQ(bold.kind(), ContainerKind::Bold);
    EXPECT_TRUE(bold.range.block);
    EXPECT_FALSE(bold.is_inline());
    EXPECT_FALSE(close_spec(classify("［＃斜体終わり］")).range.block);
    ContainerSpec left = open_spec(classify("［＃左に傍点］"));
    EXPECT_EQ(left.kind(), ContainerKind::BoutenRange);
    EXPECT_EQ(left.bouten.side, MarkSide::Left);
    EXPECT_EQ(left.bouten.mark, BoutenKind::Goma);
    EXPECT_EQ(close_spec(classify("［＃左に傍点終わり］")).bouten.side, MarkSide::Left);
    EXPECT_EQ(open_spec(classify("［＃白丸傍点］")).bouten.mark, BoutenKind::ShiroMaru);
    EXPECT_TRUE(open_spec(classify("［＃キャプション］")).is_inline());
    EXPECT_TRUE(close_spec(classify("［＃ここでキャプション終わり］")).range.block);
    EXPECT_EQ(open_spec(classify("［＃上付き小文字］")).inline_style.style, StyleKind::Superscript);
}

TEST(Directive, Headings) {
    ContainerSpec same_line = open_spec(classify("［＃同行中見出し］"));
    EXPECT_EQ(same_line.kind(), ContainerKind::Heading);
    EXPECT_EQ(same_line.heading, (HeadingSpec{false, HeadingLevel::Medium, HeadingStyle::SameLine, false}));
    EXPECT_EQ(close_spec(classify("［＃同行中見出し終わり］")).heading, same_line.heading);
    ContainerSpec block = open_spec(classify("［＃ここから窓大見出し］"));
    EXPECT_EQ(block.heading, (HeadingSpec{true, HeadingLevel::Large, HeadingStyle::Window, false}));
    EXPECT_EQ(close_spec(classify("［＃ここで小見出し終わり］")).heading.level, HeadingLevel::Small);
}

TEST(Directive, LeavesAndBreaks) {
    EXPECT_EQ(node_of(classify("［＃改ページ］")).tag, NodeTag::PageBreak);
    EXPECT_EQ(node_of(classify("［＃改頁］")).tag, NodeTag::PageBreak);
    EXPECT_EQ(node_of(classify("［＃　改ページ　］")).tag, NodeTag::PageBreak);
    EXPECT_EQ(remark(classify("［＃改ページです］")).first, 1);
    EXPECT_EQ(node_of(classify("［＃改見開き］")).section.kind, SectionBreak::Spread);
    EXPECT_EQ(node_of(classify("［＃本文終わり］")).tag, NodeTag::BodyEnd);
    EXPECT_EQ(node_of(classify("［＃改行］")).tag, NodeTag::ForcedBreak);

    Node ground = node_of(classify("［＃地付き］"));
    EXPECT_EQ(ground.tag, NodeTag::LeafAlign);
    EXPECT_EQ(ground.leaf, LeafAlignNode::aligned_end(0));
    EXPECT_EQ(remark(classify("［＃地付きで］")), (std::pair<int, std::string>{1, "地付き"}));
    Node raised = node_of(classify("［＃地から２字上げ］"));
    EXPECT_EQ(raised.leaf, LeafAlignNode::aligned_end(2));
    Node both = node_of(classify("［＃２字下げ、地より３字上げ］"));
    EXPECT_EQ(both.leaf.layout, SingleLine::IndentRaised);
    EXPECT_EQ(both.leaf.indent, 2);
    EXPECT_EQ(both.leaf.raise, 3);
    EXPECT_EQ(remark(classify("［＃２字下げ、地より０字上げ］")).first, 1);
    Node indent = node_of(classify("［＃天から３字下げ］"));
    EXPECT_EQ(indent.leaf, LeafAlignNode::indented(3));
    EXPECT_EQ(node_of(classify("［＃字下げ］")).leaf, LeafAlignNode::indented(1));
    EXPECT_EQ(node_of(classify("［＃ページの左右中央］")).leaf, LeafAlignNode::centred(true));
    EXPECT_EQ(node_of(classify("［＃中央揃え］")).leaf, LeafAlignNode::centred(false));
    EXPECT_EQ(node_of(classify("［＃この行はゴシック体］")).leaf, LeafAlignNode::gothic());
    Node size = node_of(classify("［＃中文字、太字］"));
    EXPECT_EQ(size.leaf, LeafAlignNode::sized(LineSize::Medium, true));
    EXPECT_EQ(node_of(classify("［＃特大文字］")).leaf, LeafAlignNode::sized(LineSize::ExtraLarge, false));
}

TEST(Directive, KaeritenIllustrationsAndRemarks) {
    Classified ichi = classify("［＃一レ］");
    EXPECT_EQ(node_of(ichi).tag, NodeTag::Kaeriten);
    EXPECT_EQ(ichi.str(node_of(ichi).kaeriten.mark), "一レ");
    ASSERT_TRUE(ichi.result->kaeriten);
    EXPECT_EQ(ichi.result->kaeriten->series, KaeritenSeries::Numbers);
    EXPECT_EQ(ichi.result->kaeriten->ordinal, 1);
    Classified ge = classify("［＃下］");
    EXPECT_EQ(ge.result->kaeriten->series, KaeritenSeries::UpDown);
    EXPECT_EQ(ge.result->kaeriten->ordinal, 3);
    EXPECT_FALSE(classify("［＃上二］").result->kaeriten->recognised);
    EXPECT_EQ(node_of(classify("［＃（ト）］")).tag, NodeTag::Kaeriten);
    EXPECT_EQ(remark(classify("［＃一レです］")).first, 1);

    Classified il = classify("［＃挿絵（fig01.png、横320×縦200）入る］");
    Node n = node_of(il);
    ASSERT_EQ(n.tag, NodeTag::Illustration);
    EXPECT_EQ(il.str(n.illustration.path), "fig01.png");
    EXPECT_EQ(il.str(n.illustration.size), "横320×縦200");
    Classified alt = classify("［＃猫の絵（cat.png）入る］");
    ASSERT_EQ(node_of(alt).tag, NodeTag::Illustration);
    EXPECT_EQ(alt.str(node_of(alt).illustration.alt), "猫の絵");

    EXPECT_EQ(remark(classify("［＃］")).first, 6);
    EXPECT_EQ(remark(classify("［＃　］")).first, 6);
    EXPECT_EQ(remark(classify("［＃「あ」はママ］")).first, 2);
    EXPECT_EQ(remark(classify("［＃底本では「か」］")).first, 3);
    EXPECT_EQ(remark(classify("［＃割り注］")).first, 4);
    EXPECT_EQ(remark(classify("［＃入力者注(3)］")).first, 7);
    EXPECT_EQ(remark(classify("［＃左に「よみ」のルビ付き終わり］")).first, 11);
    EXPECT_EQ(remark(classify("［＃ここから表組］")), (std::pair<int, std::string>{1, "ここから表"}));
    EXPECT_EQ(remark(classify("［＃ここから最大２字下げ］")).first, 0);
}

TEST(Directive, BareGaijiDescriptions) {
    Node g = node_of(classify("［＃火＋亢、第4水準2-79-62］"));
    ASSERT_EQ(g.tag, NodeTag::Gaiji);
    EXPECT_TRUE(g.gaiji.no_mark);
    EXPECT_EQ(node_of(classify("［＃二字下げ］")).tag, NodeTag::Directive);
}

TEST(Forward, BoutenPlacement) {
    Classified adjacent = classify("東京", "［＃「東京」に傍点］");
    Node n = node_of(adjacent);
    ASSERT_EQ(n.tag, NodeTag::Format);
    EXPECT_EQ(n.format.suppressed, FormatPlacement::InPlace);
    EXPECT_EQ(adjacent.result->span.start, 0u);
    EXPECT_FALSE(adjacent.result->diagnostic);
    EXPECT_EQ(adjacent.content(n.format.target), "東京");

    Classified in_run = classify("東京は大きい", "［＃「東京」に傍点］");
    EXPECT_EQ(node_of(in_run).format.suppressed, FormatPlacement::RenderedElsewhere);
    ASSERT_TRUE(in_run.result->placed);
    EXPECT_EQ(in_run.result->placed->span.start, 0u);
    EXPECT_EQ(in_run.result->placed->span.end, 6u);

    Classified twice = classify("東京、東京", "［＃「東京」に傍点］");
    EXPECT_EQ(node_of(twice).format.suppressed, FormatPlacement::InPlace);
    ASSERT_TRUE(twice.result->diagnostic);
    EXPECT_EQ(twice.result->diagnostic->tag, DiagTag::BoutenTargetAmbiguous);

    Classified missing = classify("［＃「東京」に傍点］");
    EXPECT_EQ(remark(missing), (std::pair<int, std::string>{1, "kogane::lex::forward_target_not_found"}));

    Classified two = classify("AとB", "［＃「A」「B」に傍点］");
    EXPECT_EQ(node_of(two).format.suppressed, FormatPlacement::RenderedElsewhere);
    ASSERT_TRUE(two.result->diagnostic);
    EXPECT_EQ(two.result->diagnostic->tag, DiagTag::ForwardReferentNotStylable);

    Classified left = classify("東京", "［＃「東京」の左に傍線］");
    EXPECT_EQ(node_of(left).format.style, FormatStyle::bouten(StyleKind::BoutenLeft, BoutenKind::Bosen));
}

TEST(Forward, OtherForms) {
    Classified tcy = classify("［＃「12」は縦中横］");
    EXPECT_EQ(remark(tcy), (std::pair<int, std::string>{1, "kogane::lex::tcy_target_not_found"}));
    EXPECT_EQ(node_of(classify("12", "［＃「12」は縦中横］")).format.style.kind(), StyleKind::CombineUpright);

    Classified ruby = classify("あ", "［＃「あ」の左に「い」のルビ］");
    Node r = node_of(ruby);
    ASSERT_EQ(r.tag, NodeTag::Ruby);
    EXPECT_EQ(r.ruby.side, MarkSide::Left);
    EXPECT_EQ(ruby.result->span.start, 0u);

    Node note = node_of(classify("本", "［＃「本」に「ほん」の注記］"));
    ASSERT_EQ(note.tag, NodeTag::MarginNote);
    EXPECT_EQ(note.margin.side, MarkSide::Right);

    Classified range = classify("XあいY", "［＃「X」～「Y」に白丸傍点］");
    Node rn = node_of(range);
    ASSERT_EQ(rn.tag, NodeTag::Format);
    EXPECT_EQ(range.content(rn.format.target), "XあいY");
    EXPECT_EQ(range.result->span.start, 0u);

    Classified hint = classify("第一章\n", "［＃「第一章」は中見出し］");
    Node h = node_of(hint);
    ASSERT_EQ(h.tag, NodeTag::HeadingHint);
    EXPECT_EQ(h.hint.level, HeadingLevel::Medium);

    EXPECT_EQ(node_of(classify("e", "［＃「e」はアクサン（´）付き］")).format.style, FormatStyle::accent(AccentKind::Acute));
    EXPECT_EQ(node_of(classify("x", "［＃「x」はアクサン（´）付き］")).tag, NodeTag::Directive);
    Node steps = node_of(classify("大", "［＃「大」は２段階大きな文字］"));
    EXPECT_EQ(steps.format.style, FormatStyle::font_steps(2));

    Classified dot = classify("Krsna", "［＃sは下ドット付き、最後のnは下ドット付き］");
    Node d = node_of(dot);
    ASSERT_EQ(d.tag, NodeTag::Format);
    EXPECT_EQ(d.format.style.kind(), StyleKind::AccentDot);
    EXPECT_EQ(d.format.mode, FormatMode::DotAccent);
    EXPECT_EQ(dot.result->span.start, 0u);
}
