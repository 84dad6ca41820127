#include "pipeline/lexer/pair.hpp"

#include <algorithm>
#include <array>

#include "collections/small_vector.hpp"

namespace kogane {

namespace {

inline PairEvent make_event(PairTag tag, uint8_t kind, Span s) { return PairEvent{tag, kind, s.start, s.end}; }
inline PairEvent make_event(PairTag tag, PairKind kind, Span s) {
    return make_event(tag, static_cast<uint8_t>(kind), s);
}

// One pass over the tokens, writing the events in order: every token gives
// one, and an opener left unclosed gives one more where it is given up (at
// a ］ reaching past it, at a line end for ［, or at the end of the text).
class Pairer {
public:
    Pairer(std::vector<PairEvent>& events, std::vector<PairLink>& links, Diagnostics& diagnostics)
        : events_(events), links_(links), diagnostics_(diagnostics) {}

    void token(const Token& t) {
        if (t.tag == TokenTag::Text) {
            events_.push_back(PairEvent{PairTag::Text, 0, t.start, t.end});
            return;
        }
        if (t.tag == TokenTag::Newline) {
            on_newline(t.start);
            return;
        }
        const TriggerRole role = kTriggerRoles[t.kind < kTriggerCount ? t.kind : 0];
        if (role.opens) {
            push_open(role.kind, t.span());
            events_.push_back(make_event(PairTag::Open, role.kind, t.span()));
        } else if (role.closes) {
            on_close(role.kind, t.span());
        } else {
            events_.push_back(PairEvent{PairTag::Trigger, t.kind, t.start, t.end});
        }
    }

    // Input exhausted: report what is still open, innermost first.
    void finish() {
        while (!stack_.empty()) unclosed(pop_open());
    }

private:
    struct OpenEntry {
        PairKind kind;
        Span span;
    };

    void push_open(PairKind kind, Span span) {
        stack_.push_back(OpenEntry{kind, span});
        ++open_count_[static_cast<uint8_t>(kind)];
    }
    OpenEntry pop_open() {
        const OpenEntry top = stack_.back();
        stack_.pop_back();
        --open_count_[static_cast<uint8_t>(top.kind)];
        return top;
    }

    void unclosed(OpenEntry entry) {
        diagnostics_.push_back(Diagnostic::unclosed_bracket(entry.kind, entry.span));
        events_.push_back(make_event(PairTag::Unclosed, entry.kind, entry.span));
    }

    void on_close(PairKind kind, Span span) {
        if (!stack_.empty() && stack_.back().kind == kind) {
            const OpenEntry top = pop_open();
            links_.push_back(PairLink{top.span, span, kind});
            events_.push_back(make_event(PairTag::Close, kind, span));
            return;
        }
        close_with_recovery(kind, span);
    }

    void close_with_recovery(PairKind kind, Span span) {
        // Only ］ reaches past other open entries, and only when a ［ is open.
        if (kind == PairKind::Bracket && open_count_[static_cast<uint8_t>(PairKind::Bracket)] > 0) {
            while (stack_.back().kind != PairKind::Bracket) unclosed(pop_open());
            const OpenEntry opener = pop_open();
            links_.push_back(PairLink{opener.span, span, kind});
            events_.push_back(make_event(PairTag::Close, kind, span));
            return;
        }
        diagnostics_.push_back(Diagnostic::unmatched_close(kind, span));
        events_.push_back(make_event(PairTag::Unmatched, kind, span));
    }

    void on_newline(uint32_t offset) {
        // An annotation bracket never spans a line end; other pairs may.
        while (!stack_.empty() && stack_.back().kind == PairKind::Bracket) unclosed(pop_open());
        events_.push_back(make_event(PairTag::Newline, uint8_t{0}, Span{offset, offset + 1}));
    }

    std::vector<PairEvent>& events_;
    std::vector<PairLink>& links_;
    Diagnostics& diagnostics_;
    SmallVector<OpenEntry, 8> stack_;
    // Open entries per PairKind, so a ］ search that cannot succeed is skipped.
    std::array<uint32_t, 5> open_count_{};
};

}  // namespace

PairedEvents pair(std::span<const Token> tokens, Diagnostics& diagnostics) {
    PairedEvents out;
    // Every token yields one event and an unclosed opener one more. Reserved
    // at that bound so the stream never grows by copying; pages past those
    // written are never touched, so the bound costs address space only.
    out.events.reserve(tokens.size() * 2);
    // Each opener gives at most one unclosed report and each closer at most
    // one unmatched report; past the per-code limit they are only counted.
    // Reserving that bound spares the list its growth copies, which on a
    // flood of brackets would briefly hold the diagnostics twice over.
    size_t brackets = 0;
    for (const Token& t : tokens) {
        if (t.tag != TokenTag::Text && t.tag != TokenTag::Newline) {
            const TriggerRole role = kTriggerRoles[t.kind < kTriggerCount ? t.kind : 0];
            brackets += role.opens || role.closes;
        }
    }
    diagnostics.reserve(diagnostics.size() + std::min<size_t>(brackets, 2 * (size_t{kMaxDiagnosticsPerCode} + 1)));
    Pairer pairer(out.events, out.links, diagnostics);
    for (const Token& t : tokens) pairer.token(t);
    pairer.finish();
    return out;
}

}  // namespace kogane
