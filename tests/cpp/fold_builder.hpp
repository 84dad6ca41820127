#pragma once
// Builds a sanitized text together with the classified events for it, runs
// the fold passes over them, and renders the result: the fold and renderer
// tested without a classifier.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/fold.hpp"
#include "render/html.hpp"

namespace kogane::testing {

class FoldBuilder {
public:
    NodeStore& store() { return snap_.store; }

    // Plain text; each line feed becomes a LineFeed event.
    FoldBuilder& text(std::string_view s) {
        size_t line = 0;
        for (size_t i = 0; i <= s.size(); ++i) {
            if (i < s.size() && s[i] != '\n') continue;
            if (i > line) events_.push_back(ClassifiedEvent::text_run(append(s.substr(line, i - line))));
            if (i < s.size()) events_.push_back(ClassifiedEvent::line_feed(append("\n").start));
            line = i + 1;
        }
        return *this;
    }
    // A node standing for `source` in the text.
    FoldBuilder& node(const Node& n, std::string_view source = "［＃注］") {
        events_.push_back(pool_.of_node(n, append(source)));
        return *this;
    }
    FoldBuilder& open(ContainerSpec s, std::string_view source = "［＃開］") {
        events_.push_back(pool_.open(s, append(source)));
        return *this;
    }
    FoldBuilder& close(ContainerSpec s, std::string_view source = "［＃閉］") {
        events_.push_back(pool_.close(s, append(source)));
        return *this;
    }
    // Raw access for events whose spans do not follow the text order.
    EventList& events() { return events_; }
    Span append(std::string_view s) {
        Span sp{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(text_.size() + s.size())};
        text_ += s;
        return sp;
    }

    const ParseSnapshot& fold() {
        snap_.sanitized = std::make_shared<const std::string>(text_);
        kogane::fold(ClassifiedStream{events_, pool_, {}}, snap_);
        return snap_;
    }
    std::string html() { return render_html(fold()); }

    // Content helpers.
    ContentRef content(std::string_view s) { return store().content_from_segment(store().text_segment(s)); }
    FormatNode format(FormatStyle style, std::string_view target) {
        FormatNode f;
        f.target = content(target);
        f.style = style;
        return f;
    }
    Node ruby(std::string_view base, std::string_view reading) {
        return Node::make_ruby(store().make_ruby(store().text_segment(base), store().text_segment(reading)));
    }
    Node directive(std::string_view raw, RemarkKind kind) { return Node::make_directive(store().intern(raw), kind); }

private:
    ParseSnapshot snap_;
    std::string text_;
    EventList events_;
    EventPool pool_;
};

inline ContainerSpec spec(ContainerKind k) { return ContainerSpec::of(k); }

inline ContainerSpec block_range(ContainerKind k) { return ContainerSpec::make_range(k, true); }

inline ContainerSpec bouten(MarkSide side, BoutenKind mark) { return ContainerSpec::make_bouten(side, mark); }

inline ContainerSpec indent(uint8_t amount) {
    IndentSpec p;
    p.amount = amount;
    return ContainerSpec::make_indent(p);
}

}  // namespace kogane::testing
