// The scanning kernels, written once over a vector type and compiled once
// per processor path: scan_x86.cpp includes this file inside a namespace
// that defines `V` (the vector wrapper) and `kPath`, within a target region
// for that path. No include guard, on purpose.
//
// V provides: kWidth (bytes per block), load(p) (kWidth unaligned bytes),
// splat(b), zero(), == against a byte or a vector, & and |, and mask() (one
// bit per byte lane, lane 0 lowest).
//
// Every block test is exact (every byte of a pattern is compared), so the
// width only decides how many positions are judged at once. A block judges
// positions i .. i + kWidth - 1 and reads two bytes further, for the second
// and third byte of a pattern; positions whose three bytes would run past
// the text go to the shared scalar step, so every path treats the last
// bytes of a text the same way.

constexpr size_t kLookahead = 2;

// Bit j set when position p + j starts a trigger or is a line feed.
inline uint32_t hit_mask(const unsigned char* p) {
    const V v0 = V::load(p), v1 = V::load(p + 1), v2 = V::load(p + 2);
    // Pairs of third bytes differing in bit 0 (《》 「」 〔〕 ≪≫) share one test.
    const V w2 = v2 & V::splat(0xFE);
    const V v1_80 = v1 == 0x80;
    // EF BD 9C ｜; EF BC BB ［, BD ］, 83 ＃
    const V ef = (v0 == 0xEF) & (((v1 == 0xBD) & (v2 == 0x9C)) |
                                 ((v1 == 0xBC) & ((v2 == 0xBB) | (v2 == 0xBD) | (v2 == 0x83))));
    // E3 80 8A/8B 《》, 8C/8D 「」, 94/95 〔〕
    const V e3 = (v0 == 0xE3) & v1_80 & ((w2 == 0x8A) | (w2 == 0x8C) | (w2 == 0x94));
    // E2 89 AA/AB ≪≫; E2 80 BB ※
    const V e2 = (v0 == 0xE2) & (((v1 == 0x89) & (w2 == 0xAA)) | (v1_80 & (v2 == 0xBB)));
    return (ef | e3 | e2 | (v0 == '\n')).mask();
}

// A byte from "-", "=" or "_".
inline V rule_bytes(const V& v) { return (v == '-') | (v == '=') | (v == '_'); }

void find_hits_kernel(std::string_view text, std::vector<uint32_t>& hits) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    detail::HitSink sink(hits);
    size_t i = 0;
    // Japanese text with markup has hits in about every other block, too
    // irregular for a branch on the mask to be predicted: every block's
    // mask is written, hits or none, with room made once per group.
    constexpr size_t kGroup = 8;
    while (i + kGroup * V::kWidth + kLookahead <= n) {
        sink.reserve_block(kGroup * V::kWidth + 4);
        for (size_t k = 0; k < kGroup; ++k, i += V::kWidth) sink.push_mask(static_cast<uint32_t>(i), hit_mask(p + i));
    }
    for (; i + V::kWidth + kLookahead <= n; i += V::kWidth) {
        const uint32_t mask = hit_mask(p + i);
        if (mask) {
            sink.reserve_block(V::kWidth + 4);
            sink.push_mask(static_cast<uint32_t>(i), mask);
        }
    }
    detail::scalar_hits(p, i, n, sink);
}

SanitizeProbe probe_kernel(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    V cr = V::zero(), rule = V::zero(), tortoise = V::zero(), sentinel = V::zero();
    uint32_t control = 0;
    size_t i = 0;
    for (; i + V::kWidth + kLookahead <= n; i += V::kWidth) {
        const V v0 = V::load(p + i), v1 = V::load(p + i + 1), v2 = V::load(p + i + 2);
        const V v1_80 = v1 == 0x80;
        // Most blocks hold nothing the sanitizer wants: bytes below 0x20 are
        // line feeds there, and EE (a private-use lead) is rare. Those that
        // may hold something are judged in full below.
        const V low = (v0 & V::splat(0xE0)) == 0;
        const V rule_here = rule_bytes(v0) & (v0 == v1);
        const V tortoise_here = (v0 == 0xE3) & v1_80 & (v2 == 0x94);
        rule = rule | rule_here;
        tortoise = tortoise | tortoise_here;
        const V line_feed = v0 == '\n';
        if ((low.mask() & ~line_feed.mask()) == 0 && (v0 == 0xEE).mask() == 0) continue;
        const V is_cr = v0 == '\r';
        cr = cr | is_cr;
        // Bytes below 0x20, less the three that are allowed.
        control |= low.mask() & ~(is_cr | (v0 == '\t') | line_feed).mask();
        sentinel = sentinel | ((v0 == 0xEE) & v1_80 & ((v2 == 0x81) | (v2 == 0x82) | (v2 == 0x83) | (v2 == 0x84)));
    }
    SanitizeProbe r;
    r.carriage_return = cr.mask() != 0;
    r.rule_pair = rule.mask() != 0;
    r.tortoise_open = tortoise.mask() != 0;
    r.sentinel = sentinel.mask() != 0;
    r.control = control != 0;
    detail::scalar_probe(p, i, n, r);
    return r;
}

size_t find_triple_kernel(std::string_view text, size_t from, const char* pattern) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const V a = V::splat(static_cast<unsigned char>(pattern[0]));
    const V b = V::splat(static_cast<unsigned char>(pattern[1]));
    const V c = V::splat(static_cast<unsigned char>(pattern[2]));
    size_t i = from;
    for (; i + V::kWidth + kLookahead <= n; i += V::kWidth) {
        const uint32_t mask = ((V::load(p + i) == a) & (V::load(p + i + 1) == b) & (V::load(p + i + 2) == c)).mask();
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    return detail::scalar_find_triple(text, i, pattern);
}

size_t find_six_kernel(std::string_view text, size_t from, const char* pattern) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    V b[6];
    for (int k = 0; k < 6; ++k) b[k] = V::splat(static_cast<unsigned char>(pattern[k]));
    size_t i = from;
    for (; i + V::kWidth + 5 <= n; i += V::kWidth) {
        // The last three bytes are compared only in blocks where the first
        // three match somewhere: most blocks cost what a triple search does.
        const V head = (V::load(p + i) == b[0]) & (V::load(p + i + 1) == b[1]) & (V::load(p + i + 2) == b[2]);
        if (head.mask() == 0) continue;
        const V tail = (V::load(p + i + 3) == b[3]) & (V::load(p + i + 4) == b[4]) & (V::load(p + i + 5) == b[5]);
        const uint32_t mask = (head & tail).mask();
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    return detail::scalar_find_six(text, i, pattern);
}

size_t find_rule_triple_kernel(std::string_view text, size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = from;
    for (; i + V::kWidth + kLookahead <= n; i += V::kWidth) {
        const V v0 = V::load(p + i), v1 = V::load(p + i + 1), v2 = V::load(p + i + 2);
        const uint32_t mask = (rule_bytes(v0) & (v0 == v1) & (v1 == v2)).mask();
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask));
    }
    return detail::scalar_find_rule_triple(text, i);
}

const Kernels kKernels{kPath, find_hits_kernel, probe_kernel, find_triple_kernel, find_six_kernel, find_rule_triple_kernel};
