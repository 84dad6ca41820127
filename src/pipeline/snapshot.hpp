#pragma once
// The result of one parse, in sanitized-text coordinates.

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
    Diagnostics diagnostics;  // sorted
    SharedText sanitized;
    // Sanitized text with every recognised construct replaced by one
    // sentinel (U+E001..U+E004).
    std::string normalized;
    SentinelRegistry registry;
    std::vector<PairLink> pair_links;
    std::vector<ContainerPair> container_pairs;
    bool sanitized_is_source = false;
    NodeStore store;
};

}  // namespace kogane
