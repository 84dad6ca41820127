#include "pipeline/lexer/pair.hpp"

namespace kogane {

namespace {

// TriggerKind -> (is opener, is closer, PairKind); Bar, Hash and RefMark
// are neither.
struct TriggerRole {
    bool opens;
    bool closes;
    PairKind kind;
};

constexpr TriggerRole kRoles[kTriggerCount] = {
    {false, false, PairKind::Bracket},     // Bar
    {true, false, PairKind::Ruby},         // RubyOpen
    {false, true, PairKind::Ruby},         // RubyClose
    {true, false, PairKind::AngleQuote},   // AngleQuoteOpen
    {false, true, PairKind::AngleQuote},   // AngleQuoteClose
    {true, false, PairKind::Bracket},      // BracketOpen
    {false, true, PairKind::Bracket},      // BracketClose
    {false, false, PairKind::Bracket},     // Hash
    {false, false, PairKind::Bracket},     // RefMark
    {true, false, PairKind::Tortoise},     // TortoiseOpen
    {false, true, PairKind::Tortoise},     // TortoiseClose
    {true, false, PairKind::Quote},        // QuoteOpen
    {false, true, PairKind::Quote},        // QuoteClose
};

inline PairEvent make_event(PairTag tag, uint8_t kind, Span s) { return PairEvent{tag, kind, s.start, s.end}; }
inline PairEvent make_event(PairTag tag, PairKind kind, Span s) {
    return make_event(tag, static_cast<uint8_t>(kind), s);
}

}  // namespace

void PairIterator::push_open(PairKind kind, Span span) {
    stack_.push_back(OpenEntry{kind, span});
    ++open_count_[static_cast<uint8_t>(kind)];
}

PairIterator::OpenEntry PairIterator::pop_open() {
    const OpenEntry top = stack_.back();
    stack_.pop_back();
    --open_count_[static_cast<uint8_t>(top.kind)];
    return top;
}

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

PairEvent PairIterator::on_close(PairKind kind, Span span) {
    if (!stack_.empty() && stack_.back().kind == kind) {
        const OpenEntry top = pop_open();
        links_.push_back(PairLink{top.span, span, kind});
        return make_event(PairTag::Close, kind, span);
    }
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

PairEvent PairIterator::on_newline(uint32_t offset) {
    const PairEvent newline = make_event(PairTag::Newline, uint8_t{0}, Span{offset, offset + 1});
    // An annotation bracket never spans a line end; other pairs may.
    if (stack_.empty() || stack_.back().kind != PairKind::Bracket) return newline;
    while (!stack_.empty() && stack_.back().kind == PairKind::Bracket) queue(unclosed(pop_open()));
    queue(newline);
    PairEvent first;
    pop_queued(first);
    return first;
}

bool PairIterator::next(PairEvent& event) {
    if (finished_) return false;
    if (pop_queued(event)) return true;
    if (cursor_ < tokens_.size()) {
        const Token& t = tokens_[cursor_++];
        switch (t.tag) {
            case TokenTag::Text:
                event = make_event(PairTag::Text, uint8_t{0}, t.span());
                return true;
            case TokenTag::Newline:
                event = on_newline(t.start);
                return true;
            case TokenTag::Trigger: {
                const TriggerRole role = kRoles[t.kind < kTriggerCount ? t.kind : 0];
                if (role.opens) {
                    push_open(role.kind, t.span());
                    event = make_event(PairTag::Open, role.kind, t.span());
                } else if (role.closes) {
                    event = on_close(role.kind, t.span());
                } else {
                    event = make_event(PairTag::Trigger, t.kind, t.span());
                }
                return true;
            }
        }
    }
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
    // Every token yields one event; only unclosed openers add more.
    out.events.reserve(input.tokens.size());
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
