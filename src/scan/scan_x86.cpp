// Vector kernels of the trigger scanner and the sanitize probe. Each block
// test is exact (every byte of a pattern is compared), so a kernel only
// decides how many positions are judged at once; positions whose three
// bytes would run past the text go to the shared scalar step.
//
// AVX2 code carries target attributes so this file builds without -mavx2;
// it runs only when the processor reports AVX2.

#include "scan/scan_internal.hpp"
#include "scan/trigger_scanner.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kogane::scan {

#if defined(__x86_64__)

namespace {

// ---------------------------------------------------------------- SSE2

inline __m128i eq16(__m128i v, unsigned char b) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b))); }

// Bit j set when position p + j starts a trigger or is a line feed.
// Reads p[0] .. p[17].
inline uint32_t hit_mask16(const unsigned char* p) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    // Pairs of third bytes differing in bit 0 (《》 「」 〔〕 ≪≫) share one test.
    const __m128i w2 = _mm_and_si128(v2, _mm_set1_epi8(static_cast<char>(0xFE)));
    const __m128i v1_80 = eq16(v1, 0x80);
    // EF BD 9C ｜; EF BC BB ［, BD ］, 83 ＃
    const __m128i ef = _mm_and_si128(
        eq16(v0, 0xEF),
        _mm_or_si128(_mm_and_si128(eq16(v1, 0xBD), eq16(v2, 0x9C)),
                     _mm_and_si128(eq16(v1, 0xBC),
                                   _mm_or_si128(_mm_or_si128(eq16(v2, 0xBB), eq16(v2, 0xBD)), eq16(v2, 0x83)))));
    // E3 80 8A/8B 《》, 8C/8D 「」, 94/95 〔〕
    const __m128i e3 = _mm_and_si128(_mm_and_si128(eq16(v0, 0xE3), v1_80),
                                     _mm_or_si128(_mm_or_si128(eq16(w2, 0x8A), eq16(w2, 0x8C)), eq16(w2, 0x94)));
    // E2 89 AA/AB ≪≫; E2 80 BB ※
    const __m128i e2 = _mm_and_si128(
        eq16(v0, 0xE2), _mm_or_si128(_mm_and_si128(eq16(v1, 0x89), eq16(w2, 0xAA)), _mm_and_si128(v1_80, eq16(v2, 0xBB))));
    const __m128i nl = eq16(v0, '\n');
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ef, e3), _mm_or_si128(e2, nl))));
}

struct ProbeAcc16 {
    __m128i cr = _mm_setzero_si128();
    __m128i rule = _mm_setzero_si128();
    __m128i tortoise = _mm_setzero_si128();
    __m128i sentinel = _mm_setzero_si128();

    // Reads p[0] .. p[17].
    void add(const unsigned char* p) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        cr = _mm_or_si128(cr, eq16(v0, '\r'));
        const __m128i rule_byte = _mm_or_si128(_mm_or_si128(eq16(v0, '-'), eq16(v0, '=')), eq16(v0, '_'));
        rule = _mm_or_si128(rule, _mm_and_si128(rule_byte, _mm_cmpeq_epi8(v0, v1)));
        const __m128i v1_80 = eq16(v1, 0x80);
        tortoise = _mm_or_si128(tortoise, _mm_and_si128(_mm_and_si128(eq16(v0, 0xE3), v1_80), eq16(v2, 0x94)));
        const __m128i low = _mm_or_si128(_mm_or_si128(eq16(v2, 0x81), eq16(v2, 0x82)),
                                         _mm_or_si128(eq16(v2, 0x83), eq16(v2, 0x84)));
        sentinel = _mm_or_si128(sentinel, _mm_and_si128(_mm_and_si128(eq16(v0, 0xEE), v1_80), low));
    }

    void finish(SanitizeProbe& r) const {
        r.carriage_return |= _mm_movemask_epi8(cr) != 0;
        r.rule_pair |= _mm_movemask_epi8(rule) != 0;
        r.tortoise_open |= _mm_movemask_epi8(tortoise) != 0;
        r.sentinel |= _mm_movemask_epi8(sentinel) != 0;
    }
};

// ---------------------------------------------------------------- AVX2

#define KOGANE_AVX2 __attribute__((target("avx2"), always_inline)) inline

KOGANE_AVX2 __m256i eq32(__m256i v, unsigned char b) {
    return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(b)));
}

// Same tests as hit_mask16 over 32 positions; reads p[0] .. p[33].
KOGANE_AVX2 uint32_t hit_mask32(const unsigned char* p) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    const __m256i w2 = _mm256_and_si256(v2, _mm256_set1_epi8(static_cast<char>(0xFE)));
    const __m256i v1_80 = eq32(v1, 0x80);
    const __m256i ef = _mm256_and_si256(
        eq32(v0, 0xEF),
        _mm256_or_si256(
            _mm256_and_si256(eq32(v1, 0xBD), eq32(v2, 0x9C)),
            _mm256_and_si256(eq32(v1, 0xBC),
                             _mm256_or_si256(_mm256_or_si256(eq32(v2, 0xBB), eq32(v2, 0xBD)), eq32(v2, 0x83)))));
    const __m256i e3 =
        _mm256_and_si256(_mm256_and_si256(eq32(v0, 0xE3), v1_80),
                         _mm256_or_si256(_mm256_or_si256(eq32(w2, 0x8A), eq32(w2, 0x8C)), eq32(w2, 0x94)));
    const __m256i e2 = _mm256_and_si256(eq32(v0, 0xE2), _mm256_or_si256(_mm256_and_si256(eq32(v1, 0x89), eq32(w2, 0xAA)),
                                                                        _mm256_and_si256(v1_80, eq32(v2, 0xBB))));
    const __m256i nl = eq32(v0, '\n');
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(ef, e3), _mm256_or_si256(e2, nl))));
}

__attribute__((target("avx2"))) void hits_avx2(const unsigned char* p, size_t n, detail::HitSink& sink) {
    size_t i = 0;
    for (; i + 34 <= n; i += 32) {
        const uint32_t mask = hit_mask32(p + i);
        if (mask) {
            sink.reserve_block(32 + 4);
            sink.push_mask(static_cast<uint32_t>(i), mask);
        }
    }
    detail::scalar_hits(p, i, n, sink);
}

__attribute__((target("avx2"))) SanitizeProbe probe_blocks_avx2(const unsigned char* p, size_t n) {
    __m256i cr = _mm256_setzero_si256(), rule = cr, tortoise = cr, sentinel = cr;
    size_t i = 0;
    for (; i + 34 <= n; i += 32) {
        const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 2));
        cr = _mm256_or_si256(cr, eq32(v0, '\r'));
        const __m256i rule_byte = _mm256_or_si256(_mm256_or_si256(eq32(v0, '-'), eq32(v0, '=')), eq32(v0, '_'));
        rule = _mm256_or_si256(rule, _mm256_and_si256(rule_byte, _mm256_cmpeq_epi8(v0, v1)));
        const __m256i v1_80 = eq32(v1, 0x80);
        tortoise = _mm256_or_si256(tortoise, _mm256_and_si256(_mm256_and_si256(eq32(v0, 0xE3), v1_80), eq32(v2, 0x94)));
        const __m256i low = _mm256_or_si256(_mm256_or_si256(eq32(v2, 0x81), eq32(v2, 0x82)),
                                            _mm256_or_si256(eq32(v2, 0x83), eq32(v2, 0x84)));
        sentinel = _mm256_or_si256(sentinel, _mm256_and_si256(_mm256_and_si256(eq32(v0, 0xEE), v1_80), low));
    }
    SanitizeProbe r;
    r.carriage_return = _mm256_movemask_epi8(cr) != 0;
    r.rule_pair = _mm256_movemask_epi8(rule) != 0;
    r.tortoise_open = _mm256_movemask_epi8(tortoise) != 0;
    r.sentinel = _mm256_movemask_epi8(sentinel) != 0;
    detail::scalar_probe(p, i, n, r);
    return r;
}

#undef KOGANE_AVX2

}  // namespace

void find_hits_sse2(std::string_view text, std::vector<uint32_t>& hits) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    detail::HitSink sink(hits);
    size_t i = 0;
    for (; i + 18 <= n; i += 16) {
        const uint32_t mask = hit_mask16(p + i);
        if (mask) {
            sink.reserve_block(16 + 4);
            sink.push_mask(static_cast<uint32_t>(i), mask);
        }
    }
    detail::scalar_hits(p, i, n, sink);
}

void find_hits_avx2(std::string_view text, std::vector<uint32_t>& hits) {
    detail::HitSink sink(hits);
    hits_avx2(reinterpret_cast<const unsigned char*>(text.data()), text.size(), sink);
}

SanitizeProbe probe_sse2(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    ProbeAcc16 acc;
    size_t i = 0;
    for (; i + 18 <= n; i += 16) acc.add(p + i);
    SanitizeProbe r;
    acc.finish(r);
    detail::scalar_probe(p, i, n, r);
    return r;
}

SanitizeProbe probe_avx2(std::string_view text) {
    return probe_blocks_avx2(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

size_t find_triple(std::string_view text, size_t from, const char* pattern) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const __m128i a = _mm_set1_epi8(pattern[0]), b = _mm_set1_epi8(pattern[1]), c = _mm_set1_epi8(pattern[2]);
    size_t i = from;
    for (; i + 18 <= n; i += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 2));
        const __m128i m = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, a), _mm_cmpeq_epi8(v1, b)), _mm_cmpeq_epi8(v2, c));
        const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(m));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    return detail::scalar_find_triple(text, i, pattern);
}

size_t find_rule_triple(std::string_view text, size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const __m128i dash = _mm_set1_epi8('-'), equals = _mm_set1_epi8('='), underscore = _mm_set1_epi8('_');
    size_t i = from;
    for (; i + 18 <= n; i += 16) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 2));
        const __m128i rule = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v0, dash), _mm_cmpeq_epi8(v0, equals)),
                                          _mm_cmpeq_epi8(v0, underscore));
        const __m128i m = _mm_and_si128(rule, _mm_and_si128(_mm_cmpeq_epi8(v0, v1), _mm_cmpeq_epi8(v1, v2)));
        const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(m));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    return detail::scalar_find_rule_triple(text, i);
}

#else  // no x86-64: the vector entry points are the scalar kernels

size_t find_triple(std::string_view text, size_t from, const char* pattern) {
    return detail::scalar_find_triple(text, from, pattern);
}

size_t find_rule_triple(std::string_view text, size_t from) { return detail::scalar_find_rule_triple(text, from); }

void find_hits_sse2(std::string_view text, std::vector<uint32_t>& hits) { find_hits_scalar(text, hits); }
void find_hits_avx2(std::string_view text, std::vector<uint32_t>& hits) { find_hits_scalar(text, hits); }
SanitizeProbe probe_sse2(std::string_view text) { return probe_scalar(text); }
SanitizeProbe probe_avx2(std::string_view text) { return probe_scalar(text); }

#endif

}  // namespace kogane::scan
