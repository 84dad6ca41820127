#pragma once
// Index of the texts quoted in 「…」 in a document, answering "where does
// this forward-reference target first occur?" for the annotation
// classifiers. First occurrences are computed on demand and cached, so a
// book with thousands of quotes is not rescanned once per quote.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kogane {

class QuoteIndex {
public:
    // `text` (the sanitized text) must outlive the index.
    explicit QuoteIndex(std::string_view text);

    // True when `target` is the non-empty content of a matched 「…」 pair.
    bool is_quoted(std::string_view target) const;

    // First occurrence of `target` in the text, or nothing. Valid for any
    // target; answers for quoted texts are cached.
    std::optional<uint32_t> first_occurrence(std::string_view target) const;

private:
    std::string_view text_;
    // quoted text -> cached first occurrence (UINT32_MAX = not found,
    // UINT32_MAX - 1 = not computed yet)
    mutable std::unordered_map<std::string_view, uint32_t> quoted_;
};

}  // namespace kogane
