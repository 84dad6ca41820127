#include "pipeline/lexer/classify/gaiji.hpp"

#include "collections/safe_output.hpp"
#include "collections/utf8.hpp"

#include <array>
#include <string>

#include "collections/panic.hpp"
#include "encoding/designation.hpp"
#include "encoding/gaiji_tables.hpp"

namespace kogane {

namespace {

constexpr std::string_view kComma = "、";
constexpr std::string_view kOpenQuote = "「";
constexpr std::string_view kCloseQuote = "」";
constexpr std::string_view kLevelMark = "第";
constexpr std::string_view kLevelWord = "水準";
constexpr std::string_view kWideHyphen = "－";
constexpr std::string_view kVolume = "巻";
constexpr std::string_view kPoemSuffix = "首目";
constexpr std::string_view kRomanPrefix = "ローマ数字";
constexpr std::string_view kLowerCase = "小文字";
constexpr std::string_view kRefMark = "※";
constexpr std::string_view kOpenHash = "［＃";
constexpr std::string_view kCloseBracket = "］";

using utf8::trim;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ascii_hex(char c) {
    return is_ascii_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Non-empty, only ASCII digits and "-", at least one digit.
bool is_digits_and_dashes(std::string_view s) {
    bool digit = false;
    for (char c : s) {
        if (is_ascii_digit(c)) digit = true;
        else if (c != '-') return false;
    }
    return digit;
}

// Value of one ASCII ('0'..'9') or full-width ('０'..'９') digit at `i`,
// with its byte length; -1 when there is none.
int digit_at(std::string_view s, size_t i, size_t* len) {
    if (i < s.size() && is_ascii_digit(s[i])) {
        *len = 1;
        return s[i] - '0';
    }
    // U+FF10..U+FF19 are EF BC 90..99.
    if (i + 3 <= s.size() && s[i] == '\xEF' && s[i + 1] == '\xBC') {
        unsigned char c = static_cast<unsigned char>(s[i + 2]);
        if (c >= 0x90 && c <= 0x99) {
            *len = 3;
            return c - 0x90;
        }
    }
    return -1;
}

// Non-empty run of ASCII or full-width digits.
bool is_digit_run(std::string_view s) {
    if (s.empty()) return false;
    for (size_t i = 0, len = 0; i < s.size(); i += len)
        if (digit_at(s, i, &len) < 0) return false;
    return true;
}

bool is_code_token(std::string_view t) {
    if (t.starts_with("U+")) {
        std::string_view hex = t.substr(2);
        if (hex.empty() || hex.size() > 6) return false;
        for (char c : hex)
            if (!is_ascii_hex(c)) return false;
        return true;
    }
    if (t.starts_with(kLevelMark)) {
        std::string_view rest = t.substr(kLevelMark.size());
        size_t i = 0;
        while (i < rest.size() && is_ascii_digit(rest[i])) ++i;
        rest.remove_prefix(i);
        if (!rest.starts_with(kLevelWord)) return false;
        return is_digits_and_dashes(rest.substr(kLevelWord.size()));
    }
    return is_digits_and_dashes(t);
}

template <size_t N>
bool is_one_of(std::string_view s, const std::string_view (&words)[N]) {
    for (std::string_view w : words)
        if (s == w) return true;
    return false;
}

constexpr std::string_view kVolumeWords[] = {"上巻", "中巻", "下巻", "前巻", "後巻"};
constexpr std::string_view kThirds[] = {"上", "中", "下"};

bool is_volume(std::string_view s) {
    if (is_one_of(s, kVolumeWords)) return true;
    return s.ends_with(kVolume) && is_digit_run(s.substr(0, s.size() - kVolume.size()));
}

bool is_locator_segment(std::string_view s) {
    if (s.starts_with('P')) s.remove_prefix(1);
    if (s.ends_with(kPoemSuffix)) s.remove_suffix(kPoemSuffix.size());
    if (s.empty()) return false;
    if (s.ends_with(kVolume)) return is_volume(s);
    if (is_one_of(s, kThirds) || is_digit_run(s)) return true;
    // Longer words first so 上段 is not read as 上 followed by 段.
    static constexpr std::string_view kPositions[] = {"上段", "中段", "下段", "上", "中", "下"};
    for (std::string_view p : kPositions) {
        if (s.starts_with(p) && is_digit_run(s.substr(p.size()))) return true;
        if (s.ends_with(p) && is_digit_run(s.substr(0, s.size() - p.size()))) return true;
    }
    return false;
}

// Page-line locators such as "123-4", "P12-下段3", "上巻-45", "３首目".
bool is_locator(std::string_view t) {
    size_t start = 0, i = 0;
    while (i < t.size()) {
        size_t sep = t[i] == '-' ? 1 : t.substr(i).starts_with(kWideHyphen) ? kWideHyphen.size() : 0;
        if (sep == 0) {
            ++i;
            continue;
        }
        if (!is_locator_segment(t.substr(start, i - start))) return false;
        i += sep;
        start = i;
    }
    return is_locator_segment(t.substr(start));
}

// The narrower form that lets a locator-only tail count as a designation.
bool is_strict_locator(std::string_view t) {
    size_t start = 0;
    while (true) {
        size_t dash = t.find('-', start);
        std::string_view seg = t.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
        if (!(is_digit_run(seg) || is_one_of(seg, kThirds) || is_volume(seg))) return false;
        if (dash == std::string_view::npos) return true;
        start = dash + 1;
    }
}

std::string_view first_piece(std::string_view s) {
    return trim(s.substr(0, s.find(kComma)));
}

size_t count_of(std::string_view s, std::string_view needle) {
    size_t n = 0;
    for (size_t at = s.find(needle); at != std::string_view::npos; at = s.find(needle, at + needle.size())) ++n;
    return n;
}

// Decimal 0..255 with an optional leading "+", as the designation grammar
// allows; the canonical comparison afterwards rejects any unusual spelling.
std::optional<uint32_t> parse_small(std::string_view s) {
    if (s.starts_with('+')) s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        if (!is_ascii_digit(c)) return std::nullopt;
        v = v * 10 + uint32_t(c - '0');
        if (v > 255) return std::nullopt;
    }
    return v;
}

std::optional<CodeRef> parse_jis(std::string_view m) {
    std::string_view rest = m.substr(kLevelMark.size());
    size_t word = rest.find(kLevelWord);
    if (word == std::string_view::npos || !parse_small(rest.substr(0, word))) return std::nullopt;
    rest.remove_prefix(word + kLevelWord.size());
    uint32_t parts[3];
    for (int k = 0; k < 3; ++k) {
        size_t dash = k < 2 ? rest.find('-') : rest.size();
        if (dash == std::string_view::npos) return std::nullopt;
        auto v = parse_small(rest.substr(0, dash));
        if (!v) return std::nullopt;
        parts[k] = *v;
        rest.remove_prefix(k < 2 ? dash + 1 : dash);
    }
    uint32_t plane = parts[0], row = parts[1], cell = parts[2];
    if (plane < 1 || plane > 2 || row < 1 || row > 94 || cell < 1 || cell > 94) return std::nullopt;
    if (jis_designation(uint8_t(plane), uint8_t(row), uint8_t(cell)) != m) return std::nullopt;
    return CodeRef::jis(uint8_t(plane), uint8_t(row), uint8_t(cell));
}

// "U+" then an optional "+" and hexadecimal digits, 3 to 8 bytes in all,
// naming a Unicode scalar.
std::optional<uint32_t> parse_unicode(std::string_view s) {
    if (s.size() < 3 || s.size() > 8 || !s.starts_with("U+")) return std::nullopt;
    std::string_view hex = s.substr(2);
    if (hex.starts_with('+')) hex.remove_prefix(1);
    if (hex.empty()) return std::nullopt;
    uint32_t v = 0;  // at most six digits: no overflow
    for (char c : hex) {
        if (!is_ascii_hex(c)) return std::nullopt;
        v = v << 4 | uint32_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return std::nullopt;
    return v;
}

GaijiResolution resolution_of(std::string text, bool single, uint32_t cp) {
    GaijiResolution r;
    r.single = single;
    r.codepoint = single ? cp : 0;
    r.text = std::move(text);
    return r;
}

GaijiResolution single_resolution(uint32_t cp) {
    std::string text;
    utf8::append(text, cp);
    return resolution_of(std::move(text), true, cp);
}

// A base letter and its combining mark.
GaijiResolution pair_resolution(const std::array<uint32_t, 2>& chars) {
    std::string text;
    utf8::append(text, chars[0]);
    utf8::append(text, chars[1]);
    return resolution_of(std::move(text), false, 0);
}

struct JisPosition {
    uint8_t plane, row, cell;
};

// "P-R-C" in ASCII digits, plane 1 or 2, row and cell 1 to 94: a JIS X 0213
// position written without its level.
std::optional<JisPosition> parse_plane_row_cell(std::string_view s) {
    uint32_t parts[3];
    for (int k = 0; k < 3; ++k) {
        const size_t dash = k < 2 ? s.find('-') : s.size();
        if (dash == std::string_view::npos || dash == 0 || dash > 2) return std::nullopt;
        uint32_t v = 0;
        for (char c : s.substr(0, dash)) {
            if (!is_ascii_digit(c)) return std::nullopt;
            v = v * 10 + uint32_t(c - '0');
        }
        parts[k] = v;
        s.remove_prefix(k < 2 ? dash + 1 : dash);
    }
    if (parts[0] < 1 || parts[0] > 2 || parts[1] < 1 || parts[1] > 94 || parts[2] < 1 || parts[2] > 94)
        return std::nullopt;
    return JisPosition{uint8_t(parts[0]), uint8_t(parts[1]), uint8_t(parts[2])};
}

// "ローマ数字" N ["小文字"], 1 <= N <= 99, in subtractive notation built
// from the one-letter numeral characters.
std::optional<GaijiResolution> roman_numeral(std::string_view d) {
    if (!d.starts_with(kRomanPrefix)) return std::nullopt;
    std::string_view rest = d.substr(kRomanPrefix.size());
    uint32_t n = 0;
    size_t i = 0, len = 0;
    int digit;
    while ((digit = digit_at(rest, i, &len)) >= 0) {
        n = n > 99 ? n : n * 10 + uint32_t(digit);  // saturate: anything past 99 fails anyway
        i += len;
    }
    if (i == 0) return std::nullopt;
    rest.remove_prefix(i);
    bool lower = rest == kLowerCase;
    if (!lower && !rest.empty()) return std::nullopt;
    if (n < 1 || n > 99) return std::nullopt;

    static constexpr struct {
        uint32_t value;
        uint32_t letters[2];  // offsets from U+2160; 0xFF = none
    } kSteps[] = {{90, {0x09, 0x0D}}, {50, {0x0C, 0xFF}}, {40, {0x09, 0x0C}}, {10, {0x09, 0xFF}},
                  {9, {0x00, 0x09}},  {5, {0x04, 0xFF}},  {4, {0x00, 0x04}},  {1, {0x00, 0xFF}}};
    const uint32_t base = lower ? 0x2170 : 0x2160;
    std::string text;
    uint32_t chars = 0, last = 0;
    for (const auto& step : kSteps) {
        while (n >= step.value) {
            n -= step.value;
            for (uint32_t l : step.letters) {
                if (l == 0xFF) continue;
                last = base + l;
                utf8::append(text, last);
                ++chars;
            }
        }
    }
    return resolution_of(std::move(text), chars == 1, last);
}

// Plain form: the trailing run of "、"-pieces that are designations or
// locators becomes the mencode text.
GaijiRef parse_plain(std::string_view b) {
    GaijiRef r;
    r.description = b;
    r.separated = true;
    size_t end = b.size();
    size_t cut = std::string_view::npos;  // the "、" in front of the tail
    bool has_code = false, all_strict = true;
    while (true) {
        size_t sep = end >= kComma.size() ? b.rfind(kComma, end - kComma.size()) : std::string_view::npos;
        size_t start = sep == std::string_view::npos ? 0 : sep + kComma.size();
        std::string_view piece = trim(b.substr(start, end - start));
        bool code = is_code_token(piece);
        if (!code && !is_locator(piece)) break;
        if (sep == std::string_view::npos) return r;  // every piece is a designation
        has_code = has_code || code;
        all_strict = all_strict && (code || is_strict_locator(piece));
        cut = sep;
        end = sep;
    }
    if (cut == std::string_view::npos || !(has_code || all_strict)) return r;
    r.description = trim(b.substr(0, cut));
    r.mencode = trim(b.substr(cut + kComma.size()));
    return r;
}

}  // namespace

GaijiRef parse_gaiji_body(std::string_view body) {
    std::string_view b = trim(body);
    if (b.starts_with(kOpenQuote)) {
        size_t close = b.find(kCloseQuote, kOpenQuote.size());
        if (close != std::string_view::npos) {
            std::string_view d = b.substr(kOpenQuote.size(), close - kOpenQuote.size());
            std::string_view rest = trim(b.substr(close + kCloseQuote.size()));
            bool separated = rest.starts_with(kComma);
            if (d.find(kOpenQuote) == std::string_view::npos &&
                (rest.empty() || separated || is_code_token(first_piece(rest)))) {
                GaijiRef r;
                r.description = d;
                r.quoted = true;
                r.separated = separated;
                if (separated) {
                    std::string_view m = trim(rest.substr(kComma.size()));
                    if (!m.empty()) r.mencode = m;
                } else if (!rest.empty()) {
                    r.mencode = rest;
                }
                return r;
            }
        }
    }
    return parse_plain(b);
}

std::optional<GaijiRef> accept_gaiji_body(std::string_view body) {
    GaijiRef r = parse_gaiji_body(body);
    std::string_view d = r.description;
    if (d.empty()) return std::nullopt;
    if (!gaiji_tables::lookup_description(d) && !r.mencode && !r.quoted && !roman_numeral(d))
        return std::nullopt;
    if (d.find(kOpenHash) != std::string_view::npos) return std::nullopt;
    size_t opens = count_of(d, kOpenQuote), closes = count_of(d, kCloseQuote);
    if ((opens || closes) && (!r.mencode || opens != closes)) return std::nullopt;
    return r;
}

CodeRef classify_code(std::optional<std::string_view> mencode, NodeStore& store) {
    if (!mencode) return CodeRef{};
    std::string_view m = *mencode;
    if (m.starts_with(kLevelMark)) {
        if (auto jis = parse_jis(m)) return *jis;
    } else if (auto cp = parse_unicode(m)) {
        return CodeRef{CodeKind::Unicode, *cp};
    }
    return CodeRef{CodeKind::Text, store.intern(m)};
}

std::optional<std::string_view> gaiji_code_text(std::optional<std::string_view> mencode) {
    if (!mencode) return std::nullopt;
    return first_piece(*mencode);
}

std::optional<GaijiResolution> resolve_gaiji(std::optional<std::string_view> code_text,
                                             std::string_view description) {
    if (code_text) {
        std::string_view c = *code_text;
        // A bare plane-row-cell names the same position as its levelled form.
        std::string levelled;
        if (auto pos = parse_plane_row_cell(c)) {
            levelled = jis_designation(pos->plane, pos->row, pos->cell);
            c = levelled;
        }
        if (auto seq = gaiji_tables::lookup_jis_sequence(c)) return pair_resolution(*seq);
        if (auto cp = gaiji_tables::lookup_jis(c)) return single_resolution(*cp);
        if (auto cp = parse_unicode(c); cp && !is_unsafe_control(*cp)) return single_resolution(*cp);
    }
    if (auto chars = gaiji_tables::lookup_description_chars(description))
        return (*chars)[1] != 0 ? pair_resolution(*chars) : single_resolution((*chars)[0]);
    if (auto roman = roman_numeral(description)) return roman;
    if (!description.empty()) {
        utf8::Char d = utf8::decode(description, 0);
        if (d.cp != utf8::kBad && d.len == description.size() && !is_unsafe_control(d.cp))
            return single_resolution(d.cp);
    }
    return std::nullopt;
}

GaijiItem make_gaiji_item(const GaijiRef& ref, bool without_mark, NodeStore& store) {
    GaijiItem item;
    item.description = store.intern(ref.description);
    item.code = classify_code(ref.mencode, store);
    item.separated = ref.separated;
    item.no_mark = without_mark;
    return item;
}

std::optional<GaijiResolution> resolve_gaiji_item(const GaijiItem& item, const NodeStore& store) {
    std::string_view description = store.resolve(item.description);
    switch (item.code.kind) {
        case CodeKind::None:
            return resolve_gaiji(std::nullopt, description);
        case CodeKind::Jis: {
            std::string text = jis_designation(item.code.plane(), item.code.row(), item.code.cell());
            return resolve_gaiji(std::string_view(text), description);
        }
        case CodeKind::Unicode:
            // The designation was exactly "U+…" naming this scalar, which no
            // JIS key can be, so resolution stops at it. A control is no
            // character to show: the reference stays unresolved.
            if (is_unsafe_control(item.code.value)) return std::nullopt;
            return single_resolution(item.code.value);
        case CodeKind::Text:
            return resolve_gaiji(gaiji_code_text(store.resolve(item.code.value)), description);
    }
    return std::nullopt;
}

std::vector<GaijiRecord> scan_source_gaiji(std::string_view source) {
    std::vector<GaijiRecord> out;
    size_t pos = 0;
    while (pos < source.size()) {
        size_t open = source.find(kOpenHash, pos);
        if (open == std::string_view::npos) break;
        invariant(open + kOpenHash.size() <= source.size(), "relative match offset stays inside source");
        size_t body_start = open + kOpenHash.size();
        size_t close = source.find(kCloseBracket, body_start);
        if (close == std::string_view::npos) break;
        invariant(close + kCloseBracket.size() <= source.size(), "matched closer stays inside source");
        bool marked = open >= kRefMark.size() && source.substr(open - kRefMark.size(), kRefMark.size()) == kRefMark;
        size_t start = marked ? open - kRefMark.size() : open;
        size_t end = close + kCloseBracket.size();
        std::string_view body = source.substr(body_start, close - body_start);

        std::optional<GaijiRef> ref;
        if (!body.empty()) ref = marked ? std::optional<GaijiRef>(parse_gaiji_body(body)) : accept_gaiji_body(body);
        if (ref && end <= UINT32_MAX) {
            GaijiRecord rec;
            rec.description = std::string(ref->description);
            if (ref->mencode) rec.mencode = std::string(*ref->mencode);
            if (auto res = resolve_gaiji(gaiji_code_text(ref->mencode), ref->description)) {
                rec.has_codepoint = res->single;
                rec.codepoint = res->codepoint;
                rec.resolved = std::move(res->text);
            }
            rec.span = Span{uint32_t(start), uint32_t(end)};
            out.push_back(std::move(rec));
        }
        invariant(end > pos, "gaiji description scan must advance");
        pos = end;
    }
    return out;
}

}  // namespace kogane
