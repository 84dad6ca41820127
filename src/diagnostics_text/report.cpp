#include "diagnostics_text/report.hpp"

#include <cstdint>

#include "collections/span.hpp"
#include "collections/utf8.hpp"
#include "json/json_writer.hpp"

namespace kogane {

namespace {

struct Range {
    uint32_t lo, hi;
};

// Combining (grapheme-extending) marks of the scripts this text meets.
constexpr Range kCombining[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D}, {0x0E31, 0x0E31},
    {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200C, 0x200C},
    {0x20D0, 0x20F0}, {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
    {0xFF9E, 0xFF9F}, {0x1F3FB, 0x1F3FF}, {0xE0020, 0xE007F}, {0xE0100, 0xE01EF},
};

// Controls, format characters, separators other than space, private use
// and noncharacters.
constexpr Range kNonPrintable[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x061C, 0x061C}, {0x180E, 0x180E},
    {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F}, {0xD800, 0xDFFF}, {0xE000, 0xF8FF},
    {0xFDD0, 0xFDEF}, {0xFEFF, 0xFEFF}, {0xFFF0, 0xFFFB}, {0xFFFE, 0xFFFF}, {0xE0000, 0xE001F},
    {0xF0000, 0x10FFFF},
};

template <size_t N>
bool in_ranges(const Range (&ranges)[N], uint32_t cp) {
    for (const Range& r : ranges)
        if (cp >= r.lo && cp <= r.hi) return true;
    return false;
}


}  // namespace

bool needs_unicode_escape(uint32_t cp) {
    if (cp >= 0x20 && cp < 0x7F) return false;
    if (cp >= 0xFFFF0000u) return true;
    return in_ranges(kNonPrintable, cp) || in_ranges(kCombining, cp) || (cp & 0xFFFE) == 0xFFFE;
}

void append_quoted_literal(std::string& out, std::string_view text) {
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        utf8::Char c = utf8::decode(text, i);
        const uint32_t cp = c.cp;
        const size_t len = c.len;
        switch (cp) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case 0: out += "\\0"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (needs_unicode_escape(cp))
                    append_unicode_escape(out, cp);
                else
                    out.append(text.data() + i, len);
        }
        i += len;
    }
    out += '"';
}

// A long span is quoted by its head only, followed by its full length:
// spans inside rewritten regions can all cover the whole region, and
// quoting each in full would make the report grow with the square of the
// input.
void append_excerpt(std::string& out, std::string_view text) {
    if (text.size() <= kExcerptBytes) {
        append_quoted_literal(out, text);
        return;
    }
    size_t head = kExcerptBytes;
    while (head > 0 && utf8::is_continuation(static_cast<unsigned char>(text[head]))) --head;
    append_quoted_literal(out, text.substr(0, head));
    out += "\xE2\x80\xA6 (";  // …
    JsonWriter::number_into(out, text.size());
    out += " bytes)";
}

std::string render_diagnostics_text(const Diagnostics& diagnostics, std::string_view source) {
    std::string out;
    for (const Diagnostic& d : diagnostics) {
        out += severity_name(d.severity());
        out += " [";
        out += d.code();
        out += "] @ ";
        JsonWriter::number_into(out, d.span.start);
        out += "..";
        JsonWriter::number_into(out, d.span.end);
        out += ": ";
        out += diagnostics.message(d);
        out += '\n';
        const Span s = d.span;
        if (s.start <= s.end && s.end <= source.size() && is_char_boundary(source, s.start) &&
            is_char_boundary(source, s.end)) {
            out += "  > ";
            append_excerpt(out, slice(source, s));
            out += '\n';
        }
    }
    return out;
}

}  // namespace kogane
