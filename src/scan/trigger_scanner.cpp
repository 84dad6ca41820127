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

ScanPath best_path() {
    if (scan_path_available(ScanPath::Avx2)) return ScanPath::Avx2;
    if (scan_path_available(ScanPath::Sse2)) return ScanPath::Sse2;
    return ScanPath::Scalar;
}

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
    }
    return "scalar";
}

bool scan_path_available(ScanPath path) {
    switch (path) {
        case ScanPath::Scalar: return true;
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

void find_hits_scalar(std::string_view text, std::vector<uint32_t>& hits) {
    detail::HitSink sink(hits);
    detail::scalar_hits(reinterpret_cast<const unsigned char*>(text.data()), 0, text.size(), sink);
}

SanitizeProbe probe_scalar(std::string_view text) {
    SanitizeProbe r;
    detail::scalar_probe(reinterpret_cast<const unsigned char*>(text.data()), 0, text.size(), r);
    return r;
}

void find_hits(ScanPath path, std::string_view text, std::vector<uint32_t>& hits) {
    switch (path) {
        case ScanPath::Avx2: find_hits_avx2(text, hits); return;
        case ScanPath::Sse2: find_hits_sse2(text, hits); return;
        case ScanPath::Scalar: break;
    }
    find_hits_scalar(text, hits);
}

SanitizeProbe probe_for_sanitize(ScanPath path, std::string_view text) {
    switch (path) {
        case ScanPath::Avx2: return probe_avx2(text);
        case ScanPath::Sse2: return probe_sse2(text);
        case ScanPath::Scalar: break;
    }
    return probe_scalar(text);
}

SanitizeProbe probe_for_sanitize(std::string_view text) {
    return probe_for_sanitize(TriggerScanner::get().path(), text);
}

TriggerScanner::TriggerScanner(ScanPath path) : path_(path), kernel_(find_hits_scalar) {
    if (path == ScanPath::Avx2) kernel_ = find_hits_avx2;
    else if (path == ScanPath::Sse2) kernel_ = find_hits_sse2;
}

const TriggerScanner& TriggerScanner::get() {
    // A function-local static is initialised exactly once, other threads
    // waiting for the first.
    static const TriggerScanner scanner(best_path());
    return scanner;
}

void TriggerScanner::find_hits(std::string_view text, std::vector<uint32_t>& hits) const { kernel_(text, hits); }

}  // namespace kogane::scan
