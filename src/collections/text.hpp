#pragma once
// Prefix matching for the annotation grammars.

#include <string_view>

namespace kogane {

// Drops `prefix` from the front of `s` when it is there.
inline bool consume(std::string_view& s, std::string_view prefix) {
    if (!s.starts_with(prefix)) return false;
    s.remove_prefix(prefix.size());
    return true;
}

}  // namespace kogane
