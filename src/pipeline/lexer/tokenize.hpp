#pragma once
// Second lexer stage: cuts the sanitized text into text runs, trigger
// characters and line feeds.

#include <cstdint>
#include <string_view>
#include <vector>

#include "collections/span.hpp"
#include "syntax/lexical.hpp"

namespace kogane {

enum class TokenTag : uint8_t { Text = 0, Trigger = 1, Newline = 2 };

struct Token {
    TokenTag tag = TokenTag::Text;
    uint8_t kind = 0;  // TriggerKind for Trigger
    uint32_t start = 0;  // Newline: offset of the line feed
    uint32_t end = 0;

    Span span() const { return Span{start, end}; }
    TriggerKind trigger() const { return static_cast<TriggerKind>(kind); }
};

// Cuts `text` (the sanitized text) into tokens with the process-wide
// scanner. Panics when the text is too long for u32 offsets.
std::vector<Token> tokenize(std::string_view text);

// Fails with "source too long for u32 span offsets (N bytes)" above
// 0xFFFFFFFF bytes.
void check_span_limit(uint64_t length);

}  // namespace kogane
