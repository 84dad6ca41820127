#pragma once
// The process-wide trigger scanner: finds every trigger character and every
// line feed in one pass. Three interchangeable kernels (scalar, SSE2, AVX2)
// give identical hit lists; the fastest one the processor supports is chosen
// once, when the scanner is built.

#include <cstdint>
#include <string_view>
#include <vector>

namespace kogane::scan {

enum class ScanPath : uint8_t { Scalar = 0, Sse2 = 1, Avx2 = 2 };

const char* scan_path_name(ScanPath path);
// Whether this build and this processor can run `path`.
bool scan_path_available(ScanPath path);

// Kind (0..12, TriggerKind order) of the trigger whose three bytes start at
// `p`, or -1. Exact: every byte is compared.
int classify_trigger(const unsigned char* p);

// Appends to `hits` the offset of every trigger character and every line
// feed in `text`, in increasing order. The caller tells them apart by the
// byte at the offset ('\n' or a trigger lead byte). Offsets are u32; the
// caller has checked the length.
void find_hits(ScanPath path, std::string_view text, std::vector<uint32_t>& hits);

class TriggerScanner {
public:
    // Built on first use under a one-time guard, then shared read-only.
    static const TriggerScanner& get();

    ScanPath path() const { return path_; }
    void find_hits(std::string_view text, std::vector<uint32_t>& hits) const;

    TriggerScanner(const TriggerScanner&) = delete;
    TriggerScanner& operator=(const TriggerScanner&) = delete;

private:
    using Kernel = void (*)(std::string_view, std::vector<uint32_t>&);
    explicit TriggerScanner(ScanPath path);

    ScanPath path_;
    Kernel kernel_;
};

// What the sanitize stage needs to know before deciding to copy the text.
struct SanitizeProbe {
    bool carriage_return = false;  // some 0x0D
    bool rule_pair = false;        // two equal adjacent bytes from "-", "=", "_"
    bool tortoise_open = false;    // some 〔 (E3 80 94)
    bool sentinel = false;         // some EE 80 81..84
};

SanitizeProbe probe_for_sanitize(ScanPath path, std::string_view text);
// Uses the path of the process-wide scanner.
SanitizeProbe probe_for_sanitize(std::string_view text);

// Offset of the first occurrence of the three bytes `pattern` at or after
// `from`, or npos. A vector search on x86-64; used where the first byte of
// the pattern (E3 for 〔 and 〕) is too common for a memchr-driven search.
size_t find_triple(std::string_view text, size_t from, const char* pattern);

// Offset of the first of three equal bytes in a row from "-", "=" or "_" at
// or after `from`, or npos: where a rule line may stand.
size_t find_rule_triple(std::string_view text, size_t from);

// Kernels, one per path; exposed for the dispatcher, the tests and the
// benchmarks. Calling an unavailable one is not allowed.
void find_hits_scalar(std::string_view text, std::vector<uint32_t>& hits);
void find_hits_sse2(std::string_view text, std::vector<uint32_t>& hits);
void find_hits_avx2(std::string_view text, std::vector<uint32_t>& hits);
SanitizeProbe probe_scalar(std::string_view text);
SanitizeProbe probe_sse2(std::string_view text);
SanitizeProbe probe_avx2(std::string_view text);

}  // namespace kogane::scan
