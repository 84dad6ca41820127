#include "pipeline/lexer/classify/quote_index.hpp"

namespace kogane {

// Placeholder until the fold builds the real index.
QuoteIndex::QuoteIndex(std::string_view text) : text_(text) {}

bool QuoteIndex::is_quoted(std::string_view target) const { return quoted_.count(target) != 0; }

std::optional<uint32_t> QuoteIndex::first_occurrence(std::string_view target) const {
    size_t p = text_.find(target);
    if (p == std::string_view::npos) return std::nullopt;
    return static_cast<uint32_t>(p);
}

}  // namespace kogane
