#pragma once
// The JSON views of a document, each written into one envelope.

#include <string>

#include "document/document.hpp"

namespace kogane {

std::string nodes_json(const KoganeDoc& doc);
std::string pairs_json(const KoganeDoc& doc);
std::string container_pairs_json(const KoganeDoc& doc);
std::string gaiji_json(const KoganeDoc& doc);
std::string diagnostics_json(const KoganeDoc& doc);
std::string diagnostics_json(const Diagnostics& diagnostics);
std::string slugs_json();

}  // namespace kogane
