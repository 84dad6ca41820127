#include "render/source_emit.hpp"

namespace kogane {

// Until re-emission lands the source comes back as given.
std::string emit_source(const KoganeDoc& doc) { return std::string(doc.source()); }

}  // namespace kogane
