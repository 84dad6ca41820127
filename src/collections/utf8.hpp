#pragma once
// The engine's one UTF-8 codec: decode a character (forwards or backwards),
// encode one, validate a buffer. Decoding never overruns or stalls on bad
// input; encoding expects a Unicode scalar value.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kogane::utf8 {

inline constexpr uint32_t kBad = 0xFFFFFFFFu;

struct Char {
    uint32_t cp;
    uint32_t len;
};

// A byte that continues a multi-byte sequence (10xxxxxx).
constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The character starting at byte i; malformed bytes decode as kBad of
// length 1, so callers can never overrun or stall on bad input.
inline Char decode(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    uint32_t b = byte(i);
    if (b < 0x80) return {b, 1};
    uint32_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (len == 0 || b > 0xF4 || i + len > s.size()) return {kBad, 1};
    uint32_t cp = b & (0x7F >> len);
    for (uint32_t k = 1; k < len; ++k) {
        uint32_t c = byte(i + k);
        if (!is_continuation(static_cast<unsigned char>(c))) return {kBad, 1};
        cp = cp << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kBad, 1};
    return {cp, len};
}

// The character that ends at byte `end` (exclusive), or {kBad, 0} at 0.
inline Char decode_before(std::string_view s, size_t end) {
    if (end == 0) return {kBad, 0};
    size_t i = end - 1;
    while (i > 0 && end - i < 4 && is_continuation(static_cast<unsigned char>(s[i]))) --i;
    Char c = decode(s, i);
    if (i + c.len != end) return {kBad, 1};
    return c;
}

// Bytes the UTF-8 form of `cp` takes (cp at most 0x10FFFF).
constexpr uint32_t encoded_length(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

// Writes the UTF-8 form of `cp` at `out` (room for encoded_length(cp)
// bytes) and returns its length: the one encoder every writer uses, whether
// it appends to a string or fills a presized buffer.
inline uint32_t encode(uint32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

inline void append(std::string& out, uint32_t cp) {
    char buf[4];
    out.append(buf, encode(cp, buf));
}

// Whether all of `s` is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF). ASCII runs are skipped eight bytes at a time.
inline bool is_valid(std::string_view s) {
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        if (static_cast<unsigned char>(s[i]) < 0x80) {
            ++i;
            while (i + 8 <= n) {
                uint64_t block;
                std::memcpy(&block, s.data() + i, 8);
                if (block & 0x8080808080808080ull) break;
                i += 8;
            }
            continue;
        }
        const Char c = decode(s, i);
        if (c.cp == kBad) return false;
        i += c.len;
    }
    return true;
}

// The White_Space property (U+3000 ideographic space included).
constexpr bool is_white_space(uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// `s` without white space at either end.
inline std::string_view trim(std::string_view s) {
    size_t start = 0;
    while (start < s.size()) {
        Char c = decode(s, start);
        if (!is_white_space(c.cp)) break;
        start += c.len;
    }
    size_t end = s.size();
    while (end > start) {
        Char c = decode_before(s, end);
        if (c.len == 0 || !is_white_space(c.cp)) break;
        end -= c.len;
    }
    return s.substr(start, end - start);
}

}  // namespace kogane::utf8
