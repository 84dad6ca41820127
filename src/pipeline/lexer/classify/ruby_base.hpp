#pragma once
// Script classes for implicit ruby bases: 漢字《かんじ》 takes as its base the
// run of same-class characters just before the 《. The source emitter uses
// the same classes to decide whether a base needs its ｜.

#include <cstdint>
#include <string_view>

namespace kogane {

enum class RubyClass : uint8_t {
    Kanji = 0,
    Hiragana = 1,
    Katakana = 2,
    Latin = 3,
    Greek = 4,
    Plus = 5,
    None = 0xFF,
};

RubyClass ruby_base_class(uint32_t codepoint);

// Decodes the character that ends at `end`, not reaching below `floor`.
// Returns its start, or `end` when no whole valid character fits.
uint32_t previous_char(std::string_view text, uint32_t floor, uint32_t end, uint32_t* codepoint);

// Start of the implicit base ending at `end`: the longest run of characters
// of one class inside text[floor, end). Equals `end` when the last
// character has no class.
uint32_t implicit_ruby_base_start(std::string_view text, uint32_t floor, uint32_t end);

}  // namespace kogane
