#pragma once
// The plain-text diagnostics report: a header line per diagnostic and, when
// the span is a valid slice of the source, the slice as a quoted literal
// (only its first kExcerptBytes when longer, followed by "… (N bytes)").

#include <string>
#include <string_view>

#include "syntax/diagnostic.hpp"

namespace kogane {

// Longest slice quoted whole: enough to find the place, and it keeps the
// report linear in the input however many diagnostics share a long span.
inline constexpr size_t kExcerptBytes = 120;

std::string render_diagnostics_text(const Diagnostics& diagnostics, std::string_view source);

// Writes `text` as a double-quoted literal with \t \r \n \0 \" \\ and \u{…}
// escapes for characters that are not printable or are combining marks.
void append_quoted_literal(std::string& out, std::string_view text);

// Characters written as \u{…} in a quoted literal.
bool needs_unicode_escape(uint32_t cp);

}  // namespace kogane
