#pragma once
// Script classes of characters that may form an implicit ruby base: a base
// is a run of one class. The source emitter uses the same classes to decide
// where a ruby needs an explicit ｜.

#include <cstdint>

namespace kogane {

enum class ScriptClass : int8_t { None = -1, Kanji = 0, Hiragana = 1, Katakana = 2, Latin = 3, Greek = 4, Plus = 5 };

constexpr ScriptClass ruby_base_class(uint32_t c) {
    if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x20000 && c <= 0x2FFFF) ||
        (c >= 0xF900 && c <= 0xFAFF) || c == 0x3005 || c == 0x3006)
        return ScriptClass::Kanji;
    if ((c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E) return ScriptClass::Hiragana;
    if ((c >= 0x30A1 && c <= 0x30F4) || (c >= 0x30F7 && c <= 0x30FE && c != 0x30FB)) return ScriptClass::Katakana;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xFF21 && c <= 0xFF3A) ||
        (c >= 0xFF41 && c <= 0xFF5A) || (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) ||
        (c >= 0xF8 && c <= 0x2AF) || (c >= 0x1E00 && c <= 0x1EFF) || (c >= 0xA720 && c <= 0xA7FF) ||
        (c >= 0xAB30 && c <= 0xAB6F) || (c >= 0xFB00 && c <= 0xFB06))
        return ScriptClass::Latin;
    if ((c >= 0x391 && c <= 0x3A9) || (c >= 0x3B1 && c <= 0x3C9)) return ScriptClass::Greek;
    if (c == '+' || c == 0xFF0B) return ScriptClass::Plus;
    return ScriptClass::None;
}

}  // namespace kogane
