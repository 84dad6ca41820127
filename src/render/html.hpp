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

// & < > " ' become entities; everything else is copied.
void append_escaped(std::string& out, std::string_view text);

}  // namespace kogane
