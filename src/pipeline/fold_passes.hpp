#pragma once
// The passes the fold runs over the collected event list before writing
// the normalized text. Each works in place and in one forward walk; the
// payloads of the events are read and added through their pool.

#include <span>
#include <string_view>
#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "syntax/ast/node_store.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// Kaeriten placement: a lone mark in kana-heavy text, and bracketed marks
// whose family never starts. Appends to `out`.
void check_kaeriten(std::span<const KaeritenMark> marks, std::string_view text, Diagnostics& out);

// Moves decorations the classifier put on earlier occurrences of their
// targets back to where they start, cutting the text runs around them and
// dropping the events they cover.
void place_decorations(EventList& events);

// Turns a HeadingHint whose target reads as the preceding line (markup
// aside) into a Heading spanning that line.
void promote_headings(EventList& events, EventPool& pool, std::string_view text, NodeStore& store);

// Drops events that lie strictly inside a later event's span and trims a
// text run that reaches into the next event.
void normalise_overlaps(EventList& events);

// Layout as real books rely on it, settled on the event list:
// - font size, horizontal and warichu containers opened and closed within
//   one line, and a same-line or window heading with text before or after
//   it on its line, become inline;
// - a block indent opened while another is the innermost open container
//   replaces it: a close is inserted before the new open (with a note);
// - nothing opened inside the notation block at the top of a book (between
//   two rule lines, beginning 【テキスト中に現れる記号について】) stays open
//   past its closing rule line.
void settle_layout(EventList& events, EventPool& pool, std::string_view text, Diagnostics& out);

// The close that ends a container opened with `open`.
ContainerSpec close_spec_for(const ContainerSpec& open);

// Replaces an inline style container holding only text with one Format node.
void collapse_inline_containers(EventList& events, EventPool& pool, std::string_view text,
                                NodeStore& store);

}  // namespace kogane
