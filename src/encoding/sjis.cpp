#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "collections/utf8.hpp"
#include "encoding/decode.hpp"

namespace kogane {

namespace {

#include "sjis_table.inc"

// Double-byte characters are addressed by their pointer (lead and trail
// folded into 0..kPointerCount); each has its UTF-8 form ready, so decoding
// one is a single table lookup and one four-byte store.
constexpr unsigned kPointerCount = 60 * 188;  // leads 81..9F and E0..FC, 188 trails each

struct EncodedChar {
    unsigned char bytes[3];
    uint8_t length;  // 0 when the pointer maps to nothing
};
static_assert(sizeof(EncodedChar) == 4);

// Every character the table holds is in the BMP, so three bytes suffice.
EncodedChar encode_utf8(uint32_t cp) {
    char buf[4] = {};
    EncodedChar e{{0, 0, 0}, static_cast<uint8_t>(utf8::encode(cp, buf))};
    std::memcpy(e.bytes, buf, 3);
    return e;
}

// Marks a byte that is no lead (in `lead_row`) or no trail (in `trail_column`).
constexpr uint8_t kNone = 0xFF;

struct DoubleByteTable {
    EncodedChar chars[kPointerCount];
    uint8_t lead_row[256];      // 81..9F -> 0..30, E0..FC -> 31..59
    uint8_t trail_column[256];  // 40..7E -> 0..62, 80..FC -> 63..187
    DoubleByteTable() {
        for (unsigned b = 0; b < 256; ++b) {
            lead_row[b] = b >= 0x81 && b <= 0x9F ? static_cast<uint8_t>(b - 0x81)
                          : b >= 0xE0 && b <= 0xFC ? static_cast<uint8_t>(b - 0xC1)
                                                   : kNone;
            trail_column[b] = b >= 0x40 && b <= 0x7E ? static_cast<uint8_t>(b - 0x40)
                              : b >= 0x80 && b <= 0xFC ? static_cast<uint8_t>(b - 0x41)
                                                       : kNone;
        }
        for (unsigned pointer = 0; pointer < kPointerCount; ++pointer) {
            uint32_t cp = 0;
            if (pointer >= 8836 && pointer <= 10715) {
                cp = 0xE000 - 8836 + pointer;  // user-defined area
            } else if (pointer < kJis0208Size) {
                cp = kJis0208[pointer];
            }
            chars[pointer] = cp == 0 ? EncodedChar{{0, 0, 0}, 0} : encode_utf8(cp);
        }
    }
};

const DoubleByteTable& double_byte_table() {
    static const DoubleByteTable table;
    return table;
}

// Where decoded characters go: written out, or only counted. The writer's
// buffer has room for three bytes per input byte plus one, so a four-byte
// store for a two-byte character never runs past it.
struct Writer {
    char* out;
    void ascii(const unsigned char* from, size_t len) {
        std::memcpy(out, from, len);
        out += len;
    }
    void put(EncodedChar c) {
        std::memcpy(out, &c, sizeof c);
        out += c.length;
    }
};

struct Counter {
    uint64_t n = 0;
    void ascii(const unsigned char*, size_t len) { n += len; }
    void put(EncodedChar c) { n += c.length; }
};

// Length of the run of ASCII bytes at the start of [p, p + n), eight bytes
// at a time.
size_t ascii_run(const unsigned char* p, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        const uint64_t high = word & 0x8080808080808080ull;
        if (high != 0) return i + static_cast<size_t>(__builtin_ctzll(high) / 8);
    }
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

// The Encoding Standard's Shift_JIS decoder with error mode "fatal": the
// first malformed or unmapped sequence fails the whole conversion. Every
// character is at most three bytes of UTF-8 per input byte.
template <typename Sink>
bool decode_into(std::string_view bytes, Sink& sink) {
    const DoubleByteTable& tables = double_byte_table();
    const EncodedChar* const table = tables.chars;
    const size_t n = bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < n) {
        const unsigned b = p[i];
        if (b < 0x80) {
            const size_t run = ascii_run(p + i, n - i);
            sink.ascii(p + i, run);
            i += run;
            continue;
        }
        // Double-byte characters first, the bulk of the text: one lookup
        // each for the lead's row, the trail's column and the character.
        if (const unsigned row = tables.lead_row[b]; row != kNone) {
            if (i + 1 >= n) return false;  // lead byte at the end
            const unsigned column = tables.trail_column[p[i + 1]];
            if (column == kNone) return false;
            const EncodedChar c = table[row * 188 + column];
            if (c.length == 0) return false;
            sink.put(c);
            i += 2;
            continue;
        }
        if (b == 0x80) {
            sink.put(encode_utf8(0x80));
            ++i;
            continue;
        }
        if (b >= 0xA1 && b <= 0xDF) {
            sink.put(encode_utf8(0xFF61 - 0xA1 + b));
            ++i;
            continue;
        }
        return false;  // neither a character nor a lead
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
