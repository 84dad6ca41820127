#pragma once
// Forward references: annotations that name quoted targets in the text
// before them (［＃「東京」に傍点］) and say what to do with them.

#include <string>
#include <string_view>

#include "pipeline/lexer/classify/directive.hpp"

namespace kogane {

enum class ForwardStatus : uint8_t {
    NotForward,      // no forward form applies; the dispatcher goes on
    TargetNotFound,  // a forward form whose target is not in the text before
    Classified,
};

struct ForwardOutcome {
    ForwardStatus status = ForwardStatus::NotForward;
    AnnotationResult result;
    // TargetNotFound: what the remark that keeps the annotation reports.
    DiagTag missing = DiagTag::ForwardTargetNotFound;
};

// How an emitted node reads when a forward target or a heading runs through
// it: a ruby as its base, a gaiji as ※, a decoration as its target, and
// what shows nothing (kaeriten, hidden remarks) as nothing. No reading for
// nodes a target cannot cross.
std::optional<std::string> node_reading(const Node& n, const NodeStore& store);

// How consecutive events read (text runs as written, nodes as above), or
// nothing when one cannot be read or they leave a gap.
std::optional<std::string> events_reading(std::span<const ClassifiedEvent> events, const EventPool& pool,
                                          std::string_view text, const NodeStore& store, bool* markup);

// `target` as it reads: ruby readings and ｜ left out, each gaiji reference
// read as ※, other annotations inside it read as nothing; a target that
// would read as nothing at all reads as written.
std::string target_reading(std::string_view target);

// `body` is the trimmed annotation body.
ForwardOutcome classify_forward(const AnnotationInput& in, std::string_view body);

// Lists, for the quote index, every target an annotation of `text` may ask
// about: the text of each 「…」 that opens an annotation body (［＃「…」,
// and each 「…」 chained right after it) as written and as it reads, with
// the offset of the annotation's ［. A list that holds more than the
// annotations ask for costs only a little scanning. Of `links` only the
// quotations are read.
void list_forward_targets(std::string_view text, std::span<const PairLink> links, const QuoteIndex::TargetSink& add);

// Whether `target` occurs in the sanitized text before `offset`.
bool target_precedes(const AnnotationInput& in, std::string_view target, uint32_t offset);

}  // namespace kogane
