#include "pipeline/lexer/classify/ruby_base.hpp"

#include "collections/utf8.hpp"

namespace kogane {

namespace {

constexpr bool in(uint32_t cp, uint32_t lo, uint32_t hi) { return cp >= lo && cp <= hi; }

// ヶ and ヵ are counters written inside kanji words (六ヶ敷, 一ヵ月).
constexpr bool is_small_ke(uint32_t cp) { return cp == 0x30F5 || cp == 0x30F6; }

// Joiners inside a Latin word: hyphen, full stop, apostrophes.
constexpr bool is_latin_joiner(uint32_t cp) { return cp == '-' || cp == '.' || cp == '\'' || cp == 0x2019; }

constexpr uint32_t kAccentOpen = 0x3014;   // 〔
constexpr uint32_t kAccentClose = 0x3015;  // 〕

// Whether `cp` continues a base of class `cls` whose next character (towards
// the 《) is already in it, given the character before `cp`.
bool joins(RubyClass cls, uint32_t cp, bool has_before, uint32_t before) {
    if (ruby_base_class(cp) == cls) return true;
    if (!has_before) return false;
    if (cls == RubyClass::Kanji && is_small_ke(cp)) return ruby_base_class(before) == RubyClass::Kanji;
    if (cls == RubyClass::Latin && is_latin_joiner(cp)) return ruby_base_class(before) == RubyClass::Latin;
    return false;
}

// Start of the run of class-`cls` characters (with the joiners `joins`
// admits) ending at `end`; `end` when the last character does not join.
uint32_t run_start(std::string_view text, uint32_t floor, uint32_t end, RubyClass cls) {
    uint32_t start = end;
    uint32_t cp = 0;
    uint32_t at = previous_char(text, floor, end, &cp);
    while (at != start) {
        uint32_t before = 0;
        const uint32_t prev = previous_char(text, floor, at, &before);
        if (!joins(cls, cp, prev != at, before)) break;
        start = at;
        at = prev;
        cp = before;
    }
    return start;
}

// The 〔 that opens the accent fragment ending with the 〕 at `close`.
uint32_t accent_fragment_start(std::string_view text, uint32_t floor, uint32_t close) {
    uint32_t at = close;
    uint32_t cp = 0;
    for (;;) {
        const uint32_t prev = previous_char(text, floor, at, &cp);
        if (prev == at || cp == kAccentClose) return close;
        if (cp == kAccentOpen) return prev + 3 == close ? close : prev;
        at = prev;
    }
}

}  // namespace

RubyClass ruby_base_class(uint32_t cp) {
    if (in(cp, 0x4E00, 0x9FFF) || in(cp, 0x3400, 0x4DBF) || in(cp, 0x20000, 0x2FFFF) ||
        in(cp, 0xF900, 0xFAFF) || cp == 0x3005 || cp == 0x3006)
        return RubyClass::Kanji;
    if (in(cp, 0x3041, 0x3096) || cp == 0x309D || cp == 0x309E) return RubyClass::Hiragana;
    if (in(cp, 0x30A1, 0x30F4) || (in(cp, 0x30F7, 0x30FE) && cp != 0x30FB)) return RubyClass::Katakana;
    if (in(cp, 'A', 'Z') || in(cp, 'a', 'z') || in(cp, 0xFF21, 0xFF3A) || in(cp, 0xFF41, 0xFF5A) ||
        in(cp, 0xC0, 0xD6) || in(cp, 0xD8, 0xF6) || in(cp, 0xF8, 0x2AF) || in(cp, 0x1E00, 0x1EFF) ||
        in(cp, 0xA720, 0xA7FF) || in(cp, 0xAB30, 0xAB6F) || in(cp, 0xFB00, 0xFB06))
        return RubyClass::Latin;
    // Letters with tonos and the polytonic block read as Greek too.
    if (in(cp, 0x391, 0x3A9) || in(cp, 0x3B1, 0x3C9) || cp == 0x386 || in(cp, 0x388, 0x38F) ||
        in(cp, 0x3AA, 0x3B0) || in(cp, 0x3CA, 0x3CE) || in(cp, 0x1F00, 0x1FFF))
        return RubyClass::Greek;
    if (cp == '+' || cp == 0xFF0B) return RubyClass::Plus;
    if (in(cp, '0', '9') || in(cp, 0xFF10, 0xFF19)) return RubyClass::Digit;
    if (in(cp, 0x400, 0x4FF)) return RubyClass::Cyrillic;
    return RubyClass::None;
}

uint32_t previous_char_decoded(std::string_view text, uint32_t floor, uint32_t end, uint32_t* codepoint) {
    if (end <= floor || end > text.size()) return end;
    const utf8::Char c = utf8::decode_before(text.substr(floor, end - floor), end - floor);
    if (c.cp == utf8::kBad) return end;
    *codepoint = c.cp;
    return end - c.len;
}

uint32_t implicit_ruby_base_start(std::string_view text, uint32_t floor, uint32_t end) {
    uint32_t cp = 0;
    const uint32_t last = previous_char(text, floor, end, &cp);
    if (last == end) return end;
    if (cp == kAccentClose) {
        const uint32_t open = accent_fragment_start(text, floor, last);
        return open == last ? end : open;
    }
    RubyClass cls = ruby_base_class(cp);
    if (cls == RubyClass::None) {
        // A trailing ヶ after kanji (一ヶ) or full stop after a Latin word
        // (etc.) belongs to the word before it.
        uint32_t before = 0;
        if (previous_char(text, floor, last, &before) == last) return end;
        if (is_small_ke(cp) && ruby_base_class(before) == RubyClass::Kanji)
            cls = RubyClass::Kanji;
        else if (is_latin_joiner(cp) && ruby_base_class(before) == RubyClass::Latin)
            cls = RubyClass::Latin;
        else
            return end;
    }
    return run_start(text, floor, end, cls);
}

uint32_t kanji_run_start(std::string_view text, uint32_t floor, uint32_t end) {
    return run_start(text, floor, end, RubyClass::Kanji);
}

bool is_kanji_word(std::string_view text, uint32_t start, uint32_t end) {
    return start < end && run_start(text, start, end, RubyClass::Kanji) == start;
}

}  // namespace kogane
