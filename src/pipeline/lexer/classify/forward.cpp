#include "pipeline/lexer/classify/forward.hpp"

#include "collections/safe_output.hpp"
#include "collections/small_vector.hpp"
#include "collections/text.hpp"
#include "collections/utf8.hpp"
#include "pipeline/lexer/classify/directive_rules.hpp"
#include "syntax/accents.hpp"

namespace kogane {

namespace {


// The quoted targets that open an annotation body: 「A」「B」… each
// starting right where the previous one closed.
struct Targets {
    SmallVector<Span, 4> spans;  // target text, between 「 and 」
    bool nested = false;         // some target holds further bracket events
    uint32_t suffix_start = 0;
};

std::optional<Targets> collect_targets(const AnnotationInput& in) {
    Targets t;
    uint32_t expect = in.events[in.opener + 1].end;  // right after ＃
    uint32_t i = in.opener + 2;
    while (i < in.closer) {
        const PairEvent& e = in.events[i];
        if (e.tag != PairTag::Open || e.pair_kind() != PairKind::Quote || e.start != expect) break;
        uint32_t p = i < in.partners.size() ? in.partners[i] : kNoPartner;
        if (p == kNoPartner || p <= i || p >= in.closer || in.events[p].tag != PairTag::Close) break;
        const PairEvent& c = in.events[p];
        if (c.start == e.end) return std::nullopt;  // 「」 names nothing
        t.spans.push_back(Span{e.end, c.start});
        for (uint32_t k = i + 1; k < p; ++k)
            if (in.events[k].tag != PairTag::Text) t.nested = true;
        expect = c.end;
        i = p + 1;
    }
    if (t.spans.empty()) return std::nullopt;
    t.suffix_start = expect;
    return t;
}

struct Decoration {
    FormatStyle style;
};

// Side and kind of a bouten suffix: に|の左に|の両側に + kind keyword.
std::optional<FormatStyle> bouten_suffix(std::string_view s) {
    uint8_t side;
    if (consume(s, "の左に"))
        side = kStyleBoutenLeft;
    else if (consume(s, "の両側に"))
        side = kStyleBoutenBoth;
    else if (consume(s, "に"))
        side = kStyleBoutenRight;
    else
        return std::nullopt;
    auto kind = parse_bouten_kind(s);
    if (!kind) return std::nullopt;
    return FormatStyle{side, *kind};
}

// The decoration named after 「X」は.
std::optional<FormatStyle> style_keyword(std::string_view s) {
    struct Entry {
        std::string_view keyword;
        FormatStyle style;
    };
    static constexpr Entry kStyles[] = {
        {"太字", {kStyleBold, 0}},
        {"ゴシック体", {kStyleGothic, 0}},
        {"斜体", {kStyleItalic, 0}},
        {"上付き小文字", {kStyleSuperscript, 0}},
        {"下付き小文字", {kStyleSubscript, 0}},
        {"行右小書き", {kStyleSmallScript, 0}},
        {"行左小書き", {kStyleSmallScript, 1}},
        {"罫囲み", {kStyleEnclosure, 0}},
        {"○付き文字", {kStyleEnclosure, 2}},
        {"点線丸囲み", {kStyleEnclosure, 3}},
        {"二重罫囲み", {kStyleEnclosure, 4}},
        {"横組み", {kStyleHorizontal, 0}},
        {"キャプション", {kStyleCaption, 0}},
        {"特大文字", {kStyleFontSize, 0}},
        {"大文字", {kStyleFontSize, 1}},
        {"中文字", {kStyleFontSize, 2}},
        {"小文字", {kStyleFontSize, 3}},
        {"縦中横", {kStyleCombineUpright, 0}},
        {"分数", {kStyleFraction, 0}},
        {"アクサン（´）付き", {kStyleAccent, 0}},
        {"ウムラウト（¨）付き", {kStyleAccent, 1}},
        {"アクサン（｀）付き", {kStyleAccent, 2}},
        {"地付き", {kStyleAlignEndRun, 0}},
    };
    for (const Entry& e : kStyles)
        if (s == e.keyword) return e.style;
    if (auto n = parse_count(s)) {
        if (n->value >= 1 && n->value <= 127) {
            if (n->rest == "段階大きな文字") return FormatStyle{kStyleFontSteps, n->value};
            if (n->rest == "段階小さな文字")
                return FormatStyle{kStyleFontSteps, static_cast<uint8_t>(-static_cast<int>(n->value))};
        }
        return std::nullopt;
    }
    for (std::string_view from : {"文末より", "行末より", "地より", "地から"}) {
        std::string_view r = s;
        if (!consume(r, from)) continue;
        auto n = parse_count(r);
        if (n && n->value >= 1 &&
            (n->rest == "字上げ" || n->rest == "字上がり" || n->rest == "字上げ揃え" || n->rest == "字上がり揃え"))
            return FormatStyle{kStyleAlignEndRun, n->value};
        return std::nullopt;
    }
    return std::nullopt;
}

class Forward {
public:
    Forward(const AnnotationInput& in, std::string_view body) : in_(in), body_(body) {
        open_ = in.events[in.opener].start;
        end_ = in.events[in.closer].end;
    }

    ForwardOutcome run() {
        auto targets = collect_targets(in_);
        if (!targets) return dot_accent_without_target();
        t_ = *targets;
        std::string_view suffix =
            utf8::trim(in_.text.substr(t_.suffix_start, in_.events[in_.closer].start - t_.suffix_start));
        const bool single = t_.spans.size() == 1;

        if (auto style = bouten_suffix(suffix)) return bouten(*style);
        if (single) {
            std::string_view s = suffix;
            if (consume(s, "～「") || consume(s, "〜「")) return bouten_range(s);
            if (auto r = left_ruby_or_note(suffix)) return *r;
            if (suffix == "は縦中横") {
                if (!target_precedes(in_, target(0), open_)) return {ForwardStatus::TargetNotFound, {}};
                return format(FormatStyle{kStyleCombineUpright, 0}, false);
            }
        }
        std::string_view s = suffix;
        if (consume(s, "は")) {
            if (auto h = parse_heading_keyword(s); h && single) return heading_hint(*h);
            if (single && s == "「□」囲み") return format(FormatStyle{kStyleEnclosure, 1}, false);
            if (auto style = style_keyword(s); style && single) {
                if (style->kind == kStyleAccent && !accent_composes(style->param)) return {};
                return format(*style, false);
            }
        }
        if (single && suffix.ends_with("ドット付き")) return dot_accent(suffix);
        if (single) {
            std::string_view c = suffix;
            if (consume(c, "のキャプション付きの") && (consume(c, "挿絵（") || consume(c, "写真（")) &&
                c.ends_with("）入る")) {
                c.remove_suffix(std::string_view("）入る").size());
                if (!c.empty()) {
                    IllustrationNode il;
                    il.path = in_.store.intern(c);
                    il.has_caption = 1;
                    il.caption = in_.store.text_segment(target(0));
                    ForwardOutcome o = classified(Node::make_illustration(il), Span{open_, end_});
                    if (!is_relative_path(c))
                        o.result.diagnostic = Diagnostic::simple(DiagTag::IllustrationPathNotRelative, Span{open_, end_});
                    return o;
                }
            }
        }
        return {};
    }

private:
    std::string_view target(size_t i) const { return slice(in_.text, t_.spans[i]); }

    ForwardOutcome classified(const Node& n, Span span) const {
        ForwardOutcome o;
        o.status = ForwardStatus::Classified;
        o.result.outcome = AnnotationOutcome::Node;
        o.result.node = n;
        o.result.span = span;
        return o;
    }

    // The target stands directly before the ［, inside the current run.
    bool immediately_before(std::string_view t) const {
        if (t.empty() || t.size() > open_) return false;
        uint32_t start = open_ - static_cast<uint32_t>(t.size());
        if (!in_.run_start || *in_.run_start > start) return false;
        return in_.text.substr(start, t.size()) == t;
    }

    // Last occurrence of `t` inside [run start, ［), or nothing.
    std::optional<uint32_t> occurrence_in_run(std::string_view t) const {
        if (!in_.run_start || t.empty()) return std::nullopt;
        std::string_view run = in_.text.substr(*in_.run_start, open_ - *in_.run_start);
        size_t p = run.rfind(t);
        if (p == std::string_view::npos) return std::nullopt;
        return *in_.run_start + static_cast<uint32_t>(p);
    }

    ContentRef target_content(std::string_view t) const {
        return in_.store.content_from_segment(in_.store.text_segment(t));
    }

    FormatNode format_node(std::string_view t, FormatStyle style, uint8_t suppressed) const {
        FormatNode f;
        f.mode = t_.nested ? 1 : 0;
        f.target = target_content(t);
        f.style = style;
        f.suppressed = suppressed;
        return f;
    }

    // Places a single-target decoration: on the text right before the
    // annotation, on its last occurrence in the current run, or nowhere.
    ForwardOutcome format(FormatStyle style, bool bouten_form) const {
        std::string_view t = target(0);
        if (!target_precedes(in_, t, open_)) {
            if (!bouten_form) return {};
            return classified(Node::make_format(format_node(t, style, 2)), Span{open_, end_});
        }
        ForwardOutcome o;
        uint32_t placed_at;
        if (immediately_before(t)) {
            placed_at = open_ - static_cast<uint32_t>(t.size());
            o = classified(Node::make_format(format_node(t, style, 0)), Span{placed_at, end_});
        } else if (auto at = occurrence_in_run(t)) {
            placed_at = *at;
            o = classified(Node::make_format(format_node(t, style, 1)), Span{open_, end_});
            // The decorated occurrence only writes its text back; the
            // annotation itself stays where it was written.
            o.result.placed = PlacedFormat{Node::make_format(format_node(t, style, 3)),
                                           Span{*at, *at + static_cast<uint32_t>(t.size())}};
        } else {
            o = classified(Node::make_format(format_node(t, style, 1)), Span{open_, end_});
            o.result.diagnostic = Diagnostic::simple(DiagTag::ForwardReferentNotStylable, Span{open_, end_});
            return o;
        }
        if (bouten_form && in_.quotes != nullptr) {
            auto first = in_.quotes->first_occurrence(t);
            if (first && *first < placed_at)
                o.result.diagnostic = Diagnostic::simple(DiagTag::BoutenTargetAmbiguous, Span{open_, end_});
        } else if (bouten_form) {
            if (in_.text.substr(0, placed_at).find(t) != std::string_view::npos)
                o.result.diagnostic = Diagnostic::simple(DiagTag::BoutenTargetAmbiguous, Span{open_, end_});
        }
        return o;
    }

    ForwardOutcome bouten(FormatStyle style) const {
        if (t_.spans.size() == 1) return format(style, true);
        // Several targets: all must be present; the decoration is not
        // placed. Each target is kept as its own item so that the
        // annotation can be written back target by target.
        SmallVector<ContentItem, 4> items;
        for (size_t i = 0; i < t_.spans.size(); ++i) {
            if (!target_precedes(in_, target(i), open_)) return {};
            items.push_back(ContentItem::make_text(in_.store.intern(target(i))));
        }
        auto [first, count] = in_.store.push_items(std::span<const ContentItem>(items.data(), items.size()));
        FormatNode f;
        f.mode = t_.nested ? 1 : 0;
        f.target = in_.store.content_from_segment(Segment{SegmentTag::Run, first, count});
        f.style = style;
        f.suppressed = 1;
        ForwardOutcome o = classified(Node::make_format(f), Span{open_, end_});
        o.result.diagnostic = Diagnostic::simple(DiagTag::ForwardReferentNotStylable, Span{open_, end_});
        return o;
    }

    // 「X」～「Y」に傍点: from the last X before the Y that ends right
    // before the annotation, through that Y.
    ForwardOutcome bouten_range(std::string_view rest) const {
        size_t close = rest.find("」");
        if (close == std::string_view::npos) return {};
        std::string_view end_target = rest.substr(0, close);
        auto style = bouten_suffix(rest.substr(close + 3));
        if (!style || end_target.empty() || !immediately_before(end_target)) return {};
        uint32_t end_start = open_ - static_cast<uint32_t>(end_target.size());
        std::string_view start_target = target(0);
        std::string_view before = in_.text.substr(*in_.run_start, end_start - *in_.run_start);
        size_t p = before.rfind(start_target);
        if (start_target.empty() || p == std::string_view::npos) return {};
        uint32_t from = *in_.run_start + static_cast<uint32_t>(p);
        std::string_view covered = in_.text.substr(from, open_ - from);
        FormatNode f = format_node(covered, *style, 0);
        f.mode = 0;
        return classified(Node::make_format(f), Span{from, end_});
    }

    // 「X」の左に「r」のルビ and 「X」に「n」の注記 / 「X」の左に「n」の注記: only
    // where X stands right before the annotation, so its text is not
    // written twice.
    std::optional<ForwardOutcome> left_ruby_or_note(std::string_view suffix) const {
        std::string_view s = suffix;
        bool left = consume(s, "の左に「");
        if (!left && !consume(s, "に「")) return std::nullopt;
        bool ruby = false;
        std::string_view inner;
        if (left && s.ends_with("」のルビ")) {
            ruby = true;
            inner = s.substr(0, s.size() - std::string_view("」のルビ").size());
        } else if (s.ends_with("」の注記")) {
            inner = s.substr(0, s.size() - std::string_view("」の注記").size());
        } else {
            return std::nullopt;
        }
        std::string_view t = target(0);
        if (inner.empty() || inner.find("」") != std::string_view::npos) return std::nullopt;
        if (!immediately_before(t)) {
            // A note on an earlier occurrence in the same run is put there;
            // the annotation itself stays as a remark so its text is kept.
            auto at = ruby ? std::nullopt : occurrence_in_run(t);
            if (!at) return std::nullopt;
            MarginNoteNode m;
            m.base = target_content(t);
            m.note = target_content(inner);
            m.side = left ? 1 : 0;
            m.placed = 1;
            ForwardOutcome o = classified(
                Node::make_directive(in_.store.intern(in_.text.substr(open_, end_ - open_)), kRemarkOther),
                Span{open_, end_});
            o.result.placed = PlacedFormat{Node::make_margin(m), Span{*at, *at + static_cast<uint32_t>(t.size())}};
            return o;
        }
        Span span{open_ - static_cast<uint32_t>(t.size()), end_};
        if (ruby) {
            RubyNode r = in_.store.make_ruby(in_.store.text_segment(t), in_.store.text_segment(inner));
            r.side = 1;
            return classified(Node::make_ruby(r), span);
        }
        MarginNoteNode m;
        m.base = target_content(t);
        m.note = target_content(inner);
        m.side = left ? 1 : 0;
        return classified(Node::make_margin(m), span);
    }

    ForwardOutcome heading_hint(HeadingKeyword h) const {
        std::string_view t = target(0);
        if (t.empty() || !target_precedes(in_, t, open_)) return {};
        HeadingHintNode hint;
        hint.target = in_.store.intern(t);
        hint.level = h.level;
        hint.style = h.style;
        // Right before the annotation the hint takes the text over;
        // elsewhere (typically the line above, which the fold may promote
        // to a heading) the text stays and the hint only names it.
        if (immediately_before(t)) {
            hint.is_inline = 1;
            return classified(Node::make_hint(hint), Span{open_ - static_cast<uint32_t>(t.size()), end_});
        }
        hint.is_inline = 0;
        return classified(Node::make_hint(hint), Span{open_, end_});
    }

    bool accent_composes(uint8_t kind) const {
        std::string_view t = target(0);
        if (t.empty()) return false;
        utf8::Char c = utf8::decode(t, 0);
        return c.len == t.size() && compose_accent(c.cp, kind).has_value();
    }

    ForwardOutcome dot_accent(std::string_view suffix) const {
        std::string_view t = target(0);
        if (!apply_dot_accents(t, suffix)) return {};
        if (!target_precedes(in_, t, open_)) return {};
        FormatStyle style{kStyleAccentDot, 0};
        if (!immediately_before(t)) return {};
        FormatNode f = format_node(t, style, 0);
        f.mode = 2;
        f.spec = in_.store.intern(body_);
        return classified(Node::make_format(f), Span{open_ - static_cast<uint32_t>(t.size()), end_});
    }

    // A dot annotation with no quoted target applies to the run of Latin
    // letters right before it.
    ForwardOutcome dot_accent_without_target() const {
        if (!body_.ends_with("ドット付き") || !in_.run_start) return {};
        uint32_t start = open_;
        while (start > *in_.run_start) {
            utf8::Char c = utf8::decode_before(in_.text, start);
            if (c.len == 0) break;
            uint32_t cp = c.cp;
            bool latin = (cp < 0x80 && ((cp | 0x20) >= 'a' && (cp | 0x20) <= 'z')) || cp == '-' ||
                         (cp >= 0xC0 && cp <= 0x24F) || (cp >= 0x1E00 && cp <= 0x1EFF);
            if (!latin) break;
            start -= c.len;
        }
        std::string_view word = in_.text.substr(start, open_ - start);
        if (word.empty() || !apply_dot_accents(word, body_)) return {};
        FormatNode f;
        f.mode = 2;
        f.spec = in_.store.intern(body_);
        f.target = target_content(word);
        f.style = FormatStyle{kStyleAccentDot, 0};
        f.suppressed = 0;
        return classified(Node::make_format(f), Span{start, end_});
    }

    const AnnotationInput& in_;
    std::string_view body_;
    uint32_t open_ = 0;
    uint32_t end_ = 0;
    Targets t_;
};

}  // namespace

bool target_precedes(const AnnotationInput& in, std::string_view target, uint32_t offset) {
    if (target.empty()) return false;
    if (in.quotes != nullptr) return in.quotes->occurs_before(target, offset);
    return in.text.substr(0, offset).find(target) != std::string_view::npos;
}

ForwardOutcome classify_forward(const AnnotationInput& in, std::string_view body) {
    if (in.closer >= in.events.size() || in.opener + 1 >= in.closer) return {};
    return Forward(in, body).run();
}

}  // namespace kogane
