#pragma once
// What the classification driver hands the fold: a node, a plain-text run,
// a container open or close, or a line feed, each with its sanitized span.

#include <cstdint>
#include <type_traits>
#include <vector>

#include "collections/span.hpp"
#include "syntax/ast/node.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

enum class EventTag : uint8_t {
    Node = 0,
    TextRun = 1,
    ContainerOpen = 2,
    ContainerClose = 3,
    LineFeed = 4,
};

struct ClassifiedEvent {
    EventTag tag = EventTag::TextRun;
    Node node;           // Node
    ContainerSpec spec;  // ContainerOpen, ContainerClose (the kind being closed)
    Span span;
    // A decoration put on an earlier occurrence of its target, over events
    // already emitted: it follows them in the stream, and the fold moves
    // it back to where its span starts.
    bool out_of_place = false;

    static ClassifiedEvent text_run(Span s) {
        ClassifiedEvent e;
        e.tag = EventTag::TextRun;
        e.span = s;
        return e;
    }
    static ClassifiedEvent line_feed(uint32_t at) {
        ClassifiedEvent e;
        e.tag = EventTag::LineFeed;
        e.span = Span{at, at + 1};
        return e;
    }
    static ClassifiedEvent of_node(const Node& n, Span s) {
        ClassifiedEvent e;
        e.tag = EventTag::Node;
        e.node = n;
        e.span = s;
        return e;
    }
    static ClassifiedEvent open(ContainerSpec c, Span s) {
        ClassifiedEvent e;
        e.tag = EventTag::ContainerOpen;
        e.spec = c;
        e.span = s;
        return e;
    }
    static ClassifiedEvent close(ContainerSpec c, Span s) {
        ClassifiedEvent e;
        e.tag = EventTag::ContainerClose;
        e.spec = c;
        e.span = s;
        return e;
    }
};

// The ordered kaeriten families; a mark of one pairs with the same family.
enum class KaeritenSeries : uint8_t { Numbers, UpDown, Stems, Other };  // 一二三四, 上中下, 甲乙丙丁

// Events are copied through every pass of the fold.
static_assert(std::is_trivially_copyable_v<ClassifiedEvent> && sizeof(ClassifiedEvent) == 64);

// A kaeriten mark met by the classifier, for the fold's placement checks.
struct KaeritenMark {
    Span span;
    KaeritenSeries series = KaeritenSeries::Other;
    uint8_t ordinal = 0;   // position within its series, 1-based; 0 when not recognised
    bool recognised = false;
    bool bracketed = false;  // written in parentheses: ［＃（…）］
};

// What classification produces: the events in order and the kaeriten
// marks met (its diagnostics go to the parse's).
struct ClassifiedStream {
    std::vector<ClassifiedEvent> events;
    std::vector<KaeritenMark> kaeriten;
};

}  // namespace kogane
