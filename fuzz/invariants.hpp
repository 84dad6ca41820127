#pragma once
// Checks that hold for every document whatever the input: spans inside the
// source and on character boundaries, well-formed JSON, balanced and safe
// HTML, and a re-emitted source that reads back as the same structure.
// Shared by the fuzz target and the C++ property tests. Each check returns
// an empty string when it holds, else a description of the first problem.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "collections/safe_output.hpp"
#include "collections/span.hpp"
#include "diagnostics_text/report.hpp"
#include "document/document.hpp"
#include "encoding/decode.hpp"
#include "json/views.hpp"
#include "pipeline/lexer/pair.hpp"
#include "render/html.hpp"
#include "render/source_emit.hpp"

namespace kogane::checks {

inline std::string check_span(std::string_view source, Span s, const char* what) {
    if (s.start > s.end || s.end > source.size())
        return std::string(what) + " span out of range: " + std::to_string(s.start) + ".." + std::to_string(s.end);
    if (!is_char_boundary(source, s.start) || !is_char_boundary(source, s.end))
        return std::string(what) + " span not on a character boundary: " + std::to_string(s.start) + ".." +
               std::to_string(s.end);
    return {};
}

// A strict recursive-descent JSON validator (RFC 8259 grammar).
class JsonValidator {
public:
    explicit JsonValidator(std::string_view t) : t_(t) {}

    bool valid() {
        ws();
        if (!value(0)) return false;
        ws();
        return i_ == t_.size();
    }

private:
    bool value(int depth) {
        if (depth > 256 || i_ >= t_.size()) return false;
        char c = t_[i_];
        if (c == '{') return object(depth);
        if (c == '[') return array(depth);
        if (c == '"') return string();
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        return literal("true") || literal("false") || literal("null");
    }
    bool literal(std::string_view w) {
        if (t_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    void ws() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) ++i_;
    }
    bool object(int depth) {
        ++i_;
        ws();
        if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
        while (true) {
            ws();
            if (i_ >= t_.size() || t_[i_] != '"' || !string()) return false;
            ws();
            if (i_ >= t_.size() || t_[i_++] != ':') return false;
            ws();
            if (!value(depth + 1)) return false;
            ws();
            if (i_ >= t_.size()) return false;
            if (t_[i_] == ',') {
                ++i_;
                continue;
            }
            return t_[i_++] == '}';
        }
    }
    bool array(int depth) {
        ++i_;
        ws();
        if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
        while (true) {
            ws();
            if (!value(depth + 1)) return false;
            ws();
            if (i_ >= t_.size()) return false;
            if (t_[i_] == ',') {
                ++i_;
                continue;
            }
            return t_[i_++] == ']';
        }
    }
    bool string() {
        ++i_;
        while (i_ < t_.size()) {
            unsigned char c = static_cast<unsigned char>(t_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (i_ >= t_.size()) return false;
                char e = t_[i_++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i_)
                        if (i_ >= t_.size() || !isxdigit(static_cast<unsigned char>(t_[i_]))) return false;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool number() {
        size_t start = i_;
        if (t_[i_] == '-') ++i_;
        if (i_ >= t_.size()) return false;
        if (t_[i_] == '0') {
            ++i_;
        } else {
            if (t_[i_] < '1' || t_[i_] > '9') return false;
            while (i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') ++i_;
        }
        return i_ > start;
    }

    std::string_view t_;
    size_t i_ = 0;
};

inline bool is_void_element(std::string_view name) { return name == "br" || name == "img"; }

// Every element opened is closed, in order. Text is assumed escaped, so a
// '<' always starts a tag.
inline std::string check_html_balanced(std::string_view html) {
    std::vector<std::string_view> stack;
    size_t i = 0;
    while ((i = html.find('<', i)) != std::string_view::npos) {
        size_t close = html.find('>', i);
        if (close == std::string_view::npos) return "unterminated tag at " + std::to_string(i);
        std::string_view tag = html.substr(i + 1, close - i - 1);
        i = close + 1;
        bool closing = !tag.empty() && tag[0] == '/';
        if (closing) tag.remove_prefix(1);
        size_t name_end = tag.find_first_of(" /");
        std::string_view name = tag.substr(0, name_end);
        if (name.empty()) return "empty tag name";
        if (closing) {
            if (stack.empty() || stack.back() != name)
                return "closing </" + std::string(name) + "> does not match " +
                       (stack.empty() ? std::string("nothing") : "<" + std::string(stack.back()) + ">");
            stack.pop_back();
        } else if (!is_void_element(name) && !(tag.size() >= 1 && tag.back() == '/')) {
            stack.push_back(name);
        }
    }
    if (!stack.empty()) return "unclosed <" + std::string(stack.back()) + ">";
    return {};
}

// Nothing a text says reaches the HTML unsafely: no raw C0 control other
// than tab and line feed, and every image source a relative path.
inline std::string check_html_safe(std::string_view html) {
    for (size_t i = 0; i < html.size(); ++i)
        if (is_unsafe_control(static_cast<unsigned char>(html[i])))
            return "raw control byte " + std::to_string(static_cast<unsigned char>(html[i])) + " at " + std::to_string(i);
    constexpr std::string_view kSrc = " src=\"";
    for (size_t i = 0; (i = html.find(kSrc, i)) != std::string_view::npos;) {
        i += kSrc.size();
        const size_t end = html.find('"', i);
        std::string_view value = html.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
        if (!is_relative_path(value)) return "image source is not a relative path: " + std::string(value);
    }
    return {};
}

// Runs every view of `doc` and checks the invariants.
inline std::string check_document(const KoganeDoc& doc) {
    std::string_view src = doc.source();
    std::string err;
    for (const NodeSpan& n : doc.node_list())
        if (!(err = check_span(src, n.span, "node")).empty()) return err;
    for (const SourcePair& p : doc.pair_list()) {
        if (!(err = check_span(src, p.open, "pair open")).empty()) return err;
        if (!(err = check_span(src, p.close, "pair close")).empty()) return err;
    }
    for (const SourceContainerPair& p : doc.container_pair_list()) {
        if (!(err = check_span(src, p.open, "container open")).empty()) return err;
        if (!(err = check_span(src, p.close, "container close")).empty()) return err;
    }
    for (const GaijiRecord& g : doc.gaiji_list())
        if (!(err = check_span(src, g.span, "gaiji")).empty()) return err;
    for (const Diagnostic& d : doc.diagnostics_in_source())
        if (!(err = check_span(src, d.span, d.code())).empty()) return err;

    const std::string views[] = {nodes_json(doc),       pairs_json(doc),      container_pairs_json(doc),
                                 gaiji_json(doc),       diagnostics_json(doc), slugs_json()};
    for (const std::string& v : views)
        if (!JsonValidator(v).valid()) return "malformed JSON: " + v.substr(0, 200);

    std::string html = render_html(doc.snapshot());
    if (!(err = check_html_balanced(html)).empty()) return "HTML: " + err;
    if (!(err = check_html_safe(html)).empty()) return "HTML: " + err;
    if (!is_valid_utf8(html)) return "HTML is not valid UTF-8";
    // Handed over in pieces (as the host string is built), the HTML joins
    // to the same text and every piece is whole characters.
    struct Join final : HtmlSink {
        std::string joined;
        bool whole_characters = true;
        void write(std::string_view piece) override {
            whole_characters = whole_characters && is_valid_utf8(piece);
            joined += piece;
        }
    } join;
    std::string piece_buffer;
    render_html_pieces(doc.snapshot(), piece_buffer, 16, join);
    if (join.joined != html) return "HTML in pieces differs from the whole HTML";
    if (!join.whole_characters) return "an HTML piece cuts a character";
    std::string source = emit_source(doc);
    if (!is_valid_utf8(source)) return "re-emitted source is not valid UTF-8";
    (void)render_diagnostics_text(doc.diagnostics_in_source(), src);
    return {};
}

// The canonical source reads back as the same structure: parsing
// to_source() gives the same node kinds in the same order.
inline std::string check_round_trip(const KoganeDoc& doc) {
    const std::string emitted = emit_source(doc);
    const DocPtr again = parse_document(std::make_shared<const std::string>(emitted));
    const std::vector<NodeSpan>& before = doc.node_list();
    const std::vector<NodeSpan>& after = again->node_list();
    const size_t common = std::min(before.size(), after.size());
    for (size_t i = 0; i <= common; ++i) {
        if (i == common && before.size() == after.size()) return {};
        const bool differs = i == common || before[i].kind != after[i].kind;
        if (!differs) continue;
        auto kind_at = [](const std::vector<NodeSpan>& list, size_t k) {
            return k < list.size() ? std::string(node_kind_name(list[k].kind)) : std::string("(end)");
        };
        return "round trip changes node " + std::to_string(i) + " from " + kind_at(before, i) + " to " +
               kind_at(after, i) + " (" + std::to_string(before.size()) + " nodes before, " +
               std::to_string(after.size()) + " after); re-emitted: " + emitted.substr(0, 300);
    }
    return {};
}

// annotation_quote_links against the links of the whole text's pairing:
// each 「 right after ［＃ (not ※［＃), and each 「 right after the 」 of one.
inline std::string check_annotation_quotes(std::string_view text) {
    const auto followed = annotation_quote_links(text, size_t(1) << 30);
    if (!followed) return "annotation quotations gave up under a limit they cannot reach";
    std::vector<PairLink> quotes;
    for (const PairLink& l : pair_links(text))
        if (l.kind == PairKind::Quote) quotes.push_back(l);
    std::sort(quotes.begin(), quotes.end(), [](const PairLink& a, const PairLink& b) { return a.open.start < b.open.start; });
    auto opened_at = [&](uint32_t start) -> const PairLink* {
        const auto it = std::lower_bound(quotes.begin(), quotes.end(), start,
                                         [](const PairLink& l, uint32_t at) { return l.open.start < at; });
        return it != quotes.end() && it->open.start == start ? &*it : nullptr;
    };
    std::vector<PairLink> expected;
    for (const PairLink& first : quotes) {
        const uint32_t at = first.open.start;
        if (at < 6 || text.substr(at - 6, 6) != "［＃") continue;
        if (at >= 9 && text.substr(at - 9, 3) == "※") continue;
        for (const PairLink* q = &first; q != nullptr; q = opened_at(q->close.end)) expected.push_back(*q);
    }
    std::sort(expected.begin(), expected.end(), [](const PairLink& a, const PairLink& b) { return a.open.start < b.open.start; });
    expected.erase(std::unique(expected.begin(), expected.end(),
                               [](const PairLink& a, const PairLink& b) { return a.open == b.open; }),
                   expected.end());
    if (followed->size() != expected.size()) return "annotation quotations differ from the pairing's in number";
    for (size_t k = 0; k < expected.size(); ++k)
        if ((*followed)[k].open != expected[k].open || (*followed)[k].close != expected[k].close)
            return "an annotation quotation differs from the pairing's";
    return {};
}

}  // namespace kogane::checks
