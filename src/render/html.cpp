#include "render/html.hpp"

#include <cstring>

namespace kogane {

void append_escaped(std::string& out, std::string_view text) {
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* rep;
        switch (text[i]) {
            case '&': rep = "&amp;"; break;
            case '<': rep = "&lt;"; break;
            case '>': rep = "&gt;"; break;
            case '"': rep = "&quot;"; break;
            case '\'': rep = "&#x27;"; break;
            default: continue;
        }
        out.append(text.data() + run, i - run);
        out += rep;
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

namespace {

class HtmlRenderer {
public:
    explicit HtmlRenderer(const ParseSnapshot& snap) : snap_(snap) {
        out_.reserve(snap.normalized.size() * 2);
    }

    std::string run() {
        std::string_view text = snap_.normalized;
        size_t pending = 0;  // start of text not yet written
        size_t i = 0;
        while (i < text.size()) {
            const char* p = static_cast<const char*>(
                std::memchr(text.data() + i, '\n', text.size() - i));
            size_t nl = p ? static_cast<size_t>(p - text.data()) : text.size();
            if (nl == text.size()) break;
            write_text(text.substr(pending, nl - pending));
            i = nl + 1;
            pending = i;
            if (i < text.size()) {
                if (text[i] != '\n') {
                    if (paragraph_open_) out_ += "<br />\n";
                } else {
                    close_paragraph();
                }
            }
        }
        write_text(text.substr(pending));
        close_paragraph();
        return std::move(out_);
    }

private:
    void write_text(std::string_view t) {
        if (t.empty()) return;
        open_paragraph();
        append_escaped(out_, t);
    }

    void open_paragraph() {
        if (paragraph_open_) return;
        out_ += "<p>";
        paragraph_open_ = true;
    }

    void close_paragraph() {
        if (!paragraph_open_) return;
        out_ += "</p>\n";
        paragraph_open_ = false;
    }

    const ParseSnapshot& snap_;
    std::string out_;
    bool paragraph_open_ = false;
};

}  // namespace

// Paragraphs and line breaks over the normalized text; constructs are added
// as the classifier learns them.
std::string render_html(const ParseSnapshot& snapshot) { return HtmlRenderer(snapshot).run(); }

}  // namespace kogane
