#pragma once
// Latin accents written in ASCII: digraph fragments inside 〔…〕, single
// accent annotations, and dot-above / dot-below annotations.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kogane {

inline constexpr int kDigraphCount = 110;

// Accent kinds of a forward-reference accent annotation.
enum class AccentKind : uint8_t { Acute = 0, Diaeresis = 1, Grave = 2 };

// The nine ASCII marks that may follow a letter in a digraph.
bool is_accent_mark(char c);
// True when `fragment` holds at least one accent mark, i.e. is worth rewriting.
bool has_accent_mark(std::string_view fragment);

// Code point for the two-byte key (letter, mark), or nullopt.
std::optional<uint32_t> lookup_digraph(char letter, char mark);
// Code point for one of the four three-byte ligature keys (AE&, OE&, ae&, oe&).
std::optional<uint32_t> lookup_ligature(std::string_view key);

// Rewrites the content of one 〔…〕 fragment (brackets excluded): greedy,
// left to right, ligatures before digraphs, everything else copied.
std::string decompose_accents(std::string_view fragment);

// The precomposed letter for an ASCII letter and an accent, or nullopt.
std::optional<uint32_t> compose_accent(uint32_t ch, AccentKind accent);

// Dot annotations ("…ドット付き").
enum class DotMode : uint8_t { First = 0, Nth = 1, Last = 2 };

struct DotRecord {
    DotMode mode = DotMode::First;
    uint32_t ordinal = 0;  // Nth only, 1-based
    uint32_t letter = 0;   // ASCII letter as written in the annotation
    uint8_t below = 0;     // 0 dot above, 1 dot below
};

// The dotted form of `letter` (0 above, 1 below), or nullopt.
std::optional<uint32_t> lookup_dot(char letter, uint8_t below);

// Parses an annotation body into dot records; nullopt when it is not a
// well-formed dot annotation.
std::optional<std::vector<DotRecord>> parse_dot_annotation(std::string_view body);

// The word with the annotated letters dotted, or nullopt when the body is
// not a dot annotation or does not apply to this word.
std::optional<std::string> apply_dot_accents(std::string_view word, std::string_view body);

}  // namespace kogane
