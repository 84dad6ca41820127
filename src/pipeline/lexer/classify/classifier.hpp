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

// Classifies the pair events of `text` (the sanitized text), reading them
// from `events` as it goes; nodes and
// their strings go into `store`, this stage's diagnostics are appended to
// `diagnostics`. `quotes` may be null. `dispatch` replaces the annotation
// classifier (tests).
ClassifiedStream classify(PairStream& events, std::string_view text, NodeStore& store,
                          Diagnostics& diagnostics, const QuoteIndex* quotes, const AnnotationDispatch& dispatch = {});

}  // namespace kogane
