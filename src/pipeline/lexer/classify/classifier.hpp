#pragma once
// The classification stage: pair events to classified events (text runs,
// line feeds, nodes, container opens and closes).

#include <span>
#include <string_view>
#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/quote_index.hpp"
#include "pipeline/lexer/pair.hpp"
#include "syntax/ast/node_store.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// How many events a bracket group holds before the classifier looks ahead
// for openers that stay open to the end of the text. Real books never get
// there; an opener left open early in a long text does.
inline constexpr uint32_t kLongGroupEvents = 1u << 16;
// Holds every group until it ends, re-reading those that end unclassified
// (the result is the same; tests compare the two).
inline constexpr uint32_t kKeepEveryGroup = 0;

// Classifies the pair events of `text` (the sanitized text), reading them
// from `events` as it goes; nodes and
// their strings go into `store`, this stage's diagnostics are appended to
// `diagnostics`. `quotes` may be null. `dispatch` replaces the annotation
// classifier (tests). `long_group_events`: see kLongGroupEvents and
// kKeepEveryGroup; the result never depends on it (tests and fuzzing make
// it tiny).
ClassifiedStream classify(PairStream& events, std::string_view text, NodeStore& store,
                          Diagnostics& diagnostics, const QuoteIndex* quotes, const AnnotationDispatch& dispatch = {},
                          uint32_t long_group_events = kLongGroupEvents);

}  // namespace kogane
