#include "pipeline/lexer/pair.hpp"

namespace kogane {

namespace {

inline PairEvent make_event(PairTag tag, uint8_t kind, Span s) { return PairEvent{tag, kind, s.start, s.end}; }
inline PairEvent make_event(PairTag tag, PairKind kind, Span s) {
    return make_event(tag, static_cast<uint8_t>(kind), s);
}

}  // namespace

bool PairIterator::pop_queued(PairEvent& event) {
    if (queue_head_ == queue_.size()) return false;
    event = queue_[queue_head_++];
    // Drained: rewind so the in-place slots are reused.
    if (queue_head_ == queue_.size()) {
        queue_.clear();
        queue_head_ = 0;
    }
    return true;
}

PairEvent PairIterator::unclosed(OpenEntry entry) {
    diagnostics_.push_back(Diagnostic::unclosed_bracket(entry.kind, entry.span));
    return make_event(PairTag::Unclosed, entry.kind, entry.span);
}

PairEvent PairIterator::close_with_recovery(PairKind kind, Span span) {
    // Only ］ reaches past other open entries, and only when a ［ is open.
    if (kind == PairKind::Bracket && open_count_[static_cast<uint8_t>(PairKind::Bracket)] > 0) {
        while (stack_.back().kind != PairKind::Bracket) queue(unclosed(pop_open()));
        const OpenEntry opener = pop_open();
        links_.push_back(PairLink{opener.span, span, kind});
        queue(make_event(PairTag::Close, kind, span));
        PairEvent first;
        pop_queued(first);
        return first;
    }
    diagnostics_.push_back(Diagnostic::unmatched_close(kind, span));
    return make_event(PairTag::Unmatched, kind, span);
}

PairEvent PairIterator::newline_closing_brackets(uint32_t offset) {
    while (!stack_.empty() && stack_.back().kind == PairKind::Bracket) queue(unclosed(pop_open()));
    queue(make_event(PairTag::Newline, uint8_t{0}, Span{offset, offset + 1}));
    PairEvent first;
    pop_queued(first);
    return first;
}

bool PairIterator::next_slow(PairEvent& event) {
    if (finished_) return false;
    if (pop_queued(event)) return true;
    if (cursor_ < tokens_.size()) return next(event);
    // Input exhausted: report what is still open, innermost first.
    if (!stack_.empty()) {
        event = unclosed(pop_open());
        return true;
    }
    finished_ = true;
    return false;
}

PairedStream pair(TokenStream input) {
    PairedStream out;
    PairIterator it(input.tokens);
    // Every token yields one event and an unclosed opener one more. Reserved
    // at that bound so the stream never grows by copying; pages past those
    // written are never touched, so the bound costs address space only.
    out.events.reserve(input.tokens.size() * 2);
    PairEvent e;
    while (it.next(e)) out.events.push_back(e);
    out.links = it.take_links();
    Diagnostics mine = it.take_diagnostics();
    out.diagnostics = std::move(input.diagnostics);
    if (out.diagnostics.empty()) {
        out.diagnostics = std::move(mine);
    } else {
        out.diagnostics.insert(out.diagnostics.end(), std::make_move_iterator(mine.begin()),
                               std::make_move_iterator(mine.end()));
    }
    out.text = std::move(input.text);
    out.sanitized_is_source = input.sanitized_is_source;
    out.source = std::move(input.source);
    return out;
}

}  // namespace kogane
