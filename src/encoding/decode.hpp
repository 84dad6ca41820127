#pragma once
// Source decoding: strict Shift_JIS (the Encoding Standard's decoder, no
// replacement characters) and a sniffer that prefers valid UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace kogane {

// Empty optional = the bytes are malformed or unmapped (no partial text).
std::optional<std::string> decode_sjis(std::string_view bytes);

// Strict UTF-8: no overlong forms, no surrogates, no truncated sequences.
bool is_valid_utf8(std::string_view bytes);

// Valid UTF-8 is copied unchanged (a BOM stays); anything else is decoded as
// Shift_JIS.
std::optional<std::string> decode_auto(std::string_view bytes);

}  // namespace kogane
