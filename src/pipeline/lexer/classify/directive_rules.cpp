#include "pipeline/lexer/classify/directive_rules.hpp"

#include <array>

#include "collections/safe_output.hpp"
#include "collections/text.hpp"
#include "collections/utf8.hpp"
#include "pipeline/lexer/classify/forward.hpp"
#include "pipeline/lexer/classify/gaiji.hpp"
#include "pipeline/lexer/classify/keywords.hpp"
#include "pipeline/lexer/classify/normalise.hpp"

namespace kogane {

namespace {


constexpr std::string_view kKaeritenSeries[3][4] = {
    {"一", "二", "三", "四"},
    {"上", "中", "下", ""},
    {"甲", "乙", "丙", "丁"},
};

// Builds results; every keyword result spans the whole annotation.
class Rules {
public:
    Rules(const AnnotationInput& in, Span whole) : in_(in), whole_(whole) {}

    AnnotationResult node(const Node& n) const {
        AnnotationResult r;
        r.outcome = AnnotationOutcome::Node;
        r.node = n;
        r.span = whole_;
        return r;
    }
    AnnotationResult open(const ContainerSpec& c) const {
        AnnotationResult r;
        r.outcome = AnnotationOutcome::ContainerOpen;
        r.spec = c;
        r.span = whole_;
        return r;
    }
    AnnotationResult close(const ContainerSpec& c) const {
        AnnotationResult r;
        r.outcome = AnnotationOutcome::ContainerClose;
        r.spec = c;
        r.span = whole_;
        return r;
    }
    AnnotationResult leaf(LeafAlignNode l) const { return node(Node::make_leaf(l)); }
    AnnotationResult remark(RemarkKind kind) const {
        return node(Node::make_directive(in_.store.intern(slice(in_.text, whole_)), kind));
    }
    AnnotationResult remark_text(std::string_view text, RemarkKind kind) const {
        return node(Node::make_directive(in_.store.intern(text), kind));
    }
    static ContainerSpec indent(uint8_t amount) {
        IndentSpec p;
        p.amount = amount;
        return ContainerSpec::make_indent(p);
    }
    static ContainerSpec heading_spec(bool block, HeadingKeyword h) {
        return ContainerSpec::make_heading(HeadingSpec{block, h.level, h.style, false});
    }

    std::optional<AnnotationResult> heading(std::string_view body) const {
        if (body.size() > 11 && body.starts_with("ここから")) {
            if (auto h = parse_heading_keyword(body.substr(12)))
                return open(heading_spec(true, *h));
        }
        if (body.starts_with("ここで") && body.ends_with("終わり") && body.size() >= 27) {
            if (auto h = parse_heading_keyword(body.substr(9, body.size() - 18)))
                return close(heading_spec(true, *h));
        }
        if (!body.starts_with("ここで") && body.ends_with("終わり")) {
            if (auto h = parse_heading_keyword(body.substr(0, body.size() - 9)))
                return close(heading_spec(false, *h));
        }
        if (auto h = parse_heading_keyword(body)) return open(heading_spec(false, *h));
        return std::nullopt;
    }

    // N字下げ, or N字下げ[て][、]地よりM字上げ|字あき[で|て]; counts of the
    // second form must be at least 1.
    std::optional<AnnotationResult> indent_leaf(std::string_view s, bool n_at_least_one) const {
        auto n = parse_count(s);
        if (!n) return std::nullopt;
        std::string_view r = n->rest;
        if (!consume(r, "字下げ")) return std::nullopt;
        if (r.empty()) {
            if (n_at_least_one && n->value == 0) return std::nullopt;
            return leaf(LeafAlignNode::indented(n->value));
        }
        consume(r, "て");
        consume(r, "、");
        if (!consume(r, "地より")) return std::nullopt;
        auto m = parse_count(r);
        if (!m) return std::nullopt;
        r = m->rest;
        if (!consume(r, "字上げ") && !consume(r, "字あき")) return std::nullopt;
        if (!r.empty() && r != "で" && r != "て") return std::nullopt;
        if (n->value < 1 || m->value < 1) return std::nullopt;
        return leaf(LeafAlignNode::indented_raised(n->value, m->value));
    }

    std::optional<AnnotationResult> font_size_open(std::string_view s) const {
        auto n = parse_count(s);
        if (!n || n->value < 1 || n->value > 127) return std::nullopt;
        if (n->rest == "段階大きな文字") return open(ContainerSpec::make_font_size(static_cast<int8_t>(n->value)));
        if (n->rest == "段階小さな文字")
            return open(ContainerSpec::make_font_size(static_cast<int8_t>(-static_cast<int>(n->value))));
        return std::nullopt;
    }

    // The modifiers after ここからN字下げ、 each may appear once.
    std::optional<AnnotationResult> compound_indent(uint8_t amount, std::string_view rest) const {
        IndentSpec c;
        c.amount = amount;
        bool wrapped = false;
        enum { kWrap, kCentre, kWidth, kHorizontal, kFramed, kGothic, kSmall, kCount };
        std::array<bool, kCount> seen{};
        auto once = [&](size_t which) {
            if (seen[which]) return false;
            seen[which] = true;
            return true;
        };
        while (true) {
            size_t comma = rest.find("、");
            std::string_view item = rest.substr(0, comma);
            std::string_view it = item;
            bool ok = false;
            if (consume(it, "折り返して")) {
                auto m = parse_count(it);
                if (m && m->rest == "字下げ" && once(kWrap)) {
                    wrapped = true;
                    c.wrap = m->value;
                    ok = true;
                }
            } else if (item == "左右中央" || item == "中央揃え" || item == "ページの左右中央" ||
                       item == "ページの左右中央に") {
                ok = once(kCentre) && (c.centre = true);
            } else if (item == "横組み" || item == "横書き") {
                ok = once(kHorizontal) && (c.horizontal = true);
            } else if (item == "罫囲み") {
                ok = once(kFramed) && (c.framed = true);
            } else if (item == "ゴシック体") {
                ok = once(kGothic) && (c.gothic = true);
            } else if (item == "小さな活字" || item == "小さい活字") {
                ok = once(kSmall);
                c.font_steps = -1;
            } else if (auto n = parse_count(item)) {
                std::string_view r = n->rest;
                if ((r == "段階小さな文字" || r == "段階大きな文字") && n->value >= 1 && n->value <= 127 &&
                    once(kSmall)) {
                    const int steps = r == "段階小さな文字" ? -int(n->value) : int(n->value);
                    c.font_steps = static_cast<int8_t>(steps);
                    ok = true;
                } else if (r == "字詰め" && n->value >= 1 && once(kWidth)) {
                    c.grid = LineGrid::Width;
                    c.width = n->value;
                    ok = true;
                } else if (consume(r, "行")) {
                    auto m = parse_count(r);
                    if (m && (m->rest == "字組み" || m->rest == "字組みで") && once(kWidth)) {
                        c.grid = LineGrid::Kumi;
                        c.kumi_lines = n->value;
                        c.kumi_width = m->value;
                        ok = true;
                    }
                }
            }
            if (!ok) return std::nullopt;
            if (comma == std::string_view::npos) break;
            rest = rest.substr(comma + 3);
        }
        return open(ContainerSpec::make_indent(c, wrapped));
    }

    std::optional<AnnotationResult> illustration(std::string_view body, std::string_view label_end) const {
        // …（path[、size]）入る, or …（path[、size]）「caption」入る
        std::string_view rest = body;
        if (!consume(rest, label_end) || !rest.ends_with("入る")) return std::nullopt;
        rest.remove_suffix(6);
        std::string_view caption;
        bool has_caption = false;
        if (rest.ends_with("」")) {
            size_t p = rest.find("）「");
            if (p == std::string_view::npos) return std::nullopt;
            caption = rest.substr(p + 6, rest.size() - 3 - (p + 6));
            rest = rest.substr(0, p + 3);
            has_caption = true;
        }
        if (!rest.ends_with("）")) return std::nullopt;
        rest.remove_suffix(3);
        size_t comma = rest.find("、");
        std::string_view path = rest.substr(0, comma);
        if (path.empty() || path.find("）") != std::string_view::npos) return std::nullopt;
        IllustrationNode il;
        il.path = in_.store.intern(path);
        if (comma != std::string_view::npos) il.size = in_.store.intern(rest.substr(comma + 3));
        if (has_caption) {
            il.has_caption = true;
            il.caption = in_.store.text_segment(caption);
        }
        AnnotationResult r = node(Node::make_illustration(il));
        if (!is_relative_path(path)) r.diagnostic = Diagnostic::simple(DiagTag::IllustrationPathNotRelative, whole_);
        return r;
    }

    std::optional<AnnotationResult> kaeriten(std::string_view body, bool parenthesised) const {
        AnnotationResult r = node(Node::make_kaeriten(in_.store.intern(body)));
        KaeritenMark mark;
        mark.span = whole_;
        if (!parenthesised) {
            utf8::Char first = utf8::decode(body, 0);
            std::string_view head = body.substr(0, first.len);
            std::string_view tail = body.substr(first.len);
            if (tail.empty() || tail == "レ") {
                for (uint8_t series = 0; series < 3; ++series)
                    for (uint8_t k = 0; k < 4; ++k)
                        if (!kKaeritenSeries[series][k].empty() && head == kKaeritenSeries[series][k]) {
                            mark.series = static_cast<KaeritenSeries>(series);
                            mark.ordinal = static_cast<uint8_t>(k + 1);
                            mark.recognised = true;
                            mark.bracketed = true;
                        }
            }
        }
        r.kaeriten = mark;
        return r;
    }

    std::optional<AnnotationResult> align_end_raised(std::string_view rest) const {
        auto n = parse_count(rest);
        if (n && n->rest == "字上げ") return open(ContainerSpec::make_align_end(n->value));
        return std::nullopt;
    }
    std::optional<AnnotationResult> indent_close(std::string_view rest) const {
        if (rest.empty() || (rest.starts_with("、") && rest.ends_with("終わり")))
            return close(ContainerSpec::of(ContainerKind::Indent));
        return std::nullopt;
    }
    std::optional<AnnotationResult> from_top_wrap(std::string_view rest) const {
        std::string_view r = rest;
        if (!consume(r, "、折り返して")) return std::nullopt;
        return wrap_indent(r);
    }
    std::optional<AnnotationResult> columns_close(std::string_view rest) const {
        if (rest == "段組終わり" || rest == "段組み終わり") return close(ContainerSpec::of(ContainerKind::Columns));
        return std::nullopt;
    }
    static ContainerSpec centred_indent() {
        IndentSpec c;
        c.centre = true;
        return ContainerSpec::make_indent(c);
    }
    AnnotationResult font_size_close(std::string_view body) const {
        const bool larger = body.find("大きな") != std::string_view::npos;
        return close(ContainerSpec::make_font_size(larger ? 1 : -1));
    }
    std::optional<AnnotationResult> block_open(std::string_view rest) const;
    std::optional<AnnotationResult> wrap_indent(std::string_view r) const;
    std::optional<AnnotationResult> indent_grid_close(std::string_view rest) const;
    std::optional<AnnotationResult> small_script(Keyword key, std::string_view rest) const;
    std::optional<AnnotationResult> caption(Keyword key, std::string_view rest) const;
    std::optional<AnnotationResult> line_raised(std::string_view rest) const;
    std::optional<AnnotationResult> line_font_size(Keyword key, std::string_view rest) const;
    std::optional<AnnotationResult> bouten(std::string_view body) const;
    std::optional<AnnotationResult> typeface(std::string_view body) const;
    std::optional<AnnotationResult> bracketed_kaeriten(std::string_view body, std::string_view rest) const;
    std::optional<AnnotationResult> counted(std::string_view body) const;
    std::optional<AnnotationResult> inline_style(std::string_view body) const;
    std::optional<AnnotationResult> apply(const BodyMatch& m, std::string_view body) const;

    const AnnotationInput& in_;
    Span whole_;
};

// Length of the ※［＃…］ gaiji reference at the start of `s`, or 0.
size_t gaiji_reference_length(std::string_view s) {
    constexpr std::string_view kOpen = "※［＃", kClose = "］";
    if (!s.starts_with(kOpen)) return 0;
    const size_t close = s.find(kClose, kOpen.size());
    if (close == std::string_view::npos) return 0;
    const std::string_view body = s.substr(kOpen.size(), close - kOpen.size());
    if (body.find("［") != std::string_view::npos || parse_gaiji_body(body).description.empty()) return 0;
    return close + kClose.size();
}

bool is_kunten_char(uint32_t c) {
    return (c >= 0x3041 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF);
}

// ［＃ここから…］ not matched by a longer keyword: a count and what it counts.
std::optional<AnnotationResult> Rules::block_open(std::string_view rest) const {
    std::string_view r = rest;
    if (consume(r, "改行天付き、折り返して") || consume(r, "天付き、折り返して")) return wrap_indent(r);
    auto n = parse_count(rest);
    if (!n) return std::nullopt;
    std::string_view after = n->rest;
    if (after == "字下げ") return open(indent(n->value));
    if (after == "字詰め" && n->value >= 1) return open(ContainerSpec::make_line_width(n->value));
    if ((after == "段組み" || after == "段組") && n->value >= 1) return open(ContainerSpec::make_columns(n->value));
    if (consume(after, "字下げ、")) return compound_indent(n->value, after);
    return font_size_open(rest);
}

// N字下げ after 折り返して: a block whose wrapped lines are indented.
std::optional<AnnotationResult> Rules::wrap_indent(std::string_view r) const {
    auto n = parse_count(r);
    if (!n || n->rest != "字下げ") return std::nullopt;
    IndentSpec c;
    c.wrap = n->value;
    return open(ContainerSpec::make_indent(c, true));
}

// ここで字下げ、…N字組み終わり (optionally M行N字組み).
std::optional<AnnotationResult> Rules::indent_grid_close(std::string_view rest) const {
    auto n = parse_count(rest);
    if (!n || n->rest != "字組み終わり") {
        size_t line = rest.find("行");
        if (line == std::string_view::npos) return std::nullopt;
        n = parse_count(rest.substr(line + 3));
    }
    if (!n || n->rest != "字組み終わり" || n->value < 1) return std::nullopt;
    IndentSpec c;
    c.kumi_width = n->value;
    return close(ContainerSpec::make_indent(c));
}

std::optional<AnnotationResult> Rules::small_script(Keyword key, std::string_view rest) const {
    if (!rest.empty()) return std::nullopt;
    const bool left = key == Keyword::LeftSmallScript || key == Keyword::LeftSmallScriptEnd;
    const bool closing = key == Keyword::RightSmallScriptEnd || key == Keyword::LeftSmallScriptEnd;
    const ContainerSpec c = ContainerSpec::make_small_script(left ? MarkSide::Left : MarkSide::Right);
    return closing ? close(c) : open(c);
}

std::optional<AnnotationResult> Rules::caption(Keyword key, std::string_view rest) const {
    if (!rest.empty()) return std::nullopt;
    const bool block = key == Keyword::HereCaption || key == Keyword::HereCaptionEnd;
    const bool closing = key == Keyword::CaptionEnd || key == Keyword::HereCaptionEnd;
    const ContainerSpec c = ContainerSpec::make_range(ContainerKind::Caption, block);
    return closing ? close(c) : open(c);
}

// 地からN字上げ and its spellings: the line raised N from the end.
std::optional<AnnotationResult> Rules::line_raised(std::string_view rest) const {
    auto n = parse_count(rest);
    if (!n || n->value < 1) return std::nullopt;
    std::string_view r = n->rest;
    if (r == "字上げ" || r == "字上がり" || r == "字上げ揃え" || r == "字上がり揃え")
        return leaf(LeafAlignNode::aligned_end(n->value));
    return std::nullopt;
}

std::optional<AnnotationResult> Rules::line_font_size(Keyword key, std::string_view rest) const {
    if (!rest.empty() && rest != "、太字") return std::nullopt;
    LineSize size = LineSize::ExtraLarge;
    switch (key) {
        case Keyword::ExtraLargeText: size = LineSize::ExtraLarge; break;
        case Keyword::LargeText: size = LineSize::Large; break;
        case Keyword::MediumText: size = LineSize::Medium; break;
        case Keyword::SmallText: size = LineSize::Small; break;
        default: return std::nullopt;
    }
    return leaf(LeafAlignNode::sized(size, !rest.empty()));
}

std::optional<AnnotationResult> Rules::bouten(std::string_view body) const {
    std::string_view r = body;
    const MarkSide side = consume(r, "左に") ? MarkSide::Left : MarkSide::Right;
    bool closing = false;
    if (r.ends_with("終わり")) {
        r.remove_suffix(9);
        closing = true;
    }
    auto kind = parse_bouten_kind(r);
    if (!kind) return std::nullopt;
    const ContainerSpec c = ContainerSpec::make_bouten(side, *kind);
    return closing ? close(c) : open(c);
}

std::optional<AnnotationResult> Rules::typeface(std::string_view body) const {
    struct Form {
        std::string_view body;
        ContainerKind kind;
        bool closing;
        bool block;
    };
    static constexpr Form kForms[] = {
        {"太字", ContainerKind::Bold, false, false},
        {"ゴシック体", ContainerKind::Gothic, false, false},
        {"斜体", ContainerKind::Italic, false, false},
        {"太字終わり", ContainerKind::Bold, true, false},
        {"ゴシック体終わり", ContainerKind::Gothic, true, false},
        {"斜体終わり", ContainerKind::Italic, true, false},
        {"ここから太字", ContainerKind::Bold, false, true},
        {"ここからゴシック体", ContainerKind::Gothic, false, true},
        {"ここから斜体", ContainerKind::Italic, false, true},
        {"ここで太字終わり", ContainerKind::Bold, true, true},
        {"ここでゴシック体終わり", ContainerKind::Gothic, true, true},
        {"ここで斜体終わり", ContainerKind::Italic, true, true},
    };
    for (const Form& f : kForms) {
        if (body != f.body) continue;
        const ContainerSpec c = ContainerSpec::make_range(f.kind, f.block);
        return f.closing ? close(c) : open(c);
    }
    return std::nullopt;
}

// （ + 1 to 6 kana or kanji + ）; a gaiji reference counts as one character
// (由［＃（※［＃「低のつくり」、…］）］).
std::optional<AnnotationResult> Rules::bracketed_kaeriten(std::string_view body, std::string_view rest) const {
    std::string_view r = rest;
    if (!r.ends_with("）")) return std::nullopt;
    r.remove_suffix(3);
    size_t count = 0;
    for (size_t i = 0; i < r.size();) {
        if (const size_t gaiji = gaiji_reference_length(r.substr(i))) {
            i += gaiji;
            ++count;
            continue;
        }
        utf8::Char c = utf8::decode(r, i);
        if (!is_kunten_char(c.cp)) return std::nullopt;
        i += c.len;
        ++count;
    }
    if (count < 1 || count > 6) return std::nullopt;
    return kaeriten(body, true);
}

std::optional<AnnotationResult> Rules::counted(std::string_view body) const {
    if (auto r = indent_leaf(body, true)) return r;
    return font_size_open(body);
}

// Ranges of the styles otherwise written as 「…」は縦中横 etc.
std::optional<AnnotationResult> Rules::inline_style(std::string_view body) const {
    std::string_view r = body;
    const bool closing = r.ends_with("終わり");
    if (closing) r.remove_suffix(std::string_view("終わり").size());
    const StyleKind style = r == "上付き小文字" ? StyleKind::Superscript
                            : r == "下付き小文字" ? StyleKind::Subscript
                                                  : StyleKind::CombineUpright;
    const ContainerSpec c = ContainerSpec::make_inline_style(style);
    return closing ? close(c) : open(c);
}

std::optional<AnnotationResult> Rules::apply(const BodyMatch& m, std::string_view body) const {
    const std::string_view rest = body.substr(m.end);
    using F = KeywordFamily;
    switch (m.family) {
        case F::IndentBlockOpen: return open(indent(1));
        case F::CentreBlockOpen: return open(centred_indent());
        case F::AlignEndBlockOpen: return open(ContainerSpec::make_align_end(0));
        case F::AlignEndBlockRaised: return align_end_raised(rest);
        case F::BlockOpen: return block_open(rest);
        case F::IndentBlockClose: return indent_close(rest);
        case F::IndentGridClose: return indent_grid_close(rest);
        case F::AlignEndBlockClose: return close(ContainerSpec::of(ContainerKind::AlignEnd));
        case F::LineWidthClose: return close(ContainerSpec::of(ContainerKind::LineWidth));
        case F::TableOpen: return open(ContainerSpec::of(ContainerKind::Table));
        case F::TableClose: return close(ContainerSpec::of(ContainerKind::Table));
        case F::HorizontalOpen: return open(ContainerSpec::of(ContainerKind::Horizontal));
        case F::HorizontalClose: return close(ContainerSpec::of(ContainerKind::Horizontal));
        case F::FontSizeClose: return font_size_close(body);
        case F::SmallScript: return small_script(m.key, rest);
        case F::Caption: return caption(m.key, rest);
        case F::FramedOpen: return open(ContainerSpec::of(ContainerKind::Framed));
        case F::FramedClose: return close(ContainerSpec::of(ContainerKind::Framed));
        case F::WarichuOpen: return open(ContainerSpec::of(ContainerKind::Warichu));
        case F::WarichuClose: return close(ContainerSpec::of(ContainerKind::Warichu));
        case F::WarichuRemarkOpen: return remark_text("［＃割り注］", RemarkKind::WarichuOpen);
        case F::WarichuRemarkClose: return remark_text("［＃割り注終わり］", RemarkKind::WarichuClose);
        case F::FromTop: return indent_leaf(rest, false);
        case F::FromTopWrap: return from_top_wrap(rest);
        case F::HereClose: return columns_close(rest);
        case F::PageBreak: return node(Node::make(NodeTag::PageBreak));
        case F::SectionOddPage: return node(Node::make_section(SectionBreak::OddPage));
        case F::SectionColumn: return node(Node::make_section(SectionBreak::Column));
        case F::SectionSpread: return node(Node::make_section(SectionBreak::Spread));
        case F::BodyEnd: return node(Node::make(NodeTag::BodyEnd));
        case F::ForcedBreak: return node(Node::make(NodeTag::ForcedBreak));
        case F::LineRaised: return line_raised(rest);
        case F::LineAlignEnd: return leaf(LeafAlignNode::aligned_end(0));
        case F::LineCentre: return leaf(LeafAlignNode::centred(m.key == Keyword::PageCentre));
        case F::LineGothic: return leaf(LeafAlignNode::gothic());
        case F::LineFontSize: return line_font_size(m.key, rest);
        case F::Illustration: return illustration(body, "挿絵（");
        case F::Bouten: return bouten(body);
        case F::TypefaceStyle: return typeface(body);
        case F::KaeritenBracketed: return bracketed_kaeriten(body, rest);
        case F::KaeritenSingle: return kaeriten(body, false);
        case F::KaeritenCompound: return kaeriten(body, false);
        case F::Count: return counted(body);
        case F::IndentOne: return leaf(LeafAlignNode::indented(1));  // ［＃字下げ］: one character, as ここから字下げ
        case F::InlineStyle: return inline_style(body);
        case F::None: return std::nullopt;
    }
    return std::nullopt;
}

// Editorial wording recognised without keywords.
std::optional<RemarkKind> editorial_remark(std::string_view body) {
    if (body.empty() || body == "…" || body == "（…）") return RemarkKind::Omission;
    if (body == "ママ" || body.ends_with("はママ") || body == "底本のまま") return RemarkKind::AsInSource;
    if (body.find("底本では") != std::string_view::npos || body.find("初出では") != std::string_view::npos)
        return RemarkKind::SourceNote;
    if (body.starts_with("入力者注(") && body.ends_with(")")) {
        std::string_view digits = body.substr(13, body.size() - 14);
        bool all = !digits.empty();
        for (char c : digits) all = all && c >= '0' && c <= '9';
        if (all) return RemarkKind::InputterNote;
    }
    if (body.starts_with("「") && body.ends_with("」にルビ")) return RemarkKind::RubyNote;
    if (body.starts_with("ルビは「") && body.ends_with("」にかかる")) return RemarkKind::RubySpan;
    if (body == "左にルビ付き") return RemarkKind::LeftRuby;
    if (body.starts_with("左に「") && body.ends_with("」のルビ付き終わり")) return RemarkKind::LeftRubyEnd;
    if (body == "注記付き" || body == "左に注記付き") return RemarkKind::MarginNote;
    if ((body.starts_with("「") || body.starts_with("左に「")) && body.ends_with("」の注記付き終わり"))
        return RemarkKind::MarginNoteEnd;
    return std::nullopt;
}

}  // namespace

std::optional<Count> parse_count(std::string_view text) {
    size_t i = 0;
    uint64_t value = 0;
    bool any = false;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t digit;
        size_t len;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
            len = 1;
        } else if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBC &&
                   static_cast<unsigned char>(text[i + 2]) >= 0x90 && static_cast<unsigned char>(text[i + 2]) <= 0x99) {
            digit = static_cast<unsigned char>(text[i + 2]) - 0x90;
            len = 3;
        } else {
            break;
        }
        value = value * 10 + digit;
        if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;  // saturates
        any = true;
        i += len;
    }
    if (!any || value >= 256) return std::nullopt;
    return Count{static_cast<uint8_t>(value), text.substr(i)};
}

std::optional<HeadingKeyword> parse_heading_keyword(std::string_view text) {
    HeadingKeyword h;
    if (consume(text, "同行"))
        h.style = HeadingStyle::SameLine;
    else if (consume(text, "窓"))
        h.style = HeadingStyle::Window;
    if (text == "大見出し")
        h.level = HeadingLevel::Large;
    else if (text == "中見出し")
        h.level = HeadingLevel::Medium;
    else if (text == "小見出し")
        h.level = HeadingLevel::Small;
    else
        return std::nullopt;
    return h;
}

std::optional<BoutenKind> parse_bouten_kind(std::string_view text) {
    if (text == "×傍点") return BoutenKind::Batsu;
    for (uint8_t k = 0; k < 14; ++k)
        if (text == kBoutenKeywords[k]) return static_cast<BoutenKind>(k);
    return std::nullopt;
}

namespace {

// The text of a body that is one quotation 「…」 and nothing else.
std::optional<std::string_view> sole_quotation(std::string_view body) {
    constexpr std::string_view kOpen = "「", kClose = "」";
    if (body.size() <= kOpen.size() + kClose.size() || !body.starts_with(kOpen) || !body.ends_with(kClose))
        return std::nullopt;
    const std::string_view inner = body.substr(kOpen.size(), body.size() - kOpen.size() - kClose.size());
    if (inner.find(kOpen) != std::string_view::npos || inner.find(kClose) != std::string_view::npos) return std::nullopt;
    return utf8::trim(inner);
}

}  // namespace

std::optional<AnnotationResult> classify_directive(const AnnotationInput& in) {
    if (in.closer >= in.events.size() || in.opener + 1 >= in.closer) return std::nullopt;
    const PairEvent& open = in.events[in.opener];
    const PairEvent& hash = in.events[in.opener + 1];
    const PairEvent& close = in.events[in.closer];
    if (open.tag != PairTag::Open || open.pair_kind() != PairKind::Bracket || close.tag != PairTag::Close ||
        hash.tag != PairTag::Trigger || hash.kind != static_cast<uint8_t>(TriggerKind::Hash))
        return std::nullopt;

    const Span whole{open.start, close.end};
    const std::string_view body = utf8::trim(in.text.substr(hash.end, close.start - hash.end));
    Rules rules(in, whole);

    auto keyword_rules = [&rules](std::string_view b) -> std::optional<AnnotationResult> {
        if (b.empty()) return std::nullopt;
        if (auto r = rules.heading(b)) return r;
        if (auto m = body_pattern_search(b)) {
            if (m->match != KeywordMatch::Whole || m->end == b.size())
                if (auto r = rules.apply(*m, b)) return r;
        }
        return std::nullopt;
    };
    if (auto r = keyword_rules(body)) return r;
    // ［＃「３字下げ」］ is written for ［＃３字下げ］: read it so, and lint.
    if (auto inner = sole_quotation(body)) {
        if (auto r = keyword_rules(*inner)) {
            r->diagnostic = Diagnostic::non_canonical_directive(whole);
            r->canonical = std::string(*inner);
            return r;
        }
    }

    // Fallback chain: forward references, editorial notes, a bare gaiji
    // description, and finally a remark that keeps the text.
    ForwardOutcome fwd = classify_forward(in, body);
    if (fwd.status == ForwardStatus::Classified) return fwd.result;

    if (!body.empty() && !body.starts_with("挿絵（")) {
        // description（file[、size]）入る: the description is the alt text.
        size_t paren = body.find("（");
        if (paren != std::string_view::npos && paren > 0 && body.ends_with("）入る")) {
            if (auto r = rules.illustration(body.substr(paren), "（")) {
                r->node.illustration.alt = in.store.intern(body.substr(0, paren));
                return r;
            }
        }
    }
    if (auto kind = editorial_remark(body)) return rules.remark(*kind);

    if (auto ref = accept_gaiji_body(body)) {
        AnnotationResult r = rules.node(Node::make_gaiji(make_gaiji_item(*ref, true, in.store)));
        if (!resolve_gaiji(gaiji_code_text(ref->mencode), ref->description))
            r.diagnostic = Diagnostic::simple(DiagTag::UnresolvedGaiji, whole);
        return r;
    }

    AnnotationResult r = rules.remark(recognise_legacy_phrase(body) ? RemarkKind::Legacy : RemarkKind::Other);
    if (auto canonical = normalise_spelling(body)) {
        r.diagnostic = Diagnostic::non_canonical_directive(whole);
        r.canonical = std::move(*canonical);
    } else if (fwd.status == ForwardStatus::TargetNotFound) {
        r.diagnostic = Diagnostic::simple(fwd.missing, whole);
    } else if (body.starts_with("ここから")) {
        r.diagnostic = Diagnostic::simple(DiagTag::UnrecognisedContainerDirective, whole);
    }
    return r;
}

}  // namespace kogane
