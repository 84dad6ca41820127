#pragma once
// First lexer stage: byte-order marks, line terminators, rule-line
// isolation, accent fragments and reserved sentinel code points.

#include <string>
#include <string_view>

#include "collections/span.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// Returns the sanitized text: `source` itself when nothing needs
// rewriting (compare the pointers), else a new buffer. This stage's
// diagnostics, in sanitized coordinates, are appended to `diagnostics`.
SharedText sanitize(const SharedText& source, Diagnostics& diagnostics);

// Rule lines: a line of ten or more bytes of one repeated "-", "=" or "_"
// (surrounding white space ignored).
bool is_rule_line(std::string_view line);
bool has_rule_line(std::string_view text);
// Inserts a line feed before every rule line whose preceding line is not blank.
std::string isolate_rule_lines(std::string_view text);

// Each CR LF and each lone CR becomes one LF.
std::string normalize_line_ends(std::string_view text);

// Rewrites accent digraphs inside every 〔…〕 of `text`, appending one
// accent_decomposition_applied diagnostic (output coordinates) per changed
// fragment.
std::string rewrite_accent_fragments(std::string_view text, Diagnostics& diagnostics);

}  // namespace kogane
