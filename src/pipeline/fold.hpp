#pragma once
// The last stages of a parse: classification over the snapshot that the
// parse fills, then the fold of the classified events into normalized
// text, the sentinel registry and container pairs.

#include <span>
#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/snapshot.hpp"

namespace kogane {

// Classifies the pair events of the snapshot's sanitized text as `events`
// pairs it (with the snapshot's diagnostics and links): the events
// come back with their payloads; the strings and content the payloads name
// go into the snapshot's store, diagnostics into its diagnostics.
ClassifiedStream classify(PairStream& events, ParseSnapshot& snapshot);

// Folds the classified events into the snapshot, which must already hold
// the sanitized text and the store their payloads refer to. Sorts its
// diagnostics once the fold's own are added. Fills the normalized text,
// the registry and the container pairs.
void fold(ClassifiedStream stream, ParseSnapshot& snapshot);

}  // namespace kogane
