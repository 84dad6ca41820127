#pragma once
// The process-wide trigger scanner: finds every trigger character and every
// line feed in one pass, plus the searches the sanitize stage runs. Each
// processor path (scalar, SWAR, SSE2, AVX2) is one table of kernels giving
// identical results; the fastest table the processor supports is chosen
// once, when the scanner is built, and every caller goes through it.

#include <cstdint>
#include <string_view>
#include <vector>

namespace kogane::scan {

// Scalar is the reference definition, one position at a time; Swar judges
// eight positions per step in a 64-bit integer, on any processor.
enum class ScanPath : uint8_t { Scalar = 0, Sse2 = 1, Avx2 = 2, Swar = 3 };

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

// What the sanitize stage needs to know before deciding to copy the text.
struct SanitizeProbe {
    bool carriage_return = false;  // some 0x0D
    bool rule_pair = false;        // two equal adjacent bytes from "-", "=", "_"
    bool tortoise_open = false;    // some 〔 (E3 80 94)
    bool sentinel = false;         // some EE 80 81..84
    bool control = false;          // some C0 control other than tab, line feed and carriage return

    // What two probes of overlapping pieces of a text (by at least two
    // bytes, the longest pattern less one) say of the whole.
    SanitizeProbe& operator|=(const SanitizeProbe& other) {
        carriage_return |= other.carriage_return;
        rule_pair |= other.rule_pair;
        tortoise_open |= other.tortoise_open;
        sentinel |= other.sentinel;
        control |= other.control;
        return *this;
    }
};

// One processor path's implementation of every scanning routine.
struct Kernels {
    ScanPath path;
    // See find_hits below.
    void (*find_hits)(std::string_view text, std::vector<uint32_t>& hits);
    SanitizeProbe (*probe)(std::string_view text);
    // See find_triple, find_six and find_rule_triple below.
    size_t (*find_triple)(std::string_view text, size_t from, const char* pattern);
    size_t (*find_six)(std::string_view text, size_t from, const char* pattern);
    size_t (*find_rule_triple)(std::string_view text, size_t from);
    // See "Kernels::widen_three_byte_run16 and 32" below.
    size_t (*widen_three_byte_run16)(const unsigned char* p, size_t n, uint16_t* out) = nullptr;
    size_t (*widen_three_byte_run32)(const unsigned char* p, size_t n, uint32_t* out) = nullptr;
    // See skip_keyless_run below; null on paths without 256-bit vectors.
    size_t (*skip_keyless_run)(const unsigned char* p, size_t n, const uint32_t* filter) = nullptr;
    // Counts the continuation bytes (80..BF) of p[0, n) into `continuations`
    // and raises `top` to the greatest byte, for the whole blocks of 32 at
    // its start, and returns the bytes counted. Null on paths without
    // 256-bit vectors.
    size_t (*tally_utf8)(const unsigned char* p, size_t n, uint64_t& continuations, unsigned& top) = nullptr;
    // See kSjisPointerCount below; null on paths without 256-bit vectors.
    size_t (*decode_double_byte_run)(const unsigned char* p, size_t n, const uint32_t* chars, char* out) = nullptr;
};

// The kernels of `path`; the scalar ones when this processor cannot run it.
const Kernels& kernels(ScanPath path);

class TriggerScanner {
public:
    // Built on first use under a one-time guard, then shared read-only: the
    // one place the path is chosen.
    static const TriggerScanner& get();

    ScanPath path() const { return kernels_.path; }
    const Kernels& kernels() const { return kernels_; }
    void find_hits(std::string_view text, std::vector<uint32_t>& hits) const { kernels_.find_hits(text, hits); }

    TriggerScanner(const TriggerScanner&) = delete;
    TriggerScanner& operator=(const TriggerScanner&) = delete;

private:
    explicit TriggerScanner(const Kernels& kernels) : kernels_(kernels) {}

    const Kernels& kernels_;
};

SanitizeProbe probe_for_sanitize(ScanPath path, std::string_view text);
// Uses the path of the process-wide scanner.
SanitizeProbe probe_for_sanitize(std::string_view text);

// Offset of the first occurrence of the three bytes `pattern` at or after
// `from`, or npos. A vector search where the processor has one; used where
// the first byte of the pattern (E3 for 〔 and 〕) is too common for a
// memchr-driven search.
size_t find_triple(std::string_view text, size_t from, const char* pattern);
// The same for six bytes: two characters of Japanese text, whose pair is
// far rarer than either alone (searches for quoted targets).
size_t find_six(std::string_view text, size_t from, const char* pattern);

// Offset of the first of three equal bytes in a row from "-", "=" or "_" at
// or after `from`, or npos: where a rule line may stand.
size_t find_rule_triple(std::string_view text, size_t from);
// (Both use the path of the process-wide scanner.)

// Kernels::widen_three_byte_run16 and 32 decode the run of valid
// three-byte UTF-8 characters (no overlong form, no surrogate) at the
// start of p[0, n), four at a time, into one unit each; they stop before
// the first four that are not all such (or when fewer than sixteen bytes
// are left) and return the bytes decoded, a multiple of twelve. For
// building host strings from Japanese text; null on paths without a byte
// shuffle, which leave the work to the caller.

// A filter of six-byte keys that start with a three-byte character (two
// characters of Japanese text), for passing over text where none can
// start: a bit per slot, kKeySlots slots in 32-bit words. A key's slot
// hashes its continuation bytes (1, 2, 4 and 5), so a filter built and a
// filter probed agree wherever the slot is taken.
inline constexpr unsigned kKeySlotBits = 16;
inline constexpr size_t kKeySlots = size_t(1) << kKeySlotBits;
inline uint32_t key_slot(const unsigned char* six) {
    const uint32_t x = uint32_t(six[1]) | uint32_t(six[2]) << 8 | uint32_t(six[4]) << 16 | uint32_t(six[5]) << 24;
    return (x * 0x9E3779B1u) >> (32 - kKeySlotBits);
}

// Passes over the run of three-byte characters at the start of p[0, n)
// (by their lead and continuation bits) at none of which the six bytes
// there have their slot set in `filter`, eight characters a step; stops at
// the first character that is no such, where a key may start, or when
// fewer than 32 bytes are left, and returns the bytes passed over, a
// multiple of three. 0 on paths without 256-bit vectors, which leave the
// work to the caller.
size_t skip_keyless_run(const unsigned char* p, size_t n, const uint32_t* filter);

// Shift_JIS double-byte characters are addressed by a pointer, lead row
// (81..9F, E0..FC) times 188 plus trail column (40..7E, 80..FC); `chars`
// holds one word per pointer, the character's UTF-8 bytes from the lowest
// and its UTF-8 length in the top byte (0 where nothing is mapped).
//
// Decodes the run of double-byte characters at the start of p[0, n) whose
// UTF-8 forms are three bytes long, eight a step, into `out`; stops before
// the first eight that are not all such (or when fewer than sixteen bytes
// are left) and returns the bytes decoded, a multiple of sixteen. Writes
// three bytes per character and may store one byte past them, or up to 25
// bytes at `out` for the eight it stops before. For the decoder's runs of
// Japanese text; Kernels::decode_double_byte_run (null on paths without
// 256-bit vectors, which leave the work to the caller).
inline constexpr unsigned kSjisPointerCount = 60 * 188;

}  // namespace kogane::scan
