#pragma once
// HTML rendering of a parse snapshot.

#include <string>
#include <string_view>

#include "pipeline/snapshot.hpp"

namespace kogane {

std::string render_html(const ParseSnapshot& snapshot);

// & < > " ' become entities; everything else is copied.
void append_escaped(std::string& out, std::string_view text);

}  // namespace kogane
