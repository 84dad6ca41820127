#pragma once
// What the text may not put into HTML as it is.

#include <cstdint>
#include <string_view>

namespace kogane {

// C0 controls other than tab and line feed: written as U+FFFD in HTML and
// reported by the parse.
constexpr bool is_unsafe_control(uint32_t cp) { return cp < 0x20 && cp != '\t' && cp != '\n'; }

// Whether a file name from the text may be written as an image source: only
// a relative path, so that a book cannot make a reader's browser run a
// script (javascript:, vbscript:), embed data (data:), reach local files
// (file:, /etc/...) or another host (http:, //host, \\host).
constexpr bool is_relative_path(std::string_view name) {
    if (name.empty()) return false;
    const char first = name.front();
    // A leading space is stripped by URL parsers, and a rooted path is not
    // relative; browsers read \ as /.
    if (first == '/' || first == '\\' || first == ' ') return false;
    bool in_first_segment = true;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        // URL parsers drop tabs and line feeds anywhere, so "java\tscript:"
        // would still name a scheme: no controls at all.
        if (b < 0x20 || b == 0x7F) return false;
        if (c == '/' || c == '\\' || c == '?' || c == '#') in_first_segment = false;
        // A colon before the first path separator ends a scheme (or a
        // drive letter, which is not relative either).
        if (c == ':' && in_first_segment) return false;
    }
    return true;
}

}  // namespace kogane
