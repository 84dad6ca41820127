#include "pipeline/lexer/classify/ruby_base.hpp"

namespace kogane {

namespace {

constexpr bool in(uint32_t cp, uint32_t lo, uint32_t hi) { return cp >= lo && cp <= hi; }

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
    if (in(cp, 0x391, 0x3A9) || in(cp, 0x3B1, 0x3C9)) return RubyClass::Greek;
    if (cp == '+' || cp == 0xFF0B) return RubyClass::Plus;
    return RubyClass::None;
}

uint32_t previous_char(std::string_view text, uint32_t floor, uint32_t end, uint32_t* codepoint) {
    if (end <= floor || end > text.size()) return end;
    uint32_t start = end - 1;
    // Step back over at most three continuation bytes.
    while (start > floor && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const auto lead = static_cast<unsigned char>(text[start]);
    uint32_t len = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (len != end - start) return end;
    uint32_t cp = len == 1 ? lead : len == 2 ? lead & 0x1F : len == 3 ? lead & 0x0F : lead & 0x07;
    for (uint32_t i = start + 1; i < end; ++i) cp = cp << 6 | (static_cast<unsigned char>(text[i]) & 0x3F);
    *codepoint = cp;
    return start;
}

uint32_t implicit_ruby_base_start(std::string_view text, uint32_t floor, uint32_t end) {
    uint32_t cp = 0;
    uint32_t start = previous_char(text, floor, end, &cp);
    if (start == end) return end;
    const RubyClass cls = ruby_base_class(cp);
    if (cls == RubyClass::None) return end;
    for (;;) {
        uint32_t prev = previous_char(text, floor, start, &cp);
        if (prev == start || ruby_base_class(cp) != cls) return start;
        start = prev;
    }
}

}  // namespace kogane
