#include "pipeline/lexer/tokenize.hpp"

namespace kogane {

// Pass-through until the real stage lands.
TokenStream tokenize(SanitizedSource input) {
    TokenStream out;
    out.diagnostics = std::move(input.diagnostics);
    out.text = std::move(input.text);
    out.sanitized_is_source = input.sanitized_is_source;
    out.source = std::move(input.source);
    return out;
}

}  // namespace kogane
