#include "syntax/accents.hpp"

#include "collections/utf8.hpp"

#include <algorithm>
#include <array>

#include "collections/panic.hpp"

namespace kogane {

namespace {

struct Digraph {
    char letter;
    char mark;
    uint32_t cp;
};

// Grouped by mark; group sizes 26, 12, 20, 12, 11, 5, 10, 6, 8.
constexpr Digraph kDigraphs[] = {
    // ' acute
    {'A', '\'', 0x00C1}, {'a', '\'', 0x00E1}, {'C', '\'', 0x0106}, {'c', '\'', 0x0107},
    {'E', '\'', 0x00C9}, {'e', '\'', 0x00E9}, {'I', '\'', 0x00CD}, {'i', '\'', 0x00ED},
    {'L', '\'', 0x0139}, {'l', '\'', 0x013A}, {'M', '\'', 0x1E3E}, {'m', '\'', 0x1E3F},
    {'N', '\'', 0x0143}, {'n', '\'', 0x0144}, {'O', '\'', 0x00D3}, {'o', '\'', 0x00F3},
    {'R', '\'', 0x0154}, {'r', '\'', 0x0155}, {'S', '\'', 0x015A}, {'s', '\'', 0x015B},
    {'U', '\'', 0x00DA}, {'u', '\'', 0x00FA}, {'Y', '\'', 0x00DD}, {'y', '\'', 0x00FD},
    {'Z', '\'', 0x0179}, {'z', '\'', 0x017A},
    // ` grave
    {'A', '`', 0x00C0}, {'a', '`', 0x00E0}, {'E', '`', 0x00C8}, {'e', '`', 0x00E8},
    {'I', '`', 0x00CC}, {'i', '`', 0x00EC}, {'N', '`', 0x01F8}, {'n', '`', 0x01F9},
    {'O', '`', 0x00D2}, {'o', '`', 0x00F2}, {'U', '`', 0x00D9}, {'u', '`', 0x00F9},
    // ^ circumflex
    {'A', '^', 0x00C2}, {'a', '^', 0x00E2}, {'C', '^', 0x0108}, {'c', '^', 0x0109},
    {'E', '^', 0x00CA}, {'e', '^', 0x00EA}, {'G', '^', 0x011C}, {'g', '^', 0x011D},
    {'H', '^', 0x0124}, {'h', '^', 0x0125}, {'I', '^', 0x00CE}, {'i', '^', 0x00EE},
    {'J', '^', 0x0134}, {'j', '^', 0x0135}, {'O', '^', 0x00D4}, {'o', '^', 0x00F4},
    {'S', '^', 0x015C}, {'s', '^', 0x015D}, {'U', '^', 0x00DB}, {'u', '^', 0x00FB},
    // ~ tilde
    {'A', '~', 0x00C3}, {'a', '~', 0x00E3}, {'E', '~', 0x1EBC}, {'e', '~', 0x1EBD},
    {'I', '~', 0x0128}, {'i', '~', 0x0129}, {'N', '~', 0x00D1}, {'n', '~', 0x00F1},
    {'O', '~', 0x00D5}, {'o', '~', 0x00F5}, {'U', '~', 0x0168}, {'u', '~', 0x0169},
    // : diaeresis (no upper-case Y)
    {'A', ':', 0x00C4}, {'a', ':', 0x00E4}, {'E', ':', 0x00CB}, {'e', ':', 0x00EB},
    {'I', ':', 0x00CF}, {'i', ':', 0x00EF}, {'O', ':', 0x00D6}, {'o', ':', 0x00F6},
    {'U', ':', 0x00DC}, {'u', ':', 0x00FC}, {'y', ':', 0x00FF},
    // & ring above, and sharp s
    {'A', '&', 0x00C5}, {'a', '&', 0x00E5}, {'U', '&', 0x016E}, {'u', '&', 0x016F},
    {'s', '&', 0x00DF},
    // _ macron
    {'A', '_', 0x0100}, {'a', '_', 0x0101}, {'E', '_', 0x0112}, {'e', '_', 0x0113},
    {'I', '_', 0x012A}, {'i', '_', 0x012B}, {'O', '_', 0x014C}, {'o', '_', 0x014D},
    {'U', '_', 0x016A}, {'u', '_', 0x016B},
    // , cedilla
    {'C', ',', 0x00C7}, {'c', ',', 0x00E7}, {'S', ',', 0x015E}, {'s', ',', 0x015F},
    {'T', ',', 0x0162}, {'t', ',', 0x0163},
    // / stroke
    {'D', '/', 0x0110}, {'d', '/', 0x0111}, {'h', '/', 0x0127}, {'i', '/', 0x0268},
    {'L', '/', 0x0141}, {'l', '/', 0x0142}, {'O', '/', 0x00D8}, {'o', '/', 0x00F8},
};
static_assert(std::size(kDigraphs) == kDigraphCount);

constexpr char kMarks[] = {'\'', '`', '^', '~', ':', '&', '_', ',', '/'};
constexpr int kMarkCount = 9;
constexpr int kLetterBase = 'A';
constexpr int kLetterSpan = 'z' - 'A' + 1;

constexpr int mark_index(unsigned char c) {
    for (int i = 0; i < kMarkCount; ++i)
        if (static_cast<unsigned char>(kMarks[i]) == c) return i;
    return -1;
}

constexpr bool is_ascii_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Direct-indexed (mark, letter) -> code point; 0 means no entry. Built at
// compile time from the list above.
using DigraphGrid = std::array<std::array<uint32_t, kLetterSpan>, kMarkCount>;

constexpr bool digraphs_well_formed() {
    DigraphGrid seen{};
    for (const Digraph& d : kDigraphs) {
        const int mark = mark_index(static_cast<unsigned char>(d.mark));
        if (mark < 0 || !is_ascii_letter(static_cast<unsigned char>(d.letter))) return false;
        if (d.cp < 0x00C0 || d.cp > 0x1EBD) return false;
        const auto m = static_cast<size_t>(mark);
        const auto column = static_cast<size_t>(d.letter - kLetterBase);
        if (seen[m][column] != 0) return false;  // duplicate key
        seen[m][column] = d.cp;
    }
    return true;
}
static_assert(digraphs_well_formed());

constexpr DigraphGrid build_grid() {
    DigraphGrid g{};
    for (const Digraph& d : kDigraphs)
        g[static_cast<size_t>(mark_index(static_cast<unsigned char>(d.mark)))]
         [static_cast<size_t>(d.letter - kLetterBase)] = d.cp;
    return g;
}

constexpr DigraphGrid kGrid = build_grid();

constexpr std::array<int8_t, 256> build_mark_lookup() {
    std::array<int8_t, 256> t{};
    for (size_t c = 0; c < 256; ++c) t[c] = static_cast<int8_t>(mark_index(static_cast<unsigned char>(c)));
    return t;
}

constexpr std::array<int8_t, 256> kMarkLookup = build_mark_lookup();

struct Ligature {
    char key[3];
    uint32_t cp;
};

constexpr Ligature kLigatures[] = {
    {{'A', 'E', '&'}, 0x00C6},
    {{'O', 'E', '&'}, 0x0152},
    {{'a', 'e', '&'}, 0x00E6},
    {{'o', 'e', '&'}, 0x0153},
};

// Dot table: letter -> (above, below); 0 for none.
struct DotEntry {
    char letter;
    uint32_t above;
    uint32_t below;
};

constexpr DotEntry kDots[] = {
    {'m', 0x1E41, 0x1E43}, {'n', 0x1E45, 0x1E47}, {'s', 0, 0x1E63}, {'t', 0, 0x1E6D},
    {'h', 0, 0x1E25},      {'r', 0, 0x1E5B},      {'d', 0, 0x1E0D}, {'T', 0, 0x1E6C},
    {'R', 0, 0x1E5A},
};
static_assert([] {
    int n = 0;
    for (const DotEntry& e : kDots) n += (e.above != 0) + (e.below != 0);
    return n == 11;
}());

constexpr std::string_view kDotSuffix = "ドット付き";
constexpr std::string_view kHa = "は";
constexpr std::string_view kTomoni = "ともに";
constexpr std::string_view kSorezore = "それぞれ";
constexpr std::string_view kAbove = "上";
constexpr std::string_view kBelow = "下";
constexpr std::string_view kSaigoNo = "最後の";
constexpr std::string_view kAtoNo = "後の";
constexpr std::string_view kMaeNo = "前の";
constexpr std::string_view kTsumeNo = "つめの";
constexpr std::string_view kComma = "、";
constexpr std::string_view kPeriod = "。";

bool consume(std::string_view& s, std::string_view prefix) {
    if (!s.starts_with(prefix)) return false;
    s.remove_prefix(prefix.size());
    return true;
}

// Reads one ASCII or full-width digit; -1 when `s` starts with neither.
int take_digit(std::string_view& s) {
    if (!s.empty() && s[0] >= '0' && s[0] <= '9') {
        int d = s[0] - '0';
        s.remove_prefix(1);
        return d;
    }
    // U+FF10..U+FF19 are EF BC 90..99.
    if (s.size() >= 3 && static_cast<unsigned char>(s[0]) == 0xEF && static_cast<unsigned char>(s[1]) == 0xBC &&
        static_cast<unsigned char>(s[2]) >= 0x90 && static_cast<unsigned char>(s[2]) <= 0x99) {
        int d = static_cast<unsigned char>(s[2]) - 0x90;
        s.remove_prefix(3);
        return d;
    }
    return -1;
}

bool parse_clause(std::string_view clause, std::vector<DotRecord>& out) {
    if (!clause.ends_with(kDotSuffix)) return false;
    clause.remove_suffix(kDotSuffix.size());
    const size_t ha = clause.find(kHa);
    if (ha == std::string_view::npos) return false;
    std::string_view head = clause.substr(0, ha);
    std::string_view tail = clause.substr(ha + kHa.size());

    if (!consume(tail, kTomoni)) consume(tail, kSorezore);
    uint8_t below;
    if (tail == kAbove) below = 0;
    else if (tail == kBelow) below = 1;
    else return false;

    DotMode mode = DotMode::First;
    uint32_t ordinal = 0;
    bool multi_ok = true;
    if (consume(head, kSaigoNo) || consume(head, kAtoNo)) {
        mode = DotMode::Last;
        multi_ok = false;
    } else if (consume(head, kMaeNo)) {
        mode = DotMode::First;
    } else {
        int d = take_digit(head);
        if (d >= 0) {
            uint64_t n = static_cast<uint64_t>(d);
            while ((d = take_digit(head)) >= 0) n = std::min<uint64_t>(n * 10 + static_cast<uint64_t>(d), 0xFFFFFFFFull);
            if (!consume(head, kTsumeNo)) return false;
            mode = DotMode::Nth;
            ordinal = static_cast<uint32_t>(n);
            multi_ok = false;
        }
    }

    if (head.empty()) return false;
    if (head.size() > 1 && !multi_ok) return false;
    for (char c : head) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!is_ascii_letter(u)) return false;
        if (below == 0 ? (c != 'm' && c != 'n') : std::string_view("RTdhmnrst").find(c) == std::string_view::npos)
            return false;
        out.push_back(DotRecord{mode, ordinal, u, below});
    }
    return true;
}

inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Byte position of the letter that `rec` targets in `word`, or -1.
int64_t find_target(std::string_view word, const DotRecord& rec) {
    const char want = ascii_lower(static_cast<char>(rec.letter));
    auto matches = [&](size_t i) { return ascii_lower(word[i]) == want; };
    auto accepted = [&](size_t i) { return matches(i) && lookup_dot(word[i], rec.below).has_value(); };
    switch (rec.mode) {
        case DotMode::First:
            for (size_t i = 0; i < word.size(); ++i)
                if (accepted(i)) return static_cast<int64_t>(i);
            return -1;
        case DotMode::Last:
            for (size_t i = word.size(); i-- > 0;)
                if (accepted(i)) return static_cast<int64_t>(i);
            return -1;
        case DotMode::Nth: {
            if (rec.ordinal == 0) return -1;
            size_t i = 0;
            for (uint32_t skip = rec.ordinal - 1; skip > 0; ++i) {
                if (i >= word.size()) return -1;
                if (matches(i)) --skip;
            }
            for (; i < word.size(); ++i)
                if (accepted(i)) return static_cast<int64_t>(i);
            return -1;
        }
    }
    return -1;
}

}  // namespace

bool is_accent_mark(char c) { return kMarkLookup[static_cast<unsigned char>(c)] >= 0; }

bool has_accent_mark(std::string_view fragment) {
    return std::any_of(fragment.begin(), fragment.end(), is_accent_mark);
}

std::optional<uint32_t> lookup_digraph(char letter, char mark) {
    const unsigned char l = static_cast<unsigned char>(letter);
    const int m = kMarkLookup[static_cast<unsigned char>(mark)];
    if (m < 0 || !is_ascii_letter(l)) return std::nullopt;
    const uint32_t cp = kGrid[static_cast<size_t>(m)][static_cast<size_t>(l - kLetterBase)];
    if (cp == 0) return std::nullopt;
    return cp;
}

std::optional<uint32_t> lookup_ligature(std::string_view key) {
    if (key.size() != 3) return std::nullopt;
    for (const Ligature& g : kLigatures)
        if (key == std::string_view(g.key, 3)) return g.cp;
    return std::nullopt;
}

std::string decompose_accents(std::string_view f) {
    std::string out;
    out.reserve(f.size());
    size_t n = 0;
    while (n < f.size()) {
        const size_t before = n;
        const unsigned char c = static_cast<unsigned char>(f[n]);
        if (c < 0x80) {
            // Only ASCII can start a key; a ligature always ends in '&'.
            if (n + 2 < f.size() && f[n + 2] == '&') {
                if (auto lig = lookup_ligature(f.substr(n, 3))) {
                    utf8::append(out, *lig);
                    n += 3;
                    continue;
                }
            }
            if (n + 1 < f.size()) {
                if (auto cp = lookup_digraph(f[n], f[n + 1])) {
                    utf8::append(out, *cp);
                    n += 2;
                    continue;
                }
            }
            out.push_back(f[n]);
            n += 1;
        } else {
            // One whole character; a malformed byte is copied alone.
            const size_t len = utf8::decode(f, n).len;
            out.append(f.substr(n, len));
            n += len;
        }
        invariant(n > before, "accent decomposition must advance");
    }
    return out;
}

std::optional<uint32_t> compose_accent(uint32_t ch, AccentKind accent) {
    static constexpr char kKindMarks[] = {'\'', ':', '`'};  // by AccentKind
    const auto k = static_cast<uint8_t>(accent);
    if (k >= std::size(kKindMarks) || ch > 0x7F || !is_ascii_letter(static_cast<unsigned char>(ch))) return std::nullopt;
    return lookup_digraph(static_cast<char>(ch), kKindMarks[k]);
}

std::optional<uint32_t> lookup_dot(char letter, uint8_t below) {
    for (const DotEntry& e : kDots) {
        if (e.letter != letter) continue;
        const uint32_t cp = below ? e.below : e.above;
        if (cp == 0) return std::nullopt;
        return cp;
    }
    return std::nullopt;
}

std::optional<std::vector<DotRecord>> parse_dot_annotation(std::string_view body) {
    std::vector<DotRecord> records;
    size_t pos = 0;
    while (true) {
        // Next clause ends at the nearer of 、 and 。 (both three bytes).
        const size_t comma = body.find(kComma, pos);
        const size_t period = body.find(kPeriod, pos);
        const size_t stop = std::min(comma, period);
        const std::string_view clause = body.substr(pos, stop == std::string_view::npos ? std::string_view::npos : stop - pos);
        if (!parse_clause(clause, records)) return std::nullopt;
        if (stop == std::string_view::npos) break;
        pos = stop + kComma.size();
    }
    return records;
}

std::optional<std::string> apply_dot_accents(std::string_view word, std::string_view body) {
    auto records = parse_dot_annotation(body);
    if (!records) return std::nullopt;

    struct Placed {
        size_t pos;
        uint32_t cp;
    };
    std::vector<Placed> placed;
    placed.reserve(records->size());
    for (const DotRecord& rec : *records) {
        const int64_t at = find_target(word, rec);
        if (at < 0) return std::nullopt;
        const size_t p = static_cast<size_t>(at);
        placed.push_back(Placed{p, *lookup_dot(word[p], rec.below)});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.pos < b.pos; });
    for (size_t i = 1; i < placed.size(); ++i)
        if (placed[i].pos == placed[i - 1].pos) return std::nullopt;

    std::string out;
    out.reserve(word.size() + placed.size() * 2);
    size_t cursor = 0;
    for (const Placed& p : placed) {
        out.append(word.substr(cursor, p.pos - cursor));
        utf8::append(out, p.cp);
        cursor = p.pos + 1;
    }
    out.append(word.substr(cursor));
    return out;
}

}  // namespace kogane
