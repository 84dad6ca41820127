#pragma once
// The last stages of a parse: classification over the snapshot that the
// parse fills, then the fold of the classified events into normalized
// text, the sentinel registry and container pairs.

#include <span>
#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/snapshot.hpp"

namespace kogane {

// The parse context: a snapshot that takes over what the lexer produced and
// the parse keeps (the sanitized text, the diagnostics so far, the pair
// links); later stages add to it.
ParseSnapshot begin_snapshot(PairedStream& paired);

// Classifies the pair events of the snapshot's text into its store.
ClassifiedStream classify(std::span<const PairEvent> events, ParseSnapshot& snapshot);

// Folds the classified events into the snapshot, which must already hold
// the sanitized text and the store the events' nodes refer to. Its
// diagnostics are extended and sorted here. Fills the normalized text, the
// registry and the container pairs.
void fold(ClassifiedStream stream, ParseSnapshot& snapshot);

// Classify and fold, for callers that start from the lexer's output.
ParseSnapshot classify_and_fold(PairedStream paired);

}  // namespace kogane
