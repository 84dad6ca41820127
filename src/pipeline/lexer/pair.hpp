#pragma once
// Third lexer stage: matches openers and closers into pair events and links.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "collections/small_vector.hpp"

#include "pipeline/lexer/tokenize.hpp"
#include "syntax/diagnostic.hpp"

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

// Pairs the sanitized text as a reader asks for its events: the events
// are numbered from 0 in text order, and only those from the oldest the
// reader still needs onwards are held, so a parse never holds every event
// of the text at once. Matched pairs go to `links` (unless null) and
// unclosed openers and unmatched closers to `diagnostics`, in event order,
// as the text is read.
class PairStream {
public:
    // `link_kinds`: the PairKinds whose links are kept, one bit each.
    static constexpr uint8_t kAllKinds = 0x1F;
    static constexpr uint8_t kind_bit(PairKind kind) { return uint8_t(1u << static_cast<uint8_t>(kind)); }

    PairStream(std::string_view text, Diagnostics& diagnostics, std::vector<PairLink>* links,
               uint32_t piece_bytes = Tokenizer::kPieceBytes, uint8_t link_kinds = kAllKinds);

    // Whether event `index` exists, pairing more of the text as needed.
    // Events before `keep_from` (at most `index`) may be dropped; they
    // must not be read again.
    bool fetch(size_t index, size_t keep_from) {
        if (index < first_ + held_.size()) return true;
        return fetch_more(index, keep_from);
    }

    // How many events from `from` on the stream has room for without
    // growing: a reader keeping a run of them can size its own tables so.
    size_t room_from(size_t from) const { return first_ + held_.capacity() - from; }

    // Pairs the rest of the text for its links and diagnostics alone.
    void drain();

    // The links (of the kept kinds) of the whole text: those found so far
    // and those the rest of the text gives, paired apart from this stream.
    std::vector<PairLink> all_links() const;

    // Where each opener that stays open to the end of the text starts, in
    // text order: those open now that nothing later closes or gives up, and
    // those the rest of the text opens so. Pairs the rest apart from this
    // stream, holding no events and reporting nothing.
    std::vector<uint32_t> open_at_end() const;

    // A held event, and a run of held events.
    const PairEvent& operator[](size_t index) const { return held_[index - first_]; }
    std::span<const PairEvent> window(size_t from, size_t count) const {
        return std::span<const PairEvent>(held_).subspan(from - first_, count);
    }

private:
    struct OpenEntry {
        PairKind kind;
        Span span;
    };

    // Continues `from`'s pairing with other sinks (either may be null),
    // holding no events.
    PairStream(const PairStream& from, Diagnostics* diagnostics, std::vector<PairLink>* links);

    bool fetch_more(size_t index, size_t keep_from);
    void link(PairKind kind, Span open, Span close) {
        if (links_ != nullptr && (link_kinds_ & kind_bit(kind)) != 0) links_->push_back(PairLink{open, close, kind});
    }
    // Room for `more` events, the text before `read` having given those held.
    void reserve_for(size_t more, uint32_t read);
    void token(const Token& t);
    void report(const Diagnostic& d) {
        if (diagnostics_ != nullptr) diagnostics_->push_back(d);
    }
    void finish();
    void push_open(PairKind kind, Span span);
    OpenEntry pop_open();
    void unclosed(OpenEntry entry);
    void on_close(PairKind kind, Span span);
    void close_with_recovery(PairKind kind, Span span);
    void on_newline(uint32_t offset);

    Tokenizer tokenizer_;
    std::vector<Token> piece_;
    bool finished_ = false;
    std::vector<PairEvent> held_;  // events first_, first_ + 1, ...
    size_t first_ = 0;
    std::vector<PairLink>* links_;  // null: not kept
    uint8_t link_kinds_;
    Diagnostics* diagnostics_;  // null: nothing is reported
    // The open entries, as two stacks: where each opener starts (openers
    // are trigger characters, three bytes long) and its kind. A flood of
    // openers is held whole, so an entry takes five bytes.
    SmallVector<uint32_t, 8> open_starts_;
    SmallVector<PairKind, 8> open_kinds_;
    // Open entries per PairKind, so a ］ search that cannot succeed is skipped.
    std::array<uint32_t, 5> open_count_{};
};

// Every link of the text, in the order its closers stand.
std::vector<PairLink> pair_links(std::string_view text);

// The 「…」 links that name annotation targets: each 「 right after ［＃
// (not after ※［＃), and each 「 right after the 」 of one of these, in the
// order they open. The same links the whole text's pairing gives them,
// found without it: such a 「 sits on the annotation's ［, so what closes
// or gives it up depends only on the text after it. Nullopt once following
// them would read more than `max_bytes` (quotations left open across a long
// text), for the caller to pair the text instead.
std::optional<std::vector<PairLink>> annotation_quote_links(std::string_view text, size_t max_bytes);

// Every event and link of the text at once.
struct PairedEvents {
    std::vector<PairEvent> events;
    std::vector<PairLink> links;
};
PairedEvents pair(std::string_view text, Diagnostics& diagnostics);

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

}  // namespace kogane
