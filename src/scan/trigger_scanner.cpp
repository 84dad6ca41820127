#include "scan/trigger_scanner.hpp"

#include <array>

#include "scan/scan_internal.hpp"
#include "syntax/lexical.hpp"

namespace kogane::scan {

namespace {

// Key of a candidate: the low six bits of the third byte plus bit 0 of the
// lead byte. It separates all thirteen triggers (［ EF BC BB and ※ E2 80 BB
// share a third byte but not the lead's low bit), so one table lookup and
// one three-byte compare classify a position.
constexpr unsigned trigger_key(unsigned char lead, unsigned char third) {
    return (third & 0x3Fu) | ((lead & 0x01u) << 6);
}

constexpr std::array<int8_t, 128> build_key_table() {
    std::array<int8_t, 128> t{};
    for (auto& e : t) e = -1;
    for (int k = 0; k < kTriggerCount; ++k) {
        const auto lead = static_cast<unsigned char>(kTriggerPatterns[3 * k]);
        const auto third = static_cast<unsigned char>(kTriggerPatterns[3 * k + 2]);
        t[trigger_key(lead, third)] = static_cast<int8_t>(k);
    }
    return t;
}

constexpr std::array<int8_t, 128> kKeyTable = build_key_table();

static_assert([] {
    int filled = 0;
    for (int8_t e : kKeyTable) filled += e >= 0;
    return filled == kTriggerCount;
}(), "trigger keys must not collide");

}  // namespace

int classify_trigger(const unsigned char* p) {
    const int k = kKeyTable[trigger_key(p[0], p[2])];
    if (k < 0) return -1;
    const char* pat = kTriggerPatterns + 3 * k;
    if (p[0] != static_cast<unsigned char>(pat[0]) || p[1] != static_cast<unsigned char>(pat[1]) ||
        p[2] != static_cast<unsigned char>(pat[2]))
        return -1;
    return k;
}

const char* scan_path_name(ScanPath path) {
    switch (path) {
        case ScanPath::Scalar: return "scalar";
        case ScanPath::Sse2: return "sse2";
        case ScanPath::Avx2: return "avx2";
        case ScanPath::Swar: return "swar";
    }
    return "scalar";
}

bool scan_path_available(ScanPath path) {
    switch (path) {
        case ScanPath::Scalar:
        case ScanPath::Swar: return true;
#if defined(__x86_64__)
        case ScanPath::Sse2: return true;
        case ScanPath::Avx2: return __builtin_cpu_supports("avx2");
#else
        case ScanPath::Sse2:
        case ScanPath::Avx2: return false;
#endif
    }
    return false;
}

namespace {

void find_hits_scalar(std::string_view text, std::vector<uint32_t>& hits) {
    detail::HitSink sink(hits);
    detail::scalar_hits(reinterpret_cast<const unsigned char*>(text.data()), 0, text.size(), sink);
}

SanitizeProbe probe_scalar(std::string_view text) {
    SanitizeProbe r;
    detail::scalar_probe(reinterpret_cast<const unsigned char*>(text.data()), 0, text.size(), r);
    return r;
}

constexpr Kernels kScalarKernels{ScanPath::Scalar, find_hits_scalar, probe_scalar, detail::scalar_find_triple,
                                 detail::scalar_find_six, detail::scalar_find_rule_triple};

const Kernels& best_kernels() {
    if (scan_path_available(ScanPath::Avx2)) return kernels(ScanPath::Avx2);
    if (scan_path_available(ScanPath::Sse2)) return kernels(ScanPath::Sse2);
    return kernels(ScanPath::Swar);
}

}  // namespace

const Kernels& kernels(ScanPath path) {
    if (!scan_path_available(path)) return kScalarKernels;
    switch (path) {
        case ScanPath::Swar: return swar_kernels();
#if defined(__x86_64__)
        case ScanPath::Avx2: return avx2_kernels();
        case ScanPath::Sse2: return sse2_kernels();
#else
        case ScanPath::Avx2:
        case ScanPath::Sse2:
#endif
        case ScanPath::Scalar: break;
    }
    return kScalarKernels;
}

void find_hits(ScanPath path, std::string_view text, std::vector<uint32_t>& hits) {
    kernels(path).find_hits(text, hits);
}

SanitizeProbe probe_for_sanitize(ScanPath path, std::string_view text) { return kernels(path).probe(text); }

SanitizeProbe probe_for_sanitize(std::string_view text) { return TriggerScanner::get().kernels().probe(text); }

size_t find_triple(std::string_view text, size_t from, const char* pattern) {
    return TriggerScanner::get().kernels().find_triple(text, from, pattern);
}

size_t find_six(std::string_view text, size_t from, const char* pattern) {
    return TriggerScanner::get().kernels().find_six(text, from, pattern);
}

size_t skip_keyless_run(const unsigned char* p, size_t n, const uint32_t* filter) {
    const auto run = TriggerScanner::get().kernels().skip_keyless_run;
    return run != nullptr ? run(p, n, filter) : 0;
}

size_t find_rule_triple(std::string_view text, size_t from) {
    return TriggerScanner::get().kernels().find_rule_triple(text, from);
}

const TriggerScanner& TriggerScanner::get() {
    // A function-local static is initialised exactly once, other threads
    // waiting for the first.
    static const TriggerScanner scanner(best_kernels());
    return scanner;
}

}  // namespace kogane::scan
