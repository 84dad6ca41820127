#pragma once
// Third lexer stage: matches openers and closers into pair events and links.

#include <cstdint>
#include <span>
#include <vector>

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

// What pairing produces: one event per token (plus one per opener left
// unclosed), and the matched pairs.
struct PairedEvents {
    std::vector<PairEvent> events;
    std::vector<PairLink> links;
};

// Pairs the tokens of the sanitized text. Unclosed openers and unmatched
// closers are reported to `diagnostics` in event order.
PairedEvents pair(std::span<const Token> tokens, Diagnostics& diagnostics);

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
