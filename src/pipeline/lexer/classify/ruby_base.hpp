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
    Digit = 6,
    Cyrillic = 7,
    None = 0xFF,
};

RubyClass ruby_base_class(uint32_t codepoint);

// Any character before `end`; see previous_char.
uint32_t previous_char_decoded(std::string_view text, uint32_t floor, uint32_t end, uint32_t* codepoint);

// Decodes the character that ends at `end`, not reaching below `floor`.
// Returns its start, or `end` when no whole valid character fits. Inline
// for the three-byte characters of Japanese text, which ruby bases are
// walked back over one by one.
inline uint32_t previous_char(std::string_view text, uint32_t floor, uint32_t end, uint32_t* codepoint) {
    if (end >= floor + 3 && end <= text.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + end - 3;
        if ((p[0] & 0xF0) == 0xE0 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
            const uint32_t cp = uint32_t(p[0] & 0x0F) << 12 | uint32_t(p[1] & 0x3F) << 6 | uint32_t(p[2] & 0x3F);
            if (cp >= 0x800 && (cp & 0xF800) != 0xD800) {
                *codepoint = cp;
                return end - 3;
            }
        }
    }
    return previous_char_decoded(text, floor, end, codepoint);
}

// Start of the implicit base ending at `end` inside text[floor, end): the
// longest run of characters of one class, where a kanji word keeps its
// ヶ/ヵ (六ヶ敷), a Latin word its inner - . ' (butter-cup), and an accent
// fragment 〔…〕 is one base. Equals `end` when there is no base.
uint32_t implicit_ruby_base_start(std::string_view text, uint32_t floor, uint32_t end);

// Start of the kanji run (with its ヶ/ヵ) ending at `end`, or `end` when the
// text before `end` is not kanji. Used to join kanji with an adjacent gaiji.
uint32_t kanji_run_start(std::string_view text, uint32_t floor, uint32_t end);

// True when text[start, end) is one kanji word, so that it can share a base
// with the gaiji just before it.
bool is_kanji_word(std::string_view text, uint32_t start, uint32_t end);

}  // namespace kogane
