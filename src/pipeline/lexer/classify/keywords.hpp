#pragma once
// The annotation keywords (data/annotation-keywords.tsv, one row each) and
// their automaton: one anchored search over the start of an annotation body
// selects the directive rule. Built once per process.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "syntax/ast/node.hpp"

namespace kogane {

#include "keyword_names.inc"

// Whether text may follow the keyword in the body.
enum class KeywordMatch : uint8_t {
    Whole,   // the keyword is the entire body
    Prefix,  // the family's rule reads what follows
    None,    // never matched at the start of a body (a style named elsewhere)
};

struct KeywordRow {
    Keyword key;
    std::string_view text;
    KeywordFamily family;
    KeywordMatch match;
    const char* html_class;  // nullptr when the keyword has no class of its own
};

std::span<const KeywordRow> keyword_rows();
const KeywordRow& keyword_row(Keyword key);
inline std::string_view keyword_text(Keyword key) { return keyword_row(key).text; }

// The keyword that names a line size (特大文字 …).
constexpr Keyword line_size_keyword(LineSize size) {
    switch (size) {
        case LineSize::ExtraLarge: return Keyword::ExtraLargeText;
        case LineSize::Large: return Keyword::LargeText;
        case LineSize::Medium: return Keyword::MediumText;
        case LineSize::Small: return Keyword::SmallText;
    }
    return Keyword::SmallText;
}

// The row whose keyword is exactly `text`, or nullptr.
const KeywordRow* find_keyword(std::string_view text);

struct BodyMatch {
    Keyword key{};
    uint32_t end = 0;  // byte offset in the body where the keyword ends
    KeywordFamily family{};
    KeywordMatch match = KeywordMatch::Whole;
};

// The longest keyword that is a prefix of `body`, or nothing.
std::optional<BodyMatch> body_pattern_search(std::string_view body);

// Builds the automaton if it is not built yet.
void prewarm_keywords();

}  // namespace kogane
