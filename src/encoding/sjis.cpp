#include <cstdint>
#include <limits>
#include <memory>

#include "encoding/decode.hpp"

namespace kogane {

namespace {

#include "sjis_table.inc"

// Where decoded characters go: written out, or only counted.
struct Writer {
    char* out;
    void ascii(unsigned b) { *out++ = static_cast<char>(b); }
    void put(uint32_t cp) {
        if (cp < 0x800) {
            *out++ = static_cast<char>(0xC0 | (cp >> 6));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out++ = static_cast<char>(0xE0 | (cp >> 12));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
};

struct Counter {
    uint64_t n = 0;
    void ascii(unsigned) { ++n; }
    void put(uint32_t cp) { n += cp < 0x800 ? 2 : 3; }
};

// The Encoding Standard's Shift_JIS decoder with error mode "fatal": the
// first malformed or unmapped sequence fails the whole conversion. Every
// character is at most three bytes of UTF-8 per input byte.
template <typename Sink>
bool decode_into(std::string_view bytes, Sink& sink) {
    const size_t n = bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < n) {
        unsigned b = p[i];
        if (b < 0x80) {
            sink.ascii(b);
            ++i;
            continue;
        }
        if (b == 0x80) {
            sink.put(0x80);
            ++i;
            continue;
        }
        if (b >= 0xA1 && b <= 0xDF) {
            sink.put(0xFF61 - 0xA1 + b);
            ++i;
            continue;
        }
        if (!((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC))) return false;
        if (i + 1 >= n) return false;  // lead byte at the end
        unsigned t = p[i + 1];
        if (!((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC))) return false;
        unsigned offset = t < 0x7F ? 0x40 : 0x41;
        unsigned lead_offset = b < 0xA0 ? 0x81 : 0xC1;
        unsigned pointer = (b - lead_offset) * 188 + t - offset;
        uint32_t cp;
        if (pointer >= 8836 && pointer <= 10715) {
            cp = 0xE000 - 8836 + pointer;  // user-defined area
        } else {
            cp = pointer < kJis0208Size ? kJis0208[pointer] : 0;
            if (cp == 0) return false;
        }
        sink.put(cp);
        i += 2;
    }
    return true;
}

}  // namespace

std::optional<std::string> decode_sjis(std::string_view bytes) {
    const size_t n = bytes.size();
    if (n > std::numeric_limits<size_t>::max() / 3) return std::nullopt;
    // Decoded into a buffer for the worst case, left uninitialised so that
    // only the bytes written become resident, then copied at its exact size:
    // the document does not keep three times the text it needs.
    std::unique_ptr<char[]> buffer(new char[n * 3 + 1]);
    Writer w{buffer.get()};
    if (!decode_into(bytes, w)) return std::nullopt;
    return std::string(buffer.get(), static_cast<size_t>(w.out - buffer.get()));
}

std::optional<uint64_t> sjis_decoded_length(std::string_view bytes) {
    Counter c;
    if (!decode_into(bytes, c)) return std::nullopt;
    return c.n;
}

}  // namespace kogane
