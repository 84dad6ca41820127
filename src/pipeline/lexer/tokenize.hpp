#pragma once
// Second lexer stage: cuts the sanitized text into text runs, trigger
// characters and line feeds, a piece at a time, so that no stage after it
// needs the whole text's tokens at once.

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

// Tokens of `text` (the sanitized text) in order, one piece of the text per
// call. Pieces end on a byte that starts a character, so no trigger is ever
// cut; a text run reaching past a piece's end is held back until its end is
// known, so the tokens are exactly those of the whole text. Panics when the
// text is too long for u32 offsets.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text, uint32_t piece_bytes = kPieceBytes);

    // Replaces the contents of `out` with the next piece's tokens (possibly
    // none, while a long text run goes on). False once the text is done.
    bool next(std::vector<Token>& out);

    static constexpr uint32_t kPieceBytes = 64 * 1024;

    // How far the text has been read, and its length.
    uint32_t read() const { return scanned_; }
    uint32_t length() const { return static_cast<uint32_t>(text_.size()); }

private:
    std::string_view text_;
    uint32_t piece_bytes_;
    uint32_t scanned_ = 0;  // the text before this has been scanned
    uint32_t cursor_ = 0;   // start of the text run not yet emitted
    std::vector<uint32_t> hits_;
};

// Every token of `text` at once.
std::vector<Token> tokenize(std::string_view text);

// Fails with "source too long for u32 span offsets (N bytes)" above
// 0xFFFFFFFF bytes.
void check_span_limit(uint64_t length);

}  // namespace kogane
