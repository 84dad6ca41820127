#include "pipeline/lexer/classify/classifier.hpp"

#include <algorithm>

#include "collections/panic.hpp"
#include "collections/small_vector.hpp"
#include "pipeline/lexer/classify/content.hpp"
#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/ruby_base.hpp"

namespace kogane {

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kNotFound = ~size_t(0);
constexpr uint32_t kBarBytes = 3;  // ｜ in UTF-8

bool is_trigger(const PairEvent& e, TriggerKind k) { return e.tag == PairTag::Trigger && e.kind == uint8_t(k); }
bool is_open(const PairEvent& e, PairKind k) { return e.tag == PairTag::Open && e.kind == uint8_t(k); }
bool is_quote_kind(PairKind k) { return k == PairKind::Tortoise || k == PairKind::Quote; }

// The classified events in order. It also keeps the latest events of the
// current line, which forward references read back.
class EventSink {
public:
    explicit EventSink(std::vector<ClassifiedEvent>& events) : events_(events) {}

    void push(const ClassifiedEvent& e) {
        events_.push_back(e);
        if (e.out_of_place) return;  // the line as read back stays in order
        if (e.tag == EventTag::LineFeed) {
            previous_line_.swap(recent_);
            recent_.clear();
            return;
        }
        if (recent_.size() == 2 * kRecent) recent_.erase(recent_.begin(), recent_.begin() + kRecent);
        recent_.push_back(e);
    }

    // The latest events since the last line feed, oldest first: at least
    // the last kRecent of them, when there are that many.
    std::span<const ClassifiedEvent> recent() const { return recent_; }
    // The same for the line before the current one.
    std::span<const ClassifiedEvent> previous_line() const { return previous_line_; }

private:
    static constexpr size_t kRecent = 64;

    std::vector<ClassifiedEvent>& events_;
    std::vector<ClassifiedEvent> recent_;
    std::vector<ClassifiedEvent> previous_line_;
};

struct StackEntry {
    PairKind kind = PairKind::Bracket;
    uint32_t index = 0;  // buffer index of the opener
};

// A ※ carried into a bracket group: it may introduce a gaiji reference.
struct Mark {
    bool present = false;
    uint32_t start = 0;
};


// The group machinery works on one buffer. While a group is collected from
// the input, its events and partner table fill the buffer.
// When it ends unclassified, the same buffer is re-read from a cursor, and
// every bracket group nested in it is classified in place as the range
// [opener, partner] — its events are already buffered and paired, so
// nothing is buffered twice however deep the nesting.
struct Driver {
    enum class Mode : uint8_t { Idle, Collecting, Replaying };

    Driver(std::span<const PairEvent> ev, std::string_view t, NodeStore& s, const QuoteIndex* q,
           const AnnotationDispatch& d, std::vector<ClassifiedEvent>& sink)
        : events(ev), text(t), store(s), quotes(q), dispatch(d), out(sink) {}

    std::span<const PairEvent> events;
    std::string_view text;
    NodeStore& store;
    const QuoteIndex* quotes;
    AnnotationDispatch dispatch;

    size_t cursor = 0;
    bool done = false;
    EventSink out;
    Diagnostics diagnostics;
    std::vector<KaeritenMark> kaeriten;

    // Plain-text run in progress, and the last ｜ fed into it.
    bool run_active = false;
    uint32_t run_start = 0;
    uint32_t last_bar = kNone;

    bool mark_pending = false;
    uint32_t mark_start = 0;

    bool in_quote = false;
    PairKind quote_kind = PairKind::Quote;
    uint32_t quote_depth = 0;

    // Group buffer, shared by collection and re-reading.
    Mode mode = Mode::Idle;
    SmallVector<PairEvent, 16> buf;
    SmallVector<uint32_t, 16> partner;
    SmallVector<StackEntry, 8> stack;
    uint32_t open_count[5] = {};  // stack entries per PairKind: skips searches that cannot succeed
    Mark group_mark;
    uint32_t replay_pos = 0;
    uint32_t replay_end = 0;
    uint32_t ruby_scan = 0;  // first Open Ruby after the last ruby group examined


    // Gaiji nodes whose emission waits: a following ※［＃…］ or 《…》 may
    // still take them in, together with the kanji around them.
    SmallVector<ClassifiedEvent, 2> held;
    uint32_t held_end = 0;
    // The text run just before the held gaiji, and its last ｜ (kNone when
    // it has none): they wait too, since a 《 after the gaiji may take the
    // kanji at its end, or everything after the ｜, into the base. A run
    // active while gaiji are held started at held_end: kanji after the gaiji.
    bool prefix_active = false;
    Span prefix{};
    uint32_t prefix_bar = kNone;

    // Kaeriten marks inside the active run after its ｜ (｜吾欲［＃レ］往《…》):
    // they are part of an explicit ruby base if a 《 follows, else they are
    // emitted in place when the run ends.
    SmallVector<ClassifiedEvent, 2> bar_marks;

    // ---------------------------------------------------------------- driver

    void step() {
        if (mode == Mode::Replaying) {
            if (replay_pos < replay_end) {
                uint32_t i = replay_pos++;
                const PairEvent e = buf[i];
                if (e.tag != PairTag::Unclosed) top_level(e, i);
                return;
            }
            reset_group();
        }
        if (cursor < events.size()) {
            const PairEvent& e = events[cursor++];
            if (mode == Mode::Collecting)
                collect(e);
            else
                top_level(e, kNone);
            return;
        }
        finish();
    }

    void finish() {
        flush_held();
        if (mode == Mode::Collecting) {
            abandon_group();
            return;
        }
        mark_to_text();
        close_run(uint32_t(text.size()));
        done = true;
    }

    // ------------------------------------------------------------ text runs

    void start_run(uint32_t at) {
        if (run_active) return;
        run_active = true;
        run_start = at;
    }

    // Queues the run up to `at` (when non-empty) and ends it.
    void close_run(uint32_t at) {
        settle_marks();
        if (run_active && at > run_start) out.push(ClassifiedEvent::text_run(Span{run_start, at}));
        run_active = false;
    }

    // The kaeriten kept inside the run become nodes in place; the run goes
    // on after the last of them, without its ｜ as a base marker.
    void settle_marks() {
        if (bar_marks.empty()) return;
        uint32_t at = run_start;
        for (const ClassifiedEvent& m : bar_marks) {
            if (m.span.start > at) out.push(ClassifiedEvent::text_run(Span{at, m.span.start}));
            out.push(m);
            at = m.span.end;
        }
        bar_marks.clear();
        run_start = at;
    }

    bool bar_in_run() const { return run_active && last_bar != kNone && last_bar >= run_start; }

    void mark_to_text() {
        if (!mark_pending) return;
        mark_pending = false;
        start_run(mark_start);
    }

    void flush_held() {
        if (held.empty()) return;
        if (prefix_active && prefix.end > prefix.start) out.push(ClassifiedEvent::text_run(prefix));
        prefix_active = false;
        prefix_bar = kNone;
        for (const ClassifiedEvent& e : held) out.push(e);
        held.clear();
    }

    // ---------------------------------------------------- events outside groups

    // `index` is the event's buffer index while re-reading, kNone otherwise.
    void top_level(const PairEvent& e, uint32_t index) {
        if (!held.empty()) {
            const bool tail = run_active && run_start == held_end;  // text right after the gaiji
            const bool keep =
                (!tail && e.start == held_end &&
                 (is_trigger(e, TriggerKind::RefMark) || is_open(e, PairKind::Ruby) || e.tag == PairTag::Text)) ||
                (tail && is_open(e, PairKind::Ruby)) ||
                (is_open(e, PairKind::Bracket) && mark_pending && mark_start == held_end);
            if (!keep) flush_held();
        }
        if (mark_pending && !is_open(e, PairKind::Bracket)) mark_to_text();

        switch (e.tag) {
            case PairTag::Trigger:
                if (e.kind == uint8_t(TriggerKind::RefMark)) {
                    mark_pending = true;
                    mark_start = e.start;
                    return;
                }
                if (e.kind == uint8_t(TriggerKind::Bar)) {
                    settle_marks();
                    start_run(e.start);
                    last_bar = e.start;
                    return;
                }
                start_run(e.start);
                return;
            case PairTag::Text:
            case PairTag::Unmatched: start_run(e.start); return;
            case PairTag::Newline:
                close_run(e.start);
                out.push(ClassifiedEvent::line_feed(e.start));
                return;
            case PairTag::Close:
                start_run(e.start);
                leave_quote_level(e.pair_kind());
                return;
            case PairTag::Unclosed:
                // Its bytes were placed when its opener was read; only the
                // quote depth cares.
                leave_quote_level(e.pair_kind());
                return;
            case PairTag::Open: break;
        }

        const PairKind kind = e.pair_kind();
        if (is_quote_kind(kind)) {
            if (!in_quote) {
                close_run(e.start);
                start_run(e.start);
                in_quote = true;
                quote_kind = kind;
                quote_depth = 1;
            } else {
                if (kind == quote_kind) ++quote_depth;
                start_run(e.start);
            }
            return;
        }
        Mark m;
        if (kind == PairKind::Bracket && mark_pending) {
            m = Mark{true, mark_start};
            mark_pending = false;
        }
        if (index == kNone)
            begin_collect(e, m);
        else
            reread_group(index, m);
    }

    void leave_quote_level(PairKind kind) {
        if (!in_quote || kind != quote_kind) return;
        const uint32_t was = quote_depth;
        if (quote_depth > 0) --quote_depth;
        if (was <= 1) in_quote = false;
    }

    // ------------------------------------------------------ group collection

    void reset_group() {
        mode = Mode::Idle;
        buf.clear();
        partner.clear();
        stack.clear();
        std::fill(std::begin(open_count), std::end(open_count), 0u);
        group_mark = Mark{};
        replay_pos = replay_end = 0;
        ruby_scan = 0;
    }

    uint32_t buffer(const PairEvent& e) {
        buf.push_back(e);
        partner.push_back(kNoPartner);
        return uint32_t(buf.size() - 1);
    }

    void push_open(PairKind kind, uint32_t index) {
        stack.push_back(StackEntry{kind, index});
        if (uint8_t(kind) < 5) ++open_count[uint8_t(kind)];
    }

    // Nearest open entry of `kind`, searching from the top.
    size_t find_open(PairKind kind) const {
        if (uint8_t(kind) >= 5 || open_count[uint8_t(kind)] == 0) return kNotFound;
        for (size_t j = stack.size(); j-- > 0;)
            if (stack[j].kind == kind) return j;
        return kNotFound;
    }

    void remove_open(size_t at) {
        if (uint8_t(stack[at].kind) < 5) --open_count[uint8_t(stack[at].kind)];
        if (at + 1 == stack.size())
            stack.pop_back();
        else
            stack.erase_at(at);
    }

    void begin_collect(const PairEvent& e, Mark m) {
        reset_group();
        mode = Mode::Collecting;
        group_mark = m;
        push_open(e.pair_kind(), buffer(e));
    }

    void collect(const PairEvent& e) {
        const uint32_t i = buffer(e);
        switch (e.tag) {
            case PairTag::Open: push_open(e.pair_kind(), i); return;
            case PairTag::Close: {
                const size_t at = find_open(e.pair_kind());
                if (at == kNotFound) return;
                const StackEntry entry = stack[at];
                remove_open(at);
                partner[entry.index] = i;
                partner[i] = entry.index;
                if (stack.empty()) complete_group(i);
                return;
            }
            case PairTag::Unclosed: {
                const size_t at = find_open(e.pair_kind());
                if (at != kNotFound && stack[at].index == 0) {
                    buf.pop_back();
                    partner.pop_back();
                    abandon_group();
                    return;
                }
                if (at != kNotFound) remove_open(at);
                return;
            }
            default: return;
        }
    }

    void complete_group(uint32_t closer) {
        Mark m = group_mark;
        if (classify_group(0, closer, m)) {
            reset_group();
            return;
        }
        to_text(0, m);
        start_replay();
    }

    // The group's own opener will never be closed: it is text, and what it
    // swallowed is read again.
    void abandon_group() {
        Mark m = group_mark;
        to_text(0, m);
        start_replay();
    }

    void start_replay() {
        mode = Mode::Replaying;
        replay_pos = 1;
        replay_end = uint32_t(buf.size());
    }

    // A group nested in the buffer being re-read.
    void reread_group(uint32_t i, Mark m) {
        const uint32_t p = partner[i];
        if (p == kNoPartner || p <= i || p >= buf.size()) {
            // An opener that never closes is text; what follows it is read
            // by its own bracket pairs.
            to_text(i, m);
            return;
        }
        if (classify_group(i, p, m))
            replay_pos = p + 1;
        else
            to_text(i, m);
    }

    // An unclassified group's opener (and a ※ carried into it) become text;
    // the caller re-reads the rest.
    void to_text(uint32_t i, Mark& m) {
        flush_held();
        if (m.present) start_run(m.start);
        m.present = false;
        start_run(buf[i].start);
    }

    // -------------------------------------------------------- classification

    GroupContext context() {
        return GroupContext{std::span<const PairEvent>(buf.data(), buf.size()),
                            std::span<const uint32_t>(partner.data(), partner.size()), text, store, quotes,
                            &dispatch};
    }

    bool classify_group(uint32_t i, uint32_t p, Mark& m) {
        switch (buf[i].pair_kind()) {
            case PairKind::Bracket: return classify_bracket(i, p, m);
            case PairKind::Ruby: return classify_ruby(i, p);
            case PairKind::AngleQuote: return classify_angle(i, p);
            default: return false;
        }
    }

    bool classify_bracket(uint32_t i, uint32_t p, Mark& m) {
        GroupContext g = context();
        if (m.present) {
            std::optional<GaijiMatch> gaiji = match_gaiji(g, i, m.start, false);
            if (gaiji && gaiji->closer == p) {
                hold_gaiji(*gaiji);
                m.present = false;
                return true;
            }
            // Not a reference: the ※ is text before an ordinary annotation.
            flush_held();
            start_run(m.start);
            m.present = false;
        }
        flush_held();
        AnnotationInput in{g.events, g.partners, i, p, text, store, quotes,
                           run_active ? std::optional<uint32_t>(run_start) : std::nullopt, out.recent(),
                           out.previous_line()};
        std::optional<AnnotationResult> r = g.classify(in);
        if (!r) return false;
        if (r->outcome == AnnotationOutcome::Node && r->node.tag == NodeTag::Kaeriten && bar_in_run() && !r->placed) {
            // Possibly inside an explicit ruby base: the run goes on over it.
            if (r->diagnostic) diagnostics.push_back(std::move(*r->diagnostic));
            if (r->kaeriten) kaeriten.push_back(*r->kaeriten);
            bar_marks.push_back(ClassifiedEvent::of_node(r->node, Span{buf[i].start, buf[p].end}));
            return true;
        }
        if (!bar_marks.empty()) {
            // The kept kaeriten become nodes; a forward reference then looks
            // for its target in the text after them.
            settle_marks();
            in.run_start = run_start;
            // Settling queued events: the windows may have moved.
            in.recent = out.recent();
            in.previous_line = out.previous_line();
            r = g.classify(in);
            if (!r) return false;
        }
        apply_annotation(*r, buf[i].start, buf[p].end);
        return true;
    }

    void hold_gaiji(const GaijiMatch& gaiji) {
        if (!gaiji.resolved) diagnostics.push_back(Diagnostic::simple(DiagTag::UnresolvedGaiji, gaiji.span));
        const bool continues = !held.empty() && gaiji.span.start == held_end && !run_active;
        if (!continues) {
            flush_held();
            settle_marks();
            if (run_active && gaiji.span.start > run_start) {
                prefix_active = true;
                prefix = Span{run_start, gaiji.span.start};
                prefix_bar = bar_in_run() ? last_bar : kNone;
            }
            run_active = false;
        }
        held.push_back(ClassifiedEvent::of_node(Node::make_gaiji(gaiji.item), gaiji.span));
        held_end = gaiji.span.end;
    }

    void apply_annotation(AnnotationResult& r, uint32_t open_start, uint32_t close_end) {
        if (r.diagnostic) diagnostics.push_back(std::move(*r.diagnostic));
        // Keep the stream gap-free and in order whatever span came back. A
        // forward reference may cover events already emitted on this line.
        uint32_t floor = run_active ? run_start : open_start;
        if (r.reaches_back && !out.recent().empty()) floor = std::min(floor, out.recent().front().span.start);
        const Span span{std::max(floor, std::min(r.span.start, open_start)), close_end};
        std::optional<ClassifiedEvent> behind;
        if (r.placed) {
            const Span target = r.placed->span;
            const uint32_t line_floor = out.recent().empty() ? floor : std::min(floor, out.recent().front().span.start);
            const bool fits = target.start < target.end && target.end <= span.start;
            if (fits && run_active && target.start >= run_start) {
                close_run(target.start);
                out.push(ClassifiedEvent::of_node(r.placed->node, target));
                start_run(target.end);
            } else if (fits && target.start >= line_floor) {
                behind = ClassifiedEvent::of_node(r.placed->node, target);
                behind->out_of_place = true;
            }
        }
        close_run(span.start);
        if (behind) out.push(*behind);
        switch (r.outcome) {
            case AnnotationOutcome::Node: out.push(ClassifiedEvent::of_node(r.node, span)); break;
            case AnnotationOutcome::ContainerOpen: out.push(ClassifiedEvent::open(r.spec, span)); break;
            case AnnotationOutcome::ContainerClose: out.push(ClassifiedEvent::close(r.spec, span)); break;
        }
        if (r.kaeriten) kaeriten.push_back(*r.kaeriten);
    }

    // Index of the first Open Ruby after `i` in the buffer. Groups are
    // examined in buffer order, so the scan only ever moves forward.
    uint32_t first_ruby_open_after(uint32_t i) {
        if (ruby_scan <= i) ruby_scan = i + 1;
        while (ruby_scan < buf.size() && !is_open(buf[ruby_scan], PairKind::Ruby)) ++ruby_scan;
        return ruby_scan;
    }

    Segment group_content(uint32_t i, uint32_t p) {
        return parse_content(context(), i + 1, p, Span{buf[i].end, buf[p].start}, diagnostics);
    }

    void queue_ruby(Segment base, Segment reading, Span span) {
        invariant(!(base.tag == SegmentTag::Run && base.b == 0), "classify stage must emit Ruby with non-empty base");
        invariant(!(reading.tag == SegmentTag::Run && reading.b == 0),
                  "classify stage must emit Ruby with non-empty reading");
        out.push(ClassifiedEvent::of_node(Node::make_ruby(store.make_ruby(base, reading)), span));
    }

    bool classify_ruby(uint32_t i, uint32_t p) {
        const PairEvent open = buf[i];
        const PairEvent close = buf[p];
        const uint32_t inner = first_ruby_open_after(i);
        if (inner < p) diagnostics.push_back(Diagnostic::simple(DiagTag::NestedRuby, buf[inner].span()));
        const bool empty_reading = close.start <= open.end;

        if (!held.empty() && ruby_over_held(i, p, empty_reading)) return true;
        flush_held();
        if (!run_active) return false;

        // Explicit base after the run's last ｜, else the same-class run of
        // characters before the 《.
        const bool has_bar = last_bar != kNone && last_bar >= run_start && last_bar + kBarBytes <= open.start;
        const uint32_t base_start =
            has_bar ? last_bar + kBarBytes : implicit_ruby_base_start(text, run_start, open.start);
        if (base_start >= open.start) return false;
        if (empty_reading) {
            if (has_bar) diagnostics.push_back(Diagnostic::simple(DiagTag::EmptyRubyReading, Span{last_bar, close.end}));
            return false;
        }
        const uint32_t node_start = has_bar ? last_bar : base_start;
        // Kaeriten kept in the run lie inside an explicit base.
        const Segment base = base_segment(Span{base_start, open.start});
        close_run(node_start);
        queue_ruby(base, group_content(i, p), Span{node_start, close.end});
        return true;
    }

    // A ruby whose 《 follows held gaiji (or kanji right after them): the
    // base is the gaiji with the kanji next to them, or everything after a
    // ｜ before them. False when the held gaiji are not the base.
    bool ruby_over_held(uint32_t i, uint32_t p, bool empty_reading) {
        const PairEvent open = buf[i];
        const PairEvent close = buf[p];
        const bool tail = run_active && run_start == held_end;
        if (!tail && (run_active || open.start != held_end)) return false;
        if (tail && prefix_bar == kNone && !is_kanji_word(text, run_start, open.start)) return false;
        if (empty_reading) return false;

        uint32_t node_start = held[0].span.start;
        uint32_t base_start = node_start;
        if (prefix_active) {
            if (prefix_bar != kNone) {
                node_start = prefix_bar;
                base_start = prefix_bar + kBarBytes;
            } else {
                node_start = base_start = kanji_run_start(text, prefix.start, prefix.end);
            }
            if (node_start > prefix.start) out.push(ClassifiedEvent::text_run(Span{prefix.start, node_start}));
        }
        SmallVector<ContentItem, 4> items;
        if (prefix_active && base_start < prefix.end)
            items.push_back(ContentItem::make_text(store.intern(slice(text, Span{base_start, prefix.end}))));
        for (const ClassifiedEvent& h : held) items.push_back(ContentItem::make_gaiji(h.node.gaiji));
        if (tail) items.push_back(ContentItem::make_text(store.intern(slice(text, Span{run_start, open.start}))));
        const Segment base = store.segment_from_items(std::span<const ContentItem>(items.data(), items.size()));
        prefix_active = false;
        prefix_bar = kNone;
        held.clear();
        run_active = false;
        queue_ruby(base, group_content(i, p), Span{node_start, close.end});
        return true;
    }

    // Base text; the kaeriten kept inside it stay marks, as content items.
    Segment base_segment(Span s) {
        if (bar_marks.empty()) return store.text_segment(slice(text, s));
        SmallVector<ContentItem, 4> items;
        uint32_t at = s.start;
        for (const ClassifiedEvent& m : bar_marks) {
            if (m.span.start < at || m.span.end > s.end) continue;
            if (m.span.start > at) items.push_back(ContentItem::make_text(store.intern(slice(text, Span{at, m.span.start}))));
            items.push_back(ContentItem::make_directive(store.intern(slice(text, m.span)), RemarkKind::KaeritenInBase));
            at = m.span.end;
        }
        if (at < s.end) items.push_back(ContentItem::make_text(store.intern(slice(text, Span{at, s.end}))));
        bar_marks.clear();
        return store.segment_from_items(std::span<const ContentItem>(items.data(), items.size()));
    }

    bool classify_angle(uint32_t i, uint32_t p) {
        flush_held();
        const PairEvent open = buf[i];
        const PairEvent close = buf[p];
        if (close.start <= open.end) return false;
        const Segment content = group_content(i, p);
        close_run(open.start);
        out.push(ClassifiedEvent::of_node(Node::make_angle(store.content_from_segment(content)),
                                          Span{open.start, close.end}));
        return true;
    }
};

}  // namespace

ClassifiedStream classify(std::span<const PairEvent> events, std::string_view text, NodeStore& store,
                          const QuoteIndex* quotes, const AnnotationDispatch& dispatch) {
    ClassifiedStream result;
    Driver driver(events, text, store, quotes, dispatch, result.events);
    while (!driver.done) driver.step();
    result.diagnostics = std::move(driver.diagnostics);
    result.kaeriten = std::move(driver.kaeriten);
    return result;
}

}  // namespace kogane
