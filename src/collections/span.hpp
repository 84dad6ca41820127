#pragma once
// Half-open byte ranges and the shared text buffers they point into.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "collections/utf8.hpp"

namespace kogane {

// [start, end) in bytes; inside the pipeline these are sanitized-text offsets.
struct Span {
    uint32_t start = 0;
    uint32_t end = 0;

    constexpr uint32_t length() const { return end - start; }
    constexpr bool empty() const { return start == end; }
    friend constexpr bool operator==(Span, Span) = default;
};

// Immutable, reference-counted UTF-8 text. The caller's source is shared
// between the document and the lexer; the sanitized text may be the same
// buffer when sanitizing changed nothing.
using SharedText = std::shared_ptr<const std::string>;

inline std::string_view slice(std::string_view text, Span s) {
    return text.substr(s.start, s.end - s.start);
}

// True when `pos` does not fall inside a multi-byte UTF-8 sequence.
inline bool is_char_boundary(std::string_view text, size_t pos) {
    if (pos == 0 || pos == text.size()) return true;
    if (pos > text.size()) return false;
    return !utf8::is_continuation(static_cast<unsigned char>(text[pos]));
}

}  // namespace kogane
