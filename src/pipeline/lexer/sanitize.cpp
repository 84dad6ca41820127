#include "pipeline/lexer/sanitize.hpp"

#include <cstring>
#include <vector>

#include "collections/panic.hpp"
#include "collections/safe_output.hpp"
#include "collections/spare_buffers.hpp"
#include "scan/trigger_scanner.hpp"
#include "syntax/accents.hpp"

namespace kogane {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kTortoiseOpen = "〔";
constexpr std::string_view kTortoiseClose = "〕";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// A vector search rather than memmem or string_view::find, which stop at
// every E3 lead byte: every other character of kana text.
size_t find_seq(std::string_view text, std::string_view needle, size_t from) {
    return scan::find_triple(text, from, needle.data());
}

inline unsigned char byte_at(std::string_view s, size_t i) { return static_cast<unsigned char>(s[i]); }

// Byte length of a White_Space character starting at `i`, or 0.
size_t white_space_len_at(std::string_view s, size_t i) {
    const unsigned char c = byte_at(s, i);
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return 1;
    if (c < 0xC2) return 0;
    const size_t left = s.size() - i;
    if (c == 0xC2 && left >= 2) {
        const unsigned char c1 = byte_at(s, i + 1);
        return (c1 == 0x85 || c1 == 0xA0) ? 2 : 0;
    }
    if (left < 3) return 0;
    const unsigned char c1 = byte_at(s, i + 1), c2 = byte_at(s, i + 2);
    if (c == 0xE1) return (c1 == 0x9A && c2 == 0x80) ? 3 : 0;  // U+1680
    if (c == 0xE2) {
        if (c1 == 0x80 && (c2 <= 0x8A || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF)) return 3;  // U+2000..200A, 2028, 2029, 202F
        if (c1 == 0x81 && c2 == 0x9F) return 3;                                              // U+205F
        return 0;
    }
    if (c == 0xE3) return (c1 == 0x80 && c2 == 0x80) ? 3 : 0;  // U+3000
    return 0;
}

// Byte length of a White_Space character ending at `end`, or 0.
size_t white_space_len_before(std::string_view s, size_t end) {
    for (size_t len = 1; len <= 3 && len <= end; ++len) {
        if (white_space_len_at(s, end - len) == len) return len;
    }
    return 0;
}

std::string_view trim_white_space(std::string_view line) {
    size_t b = 0, e = line.size();
    while (b < e) {
        const size_t w = white_space_len_at(line.substr(0, e), b);
        if (w == 0) break;
        b += w;
    }
    while (e > b) {
        const size_t w = white_space_len_before(line.substr(b), e - b);
        if (w == 0) break;
        e -= w;
    }
    return line.substr(b, e - b);
}

bool is_blank_line(std::string_view line) { return trim_white_space(line).empty(); }

// Replaces every complete EE 80 81..84 by U+FFFD in place, recording one
// diagnostic per character.
void replace_sentinels(std::string& text, Diagnostics& diagnostics, TextEdits* edits = nullptr) {
    char* const base = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const void* hit = std::memchr(base + i, 0xEE, n - i);
        if (hit == nullptr) break;
        i = static_cast<size_t>(static_cast<const char*>(hit) - base);
        const auto* p = reinterpret_cast<const unsigned char*>(base + i);
        if (i + 3 <= n && p[1] == 0x80 && p[2] >= 0x81 && p[2] <= 0x84) {
            const uint32_t cp = 0xE000u + (p[2] - 0x80u);
            const uint32_t at = static_cast<uint32_t>(i);
            diagnostics.push_back(Diagnostic::source_contains_pua(Span{at, at + 3}, cp));
            if (edits != nullptr) edits->add(at, 3, std::string_view(base + i, 3));
            std::memcpy(base + i, kReplacement.data(), 3);
            i += 3;
        } else {
            i += 1;
        }
    }
}

// A C0 control other than tab, line feed and carriage return (line ends
// are normalised, not reported).
constexpr bool is_reported_control(unsigned char b) { return is_unsafe_control(b) && b != '\r'; }

// One diagnostic per run of controls (called when the probe saw one); the
// text keeps them (the HTML writer substitutes U+FFFD).
void report_controls(std::string_view text, Diagnostics& diagnostics) {
    size_t i = 0;
    while (i < text.size()) {
        if (!is_reported_control(byte_at(text, i))) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() && is_reported_control(byte_at(text, j))) ++j;
        diagnostics.push_back(Diagnostic::source_contains_control(
            Span{static_cast<uint32_t>(i), static_cast<uint32_t>(j)}, byte_at(text, i)));
        i = j;
    }
}

}  // namespace

bool is_rule_line(std::string_view line) {
    const std::string_view t = trim_white_space(line);
    if (t.size() < 10) return false;
    const char c = t[0];
    if (c != '-' && c != '=' && c != '_') return false;
    return t.find_first_not_of(c) == std::string_view::npos;
}

namespace {

struct LineSpan {
    size_t start;
    size_t end;  // the line feed ending the line, or the end of the text
};

// Walks the rule lines of a text in order. A rule line holds ten or more of
// one rule character, hence three in a row: only lines holding such a
// triple (found by a vector search) are tested, each at most once, so the
// walk stays linear.
class RuleLineWalker {
public:
    explicit RuleLineWalker(std::string_view text) : text_(text) {}

    // The first rule line starting at or after `from`, which starts a line.
    bool next(size_t from, LineSpan& line) const {
        while (from < text_.size()) {
            const size_t hit = scan::find_rule_triple(text_, from);
            if (hit == std::string_view::npos) return false;
            const size_t nl_before = hit == 0 ? std::string_view::npos : text_.rfind('\n', hit - 1);
            line.start = nl_before == std::string_view::npos ? 0 : nl_before + 1;
            line.end = text_.find('\n', hit);
            if (line.end == std::string_view::npos) line.end = text_.size();
            if (is_rule_line(text_.substr(line.start, line.end - line.start))) return true;
            from = line.end + 1;
        }
        return false;
    }

private:
    std::string_view text_;
};

}  // namespace

bool has_rule_line(std::string_view text) {
    LineSpan line{};
    return RuleLineWalker(text).next(0, line);
}

namespace {

// Where isolating rule lines inserts a line feed: before each rule line
// (not the first line) whose previous line is a rule or not blank.
std::vector<size_t> rule_line_breaks(std::string_view text) {
    std::vector<size_t> breaks;
    RuleLineWalker walker(text);
    LineSpan rule{};
    size_t previous_rule_end = std::string_view::npos;
    size_t from = 0;
    while (walker.next(from, rule)) {
        if (rule.start > 0) {
            const size_t prev_end = rule.start - 1;
            bool separate = previous_rule_end == prev_end;
            if (!separate) {
                const size_t nl_before = prev_end == 0 ? std::string_view::npos : text.rfind('\n', prev_end - 1);
                const size_t prev_start = nl_before == std::string_view::npos ? 0 : nl_before + 1;
                separate = !is_blank_line(text.substr(prev_start, prev_end - prev_start));
            }
            if (separate) breaks.push_back(rule.start);
        }
        previous_rule_end = rule.end;
        from = rule.end + 1;
    }
    return breaks;
}

// isolate_rule_lines for a text the caller owns: the text after each
// insertion moves up in place (a book's rule lines are few), so a large
// text is not copied into a second, freshly faulted buffer.
void isolate_rule_lines_in_place(std::string& text, const std::vector<size_t>& breaks) {
    if (breaks.empty()) return;
    size_t end = text.size();
    text.resize(end + breaks.size());
    char* const base = text.data();
    // From the last insertion back, each piece moves up by the number of
    // line feeds inserted before or at its start.
    for (size_t k = breaks.size(); k-- > 0;) {
        const size_t at = breaks[k];
        std::memmove(base + at + k + 1, base + at, end - at);
        base[at + k] = '\n';
        end = at;
    }
}

}  // namespace

namespace {

// The text as it went in, plus a line feed at each of `breaks`.
std::string insert_line_feeds(std::string_view text, const std::vector<size_t>& breaks) {
    std::string out;
    out.reserve(text.size() + breaks.size());
    size_t copied = 0;
    for (const size_t at : breaks) {
        out.append(text.substr(copied, at - copied));
        out.push_back('\n');
        copied = at;
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace

std::string isolate_rule_lines(std::string_view text) { return insert_line_feeds(text, rule_line_breaks(text)); }

std::string normalize_line_ends(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const char* const base = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const void* hit = std::memchr(base + i, '\r', n - i);
        if (hit == nullptr) {
            out.append(base + i, n - i);
            break;
        }
        const size_t cr = static_cast<size_t>(static_cast<const char*>(hit) - base);
        out.append(base + i, cr - i);
        out.push_back('\n');
        i = cr + 1;
        if (i < n && base[i] == '\n') ++i;
    }
    return out;
}

namespace {

// Appends `text` from `pos` on to `out` with every 〔…〕 fragment's accent
// digraphs rewritten; diagnostic spans are offsets in `out`.
void append_rewritten(std::string_view text, size_t pos, std::string& out, Diagnostics& diagnostics,
                      TextEdits* edits = nullptr) {
    while (true) {
        const size_t open = find_seq(text, kTortoiseOpen, pos);
        if (open == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        const size_t body = open + kTortoiseOpen.size();
        const size_t close = find_seq(text, kTortoiseClose, body);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        const std::string_view fragment = text.substr(body, close - body);
        const size_t out_open = out.size();
        out.append(kTortoiseOpen);
        bool changed = false;
        if (has_accent_mark(fragment)) {
            const std::string rewritten = decompose_accents(fragment);
            changed = rewritten != fragment;
            if (changed && edits != nullptr)
                edits->add(static_cast<uint32_t>(out.size()), static_cast<uint32_t>(rewritten.size()), fragment);
            out.append(rewritten);
        } else {
            out.append(fragment);
        }
        out.append(kTortoiseClose);
        if (changed) {
            diagnostics.push_back(Diagnostic::simple(DiagTag::AccentDecompositionApplied,
                                                     Span{static_cast<uint32_t>(out_open), static_cast<uint32_t>(out.size())}));
        }
        const size_t next = close + kTortoiseClose.size();
        invariant(next > pos, "accent rewrite must advance");
        pos = next;
    }
}

// rewrite_accent_fragments for a text the caller owns: the output is
// written over the input already read, so a large text is not copied into
// a second buffer. A fragment that would grow past the bytes read so far
// (a digraph becoming a three-byte character) hands the rest to a copy.
void rewrite_accent_fragments_in_place(std::string& text, Diagnostics& diagnostics, TextEdits* edits = nullptr) {
    char* const base = text.data();
    const std::string_view view(text);
    const size_t n = view.size();
    size_t w = 0, pos = 0;  // output end, input position; w <= pos throughout
    auto move_down = [&](size_t from, size_t len) {
        if (w != from) std::memmove(base + w, base + from, len);
        w += len;
    };
    while (true) {
        const size_t open = find_seq(view, kTortoiseOpen, pos);
        if (open == std::string_view::npos) {
            move_down(pos, n - pos);
            break;
        }
        const size_t body = open + kTortoiseOpen.size();
        const size_t close = find_seq(view, kTortoiseClose, body);
        if (close == std::string_view::npos) {
            move_down(pos, n - pos);
            break;
        }
        const std::string_view fragment = view.substr(body, close - body);
        std::string rewritten;
        bool changed = false;
        if (has_accent_mark(fragment)) {
            rewritten = decompose_accents(fragment);
            changed = rewritten != fragment;
        }
        const size_t next = close + kTortoiseClose.size();
        const size_t out_len = (body - pos) + (changed ? rewritten.size() : fragment.size()) + kTortoiseClose.size();
        if (w + out_len > next) {
            std::string out;
            out.reserve(n + n / 64 + 16);
            out.append(base, w);
            append_rewritten(view, pos, out, diagnostics, edits);
            text = std::move(out);
            return;
        }
        const size_t out_open = w + (open - pos);
        move_down(pos, body - pos);
        if (changed) {
            if (edits != nullptr)
                edits->add(static_cast<uint32_t>(w), static_cast<uint32_t>(rewritten.size()), fragment);
            std::memcpy(base + w, rewritten.data(), rewritten.size());
            w += rewritten.size();
        } else {
            move_down(body, fragment.size());
        }
        std::memcpy(base + w, kTortoiseClose.data(), kTortoiseClose.size());
        w += kTortoiseClose.size();
        if (changed) {
            diagnostics.push_back(Diagnostic::simple(DiagTag::AccentDecompositionApplied,
                                                     Span{static_cast<uint32_t>(out_open), static_cast<uint32_t>(w)}));
        }
        invariant(next > pos, "accent rewrite must advance");
        pos = next;
    }
    text.resize(w);
}

}  // namespace

std::string rewrite_accent_fragments(std::string_view text, Diagnostics& diagnostics) {
    std::string out;
    out.reserve(text.size());
    append_rewritten(text, 0, out, diagnostics);
    return out;
}

SharedText sanitize(const SharedText& source, Diagnostics& diagnostics) {
    std::string_view view = *source;
    while (view.starts_with(kBom)) view.remove_prefix(kBom.size());
    const bool lost_bom = view.size() != source->size();

    // One vector pass decides which rewrites apply. Later steps never create
    // what the probe looks for (they work on whole characters, and only the
    // line-end step removes bytes, never between two rule characters), so
    // its answers stay valid for the intermediate texts.
    const scan::SanitizeProbe probe = scan::probe_for_sanitize(view);

    // `owned` holds the text once any step has rewritten it.
    std::string owned;
    bool have_owned = false;
    auto current = [&]() -> std::string_view { return have_owned ? std::string_view(owned) : view; };

    if (probe.carriage_return) {
        owned = normalize_line_ends(view);
        have_owned = true;
    }
    // A step whose rewrite changes nothing keeps the current text, so a
    // source that needs no edit is shared rather than copied.
    if (probe.rule_pair && have_owned) {
        isolate_rule_lines_in_place(owned, rule_line_breaks(owned));
    } else if (probe.rule_pair) {
        // Most books' rule lines stand alone already: no copy for them.
        const std::vector<size_t> breaks = rule_line_breaks(current());
        if (!breaks.empty()) {
            owned = insert_line_feeds(current(), breaks);
            have_owned = true;
        }
    }
    if (probe.tortoise_open && have_owned) {
        rewrite_accent_fragments_in_place(owned, diagnostics);
    } else if (probe.tortoise_open) {
        const size_t before = diagnostics.size();
        std::string rewritten = rewrite_accent_fragments(current(), diagnostics);
        if (diagnostics.size() != before) {  // one diagnostic per changed fragment
            owned = std::move(rewritten);
            have_owned = true;
        }
    }
    if (probe.sentinel) {
        if (!have_owned) {
            owned.assign(view);
            have_owned = true;
        }
        replace_sentinels(owned, diagnostics);
    }

    if (probe.control) report_controls(current(), diagnostics);

    if (!have_owned && !lost_bom) return source;
    if (!have_owned) owned.assign(view);
    return std::make_shared<const std::string>(std::move(owned));
}

SharedText sanitize_owned(std::string text, SanitizeEdits& edits, Diagnostics& diagnostics,
                          const std::optional<scan::SanitizeProbe>& probed) {
    // The same steps as sanitize, in the same order, each on this text.
    size_t bom = 0;
    while (std::string_view(text).substr(bom).starts_with(kBom)) bom += kBom.size();
    if (bom > 0) {
        TextEdits removed;
        removed.add(0, 0, std::string_view(text).substr(0, bom));
        edits.steps.push_back(std::move(removed));
        text.erase(0, bom);
    }
    // A byte-order mark adds nothing to a probe, nor does taking it away.
    const scan::SanitizeProbe probe = probed ? *probed : scan::probe_for_sanitize(text);
    invariant(!probe.carriage_return, "sanitize_owned takes folded line ends");
    if (probe.rule_pair) {
        const std::vector<size_t> breaks = rule_line_breaks(text);
        if (!breaks.empty()) {
            TextEdits inserted;
            for (size_t k = 0; k < breaks.size(); ++k)
                inserted.add(static_cast<uint32_t>(breaks[k] + k), 1, std::string_view());
            isolate_rule_lines_in_place(text, breaks);
            edits.steps.push_back(std::move(inserted));
        }
    }
    if (probe.tortoise_open) {
        TextEdits rewritten;
        rewrite_accent_fragments_in_place(text, diagnostics, &rewritten);
        if (!rewritten.empty()) edits.steps.push_back(std::move(rewritten));
    }
    if (probe.sentinel) {
        TextEdits replaced;
        replace_sentinels(text, diagnostics, &replaced);
        if (!replaced.empty()) edits.steps.push_back(std::move(replaced));
    }
    if (probe.control) report_controls(text, diagnostics);
    return share_keeping_buffer(std::move(text));
}

std::string TextEdits::undo(std::string_view after) const {
    std::string before;
    before.reserve(static_cast<size_t>(undone_size(after.size())));
    size_t copied = 0;
    uint32_t was_start = 0;
    for (const Edit& e : edits_) {
        before.append(after, copied, e.at - copied);
        before.append(was_, was_start, e.was_end - was_start);
        copied = size_t(e.at) + e.length;
        was_start = e.was_end;
    }
    before.append(after, copied);
    return before;
}

uint64_t TextEdits::undone_size(uint64_t after_size) const {
    uint64_t size = after_size + was_.size();
    for (const Edit& e : edits_) size -= e.length;
    return size;
}

std::string SanitizeEdits::undo(std::string_view sanitized) const {
    std::string text(sanitized);
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) text = step->undo(text);
    return text;
}

uint64_t SanitizeEdits::undone_size(uint64_t sanitized_size) const {
    uint64_t size = sanitized_size;
    for (auto step = steps.rbegin(); step != steps.rend(); ++step) size = step->undone_size(size);
    return size;
}
}  // namespace kogane
