#include "pipeline/lexer/classify/content.hpp"

#include "collections/small_vector.hpp"
#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/gaiji.hpp"

namespace kogane {

namespace {

bool is_event(const PairEvent& e, PairTag tag, uint8_t kind) { return e.tag == tag && e.kind == kind; }

bool is_bracket_open(const PairEvent& e) { return is_event(e, PairTag::Open, uint8_t(PairKind::Bracket)); }

// Index of the ］ closing the ［ at `opener` when both lie before `last`.
std::optional<uint32_t> closer_within(const GroupContext& g, uint32_t opener, uint32_t last) {
    if (opener >= g.partners.size()) return std::nullopt;
    uint32_t p = g.partners[opener];
    if (p == kNoPartner || p <= opener || p >= last) return std::nullopt;
    return p;
}

}  // namespace

std::optional<GaijiMatch> match_gaiji(const GroupContext& g, uint32_t opener, uint32_t start, bool no_mark) {
    if (opener + 1 >= g.events.size() || !is_bracket_open(g.events[opener])) return std::nullopt;
    if (!is_event(g.events[opener + 1], PairTag::Trigger, uint8_t(TriggerKind::Hash))) return std::nullopt;
    std::optional<uint32_t> closer = closer_within(g, opener, uint32_t(g.events.size()));
    if (!closer || *closer <= opener + 1) return std::nullopt;
    const PairEvent& close = g.events[*closer];
    if (!is_event(close, PairTag::Close, uint8_t(PairKind::Bracket))) return std::nullopt;

    const uint32_t body_start = g.events[opener + 1].end;
    if (body_start > close.start) return std::nullopt;
    std::optional<GaijiRef> ref = accept_gaiji_body(slice(g.text, Span{body_start, close.start}));
    if (!ref) return std::nullopt;

    GaijiMatch m;
    m.item.description = g.store.intern(ref->description);
    m.item.code = classify_code(ref->mencode, g.store);
    m.item.separated = ref->separated;
    m.item.no_mark = no_mark;
    m.span = Span{start, close.end};
    m.closer = *closer;
    m.resolved = resolve_gaiji(gaiji_code_text(ref->mencode), ref->description).has_value();
    return m;
}

Segment parse_content(const GroupContext& g, uint32_t first, uint32_t last, Span bytes, Diagnostics& diagnostics) {
    SmallVector<ContentItem, 8> items;
    uint32_t pending = bytes.start;  // start of the plain text not yet itemised
    auto text_until = [&](uint32_t end) {
        if (end > pending) items.push_back(ContentItem::make_text(g.store.intern(slice(g.text, Span{pending, end}))));
    };

    for (uint32_t k = first; k < last; ++k) {
        const PairEvent& e = g.events[k];
        if (is_event(e, PairTag::Trigger, uint8_t(TriggerKind::RefMark)) && k + 1 < last &&
            closer_within(g, k + 1, last)) {
            if (std::optional<GaijiMatch> m = match_gaiji(g, k + 1, e.start, false)) {
                if (!m->resolved) diagnostics.push_back(Diagnostic::simple(DiagTag::UnresolvedGaiji, m->span));
                text_until(e.start);
                items.push_back(ContentItem::make_gaiji(m->item));
                pending = m->span.end;
                k = m->closer;
                continue;
            }
        }
        if (!is_bracket_open(e)) continue;
        std::optional<uint32_t> closer = closer_within(g, k, last);
        if (!closer) continue;
        AnnotationInput in{g.events, g.partners, k, *closer, g.text, g.store, g.quotes, std::nullopt, {}, {}};
        std::optional<AnnotationResult> r = g.classify(in);
        // Only what can stand inside running text is kept as an item; any
        // other annotation stays part of the plain text.
        if (!r || r->outcome != AnnotationOutcome::Node) continue;
        ContentItem item;
        if (r->node.tag == NodeTag::Directive)
            item = ContentItem::make_directive(r->node.directive.raw, r->node.directive.kind);
        else if (r->node.tag == NodeTag::Gaiji)
            item = ContentItem::make_gaiji(r->node.gaiji);
        else
            continue;
        if (r->diagnostic) diagnostics.push_back(*r->diagnostic, r->canonical);
        text_until(e.start);
        items.push_back(item);
        pending = g.events[*closer].end;
        k = *closer;
    }
    text_until(bytes.end);
    return g.store.segment_from_items(std::span<const ContentItem>(items.data(), items.size()));
}

}  // namespace kogane
