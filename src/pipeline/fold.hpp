#pragma once
// Last stage: folds the classified events into normalized text, the sentinel
// registry and container pairs.

#include <vector>

#include "pipeline/lexer/classify/classified_event.hpp"
#include "pipeline/snapshot.hpp"

namespace kogane {

ParseSnapshot fold(PairedStream paired);

// Everything the classifier hands over once its stream has ended.
struct ClassifiedStream {
    std::vector<ClassifiedEvent> events;
    std::vector<KaeritenMark> kaeriten;
    Diagnostics diagnostics;  // the classifier's own
};

// The passes after event collection. `snapshot` must already hold the
// sanitized text and the store the events' nodes refer to; its diagnostics
// are the earlier stages' list, which is extended and sorted here. Fills the
// normalized text, the registry and the container pairs. `paired_events` is
// the pair-event count, used only to size buffers.
void fold_events(ClassifiedStream stream, ParseSnapshot& snapshot, size_t paired_events = 0);

}  // namespace kogane
