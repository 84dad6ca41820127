#pragma once
// The plain-text diagnostics report: a header line per diagnostic and, when
// the span is a valid slice of the source, the slice as a quoted literal.

#include <string>
#include <string_view>

#include "syntax/diagnostic.hpp"

namespace kogane {

std::string render_diagnostics_text(const Diagnostics& diagnostics, std::string_view source);

// Writes `text` as a double-quoted literal with \t \r \n \0 \" \\ and \u{…}
// escapes for characters that are not printable or are combining marks.
void append_quoted_literal(std::string& out, std::string_view text);

// Characters written as \u{…} in a quoted literal.
bool needs_unicode_escape(uint32_t cp);

}  // namespace kogane
