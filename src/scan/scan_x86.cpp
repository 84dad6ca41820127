// The x86-64 paths of the scanner: the kernels of scan_kernels.inl compiled
// over a 16-byte SSE2 vector and over a 32-byte AVX2 vector. The AVX2 copy
// sits in a target region, so this file builds without -mavx2; it runs only
// when the processor reports AVX2 (see kernels()).

#include "scan/scan_internal.hpp"
#include "scan/trigger_scanner.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstring>

// Everything defined between these marks is compiled for the named target.
#if defined(__clang__)
#define KOGANE_TARGET_REGION(t) _Pragma(KOGANE_STRINGIFY(clang attribute push(__attribute__((target(t))), apply_to = function)))
#define KOGANE_END_TARGET_REGION _Pragma("clang attribute pop")
#else
#define KOGANE_TARGET_REGION(t) _Pragma("GCC push_options") _Pragma(KOGANE_STRINGIFY(GCC target(t)))
#define KOGANE_END_TARGET_REGION _Pragma("GCC pop_options")
#endif
#define KOGANE_STRINGIFY(x) #x

namespace kogane::scan {

namespace {

// Every byte value repeated over 32 bytes. The kernels compare with
// constants read from here, as memory operands: built in registers, a
// dozen of them per block were rebuilt in every step (too many to keep).
struct alignas(32) SplatRow {
    unsigned char bytes[32];
};
constexpr std::array<SplatRow, 256> kSplatTable = [] {
    std::array<SplatRow, 256> rows{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned char& byte : rows[b].bytes) byte = static_cast<unsigned char>(b);
    return rows;
}();

// A pointer the compiler cannot see through: the constants behind it are
// read from memory, not folded back into instructions that rebuild them.
template <typename T>
inline const T* opaque(const T* p) {
    asm("" : "+r"(p));
    return p;
}

inline const SplatRow* splats() { return opaque(kSplatTable.data()); }

// Four 32-bit lanes of one value, or of a shuffle's byte indices.
struct alignas(16) Lanes {
    uint32_t lane[4];
};
constexpr Lanes lanes(uint32_t x) { return {{x, x, x, x}}; }

namespace sse2 {

constexpr ScanPath kPath = ScanPath::Sse2;

struct V {
    static constexpr size_t kWidth = 16;
    // Operators are members rather than friends: a target region covers
    // member functions but not friends defined in the class.
    __m128i v;

    static V load(const unsigned char* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
    static V splat(unsigned char b) { return {_mm_load_si128(reinterpret_cast<const __m128i*>(splats()[b].bytes))}; }
    static V zero() { return {_mm_setzero_si128()}; }
    uint32_t mask() const { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }
    V operator==(V o) const { return {_mm_cmpeq_epi8(v, o.v)}; }
    V operator==(unsigned char b) const { return *this == splat(b); }
    V operator&(V o) const { return {_mm_and_si128(v, o.v)}; }
    V operator|(V o) const { return {_mm_or_si128(v, o.v)}; }
};

#include "scan/scan_kernels.inl"

}  // namespace sse2

KOGANE_TARGET_REGION("avx2")
namespace avx2 {

constexpr ScanPath kPath = ScanPath::Avx2;

struct V {
    static constexpr size_t kWidth = 32;
    __m256i v;

    static V load(const unsigned char* p) { return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))}; }
    static V splat(unsigned char b) { return {_mm256_load_si256(reinterpret_cast<const __m256i*>(splats()[b].bytes))}; }
    static V zero() { return {_mm256_setzero_si256()}; }
    uint32_t mask() const { return static_cast<uint32_t>(_mm256_movemask_epi8(v)); }
    // Members rather than friends: a target region covers member functions.
    V operator==(V o) const { return {_mm256_cmpeq_epi8(v, o.v)}; }
    V operator==(unsigned char b) const { return *this == splat(b); }
    V operator&(V o) const { return {_mm256_and_si256(v, o.v)}; }
    V operator|(V o) const { return {_mm256_or_si256(v, o.v)}; }
};

#include "scan/scan_kernels.inl"

// The constants of four_three_byte_chars, read from memory: loaded into
// registers they cost more than the few steps of a short run.
enum ThreeByteConstant : uint8_t { kOrder, kFormMask, kFormBits, kLow6, kMiddle6, kTop4, kBelowWide, kSurrogateMask, kSurrogate };
constexpr Lanes kThreeByteConstants[] = {
    // Lane k gets the bytes of character k, last byte lowest: b2 | b1 << 8 | b0 << 16.
    {{0xFF000102u, 0xFF030405u, 0xFF060708u, 0xFF090A0Bu}},
    lanes(0x00F0C0C0), lanes(0x00E08080), lanes(0x3F), lanes(0x3F00), lanes(0x0F0000),
    lanes(0x7FF), lanes(0xF800), lanes(0xD800),
};

// Four three-byte characters (twelve of the sixteen bytes at p) as four
// code points in 32-bit lanes; `good` holds all ones in a lane whose
// character is valid (lead 1110xxxx, two continuation bytes, at least
// U+0800, no surrogate).
inline __m128i four_three_byte_chars(const unsigned char* p, __m128i& good) {
    const Lanes* constants = opaque(kThreeByteConstants);
    const auto k = [constants](ThreeByteConstant which) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(constants[which].lane));
    };
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k(kOrder));
    const __m128i form = _mm_cmpeq_epi32(_mm_and_si128(c, k(kFormMask)), k(kFormBits));
    const __m128i cp = _mm_or_si128(_mm_or_si128(_mm_and_si128(c, k(kLow6)), _mm_srli_epi32(_mm_and_si128(c, k(kMiddle6)), 2)),
                                    _mm_srli_epi32(_mm_and_si128(c, k(kTop4)), 4));
    const __m128i wide_enough = _mm_cmpgt_epi32(cp, k(kBelowWide));
    const __m128i surrogate = _mm_cmpeq_epi32(_mm_and_si128(cp, k(kSurrogateMask)), k(kSurrogate));
    good = _mm_andnot_si128(surrogate, _mm_and_si128(form, wide_enough));
    return cp;
}

template <typename Unit>
size_t widen_three_byte_run(const unsigned char* p, size_t n, Unit* out) {
    size_t i = 0;
    for (; n - i >= 16; i += 12, out += 4) {
        __m128i good;
        const __m128i cp = four_three_byte_chars(p + i, good);
        if (_mm_movemask_epi8(good) != 0xFFFF) break;
        if constexpr (sizeof(Unit) == 2)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi32(cp, cp));
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), cp);
    }
    return i;
}

// Eight characters a step, as two halves of four: in each 32-bit lane the
// form bits of one character and, apart, the continuation bytes of the six
// bytes from it, hashed as key_slot does. Their bits of the filter are
// read one by one, which is faster than a gather here.
size_t skip_keyless_run(const unsigned char* p, size_t n, const uint32_t* filter) {
    const __m256i form_order = _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1,  //
                                                2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m256i key_order = _mm256_setr_epi8(1, 2, 4, 5, 4, 5, 7, 8, 7, 8, 10, 11, 10, 11, 13, 14,  //
                                               1, 2, 4, 5, 4, 5, 7, 8, 7, 8, 10, 11, 10, 11, 13, 14);
    const __m256i form_mask = _mm256_set1_epi32(0x00F0C0C0), form_bits = _mm256_set1_epi32(0x00E08080);
    const __m256i golden = _mm256_set1_epi32(static_cast<int>(0x9E3779B1u));
    size_t i = 0;
    for (; n - i >= 32; i += 24) {
        const __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 12)), 1);
        const __m256i form = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_shuffle_epi8(bytes, form_order), form_mask), form_bits);
        const __m256i slot = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_shuffle_epi8(bytes, key_order), golden),
                                               32 - kKeySlotBits);
        alignas(32) uint32_t slots[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(slots), slot);
        unsigned taken = 0;
        for (unsigned k = 0; k < 8; ++k) taken |= (filter[slots[k] >> 5] >> (slots[k] & 31) & 1u) << k;
        // A lane stops the run when its character is no three-byte one or
        // its slot is taken.
        const unsigned stop = (~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(form))) & 0xFFu) | taken;
        if (stop != 0) return i + 3 * static_cast<size_t>(std::countr_zero(stop));
    }
    return i;
}

// Eight double-byte characters a step. The sixteen bytes are checked as
// they lie, leads at even and trails at odd offsets, against the two
// ranges each may come from; each byte less the start of its range gives
// the row or column, and a multiply-add folds each pair into the pointer.
// The table's words are then read one by one: a gather is slower than
// eight loads on the processors measured.
size_t decode_double_byte_run(const unsigned char* p, size_t n, const uint32_t* chars, char* out) {
    // Leads 81..9F or E0..FC, trails 40..7E or 80..FC.
    const __m128i low_from = _mm_set1_epi16(0x4081), low_to = _mm_set1_epi16(0x7E9F);
    const __m128i high_from = _mm_set1_epi16(static_cast<short>(0x80E0)), high_to = _mm_set1_epi16(static_cast<short>(0xFCFC));
    // Rows count 81..9F from 0 and E0..FC from 31; columns 40..7E from 0 and 80..FC from 63.
    const __m128i low_base = _mm_set1_epi16(0x4081), high_base = _mm_set1_epi16(0x41C1);
    const __m256i row_and_column = _mm256_set1_epi32(188 | 1 << 16);
    const auto within = [](__m128i x, __m128i from, __m128i to) {
        return _mm_cmpeq_epi8(x, _mm_max_epu8(_mm_min_epu8(x, to), from));
    };
    size_t i = 0;
    for (; n - i >= 16; i += 16, out += 24) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i high = within(bytes, high_from, high_to);
        if (_mm_movemask_epi8(_mm_or_si128(within(bytes, low_from, low_to), high)) != 0xFFFF) break;
        const __m128i shares = _mm_sub_epi8(bytes, _mm_blendv_epi8(low_base, high_base, high));
        alignas(32) uint32_t pointers[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(pointers),
                           _mm256_madd_epi16(_mm256_cvtepu8_epi16(shares), row_and_column));
        // Each word is stored whole, its top byte overwritten by the next;
        // lengths are at most 3, so all are 3 when their AND is.
        uint32_t lengths = ~uint32_t{0};
        for (int k = 0; k < 8; ++k) {
            const uint32_t word = chars[pointers[k]];
            lengths &= word;
            std::memcpy(out + 3 * k, &word, 4);
        }
        if (lengths >> 24 != 3) break;
    }
    return i;
}

size_t tally_utf8(const unsigned char* p, size_t n, uint64_t& continuations, unsigned& top) {
    // Continuation bytes are those below -64 as signed bytes; each lane
    // counts up to 255 of them before the lanes are summed.
    const __m256i below = _mm256_set1_epi8(-64);
    __m256i widest = _mm256_setzero_si256();
    size_t i = 0;
    while (n - i >= 32) {
        __m256i counts = _mm256_setzero_si256();
        for (int k = 0; k < 255 && n - i >= 32; ++k, i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            counts = _mm256_sub_epi8(counts, _mm256_cmpgt_epi8(below, v));
            widest = _mm256_max_epu8(widest, v);
        }
        const __m256i sums = _mm256_sad_epu8(counts, _mm256_setzero_si256());
        alignas(32) uint64_t four[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(four), sums);
        continuations += four[0] + four[1] + four[2] + four[3];
    }
    alignas(32) unsigned char lanes_top[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes_top), widest);
    for (unsigned char b : lanes_top) top = b > top ? b : top;
    return i;
}

const Kernels kKernelsWithWidening = [] {
    Kernels k = kKernels;
    k.widen_three_byte_run16 = widen_three_byte_run<uint16_t>;
    k.widen_three_byte_run32 = widen_three_byte_run<uint32_t>;
    k.skip_keyless_run = skip_keyless_run;
    k.decode_double_byte_run = decode_double_byte_run;
    k.tally_utf8 = tally_utf8;
    return k;
}();

}  // namespace avx2
KOGANE_END_TARGET_REGION

}  // namespace

const Kernels& sse2_kernels() { return sse2::kKernels; }
const Kernels& avx2_kernels() { return avx2::kKernelsWithWidening; }

}  // namespace kogane::scan

#endif
