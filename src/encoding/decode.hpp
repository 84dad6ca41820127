#pragma once
// Source decoding: strict Shift_JIS (the Encoding Standard's decoder, no
// replacement characters) and a sniffer that prefers valid UTF-8. The
// length limit is decided before any text is copied or decoded.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "encoding/line_ends.hpp"

#include "scan/trigger_scanner.hpp"

namespace kogane {

// The longest source the parser takes: offsets are u32.
inline constexpr uint64_t kMaxSourceBytes = 0xFFFFFFFFull;

// Empty optional = the bytes are malformed or unmapped (no partial text).
std::optional<std::string> decode_sjis(std::string_view bytes);
// The same on the scanner path `path` (for tests that compare the paths).
std::optional<std::string> decode_sjis(std::string_view bytes, scan::ScanPath path);
// The same with line ends folded to LF, recorded in `ends`; with `probe`,
// the text is probed for the sanitizer as it is written, each piece while
// it is still in cache, so the sanitizer need not read it again.
std::optional<std::string> decode_sjis_folded(std::string_view bytes, LineEnds& ends,
                                              scan::SanitizeProbe* probe = nullptr);

// Builds the Shift_JIS decoding table (else built by the first decoding).
void prewarm_sjis();

// The UTF-8 length of the strict Shift_JIS decoding of `bytes`, without
// producing it; empty when the bytes do not decode.
std::optional<uint64_t> sjis_decoded_length(std::string_view bytes);

// Strict UTF-8: no overlong forms, no surrogates, no truncated sequences.
bool is_valid_utf8(std::string_view bytes);

// Valid UTF-8 is copied unchanged (a BOM stays); anything else is decoded as
// Shift_JIS.
std::optional<std::string> decode_auto(std::string_view bytes);

enum class DecodeFailure : uint8_t {
    Malformed,  // neither valid UTF-8 nor valid Shift_JIS
    TooLong,    // the text would be longer than the limit
};

// decode_auto with a limit on the decoded length, checked first: by the
// byte length (either decoding gives at least a byte per byte, so a longer
// input is refused unread, even when it would not decode), then for
// Shift_JIS by the bound of three bytes per input byte and, only when that
// bound crosses the limit, by a counting pass. Nothing over the limit is
// ever copied or decoded. With `fold`, line ends are folded to LF on the
// way and recorded there (the limit still applies to the text as it came).
// Where the decoding probes the text for the sanitizer on the way (Shift_JIS
// with `fold`), the probe goes to `probe`.
std::variant<std::string, DecodeFailure> decode_auto_limited(std::string_view bytes,
                                                             uint64_t limit = kMaxSourceBytes,
                                                             LineEnds* fold = nullptr,
                                                             std::optional<scan::SanitizeProbe>* probe = nullptr);

// UTF-8 from the code units of a host string (one, two or four bytes per
// character). A lone surrogate cannot be encoded: the length is then empty.
std::optional<uint64_t> utf8_length(std::span<const uint8_t> units);
std::optional<uint64_t> utf8_length(std::span<const uint16_t> units);
std::optional<uint64_t> utf8_length(std::span<const uint32_t> units);
// Appends the encoding; the units must have a length (no lone surrogates).
void append_utf8(std::string& out, std::span<const uint8_t> units);
void append_utf8(std::string& out, std::span<const uint16_t> units);
void append_utf8(std::string& out, std::span<const uint32_t> units);

// The other way: a host string built straight from UTF-8, without an
// intermediate decoder. First its shape: the number of characters and the
// widest unit it needs, read from the lead bytes alone (0x7F for ASCII,
// 0xFF, 0xFFFF or 0x10FFFF), exact for valid UTF-8.
struct Utf8Shape {
    uint64_t chars = 0;
    uint32_t max_char = 0x7F;
};
Utf8Shape utf8_shape(std::string_view text);
// Then the characters, written into `out` (room for shape.chars units of
// the width shape.max_char asks for). False on malformed UTF-8 or a
// character too wide for the unit, with `out` partly written: the caller
// falls back to a decoder that reports the fault.
bool widen_utf8(std::string_view text, uint8_t* out);
bool widen_utf8(std::string_view text, uint16_t* out);
bool widen_utf8(std::string_view text, uint32_t* out);

}  // namespace kogane
