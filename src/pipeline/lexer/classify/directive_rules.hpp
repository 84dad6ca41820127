#pragma once
// The annotation vocabulary: what the body of one ［＃…］ means. Keyword
// rules first (containers, layout, breaks, kaeriten, illustrations), then
// the forward-reference forms, editorial notes, bare gaiji descriptions,
// and finally a remark that keeps the annotation's text.

#include <cstdint>
#include <optional>
#include <string_view>

#include "pipeline/lexer/classify/directive.hpp"

namespace kogane {

struct Count {
    uint8_t value = 0;
    std::string_view rest;
};

// A decimal count in ASCII or full-width digits (mixed freely) at the start
// of `text`; nothing when there is no digit or the value is 256 or more.
std::optional<Count> parse_count(std::string_view text);

// Heading keyword: optional 同行 / 窓, then 大見出し, 中見出し or 小見出し.
struct HeadingKeyword {
    HeadingLevel level = HeadingLevel::Large;
    HeadingStyle style = HeadingStyle::Standalone;
};
std::optional<HeadingKeyword> parse_heading_keyword(std::string_view text);

// Bouten kind keyword (×傍点 included) spanning all of `text`.
std::optional<BoutenKind> parse_bouten_kind(std::string_view text);

// Classifies one annotation group; nothing when the group is not ［＃…］.
std::optional<AnnotationResult> classify_directive(const AnnotationInput& in);

}  // namespace kogane
