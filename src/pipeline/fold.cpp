#include "pipeline/fold.hpp"

namespace kogane {

// Until classification lands, every byte is plain text: the normalized text
// is the sanitized text and the registry is empty.
ParseSnapshot fold(PairedStream paired) {
    ParseSnapshot snap;
    snap.diagnostics = std::move(paired.diagnostics);
    sort_diagnostics(snap.diagnostics);
    snap.sanitized = std::move(paired.text);
    snap.normalized = *snap.sanitized;
    snap.pair_links = std::move(paired.links);
    snap.sanitized_is_source = paired.sanitized_is_source;
    return snap;
}

}  // namespace kogane
