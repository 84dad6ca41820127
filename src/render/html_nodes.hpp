#pragma once
// HTML for single constructs: nodes, node content, container tags and the
// slug table. The document walk (html.cpp) decides where they go.

#include <cstdint>
#include <string>
#include <string_view>

#include "pipeline/snapshot.hpp"

namespace kogane::html {

// Class suffix for a Japanese keyword, or `fallback` when it has none.
const char* slug(std::string_view keyword, const char* fallback);

// Walks a fragment snapshot inline: no paragraphs, no containers.
void walk_fragment(std::string& out, const ParseSnapshot& fragment, int depth);

// True when the text holds a markup pair worth parsing again.
bool needs_fragment_parse(std::string_view text);

class NodeWriter {
public:
    // `depth` counts the fragment parses this writer is nested in.
    NodeWriter(std::string& out, const NodeStore& store, int depth) : out_(out), store_(store), depth_(depth) {}

    // Any node. Warichu markers (RemarkKind::WarichuOpen, WarichuClose) open and close
    // spans against `open_spans`, never closing one they did not open.
    void node(const Node& n, uint32_t& open_spans);
    void directive(std::string_view raw, RemarkKind kind, uint32_t& open_spans);

    void container_open(const ContainerSpec& spec);
    void container_close(const ContainerSpec& spec);

    void text(std::string_view t);

private:
    void content(ContentRef ref);
    void items(const Segment& run, uint32_t& open_spans);
    void text_or_fragment(std::string_view t);
    void ruby(const RubyNode& r);
    void format(const FormatNode& f);
    void styled(FormatStyle style, ContentRef target, FormatMode mode, StringId spec);
    void gaiji(const GaijiItem& g);
    void leaf_align(const LeafAlignNode& leaf);
    void heading_open(HeadingLevel level, HeadingStyle style);
    void heading_close(HeadingLevel level, HeadingStyle style);
    void section_break(SectionBreak kind);
    void heading(const HeadingNode& h);
    void heading_hint(const HeadingHintNode& h);
    void kaeriten(const KaeritenNode& k);
    void angle_quote(const AngleQuoteNode& a);
    void margin_note(const MarginNoteNode& m);
    void illustration(const IllustrationNode& il);
    void indent_open(const ContainerSpec& spec);
    void bouten_open(const BoutenRangeSpec& b);
    void inline_style_open(const InlineStyleSpec& s);
    void run_in_heading_open(const HeadingSpec& h);
    void counted_div_open(std::string_view classes_and_attribute, uint32_t n);
    void font_size_open(const FontSizeSpec& f, bool block);
    void number(uint32_t v);

    std::string& out_;
    const NodeStore& store_;
    int depth_;
};

}  // namespace kogane::html
