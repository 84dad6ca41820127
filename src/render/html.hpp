#pragma once
// HTML rendering of a parse snapshot.

#include <string>
#include <string_view>

#include "pipeline/snapshot.hpp"

namespace kogane {

std::string render_html(const ParseSnapshot& snapshot);
// The same HTML, appended to `out`: a caller rendering book after book can
// keep one buffer warm instead of touching fresh memory each time.
void render_html_into(const ParseSnapshot& snapshot, std::string& out);

// Takes the HTML a piece at a time, each piece whole characters.
class HtmlSink {
public:
    virtual void write(std::string_view piece) = 0;

protected:
    ~HtmlSink() = default;
};

// The same HTML again, handed to `sink` in pieces of about `piece_bytes`
// (more where one element cannot be cut), each built in `buffer`. A caller
// that converts the pieces as they come (into a host string, say) never
// holds the whole book's HTML, and reads each piece while it is in cache.
void render_html_pieces(const ParseSnapshot& snapshot, std::string& buffer, size_t piece_bytes, HtmlSink& sink);

// The same pieces, rendered on a helper thread while the calling thread
// converts them: `sink` is called on the calling thread only, in order, so
// a long book's HTML costs about the longer of the two instead of their
// sum. What the renderer throws is thrown here. Where helper threads are
// not allowed (helper_threads_allowed), or none starts, the pieces are
// rendered on the calling thread.
void render_html_pieces_beside(const ParseSnapshot& snapshot, std::string& buffer, size_t piece_bytes,
                               HtmlSink& sink);

// & < > " ' become entities; everything else is copied.
void append_escaped(std::string& out, std::string_view text);

}  // namespace kogane
