#include "pipeline/lexer/classify/classifier.hpp"

namespace kogane {

// Placeholder until the driver lands: every byte is plain text.
struct Classifier::State {
    std::span<const PairEvent> events;
    std::string_view text;
    bool done = false;
};

Classifier::Classifier(std::span<const PairEvent> events, std::string_view text, NodeStore&, const QuoteIndex*)
    : state_(std::make_unique<State>()) {
    state_->events = events;
    state_->text = text;
}

Classifier::~Classifier() = default;

std::optional<ClassifiedEvent> Classifier::next() {
    if (state_->done || state_->text.empty()) return std::nullopt;
    state_->done = true;
    return ClassifiedEvent::text_run(Span{0, static_cast<uint32_t>(state_->text.size())});
}

Diagnostics Classifier::take_diagnostics() { return {}; }
std::vector<KaeritenMark> Classifier::take_kaeriten() { return {}; }

}  // namespace kogane
