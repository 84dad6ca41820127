#include "pipeline/fold_passes.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "pipeline/lexer/classify/forward.hpp"
#include "collections/panic.hpp"

namespace kogane {

namespace {

constexpr int kKanbunWindow = 12;

bool is_kana(uint32_t cp) {
    return (cp >= 0x3040 && cp <= 0x30FF) || (cp >= 0xFF66 && cp <= 0xFF9D);
}

bool is_ideograph(uint32_t cp) {
    return (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF);
}

// Decodes the character starting at `i`; malformed input yields U+FFFD and
// consumes one byte, so the walk always advances.
uint32_t decode(std::string_view s, size_t i, size_t* len) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) {
        *len = 1;
        return 0xFFFD;
    }
    uint32_t cp = n == 1 ? b : b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            *len = 1;
            return 0xFFFD;
        }
        cp = cp << 6 | (c & 0x3F);
    }
    *len = n;
    return cp;
}

struct ScriptCount {
    int kana = 0;
    int ideographs = 0;
    void add(uint32_t cp) {
        kana += is_kana(cp);
        ideographs += is_ideograph(cp);
    }
};

bool kanbun_context(std::string_view text, Span mark) {
    ScriptCount count;
    size_t i = mark.start < text.size() ? mark.start : text.size();
    for (int n = 0; n < kKanbunWindow && i > 0; ++n) {
        size_t lead = i - 1;
        while (lead > 0 && i - lead < 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
        size_t len;
        count.add(decode(text, lead, &len));
        i = lead;
    }
    i = mark.end;
    for (int n = 0; n < kKanbunWindow && i < text.size(); ++n) {
        size_t len;
        count.add(decode(text, i, &len));
        i += len;
    }
    return !(count.kana >= 2 && count.ideographs < 2);
}

// Recognised marks (一二三四, 上中下, 甲乙丙丁) are the ones that pair up.
bool pairs_by_family(const KaeritenMark& m) { return m.recognised && m.series <= 2; }

}  // namespace

void check_kaeriten(std::span<const KaeritenMark> marks, std::string_view text, Diagnostics& out) {
    if (marks.size() == 1 && !kanbun_context(text, marks[0].span))
        out.push_back(Diagnostic::simple(DiagTag::KaeritenOutsideKanbun, marks[0].span));

    bool family_starts[3] = {false, false, false};
    for (const KaeritenMark& m : marks)
        if (pairs_by_family(m) && m.ordinal == 1) family_starts[m.series] = true;
    for (const KaeritenMark& m : marks)
        if (pairs_by_family(m) && m.ordinal >= 2 && !family_starts[m.series])
            out.push_back(Diagnostic::simple(DiagTag::BracketedKaeritenNoPair, m.span));
}

namespace {

// Where the line that ends at events[end] (a line feed) begins, when a
// heading can be read off it: index of its first event, or nothing. The
// line begins after the previous line feed, after a page or section break
// standing on it, or at the start of the text.
std::optional<size_t> line_events_start(const std::vector<ClassifiedEvent>& events, size_t end) {
    size_t k = end;
    while (k > 0) {
        const ClassifiedEvent& e = events[k - 1];
        if (e.tag == EventTag::LineFeed) break;
        if (e.tag == EventTag::Node && (e.node.tag == NodeTag::PageBreak || e.node.tag == NodeTag::SectionBreak)) break;
        --k;
    }
    if (k == end) return std::nullopt;
    // The line must start right there and run up to the line feed.
    const uint32_t start = k > 0 ? events[k - 1].span.end : 0;
    if (events[k].span.start != start || events[end - 1].span.end != events[end].span.start) return std::nullopt;
    return k;
}

}  // namespace

void promote_headings(std::vector<ClassifiedEvent>& events, std::string_view text, NodeStore& store) {
    for (size_t h = 0; h < events.size(); ++h) {
        ClassifiedEvent& e = events[h];
        if (e.tag != EventTag::Node || e.node.tag != NodeTag::HeadingHint || e.node.hint.is_inline) continue;
        // The hint stands at the start of a line, right after a line feed.
        if (h == 0 || events[h - 1].tag != EventTag::LineFeed || events[h - 1].span.end != e.span.start) continue;
        const std::optional<size_t> first = line_events_start(events, h - 1);
        if (!first) continue;
        // The line above must read as the target does, markup aside.
        bool markup = false;
        const std::optional<std::string> line_reading =
            events_reading(std::span<const ClassifiedEvent>(events.data() + *first, h - 1 - *first), text, store, &markup);
        const HeadingHintNode hint = e.node.hint;
        if (!line_reading || line_reading->empty() || *line_reading != target_reading(store.resolve(hint.target)))
            continue;

        const uint32_t line_start = events[*first].span.start;
        const std::string_view line = text.substr(line_start, events[h - 1].span.start - line_start);
        invariant(!line.empty(), "classify stage must emit Heading with non-empty text");
        HeadingNode heading;
        heading.text = store.content_from_segment(store.text_segment(line));
        heading.level = hint.level;
        heading.style = hint.style;
        heading.markup = markup ? 1 : 0;
        e.node = Node::make_heading(heading);
        e.span.start = line_start;
    }
}

void place_decorations(std::vector<ClassifiedEvent>& events) {
    std::vector<ClassifiedEvent> placed;
    for (const ClassifiedEvent& e : events)
        if (e.out_of_place) placed.push_back(e);
    if (placed.empty()) return;
    std::stable_sort(placed.begin(), placed.end(),
                     [](const ClassifiedEvent& a, const ClassifiedEvent& b) { return a.span.start < b.span.start; });
    // One merge of the stream (in source order) with the placements: each
    // lands in the event it starts in or at, which must be a text run unless
    // it starts right at the event; what it covers is dropped.
    size_t next = 0;
    std::optional<Span> under;  // the span of the latest placement
    std::vector<ClassifiedEvent> out;
    out.reserve(events.size() + placed.size());
    for (ClassifiedEvent e : events) {
        if (e.out_of_place) continue;
        while (next < placed.size() && placed[next].span.start < e.span.end) {
            const ClassifiedEvent& p = placed[next++];
            const bool lands = p.span.start >= e.span.start && (!under || p.span.start >= under->end) &&
                               (e.tag == EventTag::TextRun || p.span.start == e.span.start);
            if (!lands) continue;  // overlaps what is already placed: dropped
            if (p.span.start > e.span.start) {
                ClassifiedEvent head = e;
                head.span.end = p.span.start;
                out.push_back(head);
            }
            out.push_back(p);
            out.back().out_of_place = false;
            under = p.span;
            if (e.tag == EventTag::TextRun) e.span.start = std::min(std::max(e.span.start, p.span.end), e.span.end);
        }
        if (under && e.span.start >= under->start && e.span.end <= under->end) continue;
        if (under && e.tag == EventTag::TextRun && e.span.start < under->end && e.span.end > under->end)
            e.span.start = under->end;
        out.push_back(e);
    }
    events = std::move(out);
}

void normalise_overlaps(std::vector<ClassifiedEvent>& events) {
    // `events[0, kept)` is the compacted prefix. Every event is removed at
    // most once, so the backward walk is linear overall.
    size_t kept = 0;
    for (size_t r = 0; r < events.size(); ++r) {
        const ClassifiedEvent e = events[r];
        while (kept > 0) {
            const Span k = events[kept - 1].span;
            const bool inside = k.start >= e.span.start && k.end <= e.span.end;
            if (!inside || k == e.span) break;
            --kept;
        }
        if (kept > 0) {
            ClassifiedEvent& prev = events[kept - 1];
            if (prev.tag == EventTag::TextRun && prev.span.start < e.span.start && prev.span.end > e.span.start)
                prev.span.end = e.span.start;
        }
        events[kept++] = e;
    }
    events.resize(kept);
}

namespace {

bool collapsible_open(const ContainerSpec& open) {
    switch (open.kind()) {
        case ContainerKind::Bold:
        case ContainerKind::Gothic:
        case ContainerKind::Italic:
        case ContainerKind::Caption: return open[1] == 0;
        case ContainerKind::BoutenRange:
        case ContainerKind::SmallScript: return true;
        default: return false;
    }
}

bool close_matches(const ContainerSpec& open, const ContainerSpec& close) {
    if (open.key() != close.key()) return false;
    switch (open.kind()) {
        case ContainerKind::BoutenRange: return open[1] == close[1] && open[2] == close[2];
        case ContainerKind::SmallScript: return (open[1] == 1) == (close[1] == 1);
        default: return open[1] == close[1];
    }
}

FormatStyle collapsed_style(const ContainerSpec& open) {
    switch (open.kind()) {
        case ContainerKind::Bold: return {kStyleBold, 0};
        case ContainerKind::Gothic: return {kStyleGothic, 0};
        case ContainerKind::Italic: return {kStyleItalic, 0};
        case ContainerKind::Caption: return {kStyleCaption, 0};
        case ContainerKind::SmallScript: return {kStyleSmallScript, uint8_t(open[1] == 1 ? 1 : 0)};
        default: return {uint8_t(open[1] == 1 ? kStyleBoutenLeft : kStyleBoutenRight), open[2]};
    }
}

void append_run(std::string& out, std::string_view text, Span s) {
    invariant(s.start <= s.end && s.end <= text.size() && is_char_boundary(text, s.start) &&
                  is_char_boundary(text, s.end),
              "span must align to UTF-8 char boundaries in source");
    out.append(slice(text, s));
}

}  // namespace

void collapse_inline_containers(std::vector<ClassifiedEvent>& events, std::string_view text, NodeStore& store) {
    // Frames name the index of their open event in the compacted output,
    // so an enclosing frame never copies the events of an inner one.
    struct Frame {
        size_t open;
        bool only_text;
    };
    std::vector<Frame> frames;
    std::string joined;
    size_t w = 0;
    for (size_t r = 0; r < events.size(); ++r) {
        const ClassifiedEvent e = events[r];
        if (e.tag == EventTag::ContainerClose && !frames.empty()) {
            const Frame f = frames.back();
            frames.pop_back();
            const ClassifiedEvent& open = events[f.open];
            const size_t inner = w - f.open - 1;
            bool collapse = f.only_text && inner > 0 && collapsible_open(open.spec) && close_matches(open.spec, e.spec);
            if (collapse) {
                joined.clear();
                for (size_t i = f.open + 1; i < w; ++i) append_run(joined, text, events[i].span);
                collapse = !joined.empty();
            }
            if (collapse) {
                FormatNode fmt;
                fmt.mode = 3;  // written back as the container it was
                fmt.spec = kNoId;
                fmt.target = store.content_from_segment(store.text_segment(joined));
                fmt.style = collapsed_style(open.spec);
                fmt.suppressed = 0;
                const Span span{open.span.start, e.span.end};
                w = f.open;
                events[w++] = ClassifiedEvent::of_node(Node::make_format(fmt), span);
            } else {
                events[w++] = e;
            }
            continue;
        }
        if (!frames.empty() && e.tag != EventTag::TextRun) frames.back().only_text = false;
        if (e.tag == EventTag::ContainerOpen) frames.push_back(Frame{w, true});
        events[w++] = e;
    }
    events.resize(w);
}

}  // namespace kogane
