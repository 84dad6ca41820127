#pragma once
// Third lexer stage: matches openers and closers into pair events and links.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "collections/small_vector.hpp"
#include "pipeline/lexer/tokenize.hpp"

namespace kogane {

enum class PairTag : uint8_t {
    Text = 0,
    Trigger = 1,
    Open = 2,
    Close = 3,
    Unclosed = 4,
    Unmatched = 5,
    Newline = 6,
};

struct PairEvent {
    PairTag tag = PairTag::Text;
    uint8_t kind = 0;  // TriggerKind for Trigger, PairKind for the bracket tags
    uint32_t start = 0;  // Newline: offset of the line feed
    uint32_t end = 0;

    Span span() const { return Span{start, end}; }
    PairKind pair_kind() const { return static_cast<PairKind>(kind); }
};

struct PairLink {
    Span open;
    Span close;
    PairKind kind = PairKind::Bracket;
};

struct PairedStream {
    Diagnostics diagnostics;
    std::vector<PairEvent> events;
    std::vector<PairLink> links;
    SharedText text;
    bool sanitized_is_source = false;
    SharedText source;
};

PairedStream pair(TokenStream input);

// What a trigger does in pairing: open or close a PairKind, or neither
// (｜, ＃ and ※).
struct TriggerRole {
    bool opens;
    bool closes;
    PairKind kind;
};

inline constexpr TriggerRole kTriggerRoles[kTriggerCount] = {
    {false, false, PairKind::Bracket},    // Bar
    {true, false, PairKind::Ruby},        // RubyOpen
    {false, true, PairKind::Ruby},        // RubyClose
    {true, false, PairKind::AngleQuote},  // AngleQuoteOpen
    {false, true, PairKind::AngleQuote},  // AngleQuoteClose
    {true, false, PairKind::Bracket},     // BracketOpen
    {false, true, PairKind::Bracket},     // BracketClose
    {false, false, PairKind::Bracket},    // Hash
    {false, false, PairKind::Bracket},    // RefMark
    {true, false, PairKind::Tortoise},    // TortoiseOpen
    {false, true, PairKind::Tortoise},    // TortoiseClose
    {true, false, PairKind::Quote},       // QuoteOpen
    {false, true, PairKind::Quote},       // QuoteClose
};

// Pulls pair events out of a token sequence one at a time. Links and this
// stage's diagnostics accumulate inside and are taken at the end.
class PairIterator {
public:
    explicit PairIterator(std::span<const Token> tokens) : tokens_(tokens) {}

    // Writes the next event and returns true, or returns false at the end
    // (and on every call after it). The common cases are inline; queue
    // draining, recovery and the end of input are not.
    bool next(PairEvent& event) {
        if (queue_head_ != queue_.size() || cursor_ == tokens_.size()) return next_slow(event);
        const Token& t = tokens_[cursor_++];
        if (t.tag == TokenTag::Text) {
            event = PairEvent{PairTag::Text, 0, t.start, t.end};
            return true;
        }
        if (t.tag == TokenTag::Trigger) {
            const TriggerRole role = kTriggerRoles[t.kind < kTriggerCount ? t.kind : 0];
            if (role.opens) {
                push_open(role.kind, t.span());
                event = PairEvent{PairTag::Open, static_cast<uint8_t>(role.kind), t.start, t.end};
            } else if (role.closes) {
                event = on_close(role.kind, t.span());
            } else {
                event = PairEvent{PairTag::Trigger, t.kind, t.start, t.end};
            }
            return true;
        }
        event = on_newline(t.start);
        return true;
    }

    std::vector<PairLink> take_links() { return std::move(links_); }
    Diagnostics take_diagnostics() { return std::move(diagnostics_); }

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
    bool next_slow(PairEvent& event);
    void queue(const PairEvent& e) { queue_.push_back(e); }
    bool pop_queued(PairEvent& event);
    PairEvent on_close(PairKind kind, Span span) {
        if (!stack_.empty() && stack_.back().kind == kind) {
            const OpenEntry top = pop_open();
            links_.push_back(PairLink{top.span, span, kind});
            return PairEvent{PairTag::Close, static_cast<uint8_t>(kind), span.start, span.end};
        }
        return close_with_recovery(kind, span);
    }
    PairEvent close_with_recovery(PairKind kind, Span span);
    PairEvent on_newline(uint32_t offset) {
        // An annotation bracket never spans a line end; other pairs may.
        if (stack_.empty() || stack_.back().kind != PairKind::Bracket)
            return PairEvent{PairTag::Newline, 0, offset, offset + 1};
        return newline_closing_brackets(offset);
    }
    PairEvent newline_closing_brackets(uint32_t offset);
    PairEvent unclosed(OpenEntry entry);

    std::span<const Token> tokens_;
    size_t cursor_ = 0;
    bool finished_ = false;
    SmallVector<OpenEntry, 8> stack_;
    // Open entries per PairKind, so a ］ search that cannot succeed is skipped.
    std::array<uint32_t, 5> open_count_{};
    SmallVector<PairEvent, 4> queue_;
    size_t queue_head_ = 0;
    std::vector<PairLink> links_;
    Diagnostics diagnostics_;
};

}  // namespace kogane
