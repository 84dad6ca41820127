// HTML of snapshots folded from hand-made events: the node kinds and
// container shapes that documents reach only rarely, and balance whatever
// the events. Whole documents are tested from Python.

#include <gtest/gtest.h>

#include <random>

#include "../../fuzz/invariants.hpp"
#include "fold_builder.hpp"
#include "render/html.hpp"
#include "render/html_nodes.hpp"

using namespace kogane;
using kogane::testing::FoldBuilder;
using kogane::testing::indent;
using kogane::testing::spec;
using kogane::testing::bouten;
using kogane::testing::block_range;

namespace {

// The HTML of one inline node inside a paragraph, without the <p>…</p>.
std::string inline_html(FoldBuilder& b, const Node& n) {
    b.node(n);
    std::string html = b.html();
    EXPECT_TRUE(html.starts_with("<p>") && html.ends_with("</p>\n")) << html;
    return html.substr(3, html.size() - 8);
}

Node format_node(FoldBuilder& b, FormatStyle style, std::string_view target, FormatMode mode = FormatMode::Plain) {
    FormatNode f = b.format(style, target);
    f.mode = mode;
    return Node::make_format(f);
}

std::string style_html(FormatStyle style, std::string_view target) {
    FoldBuilder b;
    return inline_html(b, format_node(b, style, target));
}

std::string container_html(ContainerSpec open) {
    FoldBuilder b;
    b.open(open).text("t").node(b.ruby("a", "b")).close(open);
    return b.html();
}

Node gaiji_node(FoldBuilder& b, std::string_view description, CodeRef code) {
    GaijiItem g;
    g.description = b.store().intern(description);
    g.code = code;
    return Node::make_gaiji(g);
}

}  // namespace

TEST(Html, SuspendedContainersAndStrayCloses) {
    // Closing while suspended containers wait drops the innermost one.
    FoldBuilder b;
    b.open(spec(ContainerKind::Bold)).open(spec(ContainerKind::Italic)).text("a\n\n").close(spec(ContainerKind::Italic));
    b.text("b").close(spec(ContainerKind::Bold)).text("d");
    EXPECT_EQ(b.html(),
              "<p><b class=\"kogane-futoji\"><i class=\"kogane-shatai\">a</i></b></p>\n"
              "<p><b class=\"kogane-futoji\">b</b>d</p>\n");

    FoldBuilder stray;
    stray.text("a").close(indent(0)).close(spec(ContainerKind::Bold)).text("b");
    EXPECT_EQ(stray.html(), "<p>a</p>\n<p>b</p>\n");

    // The popped container's own tag is written whatever key arrives.
    FoldBuilder other;
    other.text("a").open(spec(ContainerKind::Italic)).node(other.ruby("x", "y")).close(spec(ContainerKind::Bold));
    EXPECT_EQ(other.html(),
              "<p>a<i class=\"kogane-shatai\"><ruby>x<rp>(</rp><rt>y</rt><rp>)</rp></ruby></i></p>\n");
}

TEST(Html, WarichuSpans) {
    // Unclosed at the paragraph end; a close with nothing open writes nothing.
    FoldBuilder open;
    open.node(open.directive("［＃割り注］", RemarkKind::WarichuOpen)).text("a\n\nb").node(open.directive("［＃割り注終わり］", RemarkKind::WarichuClose));
    EXPECT_EQ(open.html(), "<p><span class=\"kogane-warichu\">a</span></p>\n<p>b</p>\n");

    // An inline container opened inside the span is closed and reopened
    // around the span's end.
    FoldBuilder cross;
    cross.node(cross.directive("［＃割り注］", RemarkKind::WarichuOpen))
        .open(spec(ContainerKind::Bold))
        .text("a")
        .node(cross.directive("［＃割り注終わり］", RemarkKind::WarichuClose))
        .text("b")
        .close(spec(ContainerKind::Bold));
    EXPECT_EQ(cross.html(),
              "<p><span class=\"kogane-warichu\"><b class=\"kogane-futoji\">a</b></span>"
              "<b class=\"kogane-futoji\">b</b></p>\n");
}

TEST(Html, InlineNodes) {
    FoldBuilder b;
    RubyNode left = b.ruby("漢", "かん").ruby;
    left.side = MarkSide::Left;
    EXPECT_EQ(inline_html(b, Node::make_ruby(left)),
              "<ruby>漢<rp>(</rp><rt class=\"kogane-ruby-left\">かん</rt><rp>)</rp></ruby>");

    FoldBuilder styled;
    RubyNode r = styled.ruby("漢", "かん").ruby;
    r.base_style = FormatStyle::bouten(StyleKind::BoutenRight, BoutenKind::Goma);
    EXPECT_EQ(inline_html(styled, Node::make_ruby(r)),
              "<ruby><em class=\"kogane-bouten kogane-bouten-goma kogane-bouten-right\">漢</em><rp>(</rp><rt>かん</rt>"
              "<rp>)</rp></ruby>");

    auto leaf = [](LeafAlignNode l) {
        FoldBuilder fb;
        return inline_html(fb, Node::make_leaf(l));
    };
    EXPECT_EQ(leaf(LeafAlignNode::indented_raised(3, 2)),
              "<span class=\"kogane-indent kogane-indent-3 kogane-align-end kogane-align-end-2\" data-amount=\"3\" "
              "data-offset=\"2\"></span>");
    EXPECT_EQ(leaf(LeafAlignNode::aligned_end(0)), "<span class=\"kogane-align-end\" data-offset=\"0\"></span>");
    EXPECT_EQ(leaf(LeafAlignNode::sized(LineSize::ExtraLarge, true)), "<span class=\"kogane-line-font-extra-large kogane-line-futoji\"></span>");
    EXPECT_EQ(leaf(LeafAlignNode::sized(LineSize::Small, false)), "<span class=\"kogane-line-font-small\"></span>");

    FoldBuilder aq;
    EXPECT_EQ(inline_html(aq, Node::make_angle(aq.content("<引用>"))),
              "<span class=\"kogane-angle-quote\">《&lt;引用&gt;》</span>");
    FoldBuilder mn;
    EXPECT_EQ(inline_html(mn, Node::make_margin(MarginNoteNode{mn.content("本"), mn.content("注")})),
              "<ruby>本<rp>(</rp><rt class=\"kogane-margin-note\">注</rt><rp>)</rp></ruby>");

    FoldBuilder hint;
    EXPECT_EQ(inline_html(hint, Node::make_hint(HeadingHintNode{hint.store().intern("章\""), HeadingLevel::Large, HeadingStyle::SameLine, true})),
              "<span class=\"kogane-heading-hint\" data-level=\"1\" data-style=\"same-line\">章&quot;</span>");
    FoldBuilder hidden;
    EXPECT_EQ(inline_html(hidden, Node::make_hint(HeadingHintNode{hidden.store().intern("章"), HeadingLevel::Small, HeadingStyle::Window, false})),
              "<span class=\"kogane-heading-hint\" data-level=\"3\" data-style=\"window\" data-target=\"章\" "
              "hidden></span>");
}

TEST(Html, Directives) {
    auto d = [](std::string_view raw, RemarkKind kind) {
        FoldBuilder b;
        return inline_html(b, b.directive(raw, kind));
    };
    EXPECT_EQ(d("［＃入力者注(12)］", RemarkKind::InputterNote), "<sup class=\"kogane-editor-note\">注12</sup>");
    EXPECT_EQ(d("［＃入力者注（1）］", RemarkKind::InputterNote), "<sup class=\"kogane-editor-note\">注［＃入力者注（1）］</sup>");
    EXPECT_EQ(d("［＃左に「あ」のルビ付き終わり］", RemarkKind::LeftRubyEnd), "<sup class=\"kogane-ruby-note\">左ルビ「あ」</sup>");
    EXPECT_EQ(d("［＃左に「い」の注記付き終わり］", RemarkKind::MarginNoteEnd), "<sup class=\"kogane-margin-note\">左注記「い」</sup>");
    EXPECT_EQ(d("［＃<b>］", RemarkKind::Other), "<span class=\"kogane-directive\" hidden>［＃&lt;b&gt;］</span>");
}

TEST(Html, FormatStyles) {
    EXPECT_EQ(style_html(FormatStyle::bouten(StyleKind::BoutenLeft, BoutenKind::KuroSankaku), "字"),
              "<em class=\"kogane-bouten kogane-bouten-kurosankaku kogane-bouten-left\">字</em>");
    EXPECT_EQ(style_html(FormatStyle::bouten(StyleKind::BoutenBoth, static_cast<BoutenKind>(40)), "字"),
              "<em class=\"kogane-bouten kogane-bouten-other kogane-bouten-both\">字</em>");
    EXPECT_EQ(style_html(FormatStyle::enclosure(Enclosure::Ruled), "a"), "<span class=\"kogane-keigakomi-inline\">a</span>");
    EXPECT_EQ(style_html(FormatStyle::font_steps(-3), "a"),
              "<span class=\"kogane-font-smaller\" data-steps=\"3\">a</span>");
    EXPECT_EQ(style_html(FormatStyle::of(StyleKind::Fraction), "1/2"), "<span class=\"kogane-bunsu\"><sup>1</sup>⁄<sub>2</sub></span>");
    EXPECT_EQ(style_html(FormatStyle::of(StyleKind::Fraction), "π／"), "<span class=\"kogane-bunsu\"><sup>π</sup>⁄<sub></sub></span>");
    EXPECT_EQ(style_html(FormatStyle::accent(AccentKind::Acute), "e"), "<span class=\"kogane-accent\">é</span>");
    EXPECT_EQ(style_html(FormatStyle::accent(AccentKind::Grave), "b"), "<span class=\"kogane-accent\">b</span>");
    EXPECT_EQ(style_html(FormatStyle::align_end_run(3), "a"), "<span class=\"kogane-align-end\" data-offset=\"3\">a</span>");
    EXPECT_EQ(style_html(FormatStyle::of(StyleKind::Italic), "a"), "<i class=\"kogane-shatai\">a</i>");
    EXPECT_EQ(style_html(FormatStyle::font_size(static_cast<LineSize>(7)), "a"), "<span class=\"kogane-futoji\">a</span>");

    FoldBuilder dot;
    FormatNode f = dot.format(FormatStyle::of(StyleKind::AccentDot), "Krsna");
    f.mode = FormatMode::DotAccent;
    f.spec = dot.store().intern("sは下ドット付き");
    EXPECT_EQ(inline_html(dot, Node::make_format(f)), "<span class=\"kogane-accent-dot\">Krṣna</span>");

    FoldBuilder suppressed;
    FormatNode s = suppressed.format(FormatStyle::of(StyleKind::Bold), "a");
    s.suppressed = FormatPlacement::RenderedElsewhere;
    suppressed.text("x").node(Node::make_format(s));
    EXPECT_EQ(suppressed.html(), "<p>x</p>\n");
}

TEST(Html, ReparsedTargetsAndCaptions) {
    // A reparsed bouten target with a markup pair goes through a fragment
    // parse (line feeds become <br />); without one it is only escaped.
    FoldBuilder re;
    EXPECT_EQ(inline_html(re, format_node(re, FormatStyle::bouten(StyleKind::BoutenRight, BoutenKind::Goma), "a\n《b》", FormatMode::Reparse)),
              "<em class=\"kogane-bouten kogane-bouten-goma kogane-bouten-right\">a<br />\n《b》</em>");
    FoldBuilder plain;
    EXPECT_EQ(inline_html(plain, format_node(plain, FormatStyle::bouten(StyleKind::BoutenRight, BoutenKind::Goma), "a\n<b>", FormatMode::Reparse)),
              "<em class=\"kogane-bouten kogane-bouten-goma kogane-bouten-right\">a\n&lt;b&gt;</em>");

    FoldBuilder fig;
    IllustrationNode il;
    il.path = fig.store().intern("fig1.png");
    il.size = fig.store().intern("横0640×縦480");
    il.alt = fig.store().intern("\"図\"");
    il.has_caption = true;
    il.caption = fig.store().text_segment("上\n下");
    fig.text("a\n").node(Node::make_illustration(il));
    EXPECT_EQ(fig.html(),
              "<p>a</p>\n<figure class=\"kogane-illustration\"><img src=\"fig1.png\" width=\"640\" height=\"480\" "
              "alt=\"&quot;図&quot;\" /><figcaption>上\n下</figcaption></figure>");
}

TEST(Html, FragmentWalk) {
    FoldBuilder b;
    b.text("a\n").node(b.ruby("b", "c")).node(b.directive("［＃割り注］", RemarkKind::WarichuOpen)).text("d\n");
    b.open(indent(1)).node(Node::make(NodeTag::BodyEnd));
    const ParseSnapshot& s = b.fold();
    std::string out;
    html::walk_fragment(out, s, 1);
    EXPECT_EQ(out,
              "a<br />\n<ruby>b<rp>(</rp><rt>c</rt><rp>)</rp></ruby><span class=\"kogane-warichu\">d<br />\n"
              "<br />\n<br />\n<br />\n<br />\n<br />\n<br />\n<div class=\"kogane-body-end\"></div><br />\n</span>");
}

TEST(Html, BlockNodes) {
    FoldBuilder sections;
    sections.node(Node::make_section(SectionBreak::Column)).node(Node::make_section(static_cast<SectionBreak>(7))).node(Node::make(NodeTag::BodyEnd));
    EXPECT_EQ(sections.html(),
              "<div class=\"kogane-section-break kogane-section-break-kaidan\"></div>\n"
              "<div class=\"kogane-section-break kogane-section-break-other\"></div>\n"
              "<div class=\"kogane-body-end\"></div>");

    FoldBuilder h;
    h.node(Node::make_heading(HeadingNode{h.content("窓"), HeadingLevel::Large, HeadingStyle::Window})).text("\n本文");
    EXPECT_EQ(h.html(), "<div class=\"kogane-heading kogane-heading-large kogane-heading-window\">窓</div>\n<p>本文</p>\n");
}

TEST(Html, ContainerTags) {
    EXPECT_EQ(container_html(spec(ContainerKind::Gothic)),
              "<p><b class=\"kogane-goshikku\">t<ruby>a<rp>(</rp><rt>b</rt><rp>)</rp></ruby></b></p>\n");
    EXPECT_EQ(container_html(bouten(MarkSide::Left, BoutenKind::Namisen)),
              "<p><em class=\"kogane-bouten kogane-bouten-namisen kogane-bouten-left\">t<ruby>a<rp>(</rp><rt>b</rt>"
              "<rp>)</rp></ruby></em></p>\n");

    // Block containers: the open tag on its own line, then the paragraph.
    auto block_open = [](ContainerSpec s) {
        std::string html = container_html(s);
        return html.substr(0, html.find('\n'));
    };
    EXPECT_EQ(block_open(ContainerSpec::make_align_end(2)),
              "<div class=\"kogane-container kogane-container-align-end\" data-offset=\"2\">");
    // Opened and closed within one line, a font size is a span.
    EXPECT_EQ(block_open(ContainerSpec::make_font_size(-2)),
              "<p><span class=\"kogane-font-smaller\" data-steps=\"2\">t<ruby>a<rp>(</rp><rt>b</rt><rp>)</rp></ruby>"
              "</span></p>");
    FoldBuilder lines;
    lines.open(ContainerSpec::make_font_size(-2)).text("\nt\n").close(spec(ContainerKind::FontSize));
    EXPECT_EQ(lines.html(),
              "<div class=\"kogane-container kogane-container-font-smaller\" data-steps=\"2\">\n<p>t</p>\n</div>");
    EXPECT_EQ(block_open(ContainerSpec::make_heading({true, HeadingLevel::Large, HeadingStyle::SameLine, false})),
              "<h1 class=\"kogane-heading kogane-heading-large kogane-heading-same-line\">t<ruby>a<rp>(</rp><rt>b</rt>"
              "<rp>)</rp></ruby></h1>");

    const IndentSpec full{.amount = 3, .wrap = 1, .centre = true, .gothic = true, .horizontal = true, .framed = true,
                          .font_steps = -1, .grid = LineGrid::Kumi, .kumi_lines = 20, .kumi_width = 30};
    EXPECT_EQ(block_open(ContainerSpec::make_indent(full, true)),
              "<div class=\"kogane-container kogane-container-indent kogane-container-indent-3 "
              "kogane-container-wrap-indent kogane-container-center kogane-container-line-kumi "
              "kogane-container-goshikku kogane-container-yokogumi kogane-container-keigakomi "
              "kogane-container-font-smaller\" data-amount=\"3\" data-wrap=\"1\" data-kumi-lines=\"20\" "
              "data-kumi-width=\"30\" data-steps=\"1\">");
    const IndentSpec width{.font_steps = 2, .grid = LineGrid::Width, .width = 25};
    EXPECT_EQ(block_open(ContainerSpec::make_indent(width)),
              "<div class=\"kogane-container kogane-container-indent kogane-container-indent-0 "
              "kogane-container-line-width kogane-container-font-larger\" data-amount=\"0\" data-width=\"25\" "
              "data-steps=\"2\">");
}

TEST(Html, Gaiji) {
    auto g = [](std::string_view description, CodeRef code) {
        FoldBuilder b;
        return inline_html(b, gaiji_node(b, description, code));
    };
    EXPECT_EQ(g("木＋吶のつくり<", CodeRef{}),
              "<span class=\"kogane-gaiji\" data-description=\"木＋吶のつくり&lt;\">木＋吶のつくり&lt;</span>");
    // Resolved text is document text: markup characters are escaped.
    EXPECT_EQ(g("x", CodeRef{CodeKind::Unicode, 0x26}), "<span class=\"kogane-gaiji\" data-codepoint=\"U+0026\">&amp;</span>");
    EXPECT_EQ(g("x", CodeRef::jis(1, 4, 87)),
              "<span class=\"kogane-gaiji\" data-codepoint=\"U+304B U+309A\">か゚</span>");

    FoldBuilder text_code;
    GaijiItem item;
    item.description = text_code.store().intern("？");
    item.code = CodeRef{CodeKind::Text, text_code.store().intern("第3水準1-85-54、123-4")};
    EXPECT_EQ(inline_html(text_code, Node::make_gaiji(item)),
              "<span class=\"kogane-gaiji\" data-codepoint=\"U+6798\">枘</span>");
}

TEST(Html, ContentRunsWithGaijiAndDirectives) {
    FoldBuilder b;
    GaijiItem g;
    g.description = b.store().intern("<");
    std::vector<ContentItem> items = {
        ContentItem::make_text(b.store().intern("a")),
        ContentItem::make_gaiji(g),
        ContentItem::make_directive(b.store().intern("［＃割り注］"), RemarkKind::WarichuOpen),
        ContentItem::make_text(b.store().intern("b")),
    };
    Segment run = b.store().segment_from_items(items);
    ContentRef reading = b.store().content_from_segment(run);
    RubyNode r = b.ruby("x", "y").ruby;
    r.reading = reading;
    // The unclosed span is closed inside the reading; a lone close writes nothing.
    EXPECT_EQ(inline_html(b, Node::make_ruby(r)),
              "<ruby>x<rp>(</rp><rt>a<span class=\"kogane-gaiji\" data-codepoint=\"U+003C\">&lt;</span>"
              "<span class=\"kogane-warichu\">b</span></rt><rp>)</rp></ruby>");

    FoldBuilder close_only;
    std::vector<ContentItem> lone = {ContentItem::make_directive(close_only.store().intern("［＃割り注終わり］"), RemarkKind::WarichuClose),
                                     ContentItem::make_text(close_only.store().intern("c"))};
    EXPECT_EQ(inline_html(close_only, Node::make_angle(close_only.store().content_from_segment(
                                          close_only.store().segment_from_items(lone)))),
              "<span class=\"kogane-angle-quote\">《c》</span>");
}

// A container of kind `k` with its two main choices (form, side, level...) set.
ContainerSpec flagged(ContainerKind k, bool a, bool b) {
    switch (k) {
        case ContainerKind::Bold:
        case ContainerKind::Italic:
        case ContainerKind::Caption: return ContainerSpec::make_range(k, a);
        case ContainerKind::Heading:
            return ContainerSpec::make_heading({a, b ? HeadingLevel::Medium : HeadingLevel::Large,
                                                a ? HeadingStyle::Standalone : HeadingStyle::SameLine, false});
        case ContainerKind::BoutenRange:
            return bouten(a ? MarkSide::Left : MarkSide::Right, b ? BoutenKind::ShiroGoma : BoutenKind::Goma);
        case ContainerKind::SmallScript: return ContainerSpec::make_small_script(a ? MarkSide::Left : MarkSide::Right);
        case ContainerKind::AlignEnd: return ContainerSpec::make_align_end(a ? 1 : 0);
        case ContainerKind::Warichu: {
            ContainerSpec s = spec(k);
            if (a) s.make_inline();
            return s;
        }
        default: return ContainerSpec::make_indent(IndentSpec{.amount = uint8_t(a), .centre = b});
    }
}

// Whatever the events, every element opened is closed, in order.
TEST(Html, BalancedForArbitraryEvents) {
    std::mt19937 rng(7);
    const ContainerKind kinds[] = {ContainerKind::Indent,      ContainerKind::Bold,    ContainerKind::Italic,
                                   ContainerKind::Heading,     ContainerKind::Caption, ContainerKind::BoutenRange,
                                   ContainerKind::SmallScript, ContainerKind::Warichu, ContainerKind::AlignEnd};
    for (int round = 0; round < 2000; ++round) {
        FoldBuilder b;
        std::uniform_int_distribution<int> pick(0, 11), kind(0, 8), flag(0, 1);
        for (int n = std::uniform_int_distribution<int>(0, 30)(rng); n > 0; --n) {
            ContainerSpec s = flagged(kinds[kind(rng)], flag(rng) != 0, flag(rng) != 0);
            switch (pick(rng)) {
                case 0: b.text("a"); break;
                case 1: b.text("\n"); break;
                case 2: b.text("\n\n"); break;
                case 3:
                case 4: b.open(s); break;
                case 5:
                case 6: b.close(s); break;
                case 7: b.node(b.directive("［＃割り注］", RemarkKind::WarichuOpen)); break;
                case 8: b.node(b.directive("［＃割り注終わり］", RemarkKind::WarichuClose)); break;
                case 9: b.node(Node::make(NodeTag::PageBreak)); break;
                case 10: b.node(b.ruby("r", "b")); break;
                case 11: b.node(Node::make_heading(HeadingNode{b.content("h"), HeadingLevel::Medium, HeadingStyle::Standalone})); break;
            }
        }
        const std::string html = b.html();
        ASSERT_EQ(checks::check_html_balanced(html), "") << html;
    }
}

// Escaping reads eight bytes a step and the last bytes as the word that
// ends the text; every special character at every offset of texts of every
// length up to three words must come out as one byte at a time gives it.
TEST(Html, EscapingAgreesWithOneByteAtATime) {
    auto reference = [](std::string_view text) {
        std::string out;
        for (char c : text) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&#x27;"; break;
                case '\x01': out += "\xEF\xBF\xBD"; break;
                default: out += c;
            }
        }
        return out;
    };
    const std::string fill = "字かなabc9\t\n";  // clean bytes, some below 0x40
    for (size_t length = 0; length <= 24; ++length) {
        std::string base;
        for (size_t k = 0; base.size() < length; ++k) base += fill[(k * 7 + length) % fill.size()];
        base.resize(length);
        std::string out = "kept";
        append_escaped(out, base);
        EXPECT_EQ(out, "kept" + reference(base)) << length;
        for (char special : {'&', '<', '>', '"', '\'', '\x01'}) {
            for (size_t at = 0; at < length; ++at) {
                std::string text = base;
                text[at] = special;
                if (at + 3 < length) text[at + 3] = '<';
                out.clear();
                append_escaped(out, text);
                ASSERT_EQ(out, reference(text)) << length << " " << at << " " << int(special);
            }
        }
    }
}
