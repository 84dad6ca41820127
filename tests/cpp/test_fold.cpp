// The fold passes over hand-built classified events: the normalized text and
// registry layout, and the pass rules that documents reach only in part.
// Diagnostics and HTML of whole documents are tested from Python.

#include <gtest/gtest.h>

#include <cstring>

#include "collections/panic.hpp"
#include "fold_builder.hpp"
#include "pipeline/fold_passes.hpp"

using namespace kogane;
using kogane::testing::FoldBuilder;
using kogane::testing::indent;
using kogane::testing::spec;
using kogane::testing::bouten;
using kogane::testing::block_range;

namespace {

const std::string kInline = "\xEE\x80\x81";
const std::string kLeaf = "\xEE\x80\x82";
const std::string kOpen = "\xEE\x80\x83";
const std::string kClose = "\xEE\x80\x84";

std::vector<const RegistryEntry*> entries(const ParseSnapshot& s) {
    std::vector<const RegistryEntry*> out;
    for (const RegistryEntry& e : s.registry.in_order()) out.push_back(&e);
    return out;
}

}  // namespace

TEST(Fold, EmptyInputGivesEmptySnapshot) {
    FoldBuilder b;
    const ParseSnapshot& s = b.fold();
    EXPECT_EQ(s.normalized, "");
    EXPECT_TRUE(s.registry.empty());
    EXPECT_TRUE(s.container_pairs.empty());
    EXPECT_TRUE(s.diagnostics.empty());
}

TEST(Fold, SentinelsAndRegistryPositions) {
    FoldBuilder b;
    b.text("a\n").open(indent(2)).text("\nb").node(b.ruby("漢", "かん"), "漢《かん》").text("\n").close(indent(0));
    const ParseSnapshot& s = b.fold();
    const std::string open_block = "\n\n" + kOpen + "\n\n";
    const std::string close_block = "\n\n" + kClose + "\n\n";
    EXPECT_EQ(s.normalized, "a\n" + open_block + "\nb" + kInline + "\n" + close_block);

    auto e = entries(s);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0]->kind, SentinelKind::BlockOpen);
    EXPECT_EQ(e[0]->position, 4u);
    EXPECT_EQ(e[1]->kind, SentinelKind::Inline);
    EXPECT_EQ(e[1]->node.tag, NodeTag::Ruby);
    EXPECT_EQ(e[2]->kind, SentinelKind::BlockClose);
    for (const RegistryEntry* x : e) {
        EXPECT_EQ(s.normalized.substr(x->position, 2), "\xEE\x80");
        EXPECT_EQ(s.registry.find(x->position), x);
    }
    ASSERT_EQ(s.container_pairs.size(), 1u);
    EXPECT_EQ(s.container_pairs[0].open_position, e[0]->position);
    EXPECT_EQ(s.container_pairs[0].close_position, e[2]->position);

    // An inline range leaves no blank lines.
    FoldBuilder inl;
    inl.text("x").open(bouten(MarkSide::Right, BoutenKind::Maru)).node(inl.ruby("y", "よ")).close(
        bouten(MarkSide::Right, BoutenKind::Maru));
    EXPECT_EQ(inl.fold().normalized, "x" + kOpen + kInline + kClose);
}

TEST(Fold, InlineStyleAroundTextCollapsesToFormat) {
    FoldBuilder b;
    b.text("x").open(spec(ContainerKind::Bold)).text("ab").text("c").close(spec(ContainerKind::Bold)).text("y");
    const ParseSnapshot& s = b.fold();
    EXPECT_EQ(s.normalized, "x" + kInline + "y");
    EXPECT_TRUE(s.container_pairs.empty());
    auto e = entries(s);
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0]->node.tag, NodeTag::Format);
    const FormatNode& f = e[0]->node.format;
    EXPECT_EQ(f.style, FormatStyle::of(StyleKind::Bold));
    std::string_view target;
    ASSERT_TRUE(s.store.single_text(f.target, &target));
    EXPECT_EQ(target, "abc");
    EXPECT_EQ(e[0]->span.start, 1u);
    EXPECT_EQ(e[0]->span.end, 1u + 12 + 3 + 12);

    // Left bouten range keeps its side and kind; small script its side.
    FoldBuilder bt;
    bt.open(bouten(MarkSide::Left, BoutenKind::ShiroMaru)).text("a").close(bouten(MarkSide::Left, BoutenKind::ShiroMaru));
    bt.open(ContainerSpec::make_small_script(MarkSide::Left)).text("b").close(ContainerSpec::make_small_script(MarkSide::Left));
    auto be = entries(bt.fold());
    ASSERT_EQ(be.size(), 2u);
    EXPECT_EQ(be[0]->node.format.style, FormatStyle::bouten(StyleKind::BoutenLeft, BoutenKind::ShiroMaru));
    EXPECT_EQ(be[1]->node.format.style, FormatStyle::small_script(MarkSide::Left));
}

TEST(Fold, ContainersThatDoNotCollapse) {
    // A node inside, a block flag, a different close, nothing inside.
    FoldBuilder ruby;
    ruby.open(spec(ContainerKind::Bold)).text("a").node(ruby.ruby("b", "c")).close(spec(ContainerKind::Bold));
    EXPECT_EQ(ruby.fold().container_pairs.size(), 1u);
    EXPECT_EQ(entries(ruby.fold()).size(), 3u);

    FoldBuilder block;
    block.open(block_range(ContainerKind::Bold)).text("a").close(block_range(ContainerKind::Bold));
    EXPECT_EQ(block.fold().container_pairs.size(), 1u);

    FoldBuilder other_kind;
    other_kind.open(bouten(MarkSide::Right, BoutenKind::Goma)).text("a").close(bouten(MarkSide::Right, BoutenKind::Maru));
    EXPECT_EQ(other_kind.fold().container_pairs.size(), 1u);

    FoldBuilder empty;
    empty.open(spec(ContainerKind::Italic)).close(spec(ContainerKind::Italic));
    EXPECT_EQ(empty.fold().container_pairs.size(), 1u);

    // The inner range collapses; the outer then holds a node and stays.
    FoldBuilder nested;
    nested.open(spec(ContainerKind::Bold))
        .open(spec(ContainerKind::Italic))
        .text("a")
        .close(spec(ContainerKind::Italic))
        .close(spec(ContainerKind::Bold));
    const ParseSnapshot& n = nested.fold();
    EXPECT_EQ(n.normalized, kOpen + kInline + kClose);
    EXPECT_EQ(entries(n)[1]->node.format.style.kind(), StyleKind::Italic);

    // Opens left unclosed stay in place, in order.
    FoldBuilder unclosed;
    unclosed.open(spec(ContainerKind::Bold)).text("a").open(spec(ContainerKind::Gothic)).text("b");
    EXPECT_EQ(unclosed.fold().normalized, kOpen + "a" + kOpen + "b");
}

TEST(Fold, HeadingHintPromotedOverThePrecedingLine) {
    FoldBuilder b;
    HeadingHintNode hint{b.store().intern("見出し"), HeadingLevel::Medium, HeadingStyle::Standalone, false};
    b.text("前\n見出し\n").node(Node::make_hint(hint), "［＃「見出し」は中見出し］").text("\n後");
    const ParseSnapshot& s = b.fold();
    EXPECT_EQ(s.normalized, "前\n\n\n" + kLeaf + "\n\n\n後");
    auto e = entries(s);
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0]->node.tag, NodeTag::Heading);
    EXPECT_EQ(e[0]->node.heading.level, HeadingLevel::Medium);
    std::string_view text;
    ASSERT_TRUE(s.store.single_text(e[0]->node.heading.text, &text));
    EXPECT_EQ(text, "見出し");
    EXPECT_EQ(e[0]->span.start, 4u);

    FoldBuilder differs;
    HeadingHintNode other{differs.store().intern("見出し"), HeadingLevel::Medium, HeadingStyle::Standalone, false};
    differs.text("別の行\n").node(Node::make_hint(other));
    EXPECT_EQ(entries(differs.fold())[0]->node.tag, NodeTag::HeadingHint);

    // The target must be the whole line, and at offset 0 no newline is needed before it.
    FoldBuilder partial;
    HeadingHintNode tail{partial.store().intern("行"), HeadingLevel::Large, HeadingStyle::Standalone, false};
    partial.text("別の行\n").node(Node::make_hint(tail));
    EXPECT_EQ(entries(partial.fold())[0]->node.tag, NodeTag::HeadingHint);
    FoldBuilder first;
    HeadingHintNode whole{first.store().intern("行"), HeadingLevel::Large, HeadingStyle::Standalone, false};
    first.text("行\n").node(Node::make_hint(whole));
    EXPECT_EQ(entries(first.fold())[0]->node.tag, NodeTag::Heading);
    EXPECT_EQ(first.fold().normalized, "\n\n" + kLeaf + "\n\n");
}

TEST(Fold, OverlapNormalisation) {
    // A node placed over the tail of the run before it shortens the run;
    // events strictly inside a later one go; an equal span stays.
    EventPool pool;
    EventList ev = {
        ClassifiedEvent::text_run({0, 8}),
        pool.of_node(Node::make(NodeTag::ForcedBreak), {2, 20}),
        ClassifiedEvent::text_run({20, 23}),
        pool.of_node(Node::make(NodeTag::ForcedBreak), {21, 22}),
        ClassifiedEvent::text_run({21, 22}),
        ClassifiedEvent::line_feed(23),
        pool.of_node(Node::make(NodeTag::PageBreak), {23, 30}),
    };
    normalise_overlaps(ev);
    ASSERT_EQ(ev.size(), 6u);
    EXPECT_EQ(ev[0].span, (Span{0, 2}));
    EXPECT_EQ(ev[1].span, (Span{2, 20}));
    EXPECT_EQ(ev[2].span, (Span{20, 21}));
    EXPECT_EQ(ev[3].span, (Span{21, 22}));
    EXPECT_EQ(ev[4].tag, EventTag::TextRun);
    EXPECT_EQ(pool.node(ev[5]).tag, NodeTag::PageBreak);
}

TEST(Fold, DiagnosticsMergedAndSorted) {
    ParseSnapshot snap;
    snap.sanitized = std::make_shared<const std::string>("ab［＃閉］");
    snap.diagnostics.push_back(Diagnostic::simple(DiagTag::UnmatchedClose, {5, 8}));
    snap.diagnostics.push_back(Diagnostic::simple(DiagTag::NestedRuby, {1, 2}));
    ClassifiedStream stream;
    stream.events = {ClassifiedEvent::text_run({0, 2})};
    stream.kaeriten.push_back(KaeritenMark{{0, 1}, KaeritenSeries::Numbers, 3, true, false});
    fold(std::move(stream), snap);
    ASSERT_EQ(snap.diagnostics.size(), 3u);
    EXPECT_STREQ(snap.diagnostics[0].code(), "kogane::lex::bracketed_kaeriten_no_pair");
    EXPECT_STREQ(snap.diagnostics[1].code(), "kogane::lex::nested_ruby");
    EXPECT_STREQ(snap.diagnostics[2].code(), "kogane::lex::unmatched_close");
}

TEST(Fold, DeepUnclosedContainers) {
    FoldBuilder b;
    for (int i = 0; i < 100000; ++i) b.open(indent(1)).text("a");
    b.close(indent(0));
    const ParseSnapshot& s = b.fold();
    // Each indent replaces the one before it: a close is inserted before
    // every open but the first.
    EXPECT_EQ(s.registry.size(), 200000u);
    ASSERT_EQ(s.container_pairs.size(), 100000u);
    // The close pairs with the innermost open.
    EXPECT_EQ(s.container_pairs.back().open_position, s.container_pairs.back().close_position - 5 - 1 - 2);
}

TEST(Fold, MisalignedTextRunIsAnInternalError) {
    FoldBuilder b;
    b.append("漢字");
    b.events().push_back(ClassifiedEvent::text_run({0, 4}));
    try {
        b.fold();
        FAIL() << "expected an internal error";
    } catch (const InternalError& e) {
        EXPECT_EQ(e.message(), "span must align to UTF-8 char boundaries in source");
    }
}

TEST(Fold, CloseSpecsMatchTheirOpens) {
    IndentSpec grid;
    grid.amount = 3, grid.grid = LineGrid::Kumi, grid.kumi_lines = 20, grid.kumi_width = 30;
    EXPECT_EQ(close_spec_for(ContainerSpec::make_indent(grid)).indent.kumi_width, 30);  // a 字組み close names its width
    EXPECT_EQ(close_spec_for(indent(3)).indent.kumi_width, 0);
    const ContainerSpec heading =
        ContainerSpec::make_heading({true, HeadingLevel::Small, HeadingStyle::SameLine, false});
    EXPECT_EQ(close_spec_for(heading).heading, heading.heading);
    EXPECT_EQ(close_spec_for(ContainerSpec::make_font_size(-2)).font_size.steps, -1);  // only the direction
    EXPECT_EQ(close_spec_for(ContainerSpec::make_font_size(2)).font_size.steps, 1);
    EXPECT_EQ(close_spec_for(bouten(MarkSide::Left, BoutenKind::Bosen)).bouten.mark, BoutenKind::Bosen);
    EXPECT_EQ(close_spec_for(ContainerSpec::make_align_end(4)).align_end.raise, 0);  // closes carry no offset
}

TEST(Fold, LayoutSettledOnTheEventList) {
    // An indent replacing another: the close is inserted, empty, where the
    // new one opens; an inline container in between keeps both apart.
    FoldBuilder b;
    b.open(indent(1)).text("a\n").open(indent(2)).text("b\n").open(spec(ContainerKind::Bold)).open(indent(3));
    const ParseSnapshot& s = b.fold();
    ASSERT_EQ(s.container_pairs.size(), 1u);
    ASSERT_EQ(s.diagnostics.size(), 1u);
    EXPECT_EQ(s.diagnostics[0].tag, DiagTag::IndentReplaced);
    const RegistryEntry* close = s.registry.find(s.container_pairs[0].close_position);
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->span.start, close->span.end);
    EXPECT_EQ(close->span.start, s.diagnostics[0].span.start);

    // One-line font size, horizontal and warichu containers become inline;
    // the same across a line feed stay blocks.
    EventPool pool;
    EventList events = {
        pool.open(ContainerSpec::make_font_size(-1), {0, 1}),
        pool.open(spec(ContainerKind::Horizontal), {1, 2}),
        pool.close(spec(ContainerKind::Horizontal), {2, 3}),
        pool.close(spec(ContainerKind::FontSize), {3, 4}),
        pool.open(spec(ContainerKind::Warichu), {4, 5}),
        ClassifiedEvent::line_feed(5),
        pool.close(spec(ContainerKind::Warichu), {6, 7}),
    };
    Diagnostics diagnostics;
    settle_layout(events, pool, "0123456", diagnostics);
    ASSERT_EQ(events.size(), 7u);
    for (size_t i : {0u, 1u, 2u, 3u}) EXPECT_TRUE(pool.spec(events[i]).is_inline()) << i;
    EXPECT_FALSE(pool.spec(events[4]).is_inline());
    EXPECT_FALSE(pool.spec(events[6]).is_inline());
    EXPECT_TRUE(diagnostics.empty());
}
