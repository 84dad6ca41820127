#include "pipeline/lexer/sanitize.hpp"

namespace kogane {

// Pass-through until the real stage lands.
SanitizedSource sanitize(SharedText source, Diagnostics diagnostics) {
    SanitizedSource out;
    out.diagnostics = std::move(diagnostics);
    out.text = source;
    out.source = std::move(source);
    out.sanitized_is_source = true;
    return out;
}

bool has_rule_line(std::string_view) { return false; }
std::string isolate_rule_lines(std::string_view text) { return std::string(text); }

}  // namespace kogane
