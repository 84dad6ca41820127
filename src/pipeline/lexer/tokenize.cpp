#include "pipeline/lexer/tokenize.hpp"

#include <string>

#include "collections/panic.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

void check_span_limit(uint64_t length) {
    if (length > 0xFFFFFFFFull) [[unlikely]]
        panic("source too long for u32 span offsets (" + std::to_string(length) + " bytes)");
}

std::vector<Token> tokenize(std::string_view text) {
    check_span_limit(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const uint32_t length = static_cast<uint32_t>(text.size());

    // Triggers and line feeds come out of one scan, already merged in
    // offset order; the byte at each offset says which it is.
    std::vector<uint32_t> hits;
    hits.reserve(text.size() / 64 + 16);
    scan::TriggerScanner::get().find_hits(text, hits);

    // Each hit adds itself and at most one text run before it.
    std::vector<Token> tokens;
    tokens.reserve(hits.size() * 2 + 1);
    uint32_t cursor = 0;
    for (const uint32_t at : hits) {
        if (cursor < at) tokens.push_back(Token{TokenTag::Text, 0, cursor, at});
        if (bytes[at] == '\n') {
            tokens.push_back(Token{TokenTag::Newline, 0, at, at + 1});
            cursor = at + 1;
        } else {
            const int kind = at + 3u <= length ? scan::classify_trigger(bytes + at) : -1;
            invariant(kind >= 0, "scanner only emits classified positions");
            tokens.push_back(Token{TokenTag::Trigger, static_cast<uint8_t>(kind), at, at + 3});
            cursor = at + 3;
        }
    }
    if (cursor < length) tokens.push_back(Token{TokenTag::Text, 0, cursor, length});
    return tokens;
}

}  // namespace kogane
