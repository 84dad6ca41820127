#pragma once
// Re-emission of canonical Kogane source.

#include <string>

#include "document/document.hpp"

namespace kogane {

std::string emit_source(const KoganeDoc& doc);

}  // namespace kogane
