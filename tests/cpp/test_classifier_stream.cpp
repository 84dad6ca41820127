// Whole-stream properties of the classifier over generated inputs, agreement
// with a straightforward re-reading classifier, and very deep nesting.

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pipeline/lexer/classify/content.hpp"
#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/ruby_base.hpp"
#include "test_classifier_support.hpp"

namespace kogane {
namespace {

using classifier_test::Classified;
using classifier_test::check_tiling;
using classifier_test::classify_text;
using classifier_test::show;
using classifier_test::show_diagnostics;

// The classifier as first described: a group that ends unclassified pushes
// its events (without Unclosed ones) back in front of the input, and every
// group is collected afresh. Quadratic on deep nesting, but obviously
// faithful. `diverged` is set when a closer matches an opener other than
// its pair (an opener whose Unclosed was dropped by re-reading): there the
// classifier under test deliberately keeps to the pairs.
class ReReadingClassifier {
public:
    ReReadingClassifier(const PairedStream& p, Classified& c)
        : text_(c.text), store_(c.store), out_(c.events), diags_(c.diagnostics),
          input_(p.events.begin(), p.events.end()) {
        for (const PairLink& l : p.links) opener_of_close_[l.close.start] = l.open.start;
    }

    bool diverged = false;

    void run() {
        for (;;) {
            if (!input_.empty()) {
                const PairEvent e = input_.front();
                input_.pop_front();
                if (group_)
                    collect(e);
                else
                    top(e);
                continue;
            }
            flush_held();
            if (group_) {
                unclassified();
                continue;
            }
            mark_to_text();
            if (run_ && run_start_ < text_.size()) emit(ClassifiedEvent::text_run(Span{run_start_, uint32_t(text_.size())}));
            return;
        }
    }

private:
    struct Entry {
        PairKind kind;
        uint32_t index;
    };

    static bool is(const PairEvent& e, PairTag t, uint8_t k) { return e.tag == t && e.kind == k; }
    static bool is_open(const PairEvent& e, PairKind k) { return is(e, PairTag::Open, uint8_t(k)); }

    void emit(const ClassifiedEvent& e) {
        flush_held();
        out_.push_back(e);
    }
    void flush_held() {
        for (const ClassifiedEvent& e : held_) out_.push_back(e);
        held_.clear();
    }
    void start_run(uint32_t at) {
        if (!run_) run_start_ = at;
        run_ = true;
    }
    void close_run(uint32_t at) {
        if (run_ && at > run_start_) emit(ClassifiedEvent::text_run(Span{run_start_, at}));
        run_ = false;
    }
    void mark_to_text() {
        if (mark_) start_run(mark_at_);
        mark_ = false;
    }
    void quote_level(PairKind k) {
        if (!in_quote_ || k != quote_kind_) return;
        const uint32_t was = depth_;
        if (depth_ > 0) --depth_;
        if (was <= 1) in_quote_ = false;
    }

    void top(const PairEvent& e) {
        if (!held_.empty()) {
            const bool keep = (e.start == held_end_ && (is(e, PairTag::Trigger, uint8_t(TriggerKind::RefMark)) ||
                                                        is_open(e, PairKind::Ruby))) ||
                              (is_open(e, PairKind::Bracket) && mark_ && mark_at_ == held_end_);
            if (!keep) flush_held();
        }
        if (mark_ && !is_open(e, PairKind::Bracket)) mark_to_text();
        switch (e.tag) {
            case PairTag::Trigger:
                if (e.kind == uint8_t(TriggerKind::RefMark)) {
                    mark_ = true;
                    mark_at_ = e.start;
                } else {
                    start_run(e.start);
                }
                return;
            case PairTag::Text:
            case PairTag::Unmatched: start_run(e.start); return;
            case PairTag::Newline:
                close_run(e.start);
                emit(ClassifiedEvent::line_feed(e.start));
                return;
            case PairTag::Close:
                start_run(e.start);
                quote_level(e.pair_kind());
                return;
            case PairTag::Unclosed: quote_level(e.pair_kind()); return;
            case PairTag::Open: break;
        }
        const PairKind k = e.pair_kind();
        if (k == PairKind::Tortoise || k == PairKind::Quote) {
            if (!in_quote_) {
                close_run(e.start);
                start_run(e.start);
                in_quote_ = true;
                quote_kind_ = k;
                depth_ = 1;
            } else {
                if (k == quote_kind_) ++depth_;
                start_run(e.start);
            }
            return;
        }
        group_ = true;
        buf_.assign(1, e);
        partners_.assign(1, kNoPartner);
        stack_.assign(1, Entry{k, 0});
        group_mark_ = k == PairKind::Bracket && mark_;
        group_mark_at_ = mark_at_;
        if (k == PairKind::Bracket) mark_ = false;
    }

    int nearest(PairKind k) const {
        for (int j = int(stack_.size()) - 1; j >= 0; --j)
            if (stack_[j].kind == k) return j;
        return -1;
    }

    void collect(const PairEvent& e) {
        const uint32_t i = uint32_t(buf_.size());
        buf_.push_back(e);
        partners_.push_back(kNoPartner);
        if (e.tag == PairTag::Open) stack_.push_back(Entry{e.pair_kind(), i});
        if (e.tag == PairTag::Close) {
            const int j = nearest(e.pair_kind());
            if (j < 0) return;
            const uint32_t o = stack_[j].index;
            if (buf_[o].start != opener_of_close_[e.start]) diverged = true;
            partners_[o] = i;
            partners_[i] = o;
            stack_.erase(stack_.begin() + j);
            if (stack_.empty()) {
                group_ = false;
                if (!classify(i)) unclassified();
            }
        }
        if (e.tag == PairTag::Unclosed) {
            const int j = nearest(e.pair_kind());
            if (j >= 0 && stack_[j].index == 0) {
                buf_.pop_back();
                unclassified();
            } else if (j >= 0) {
                stack_.erase(stack_.begin() + j);
            }
        }
    }

    void unclassified() {
        group_ = false;
        if (group_mark_) start_run(group_mark_at_);
        group_mark_ = false;
        start_run(buf_[0].start);
        for (size_t k = buf_.size(); k-- > 1;)
            if (buf_[k].tag != PairTag::Unclosed) input_.push_front(buf_[k]);
    }

    GroupContext context() { return GroupContext{buf_, partners_, text_, store_, nullptr}; }

    bool classify(uint32_t last) {
        const PairEvent open = buf_[0];
        const PairEvent close = buf_[last];
        switch (open.pair_kind()) {
            case PairKind::Bracket: {
                if (group_mark_) {
                    std::optional<GaijiMatch> g = match_gaiji(context(), 0, group_mark_at_, false);
                    if (g && g->closer == last) {
                        if (!g->resolved) diags_.push_back(Diagnostic::simple(DiagTag::UnresolvedGaiji, g->span));
                        if (held_.empty() || g->span.start != held_end_) flush_held();
                        if (run_) close_run(g->span.start);
                        held_.push_back(ClassifiedEvent::of_node(Node::make_gaiji(g->item), g->span));
                        held_end_ = g->span.end;
                        return true;
                    }
                    start_run(group_mark_at_);
                    group_mark_ = false;
                }
                AnnotationInput in{buf_, partners_, 0, last, text_, store_, nullptr,
                                   run_ ? std::optional<uint32_t>(run_start_) : std::nullopt};
                std::optional<AnnotationResult> r = classify_annotation(in);
                if (!r) return false;
                if (r->diagnostic) diags_.push_back(*r->diagnostic);
                close_run(open.start);
                emit(ClassifiedEvent::of_node(r->node, r->span));
                return true;
            }
            case PairKind::Ruby: {
                for (uint32_t k = 1; k < last; ++k)
                    if (is_open(buf_[k], PairKind::Ruby)) {
                        diags_.push_back(Diagnostic::simple(DiagTag::NestedRuby, buf_[k].span()));
                        break;
                    }
                const bool empty = close.start == open.end;
                const Span reading_bytes{open.end, close.start};
                if (!held_.empty() && open.start == held_end_) {
                    if (empty) return false;
                    std::vector<ContentItem> items;
                    for (const ClassifiedEvent& h : held_) items.push_back(ContentItem::make_gaiji(h.node.gaiji));
                    const Segment base = store_.segment_from_items(items);
                    const Span span{held_[0].span.start, close.end};
                    held_.clear();
                    const Segment reading = parse_content(context(), 1, last, reading_bytes, diags_);
                    emit(ClassifiedEvent::of_node(Node::make_ruby(store_.make_ruby(base, reading)), span));
                    return true;
                }
                if (!run_) return false;
                const std::string_view run = slice(text_, Span{run_start_, open.start});
                const size_t bar = run.rfind("｜");
                const bool has_bar = bar != std::string_view::npos;
                const uint32_t bar_at = run_start_ + uint32_t(bar);
                const uint32_t base_start = has_bar ? bar_at + 3 : implicit_ruby_base_start(text_, run_start_, open.start);
                if (base_start >= open.start) return false;
                if (empty) {
                    if (has_bar) diags_.push_back(Diagnostic::simple(DiagTag::EmptyRubyReading, Span{bar_at, close.end}));
                    return false;
                }
                const uint32_t from = has_bar ? bar_at : base_start;
                close_run(from);
                const Segment base = store_.text_segment(slice(text_, Span{base_start, open.start}));
                const Segment reading = parse_content(context(), 1, last, reading_bytes, diags_);
                emit(ClassifiedEvent::of_node(Node::make_ruby(store_.make_ruby(base, reading)), Span{from, close.end}));
                return true;
            }
            case PairKind::AngleQuote: {
                if (close.start == open.end) return false;
                const Segment s = parse_content(context(), 1, last, Span{open.end, close.start}, diags_);
                close_run(open.start);
                emit(ClassifiedEvent::of_node(Node::make_angle(store_.content_from_segment(s)), Span{open.start, close.end}));
                return true;
            }
            default: return false;
        }
    }

    std::string_view text_;
    NodeStore& store_;
    std::vector<ClassifiedEvent>& out_;
    Diagnostics& diags_;
    std::deque<PairEvent> input_;
    std::map<uint32_t, uint32_t> opener_of_close_;

    bool run_ = false;
    uint32_t run_start_ = 0;
    bool mark_ = false;
    uint32_t mark_at_ = 0;
    bool in_quote_ = false;
    PairKind quote_kind_ = PairKind::Quote;
    uint32_t depth_ = 0;

    bool group_ = false;
    std::vector<PairEvent> buf_;
    std::vector<uint32_t> partners_;
    std::vector<Entry> stack_;
    bool group_mark_ = false;
    uint32_t group_mark_at_ = 0;

    std::vector<ClassifiedEvent> held_;
    uint32_t held_end_ = 0;
};

const std::vector<std::string> kPieces = {
    "｜", "《", "》", "≪", "≫", "［", "］", "＃", "※", "〔", "〕", "「", "」", "\n",
    "｜", "《", "》", "［", "］", "＃", "※", "「", "」",
    "漢", "字", "か", "カ", "a", "、", "※［＃「あ」、U+3042］", "※［＃「xyzzy」］",
};

std::string random_text(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> len(0, 36), pick(0, kPieces.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += kPieces[pick(rng)];
    return s;
}

TEST(ClassifierStream, GeneratedInputsTileAndMatchTheReReadingClassifier) {
    std::mt19937 rng(5150);
    int compared = 0;
    const int total = 4000;
    for (int i = 0; i < total; ++i) {
        const std::string src = random_text(rng);
        auto c = classify_text(src);
        ASSERT_EQ(check_tiling(*c), "") << "input: " << src << "\nstream: " << show(*c);

        PairedStream p = pair(tokenize(sanitize(std::make_shared<const std::string>(src), Diagnostics{})));
        Classified ref;
        ref.text = *p.text;
        ReReadingClassifier reference(p, ref);
        reference.run();
        if (reference.diverged) continue;
        ++compared;
        ASSERT_EQ(show(*c), show(ref)) << "input: " << src;
        ASSERT_EQ(show_diagnostics(*c), show_diagnostics(ref)) << "input: " << src;
    }
    // Inputs where a closer meets a stale opener must stay the exception.
    EXPECT_GT(compared, total * 3 / 4);
}

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Inputs that would be quadratic if stacks were rescanned or groups
// re-buffered once per nesting level.
TEST(ClassifierStream, DeepNestingStaysText) {
    constexpr size_t n = 100000;
    const std::string cases[] = {
        repeat("「", n) + repeat("］", n),
        repeat("［", n) + repeat("」", n),
        repeat("《", n) + "x",
        repeat("［", n) + repeat("］", n),
        repeat("≪", n) + repeat("［", n),
    };
    for (const std::string& src : cases) {
        auto c = classify_text(src);
        ASSERT_EQ(c->events.size(), 1u) << src.substr(0, 12);
        EXPECT_EQ(c->events[0].tag, EventTag::TextRun);
        EXPECT_EQ(c->events[0].span, (Span{0, uint32_t(src.size())}));
    }
}

TEST(ClassifierStream, DeepNestingStillClassifiesWhatItCan) {
    constexpr size_t n = 100000;
    auto c = classify_text(repeat("［", n) + "\n漢字《かんじ》");
    EXPECT_EQ(show(*c), "t:" + repeat("［", n) + " lf ruby[漢字《かんじ》](漢字/かんじ)");

    c = classify_text(repeat("［", n) + "＃x" + repeat("］", n));
    EXPECT_EQ(show(*c), "t:" + repeat("［", n - 1) + " dir[［＃x］] t:" + repeat("］", n - 1));

    c = classify_text("、" + repeat("《", n) + "x" + repeat("》", n));
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->diagnostics.size(), n - 1);

    c = classify_text(repeat("≪", n) + "x" + repeat("≫", n));
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->events[0].node.tag, NodeTag::AngleQuote);
    EXPECT_EQ(classifier_test::content(c->store, c->events[0].node.angle.content),
              repeat("≪", n - 1) + "x" + repeat("≫", n - 1));
}

}  // namespace
}  // namespace kogane
