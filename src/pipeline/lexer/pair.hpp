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

// Pulls pair events out of a token sequence one at a time. Links and this
// stage's diagnostics accumulate inside and are taken at the end.
class PairIterator {
public:
    explicit PairIterator(std::span<const Token> tokens) : tokens_(tokens) {}

    // Writes the next event and returns true, or returns false at the end
    // (and on every call after it).
    bool next(PairEvent& event);

    std::vector<PairLink> take_links() { return std::move(links_); }
    Diagnostics take_diagnostics() { return std::move(diagnostics_); }

private:
    struct OpenEntry {
        PairKind kind;
        Span span;
    };

    void push_open(PairKind kind, Span span);
    OpenEntry pop_open();
    void queue(const PairEvent& e) { queue_.push_back(e); }
    bool pop_queued(PairEvent& event);
    PairEvent on_close(PairKind kind, Span span);
    PairEvent on_newline(uint32_t offset);
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
