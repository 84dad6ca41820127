#pragma once
// First lexer stage: byte-order marks, line terminators, rule-line
// isolation, accent fragments and reserved sentinel code points.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "collections/span.hpp"
#include "scan/trigger_scanner.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// Returns the sanitized text: `source` itself when nothing needs
// rewriting (compare the pointers), else a new buffer. This stage's
// diagnostics, in sanitized coordinates, are appended to `diagnostics`.
SharedText sanitize(const SharedText& source, Diagnostics& diagnostics);

// The changes one sanitizing step made to a text it edited in place, in
// order: the bytes text[at, at + length) of the step's result stood for
// bytes of the original kept in `was`. Twelve bytes a change plus the
// bytes replaced, so a flood of changes stays a small multiple of the text.
class TextEdits {
public:
    void add(uint32_t at, uint32_t length, std::string_view was) {
        was_.append(was);
        edits_.push_back(Edit{at, length, static_cast<uint32_t>(was_.size())});
    }
    bool empty() const { return edits_.empty(); }
    // The text before the step, from the text after it.
    std::string undo(std::string_view after) const;
    uint64_t undone_size(uint64_t after_size) const;

private:
    struct Edit {
        uint32_t at;
        uint32_t length;
        uint32_t was_end;  // `was` of this change ends here in was_, and starts where the last one's ended
    };
    std::vector<Edit> edits_;
    std::string was_;
};

// The edits of each step of sanitize_owned, in the order the steps ran,
// each in the coordinates of the text that step left.
struct SanitizeEdits {
    std::vector<TextEdits> steps;
    bool empty() const { return steps.empty(); }
    // The text as it was given, from the sanitized one.
    std::string undo(std::string_view sanitized) const;
    uint64_t undone_size(uint64_t sanitized_size) const;
};

// sanitize for a text the parse owns, without line ends to normalize (the
// decoder folded them): every step edits it in place and records what it
// changed in `edits`, so no second copy of the text is held. `probed` is
// the text's probe when the decoder already took it.
SharedText sanitize_owned(std::string text, SanitizeEdits& edits, Diagnostics& diagnostics,
                          const std::optional<scan::SanitizeProbe>& probed = std::nullopt);

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
