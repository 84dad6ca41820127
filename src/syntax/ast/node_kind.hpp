#pragma once
// The 23 node kinds of the JSON node list, derived from registry entries.

#include <cstdint>

#include "syntax/ast/node.hpp"

namespace kogane {

enum class NodeKind : uint8_t {
    Ruby, Bouten, CombineUpright, Gaiji, Indent, AlignEnd, Center, LineGothic, LineFontSize,
    PageBreak, SectionBreak, BodyEnd, ForcedBreak, Heading, HeadingHint, Illustration, Kaeriten,
    Directive, AngleQuote, Emphasis, MarginNote, ContainerOpen, ContainerClose,
};

inline constexpr const char* kNodeKindNames[23] = {
    "ruby", "bouten", "combineUpright", "gaiji", "indent", "alignEnd", "center", "lineGothic",
    "lineFontSize", "pageBreak", "sectionBreak", "bodyEnd", "forcedBreak", "heading", "headingHint",
    "illustration", "kaeriten", "directive", "angleQuote", "emphasis", "marginNote", "containerOpen",
    "containerClose",
};

inline const char* node_kind_name(NodeKind k) { return kNodeKindNames[static_cast<uint8_t>(k)]; }

inline NodeKind node_kind_of(const RegistryEntry& e) {
    if (e.kind == SentinelKind::BlockOpen) return NodeKind::ContainerOpen;
    if (e.kind == SentinelKind::BlockClose) return NodeKind::ContainerClose;
    const Node& n = e.node;
    switch (n.tag) {
        case NodeTag::Ruby: return NodeKind::Ruby;
        case NodeTag::Format:
            if (n.format.style.is_bouten()) return NodeKind::Bouten;
            if (n.format.style.kind() == StyleKind::CombineUpright) return NodeKind::CombineUpright;
            return NodeKind::Emphasis;
        case NodeTag::Gaiji: return NodeKind::Gaiji;
        case NodeTag::LeafAlign:
            switch (n.leaf.layout) {
                case SingleLine::Indent:
                case SingleLine::IndentRaised: return NodeKind::Indent;
                case SingleLine::AlignEnd: return NodeKind::AlignEnd;
                case SingleLine::Centre: return NodeKind::Center;
                case SingleLine::Gothic: return NodeKind::LineGothic;
                case SingleLine::FontSize: return NodeKind::LineFontSize;
            }
            return NodeKind::LineFontSize;
        case NodeTag::PageBreak: return NodeKind::PageBreak;
        case NodeTag::SectionBreak: return NodeKind::SectionBreak;
        case NodeTag::BodyEnd: return NodeKind::BodyEnd;
        case NodeTag::ForcedBreak: return NodeKind::ForcedBreak;
        case NodeTag::Heading: return NodeKind::Heading;
        case NodeTag::HeadingHint: return NodeKind::HeadingHint;
        case NodeTag::Illustration: return NodeKind::Illustration;
        case NodeTag::Kaeriten: return NodeKind::Kaeriten;
        case NodeTag::Directive: return NodeKind::Directive;
        case NodeTag::AngleQuote: return NodeKind::AngleQuote;
        case NodeTag::MarginNote: return NodeKind::MarginNote;
    }
    return NodeKind::Directive;
}

}  // namespace kogane
