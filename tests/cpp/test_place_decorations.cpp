// The fold pass that moves decorations placed on earlier occurrences of
// their targets back into the stream.

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/fold_passes.hpp"

using namespace kogane;

namespace {

ClassifiedEvent run(uint32_t a, uint32_t b) { return ClassifiedEvent::text_run(Span{a, b}); }

// The payloads of every event these tests make.
EventPool& pool() {
    static EventPool p;
    return p;
}

ClassifiedEvent node(NodeTag tag, uint32_t a, uint32_t b) { return pool().of_node(Node::make(tag), Span{a, b}); }

ClassifiedEvent placed(uint32_t a, uint32_t b) {
    ClassifiedEvent e = node(NodeTag::Format, a, b);
    pool().node(e).format.suppressed = FormatPlacement::OnEarlierOccurrence;
    e.out_of_place = true;
    return e;
}

struct Shape {
    EventTag tag;
    NodeTag node;
    uint32_t start, end;
    friend bool operator==(const Shape&, const Shape&) = default;
};

std::vector<Shape> shapes(const EventList& events) {
    std::vector<Shape> out;
    for (const ClassifiedEvent& e : events) {
        EXPECT_FALSE(e.out_of_place);
        out.push_back(Shape{e.tag, e.tag == EventTag::Node ? pool().node(e).tag : NodeTag::PageBreak, e.span.start, e.span.end});
    }
    return out;
}

constexpr NodeTag kNone = NodeTag::PageBreak;

}  // namespace

TEST(PlaceDecorations, CutsTheRunItLandsIn) {
    // 電燈とそして | ruby | annotation, with 電燈 decorated
    EventList events = {run(0, 18), node(NodeTag::Ruby, 18, 39), placed(0, 6),
                                           node(NodeTag::Format, 39, 78)};
    place_decorations(events);
    EXPECT_EQ(shapes(events), (std::vector<Shape>{{EventTag::Node, NodeTag::Format, 0, 6},
                                                  {EventTag::TextRun, kNone, 6, 18},
                                                  {EventTag::Node, NodeTag::Ruby, 18, 39},
                                                  {EventTag::Node, NodeTag::Format, 39, 78}}));
}

TEST(PlaceDecorations, CoversWholeEventsAndCutsTheRunAfter) {
    // text | ruby | text; the decoration runs from inside the first run,
    // over the ruby, into the last run
    EventList events = {run(0, 9), node(NodeTag::Ruby, 9, 30), run(30, 42), placed(3, 33),
                                           node(NodeTag::Format, 42, 70)};
    place_decorations(events);
    EXPECT_EQ(shapes(events), (std::vector<Shape>{{EventTag::TextRun, kNone, 0, 3},
                                                  {EventTag::Node, NodeTag::Format, 3, 33},
                                                  {EventTag::TextRun, kNone, 33, 42},
                                                  {EventTag::Node, NodeTag::Format, 42, 70}}));
}

TEST(PlaceDecorations, SeveralInOneRunAndOverlapsDropped) {
    EventList events = {run(0, 30),         node(NodeTag::Kaeriten, 30, 36), placed(12, 18),
                                           placed(3, 6),       placed(15, 21),                  node(NodeTag::Ruby, 36, 50),
                                           placed(33, 40)};
    place_decorations(events);
    // 15..21 overlaps 12..18 and 33..40 starts inside the kaeriten: both dropped
    EXPECT_EQ(shapes(events), (std::vector<Shape>{{EventTag::TextRun, kNone, 0, 3},
                                                  {EventTag::Node, NodeTag::Format, 3, 6},
                                                  {EventTag::TextRun, kNone, 6, 12},
                                                  {EventTag::Node, NodeTag::Format, 12, 18},
                                                  {EventTag::TextRun, kNone, 18, 30},
                                                  {EventTag::Node, NodeTag::Kaeriten, 30, 36},
                                                  {EventTag::Node, NodeTag::Ruby, 36, 50}}));
}

TEST(PlaceDecorations, NothingToPlaceLeavesTheStream) {
    EventList events = {run(0, 3), node(NodeTag::Ruby, 3, 9), ClassifiedEvent::line_feed(9)};
    place_decorations(events);
    EXPECT_EQ(shapes(events).size(), 3u);
}

TEST(PlaceDecorations, EveryPlacementCuttingOneRunKeepsWhatFollows) {
    // Each placement cuts the one run, so the merge writes two events for
    // each: the most it can write before reading the next event.
    EventList events = {run(0, 30), placed(15, 18), placed(3, 6), placed(9, 12),
                                           node(NodeTag::Ruby, 30, 40), ClassifiedEvent::line_feed(40),
                                           placed(33, 36)};
    place_decorations(events);
    EXPECT_EQ(shapes(events), (std::vector<Shape>{{EventTag::TextRun, kNone, 0, 3},
                                                  {EventTag::Node, NodeTag::Format, 3, 6},
                                                  {EventTag::TextRun, kNone, 6, 9},
                                                  {EventTag::Node, NodeTag::Format, 9, 12},
                                                  {EventTag::TextRun, kNone, 12, 15},
                                                  {EventTag::Node, NodeTag::Format, 15, 18},
                                                  {EventTag::TextRun, kNone, 18, 30},
                                                  {EventTag::Node, NodeTag::Ruby, 30, 40},
                                                  {EventTag::LineFeed, kNone, 40, 41}}));
    // Room is left for what the later passes add.
    EXPECT_GE(events.capacity(), events.size() + 64);
}
