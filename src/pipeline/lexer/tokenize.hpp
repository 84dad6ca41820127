#pragma once
// Second lexer stage: cuts the sanitized text into text runs, trigger
// characters and line feeds.

#include <cstdint>
#include <vector>

#include "pipeline/lexer/sanitize.hpp"
#include "syntax/lexical.hpp"

namespace kogane {

enum class TokenTag : uint8_t { Text = 0, Trigger = 1, Newline = 2 };

struct Token {
    TokenTag tag = TokenTag::Text;
    uint8_t kind = 0;  // TriggerKind for Trigger
    uint32_t start = 0;  // Newline: offset of the line feed
    uint32_t end = 0;
};

struct TokenStream {
    Diagnostics diagnostics;
    std::vector<Token> tokens;
    SharedText text;
    bool sanitized_is_source = false;
    SharedText source;
};

TokenStream tokenize(SanitizedSource input);

}  // namespace kogane
