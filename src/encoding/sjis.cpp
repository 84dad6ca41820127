#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "collections/spare_buffers.hpp"
#include "collections/utf8.hpp"
#include "encoding/decode.hpp"
#include "encoding/line_ends.hpp"

namespace kogane {

namespace {

#include "sjis_table.inc"

// Double-byte characters are addressed by their pointer (lead and trail
// folded into 0..kPointerCount); each has its UTF-8 form ready, so decoding
// one is a single table lookup and one four-byte store.
constexpr unsigned kPointerCount = scan::kSjisPointerCount;  // leads 81..9F and E0..FC, 188 trails each

// A character's UTF-8 form as the table holds it: a word whose four bytes
// in memory are the three of the character and its length (0 when the
// pointer maps to nothing), so a store of the word writes the character.
// Every character the table holds is in the BMP, so three bytes suffice.
using EncodedChar = uint32_t;
unsigned encoded_length(EncodedChar c) {
    unsigned char bytes[4];
    std::memcpy(bytes, &c, 4);
    return bytes[3];
}

EncodedChar encode_utf8(uint32_t cp) {
    char bytes[4] = {};
    bytes[3] = static_cast<char>(utf8::encode(cp, bytes));
    EncodedChar c;
    std::memcpy(&c, bytes, 4);
    return c;
}

// Marks a byte that is no lead (in `lead_row`) or no trail (in `trail_column`).
constexpr uint8_t kNone = 0xFF;

// In `lead_base` and `trail_offset`: no lead, no trail. Either makes the
// sum of the two at least kPointerCount, so one comparison rejects both.
constexpr uint16_t kNoShare = 0x4000;
static_assert(kNoShare >= kPointerCount);

struct DoubleByteTable {
    EncodedChar chars[kPointerCount];
    uint8_t lead_row[256];      // 81..9F -> 0..30, E0..FC -> 31..59
    uint8_t trail_column[256];  // 40..7E -> 0..62, 80..FC -> 63..187
    // The same as shares of the pointer: row * 188 and the column.
    uint16_t lead_base[256];
    uint16_t trail_offset[256];
    DoubleByteTable() {
        for (unsigned b = 0; b < 256; ++b) {
            lead_row[b] = b >= 0x81 && b <= 0x9F ? static_cast<uint8_t>(b - 0x81)
                          : b >= 0xE0 && b <= 0xFC ? static_cast<uint8_t>(b - 0xC1)
                                                   : kNone;
            trail_column[b] = b >= 0x40 && b <= 0x7E ? static_cast<uint8_t>(b - 0x40)
                              : b >= 0x80 && b <= 0xFC ? static_cast<uint8_t>(b - 0x41)
                                                       : kNone;
            lead_base[b] = lead_row[b] == kNone ? kNoShare : static_cast<uint16_t>(lead_row[b] * 188);
            trail_offset[b] = trail_column[b] == kNone ? kNoShare : trail_column[b];
        }
        for (unsigned pointer = 0; pointer < kPointerCount; ++pointer) {
            uint32_t cp = 0;
            if (pointer >= 8836 && pointer <= 10715) {
                cp = 0xE000 - 8836 + pointer;  // user-defined area
            } else if (pointer < kJis0208Size) {
                cp = kJis0208[pointer];
            }
            chars[pointer] = cp == 0 ? 0 : encode_utf8(cp);
        }
    }
};

const DoubleByteTable& double_byte_table() {
    static const DoubleByteTable table;
    return table;
}

// The vector kernel for runs, or null (see scan::Kernels).
using DoubleByteRun = size_t (*)(const unsigned char* p, size_t n, const uint32_t* chars, char* out);

// Where decoded characters go: written out, or only counted. The writer's
// buffer has room for three bytes per input byte plus one, so a four-byte
// store for a two-byte character never runs past it.
// Each takes a run of double-byte characters through `run` (see below):
// `begin_run` settles what must come before one, `put_in_run` takes each.
struct Writer {
    char* out;
    void ascii(const unsigned char* from, size_t len) {
        std::memcpy(out, from, len);
        out += len;
    }
    void put(EncodedChar c) { put_in_run(c); }
    void begin_run() {}
    void put_in_run(EncodedChar c) {
        std::memcpy(out, &c, sizeof c);
        out += encoded_length(c);
    }
    // Eight characters a step where the processor can; see run.
    size_t put_eights(DoubleByteRun eights, const EncodedChar* chars, const unsigned char* p, size_t n) {
        const size_t ran = eights(p, n, chars, out);
        out += ran / 2 * 3;
        return ran;
    }
};

// A Writer that folds line ends as it goes (CR is ASCII, and no trail byte).
struct FoldingWriter {
    char* out;
    LineEndFolder folder;
    void ascii(const unsigned char* from, size_t len) { out = folder.fold_ascii(out, from, len); }
    void put(EncodedChar c) {
        begin_run();
        put_in_run(c);
    }
    void begin_run() { out = folder.settle(out); }
    void put_in_run(EncodedChar c) {
        std::memcpy(out, &c, sizeof c);
        out += encoded_length(c);
    }
    size_t put_eights(DoubleByteRun eights, const EncodedChar* chars, const unsigned char* p, size_t n) {
        const size_t ran = eights(p, n, chars, out);
        out += ran / 2 * 3;
        return ran;
    }
};

struct Counter {
    uint64_t n = 0;
    void ascii(const unsigned char*, size_t len) { n += len; }
    void put(EncodedChar c) { n += encoded_length(c); }
    void begin_run() {}
    void put_in_run(EncodedChar c) { n += encoded_length(c); }
    size_t put_eights(DoubleByteRun, const EncodedChar*, const unsigned char*, size_t) { return 0; }
};

// Double-byte characters from `i` on while they come whole before `stop`,
// the bulk of Japanese text: the lead's and the trail's shares of the
// pointer are added (a byte that is neither lead nor trail pushes the sum
// out of range), then one lookup gives the character. With `eights`, the
// vector kernel takes the run first, eight characters a step, as far as
// they are all three bytes of UTF-8 (nearly every character of Japanese
// text). Returns where the run ended; what ends it (anything else, a
// character with no mapping) is left to the general step.
template <typename Sink>
inline size_t run(const DoubleByteTable& tables, DoubleByteRun eights, const unsigned char* p, size_t i, size_t stop,
                  Sink& sink) {
    sink.begin_run();
    if (eights != nullptr && stop - i >= 16) i += sink.put_eights(eights, tables.chars, p + i, stop - i);
    while (i + 1 < stop) {
        const uint32_t pointer = uint32_t(tables.lead_base[p[i]]) + tables.trail_offset[p[i + 1]];
        if (pointer >= kPointerCount) break;
        const EncodedChar c = tables.chars[pointer];
        if (encoded_length(c) == 0) break;
        sink.put_in_run(c);
        i += 2;
    }
    return i;
}

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

constexpr size_t kFailed = SIZE_MAX;

// The Encoding Standard's Shift_JIS decoder with error mode "fatal": the
// first malformed or unmapped sequence fails the whole conversion. Decodes
// the characters that start in [from, stop) (the last may end past stop)
// and returns where the next one starts, or kFailed. Every character is at
// most three bytes of UTF-8 per input byte.
template <typename Sink>
size_t decode_into(std::string_view bytes, size_t from, size_t stop, Sink& sink_out, DoubleByteRun eights) {
    const DoubleByteTable& tables = double_byte_table();
    const EncodedChar* const table = tables.chars;
    const size_t n = bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    // A local copy: the writes through its pointer cannot alias it, so it
    // stays in registers.
    Sink sink = sink_out;
    size_t i = from;
    while (i < stop) {
        const unsigned b = p[i];
        if (b < 0x80) {
            const size_t run = ascii_run(p + i, stop - i);
            sink.ascii(p + i, run);
            i += run;
            continue;
        }
        if (const size_t ran = run(tables, eights, p, i, stop, sink); ran != i) {
            i = ran;
            continue;
        }
        // One character at a time where a run cannot go: the last before
        // `stop`, errors, single bytes.
        if (const unsigned row = tables.lead_row[b]; row != kNone) {
            if (i + 1 >= n) return kFailed;  // lead byte at the end
            const unsigned column = tables.trail_column[p[i + 1]];
            if (column == kNone) return kFailed;
            const EncodedChar c = table[row * 188 + column];
            if (encoded_length(c) == 0) return kFailed;
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
        return kFailed;  // neither a character nor a lead
    }
    sink_out = sink;
    return i;
}

}  // namespace

namespace {

// Decoded a slice at a time into a buffer that stays in the first-level
// cache, then appended to a string with room for the worst case (three
// bytes per input byte), so it never grows and only the pages written
// become resident: no second copy of the whole text. With `ends`, line
// ends are folded on the way, and with `probe` each piece is probed for the
// sanitizer as it is appended (overlapping the last by two bytes, so that
// no pattern across the seam is missed).
std::optional<std::string> decode_sliced(std::string_view bytes, LineEnds* ends, scan::SanitizeProbe* probe,
                                         DoubleByteRun eights) {
    const size_t n = bytes.size();
    if (n > std::numeric_limits<size_t>::max() / 3) return std::nullopt;
    constexpr size_t kSlice = 4096;
    char buffer[kSlice * 3 + 8];  // a four-byte store per character: room for the last one's spare byte
    // Only a parse's decode (the one that folds line ends) borrows a kept
    // buffer: the document gives it back when it goes, a bare decode's
    // result would not.
    std::string text = ends != nullptr ? take_spare_buffer(n * 3) : std::string();
    text.reserve(n * 3);
    LineEndFolder folder{ends};
    auto append = [&](const char* end) {
        const size_t from = text.size();
        text.append(buffer, static_cast<size_t>(end - buffer));
        if (probe != nullptr) *probe |= scan::probe_for_sanitize(std::string_view(text).substr(from >= 2 ? from - 2 : 0));
    };
    for (size_t i = 0; i < n;) {
        const size_t stop = std::min(n, i + kSlice);
        char* end;
        if (ends != nullptr) {
            FoldingWriter w{buffer, folder};
            i = decode_into(bytes, i, stop, w, eights);
            folder = w.folder;
            end = w.out;
        } else {
            Writer w{buffer};
            i = decode_into(bytes, i, stop, w, eights);
            end = w.out;
        }
        if (i == kFailed) return std::nullopt;
        append(end);
    }
    if (ends != nullptr && folder.pending_cr) append(folder.settle(buffer));  // a CR at the very end stood alone
    return text;
}

// The kernel of the process-wide scanner's path.
DoubleByteRun process_eights() { return scan::TriggerScanner::get().kernels().decode_double_byte_run; }

}  // namespace

std::optional<std::string> decode_sjis(std::string_view bytes) {
    return decode_sliced(bytes, nullptr, nullptr, process_eights());
}

std::optional<std::string> decode_sjis(std::string_view bytes, scan::ScanPath path) {
    return decode_sliced(bytes, nullptr, nullptr, scan::kernels(path).decode_double_byte_run);
}

std::optional<std::string> decode_sjis_folded(std::string_view bytes, LineEnds& ends, scan::SanitizeProbe* probe) {
    return decode_sliced(bytes, &ends, probe, process_eights());
}

void prewarm_sjis() { (void)double_byte_table(); }

std::optional<uint64_t> sjis_decoded_length(std::string_view bytes) {
    Counter c;
    if (decode_into(bytes, 0, bytes.size(), c, nullptr) == kFailed) return std::nullopt;
    return c.n;
}

}  // namespace kogane
