#include "pipeline/lexer/classify/classifier.hpp"

#include <algorithm>

#include "collections/growth.hpp"
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
    // The pool's nodes and the store's segments grow with the events, by
    // the same prediction.
    EventSink(EventList& events, size_t text_size, EventPool& pool, NodeStore& store)
        : events_(events), text_size_(text_size), pool_(pool), store_(store) {}

    void push(const ClassifiedEvent& e) {
        // How far the text has been read: an out-of-place event stands back.
        read_ = std::max(read_, e.span.end);
        if (events_.size() == events_.capacity()) [[unlikely]]
            grow();
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

    // Doubling would copy each of them when nearly whole, a long book's
    // tens of megabytes, into memory that is fresh every time. The nodes
    // and segments follow only a prediction made from enough text: a short
    // document keeps what it uses.
    void grow() {
        events_.reserve(predicted_capacity(events_.size(), read_, text_size_));
        if (read_ < kMinPredictionInput || read_ >= text_size_) return;
        pool_.reserve_nodes(predicted_capacity(pool_.node_count(), read_, text_size_));
        store_.reserve_segments(predicted_capacity(store_.segment_count(), read_, text_size_));
    }

    EventList& events_;
    size_t text_size_;
    EventPool& pool_;
    NodeStore& store_;
    uint32_t read_ = 0;
    std::vector<ClassifiedEvent> recent_;
    std::vector<ClassifiedEvent> previous_line_;
};


// A ※ carried into a bracket group: it may introduce a gaiji reference.
struct Mark {
    bool present = false;
    uint32_t start = 0;
};

// The plain-text run in progress, its last ｜, and the kaeriten marks met
// in it after that ｜ (｜吾欲［＃レ］往《…》): they are part of an explicit
// ruby base if a 《 follows, else they are emitted in place when the run ends.
struct TextRun {
    bool active = false;
    uint32_t start = 0;
    uint32_t last_bar = kNone;
    SmallVector<ClassifiedEvent, 2> bar_marks;

    void begin(uint32_t at) {
        if (active) return;
        active = true;
        start = at;
    }

    bool has_bar() const { return active && last_bar != kNone && last_bar >= start; }

    void bar(uint32_t at, EventSink& out) {
        settle_marks(out);
        begin(at);
        last_bar = at;
    }

    // Queues the run up to `at` (when non-empty) and ends it.
    void close(uint32_t at, EventSink& out) {
        settle_marks(out);
        if (active && at > start) out.push(ClassifiedEvent::text_run(Span{start, at}));
        active = false;
    }

    // The kept kaeriten become nodes in place; the run goes on after the
    // last of them, without its ｜ as a base marker.
    void settle_marks(EventSink& out) {
        if (bar_marks.empty()) return;
        uint32_t at = start;
        for (const ClassifiedEvent& m : bar_marks) {
            if (m.span.start > at) out.push(ClassifiedEvent::text_run(Span{at, m.span.start}));
            out.push(m);
            at = m.span.end;
        }
        bar_marks.clear();
        start = at;
    }

    // The text of `s` as a ruby base; the kept kaeriten inside it stay
    // marks, as content items.
    Segment base_segment(Span s, std::string_view text, NodeStore& store) {
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
};

// A ※ read at top level whose meaning waits for the next event: before a
// ［ it may start a gaiji reference, before anything else it is text.
struct PendingMark {
    bool pending = false;
    uint32_t start = 0;

    void set(uint32_t at) {
        pending = true;
        start = at;
    }
    // The mark carried into a bracket group, which it then belongs to.
    Mark take() {
        if (!pending) return Mark{};
        pending = false;
        return Mark{true, start};
    }
};

// Depth of the 「…」 or 〔…〕 quotation the text is in. A quotation opened
// outside any other starts a run of its own.
struct QuoteDepth {
    bool inside = false;
    PairKind kind = PairKind::Quote;
    uint32_t depth = 0;

    // True when `k` opens the outermost quotation.
    bool enter(PairKind k) {
        if (!inside) {
            inside = true;
            kind = k;
            depth = 1;
            return true;
        }
        if (k == kind) ++depth;
        return false;
    }

    void leave(PairKind k) {
        if (!inside || k != kind) return;
        const uint32_t was = depth;
        if (depth > 0) --depth;
        if (was <= 1) inside = false;
    }
};

// Gaiji nodes whose emission waits: a following ※［＃…］ or 《…》 may still
// take them in, together with the kanji around them. The text run just
// before them, and its last ｜ (kNone when it has none), wait too, since a
// 《 after the gaiji may take the kanji at its end, or everything after the
// ｜, into the base. A run active while gaiji are held started at `end`:
// kanji after the gaiji.
struct HeldGaiji {
    SmallVector<ClassifiedEvent, 2> nodes;
    uint32_t end = 0;
    bool prefix_active = false;
    Span prefix{};
    uint32_t prefix_bar = kNone;

    bool empty() const { return nodes.empty(); }

    void clear_prefix() {
        prefix_active = false;
        prefix_bar = kNone;
    }

    // The run before them, then the gaiji, in order.
    void flush(EventSink& out) {
        if (nodes.empty()) return;
        if (prefix_active && prefix.end > prefix.start) out.push(ClassifiedEvent::text_run(prefix));
        clear_prefix();
        for (const ClassifiedEvent& e : nodes) out.push(e);
        nodes.clear();
    }
};

enum class Collected : uint8_t { More, Complete, Abandoned };

// The group machinery works on one buffer. While a group is collected from
// the input, its events and partner table fill the buffer. The events of a
// group are a contiguous run of the input's, so the buffer is a window onto
// them rather than a copy: a line of unclosed brackets is collected whole.
// When it ends unclassified, the same buffer is re-read from a cursor, and
// every bracket group nested in it is classified in place as the range
// [opener, partner] — its events are already buffered and paired, so
// nothing is buffered twice however deep the nesting.
struct GroupBuffer {
    enum class Mode : uint8_t { Idle, Collecting, Replaying };

    explicit GroupBuffer(const PairStream& input) : input_(input) {}

    Mode mode = Mode::Idle;
    // The collected events: input_[base_, base_ + count_).
    std::span<const PairEvent> buf() const { return input_.window(base_, count_); }
    const PairEvent& at(uint32_t i) const { return input_[base_ + i]; }
    uint32_t size() const { return count_; }
    // The oldest input event the group still needs.
    size_t base() const { return base_; }
    SmallVector<uint32_t, 16> partner;
    SmallVector<uint32_t, 8> stack;  // buffer indices of the open entries; their kind is the event's
    uint32_t open_count[5] = {};  // stack entries per PairKind: skips searches that cannot succeed
    Mark mark;                    // the ※ before the group's opener
    uint32_t replay_pos = 0;
    uint32_t replay_end = 0;
    uint32_t ruby_scan = 0;  // first Open Ruby after the last ruby group examined

    void reset() {
        mode = Mode::Idle;
        count_ = 0;
        partner.clear();
        stack.clear();
        std::fill(std::begin(open_count), std::end(open_count), 0u);
        mark = Mark{};
        replay_pos = replay_end = 0;
        ruby_scan = 0;
    }

    // The group opens at input event `index`.
    void begin(size_t index, Mark m) {
        reset();
        base_ = index;
        mode = Mode::Collecting;
        mark = m;
        push_open(input_[index].pair_kind(), buffer(index));
    }

    // Adds input event `index` to the group being collected. Complete: the
    // opener's partner is the last event. Abandoned: the opener will never
    // close, and the buffer holds what it swallowed.
    Collected collect(size_t index) {
        const uint32_t i = buffer(index);
        const PairEvent& e = input_[index];
        switch (e.tag) {
            case PairTag::Open: push_open(e.pair_kind(), i); return Collected::More;
            case PairTag::Close: return close(e.pair_kind(), i);
            case PairTag::Unclosed: return unclosed(e.pair_kind());
            default: return Collected::More;
        }
    }

    void start_replay() {
        // Re-reading needs only the partner table. A group left open by a
        // flood of openers holds a large stack: release it for the replay.
        if (stack.spilled()) stack = {};
        mode = Mode::Replaying;
        replay_pos = 1;
        replay_end = count_;
    }

    // Index of the first Open Ruby after `i` in the buffer. Groups are
    // examined in buffer order, so the scan only ever moves forward.
    uint32_t first_ruby_open_after(uint32_t i) {
        if (ruby_scan <= i) ruby_scan = i + 1;
        while (ruby_scan < count_ && !is_open(at(ruby_scan), PairKind::Ruby)) ++ruby_scan;
        return ruby_scan;
    }

private:
    const PairStream& input_;
    size_t base_ = 0;
    uint32_t count_ = 0;

    uint32_t buffer(size_t index) {
        invariant(index == base_ + count_, "a bracket group collects consecutive input events");
        // Sized with the input's own room, so that a long group's table
        // grows when the input does rather than by doubling on its own.
        if (partner.size() == partner.capacity()) partner.reserve(std::max(2 * partner.size(), input_.room_from(base_)));
        partner.push_back(kNoPartner);
        return count_++;
    }

    Collected close(PairKind kind, uint32_t i) {
        const size_t at = find_open(kind);
        if (at == kNotFound) return Collected::More;
        const uint32_t opener = stack[at];
        remove_open(at);
        partner[opener] = i;
        partner[i] = opener;
        return stack.empty() ? Collected::Complete : Collected::More;
    }

    Collected unclosed(PairKind kind) {
        const size_t at = find_open(kind);
        if (at != kNotFound && stack[at] == 0) {
            --count_;
            partner.pop_back();
            return Collected::Abandoned;
        }
        if (at != kNotFound) remove_open(at);
        return Collected::More;
    }

    void push_open(PairKind kind, uint32_t index) {
        stack.push_back(index);
        if (uint8_t(kind) < 5) ++open_count[uint8_t(kind)];
    }

    // Nearest open entry of `kind`, searching from the top.
    size_t find_open(PairKind kind) const {
        if (uint8_t(kind) >= 5 || open_count[uint8_t(kind)] == 0) return kNotFound;
        for (size_t j = stack.size(); j-- > 0;)
            if (at(stack[j]).pair_kind() == kind) return j;
        return kNotFound;
    }

    void remove_open(size_t entry) {
        const PairKind kind = at(stack[entry]).pair_kind();
        if (uint8_t(kind) < 5) --open_count[uint8_t(kind)];
        if (entry + 1 == stack.size())
            stack.pop_back();
        else
            stack.erase_at(entry);
    }
};

// Reads the pair events in order and drives the sub-machines above.
struct Driver {
    Driver(PairStream& ev, std::string_view t, NodeStore& s, Diagnostics& diags, const QuoteIndex* q,
           const AnnotationDispatch& d, ClassifiedStream& sink, uint32_t long_group)
        : events(ev), text(t), store(s), quotes(q), dispatch(d), out(sink.events, t.size(), sink.pool, s), pool(sink.pool),
          diagnostics(diags), group(ev), long_group_events(long_group) {}

    PairStream& events;
    std::string_view text;
    NodeStore& store;
    const QuoteIndex* quotes;
    AnnotationDispatch dispatch;

    size_t cursor = 0;
    bool done = false;
    EventSink out;
    EventPool& pool;
    Diagnostics& diagnostics;
    std::vector<KaeritenMark> kaeriten;

    TextRun run;
    PendingMark mark;
    QuoteDepth quote;
    GroupBuffer group;
    HeldGaiji held;

    // A group that has swallowed this many events asks, once per parse,
    // which openers stay open to the end of the text (`open_at_end`, in
    // text order). Such an opener's group can only be given up at the end
    // and re-read, so it is given up at once instead: the rest of the text
    // is then read as it comes rather than held.
    uint32_t long_group_events;
    bool looked_ahead = false;
    std::vector<uint32_t> open_at_end;

    // Ruby openers made text as they were read (nothing before them could
    // be a base), innermost last, while they may still close; the last
    // `text_rubies_awaiting_inner` have met no 《 after them yet.
    struct TextRuby {
        std::optional<Span> inner;
    };
    std::vector<TextRuby> text_rubies;
    size_t text_rubies_awaiting_inner = 0;

    // Whether groups bound to be re-read are given up as soon as that is
    // known (always but in tests, which compare with holding them).
    bool gives_up_early() const { return long_group_events != kKeepEveryGroup; }

    bool stays_open(uint32_t opener_start) const {
        return looked_ahead && std::binary_search(open_at_end.begin(), open_at_end.end(), opener_start);
    }

    // ---------------------------------------------------------------- driver

    void step() {
        if (group.mode == GroupBuffer::Mode::Replaying) {
            if (group.replay_pos < group.replay_end) {
                const uint32_t i = group.replay_pos++;
                const PairEvent e = group.at(i);
                if (e.tag != PairTag::Unclosed) top_level(e, i);
                return;
            }
            group.reset();
        }
        // Only a group being collected needs input events behind the cursor.
        const size_t keep_from = group.mode == GroupBuffer::Mode::Collecting ? group.base() : cursor;
        if (events.fetch(cursor, keep_from)) {
            const size_t index = cursor++;
            const PairEvent& e = events[index];
            if (text_rubies_awaiting_inner > 0 && is_open(e, PairKind::Ruby)) note_inner_ruby(e.span());
            if (group.mode == GroupBuffer::Mode::Collecting)
                collect(index);
            else if (e.tag == PairTag::Unclosed)
                given_up(e);
            else
                top_level(e, kNone, index);
            return;
        }
        finish();
    }

    void finish() {
        // The input ended inside a group: its opener never closed. Re-read
        // the group first, as if the opener had been given up here.
        if (group.mode == GroupBuffer::Mode::Collecting) {
            abandon_group();
            return;
        }
        held.flush(out);
        mark_to_text();
        run.close(uint32_t(text.size()), out);
        done = true;
    }

    void mark_to_text() {
        if (!mark.pending) return;
        mark.pending = false;
        run.begin(mark.start);
    }

    // ---------------------------------------------------- events outside groups

    // Whether held gaiji may still be taken in by what `e` starts: a ※ or
    // text right after them, a 《 after them or after the kanji that follow.
    bool holds_on(const PairEvent& e) const {
        const bool tail = run.active && run.start == held.end;  // text right after the gaiji
        if (!tail && e.start == held.end &&
            (is_trigger(e, TriggerKind::RefMark) || is_open(e, PairKind::Ruby) || e.tag == PairTag::Text))
            return true;
        if (tail && is_open(e, PairKind::Ruby)) return true;
        return is_open(e, PairKind::Bracket) && mark.pending && mark.start == held.end;
    }

    // `index` is the event's buffer index while re-reading, kNone otherwise;
    // `input` is its number in the input otherwise.
    void top_level(const PairEvent& e, uint32_t index, size_t input = 0) {
        if (!held.empty() && !holds_on(e)) held.flush(out);
        if (mark.pending && !is_open(e, PairKind::Bracket)) mark_to_text();

        switch (e.tag) {
            case PairTag::Trigger: on_trigger(e); return;
            case PairTag::Text:
            case PairTag::Unmatched: run.begin(e.start); return;
            case PairTag::Newline: on_newline(e); return;
            case PairTag::Close:
                if (index == kNone && e.pair_kind() == PairKind::Ruby) end_text_ruby(true);
                on_close(e);
                return;
            case PairTag::Unclosed: return;  // never read here: see given_up
            case PairTag::Open: on_open(e, index, input); return;
        }
    }

    void on_trigger(const PairEvent& e) {
        if (e.kind == uint8_t(TriggerKind::RefMark))
            mark.set(e.start);
        else if (e.kind == uint8_t(TriggerKind::Bar))
            run.bar(e.start, out);
        else
            run.begin(e.start);
    }

    void on_newline(const PairEvent& e) {
        run.close(e.start, out);
        out.push(ClassifiedEvent::line_feed(e.start));
    }

    void on_close(const PairEvent& e) {
        run.begin(e.start);
        quote.leave(e.pair_kind());
    }

    void on_open(const PairEvent& e, uint32_t index, size_t input) {
        const PairKind kind = e.pair_kind();
        if (is_quote_kind(kind)) {
            if (quote.enter(kind)) run.close(e.start, out);
            run.begin(e.start);
            return;
        }
        Mark m = kind == PairKind::Bracket ? mark.take() : Mark{};
        if (index != kNone) {
            reread_group(index, m);
            return;
        }
        if (stays_open(e.start)) {
            opener_to_text(e.start, m);
            return;
        }
        // The run cannot change while the group is collected: its base is
        // known now (unless held gaiji may be the base).
        opener_base = OpenerBase{};
        if (kind == PairKind::Ruby && held.empty()) {
            opener_base = OpenerBase{true, run_ruby_base(e.start)};
            if (!opener_base.base && gives_up_early()) {
                // Nothing before it can be a base, so its group would only
                // be re-read: the 《 is text now, and what follows is read
                // as it comes.
                opener_to_text(e.start, m);
                text_rubies.push_back(TextRuby{});
                ++text_rubies_awaiting_inner;
                return;
            }
        }
        group.begin(input, m);
    }

    // A 《 read after a ruby opener that was made text: the first one is the
    // ruby its group would have reported as nested in it.
    void note_inner_ruby(Span inner) {
        for (size_t k = text_rubies.size() - text_rubies_awaiting_inner; k < text_rubies.size(); ++k)
            text_rubies[k].inner = inner;
        text_rubies_awaiting_inner = 0;
    }

    // The innermost ruby opener made text closes (`closed`) or is given up.
    void end_text_ruby(bool closed) {
        if (text_rubies.empty()) return;
        const TextRuby r = text_rubies.back();
        text_rubies.pop_back();
        if (!r.inner) --text_rubies_awaiting_inner;
        if (closed && r.inner) diagnostics.push_back(Diagnostic::simple(DiagTag::NestedRuby, *r.inner));
    }

    // An event that gives up an opener. Outside any group it comes from a
    // ］ or a line end reaching past openers that were made text; a group
    // re-read skips them too.
    void given_up(const PairEvent& e) {
        if (e.pair_kind() == PairKind::Ruby) end_text_ruby(false);
    }

    // ------------------------------------------------------ group collection

    void collect(size_t input) {
        switch (group.collect(input)) {
            case Collected::More:
                if (gives_up_early() && group.size() == 2 && group.at(0).pair_kind() == PairKind::Bracket &&
                    !is_trigger(group.at(1), TriggerKind::Hash)) {
                    // Not an annotation (see classify_bracket): its group
                    // would only be re-read.
                    give_up_group();
                    return;
                }
                if (gives_up_early() && group.size() >= long_group_events && !looked_ahead) look_ahead();
                return;
            case Collected::Complete: complete_group(uint32_t(group.size() - 1)); return;
            case Collected::Abandoned: abandon_group(); return;
        }
    }

    void complete_group(uint32_t closer) {
        Mark m = group.mark;
        if (classify_group(0, closer, m)) {
            group.reset();
            return;
        }
        to_text(0, m);
        group.start_replay();
    }

    // The group's own opener will never be closed: it is text, and what it
    // swallowed is read again.
    void abandon_group() {
        Mark m = group.mark;
        to_text(0, m);
        group.start_replay();
    }

    void look_ahead() {
        looked_ahead = true;
        open_at_end = events.open_at_end();
        // Given up now rather than at the end.
        if (stays_open(group.at(0).start)) give_up_group();
    }

    // The group being collected will only be re-read, whether it closes or
    // not: its opener is text, and what it swallowed is read again from the
    // input, where the events are still held. Its nested groups are
    // collected anew there, which classifies them as in place.
    void give_up_group() {
        Mark m = group.mark;
        to_text(0, m);
        cursor = group.base() + 1;
        group.reset();
    }

    // A group nested in the buffer being re-read.
    void reread_group(uint32_t i, Mark m) {
        const uint32_t p = group.partner[i];
        if (p == kNoPartner || p <= i || p >= group.size()) {
            // An opener that never closes is text; what follows it is read
            // by its own bracket pairs.
            to_text(i, m);
            return;
        }
        if (classify_group(i, p, m))
            group.replay_pos = p + 1;
        else
            to_text(i, m);
    }

    // An unclassified group's opener (and a ※ carried into it) become text;
    // the caller re-reads the rest.
    void to_text(uint32_t i, Mark& m) { opener_to_text(group.at(i).start, m); }

    void opener_to_text(uint32_t opener_start, Mark& m) {
        held.flush(out);
        if (m.present) run.begin(m.start);
        m.present = false;
        run.begin(opener_start);
    }

    // -------------------------------------------------------- classification

    GroupContext context() {
        return GroupContext{group.buf(),
                            std::span<const uint32_t>(group.partner.data(), group.partner.size()), text, store,
                            quotes, &dispatch};
    }

    bool classify_group(uint32_t i, uint32_t p, Mark& m) {
        switch (group.at(i).pair_kind()) {
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
            held.flush(out);
            run.begin(m.start);
            m.present = false;
        }
        held.flush(out);
        // A bracket group is an annotation only when ＃ follows its ［.
        if (i + 1 >= p || !is_trigger(group.at(i + 1), TriggerKind::Hash)) return false;
        AnnotationInput in{g.events, g.partners, i, p, text, store, quotes,
                           run.active ? std::optional<uint32_t>(run.start) : std::nullopt, out.recent(),
                           out.previous_line(), &pool};
        std::optional<AnnotationResult> r = g.classify(in);
        if (!r) return false;
        if (r->outcome == AnnotationOutcome::Node && r->node.tag == NodeTag::Kaeriten && run.has_bar() && !r->placed) {
            keep_bar_mark(*r, Span{group.at(i).start, group.at(p).end});
            return true;
        }
        if (!run.bar_marks.empty()) {
            // The kept kaeriten become nodes; a forward reference then looks
            // for its target in the text after them.
            run.settle_marks(out);
            in.run_start = run.start;
            // Settling queued events: the windows may have moved.
            in.recent = out.recent();
            in.previous_line = out.previous_line();
            r = g.classify(in);
            if (!r) return false;
        }
        apply_annotation(*r, group.at(i).start, group.at(p).end);
        return true;
    }

    // A kaeriten possibly inside an explicit ruby base: the run goes on over it.
    void keep_bar_mark(AnnotationResult& r, Span span) {
        if (r.diagnostic) diagnostics.push_back(*r.diagnostic, r.canonical);
        if (r.kaeriten) kaeriten.push_back(*r.kaeriten);
        run.bar_marks.push_back(pool.of_node(r.node, span));
    }

    void hold_gaiji(const GaijiMatch& gaiji) {
        if (!gaiji.resolved) diagnostics.push_back(Diagnostic::simple(DiagTag::UnresolvedGaiji, gaiji.span));
        const bool continues = !held.empty() && gaiji.span.start == held.end && !run.active;
        if (!continues) {
            held.flush(out);
            run.settle_marks(out);
            if (run.active && gaiji.span.start > run.start) {
                held.prefix_active = true;
                held.prefix = Span{run.start, gaiji.span.start};
                held.prefix_bar = run.has_bar() ? run.last_bar : kNone;
            }
            run.active = false;
        }
        held.nodes.push_back(pool.of_node(Node::make_gaiji(gaiji.item), gaiji.span));
        held.end = gaiji.span.end;
    }

    void apply_annotation(AnnotationResult& r, uint32_t open_start, uint32_t close_end) {
        if (r.diagnostic) diagnostics.push_back(*r.diagnostic, r.canonical);
        // Keep the stream gap-free and in order whatever span came back. A
        // forward reference may cover events already emitted on this line.
        uint32_t floor = run.active ? run.start : open_start;
        if (r.reaches_back && !out.recent().empty()) floor = std::min(floor, out.recent().front().span.start);
        const Span span{std::max(floor, std::min(r.span.start, open_start)), close_end};
        std::optional<ClassifiedEvent> behind;
        if (r.placed) behind = place_decoration(*r.placed, span, floor);
        run.close(span.start, out);
        if (behind) out.push(*behind);
        switch (r.outcome) {
            case AnnotationOutcome::Node: out.push(pool.of_node(r.node, span)); break;
            case AnnotationOutcome::ContainerOpen: out.push(pool.open(r.spec, span)); break;
            case AnnotationOutcome::ContainerClose: out.push(pool.close(r.spec, span)); break;
        }
        if (r.kaeriten) kaeriten.push_back(*r.kaeriten);
    }

    // A decoration put on an earlier occurrence of its target: inside the
    // current run it splits the run; further back on the line it follows
    // the events already emitted, marked for the fold to move back (the
    // returned event); anywhere else it is dropped.
    std::optional<ClassifiedEvent> place_decoration(const PlacedFormat& placed, Span span, uint32_t floor) {
        const Span target = placed.span;
        const uint32_t line_floor = out.recent().empty() ? floor : std::min(floor, out.recent().front().span.start);
        const bool fits = target.start < target.end && target.end <= span.start;
        if (fits && run.active && target.start >= run.start) {
            run.close(target.start, out);
            out.push(pool.of_node(placed.node, target));
            run.begin(target.end);
            return std::nullopt;
        }
        if (!fits || target.start < line_floor) return std::nullopt;
        ClassifiedEvent behind = pool.of_node(placed.node, target);
        behind.out_of_place = true;
        return behind;
    }

    Segment group_content(uint32_t i, uint32_t p) {
        return parse_content(context(), i + 1, p, Span{group.at(i).end, group.at(p).start}, diagnostics);
    }

    void queue_ruby(Segment base, Segment reading, Span span) {
        invariant(!(base.tag == SegmentTag::Run && base.b == 0), "classify stage must emit Ruby with non-empty base");
        invariant(!(reading.tag == SegmentTag::Run && reading.b == 0),
                  "classify stage must emit Ruby with non-empty reading");
        out.push(pool.of_node(Node::make_ruby(store.make_ruby(base, reading)), span));
    }

    struct RunBase {
        bool has_bar = false;
        uint32_t start = 0;
    };

    // The base the current run gives a 《 at `open_start`: what follows its
    // last ｜, else the same-class run of characters before the 《. None
    // when the run is empty there.
    std::optional<RunBase> run_ruby_base(uint32_t open_start) const {
        if (!run.active) return std::nullopt;
        RunBase b;
        b.has_bar = run.last_bar != kNone && run.last_bar >= run.start && run.last_bar + kBarBytes <= open_start;
        b.start = b.has_bar ? run.last_bar + kBarBytes : implicit_ruby_base_start(text, run.start, open_start);
        if (b.start >= open_start) return std::nullopt;
        return b;
    }

    // The base the run gave the opener of the group being collected, found
    // as the group began (`known`).
    struct OpenerBase {
        bool known = false;
        std::optional<RunBase> base;
    };
    OpenerBase opener_base;

    bool classify_ruby(uint32_t i, uint32_t p) {
        const PairEvent open = group.at(i);
        const PairEvent close = group.at(p);
        const uint32_t inner = group.first_ruby_open_after(i);
        if (inner < p) diagnostics.push_back(Diagnostic::simple(DiagTag::NestedRuby, group.at(inner).span()));
        const bool empty_reading = close.start <= open.end;

        if (!held.empty() && ruby_over_held(i, p, empty_reading)) return true;
        held.flush(out);
        const std::optional<RunBase> run_base =
            i == 0 && opener_base.known ? opener_base.base : run_ruby_base(open.start);
        if (!run_base) return false;
        const bool has_bar = run_base->has_bar;
        const uint32_t base_start = run_base->start;
        if (empty_reading) {
            if (has_bar) diagnostics.push_back(Diagnostic::simple(DiagTag::EmptyRubyReading, Span{run.last_bar, close.end}));
            return false;
        }
        const uint32_t node_start = has_bar ? run.last_bar : base_start;
        // Kaeriten kept in the run lie inside an explicit base.
        const Segment base = run.base_segment(Span{base_start, open.start}, text, store);
        run.close(node_start, out);
        queue_ruby(base, group_content(i, p), Span{node_start, close.end});
        return true;
    }

    // A ruby whose 《 follows held gaiji (or kanji right after them): the
    // base is the gaiji with the kanji next to them, or everything after a
    // ｜ before them. False when the held gaiji are not the base.
    bool ruby_over_held(uint32_t i, uint32_t p, bool empty_reading) {
        const PairEvent open = group.at(i);
        const PairEvent close = group.at(p);
        const bool tail = run.active && run.start == held.end;
        if (!tail && (run.active || open.start != held.end)) return false;
        if (tail && held.prefix_bar == kNone && !is_kanji_word(text, run.start, open.start)) return false;
        if (empty_reading) return false;

        uint32_t node_start = held.nodes[0].span.start;
        uint32_t base_start = node_start;
        if (held.prefix_active) {
            if (held.prefix_bar != kNone) {
                node_start = held.prefix_bar;
                base_start = held.prefix_bar + kBarBytes;
            } else {
                node_start = base_start = kanji_run_start(text, held.prefix.start, held.prefix.end);
            }
            if (node_start > held.prefix.start) out.push(ClassifiedEvent::text_run(Span{held.prefix.start, node_start}));
        }
        SmallVector<ContentItem, 4> items;
        if (held.prefix_active && base_start < held.prefix.end)
            items.push_back(ContentItem::make_text(store.intern(slice(text, Span{base_start, held.prefix.end}))));
        for (const ClassifiedEvent& h : held.nodes) items.push_back(ContentItem::make_gaiji(pool.node(h).gaiji));
        if (tail) items.push_back(ContentItem::make_text(store.intern(slice(text, Span{run.start, open.start}))));
        const Segment base = store.segment_from_items(std::span<const ContentItem>(items.data(), items.size()));
        held.clear_prefix();
        held.nodes.clear();
        run.active = false;
        queue_ruby(base, group_content(i, p), Span{node_start, close.end});
        return true;
    }

    bool classify_angle(uint32_t i, uint32_t p) {
        held.flush(out);
        const PairEvent open = group.at(i);
        const PairEvent close = group.at(p);
        if (close.start <= open.end) return false;
        const Segment content = group_content(i, p);
        run.close(open.start, out);
        out.push(pool.of_node(Node::make_angle(store.content_from_segment(content)),
                                          Span{open.start, close.end}));
        return true;
    }
};

}  // namespace

ClassifiedStream classify(PairStream& events, std::string_view text, NodeStore& store,
                          Diagnostics& diagnostics, const QuoteIndex* quotes, const AnnotationDispatch& dispatch,
                          uint32_t long_group_events) {
    ClassifiedStream result;
    Driver driver(events, text, store, diagnostics, quotes, dispatch, result, long_group_events);
    while (!driver.done) driver.step();
    result.kaeriten = std::move(driver.kaeriten);
    return result;
}

}  // namespace kogane
