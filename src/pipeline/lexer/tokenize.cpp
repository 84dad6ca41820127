#include "pipeline/lexer/tokenize.hpp"

#include <algorithm>
#include <string>

#include "collections/panic.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

void check_span_limit(uint64_t length) {
    if (length > 0xFFFFFFFFull) [[unlikely]]
        panic("source too long for u32 span offsets (" + std::to_string(length) + " bytes)");
}

Tokenizer::Tokenizer(std::string_view text, uint32_t piece_bytes) : text_(text), piece_bytes_(std::max(piece_bytes, 1u)) {
    check_span_limit(text.size());
}

bool Tokenizer::next(std::vector<Token>& out) {
    out.clear();
    const uint32_t length = static_cast<uint32_t>(text_.size());
    if (scanned_ == length) {
        if (cursor_ == length) return false;
        out.push_back(Token{TokenTag::Text, 0, cursor_, length});  // the run at the end of the text
        cursor_ = length;
        return true;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text_.data());
    // The piece ends before a byte that is not a continuation byte: a
    // trigger's own bytes after its first are all continuation bytes, so
    // a trigger is never cut, even in text that is not valid UTF-8.
    uint32_t end = length - scanned_ > piece_bytes_ ? scanned_ + piece_bytes_ : length;
    while (end < length && (bytes[end] & 0xC0) == 0x80) ++end;

    // Triggers and line feeds come out of one scan, already merged in
    // offset order; the byte at each offset says which it is.
    hits_.clear();
    scan::TriggerScanner::get().find_hits(text_.substr(scanned_, end - scanned_), hits_);
    // Each hit adds itself and at most one text run before it.
    out.reserve(hits_.size() * 2);
    for (const uint32_t relative : hits_) {
        const uint32_t at = scanned_ + relative;
        if (cursor_ < at) out.push_back(Token{TokenTag::Text, 0, cursor_, at});
        if (bytes[at] == '\n') {
            out.push_back(Token{TokenTag::Newline, 0, at, at + 1});
            cursor_ = at + 1;
        } else {
            const int kind = at + 3u <= length ? scan::classify_trigger(bytes + at) : -1;
            invariant(kind >= 0, "scanner only emits classified positions");
            out.push_back(Token{TokenTag::Trigger, static_cast<uint8_t>(kind), at, at + 3});
            cursor_ = at + 3;
        }
    }
    scanned_ = end;
    return true;
}

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> all, piece;
    Tokenizer tokenizer(text);
    while (tokenizer.next(piece)) all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

}  // namespace kogane
