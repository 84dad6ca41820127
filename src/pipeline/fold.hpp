#pragma once
// The last stages of a parse: classification over the snapshot that the
// parse fills, then the fold of the classified events into normalized
// text, the sentinel registry and container pairs.

#include <span>
#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/lexer/classify/classifier.hpp"
#include "pipeline/lexer/tokenize.hpp"
#include "pipeline/snapshot.hpp"

namespace kogane {

// Tokenizes, pairs and classifies the snapshot's sanitized text, reading
// it `piece_bytes` at a time and looking ahead once a group holds
// `long_group_events` (the result depends on neither): the events
// come back with their payloads; the strings and content the payloads name
// go into the snapshot's store, diagnostics into its diagnostics.
ClassifiedStream classify(ParseSnapshot& snapshot, uint32_t piece_bytes = Tokenizer::kPieceBytes,
                          uint32_t long_group_events = kLongGroupEvents);

// Folds the classified events into the snapshot, which must already hold
// the sanitized text and the store their payloads refer to. Sorts its
// diagnostics once the fold's own are added. Fills the normalized text,
// the registry and the container pairs.
void fold(ClassifiedStream stream, ParseSnapshot& snapshot);

}  // namespace kogane
