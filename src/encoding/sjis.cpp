#include <cstdint>
#include <limits>

#include "encoding/decode.hpp"

namespace kogane {

namespace {

#include "sjis_table.inc"

inline void put_utf8(char*& out, uint32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

// The Encoding Standard's Shift_JIS decoder with error mode "fatal": the
// first malformed or unmapped sequence fails the whole conversion.
std::optional<std::string> decode_sjis(std::string_view bytes) {
    const size_t n = bytes.size();
    // Every input byte yields at most three bytes of UTF-8.
    if (n > std::numeric_limits<size_t>::max() / 3) return std::nullopt;
    std::string out;
    out.resize(n * 3);
    char* w = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < n) {
        unsigned b = p[i];
        if (b <= 0x80) {
            *w++ = static_cast<char>(b);  // ASCII, and 0x80 as U+0080 below
            if (b == 0x80) {
                --w;
                put_utf8(w, 0x80);
            }
            ++i;
            continue;
        }
        if (b >= 0xA1 && b <= 0xDF) {
            put_utf8(w, 0xFF61 - 0xA1 + b);
            ++i;
            continue;
        }
        if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) return std::nullopt;
        if (i + 1 >= n) return std::nullopt;  // lead byte at the end
        unsigned t = p[i + 1];
        if (!((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))) return std::nullopt;
        unsigned offset = t < 0x7F ? 0x40 : 0x41;
        unsigned lead_offset = b < 0xA0 ? 0x81 : 0xC1;
        unsigned pointer = (b - lead_offset) * 188 + t - offset;
        uint32_t cp;
        if (pointer >= 8836 && pointer <= 10715) {
            cp = 0xE000 - 8836 + pointer;  // user-defined area
        } else {
            cp = pointer < kJis0208Size ? kJis0208[pointer] : 0;
            if (cp == 0) return std::nullopt;
        }
        put_utf8(w, cp);
        i += 2;
    }
    out.resize(static_cast<size_t>(w - out.data()));
    return out;
}

}  // namespace kogane
