#pragma once
// What the classification driver hands the fold: a node, a plain-text run,
// a container open or close, or a line feed, each with its sanitized span.

#include <cstdint>
#include <type_traits>
#include <vector>

#include "collections/spare_buffers.hpp"
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

// Sixteen bytes whatever the payload: a node or a container spec lives in
// the EventPool of the stream, named by `payload`.
struct ClassifiedEvent {
    EventTag tag = EventTag::TextRun;
    // A decoration put on an earlier occurrence of its target, over events
    // already emitted: it follows them in the stream, and the fold moves
    // it back to where its span starts.
    bool out_of_place = false;
    uint32_t payload = 0;  // Node: index of its node; ContainerOpen / ContainerClose: of its spec
    Span span;

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
};

// Events are copied through every pass of the fold.
static_assert(std::is_trivially_copyable_v<ClassifiedEvent> && sizeof(ClassifiedEvent) == 16);

// A parse's events: a long book's are tens of megabytes, kept for the next
// parse when they go.
using EventList = SpareVector<ClassifiedEvent>;

// The payloads of classified events: nodes and container specs, appended
// when an event is made and read through the event. Nothing is removed, so
// an event keeps its payload however the fold moves or copies it; a pass
// that changes a payload in place changes it for that one event.
class EventPool {
public:
    ClassifiedEvent of_node(const Node& n, Span s) { return make(EventTag::Node, push(nodes_, n), s); }
    // `c` is the kind being closed, for a close.
    ClassifiedEvent open(const ContainerSpec& c, Span s) { return make(EventTag::ContainerOpen, push(specs_, c), s); }
    ClassifiedEvent close(const ContainerSpec& c, Span s) { return make(EventTag::ContainerClose, push(specs_, c), s); }

    // `e` must be a Node event.
    const Node& node(const ClassifiedEvent& e) const { return nodes_[e.payload]; }
    Node& node(const ClassifiedEvent& e) { return nodes_[e.payload]; }
    // `e` must be a ContainerOpen or ContainerClose event.
    const ContainerSpec& spec(const ClassifiedEvent& e) const { return specs_[e.payload]; }
    ContainerSpec& spec(const ClassifiedEvent& e) { return specs_[e.payload]; }

    size_t node_count() const { return nodes_.size(); }
    // Room for `n` nodes in all (never less than there is).
    void reserve_nodes(size_t n) { nodes_.reserve(n); }
    size_t spec_count() const { return specs_.size(); }

private:
    template <typename Pool>
    static uint32_t push(Pool& pool, const typename Pool::value_type& value) {
        // Fewer payloads than bytes of text, whose length fits in 32 bits.
        const auto at = static_cast<uint32_t>(pool.size());
        pool.push_back(value);
        return at;
    }
    static ClassifiedEvent make(EventTag tag, uint32_t payload, Span s) {
        ClassifiedEvent e;
        e.tag = tag;
        e.payload = payload;
        e.span = s;
        return e;
    }

    SpareVector<Node> nodes_;
    std::vector<ContainerSpec> specs_;
};

// The ordered kaeriten families; a mark of one pairs with the same family.
enum class KaeritenSeries : uint8_t { Numbers, UpDown, Stems, Other };  // 一二三四, 上中下, 甲乙丙丁

// A kaeriten mark met by the classifier, for the fold's placement checks.
struct KaeritenMark {
    Span span;
    KaeritenSeries series = KaeritenSeries::Other;
    uint8_t ordinal = 0;   // position within its series, 1-based; 0 when not recognised
    bool recognised = false;
    bool bracketed = false;  // written in parentheses: ［＃（…）］
};

// What classification produces: the events in order with their payloads,
// and the kaeriten marks met (its diagnostics go to the parse's). The fold
// consumes it, so the payloads live no longer than the parse.
struct ClassifiedStream {
    EventList events;
    EventPool pool;
    std::vector<KaeritenMark> kaeriten;
};

}  // namespace kogane
