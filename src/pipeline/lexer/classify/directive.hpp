#pragma once
// The annotation dispatcher: what one complete bracket group ［＃…］ means.
// The classification driver calls it for every bracket group that is not a
// gaiji reference, and the content parser for annotations inside ruby
// readings and ≪…≫.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <span>
#include <string_view>

#include "collections/span.hpp"
#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/lexer/classify/quote_index.hpp"
#include "pipeline/lexer/pair.hpp"
#include "syntax/ast/node.hpp"
#include "syntax/ast/node_store.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// Partner-table entry of an event whose opener or closer is not in the group.
inline constexpr uint32_t kNoPartner = 0xFFFFFFFFu;


struct AnnotationInput {
    // The buffered events of the enclosing group and its partner table (one
    // entry per event: index of the matching opener or closer, kNoPartner
    // when none). The annotation is events[opener..closer]; indices are into
    // these spans, so a group nested in a larger buffer needs no copy.
    std::span<const PairEvent> events;
    std::span<const uint32_t> partners;
    uint32_t opener = 0;  // the ［
    uint32_t closer = 0;  // the ］
    std::string_view text;  // sanitized text
    NodeStore& store;
    const QuoteIndex* quotes = nullptr;
    // Start of the plain-text run that the annotation ends, when one is
    // active: forward references look for their target inside it.
    std::optional<uint32_t> run_start;
    // The latest events the driver has emitted on the current line, in
    // order (a bounded window): forward references match their target
    // against the text as it reads before the annotation, across rubies
    // and gaiji.
    std::span<const ClassifiedEvent> recent;
    // The same for the line before (headings named on the line below).
    std::span<const ClassifiedEvent> previous_line;
    // The payloads of those events; may be null when both are empty.
    const EventPool* pool = nullptr;
};

enum class AnnotationOutcome : uint8_t { Node, ContainerOpen, ContainerClose };

// A decoration put on an earlier occurrence of a forward-reference target
// on the current line.
struct PlacedFormat {
    Node node;  // a Format node
    Span span;  // the occurrence of the target
};

struct AnnotationResult {
    AnnotationOutcome outcome = AnnotationOutcome::Node;
    Node node;           // outcome Node
    ContainerSpec spec;  // ContainerOpen / ContainerClose
    // Ends at the ］'s end. Starts at the ［, or earlier for a forward
    // reference that covers its target, but never before the run start
    // (nor before the ［ when no run is active); the driver clamps it there.
    Span span;
    std::optional<Diagnostic> diagnostic;
    // The canonical spelling a NonCanonicalDirective diagnostic quotes; the
    // diagnostics list keeps it when the diagnostic is stored.
    std::string canonical;
    // Must lie on the current line before span.start: inside the current
    // run the driver splits the run; further back the fold moves it there.
    std::optional<PlacedFormat> placed;
    std::optional<KaeritenMark> kaeriten;  // appended to the kaeriten list
    // The span starts before the current run: the node covers events the
    // driver has already emitted on this line, which the fold drops.
    bool reaches_back = false;
};

// Nothing when the group is not an annotation; the driver then re-reads it
// as text.
std::optional<AnnotationResult> classify_annotation(const AnnotationInput& in);

// A replacement dispatcher, for driving the classifier with results of
// one's own (tests); an empty one means classify_annotation.
using AnnotationDispatch = std::function<std::optional<AnnotationResult>(const AnnotationInput&)>;

}  // namespace kogane
