#include "render/source_emit.hpp"

#include <cstring>
#include <optional>
#include <string_view>

#include "collections/panic.hpp"
#include "collections/utf8.hpp"
#include "encoding/designation.hpp"
#include "json/json_writer.hpp"
#include "pipeline/lexer/classify/forward.hpp"
#include "pipeline/lexer/classify/keywords.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/classify/ruby_base.hpp"
#include "syntax/ast/sentinel_walk.hpp"

namespace kogane {

namespace {

constexpr const char* kLevelNames[3] = {"大見出し", "中見出し", "小見出し"};
constexpr const char* kPlacementWords[3] = {"", "同行", "窓"};

const char* level_name(HeadingLevel level) { return kLevelNames[static_cast<uint8_t>(level) % 3]; }
const char* placement_word(HeadingStyle style) { return kPlacementWords[static_cast<uint8_t>(style) % 3]; }
const char* bouten_name(BoutenKind kind) {
    const auto k = static_cast<uint8_t>(kind);
    return kBoutenKeywords[k < std::size(kBoutenKeywords) ? k : 0];
}

const char* enclosure_name(Enclosure frame) {
    switch (frame) {
        case Enclosure::Ruled: break;
        case Enclosure::Square: return "「□」囲み";
        case Enclosure::Circle: return "○付き文字";
        case Enclosure::DottedCircle: return "点線丸囲み";
        case Enclosure::DoubleRuled: return "二重罫囲み";
    }
    return "罫囲み";
}

const char* accent_name(AccentKind accent) {
    switch (accent) {
        case AccentKind::Acute: break;
        case AccentKind::Diaeresis: return "ウムラウト（¨）付き";
        case AccentKind::Grave: return "アクサン（｀）付き";
    }
    return "アクサン（´）付き";
}
const char* side_word(MarkSide side) { return side == MarkSide::Left ? "左に" : ""; }

// Output sink that caps runs of line feeds at two (one empty line), also
// across pieces.
class CappedWriter {
public:
    explicit CappedWriter(size_t capacity) { out_.reserve(capacity); }

    void write(std::string_view text) {
        size_t run = 0;  // start of the pending copy
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\n') {
                newlines_ = 0;
                continue;
            }
            ++newlines_;
            if (newlines_ > 2) {
                out_.append(text.data() + run, i - run);
                run = i + 1;
            }
        }
        out_.append(text.data() + run, text.size() - run);
    }

    void number(uint64_t n) {
        std::string digits;
        JsonWriter::number_into(digits, n);
        write(digits);
    }

    // The last character written, or None before any output.
    uint32_t last_char() const {
        utf8::Char c = utf8::decode_before(out_, out_.size());
        return c.len == 0 ? utf8::kBad : c.cp;
    }
    bool empty() const { return out_.empty(); }

    std::string take() { return std::move(out_); }

private:
    std::string out_;
    uint32_t newlines_ = 0;
};

class SourceEmitter {
public:
    SourceEmitter(const ParseSnapshot& snap) : snap_(snap), store_(snap.store), w_(snap.normalized.size() * 2) {}

    std::string run() {
        invariant(snap_.normalized.size() <= 0xFFFFFFFFull, "normalized fits u32 per sanitize-stage cap");
        walk_sentinels(snap_.normalized, snap_.registry, *this);
        std::string out = w_.take();
        if (has_rule_line(out)) return isolate_rule_lines(out);
        return out;
    }

    // The walk's visitor.
    static constexpr bool kLineFeeds = false;
    void on_text(std::string_view t) { write_text(t); }
    void on_line_feed(size_t) {}
    void on_sentinel(SentinelKind, const RegistryEntry* e) {
        if (e != nullptr) emit_entry(*e);
        // Every construct ends the text run it follows, except a gaiji or a
        // kaeriten, and a decoration written as its bare target (its
        // annotation stands further on): a ｜ before any of them still
        // opens the base of a later ruby when read back.
        const bool continues_run = e != nullptr && e->kind == SentinelKind::Inline &&
                                   (e->node.tag == NodeTag::Gaiji || e->node.tag == NodeTag::Kaeriten ||
                                    written_as_text(e->node));
        if (!continues_run) bar_in_run_ = false;
    }

private:
    // Plain text between constructs, noting whether the run it ends in
    // holds a ｜.
    void write_text(std::string_view t) {
        w_.write(t);
        const size_t line = t.rfind('\n');
        if (line != std::string_view::npos) bar_in_run_ = false;
        if (t.find("｜", line == std::string_view::npos ? 0 : line) != std::string_view::npos) bar_in_run_ = true;
    }

    void emit_entry(const RegistryEntry& e) {
        switch (e.kind) {
            case SentinelKind::Inline:
            case SentinelKind::BlockLeaf: emit_node(e.node); break;
            case SentinelKind::BlockOpen: emit_open(e.spec); break;
            case SentinelKind::BlockClose: emit_close(e.spec); break;
            default: break;
        }
    }

    // ---- content ---------------------------------------------------------

    void emit_item(const ContentItem& item) {
        switch (item.tag) {
            case ContentTag::Text: w_.write(store_.resolve(item.text)); break;
            case ContentTag::Gaiji: emit_gaiji(item.gaiji); break;
            case ContentTag::InlineDirective: w_.write(store_.resolve(item.text)); break;
        }
    }

    void emit_content(ContentRef ref) {
        for (const Segment& s : store_.segments(ref)) emit_segment(s);
    }

    void emit_segment(const Segment& s) {
        if (s.tag == SegmentTag::Text) {
            w_.write(store_.resolve(s.a));
            return;
        }
        for (const ContentItem& item : store_.items(s.a, s.b)) emit_item(item);
    }

    // Quoted target text: 「…」 around the content, nested nodes in their
    // own spelling.
    void emit_quoted(ContentRef ref) {
        w_.write("「");
        emit_content(ref);
        w_.write("」");
    }

    // Bouten may name several targets: a target kept as several text items
    // is written 「A」「B」…, one quote per item.
    void emit_quoted_targets(ContentRef ref) {
        auto segs = store_.segments(ref);
        if (segs.size() == 1 && segs[0].tag == SegmentTag::Run && segs[0].b > 1) {
            auto items = store_.items(segs[0].a, segs[0].b);
            bool all_text = true;
            for (const ContentItem& it : items) all_text = all_text && it.tag == ContentTag::Text;
            if (all_text) {
                for (const ContentItem& it : items) {
                    w_.write("「");
                    w_.write(store_.resolve(it.text));
                    w_.write("」");
                }
                return;
            }
        }
        emit_quoted(ref);
    }

    // ---- ruby bar --------------------------------------------------------

    // True when the base is one plain text whose characters share one
    // script class; that class is returned through `cls`.
    bool uniform_base(ContentRef base, RubyClass* cls) const {
        std::string_view text;
        if (!store_.single_text(base, &text) || text.empty()) return false;
        utf8::Char last = utf8::decode_before(text, text.size());
        *cls = ruby_base_class(last.cp);
        if (*cls == RubyClass::None) return false;
        for (size_t i = 0; i < text.size();) {
            utf8::Char c = utf8::decode(text, i);
            if (ruby_base_class(c.cp) != *cls) return false;
            i += c.len;
        }
        return true;
    }

    // A decoration on an earlier occurrence of a one-line target without
    // markup is written as that text alone: text of the run it stands in.
    bool written_as_text(const Node& n) const {
        std::string_view target;
        return n.tag == NodeTag::Format && n.format.suppressed == FormatPlacement::OnEarlierOccurrence &&
               store_.single_text(n.format.target, &target) && quotable(target) &&
               target.find('\n') == std::string_view::npos && !container_form(n.format);
    }

    bool ruby_needs_bar(ContentRef base) const {
        // An accent fragment 〔…〕 is a base by itself (and a ｜ before its 〔
        // would not reach it).
        std::string_view whole;
        if (store_.single_text(base, &whole) && whole.starts_with("〔") && whole.ends_with("〕") &&
            whole.find("〕") == whole.size() - std::string_view("〕").size())
            return false;
        // A ｜ written earlier in the same run would otherwise claim the
        // base from there.
        if (bar_in_run_) return true;
        RubyClass cls;
        if (!uniform_base(base, &cls)) return true;
        if (w_.empty()) return false;
        uint32_t before = w_.last_char();
        if (before == 0xFF5C) return true;  // ｜
        if (before == 0xFF3D) return true;  // ］: a gaiji before kanji would join their base
        return ruby_base_class(before) == cls;
    }

    // ---- nodes -----------------------------------------------------------

    void emit_gaiji(const GaijiItem& g) {
        if (!g.no_mark) w_.write("※");
        w_.write("［＃");
        std::string_view desc = store_.resolve(g.description);
        bool quoted = desc.find("「") == std::string_view::npos && desc.find("」") == std::string_view::npos;
        if (quoted) w_.write("「");
        w_.write(desc);
        if (quoted) w_.write("」");
        if (g.code.kind != CodeKind::None) {
            if (g.separated) w_.write("、");
            emit_designation(g.code);
        }
        w_.write("］");
    }

    void emit_designation(const CodeRef& code) {
        switch (code.kind) {
            case CodeKind::Jis: w_.write(jis_designation(code.plane(), code.row(), code.cell())); break;
            case CodeKind::Unicode: {
                std::string s;
                append_code_point(s, code.value);
                w_.write(s);
                break;
            }
            case CodeKind::Text: w_.write(store_.resolve(code.value)); break;
            case CodeKind::None: break;
        }
    }

    // A collapsed ［＃太字］…［＃太字終わり］ is written back as that
    // container, which reads back the same (its forward form could reach
    // other text); so is a decoration over plain text that would not read
    // back as a quoted target (unbalanced 「」, brackets, ruby marks).
    std::optional<ContainerSpec> container_form(const FormatNode& f) const {
        std::string_view text;
        if (f.suppressed != FormatPlacement::InPlace || (f.mode != FormatMode::Plain && f.mode != FormatMode::CollapsedContainer) || !store_.single_text(f.target, &text) ||
            (f.mode == FormatMode::Plain && quotable(text)))
            return std::nullopt;
        ContainerSpec c;
        switch (f.style.kind()) {
            case StyleKind::Bold: c = ContainerSpec::of(ContainerKind::Bold); break;
            case StyleKind::Gothic: c = ContainerSpec::of(ContainerKind::Gothic); break;
            case StyleKind::Italic: c = ContainerSpec::of(ContainerKind::Italic); break;
            case StyleKind::Caption: c = ContainerSpec::of(ContainerKind::Caption); break;
            case StyleKind::SmallScript: c = ContainerSpec::make_small_script(f.style.side()); break;
            case StyleKind::BoutenRight:
            case StyleKind::BoutenLeft:
                c = ContainerSpec::make_bouten(
                    f.style.kind() == StyleKind::BoutenLeft ? MarkSide::Left : MarkSide::Right, f.style.bouten_mark());
                break;
            default: return std::nullopt;
        }
        return c;
    }

    // Whether `text` can stand inside 「…」 of an annotation and read back.
    static bool quotable(std::string_view text) {
        int depth = 0;
        for (size_t i = 0; i + 3 <= text.size(); ++i) {
            const std::string_view c = text.substr(i, 3);
            if (c == "「") ++depth;
            if (c == "」" && --depth < 0) return false;
            if (c == "［" || c == "］" || c == "《" || c == "》" || c == "｜") return false;
        }
        return depth == 0;
    }

    void emit_format_annotation(const FormatNode& f) {
        const FormatStyle style = f.style;
        const StyleKind kind = style.kind();
        if (kind == StyleKind::AccentDot) {
            w_.write("［＃");
            if (f.spec != kNoId) w_.write(store_.resolve(f.spec));
            w_.write("］");
            return;
        }
        w_.write("［＃");
        if (f.mode == FormatMode::Reparse && f.spec != kNoId) {
            // A decoration over markup: the target as its author wrote it.
            w_.write("「");
            w_.write(store_.resolve(f.spec));
            w_.write("」");
        } else if (style.is_bouten()) {
            emit_quoted_targets(f.target);
        } else {
            emit_quoted(f.target);
        }
        if (style.is_bouten()) {
            w_.write(kind == StyleKind::BoutenLeft ? "の左に" : kind == StyleKind::BoutenRight ? "に" : "の両側に");
            w_.write(bouten_name(style.bouten_mark()));
            w_.write("］");
            return;
        }
        w_.write("は");
        switch (kind) {
            case StyleKind::Bold: w_.write("太字"); break;
            case StyleKind::Gothic: w_.write("ゴシック体"); break;
            case StyleKind::Italic: w_.write("斜体"); break;
            case StyleKind::Superscript: w_.write("上付き小文字"); break;
            case StyleKind::Subscript: w_.write("下付き小文字"); break;
            case StyleKind::SmallScript: w_.write(style.side() == MarkSide::Left ? "行左小書き" : "行右小書き"); break;
            case StyleKind::Enclosure: w_.write(enclosure_name(style.frame())); break;
            case StyleKind::Horizontal: w_.write("横組み"); break;
            case StyleKind::Caption: w_.write("キャプション"); break;
            case StyleKind::FontSteps: {
                const int steps = style.steps();
                w_.number(static_cast<uint64_t>(steps < 0 ? -steps : steps));
                w_.write(steps > 0 ? "段階大きな文字" : "段階小さな文字");
                break;
            }
            case StyleKind::FontSize: {
                const LineSize size = style.size() <= LineSize::Small ? style.size() : LineSize::Small;
                w_.write(keyword_text(line_size_keyword(size)));
                break;
            }
            case StyleKind::CombineUpright: w_.write("縦中横"); break;
            case StyleKind::Fraction: w_.write("分数"); break;
            case StyleKind::Accent: w_.write(accent_name(style.accent())); break;
            case StyleKind::AlignEndRun:
                if (style.raise() != 0) {
                    w_.write("文末より");
                    w_.number(style.raise());
                    w_.write("字上げ揃え");
                } else {
                    w_.write("地付き");
                }
                break;
            default: w_.write("太字"); break;
        }
        w_.write("］");
    }

    void emit_node(const Node& n) {
        switch (n.tag) {
            case NodeTag::Ruby: emit_ruby(n.ruby); break;
            case NodeTag::Format: emit_format(n.format); break;
            case NodeTag::Gaiji: emit_gaiji(n.gaiji); break;
            case NodeTag::LeafAlign: emit_leaf(n.leaf); break;
            case NodeTag::PageBreak: emit_keyword(Keyword::PageBreak); break;
            case NodeTag::SectionBreak: emit_keyword(section_keyword(n.section.kind)); break;
            case NodeTag::BodyEnd: emit_keyword(Keyword::BodyEnd); break;
            case NodeTag::ForcedBreak: emit_keyword(Keyword::ForcedBreak); break;
            case NodeTag::Heading: emit_heading(n.heading); break;
            case NodeTag::HeadingHint: emit_heading_hint(n.hint); break;
            case NodeTag::Illustration: emit_illustration(n.illustration); break;
            case NodeTag::Kaeriten: emit_kaeriten(n.kaeriten); break;
            case NodeTag::Directive: w_.write(store_.resolve(n.directive.raw)); break;
            case NodeTag::AngleQuote: emit_angle_quote(n.angle); break;
            case NodeTag::MarginNote: emit_margin_note(n.margin); break;
        }
    }

    static Keyword section_keyword(SectionBreak kind) {
        switch (kind) {
            case SectionBreak::Column: return Keyword::ColumnBreak;
            case SectionBreak::Spread: return Keyword::SpreadBreak;
            default: return Keyword::OddPage;
        }
    }

    void emit_ruby(const RubyNode& r) {
        if (r.side == MarkSide::Left) {
            emit_content(r.base);
            w_.write("［＃「");
            emit_content(r.base);
            w_.write("」の左に「");
            emit_content(r.reading);
            w_.write("」のルビ］");
            return;
        }
        if (ruby_needs_bar(r.base)) w_.write("｜");
        emit_content(r.base);
        w_.write("《");
        emit_content(r.reading);
        w_.write("》");
    }

    void emit_format(const FormatNode& f) {
        if (auto c = container_form(f)) {
            emit_open(*c);
            emit_content(f.target);
            emit_close(*c);
            return;
        }
        // Moved elsewhere or not found: the target text is not here. On an
        // earlier occurrence: the annotation stands at the other site, so
        // only the target is written.
        if (f.suppressed != FormatPlacement::RenderedElsewhere && f.suppressed != FormatPlacement::TargetNotFound)
            emit_content(f.target);
        if (f.suppressed != FormatPlacement::OnEarlierOccurrence) emit_format_annotation(f);
    }

    void emit_heading(const HeadingNode& h) {
        emit_content(h.text);
        w_.write("\n［＃");
        // The line's source is quoted, unless inside a quote it reads
        // otherwise than the target the annotation gave (a gaiji written
        // without its ※ is no gaiji there): that target is written then.
        std::string_view line;
        if (h.markup && h.target != kNoId && store_.single_text(h.text, &line) &&
            target_reading(line) != target_reading(store_.resolve(h.target))) {
            w_.write("「");
            w_.write(store_.resolve(h.target));
            w_.write("」");
        } else {
            emit_quoted(h.text);
        }
        w_.write("は");
        w_.write(placement_word(h.style));
        w_.write(level_name(h.level));
        w_.write("］");
    }

    void emit_heading_hint(const HeadingHintNode& h) {
        // An inline hint took its target text over, so it writes it back.
        if (h.is_inline) w_.write(store_.resolve(h.target));
        w_.write("［＃「");
        w_.write(store_.resolve(h.target));
        w_.write("」は");
        w_.write(placement_word(h.style));
        w_.write(level_name(h.level));
        w_.write("］");
    }

    void emit_kaeriten(const KaeritenNode& k) {
        w_.write("［＃");
        w_.write(store_.resolve(k.mark));
        w_.write("］");
    }

    void emit_angle_quote(const AngleQuoteNode& a) {
        w_.write("≪");
        emit_content(a.content);
        w_.write("≫");
    }

    void emit_margin_note(const MarginNoteNode& m) {
        emit_content(m.base);
        if (m.placed) return;  // the annotation is written where it stood
        w_.write("［＃");
        emit_quoted(m.base);
        w_.write(m.side == MarkSide::Left ? "の左に「" : "に「");
        emit_content(m.note);
        w_.write("」の注記］");
    }

    // ［＃keyword］ in the table's spelling.
    void emit_keyword(Keyword key) {
        w_.write("［＃");
        w_.write(keyword_text(key));
        w_.write("］");
    }

    void emit_leaf(const LeafAlignNode& l) {
        switch (l.layout) {
            case SingleLine::Indent:
                if (l.indent == 1) {
                    emit_keyword(Keyword::Indent);
                } else if (l.indent == 0) {
                    w_.write("［＃天から0字下げ］");  // a bare 0字下げ reads as a remark
                } else {
                    w_.write("［＃");
                    w_.number(l.indent);
                    w_.write("字下げ］");
                }
                break;
            case SingleLine::IndentRaised:
                w_.write("［＃");
                w_.number(l.indent);
                w_.write("字下げ、地より");
                w_.number(l.raise);
                w_.write("字上げで］");
                break;
            case SingleLine::AlignEnd:
                if (l.raise == 0) {
                    emit_keyword(Keyword::AlignEnd);
                } else {
                    w_.write("［＃地から");
                    w_.number(l.raise);
                    w_.write("字上げ］");
                }
                break;
            case SingleLine::Centre: emit_keyword(l.page ? Keyword::PageCentre : Keyword::Centre); break;
            case SingleLine::Gothic: emit_keyword(Keyword::ThisLineGothic); break;
            case SingleLine::FontSize:
                w_.write("［＃");
                w_.write(keyword_text(line_size_keyword(l.size)));
                if (l.bold) w_.write("、太字");
                w_.write("］");
                break;
        }
    }

    void emit_illustration(const IllustrationNode& il) {
        w_.write("［＃");
        // A description written in place of 挿絵 became the alt text.
        if (il.label != kNoId)
            w_.write(store_.resolve(il.label));
        else if (il.alt != kNoId)
            w_.write(store_.resolve(il.alt));
        else
            w_.write("挿絵");
        w_.write("（");
        w_.write(store_.resolve(il.path));
        if (il.size != kNoId) {
            w_.write("、");
            w_.write(store_.resolve(il.size));
        }
        w_.write("）");
        if (il.has_caption) {
            w_.write("「");
            emit_segment(il.caption);
            w_.write("」");
        }
        w_.write("入る］");
    }

    // ---- containers ------------------------------------------------------

    void emit_indent_open(const ContainerSpec& c) {
        const bool wrap = c.kind() == ContainerKind::IndentWrap;
        const IndentSpec& p = c.indent;
        const uint8_t amount = p.amount;
        const bool centre = p.centre, gothic = p.gothic, horizontal = p.horizontal, framed = p.framed;
        const int steps = p.font_steps;
        const bool others = wrap || gothic || horizontal || framed || steps != 0 || p.grid != LineGrid::None;
        if (centre && amount == 0 && !others) {
            w_.write("［＃ここからページの左右中央］");
            return;
        }
        if (amount == 1 && !centre && !others) {
            w_.write("［＃ここから字下げ］");
            return;
        }
        w_.write("［＃ここから");
        w_.number(amount);
        w_.write("字下げ");
        if (wrap) {
            w_.write("、折り返して");
            w_.number(p.wrap);
            w_.write("字下げ");
        }
        if (centre) w_.write("、ページの左右中央に");
        if (p.grid == LineGrid::Width) {
            w_.write("、");
            w_.number(p.width);
            w_.write("字詰め");
        } else if (p.grid == LineGrid::Kumi) {
            w_.write("、");
            w_.number(p.kumi_lines);
            w_.write("行");
            w_.number(p.kumi_width);
            w_.write("字組みで");
        }
        if (gothic) w_.write("、ゴシック体");
        if (horizontal) w_.write("、横書き");
        if (framed) w_.write("、罫囲み");
        if (steps == -1) {
            // The only step an indent can carry is the one 小さな活字 sets.
            w_.write("、小さな活字");
        } else if (steps < 0) {
            w_.write("、");
            w_.number(static_cast<uint64_t>(-steps));
            w_.write("段階小さな文字");
        } else if (steps > 0) {
            w_.write("、");
            w_.number(static_cast<uint64_t>(steps));
            w_.write("段階大きな文字");
        }
        w_.write("］");
    }

    static const char* inline_style_name(StyleKind style) {
        return style == StyleKind::Superscript ? "［＃上付き小文字"
               : style == StyleKind::Subscript ? "［＃下付き小文字"
                                               : "［＃縦中横";
    }

    void emit_open(const ContainerSpec& c) {
        switch (c.kind()) {
            case ContainerKind::Bold: w_.write(c.range.block ? "［＃ここから太字］" : "［＃太字］"); break;
            case ContainerKind::Gothic: w_.write(c.range.block ? "［＃ここからゴシック体］" : "［＃ゴシック体］"); break;
            case ContainerKind::Italic: w_.write(c.range.block ? "［＃ここから斜体］" : "［＃斜体］"); break;
            case ContainerKind::Caption: w_.write(c.range.block ? "［＃ここからキャプション］" : "［＃キャプション］"); break;
            case ContainerKind::Heading: emit_heading_mark(c.heading, c.heading.block ? "ここから" : "", ""); break;
            case ContainerKind::BoutenRange: emit_bouten_mark(c.bouten, ""); break;
            case ContainerKind::SmallScript: w_.write(c.script.side == MarkSide::Left ? "［＃行左小書き］" : "［＃行右小書き］"); break;
            case ContainerKind::InlineStyle: emit_inline_style_mark(c.inline_style, ""); break;
            case ContainerKind::Indent:
            case ContainerKind::IndentWrap: emit_indent_open(c); break;
            case ContainerKind::AlignEnd: emit_align_end_open(c.align_end); break;
            case ContainerKind::LineWidth: emit_counted("［＃ここから", c.line_width.width, "字詰め］"); break;
            case ContainerKind::Table: w_.write("［＃ここから表］"); break;
            case ContainerKind::Columns: emit_counted("［＃ここから", c.columns.count, "段組み］"); break;
            case ContainerKind::Horizontal: w_.write("［＃ここから横組み］"); break;
            case ContainerKind::FontSize: emit_font_size_open(c.font_size); break;
            case ContainerKind::Framed: w_.write("［＃罫囲み］"); break;
            case ContainerKind::Warichu: w_.write("［＃ここから割り注］"); break;
        }
    }

    void emit_close(const ContainerSpec& c) {
        switch (c.kind()) {
            case ContainerKind::Heading: emit_heading_mark(c.heading, c.heading.block ? "ここで" : "", "終わり"); break;
            case ContainerKind::Indent:
            case ContainerKind::IndentWrap: emit_indent_close(c.indent); break;
            case ContainerKind::Warichu: w_.write("［＃ここで割り注終わり］"); break;
            case ContainerKind::Framed: w_.write("［＃罫囲み終わり］"); break;
            case ContainerKind::AlignEnd: w_.write("［＃ここで地付き終わり］"); break;
            case ContainerKind::LineWidth: w_.write("［＃ここで字詰め終わり］"); break;
            case ContainerKind::BoutenRange: emit_bouten_mark(c.bouten, "終わり"); break;
            case ContainerKind::Bold: w_.write(c.range.block ? "［＃ここで太字終わり］" : "［＃太字終わり］"); break;
            case ContainerKind::Gothic: w_.write(c.range.block ? "［＃ここでゴシック体終わり］" : "［＃ゴシック体終わり］"); break;
            case ContainerKind::Italic: w_.write(c.range.block ? "［＃ここで斜体終わり］" : "［＃斜体終わり］"); break;
            case ContainerKind::Columns: w_.write("［＃ここで段組み終わり］"); break;
            case ContainerKind::Table: w_.write("［＃ここで表終わり］"); break;
            case ContainerKind::Horizontal: w_.write("［＃ここで横組み終わり］"); break;
            case ContainerKind::FontSize: w_.write(c.font_size.steps > 0 ? "［＃ここで大きな文字終わり］" : "［＃ここで小さな文字終わり］"); break;
            case ContainerKind::SmallScript: w_.write(c.script.side == MarkSide::Left ? "［＃行左小書き終わり］" : "［＃行右小書き終わり］"); break;
            case ContainerKind::InlineStyle: emit_inline_style_mark(c.inline_style, "終わり"); break;
            case ContainerKind::Caption: w_.write(c.range.block ? "［＃ここでキャプション終わり］" : "［＃キャプション終わり］"); break;
        }
    }

    // ［＃{prefix}{同行|窓}{大|中|小}見出し{suffix}］
    void emit_heading_mark(const HeadingSpec& h, const char* prefix, const char* suffix) {
        w_.write("［＃");
        w_.write(prefix);
        w_.write(placement_word(h.style));
        w_.write(level_name(h.level));
        w_.write(suffix);
        w_.write("］");
    }

    // ［＃{左に}{kind}{suffix}］
    void emit_bouten_mark(const BoutenRangeSpec& b, const char* suffix) {
        w_.write("［＃");
        w_.write(side_word(b.side));
        w_.write(bouten_name(b.mark));
        w_.write(suffix);
        w_.write("］");
    }

    void emit_inline_style_mark(const InlineStyleSpec& s, const char* suffix) {
        w_.write(inline_style_name(s.style));
        w_.write(suffix);
        w_.write("］");
    }

    void emit_counted(const char* before, uint8_t n, const char* after) {
        w_.write(before);
        w_.number(n);
        w_.write(after);
    }

    void emit_align_end_open(const AlignEndSpec& a) {
        if (a.raise == 0)
            w_.write("［＃ここから地付き］");
        else
            emit_counted("［＃ここから地から", a.raise, "字上げ］");
    }

    void emit_font_size_open(const FontSizeSpec& f) {
        const int steps = f.steps;
        w_.write("［＃ここから");
        w_.number(static_cast<uint64_t>(steps < 0 ? -steps : steps));
        w_.write(steps > 0 ? "段階大きな文字］" : "段階小さな文字］");
    }

    void emit_indent_close(const IndentSpec& p) {
        if (p.kumi_width != 0)
            emit_counted("［＃ここで字下げ、", p.kumi_width, "字組み終わり］");
        else
            w_.write("［＃ここで字下げ終わり］");
    }

    const ParseSnapshot& snap_;
    const NodeStore& store_;
    CappedWriter w_;
    bool bar_in_run_ = false;
};

bool structure_untrustworthy(const Diagnostics& diagnostics) {
    for (const Diagnostic& d : diagnostics)
        if (d.tag == DiagTag::UnclosedBracket || d.tag == DiagTag::MismatchedContainerClose ||
            d.tag == DiagTag::NestedRuby)
            return true;
    return false;
}

}  // namespace

std::string emit_source(const KoganeDoc& doc) {
    // With broken bracket structure a partial re-emission could lose text;
    // the source is returned as given instead.
    if (structure_untrustworthy(doc.snapshot().diagnostics)) return std::string(doc.source());
    return SourceEmitter(doc.snapshot()).run();
}

}  // namespace kogane
