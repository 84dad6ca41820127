#include "pipeline/lexer/pair.hpp"

namespace kogane {

// Pass-through until the real stage lands.
PairedStream pair(TokenStream input) {
    PairedStream out;
    out.diagnostics = std::move(input.diagnostics);
    out.text = std::move(input.text);
    out.sanitized_is_source = input.sanitized_is_source;
    out.source = std::move(input.source);
    return out;
}

}  // namespace kogane
