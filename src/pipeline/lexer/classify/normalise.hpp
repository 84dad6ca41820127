#pragma once
// Static knowledge of how annotations ought to be spelled: the canonical
// spelling of known non-canonical bodies, and older layout phrasings.

#include <optional>
#include <string>
#include <string_view>

namespace kogane {

// The canonical spelling of a known non-canonical annotation body (the
// trimmed text between ＃ and ］), or nothing.
std::optional<std::string> normalise_spelling(std::string_view body);

// The current form of a recognised legacy layout phrase, or nothing.
std::optional<std::string> recognise_legacy_phrase(std::string_view body);

// Length in bytes of the run of ASCII or full-width digits at the start.
size_t digit_prefix_length(std::string_view s);

}  // namespace kogane
