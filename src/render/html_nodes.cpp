#include "render/html_nodes.hpp"

#include "collections/safe_output.hpp"
#include "collections/utf8.hpp"

#include <charconv>
#include <optional>

#include "document/document.hpp"
#include "encoding/designation.hpp"
#include "pipeline/lexer/classify/directive.hpp"
#include "pipeline/lexer/classify/gaiji.hpp"
#include "pipeline/lexer/classify/keywords.hpp"
#include "render/html.hpp"
#include "syntax/accents.hpp"

namespace kogane::html {

using namespace std::string_view_literals;

namespace {

// Deeper fragment parses are written as escaped text, which bounds the work
// a caption or reparsed target nested inside another can cause.
constexpr int kMaxFragmentDepth = 8;

constexpr std::string_view kSectionKeywords[3] = {"改丁", "改段", "改見開き"};

// A font-size style's parameter is a LineSize; anything else has no keyword.
// Empty for a value out of the enum's range.
std::string_view size_keyword(LineSize size) {
    return size <= LineSize::Small ? keyword_text(line_size_keyword(size)) : std::string_view();
}

std::string_view bouten_keyword(BoutenKind kind) {
    const auto k = static_cast<uint8_t>(kind);
    return k < std::size(kBoutenKeywords) ? kBoutenKeywords[k] : std::string_view();
}

// The class of an enclosure drawn by its own element; the plain ruled box
// (and a value out of range) is written as a keyword style instead.
const char* enclosure_class(Enclosure frame) {
    switch (frame) {
        case Enclosure::Square: return "kogane-keigakomi-box";
        case Enclosure::Circle: return "kogane-enclosure-circle";
        case Enclosure::DottedCircle: return "kogane-enclosure-circle-dotted";
        case Enclosure::DoubleRuled: return "kogane-enclosure-double-rule";
        case Enclosure::Ruled: break;
    }
    return nullptr;
}

// The inner text of `raw` between `prefix` and `suffix`, when it has both.
std::optional<std::string_view> between(std::string_view raw, std::string_view prefix, std::string_view suffix) {
    if (raw.size() < prefix.size() + suffix.size() || !raw.starts_with(prefix) || !raw.ends_with(suffix))
        return std::nullopt;
    return raw.substr(prefix.size(), raw.size() - prefix.size() - suffix.size());
}


bool all_ascii_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string_view strip_leading_zeros(std::string_view digits) {
    size_t k = 0;
    while (k + 1 < digits.size() && digits[k] == '0') ++k;
    return digits.substr(k);
}

}  // namespace

const char* slug(std::string_view keyword, const char* fallback) {
    const KeywordRow* row = find_keyword(keyword);
    return row && row->html_class ? row->html_class : fallback;
}

bool needs_fragment_parse(std::string_view t) {
    auto pair_after = [t](std::string_view open, std::string_view close) {
        size_t at = t.find(open);
        return at != std::string_view::npos && t.find(close, at + open.size()) != std::string_view::npos;
    };
    return pair_after("《", "》") || pair_after("［＃", "］") || pair_after("≪", "≫");
}

void NodeWriter::number(uint32_t v) {
    char buf[10];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, static_cast<size_t>(r.ptr - buf));
}

void NodeWriter::text(std::string_view t) { append_escaped(out_, t); }

void NodeWriter::text_or_fragment(std::string_view t) {
    if (depth_ >= kMaxFragmentDepth || !needs_fragment_parse(t)) {
        text(t);
        return;
    }
    ParseSnapshot fragment;
    parse_fragment(t, fragment);
    walk_fragment(out_, fragment, depth_ + 1);
}

// Warichu markers inside one piece of content are balanced within it.
void NodeWriter::content(ContentRef ref) {
    uint32_t open_spans = 0;
    for (const Segment& s : store_.segments(ref)) {
        if (s.tag == SegmentTag::Text)
            text(store_.resolve(s.a));
        else
            items(s, open_spans);
    }
    for (; open_spans > 0; --open_spans) out_ += "</span>"sv;
}

void NodeWriter::items(const Segment& run, uint32_t& open_spans) {
    for (const ContentItem& item : store_.items(run.a, run.b)) {
        switch (item.tag) {
            case ContentTag::Text: text(store_.resolve(item.text)); break;
            case ContentTag::Gaiji: gaiji(item.gaiji); break;
            case ContentTag::InlineDirective:
                directive(store_.resolve(item.text), item.directive_kind, open_spans);
                break;
        }
    }
}

void NodeWriter::node(const Node& n, uint32_t& open_spans) {
    switch (n.tag) {
        case NodeTag::Ruby: ruby(n.ruby); break;
        case NodeTag::Format: format(n.format); break;
        case NodeTag::Gaiji: gaiji(n.gaiji); break;
        case NodeTag::LeafAlign: leaf_align(n.leaf); break;
        case NodeTag::PageBreak: out_ += "<div class=\"kogane-page-break\"></div>"sv; break;
        case NodeTag::SectionBreak: section_break(n.section.kind); break;
        case NodeTag::BodyEnd: out_ += "<div class=\"kogane-body-end\"></div>"sv; break;
        case NodeTag::ForcedBreak: out_ += "<br />"sv; break;
        case NodeTag::Heading: heading(n.heading); break;
        case NodeTag::HeadingHint: heading_hint(n.hint); break;
        case NodeTag::Illustration: illustration(n.illustration); break;
        case NodeTag::Kaeriten: kaeriten(n.kaeriten); break;
        case NodeTag::Directive: directive(store_.resolve(n.directive.raw), n.directive.kind, open_spans); break;
        case NodeTag::AngleQuote: angle_quote(n.angle); break;
        case NodeTag::MarginNote: margin_note(n.margin); break;
    }
}

void NodeWriter::section_break(SectionBreak kind) {
    const auto k = static_cast<uint8_t>(kind);
    out_ += "<div class=\"kogane-section-break kogane-section-break-"sv;
    out_ += k < 3 ? slug(kSectionKeywords[k], "other") : "other";
    out_ += "\"></div>"sv;
}

void NodeWriter::heading(const HeadingNode& h) {
    heading_open(h.level, h.style);
    if (std::string_view line; h.markup && store_.single_text(h.text, &line))
        text_or_fragment(line);
    else
        content(h.text);
    heading_close(h.level, h.style);
}

void NodeWriter::kaeriten(const KaeritenNode& k) {
    out_ += "<sup class=\"kogane-kaeriten\">"sv;
    text_or_fragment(store_.resolve(k.mark));  // it may hold a gaiji
    out_ += "</sup>"sv;
}

void NodeWriter::angle_quote(const AngleQuoteNode& a) {
    out_ += "<span class=\"kogane-angle-quote\">《"sv;
    content(a.content);
    out_ += "》</span>"sv;
}

void NodeWriter::margin_note(const MarginNoteNode& m) {
    out_ += "<ruby>"sv;
    content(m.base);
    out_ += "<rp>(</rp><rt class=\"kogane-margin-note\">"sv;
    content(m.note);
    out_ += "</rt><rp>)</rp></ruby>"sv;
}

void NodeWriter::ruby(const RubyNode& r) {
    out_ += "<ruby>"sv;
    if (r.base_style.present())
        styled(r.base_style, r.base, FormatMode::Plain, kNoId);
    else
        content(r.base);
    out_ += r.side == MarkSide::Left ? "<rp>(</rp><rt class=\"kogane-ruby-left\">"sv : "<rp>(</rp><rt>"sv;
    content(r.reading);
    out_ += "</rt><rp>)</rp></ruby>"sv;
}

void NodeWriter::format(const FormatNode& f) {
    if (f.suppressed == FormatPlacement::RenderedElsewhere) return;  // the decoration was placed on an earlier occurrence
    styled(f.style, f.target, f.mode, f.spec);
}

void NodeWriter::styled(FormatStyle style, ContentRef target, FormatMode mode, StringId spec) {
    std::string_view single;
    const bool is_single = store_.single_text(target, &single);
    // A reparse target is source that holds markup (a decoration over
    // rubies or gaiji): it renders as the text would.
    auto content = [&](ContentRef ref) {
        if (mode == FormatMode::Reparse && is_single)
            text_or_fragment(single);
        else
            this->content(ref);
    };
    switch (style.kind()) {
        case StyleKind::BoutenRight:
        case StyleKind::BoutenLeft:
        case StyleKind::BoutenBoth:
            out_ += "<em class=\"kogane-bouten kogane-bouten-"sv;
            out_ += slug(bouten_keyword(style.bouten_mark()), "other");
            out_ += style.kind() == StyleKind::BoutenRight  ? " kogane-bouten-right\">"
                    : style.kind() == StyleKind::BoutenLeft ? " kogane-bouten-left\">"sv
                                                            : " kogane-bouten-both\">"sv;
            content(target);
            out_ += "</em>"sv;
            return;
        case StyleKind::CombineUpright:
            out_ += "<span class=\"kogane-combine-upright\">"sv;
            content(target);
            out_ += "</span>"sv;
            return;
        case StyleKind::Enclosure: {
            const char* frame = enclosure_class(style.frame());
            if (frame == nullptr) break;
            out_ += "<span class=\""sv;
            out_ += frame;
            out_ += "\">"sv;
            content(target);
            out_ += "</span>"sv;
            return;
        }
        case StyleKind::FontSteps: {
            const int8_t steps = style.steps();
            out_ += steps < 0 ? "<span class=\"kogane-font-smaller\" data-steps=\""sv
                              : "<span class=\"kogane-font-larger\" data-steps=\""sv;
            number(static_cast<uint32_t>(steps < 0 ? -steps : steps));
            out_ += "\">"sv;
            content(target);
            out_ += "</span>"sv;
            return;
        }
        case StyleKind::Fraction:
            out_ += "<span class=\"kogane-bunsu\">"sv;
            if (is_single) {
                size_t slash = std::min(single.find('/'), single.find("／"));
                if (slash == std::string_view::npos) {
                    text(single);
                } else {
                    const size_t width = single[slash] == '/' ? 1 : 3;
                    out_ += "<sup>"sv;
                    text(single.substr(0, slash));
                    out_ += "</sup>⁄<sub>"sv;
                    text(single.substr(slash + width));
                    out_ += "</sub>"sv;
                }
            } else {
                content(target);
            }
            out_ += "</span>"sv;
            return;
        case StyleKind::AccentDot:
            out_ += "<span class=\"kogane-accent-dot\">"sv;
            if (mode == FormatMode::DotAccent && is_single) {
                std::optional<std::string> dotted;
                if (spec != kNoId) dotted = apply_dot_accents(single, store_.resolve(spec));
                text(dotted ? std::string_view(*dotted) : single);
            } else {
                content(target);
            }
            out_ += "</span>"sv;
            return;
        case StyleKind::Accent:
            out_ += "<span class=\"kogane-accent\">"sv;
            if (is_single) {
                std::optional<uint32_t> composed;
                if (!single.empty()) composed = compose_accent(utf8::decode(single, 0).cp, style.accent());
                if (composed)
                    utf8::append(out_, *composed);
                else
                    text(single);
            } else {
                content(target);
            }
            out_ += "</span>"sv;
            return;
        case StyleKind::AlignEndRun:
            out_ += "<span class=\"kogane-align-end\" data-offset=\""sv;
            number(style.raise());
            out_ += "\">"sv;
            content(target);
            out_ += "</span>"sv;
            return;
        default: break;
    }

    // Keyword styles: the element and the slug of the style's keyword.
    std::string_view keyword;
    const char* element = "span";
    switch (style.kind()) {
        case StyleKind::Bold: keyword = "太字", element = "b"; break;
        case StyleKind::Gothic: keyword = "ゴシック体", element = "b"; break;
        case StyleKind::Italic: keyword = "斜体", element = "i"; break;
        case StyleKind::Superscript: keyword = "上付き小文字", element = "sup"; break;
        case StyleKind::Subscript: keyword = "下付き小文字", element = "sub"; break;
        case StyleKind::SmallScript: keyword = style.side() == MarkSide::Left ? "行左小書き" : "行右小書き"; break;
        case StyleKind::Enclosure: keyword = "罫囲み"; break;
        case StyleKind::Horizontal: keyword = "横組み"; break;
        case StyleKind::Caption: keyword = "キャプション"; break;
        case StyleKind::FontSize: keyword = size_keyword(style.size()); break;
        default: break;
    }
    out_ += '<';
    out_ += element;
    out_ += " class=\"kogane-"sv;
    out_ += slug(keyword, "futoji");
    out_ += "\">"sv;
    content(target);
    out_ += "</"sv;
    out_ += element;
    out_ += '>';
}

void NodeWriter::gaiji(const GaijiItem& g) {
    const std::string_view description = store_.resolve(g.description);
    std::string designation;
    std::optional<std::string_view> code;
    switch (g.code.kind) {
        case CodeKind::None: break;
        case CodeKind::Jis:
            append_jis_designation(designation, g.code.plane(), g.code.row(), g.code.cell());
            code = designation;
            break;
        case CodeKind::Unicode:
            append_code_point(designation, g.code.value);
            code = designation;
            break;
        case CodeKind::Text: code = gaiji_code_text(store_.resolve(g.code.value)); break;
    }
    const std::optional<GaijiResolution> resolved = resolve_gaiji(code, description);
    if (!resolved) {
        out_ += "<span class=\"kogane-gaiji\" data-description=\""sv;
        text(description);
        out_ += "\">"sv;
        text(description);
        out_ += "</span>"sv;
        return;
    }
    out_ += "<span class=\"kogane-gaiji\" data-codepoint=\""sv;
    if (resolved->single) {
        append_code_point(out_, resolved->codepoint);
    } else {
        const std::string_view chars = resolved->text;
        for (size_t i = 0; i < chars.size();) {
            if (i != 0) out_ += ' ';
            const utf8::Char c = utf8::decode(chars, i);
            append_code_point(out_, c.cp);
            i += c.len;
        }
    }
    out_ += "\">"sv;
    // A description can resolve to markup characters such as < or &.
    text(resolved->text);
    out_ += "</span>"sv;
}

void NodeWriter::leaf_align(const LeafAlignNode& leaf) {
    switch (leaf.layout) {
        case SingleLine::Indent:
            out_ += "<span class=\"kogane-indent kogane-indent-"sv;
            number(leaf.indent);
            out_ += "\" data-amount=\""sv;
            number(leaf.indent);
            out_ += "\"></span>"sv;
            return;
        case SingleLine::IndentRaised:
            out_ += "<span class=\"kogane-indent kogane-indent-"sv;
            number(leaf.indent);
            out_ += " kogane-align-end kogane-align-end-"sv;
            number(leaf.raise);
            out_ += "\" data-amount=\""sv;
            number(leaf.indent);
            out_ += "\" data-offset=\""sv;
            number(leaf.raise);
            out_ += "\"></span>"sv;
            return;
        case SingleLine::AlignEnd:
            if (leaf.raise == 0) {
                out_ += "<span class=\"kogane-align-end\" data-offset=\"0\"></span>"sv;
                return;
            }
            out_ += "<span class=\"kogane-align-end kogane-align-end-"sv;
            number(leaf.raise);
            out_ += "\" data-offset=\""sv;
            number(leaf.raise);
            out_ += "\"></span>"sv;
            return;
        case SingleLine::Centre: out_ += "<span class=\"kogane-center\"></span>"sv; return;
        case SingleLine::Gothic: out_ += "<span class=\"kogane-line-goshikku\"></span>"sv; return;
        case SingleLine::FontSize:
            out_ += "<span class=\"kogane-line-"sv;
            out_ += keyword_row(line_size_keyword(leaf.size)).html_class;
            if (leaf.bold) out_ += " kogane-line-futoji"sv;
            out_ += "\"></span>"sv;
            return;
    }
}

namespace {

const char* heading_element(HeadingLevel level, HeadingStyle style) {
    if (style == HeadingStyle::Window) return "div";
    return level == HeadingLevel::Large ? "h1" : level == HeadingLevel::Medium ? "h2" : "h3";
}

const char* heading_size(HeadingLevel level) {
    return level == HeadingLevel::Large ? "large" : level == HeadingLevel::Medium ? "medium" : "small";
}

}  // namespace

void NodeWriter::heading_open(HeadingLevel level, HeadingStyle style) {
    out_ += '<';
    out_ += heading_element(level, style);
    out_ += " class=\"kogane-heading kogane-heading-"sv;
    out_ += heading_size(level);
    if (style == HeadingStyle::SameLine) out_ += " kogane-heading-same-line"sv;
    if (style == HeadingStyle::Window) out_ += " kogane-heading-window"sv;
    out_ += "\">"sv;
}

void NodeWriter::heading_close(HeadingLevel level, HeadingStyle style) {
    out_ += "</"sv;
    out_ += heading_element(level, style);
    out_ += '>';
}

void NodeWriter::heading_hint(const HeadingHintNode& h) {
    out_ += "<span class=\"kogane-heading-hint\" data-level=\""sv;
    number(uint32_t(h.level) + 1);
    out_ += '"';
    if (h.style == HeadingStyle::SameLine) out_ += " data-style=\"same-line\""sv;
    if (h.style == HeadingStyle::Window) out_ += " data-style=\"window\""sv;
    if (h.is_inline) {
        out_ += '>';
        text(store_.resolve(h.target));
        out_ += "</span>"sv;
    } else {
        out_ += " data-target=\""sv;
        text(store_.resolve(h.target));
        out_ += "\" hidden></span>"sv;
    }
}

void NodeWriter::illustration(const IllustrationNode& il) {
    auto caption = [&] {
        if (!il.has_caption) return;
        out_ += "<figcaption>"sv;
        if (il.caption.tag == SegmentTag::Text) {
            text_or_fragment(store_.resolve(il.caption.a));
        } else {
            uint32_t open_spans = 0;
            items(il.caption, open_spans);
            for (; open_spans > 0; --open_spans) out_ += "</span>"sv;
        }
        out_ += "</figcaption>"sv;
    };
    const std::string_view path = store_.resolve(il.path);
    if (!is_relative_path(path)) {
        // Not an image source we may hand a browser: the name stays
        // readable as text (the parse reported it).
        out_ += "<figure class=\"kogane-illustration\"><span class=\"kogane-illustration-name\">"sv;
        text(path);
        out_ += "</span>"sv;
        caption();
        out_ += "</figure>"sv;
        return;
    }
    out_ += "<figure class=\"kogane-illustration\"><img src=\""sv;
    text(path);
    out_ += '"';
    if (il.size != kNoId) {
        // 横W×縦H with ASCII digits.
        std::string_view size = store_.resolve(il.size);
        constexpr std::string_view kWide = "横", kTimes = "×縦";
        if (size.starts_with(kWide)) {
            size.remove_prefix(kWide.size());
            size_t times = size.find(kTimes);
            if (times != std::string_view::npos) {
                std::string_view w = size.substr(0, times), h = size.substr(times + kTimes.size());
                if (all_ascii_digits(w) && all_ascii_digits(h)) {
                    out_ += " width=\""sv;
                    out_ += strip_leading_zeros(w);
                    out_ += "\" height=\""sv;
                    out_ += strip_leading_zeros(h);
                    out_ += '"';
                }
            }
        }
    }
    out_ += " alt=\""sv;
    if (il.alt != kNoId) text(store_.resolve(il.alt));
    out_ += "\" />"sv;
    caption();
    out_ += "</figure>"sv;
}

void NodeWriter::directive(std::string_view raw, RemarkKind kind, uint32_t& open_spans) {
    switch (kind) {
        case RemarkKind::WarichuOpen:
            out_ += "<span class=\"kogane-warichu\">"sv;
            ++open_spans;
            return;
        case RemarkKind::WarichuClose:
            if (open_spans == 0) return;  // nothing of ours to close
            out_ += "</span>"sv;
            --open_spans;
            return;
        case RemarkKind::InputterNote:
            out_ += "<sup class=\"kogane-editor-note\">注"sv;
            text(between(raw, "［＃入力者注(", ")］").value_or(raw));
            out_ += "</sup>"sv;
            return;
        case RemarkKind::RubyNote:
        case RemarkKind::RubySpan: out_ += "<sup class=\"kogane-ruby-note\">ルビ</sup>"sv; return;
        case RemarkKind::LeftRuby: out_ += "<sup class=\"kogane-ruby-note\">左ルビ</sup>"sv; return;
        case RemarkKind::LeftRubyEnd:
            out_ += "<sup class=\"kogane-ruby-note\">左ルビ「"sv;
            text(between(raw, "［＃左に「", "」のルビ付き終わり］").value_or(raw));
            out_ += "」</sup>"sv;
            return;
        case RemarkKind::KaeritenInBase:
            out_ += "<sup class=\"kogane-kaeriten\">"sv;
            text_or_fragment(between(raw, "［＃", "］").value_or(raw));
            out_ += "</sup>"sv;
            return;
        case RemarkKind::MarginNote:
            out_ += raw.starts_with("［＃左に") ? "<sup class=\"kogane-margin-note\">左注記</sup>"sv
                                                : "<sup class=\"kogane-margin-note\">注記</sup>"sv;
            return;
        case RemarkKind::MarginNoteEnd: {
            constexpr std::string_view kSuffix = "」の注記付き終わり］";
            if (auto t = between(raw, "［＃左に「", kSuffix)) {
                out_ += "<sup class=\"kogane-margin-note\">左注記「"sv;
                text(*t);
            } else {
                out_ += "<sup class=\"kogane-margin-note\">注記「"sv;
                text(between(raw, "［＃「", kSuffix).value_or(raw));
            }
            out_ += "」</sup>"sv;
            return;
        }
        default:
            out_ += "<span class=\"kogane-directive\" hidden>"sv;
            text(raw);
            out_ += "</span>"sv;
            return;
    }
}

void NodeWriter::indent_open(const ContainerSpec& s) {
    const IndentSpec& p = s.indent;
    const bool wrap = s.kind() == ContainerKind::IndentWrap;
    const int8_t steps = p.font_steps;
    out_ += "<div class=\"kogane-container kogane-container-indent kogane-container-indent-"sv;
    number(p.amount);
    if (wrap) out_ += " kogane-container-wrap-indent"sv;
    if (p.centre) out_ += " kogane-container-center"sv;
    if (p.grid == LineGrid::Width) out_ += " kogane-container-line-width"sv;
    if (p.grid == LineGrid::Kumi) out_ += " kogane-container-line-kumi"sv;
    if (p.gothic) out_ += " kogane-container-goshikku"sv;
    if (p.horizontal) out_ += " kogane-container-yokogumi"sv;
    if (p.framed) out_ += " kogane-container-keigakomi"sv;
    if (steps > 0) out_ += " kogane-container-font-larger"sv;
    if (steps < 0) out_ += " kogane-container-font-smaller"sv;
    out_ += "\" data-amount=\""sv;
    number(p.amount);
    out_ += '"';
    if (wrap) {
        out_ += " data-wrap=\""sv;
        number(p.wrap);
        out_ += '"';
    }
    if (p.grid == LineGrid::Width) {
        out_ += " data-width=\""sv;
        number(p.width);
        out_ += '"';
    } else if (p.grid == LineGrid::Kumi) {
        out_ += " data-kumi-lines=\""sv;
        number(p.kumi_lines);
        out_ += "\" data-kumi-width=\""sv;
        number(p.kumi_width);
        out_ += '"';
    }
    if (steps != 0) {
        out_ += " data-steps=\""sv;
        number(static_cast<uint32_t>(steps < 0 ? -steps : steps));
        out_ += '"';
    }
    out_ += '>';
}

void NodeWriter::container_open(const ContainerSpec& s) {
    const bool block = !s.is_inline();
    switch (s.kind()) {
        case ContainerKind::Bold: out_ += block ? "<div class=\"kogane-container kogane-container-futoji\">"sv : "<b class=\"kogane-futoji\">"sv; return;
        case ContainerKind::Gothic: out_ += block ? "<div class=\"kogane-container kogane-container-goshikku\">"sv : "<b class=\"kogane-goshikku\">"sv; return;
        case ContainerKind::Italic: out_ += block ? "<div class=\"kogane-container kogane-container-shatai\">"sv : "<i class=\"kogane-shatai\">"sv; return;
        case ContainerKind::Caption: out_ += block ? "<div class=\"kogane-container kogane-caption\">"sv : "<span class=\"kogane-caption\">"sv; return;
        case ContainerKind::BoutenRange: bouten_open(s.bouten); return;
        case ContainerKind::SmallScript: out_ += s.script.side == MarkSide::Left ? "<span class=\"kogane-kogaki-left\">"sv : "<span class=\"kogane-kogaki-right\">"sv; return;
        case ContainerKind::InlineStyle: inline_style_open(s.inline_style); return;
        case ContainerKind::Heading: block ? heading_open(s.heading.level, s.heading.style) : run_in_heading_open(s.heading); return;
        case ContainerKind::AlignEnd: counted_div_open("kogane-container-align-end\" data-offset", s.align_end.raise); return;
        case ContainerKind::LineWidth: counted_div_open("kogane-container-line-width\" data-width", s.line_width.width); return;
        case ContainerKind::Table: out_ += "<div class=\"kogane-container kogane-container-table\">"sv; return;
        case ContainerKind::Columns: counted_div_open("kogane-container-columns\" data-columns", s.columns.count); return;
        case ContainerKind::Horizontal: out_ += block ? "<div class=\"kogane-container kogane-container-yokogumi\">"sv : "<span class=\"kogane-yokogumi\">"sv; return;
        case ContainerKind::FontSize: font_size_open(s.font_size, block); return;
        case ContainerKind::Framed: out_ += "<div class=\"kogane-container kogane-container-keigakomi\">"sv; return;
        case ContainerKind::Warichu: out_ += block ? "<div class=\"kogane-container kogane-container-warichu\">"sv : "<span class=\"kogane-warichu\">"sv; return;
        case ContainerKind::Indent:
        case ContainerKind::IndentWrap:
        default: indent_open(s); return;
    }
}

void NodeWriter::bouten_open(const BoutenRangeSpec& b) {
    out_ += "<em class=\"kogane-bouten kogane-bouten-"sv;
    out_ += slug(bouten_keyword(b.mark), "other");
    out_ += b.side == MarkSide::Left ? " kogane-bouten-left\">"sv : " kogane-bouten-right\">"sv;
}

void NodeWriter::inline_style_open(const InlineStyleSpec& s) {
    out_ += s.style == StyleKind::Superscript ? "<sup class=\"kogane-uwatsuki\">"
            : s.style == StyleKind::Subscript ? "<sub class=\"kogane-shitatsuki\">"sv
                                         : "<span class=\"kogane-combine-upright\">"sv;
}

// A heading that runs into the text of its line.
void NodeWriter::run_in_heading_open(const HeadingSpec& h) {
    out_ += "<span class=\"kogane-heading kogane-heading-"sv;
    out_ += heading_size(h.level);
    out_ += h.style == HeadingStyle::Window ? " kogane-heading-window"sv : " kogane-heading-same-line"sv;
    out_ += "\" role=\"heading\" aria-level=\""sv;
    number(uint32_t(h.level) + 1);
    out_ += "\">"sv;
}

// <div class="kogane-container {classes_and_attribute}="{n}">
void NodeWriter::counted_div_open(std::string_view classes_and_attribute, uint32_t n) {
    out_ += "<div class=\"kogane-container "sv;
    out_ += classes_and_attribute;
    out_ += "=\""sv;
    number(n);
    out_ += "\">"sv;
}

void NodeWriter::font_size_open(const FontSizeSpec& f, bool block) {
    const int8_t steps = f.steps;
    if (!block)
        out_ += steps < 0 ? "<span class=\"kogane-font-smaller\" data-steps=\""sv
                          : "<span class=\"kogane-font-larger\" data-steps=\""sv;
    else
        out_ += steps < 0 ? "<div class=\"kogane-container kogane-container-font-smaller\" data-steps=\""sv
                          : "<div class=\"kogane-container kogane-container-font-larger\" data-steps=\""sv;
    number(static_cast<uint32_t>(steps < 0 ? -steps : steps));
    out_ += "\">"sv;
}

void NodeWriter::container_close(const ContainerSpec& s) {
    const bool block = !s.is_inline();
    switch (s.kind()) {
        case ContainerKind::Bold:
        case ContainerKind::Gothic: out_ += block ? "</div>"sv : "</b>"sv; return;
        case ContainerKind::Italic: out_ += block ? "</div>"sv : "</i>"sv; return;
        case ContainerKind::Caption: out_ += block ? "</div>"sv : "</span>"sv; return;
        case ContainerKind::BoutenRange: out_ += "</em>"sv; return;
        case ContainerKind::SmallScript: out_ += "</span>"sv; return;
        case ContainerKind::InlineStyle:
            out_ += s.inline_style.style == StyleKind::Superscript ? "</sup>"
                    : s.inline_style.style == StyleKind::Subscript ? "</sub>"sv
                                                              : "</span>"sv;
            return;
        case ContainerKind::Heading:
            if (block)
                heading_close(s.heading.level, s.heading.style);
            else
                out_ += "</span>"sv;
            return;
        default: out_ += block ? "</div>"sv : "</span>"sv; return;
    }
}

}  // namespace kogane::html
