#pragma once
// Node content from a stretch of bracket-group events: the reading of a
// ruby, the inside of ≪…≫. Plain text becomes Text items; gaiji references
// and annotations kept inside the text become their own content items.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/quote_index.hpp"
#include "pipeline/lexer/pair.hpp"
#include "syntax/ast/node.hpp"
#include "syntax/ast/node_store.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// A group's events, the partner table over them, and where their text and
// results go.
struct GroupContext {
    std::span<const PairEvent> events;
    std::span<const uint32_t> partners;
    std::string_view text;
    NodeStore& store;
    const QuoteIndex* quotes = nullptr;
    const AnnotationDispatch* dispatch = nullptr;  // null: classify_annotation

    std::optional<AnnotationResult> classify(const AnnotationInput& in) const {
        return dispatch != nullptr && *dispatch ? (*dispatch)(in) : classify_annotation(in);
    }
};

struct GaijiMatch {
    GaijiItem item;
    Span span;           // from `start` to the end of ］
    uint32_t closer = 0;  // index of the ］
    bool resolved = false;
};

// A gaiji reference whose ［ is events[opener]: the ［ must be followed
// directly by ＃ and closed by its ］ within the group, and the body must
// pass the gaiji acceptance test. `start` is the ※ (or the ［ when
// `no_mark`).
std::optional<GaijiMatch> match_gaiji(const GroupContext& g, uint32_t opener, uint32_t start, bool no_mark);

// Content of the events [first, last), whose text is the byte range `bytes`.
// Appends the diagnostics of the references and annotations inside.
Segment parse_content(const GroupContext& g, uint32_t first, uint32_t last, Span bytes, Diagnostics& diagnostics);

}  // namespace kogane
