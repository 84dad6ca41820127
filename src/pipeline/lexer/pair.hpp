#pragma once
// Third lexer stage: matches openers and closers into pair events and links.

#include <cstdint>
#include <vector>

#include "pipeline/lexer/tokenize.hpp"

namespace kogane {

enum class PairTag : uint8_t {
    Text = 0,
    Trigger = 1,
    Open = 2,
    Close = 3,
    Unclosed = 4,
    Unmatched = 5,
    Newline = 6,
};

struct PairEvent {
    PairTag tag = PairTag::Text;
    uint8_t kind = 0;  // TriggerKind for Trigger, PairKind for the bracket tags
    uint32_t start = 0;  // Newline: offset of the line feed
    uint32_t end = 0;

    Span span() const { return Span{start, end}; }
    PairKind pair_kind() const { return static_cast<PairKind>(kind); }
};

struct PairLink {
    Span open;
    Span close;
    PairKind kind = PairKind::Bracket;
};

struct PairedStream {
    Diagnostics diagnostics;
    std::vector<PairEvent> events;
    std::vector<PairLink> links;
    SharedText text;
    bool sanitized_is_source = false;
    SharedText source;
};

PairedStream pair(TokenStream input);

}  // namespace kogane
