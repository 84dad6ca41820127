#pragma once
// The classification driver: a pull iterator from pair events to classified
// events (text runs, line feeds, nodes, container opens and closes).

#include <memory>
#include <optional>
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

class Classifier {
public:
    // `events` and `text` (the sanitized text) must outlive the classifier;
    // nodes and their strings go into `store`. `quotes` may be null.
    // `dispatch` replaces the annotation classifier (tests).
    Classifier(std::span<const PairEvent> events, std::string_view text, NodeStore& store,
               const QuoteIndex* quotes, AnnotationDispatch dispatch = {});
    ~Classifier();
    Classifier(const Classifier&) = delete;
    Classifier& operator=(const Classifier&) = delete;

    // The next classified event, or nothing once everything is flushed.
    std::optional<ClassifiedEvent> next();

    // Outputs read after the stream has ended.
    Diagnostics take_diagnostics();
    std::vector<KaeritenMark> take_kaeriten();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kogane
