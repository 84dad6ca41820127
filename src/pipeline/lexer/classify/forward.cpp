#include "pipeline/lexer/classify/forward.hpp"

#include <algorithm>
#include <vector>

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
    StyleKind placement;
    if (consume(s, "の左に"))
        placement = StyleKind::BoutenLeft;
    else if (consume(s, "の両側に"))
        placement = StyleKind::BoutenBoth;
    else if (consume(s, "に"))
        placement = StyleKind::BoutenRight;
    else
        return std::nullopt;
    auto kind = parse_bouten_kind(s);
    if (!kind) return std::nullopt;
    return FormatStyle::bouten(placement, *kind);
}

// The decoration named after 「X」は.
std::optional<FormatStyle> style_keyword(std::string_view s) {
    struct Entry {
        std::string_view keyword;
        FormatStyle style;
    };
    static constexpr Entry kStyles[] = {
        {"太字", FormatStyle::of(StyleKind::Bold)},
        {"ゴシック体", FormatStyle::of(StyleKind::Gothic)},
        {"ゴチック", FormatStyle::of(StyleKind::Gothic)},
        {"斜体", FormatStyle::of(StyleKind::Italic)},
        {"上付き小文字", FormatStyle::of(StyleKind::Superscript)},
        {"下付き小文字", FormatStyle::of(StyleKind::Subscript)},
        {"行右小書き", FormatStyle::small_script(MarkSide::Right)},
        {"行左小書き", FormatStyle::small_script(MarkSide::Left)},
        {"小書き", FormatStyle::small_script(MarkSide::Right)},  // small kana sit on the right in vertical text
        {"罫囲み", FormatStyle::enclosure(Enclosure::Ruled)},
        {"○付き文字", FormatStyle::enclosure(Enclosure::Circle)},
        {"点線丸囲み", FormatStyle::enclosure(Enclosure::DottedCircle)},
        {"二重罫囲み", FormatStyle::enclosure(Enclosure::DoubleRuled)},
        {"横組み", FormatStyle::of(StyleKind::Horizontal)},
        {"キャプション", FormatStyle::of(StyleKind::Caption)},
        {"特大文字", FormatStyle::font_size(LineSize::ExtraLarge)},
        {"大文字", FormatStyle::font_size(LineSize::Large)},
        {"中文字", FormatStyle::font_size(LineSize::Medium)},
        {"小文字", FormatStyle::font_size(LineSize::Small)},
        {"縦中横", FormatStyle::of(StyleKind::CombineUpright)},
        {"分数", FormatStyle::of(StyleKind::Fraction)},
        {"アクサン（´）付き", FormatStyle::accent(AccentKind::Acute)},
        {"ウムラウト（¨）付き", FormatStyle::accent(AccentKind::Diaeresis)},
        {"アクサン（｀）付き", FormatStyle::accent(AccentKind::Grave)},
        {"地付き", FormatStyle::align_end_run(0)},
    };
    for (const Entry& e : kStyles)
        if (s == e.keyword) return e.style;
    if (auto n = parse_count(s)) {
        if (n->value >= 1 && n->value <= 127) {
            const auto steps = static_cast<int8_t>(n->value);
            if (n->rest == "段階大きな文字") return FormatStyle::font_steps(steps);
            if (n->rest == "段階小さな文字") return FormatStyle::font_steps(static_cast<int8_t>(-steps));
        }
        return std::nullopt;
    }
    for (std::string_view from : {"文末より", "行末より", "地より", "地から"}) {
        std::string_view r = s;
        if (!consume(r, from)) continue;
        auto n = parse_count(r);
        if (n && n->value >= 1 &&
            (n->rest == "字上げ" || n->rest == "字上がり" || n->rest == "字上げ揃え" || n->rest == "字上がり揃え"))
            return FormatStyle::align_end_run(n->value);
        return std::nullopt;
    }
    return std::nullopt;
}

// Where a target matched right before its annotation starts, and whether
// the match runs through constructs (rubies, gaiji, kaeriten, decorations)
// rather than plain text alone.
struct Cover {
    uint32_t start = 0;
    bool constructs = false;
    bool only_gaiji = true;  // every construct inside is a gaiji
};

// An earlier occurrence of a target on the current line, in source
// offsets.
struct Placement {
    uint32_t start = 0;
    uint32_t end = 0;
    bool constructs = false;
    bool only_gaiji = true;
};

// At most this many emitted events are looked through, so a line dense in
// markup costs each annotation a bounded amount.
constexpr size_t kMaxLookBack = 64;

// A decoration covers at most this many annotations before it; rendering
// reads each level of nesting again, to a bounded depth.
constexpr int kMaxNestedAnnotations = 6;

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
        // Targets name words on a line; one that spans lines names nothing.
        for (Span t : t_.spans)
            if (slice(in_.text, t).find('\n') != std::string_view::npos) return {};
        std::string_view suffix =
            utf8::trim(in_.text.substr(t_.suffix_start, in_.events[in_.closer].start - t_.suffix_start));
        const bool single = t_.spans.size() == 1;

        if (auto style = bouten_suffix(suffix)) return bouten(*style);
        if (single) {
            std::string_view s = suffix;
            if (consume(s, "～「") || consume(s, "〜「")) return bouten_range(s);
            if (auto r = left_ruby_or_note(suffix)) return *r;
            if (suffix == "は縦中横") {
                ForwardOutcome o = format(FormatStyle::of(StyleKind::CombineUpright), false);
                o.missing = DiagTag::TcyTargetNotFound;
                return o;
            }
        }
        std::string_view s = suffix;
        if (consume(s, "は")) {
            if (auto h = parse_heading_keyword(s); h && single) return heading_hint(*h);
            if (single && s == "「□」囲み") return format(FormatStyle::enclosure(Enclosure::Square), false);
            if (auto style = style_keyword(s); style && single) {
                if (style->kind() == StyleKind::Accent && !accent_composes(style->accent())) return {};
                return format(*style, false);
            }
            if (single && s.find("、") != std::string_view::npos) return layered_styles(s);
        }
        if (single && suffix.ends_with("ドット付き")) return dot_accent(suffix);
        if (single) {
            std::string_view c = suffix;
            if (consume(c, "のキャプション付きの")) return captioned_illustration(c);
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

    // 「caption」のキャプション付きの挿絵（file[、size]）入る; authors write 写真,
    // 図 and the like for 挿絵. The file name and the size are split as in
    // the plain form.
    ForwardOutcome captioned_illustration(std::string_view rest) const {
        constexpr std::string_view kOpenParen = "（", kEnd = "）入る";
        const size_t paren = rest.find(kOpenParen);
        if (paren == std::string_view::npos || paren == 0 || paren > 4 * 3 || !rest.ends_with(kEnd)) return {};
        const std::string_view label = rest.substr(0, paren);
        if (label.find("」") != std::string_view::npos || label.find("「") != std::string_view::npos) return {};
        std::string_view inside = rest.substr(paren + kOpenParen.size());
        inside.remove_suffix(kEnd.size());
        const size_t comma = inside.find("、");
        const std::string_view path = inside.substr(0, comma);
        if (path.empty() || path.find("）") != std::string_view::npos) return {};
        IllustrationNode il;
        il.path = in_.store.intern(path);
        if (comma != std::string_view::npos && comma + 3 < inside.size()) il.size = in_.store.intern(inside.substr(comma + 3));
        il.has_caption = true;
        il.caption = in_.store.text_segment(target(0));
        ForwardOutcome o = classified(Node::make_illustration(il), Span{open_, end_});
        if (!is_relative_path(path))
            o.result.diagnostic = Diagnostic::simple(DiagTag::IllustrationPathNotRelative, Span{open_, end_});
        return o;
    }

    // 「X」は縦中横、行右小書き: several decorations on one target, the
    // first innermost. The outer node covers the target together with the
    // inner annotations, spelled out as if written one after another, so
    // rendering and writing back go through the same reading as for
    // ［＃「X」は縦中横］［＃「X」は行右小書き］.
    ForwardOutcome layered_styles(std::string_view list) const {
        SmallVector<std::string_view, 4> keywords;
        FormatStyle outer;
        for (size_t from = 0; from <= list.size();) {
            size_t comma = list.find("、", from);
            if (comma == std::string_view::npos) comma = list.size();
            const std::string_view keyword = list.substr(from, comma - from);
            auto style = style_keyword(keyword);
            if (!style || style->kind() == StyleKind::Accent || keywords.size() == 4) return {};
            keywords.push_back(keyword);
            outer = *style;
            from = comma + 3;
        }
        const std::string_view raw = target(0);
        const std::string reading = target_reading(raw);
        if (reading.empty() || keywords.size() < 2) return {};
        auto c = cover_before(reading);
        if (!c) return format(outer, false);  // not in place: as for a single style
        std::string source(in_.text.substr(c->start, open_ - c->start));
        for (size_t k = 0; k + 1 < keywords.size(); ++k) {
            source += "［＃「";
            source += raw;
            source += "」は";
            source += keywords[k];
            source += "］";
        }
        FormatNode f;
        f.mode = FormatMode::Reparse;
        f.target = target_content(source);
        f.style = outer;
        f.suppressed = FormatPlacement::InPlace;
        f.spec = in_.store.intern(raw);
        return covered(Node::make_format(f), *c);
    }

    // The annotation kept as a remark, its text as written.
    Node remark_node() const {
        return Node::make_directive(in_.store.intern(in_.text.substr(open_, end_ - open_)), RemarkKind::Other);
    }

    // The target stands directly before the ［, inside the current run.
    bool immediately_before(std::string_view t) const {
        if (t.empty() || t.size() > open_) return false;
        uint32_t start = open_ - static_cast<uint32_t>(t.size());
        if (!in_.run_start || *in_.run_start > start) return false;
        return in_.text.substr(start, t.size()) == t;
    }

    // Whether the source [start, end) holds so many annotations that a
    // decoration over it would nest deeper than rendering reads again
    // (repeated annotations on one target, each covering the last).
    bool too_deep(uint32_t start, uint32_t end) const {
        constexpr std::string_view kOpen = "［＃", kMark = "※";
        const std::string_view s = in_.text.substr(start, end - start);
        int annotations = 0;
        for (size_t at = s.find(kOpen); at != std::string_view::npos; at = s.find(kOpen, at + kOpen.size()))
            if (at < kMark.size() || s.substr(at - kMark.size(), kMark.size()) != kMark) ++annotations;
        return annotations >= kMaxNestedAnnotations;
    }

    // The latest earlier occurrence of `reading` on this line, within the
    // kNearBytes before the ［ and the events the driver keeps: over text,
    // and over rubies and gaiji taken whole. The annotation stays where it
    // is; the driver and the fold put the decoration there.
    std::optional<Placement> place_earlier(std::string_view reading) const {
        if (reading.empty()) return std::nullopt;
        struct Piece {
            uint32_t start, end;        // source span
            uint32_t from = 0;          // offset of its reading in the line
            std::string reading;
            bool text = false;
            bool gaiji = false;
        };
        std::vector<Piece> pieces;  // newest first
        const uint32_t floor = open_ > QuoteIndex::kNearBytes ? open_ - static_cast<uint32_t>(QuoteIndex::kNearBytes) : 0;
        uint32_t cursor = open_;
        auto add_text = [&](uint32_t from) {
            from = std::max(from, floor);
            while (from < cursor && !is_char_boundary(in_.text, from)) ++from;
            if (from < cursor) pieces.push_back(Piece{from, cursor, 0, std::string(in_.text.substr(from, cursor - from)), true});
            cursor = from;
        };
        if (in_.run_start && *in_.run_start < open_) add_text(*in_.run_start);
        const size_t oldest = in_.recent.size() > kMaxLookBack ? in_.recent.size() - kMaxLookBack : 0;
        for (size_t k = in_.recent.size(); cursor > floor && k-- > oldest;) {
            const ClassifiedEvent& e = in_.recent[k];
            if (e.span.start >= cursor) continue;
            if (e.span.end != cursor) break;
            if (e.tag == EventTag::TextRun) {
                add_text(e.span.start);
                continue;
            }
            std::optional<std::string> r;
            if (e.tag == EventTag::Node) r = node_reading(in_.pool->node(e), in_.store);
            if (!r) break;
            const bool gaiji = in_.pool->node(e).tag == NodeTag::Gaiji;
            pieces.push_back(Piece{e.span.start, e.span.end, 0, std::move(*r), false, gaiji});
            cursor = e.span.start;
        }
        std::reverse(pieces.begin(), pieces.end());
        std::string line;
        for (Piece& p : pieces) {
            p.from = static_cast<uint32_t>(line.size());
            line += p.reading;
        }
        // Source offset of the reading offset `at`, as a start or an end.
        auto source_at = [&](size_t at, bool as_end) -> std::optional<uint32_t> {
            for (const Piece& p : pieces) {
                const size_t to = p.from + p.reading.size();
                if (p.reading.empty() || (as_end ? !(p.from < at && at <= to) : !(p.from <= at && at < to))) continue;
                if (p.text) {
                    const uint32_t s = p.start + static_cast<uint32_t>(at - p.from);
                    if (!is_char_boundary(in_.text, s)) return std::nullopt;
                    return s;
                }
                if (at == (as_end ? to : p.from)) return as_end ? p.end : p.start;
                return std::nullopt;  // inside a construct
            }
            return std::nullopt;
        };
        size_t limit = std::string::npos;
        for (int tries = 0; tries < 16; ++tries) {
            const size_t hit = line.rfind(reading, limit);
            if (hit == std::string::npos) return std::nullopt;
            const auto start = source_at(hit, false), end = source_at(hit + reading.size(), true);
            if (start && end && *start < *end && !too_deep(*start, *end)) {
                Placement p{*start, *end, false, true};
                for (const Piece& piece : pieces) {
                    if (piece.text || piece.end <= *start || piece.start >= *end) continue;
                    p.constructs = true;
                    p.only_gaiji = p.only_gaiji && piece.gaiji;
                }
                return p;
            }
            if (hit == 0) return std::nullopt;
            limit = hit - 1;
        }
        return std::nullopt;
    }

    ContentRef target_content(std::string_view t) const {
        return in_.store.content_from_segment(in_.store.text_segment(t));
    }

    FormatNode format_node(std::string_view t, FormatStyle style, FormatPlacement suppressed) const {
        FormatNode f;
        f.mode = t_.nested ? FormatMode::Reparse : FormatMode::Plain;
        f.target = target_content(t);
        f.style = style;
        f.suppressed = suppressed;
        return f;
    }

    // Matches `reading` against what stands right before the ［, read from
    // its end: the current run, then the events already emitted on this
    // line. Text may match in part; a construct matches whole or not at all.
    std::optional<Cover> cover_before(std::string_view reading) const {
        if (auto c = match_before(reading)) return c;
        // Markup-like text that is no markup in the line (a 《…》 with no
        // base) matches as written.
        if (const std::string_view raw = target(0); raw != reading) return match_before(raw);
        return std::nullopt;
    }

    std::optional<Cover> match_before(std::string_view reading) const {
        if (reading.empty()) return std::nullopt;
        size_t left = reading.size();  // reading[0, left) is still to match
        uint32_t cursor = open_;
        bool constructs = false, only_gaiji = true;
        auto text_piece = [&](uint32_t from) {
            const size_t n = std::min<size_t>(left, cursor - from);
            if (in_.text.substr(cursor - n, n) != reading.substr(left - n, n)) return false;
            left -= n;
            cursor -= static_cast<uint32_t>(n);
            return true;
        };
        if (in_.run_start && *in_.run_start < open_ && !text_piece(*in_.run_start)) return std::nullopt;
        const size_t oldest = in_.recent.size() > kMaxLookBack ? in_.recent.size() - kMaxLookBack : 0;
        for (size_t k = in_.recent.size(); left > 0 && k-- > oldest;) {
            const ClassifiedEvent& e = in_.recent[k];
            if (e.span.start >= cursor) continue;  // taken over by a later event
            if (e.span.end != cursor) return std::nullopt;
            if (e.tag == EventTag::TextRun) {
                if (!text_piece(e.span.start)) return std::nullopt;
                continue;
            }
            if (e.tag != EventTag::Node) return std::nullopt;
            std::optional<std::string> r = node_reading(in_.pool->node(e), in_.store);
            if (!r || r->size() > left || reading.substr(left - r->size(), r->size()) != *r)
                return std::nullopt;
            left -= r->size();
            cursor = e.span.start;
            constructs = true;
            only_gaiji = only_gaiji && in_.pool->node(e).tag == NodeTag::Gaiji;
        }
        if (left > 0 || !is_char_boundary(in_.text, cursor) || too_deep(cursor, open_)) return std::nullopt;
        return Cover{cursor, constructs, only_gaiji};
    }

    // The source [start, end) on this line as content, when it holds text
    // and gaiji only: the base of a ruby or margin note.
    ContentRef plain_content(uint32_t start, uint32_t end, bool constructs) const {
        if (!constructs) return target_content(in_.text.substr(start, end - start));
        SmallVector<ContentItem, 8> items;
        auto text = [&](uint32_t from, uint32_t to) {
            from = std::max(from, start);
            to = std::min(to, end);
            if (from < to) items.push_back(ContentItem::make_text(in_.store.intern(in_.text.substr(from, to - from))));
        };
        for (const ClassifiedEvent& e : in_.recent) {
            if (e.span.end <= start || e.span.start >= end) continue;
            if (e.tag == EventTag::TextRun) text(e.span.start, e.span.end);
            if (e.tag != EventTag::Node) continue;
            const Node& n = in_.pool->node(e);
            if (n.tag == NodeTag::Gaiji) items.push_back(ContentItem::make_gaiji(n.gaiji));
        }
        if (in_.run_start) text(*in_.run_start, open_);
        return in_.store.content_from_segment(
            in_.store.segment_from_items(std::span<const ContentItem>(items.data(), items.size())));
    }

    // A decoration over what `c` covers. Through constructs, the covered
    // source is kept to be read again when rendered, and the target as the
    // author wrote it is kept for writing the annotation back.
    FormatNode covering(const Cover& c, FormatStyle style) const {
        FormatNode f;
        f.mode = c.constructs ? FormatMode::Reparse : FormatMode::Plain;
        f.target = target_content(in_.text.substr(c.start, open_ - c.start));
        f.style = style;
        f.suppressed = FormatPlacement::InPlace;
        if (c.constructs) f.spec = in_.store.intern(target(0));
        return f;
    }

    ForwardOutcome covered(const Node& n, const Cover& c) const {
        ForwardOutcome o = classified(n, Span{c.start, end_});
        o.result.reaches_back = !in_.run_start || c.start < *in_.run_start;
        return o;
    }

    // Whether the target occurs anywhere before `offset`, written as in the
    // annotation or as it reads.
    bool precedes(std::string_view raw, std::string_view reading, uint32_t offset) const {
        if (target_precedes(in_, raw, offset)) return true;
        return reading != raw && target_precedes(in_, reading, offset);
    }

    // Whether `source` or `reading` has another occurrence starting shortly
    // before `at`: a repeat far back in the book is no real ambiguity.
    bool starts_earlier(std::string_view source, std::string_view reading, uint32_t at) const {
        auto before = [&](std::string_view t) {
            const uint32_t end = at + static_cast<uint32_t>(t.size()) - 1;
            if (in_.quotes != nullptr) return in_.quotes->occurs_near(t, end);
            return in_.text.substr(0, end).find(t) != std::string_view::npos;
        };
        return before(source) || (reading != source && before(reading));
    }

    ForwardOutcome missing() const {
        ForwardOutcome o;
        o.status = ForwardStatus::TargetNotFound;
        o.missing = DiagTag::ForwardTargetNotFound;
        return o;
    }

    // Places a single-target decoration: over what stands right before the
    // annotation, on the last occurrence in the current run, or nowhere.
    ForwardOutcome format(FormatStyle style, bool bouten_form) const {
        const std::string_view raw = target(0);
        const std::string reading = target_reading(raw);
        if (reading.empty()) return {};
        if (auto c = cover_before(reading)) {
            ForwardOutcome o = covered(Node::make_format(covering(*c, style)), *c);
            if (bouten_form && starts_earlier(in_.text.substr(c->start, open_ - c->start), reading, c->start))
                o.result.diagnostic = Diagnostic::simple(DiagTag::BoutenTargetAmbiguous, Span{open_, end_});
            return o;
        }
        if (auto at = place_earlier(reading)) {
            const FormatNode moved = format_node(raw, style, FormatPlacement::RenderedElsewhere);
            ForwardOutcome o = classified(Node::make_format(moved), Span{open_, end_});
            // The decorated occurrence only writes its text back; the
            // annotation itself stays where it was written.
            const std::string_view source = in_.text.substr(at->start, at->end - at->start);
            FormatNode placed;
            placed.mode = at->constructs ? FormatMode::Reparse : FormatMode::Plain;
            placed.target = target_content(source);
            placed.style = style;
            placed.suppressed = FormatPlacement::OnEarlierOccurrence;
            if (at->constructs) placed.spec = in_.store.intern(raw);
            o.result.placed = PlacedFormat{Node::make_format(placed), Span{at->start, at->end}};
            if (bouten_form && starts_earlier(source, reading, at->start))
                o.result.diagnostic = Diagnostic::simple(DiagTag::BoutenTargetAmbiguous, Span{open_, end_});
            return o;
        }
        if (!precedes(raw, reading, open_)) return missing();
        const FormatNode moved = format_node(raw, style, FormatPlacement::RenderedElsewhere);
        ForwardOutcome o = classified(Node::make_format(moved), Span{open_, end_});
        o.result.diagnostic = Diagnostic::simple(DiagTag::ForwardReferentNotStylable, Span{open_, end_});
        return o;
    }

    ForwardOutcome bouten(FormatStyle style) const {
        if (t_.spans.size() == 1) return format(style, true);
        // Several targets: all must be present; the decoration is not
        // placed. Each target is kept as its own item so that the
        // annotation can be written back target by target.
        SmallVector<ContentItem, 4> items;
        for (size_t i = 0; i < t_.spans.size(); ++i) {
            if (!precedes(target(i), target_reading(target(i)), open_)) return missing();
            items.push_back(ContentItem::make_text(in_.store.intern(target(i))));
        }
        auto [first, count] = in_.store.push_items(std::span<const ContentItem>(items.data(), items.size()));
        FormatNode f;
        f.mode = t_.nested ? FormatMode::Reparse : FormatMode::Plain;
        f.target = in_.store.content_from_segment(Segment{SegmentTag::Run, first, count});
        f.style = style;
        f.suppressed = FormatPlacement::RenderedElsewhere;
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
        FormatNode f = format_node(covered, *style, FormatPlacement::InPlace);
        f.mode = FormatMode::Plain;
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
        } else {
            // 「n」の注記, also written 「n」注記, and the side note 「n」の傍記.
            for (std::string_view ending : {"」の注記", "」注記", "」の傍記"}) {
                if (!s.ends_with(ending)) continue;
                inner = s.substr(0, s.size() - ending.size());
                break;
            }
            if (inner.empty()) return std::nullopt;
        }
        const std::string reading = target_reading(target(0));
        const std::string_view t = reading;
        if (t.empty() || inner.empty() || inner.find("」") != std::string_view::npos) return std::nullopt;
        std::optional<Cover> c = cover_before(t);
        if (c && !c->only_gaiji) {
            // A ruby or margin note holds text and gaiji only: over rubies
            // the annotation stays a remark, and says why.
            ForwardOutcome o = classified(remark_node(), Span{open_, end_});
            o.result.diagnostic = Diagnostic::simple(DiagTag::ForwardReferentNotStylable, Span{open_, end_});
            return o;
        }
        if (!c) {
            // A note on an earlier occurrence on the line is put there; the
            // annotation itself stays as a remark so its text is kept.
            std::optional<Placement> at;
            if (!ruby) at = place_earlier(t);
            if (!at) return std::nullopt;
            if (!at->only_gaiji) {
                ForwardOutcome o = classified(remark_node(), Span{open_, end_});
                o.result.diagnostic = Diagnostic::simple(DiagTag::ForwardReferentNotStylable, Span{open_, end_});
                return o;
            }
            MarginNoteNode m;
            m.base = plain_content(at->start, at->end, at->constructs);
            m.note = target_content(inner);
            m.side = left ? MarkSide::Left : MarkSide::Right;
            m.placed = true;
            ForwardOutcome o = classified(remark_node(), Span{open_, end_});
            o.result.placed = PlacedFormat{Node::make_margin(m), Span{at->start, at->end}};
            return o;
        }
        const ContentRef base = plain_content(c->start, open_, c->constructs);
        if (ruby) {
            RubyNode r;
            r.base = base;
            r.reading = target_content(inner);
            r.base_style = FormatStyle::none();
            r.side = MarkSide::Left;
            return covered(Node::make_ruby(r), *c);
        }
        MarginNoteNode m;
        m.base = base;
        m.note = target_content(inner);
        m.side = left ? MarkSide::Left : MarkSide::Right;
        return covered(Node::make_margin(m), *c);
    }

    ForwardOutcome heading_hint(HeadingKeyword h) const {
        const std::string_view t = target(0);
        const std::string reading = target_reading(t);
        if (reading.empty()) return {};
        HeadingHintNode hint;
        hint.target = in_.store.intern(t);
        hint.level = h.level;
        hint.style = h.style;
        // Right before the annotation, as plain text, the hint takes the
        // text over; elsewhere (typically the line above, which the fold
        // may promote to a heading) the text stays and the hint only names it.
        if (std::optional<Cover> c = cover_before(reading); c && !c->constructs && reading == t) {
            hint.is_inline = true;
            return covered(Node::make_hint(hint), *c);
        }
        // The line above (which the fold may promote) is read with its
        // markup; anything else must be found by plain search.
        bool markup = false;
        const bool line_above = open_ > 0 && in_.text[open_ - 1] == '\n' && !in_.previous_line.empty() &&
                                in_.previous_line.back().span.end + 1 == open_ &&
                                events_reading(in_.previous_line, *in_.pool, in_.text, in_.store, &markup) == reading;
        if (!line_above && !precedes(t, reading, open_)) return missing();
        hint.is_inline = false;
        return classified(Node::make_hint(hint), Span{open_, end_});
    }

    bool accent_composes(AccentKind accent) const {
        std::string_view t = target(0);
        if (t.empty()) return false;
        utf8::Char c = utf8::decode(t, 0);
        return c.len == t.size() && compose_accent(c.cp, accent).has_value();
    }

    ForwardOutcome dot_accent(std::string_view suffix) const {
        std::string_view t = target(0);
        if (!apply_dot_accents(t, suffix)) return {};
        const FormatStyle style = FormatStyle::of(StyleKind::AccentDot);
        if (!immediately_before(t)) return {};
        FormatNode f = format_node(t, style, FormatPlacement::InPlace);
        f.mode = FormatMode::DotAccent;
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
        f.mode = FormatMode::DotAccent;
        f.spec = in_.store.intern(body_);
        f.target = target_content(word);
        f.style = FormatStyle::of(StyleKind::AccentDot);
        f.suppressed = FormatPlacement::InPlace;
        return classified(Node::make_format(f), Span{start, end_});
    }

    const AnnotationInput& in_;
    std::string_view body_;
    uint32_t open_ = 0;
    uint32_t end_ = 0;
    Targets t_;
};

}  // namespace

namespace {

// The text of a content as it reads: gaiji as ※, directives as nothing.
std::string content_reading(ContentRef ref, const NodeStore& store) {
    std::string out;
    for (const Segment& seg : store.segments(ref)) {
        if (seg.tag == SegmentTag::Text) {
            out += store.resolve(seg.a);
            continue;
        }
        for (const ContentItem& item : store.items(seg.a, seg.b)) {
            if (item.tag == ContentTag::Text) out += store.resolve(item.text);
            if (item.tag == ContentTag::Gaiji) out += "※";
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> node_reading(const Node& n, const NodeStore& store) {
    switch (n.tag) {
        case NodeTag::Ruby:
            if (n.ruby.side != MarkSide::Right) return std::nullopt;
            return content_reading(n.ruby.base, store);
        case NodeTag::Gaiji: return std::string("※");
        case NodeTag::Kaeriten: return std::string();
        // What shows nothing in the line reads as nothing: hidden remarks,
        // hints that only name their target, decorations placed elsewhere.
        case NodeTag::Directive: {
            const RemarkKind k = n.directive.kind;
            if (k == RemarkKind::Legacy || k == RemarkKind::Other || k == RemarkKind::AsInSource || k == RemarkKind::SourceNote ||
                k == RemarkKind::Omission)
                return std::string();
            return std::nullopt;
        }
        case NodeTag::HeadingHint:
            if (n.hint.is_inline) return std::nullopt;
            return std::string();
        case NodeTag::Format: {
            std::string_view single;
            if (n.format.suppressed == FormatPlacement::RenderedElsewhere) return std::string();
            if (n.format.suppressed != FormatPlacement::InPlace) return std::nullopt;
            // A decoration over markup reads as the target its author wrote.
            if (n.format.mode == FormatMode::Reparse && n.format.spec != kNoId) return target_reading(store.resolve(n.format.spec));
            if (n.format.mode != FormatMode::Plain || !store.single_text(n.format.target, &single)) return std::nullopt;
            return std::string(single);
        }
        default: return std::nullopt;
    }
}

std::optional<std::string> events_reading(std::span<const ClassifiedEvent> events, const EventPool& pool,
                                          std::string_view text, const NodeStore& store, bool* markup) {
    std::string out;
    for (size_t i = 0; i < events.size(); ++i) {
        const ClassifiedEvent& e = events[i];
        if (i > 0 && e.span.start != events[i - 1].span.end) return std::nullopt;
        if (e.tag == EventTag::TextRun) {
            out += slice(text, e.span);
            continue;
        }
        std::optional<std::string> r;
        if (e.tag == EventTag::Node) r = node_reading(pool.node(e), store);
        if (!r) return std::nullopt;
        out += *r;
        *markup = true;
    }
    return out;
}

std::string target_reading(std::string_view t) {
    constexpr std::string_view kBar = "｜", kRubyOpen = "《", kRubyClose = "》";
    constexpr std::string_view kOpen = "［", kClose = "］", kHash = "＃", kMark = "※";
    if (t.find(kBar) == std::string_view::npos && t.find(kRubyOpen) == std::string_view::npos &&
        t.find(kOpen) == std::string_view::npos)
        return std::string(t);
    // Where each 《 and ［ closes (one pass, a stack per bracket kind).
    std::vector<uint32_t> closes(t.size() / 3 + 1, 0);
    std::vector<uint32_t> rubies, brackets;
    for (size_t i = 0; i + 3 <= t.size(); ++i) {
        const std::string_view c = t.substr(i, 3);
        if (c == kRubyOpen) rubies.push_back(static_cast<uint32_t>(i));
        if (c == kOpen) brackets.push_back(static_cast<uint32_t>(i));
        std::vector<uint32_t>* stack = c == kRubyClose ? &rubies : c == kClose ? &brackets : nullptr;
        if (stack != nullptr && !stack->empty()) {
            closes[stack->back() / 3] = static_cast<uint32_t>(i + 3);
            stack->pop_back();
        }
    }
    // `closes` is indexed by offset / 3: two brackets are never closer
    // than three bytes, so the slots cannot collide.
    auto close_of = [&](size_t at) -> size_t { return closes[at / 3]; };
    std::string out;
    out.reserve(t.size());
    for (size_t i = 0; i < t.size();) {
        const std::string_view rest = t.substr(i);
        if (rest.starts_with(kBar)) {
            i += kBar.size();
            continue;
        }
        if (rest.starts_with(kRubyOpen) && close_of(i) != 0 && !out.empty()) {  // a reading needs a base
            i = close_of(i);
            continue;
        }
        if (rest.starts_with(kMark) && rest.substr(kMark.size()).starts_with(kOpen) &&
            rest.substr(kMark.size() + kOpen.size()).starts_with(kHash) && close_of(i + kMark.size()) != 0) {
            out += kMark;
            i = close_of(i + kMark.size());
            continue;
        }
        if (rest.starts_with(kOpen) && rest.substr(kOpen.size()).starts_with(kHash) && close_of(i) != 0) {
            i = close_of(i);
            continue;
        }
        out += t[i++];
    }
    if (out.empty()) return std::string(t);  // nothing left: the markup is the text
    return out;
}

void list_forward_targets(std::string_view text, std::span<const PairLink> links, const QuoteIndex::TargetSink& add) {
    constexpr std::string_view kAnnotationOpen = "［＃", kMark = "※";
    std::vector<Span> quotes;  // inner spans of the 「…」 pairs, by start
    for (const PairLink& l : links)
        if (l.kind == PairKind::Quote && l.open.end <= l.close.start) quotes.push_back(Span{l.open.end, l.close.start});
    std::sort(quotes.begin(), quotes.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    const size_t quote_open = std::string_view("「").size(), quote_close = std::string_view("」").size();
    auto quote_at = [&](uint32_t inner_start) -> const Span* {
        auto it = std::lower_bound(quotes.begin(), quotes.end(), inner_start,
                                   [](const Span& q, uint32_t at) { return q.start < at; });
        return it != quotes.end() && it->start == inner_start ? &*it : nullptr;
    };
    for (const Span& first : quotes) {
        if (first.start < quote_open + kAnnotationOpen.size() || first.end > text.size()) continue;
        const size_t open = first.start - quote_open;
        if (text.substr(open - kAnnotationOpen.size(), kAnnotationOpen.size()) != kAnnotationOpen) continue;
        const uint32_t offset = static_cast<uint32_t>(open - kAnnotationOpen.size());
        // ※［＃「…」、…］ names a character, not a target before it.
        if (offset >= kMark.size() && text.substr(offset - kMark.size(), kMark.size()) == kMark) continue;
        for (const Span* q = &first; q != nullptr; q = quote_at(static_cast<uint32_t>(q->end + quote_close + quote_open))) {
            if (q->end > text.size()) break;
            const std::string_view raw = text.substr(q->start, q->end - q->start);
            if (raw.empty()) continue;
            if (!add(raw, offset)) return;
            const std::string reading = target_reading(raw);
            if (reading != raw && !add(reading, offset)) return;
        }
    }
}

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
