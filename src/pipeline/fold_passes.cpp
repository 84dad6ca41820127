#include "pipeline/fold_passes.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "pipeline/lexer/classify/forward.hpp"
#include "collections/panic.hpp"
#include "collections/small_vector.hpp"
#include "collections/utf8.hpp"

namespace kogane {

namespace {

constexpr int kKanbunWindow = 12;

bool is_kana(uint32_t cp) {
    return (cp >= 0x3040 && cp <= 0x30FF) || (cp >= 0xFF66 && cp <= 0xFF9D);
}

bool is_ideograph(uint32_t cp) {
    return (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF);
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
        const utf8::Char c = utf8::decode_before(text, i);
        count.add(c.cp);
        i -= c.len;
    }
    i = mark.end;
    for (int n = 0; n < kKanbunWindow && i < text.size(); ++n) {
        const utf8::Char c = utf8::decode(text, i);
        count.add(c.cp);
        i += c.len;
    }
    return !(count.kana >= 2 && count.ideographs < 2);
}

// Recognised marks (一二三四, 上中下, 甲乙丙丁) are the ones that pair up.
bool pairs_by_family(const KaeritenMark& m) { return m.recognised && m.series != KaeritenSeries::Other; }

}  // namespace

void check_kaeriten(std::span<const KaeritenMark> marks, std::string_view text, Diagnostics& out) {
    if (marks.size() == 1 && !kanbun_context(text, marks[0].span))
        out.push_back(Diagnostic::simple(DiagTag::KaeritenOutsideKanbun, marks[0].span));

    bool family_starts[3] = {false, false, false};
    for (const KaeritenMark& m : marks)
        if (pairs_by_family(m) && m.ordinal == 1) family_starts[static_cast<uint8_t>(m.series)] = true;
    for (const KaeritenMark& m : marks)
        if (pairs_by_family(m) && m.ordinal >= 2 && !family_starts[static_cast<uint8_t>(m.series)])
            out.push_back(Diagnostic::simple(DiagTag::BracketedKaeritenNoPair, m.span));
}

namespace {

// Where the line that ends at events[end] (a line feed) begins, when a
// heading can be read off it: index of its first event, or nothing. The
// line begins after the previous line feed, after a page or section break
// standing on it, or at the start of the text.
std::optional<size_t> line_events_start(const EventList& events, const EventPool& pool, size_t end) {
    size_t k = end;
    while (k > 0) {
        const ClassifiedEvent& e = events[k - 1];
        if (e.tag == EventTag::LineFeed) break;
        if (e.tag == EventTag::Node) {
            const NodeTag tag = pool.node(e).tag;
            if (tag == NodeTag::PageBreak || tag == NodeTag::SectionBreak) break;
        }
        --k;
    }
    if (k == end) return std::nullopt;
    // The line must start right there and run up to the line feed.
    const uint32_t start = k > 0 ? events[k - 1].span.end : 0;
    if (events[k].span.start != start || events[end - 1].span.end != events[end].span.start) return std::nullopt;
    return k;
}

}  // namespace

void promote_headings(EventList& events, EventPool& pool, std::string_view text, NodeStore& store) {
    for (size_t h = 0; h < events.size(); ++h) {
        ClassifiedEvent& e = events[h];
        if (e.tag != EventTag::Node) continue;
        const Node& n = pool.node(e);
        if (n.tag != NodeTag::HeadingHint || n.hint.is_inline) continue;
        // The hint stands at the start of a line, right after a line feed.
        if (h == 0 || events[h - 1].tag != EventTag::LineFeed || events[h - 1].span.end != e.span.start) continue;
        const std::optional<size_t> first = line_events_start(events, pool, h - 1);
        if (!first) continue;
        // The line above must read as the target does, markup aside.
        bool markup = false;
        const std::optional<std::string> line_reading =
            events_reading(std::span<const ClassifiedEvent>(events.data() + *first, h - 1 - *first), pool, text, store,
                           &markup);
        const HeadingHintNode hint = pool.node(e).hint;
        if (!line_reading || line_reading->empty() || *line_reading != target_reading(store.resolve(hint.target)))
            continue;

        const uint32_t line_start = events[*first].span.start;
        const std::string_view line = text.substr(line_start, events[h - 1].span.start - line_start);
        invariant(!line.empty(), "classify stage must emit Heading with non-empty text");
        HeadingNode heading;
        heading.text = store.content_from_segment(store.text_segment(line));
        heading.level = hint.level;
        heading.style = hint.style;
        heading.markup = markup;
        heading.target = hint.target;
        pool.node(e) = Node::make_heading(heading);
        e.span.start = line_start;
    }
}

namespace {
constexpr size_t kLayoutInsertRoom = 64;
}  // namespace

void place_decorations(EventList& events) {
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
    EventList out;
    // With room for the few closes settle_layout adds after the replaced
    // indents and the notes block, which then go in without a copy of the
    // stream.
    out.reserve(events.size() + placed.size() + kLayoutInsertRoom);
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

void normalise_overlaps(EventList& events) {
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
        case ContainerKind::Caption: return !open.range.block;
        case ContainerKind::BoutenRange:
        case ContainerKind::SmallScript: return true;
        default: return false;  // an inline style range stays one, so it is re-emitted as written
    }
}

bool close_matches(const ContainerSpec& open, const ContainerSpec& close) {
    if (open.key() != close.key()) return false;
    switch (open.kind()) {
        case ContainerKind::BoutenRange:
            return open.bouten.side == close.bouten.side && open.bouten.mark == close.bouten.mark;
        case ContainerKind::SmallScript: return open.script.side == close.script.side;
        default: return open.range.block == close.range.block;  // bold, gothic, italic, caption
    }
}

FormatStyle collapsed_style(const ContainerSpec& open) {
    switch (open.kind()) {
        case ContainerKind::Bold: return FormatStyle::of(StyleKind::Bold);
        case ContainerKind::Gothic: return FormatStyle::of(StyleKind::Gothic);
        case ContainerKind::Italic: return FormatStyle::of(StyleKind::Italic);
        case ContainerKind::Caption: return FormatStyle::of(StyleKind::Caption);
        case ContainerKind::SmallScript: return FormatStyle::small_script(open.script.side);
        default:
            return FormatStyle::bouten(
                open.bouten.side == MarkSide::Left ? StyleKind::BoutenLeft : StyleKind::BoutenRight, open.bouten.mark);
    }
}

void append_run(std::string& out, std::string_view text, Span s) {
    invariant(s.start <= s.end && s.end <= text.size() && is_char_boundary(text, s.start) &&
                  is_char_boundary(text, s.end),
              "span must align to UTF-8 char boundaries in source");
    out.append(slice(text, s));
}

}  // namespace

void collapse_inline_containers(EventList& events, EventPool& pool, std::string_view text,
                                NodeStore& store) {
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
            const ContainerSpec& open_spec = pool.spec(open);
            bool collapse =
                f.only_text && inner > 0 && collapsible_open(open_spec) && close_matches(open_spec, pool.spec(e));
            if (collapse) {
                joined.clear();
                for (size_t i = f.open + 1; i < w; ++i) append_run(joined, text, events[i].span);
                collapse = !joined.empty();
            }
            if (collapse) {
                FormatNode fmt;
                fmt.mode = FormatMode::CollapsedContainer;  // written back as the container it was
                fmt.spec = kNoId;
                fmt.target = store.content_from_segment(store.text_segment(joined));
                fmt.style = collapsed_style(open_spec);
                fmt.suppressed = FormatPlacement::InPlace;
                const Span span{open.span.start, e.span.end};
                w = f.open;
                events[w++] = pool.of_node(Node::make_format(fmt), span);
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

namespace {

bool is_block_indent(const ContainerSpec& s) {
    return s.key() == ContainerKey::Indent;
}

// Containers that become spans when they open and close on one line.
bool inline_on_one_line(const ContainerSpec& s) {
    const ContainerKind k = s.kind();
    return k == ContainerKind::FontSize || k == ContainerKind::Horizontal || k == ContainerKind::Warichu;
}

// A same-line (同行) or window (窓) heading in its inline form.
bool is_run_in_candidate(const ContainerSpec& s) {
    return s.kind() == ContainerKind::Heading && !s.heading.block && s.heading.style != HeadingStyle::Standalone;
}

// Something that stays on the heading's line after its close.
bool continues_line(const ClassifiedEvent& e, const EventPool& pool) {
    switch (e.tag) {
        case EventTag::TextRun: return e.span.end > e.span.start;
        case EventTag::Node: return !is_block_leaf(pool.node(e).tag);
        case EventTag::ContainerOpen: return pool.spec(e).is_inline();
        default: return false;
    }
}

// Pairs opens and closes as the fold does (a close ends the innermost open
// container, whatever its kind), and makes a pair inline when nothing
// between them breaks the line: line feeds, block leaves and block
// containers do, since the fold frames blocks with blank lines; so does a
// candidate pair inside that stays a block. Text before a run-in heading
// counts only when no container stands between them, as one that stays a
// block would set the heading on a line of its own.
void inline_within_lines(EventList& events, EventPool& pool) {
    struct Open {
        size_t index;
        uint32_t breaks;           // line breaks seen before the open
        bool text_before = false;  // text before it on its line (headings)
    };
    std::vector<Open> stack;
    uint32_t breaks = 0;
    bool line_has_text = false;
    auto line_break = [&] {
        ++breaks;
        line_has_text = false;
    };
    for (size_t i = 0; i < events.size(); ++i) {
        const ClassifiedEvent& e = events[i];
        switch (e.tag) {
            case EventTag::LineFeed: line_break(); break;
            case EventTag::TextRun:
                line_has_text = line_has_text || continues_line(e, pool);
                break;
            case EventTag::Node:
                if (is_block_leaf(pool.node(e).tag)) {
                    line_break();
                } else if (pool.node(e).tag != NodeTag::LeafAlign) {
                    // A single-line layout before a heading is its own (the
                    // fold moves it inside), so it is no text before it.
                    line_has_text = line_has_text || continues_line(e, pool);
                }
                break;
            case EventTag::ContainerOpen: {
                const ContainerSpec& spec = pool.spec(e);
                const bool candidate = inline_on_one_line(spec) || is_run_in_candidate(spec);
                stack.push_back(Open{i, breaks, line_has_text});
                if (!spec.is_inline()) {
                    if (!candidate) ++breaks;
                    line_has_text = false;
                }
                break;
            }
            case EventTag::ContainerClose: {
                ContainerSpec& close = pool.spec(e);
                if (stack.empty()) {
                    if (!close.is_inline()) line_break();
                    break;
                }
                const Open open = stack.back();
                stack.pop_back();
                ContainerSpec& o = pool.spec(events[open.index]);
                const bool same_line = open.breaks == breaks;
                if (inline_on_one_line(o) && same_line && o.kind() == close.kind()) {
                    o.make_inline();
                    close.make_inline();
                } else if (is_run_in_candidate(o) && same_line && close.kind() == ContainerKind::Heading &&
                           !close.heading.block && close.heading.level == o.heading.level &&
                           close.heading.style == o.heading.style &&
                           (open.text_before || (i + 1 < events.size() && continues_line(events[i + 1], pool)))) {
                    o.make_inline();
                    close.make_inline();
                }
                if (!o.is_inline() || !close.is_inline()) line_break();
                break;
            }
        }
    }
}

constexpr std::string_view kNotationTitle = "【テキスト中に現れる記号について】";

// The lines a reader sees, as the fold writes them: line feeds, block
// leaves and block containers end one (blocks are framed by blank lines, so
// re-emitted source has them on lines of their own). Annotations that write
// no text leave a line's text as it is.
class VisualLines {
public:
    VisualLines(std::string_view text, const EventPool& pool) : text_(text), pool_(pool) {}

    // Feeds one event; true when it ended a line, which can then be read.
    bool feed(const ClassifiedEvent& e) {
        switch (e.tag) {
            case EventTag::LineFeed: return end_line();
            case EventTag::TextRun:
                if (e.span.end > e.span.start) add_text(e.span);
                return false;
            case EventTag::Node: {
                const NodeTag tag = pool_.node(e).tag;
                if (is_block_leaf(tag)) return end_line();
                if (tag != NodeTag::LeafAlign && tag != NodeTag::Directive && tag != NodeTag::Kaeriten) other_ = true;
                return false;
            }
            case EventTag::ContainerOpen:
            case EventTag::ContainerClose: return pool_.spec(e).is_inline() ? false : end_line();
        }
        return false;
    }

    // The line just ended: its first text offset, whether it is a rule (at
    // least five hyphens and nothing else), whether it begins with `prefix`.
    uint32_t start() const { return last_start_; }
    bool empty() const { return last_text_.empty() && !last_other_; }
    bool rule() const {
        if (last_other_) return false;
        size_t dashes = 0;
        for (size_t i = 0; i < last_text_.size();) {
            const size_t width = last_text_[i] == '-'                              ? 1
                                 : std::string_view(last_text_).substr(i).starts_with("－") ? 3
                                 : last_text_[i] == '\r'                           ? 1
                                                                                   : 0;
            if (width == 0) return false;
            dashes += last_text_[i] != '\r';
            i += width;
        }
        return dashes >= 5;
    }
    bool begins(std::string_view prefix) const { return std::string_view(last_text_).starts_with(prefix); }

private:
    static constexpr size_t kKept = 128;  // enough to tell rules and the title line

    void add_text(Span s) {
        if (!has_text_) start_ = s.start;
        has_text_ = true;
        if (text_kept_.size() < kKept) text_kept_.append(slice(text_, s).substr(0, kKept));
        else other_ = true;  // longer than any rule line this is told from
    }

    bool end_line() {
        last_text_.swap(text_kept_);
        text_kept_.clear();
        last_start_ = start_;
        last_other_ = other_;
        has_text_ = other_ = false;
        return true;
    }

    std::string_view text_;
    const EventPool& pool_;
    std::string text_kept_, last_text_;
    uint32_t start_ = 0, last_start_ = 0;
    bool has_text_ = false, other_ = false, last_other_ = false;
};

// From the opening rule line of the notation block (a rule line, then a
// line beginning 【テキスト中に現れる記号について】) to its closing rule line,
// each taken at its first hyphen; an empty span when the book has none
// near its top.
Span notation_block(const EventList& events, const EventPool& pool, std::string_view text) {
    // Books open with it, after the title and author lines.
    constexpr uint32_t kSearched = 32 * 1024;
    if (text.substr(0, kSearched).find(kNotationTitle) == std::string_view::npos) return Span{};
    VisualLines lines(text, pool);
    bool inside = false;
    bool after_rule = false;
    uint32_t open = 0;
    for (size_t i = 0; i <= events.size(); ++i) {
        const bool ended = i == events.size() ? lines.feed(ClassifiedEvent::line_feed(uint32_t(text.size())))
                                              : lines.feed(events[i]);
        if (!ended || lines.empty()) continue;
        if (inside) {
            if (lines.rule()) return Span{open, lines.start()};
        } else if (lines.rule()) {
            after_rule = true;
            open = lines.start();
        } else if (after_rule && lines.begins(kNotationTitle)) {
            inside = true;
        } else {
            after_rule = false;
            if (lines.start() > kSearched) return Span{};
        }
    }
    return Span{};
}

}  // namespace

ContainerSpec close_spec_for(const ContainerSpec& open) {
    ContainerSpec c = ContainerSpec::of(open.kind());
    switch (open.kind()) {
        case ContainerKind::Indent:
        case ContainerKind::IndentWrap:
            if (open.indent.grid == LineGrid::Kumi) c.indent.kumi_width = open.indent.kumi_width;
            break;
        case ContainerKind::FontSize:
            c.font_size.steps = open.font_size.steps > 0 ? 1 : -1;
            c.font_size.inline_form = open.font_size.inline_form;
            break;
        case ContainerKind::Heading:
        case ContainerKind::BoutenRange:
        case ContainerKind::Bold:
        case ContainerKind::Gothic:
        case ContainerKind::Italic:
        case ContainerKind::Caption:
        case ContainerKind::SmallScript:
        case ContainerKind::InlineStyle:
        case ContainerKind::Horizontal:
        case ContainerKind::Warichu: c = open; break;  // a close names all its open did
        case ContainerKind::AlignEnd:
        case ContainerKind::LineWidth:
        case ContainerKind::Columns:
        case ContainerKind::Framed:
        case ContainerKind::Table: break;  // closes carry no amount
    }
    return c;
}

void settle_layout(EventList& events, EventPool& pool, std::string_view text, Diagnostics& out) {
    inline_within_lines(events, pool);

    const Span notes = notation_block(events, pool, text);
    // Only whether there are two block indents matters.
    size_t indents = 0;
    for (size_t i = 0; i < events.size() && indents < 2; ++i)
        indents += events[i].tag == EventTag::ContainerOpen && is_block_indent(pool.spec(events[i]));
    if (indents < 2 && notes.end == 0) return;

    // Mirrors the fold's container stack: a close ends the innermost open.
    std::vector<ContainerSpec> stack;
    // The closes this adds are few: they are noted with the event they go
    // before and put in place afterwards, rather than copying the stream.
    struct Insert {
        size_t before;
        ClassifiedEvent event;
    };
    std::vector<Insert> inserts;
    size_t i = 0;
    constexpr size_t kNotStarted = SIZE_MAX;
    size_t notes_depth = kNotStarted;
    bool notes_done = notes.end == 0;
    auto close_notes = [&] {
        while (stack.size() > notes_depth) {
            inserts.push_back(Insert{i, pool.close(close_spec_for(stack.back()), Span{notes.end, notes.end})});
            stack.pop_back();
        }
        notes_done = true;
    };
    for (; i < events.size(); ++i) {
        const ClassifiedEvent& e = events[i];
        if (!notes_done) {
            if (notes_depth == kNotStarted && e.span.start >= notes.start) notes_depth = stack.size();
            if (notes_depth != kNotStarted && e.span.start >= notes.end) close_notes();
        }
        if (e.tag == EventTag::ContainerOpen) {
            const ContainerSpec spec = pool.spec(e);
            if (is_block_indent(spec) && !stack.empty() && is_block_indent(stack.back())) {
                const Span at{e.span.start, e.span.start};
                inserts.push_back(Insert{i, pool.close(close_spec_for(stack.back()), at)});
                stack.pop_back();
                out.push_back(Diagnostic::simple(DiagTag::IndentReplaced, e.span));
            }
            stack.push_back(spec);
        } else if (e.tag == EventTag::ContainerClose && !stack.empty()) {
            stack.pop_back();
        }
    }
    if (!notes_done && notes_depth != kNotStarted) close_notes();
    if (inserts.empty()) return;
    // From the last insert back, each stretch of events moves up by the
    // number of inserts at or before its start.
    size_t end = events.size();
    // Grown by exactly what is added (not doubled) if it ever needs to grow.
    events.reserve(end + inserts.size());
    events.resize(end + inserts.size());
    for (size_t k = inserts.size(); k-- > 0;) {
        const size_t at = inserts[k].before;
        std::move_backward(events.begin() + static_cast<std::ptrdiff_t>(at), events.begin() + static_cast<std::ptrdiff_t>(end),
                           events.begin() + static_cast<std::ptrdiff_t>(end + k + 1));
        events[at + k] = inserts[k].event;
        end = at;
    }
}

}  // namespace kogane
