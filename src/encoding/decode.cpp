#include "encoding/decode.hpp"

#include <bit>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "collections/utf8.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

std::optional<std::string> decode_auto(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    return decode_sjis(bytes);
}

std::variant<std::string, DecodeFailure> decode_auto_limited(std::string_view bytes, uint64_t limit, LineEnds* fold,
                                                             std::optional<scan::SanitizeProbe>* probe) {
    // Either decoding yields at least one byte per input byte, so the byte
    // length alone refuses an over-long input, without reading it.
    if (bytes.size() > limit) return DecodeFailure::TooLong;
    if (is_valid_utf8(bytes)) return fold != nullptr ? fold_line_ends(bytes, *fold) : std::string(bytes);
    // Every Shift_JIS byte decodes to at most three UTF-8 bytes; count
    // exactly only when that bound is not enough to decide.
    if (uint64_t(bytes.size()) * 3 > limit) {
        std::optional<uint64_t> length = sjis_decoded_length(bytes);
        if (!length) return DecodeFailure::Malformed;
        if (*length > limit) return DecodeFailure::TooLong;
    }
    scan::SanitizeProbe probed;
    std::optional<std::string> text =
        fold != nullptr ? decode_sjis_folded(bytes, *fold, probe != nullptr ? &probed : nullptr) : decode_sjis(bytes);
    if (!text) return DecodeFailure::Malformed;
    if (fold != nullptr && probe != nullptr) *probe = probed;
    return std::move(*text);
}

namespace {

constexpr bool is_surrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

template <typename Unit>
std::optional<uint64_t> length_of(std::span<const Unit> units) {
    uint64_t n = 0;
    for (Unit u : units) {
        if constexpr (sizeof(Unit) > 1) {
            if (is_surrogate(u)) return std::nullopt;
        }
        n += utf8::encoded_length(u);
    }
    return n;
}

template <typename Unit>
void append_units(std::string& out, std::span<const Unit> units) {
    // Sized once, then written through a pointer: no capacity check per byte.
    uint64_t extra = 0;
    for (Unit u : units) extra += utf8::encoded_length(u);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(extra));
    char* w = out.data() + at;
    for (Unit u : units) w += utf8::encode(u, w);
}

// Two three-byte characters in the low six bytes of `w` (first byte
// lowest): their code points, and whether both are valid (no overlong form,
// no surrogate).
inline bool two_three_byte_chars(uint64_t w, uint32_t& a, uint32_t& b) {
    a = static_cast<uint32_t>(((w & 0x0F) << 12) | ((w >> 2) & 0x0FC0) | ((w >> 16) & 0x3F));
    b = static_cast<uint32_t>((((w >> 24) & 0x0F) << 12) | ((w >> 26) & 0x0FC0) | ((w >> 40) & 0x3F));
    return a >= 0x800 && b >= 0x800 && !is_surrogate(a) && !is_surrogate(b);
}

constexpr uint64_t kTwoThreeByteMask = 0xC0C0F0C0C0F0ull, kTwoThreeByteLeads = 0x8080E08080E0ull;

inline uint64_t load_eight(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native != std::endian::little) w = __builtin_bswap64(w);
    return w;
}

// Eight ASCII bytes (in `w`, first lowest) into eight units.
template <typename Unit>
inline void widen_ascii8(uint64_t w, Unit* out) {
    if constexpr (sizeof(Unit) == 1) {
        std::memcpy(out, &w, 8);
    } else {
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i v = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(w)), zero);
        if constexpr (sizeof(Unit) == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(v, zero));
        }
#else
        for (int k = 0; k < 8; ++k) out[k] = static_cast<Unit>((w >> (8 * k)) & 0x7F);
#endif
    }
}

// Valid UTF-8 into units of one, two or four bytes. Every unit written
// stands for one lead byte, so `out` never receives more units than
// utf8_shape counted, valid input or not.
template <typename Unit>
bool widen(std::string_view text, Unit* out) {
    constexpr uint32_t kWidest = std::numeric_limits<Unit>::max() < 0x10FFFF ? std::numeric_limits<Unit>::max() : 0x10FFFF;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    // The run kernel of the scanner's path, looked up once.
    size_t (*run_kernel)(const unsigned char*, size_t, Unit*) = nullptr;
    if constexpr (sizeof(Unit) == 2) run_kernel = scan::TriggerScanner::get().kernels().widen_three_byte_run16;
    if constexpr (sizeof(Unit) == 4) run_kernel = scan::TriggerScanner::get().kernels().widen_three_byte_run32;
    // HTML of Japanese text alternates runs of ASCII (tags) with runs of
    // three-byte characters: eight ASCII bytes or two three-byte
    // characters a step, the rest one character a step.
    while (n - i >= 8) {
        const uint64_t w = load_eight(p + i);
        if ((w & 0x8080808080808080ull) == 0) {
            widen_ascii8(w, out);
            out += 8;
            i += 8;
            continue;
        }
        if constexpr (sizeof(Unit) >= 2) {
            uint32_t a, b;
            if ((w & kTwoThreeByteMask) == kTwoThreeByteLeads) {
                // A run of them: four a step where the processor can shuffle,
                // when the next two are three-byte characters too (runs
                // between tags are often shorter).
                if (run_kernel != nullptr && n - i >= 16 &&
                    (load_eight(p + i + 6) & kTwoThreeByteMask) == kTwoThreeByteLeads) {
                    if (const size_t ran = run_kernel(p + i, n - i, out); ran != 0) {
                        out += ran / 3;
                        i += ran;
                        continue;
                    }
                }
                if (two_three_byte_chars(w, a, b)) {
                    out[0] = static_cast<Unit>(a);
                    out[1] = static_cast<Unit>(b);
                    out += 2;
                    i += 6;
                    continue;
                }
            }
        }
        const auto lead = static_cast<uint32_t>(w);
        if ((lead & 0x80) == 0) {
            // ASCII up to the first byte that is not. With 32 bytes left,
            // at least eight characters are, so all eight units can be
            // written (those past the ASCII are written over next).
            const int ascii = std::countr_zero(w & 0x8080808080808080ull) / 8;
            if (n - i >= 32)
                widen_ascii8(w & 0x7F7F7F7F7F7F7F7Full, out);
            else
                for (int k = 0; k < ascii; ++k) out[k] = static_cast<Unit>((w >> (8 * k)) & 0x7F);
            out += ascii;
            i += static_cast<size_t>(ascii);
        } else if ((lead & 0xC0C0F0u) == 0x8080E0u) {  // 1110xxxx 10xxxxxx 10xxxxxx
            const uint32_t cp = ((lead & 0x0F) << 12) | ((lead >> 2) & 0x0FC0) | ((lead >> 16) & 0x3F);
            if (cp < 0x800 || is_surrogate(cp) || cp > kWidest) return false;
            *out++ = static_cast<Unit>(cp);
            i += 3;
        } else {
            const utf8::Char d = utf8::decode(text, i);
            if (d.cp == utf8::kBad || d.cp > kWidest) return false;
            *out++ = static_cast<Unit>(d.cp);
            i += d.len;
        }
    }
    while (i < n) {
        const utf8::Char d = utf8::decode(text, i);
        if (d.cp == utf8::kBad || d.cp > kWidest) return false;
        *out++ = static_cast<Unit>(d.cp);
        i += d.len;
    }
    return true;
}

}  // namespace

Utf8Shape utf8_shape(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    uint64_t continuations = 0;
    unsigned top = 0;
    size_t i = 0;
    if (const auto tally = scan::TriggerScanner::get().kernels().tally_utf8; tally != nullptr)
        i = tally(p, n, continuations, top);
#if defined(__SSE2__)
    // Sixteen bytes at a time: continuation bytes (0x80..0xBF, below -64 as
    // signed bytes) counted per lane, the lanes summed before they can wrap.
    const __m128i below = _mm_set1_epi8(-64);
    __m128i widest = _mm_setzero_si128();
    while (n - i >= 16) {
        __m128i lanes = _mm_setzero_si128();
        for (int k = 0; k < 255 && n - i >= 16; ++k, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            lanes = _mm_sub_epi8(lanes, _mm_cmplt_epi8(v, below));
            widest = _mm_max_epu8(widest, v);
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        continuations += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
                         static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
    alignas(16) unsigned char lanes_top[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes_top), widest);
    for (unsigned char b : lanes_top) top = b > top ? b : top;
#endif
    for (; i < n; ++i) {
        continuations += (p[i] & 0xC0) == 0x80;
        top = p[i] > top ? p[i] : top;
    }
    Utf8Shape shape;
    shape.chars = n - continuations;
    // Leads C2 and C3 reach U+00FF at most, E0..EF the end of the BMP.
    shape.max_char = top < 0x80 ? 0x7F : top < 0xC4 ? 0xFF : top < 0xF0 ? 0xFFFF : 0x10FFFF;
    return shape;
}

bool widen_utf8(std::string_view text, uint8_t* out) { return widen(text, out); }
bool widen_utf8(std::string_view text, uint16_t* out) { return widen(text, out); }
bool widen_utf8(std::string_view text, uint32_t* out) { return widen(text, out); }

std::optional<uint64_t> utf8_length(std::span<const uint8_t> units) { return length_of(units); }
std::optional<uint64_t> utf8_length(std::span<const uint16_t> units) { return length_of(units); }
std::optional<uint64_t> utf8_length(std::span<const uint32_t> units) { return length_of(units); }
void append_utf8(std::string& out, std::span<const uint8_t> units) { append_units(out, units); }
void append_utf8(std::string& out, std::span<const uint16_t> units) { append_units(out, units); }
void append_utf8(std::string& out, std::span<const uint32_t> units) { append_units(out, units); }

}  // namespace kogane
