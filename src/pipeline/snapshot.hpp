#pragma once
// One parse: its context while the stages run, and its result once the
// fold has run. It owns the texts and every diagnostic, so the stages
// return only what they produce. Spans are sanitized-text offsets.

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/lexer/pair.hpp"
#include "syntax/ast/node_store.hpp"
#include "syntax/ast/registry.hpp"
#include "syntax/diagnostic.hpp"

namespace kogane {

// A container open and the close it was paired with, named by the byte
// positions of their sentinels in the normalized text.
struct ContainerPair {
    uint32_t open_position = 0;
    uint32_t close_position = 0;
    ContainerSpec open_spec;
};

struct ParseSnapshot {
    SharedText source;     // the caller's text, as given
    SharedText sanitized;  // the source itself when sanitizing changed nothing
    bool sanitized_is_source = false;
    // Every stage appends its own; the fold sorts them.
    Diagnostics diagnostics;
    // Sanitized text with every recognised construct replaced by one
    // sentinel (U+E001..U+E004).
    std::string normalized;
    SentinelRegistry registry;
    std::vector<ContainerPair> container_pairs;
    NodeStore store;
};

}  // namespace kogane
