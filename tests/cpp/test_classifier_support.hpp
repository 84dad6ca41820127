#pragma once
// Runs the lexer and the classification driver over a text and renders the
// classified stream compactly for assertions.

#include <memory>
#include <string>
#include <vector>

#include "pipeline/lexer/classify/classifier.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"

namespace kogane::classifier_test {

struct Classified {
    std::string text;  // sanitized
    NodeStore store;
    EventList events;
    EventPool pool;
    Diagnostics diagnostics;
    std::vector<KaeritenMark> kaeriten;
};

// Tests answer annotations with results of their own through this.
inline AnnotationDispatch& test_dispatch() {
    static AnnotationDispatch d;
    return d;
}

// `piece_bytes`: how much text the lexer reads at a time.
inline std::unique_ptr<Classified> classify_text(const std::string& source,
                                                 uint32_t piece_bytes = Tokenizer::kPieceBytes,
                                                 uint32_t long_group_events = kLongGroupEvents) {
    auto c = std::make_unique<Classified>();
    // Only the classifier's own diagnostics are kept.
    Diagnostics lexer_diagnostics;
    const SharedText sanitized = sanitize(std::make_shared<const std::string>(source), lexer_diagnostics);
    c->text = *sanitized;
    PairStream events(c->text, lexer_diagnostics, nullptr, piece_bytes);
    const QuoteIndex quotes(c->text);
    ClassifiedStream out =
        classify(events, c->text, c->store, c->diagnostics, &quotes, test_dispatch(), long_group_events);
    c->events = std::move(out.events);
    c->pool = std::move(out.pool);
    c->kaeriten = std::move(out.kaeriten);
    return c;
}

inline std::string content(const NodeStore& store, ContentRef ref) {
    std::string out;
    for (const Segment& seg : store.segments(ref)) {
        if (seg.tag == SegmentTag::Text) {
            out += store.resolve(seg.a);
            continue;
        }
        for (const ContentItem& item : store.items(seg.a, seg.b)) {
            switch (item.tag) {
                case ContentTag::Text: out += store.resolve(item.text); break;
                case ContentTag::Gaiji: out += "{g:" + std::string(store.resolve(item.gaiji.description)) + "}"; break;
                case ContentTag::InlineDirective: out += "{d:" + std::string(store.resolve(item.text)) + "}"; break;
            }
        }
    }
    return out;
}

// t:TEXT, lf, open[..], close[..], ruby[..](base/reading), gaiji[..](desc),
// dir[..], angle[..](content), fmt[..](target); [..] is the event's span.
inline std::string show(const Classified& c) {
    std::string s;
    for (const ClassifiedEvent& e : c.events) {
        if (!s.empty()) s += ' ';
        const std::string at = "[" + std::string(slice(c.text, e.span)) + "]";
        switch (e.tag) {
            case EventTag::TextRun: s += "t:" + std::string(slice(c.text, e.span)); continue;
            case EventTag::LineFeed: s += "lf"; continue;
            case EventTag::ContainerOpen: s += "open" + at; continue;
            case EventTag::ContainerClose: s += "close" + at; continue;
            case EventTag::Node: break;
        }
        const Node& n = c.pool.node(e);
        switch (n.tag) {
            case NodeTag::Ruby:
                s += "ruby" + at + "(" + content(c.store, n.ruby.base) + "/" + content(c.store, n.ruby.reading) + ")";
                break;
            case NodeTag::Gaiji: s += "gaiji" + at + "(" + std::string(c.store.resolve(n.gaiji.description)) + ")"; break;
            case NodeTag::Directive: s += "dir" + at; break;
            case NodeTag::AngleQuote: s += "angle" + at + "(" + content(c.store, n.angle.content) + ")"; break;
            case NodeTag::Format: s += "fmt" + at + "(" + content(c.store, n.format.target) + ")"; break;
            default: s += "node" + std::to_string(uint32_t(n.tag)) + at; break;
        }
    }
    return s;
}

inline std::string show(const std::string& source) { return show(*classify_text(source)); }

// Codes of the diagnostics the classifier itself reported, with their spans.
inline std::string show_diagnostics(const Classified& c) {
    std::string s;
    for (const Diagnostic& d : c.diagnostics) {
        if (!s.empty()) s += ' ';
        s += std::string(d.code()) + "[" + std::string(slice(c.text, d.span)) + "]";
    }
    return s;
}

// Empty when the stream covers every byte once, in order, without gaps or
// overlaps, each span non-empty and on character boundaries, and rubies and
// remarks are well formed; otherwise what went wrong.
inline std::string check_tiling(const Classified& c) {
    uint32_t pos = 0;
    for (size_t i = 0; i < c.events.size(); ++i) {
        const ClassifiedEvent& e = c.events[i];
        const std::string where = "event " + std::to_string(i) + " [" + std::to_string(e.span.start) + "," +
                                  std::to_string(e.span.end) + ")";
        if (e.span.start != pos) return where + " does not start at " + std::to_string(pos);
        if (e.span.end <= e.span.start || e.span.end > c.text.size()) return where + " is empty or out of range";
        if (!is_char_boundary(c.text, e.span.start) || !is_char_boundary(c.text, e.span.end))
            return where + " splits a character";
        if (e.tag == EventTag::LineFeed && c.text[e.span.start] != '\n') return where + " is not a line feed";
        if (e.tag == EventTag::TextRun && slice(c.text, e.span).find('\n') != std::string_view::npos)
            return where + " runs across a line feed";
        pos = e.span.end;
        if (e.tag != EventTag::Node) continue;
        const Node& n = c.pool.node(e);
        if (n.tag == NodeTag::Ruby && (content(c.store, n.ruby.base).empty() || content(c.store, n.ruby.reading).empty()))
            return where + " is a ruby with an empty base or reading";
        if (n.tag == NodeTag::Directive && c.store.resolve(n.directive.raw) != slice(c.text, e.span))
            return where + " is a remark whose text is not its span";
    }
    if (pos != c.text.size()) return "stream ends at " + std::to_string(pos) + " of " + std::to_string(c.text.size());
    return "";
}

}  // namespace kogane::classifier_test
