// Re-emission of canonical source from hand-built snapshots.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/document.hpp"
#include "render/source_emit.hpp"

using namespace kogane;

namespace {

constexpr std::string_view kInline = "\xEE\x80\x81";
constexpr std::string_view kLeaf = "\xEE\x80\x82";
constexpr std::string_view kOpen = "\xEE\x80\x83";
constexpr std::string_view kClose = "\xEE\x80\x84";

// Builds a snapshot whose normalized text is `pieces` joined; each sentinel
// piece takes the next entry.
class SnapshotBuilder {
public:
    NodeStore& store() { return snap_.store; }

    SnapshotBuilder& text(std::string_view t) {
        snap_.normalized += t;
        return *this;
    }
    SnapshotBuilder& node(const Node& n, bool block = false) {
        RegistryEntry e;
        e.kind = block ? SentinelKind::BlockLeaf : SentinelKind::Inline;
        e.node = n;
        add(e, block ? kLeaf : kInline);
        return *this;
    }
    SnapshotBuilder& open(ContainerSpec c) {
        RegistryEntry e;
        e.kind = SentinelKind::BlockOpen;
        e.spec = c;
        add(e, kOpen);
        return *this;
    }
    SnapshotBuilder& close(ContainerSpec c) {
        RegistryEntry e;
        e.kind = SentinelKind::BlockClose;
        e.spec = c;
        add(e, kClose);
        return *this;
    }
    std::string emit(std::string source = "") {
        snap_.registry = SentinelRegistry::build(entries_);
        snap_.sanitized = std::make_shared<const std::string>(source);
        snap_.source = std::make_shared<const std::string>(source);
        KoganeDoc doc(std::move(snap_));
        return emit_source(doc);
    }
    ContentRef content(std::string_view t) { return snap_.store.content_from_segment(snap_.store.text_segment(t)); }

private:
    void add(RegistryEntry e, std::string_view sentinel) {
        e.position = static_cast<uint32_t>(snap_.normalized.size());
        snap_.normalized += sentinel;
        entries_.push_back(e);
    }
    ParseSnapshot snap_;
    SpareVector<RegistryEntry> entries_;
};

Node ruby(SnapshotBuilder& b, std::string_view base, std::string_view reading) {
    NodeStore& s = b.store();
    return Node::make_ruby(s.make_ruby(s.text_segment(base), s.text_segment(reading)));
}

}  // namespace

TEST(SourceEmit, PlainTextAndNewlineCap) {
    SnapshotBuilder b;
    b.text("a\n\n\n\nb\n\n\n");
    EXPECT_EQ(b.emit(), "a\n\nb\n\n");
}

TEST(SourceEmit, RubyBarOnlyWhereNeeded) {
    {
        SnapshotBuilder b;
        b.text("ひらがな").node(ruby(b, "漢字", "かんじ"));
        EXPECT_EQ(b.emit(), "ひらがな漢字《かんじ》");
    }
    {
        SnapshotBuilder b;
        b.text("東京").node(ruby(b, "漢字", "かんじ"));
        EXPECT_EQ(b.emit(), "東京｜漢字《かんじ》");
    }
    {
        SnapshotBuilder b;  // mixed classes need the bar
        b.node(ruby(b, "東京タワー", "とうきょうたわー"));
        EXPECT_EQ(b.emit(), "｜東京タワー《とうきょうたわー》");
    }
    {
        SnapshotBuilder b;  // at the start of the output a uniform base needs none
        b.node(ruby(b, "漢字", "かんじ"));
        EXPECT_EQ(b.emit(), "漢字《かんじ》");
    }
    {
        SnapshotBuilder b;  // no script class at the end: bar
        b.text("あ").node(ruby(b, "一、", "いち"));
        EXPECT_EQ(b.emit(), "あ｜一、《いち》");
    }
}

TEST(SourceEmit, LeftRubyAndMarginNote) {
    SnapshotBuilder b;
    Node r = ruby(b, "あ", "い");
    r.ruby.side = MarkSide::Left;
    MarginNoteNode m;
    m.base = b.content("本");
    m.note = b.content("ほん");
    m.side = MarkSide::Right;
    b.node(r).node(Node::make_margin(m));
    EXPECT_EQ(b.emit(), "あ［＃「あ」の左に「い」のルビ］本［＃「本」に「ほん」の注記］");
}

TEST(SourceEmit, GaijiSpellings) {
    SnapshotBuilder b;
    NodeStore& s = b.store();
    GaijiItem jis{s.intern("木＋吶のつくり"), CodeRef::jis(1, 85, 54), true};
    GaijiItem plane2{s.intern("火＋亢"), CodeRef::jis(2, 79, 62), true};
    GaijiItem uni{s.intern("あ"), CodeRef{CodeKind::Unicode, 0x3042}, true};
    GaijiItem bare{s.intern("丸19"), CodeRef{}, true, true};
    GaijiItem quoted_desc{s.intern("「あ」の「い」に代えて「う」"), CodeRef{CodeKind::Text, s.intern("第3水準1-04-89")},
                          true};
    b.node(Node::make_gaiji(jis)).node(Node::make_gaiji(plane2)).node(Node::make_gaiji(uni));
    b.node(Node::make_gaiji(bare)).node(Node::make_gaiji(quoted_desc));
    EXPECT_EQ(b.emit(),
              "※［＃「木＋吶のつくり」、第3水準1-85-54］※［＃「火＋亢」、第4水準2-79-62］※［＃「あ」、U+3042］"
              "［＃「丸19」］※［＃「あ」の「い」に代えて「う」、第3水準1-04-89］");
}

TEST(SourceEmit, FormatAnnotationsBySuppression) {
    SnapshotBuilder b;
    FormatNode placed;
    placed.target = b.content("東京");
    placed.style = FormatStyle::bouten(StyleKind::BoutenRight, BoutenKind::Goma);
    placed.suppressed = FormatPlacement::InPlace;
    FormatNode missing = placed;
    missing.suppressed = FormatPlacement::TargetNotFound;
    missing.style = FormatStyle::bouten(StyleKind::BoutenLeft, BoutenKind::Bosen);
    FormatNode bold = placed;
    bold.style = FormatStyle::of(StyleKind::Bold);
    FormatNode steps = placed;
    steps.style = FormatStyle::font_steps(-2);
    b.node(Node::make_format(placed)).text("、").node(Node::make_format(missing)).text("。");
    b.node(Node::make_format(bold)).node(Node::make_format(steps));
    EXPECT_EQ(b.emit(),
              "東京［＃「東京」に傍点］、［＃「東京」の左に傍線］。東京［＃「東京」は太字］東京［＃「東京」は2段階小さな文字］");
}

TEST(SourceEmit, LeavesAndBreaks) {
    SnapshotBuilder b;
    using L = LeafAlignNode;
    b.node(Node::make_leaf(L::indented(1))).node(Node::make_leaf(L::indented(2)));
    b.node(Node::make_leaf(L::indented_raised(2, 3)));
    b.node(Node::make_leaf(L::aligned_end(0))).node(Node::make_leaf(L::aligned_end(4)));
    b.node(Node::make_leaf(L::centred(true))).node(Node::make_leaf(L::sized(LineSize::ExtraLarge, true)));
    b.text("\n\n").node(Node::make(NodeTag::PageBreak), true).text("\n\n");
    b.node(Node::make_section(SectionBreak::Spread), true);
    EXPECT_EQ(b.emit(),
              "［＃字下げ］［＃2字下げ］［＃2字下げ、地より3字上げで］［＃地付き］［＃地から4字上げ］"
              "［＃ページの左右中央］［＃特大文字、太字］\n\n［＃改ページ］\n\n［＃改見開き］");
}

TEST(SourceEmit, Containers) {
    SnapshotBuilder b;
    const ContainerSpec indent = ContainerSpec::make_indent({.amount = 2});
    const ContainerSpec plain = ContainerSpec::make_indent({.amount = 1});
    const ContainerSpec compound = ContainerSpec::make_indent(
        {.amount = 1, .wrap = 3, .centre = true, .gothic = true, .font_steps = -1, .grid = LineGrid::Kumi,
         .kumi_lines = 10, .kumi_width = 20},
        true);
    const ContainerSpec centred = ContainerSpec::make_indent({.centre = true});
    const ContainerSpec font = ContainerSpec::make_font_size(-2);
    const ContainerSpec font_close = ContainerSpec::make_font_size(-1);
    const ContainerSpec bouten = ContainerSpec::make_bouten(MarkSide::Left, BoutenKind::ShiroMaru);
    const ContainerSpec heading =
        ContainerSpec::make_heading({true, HeadingLevel::Medium, HeadingStyle::Window, false});
    const ContainerSpec kumi_close = ContainerSpec::make_indent({.kumi_width = 20});
    b.open(indent).open(plain).open(compound).open(centred).open(font).close(font_close);
    b.open(bouten).close(bouten).open(heading).close(heading).close(kumi_close).close(plain);
    EXPECT_EQ(b.emit(),
              "［＃ここから2字下げ］［＃ここから字下げ］"
              "［＃ここから1字下げ、折り返して3字下げ、ページの左右中央に、10行20字組みで、ゴシック体、小さな活字］"
              "［＃ここからページの左右中央］［＃ここから2段階小さな文字］［＃ここで小さな文字終わり］"
              "［＃左に白丸傍点］［＃左に白丸傍点終わり］［＃ここから窓中見出し］［＃ここで窓中見出し終わり］"
              "［＃ここで字下げ、20字組み終わり］［＃ここで字下げ終わり］");
}

TEST(SourceEmit, UntrustworthyStructureReturnsTheSource) {
    auto text = std::make_shared<const std::string>("\xEF\xBB\xBF" "a［b\r\n");
    DocPtr doc = parse_document(text);
    EXPECT_EQ(emit_source(*doc), *text);
}

TEST(SourceEmit, RuleLinesAreIsolated) {
    SnapshotBuilder b;
    b.text("text\n----------\nmore");
    EXPECT_EQ(b.emit(), "text\n\n----------\nmore");
}
