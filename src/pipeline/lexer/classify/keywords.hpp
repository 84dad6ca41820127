#pragma once
// The annotation keyword automaton: one anchored search over the start of
// an annotation body selects the directive rule. Built once per process.

#include <cstdint>
#include <optional>
#include <string_view>

namespace kogane {

inline constexpr uint32_t kBodyPatternCount = 136;

struct BodyPattern {
    std::string_view keyword;
    uint8_t family;
};

// The keyword list; a keyword's pattern number is its index.
const BodyPattern& body_pattern(uint32_t pattern);

struct BodyMatch {
    uint32_t pattern = 0;
    uint32_t end = 0;  // byte offset in the body where the keyword ends
    uint8_t family = 0;
};

// The longest keyword that is a prefix of `body`, or nothing.
std::optional<BodyMatch> body_pattern_search(std::string_view body);

// Families whose keyword must be the entire body.
constexpr bool family_requires_whole(uint8_t family) {
    return family < 64 && ((0x18C007BFBFFFull >> family) & 1) != 0;
}

// Builds the automaton if it is not built yet.
void prewarm_keywords();

}  // namespace kogane
