#include "pipeline/lexer/classify/directive.hpp"

namespace kogane {

namespace {

thread_local AnnotationOverride g_override;

bool is_event(const PairEvent& e, PairTag tag, uint8_t kind) { return e.tag == tag && e.kind == kind; }

}  // namespace

void set_annotation_override(AnnotationOverride replacement) { g_override = std::move(replacement); }

std::optional<AnnotationResult> classify_annotation(const AnnotationInput& in) {
    if (g_override) return g_override(in);

    if (in.closer >= in.events.size() || in.opener + 1 >= in.closer) return std::nullopt;
    const PairEvent& open = in.events[in.opener];
    const PairEvent& close = in.events[in.closer];
    if (!is_event(open, PairTag::Open, uint8_t(PairKind::Bracket)) ||
        !is_event(close, PairTag::Close, uint8_t(PairKind::Bracket)) ||
        !is_event(in.events[in.opener + 1], PairTag::Trigger, uint8_t(TriggerKind::Hash)))
        return std::nullopt;

    // Until the keyword rules land, every annotation is kept as a remark.
    AnnotationResult r;
    r.span = Span{open.start, close.end};
    r.node = Node::make_directive(in.store.intern(slice(in.text, r.span)), kRemarkUnrecognised);
    return r;
}

}  // namespace kogane
