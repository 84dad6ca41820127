#pragma once
// The static catalogue of canonical annotation keywords served to editors.

#include <span>

namespace kogane {

struct SlugRecord {
    const char* canonical;  // {N} marks a number, {path} a file name
    const char* family;
    bool accepts_param;
    const char* doc;
    const char* partner;  // nullptr when the keyword has no partner
};

std::span<const SlugRecord> slug_catalogue();

}  // namespace kogane
