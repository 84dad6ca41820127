#pragma once
// Pieces shared by the scanner kernels: the growing hit buffer, and the
// scalar definitions that are both the scalar path and the step finishing
// every vector loop, so that all paths treat the last bytes of a text in
// exactly the same way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "scan/trigger_scanner.hpp"

namespace kogane::scan::detail {

inline bool is_trigger_lead(unsigned char c) { return c == 0xE2 || c == 0xE3 || c == 0xEF; }

// Writes hits through a raw cursor; the vector grows in large steps before
// each block instead of checking capacity per hit.
class HitSink {
public:
    explicit HitSink(std::vector<uint32_t>& out) : out_(out), used_(out.size()) {}
    ~HitSink() { out_.resize(used_); }
    HitSink(const HitSink&) = delete;
    HitSink& operator=(const HitSink&) = delete;

    // Room for at least `n` more hits.
    void reserve_block(size_t n) {
        if (used_ + n > out_.size()) out_.resize(std::max<size_t>(out_.size() * 2, used_ + n + 256));
    }
    // Appends base + index of every set bit of `mask`, lowest first. Writes
    // four slots at a time whether or not they are all used (the caller
    // reserved room for a whole block plus that slack), so the usual case
    // of a few hits per block costs no data-dependent branch.
    void push_mask(uint32_t base, uint32_t mask) {
        uint32_t* dst = out_.data() + used_;
        const int count = __builtin_popcount(mask);
        for (int k = 0; k < 4; ++k) {
            dst[k] = base + static_cast<uint32_t>(__builtin_ctz(mask | 0x80000000u));
            mask &= mask - 1;
        }
        for (int k = 4; k < count; ++k) {
            dst[k] = base + static_cast<uint32_t>(__builtin_ctz(mask));
            mask &= mask - 1;
        }
        used_ += static_cast<size_t>(count);
    }
    void push(uint32_t offset) {
        reserve_block(1);
        out_[used_++] = offset;
    }

private:
    std::vector<uint32_t>& out_;
    size_t used_;
};

// The reference definition of a hit, applied to [from, n).
inline void scalar_hits(const unsigned char* p, size_t from, size_t n, HitSink& sink) {
    for (size_t i = from; i < n; ++i) {
        const unsigned char c = p[i];
        if (c == '\n') {
            sink.push(static_cast<uint32_t>(i));
        } else if (is_trigger_lead(c) && i + 2 < n && classify_trigger(p + i) >= 0) {
            sink.push(static_cast<uint32_t>(i));
        }
    }
}

inline bool is_rule_byte(unsigned char c) { return c == '-' || c == '=' || c == '_'; }

// The reference definition of the sanitize probe, applied to [from, n).
inline void scalar_probe(const unsigned char* p, size_t from, size_t n, SanitizeProbe& r) {
    for (size_t i = from; i < n; ++i) {
        const unsigned char c = p[i];
        if (c == '\r') r.carriage_return = true;
        if (i + 1 < n && is_rule_byte(c) && p[i + 1] == c) r.rule_pair = true;
        if (i + 2 < n && c == 0xE3 && p[i + 1] == 0x80 && p[i + 2] == 0x94) r.tortoise_open = true;
        if (i + 2 < n && c == 0xEE && p[i + 1] == 0x80 && p[i + 2] >= 0x81 && p[i + 2] <= 0x84) r.sentinel = true;
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') r.control = true;
    }
}

inline size_t scalar_find_triple(std::string_view text, size_t from, const char* pattern) {
    for (size_t i = from; i + 3 <= text.size(); ++i)
        if (text[i] == pattern[0] && text[i + 1] == pattern[1] && text[i + 2] == pattern[2]) return i;
    return std::string_view::npos;
}

inline size_t scalar_find_six(std::string_view text, size_t from, const char* pattern) {
    return from > text.size() ? std::string_view::npos : text.find(std::string_view(pattern, 6), from);
}

inline size_t scalar_find_rule_triple(std::string_view text, size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = from; i + 3 <= text.size(); ++i)
        if (is_rule_byte(p[i]) && p[i + 1] == p[i] && p[i + 2] == p[i]) return i;
    return std::string_view::npos;
}

}  // namespace kogane::scan::detail

namespace kogane::scan {

// The portable vector path's table (scan_swar.cpp).
const Kernels& swar_kernels();

#if defined(__x86_64__)
// The vector paths' tables (scan_x86.cpp). The AVX2 one may only be used
// when the processor reports AVX2.
const Kernels& sse2_kernels();
const Kernels& avx2_kernels();
#endif

}  // namespace kogane::scan
