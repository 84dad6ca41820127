#include "document/prewarm.hpp"

namespace kogane {

void prewarm() {}

}  // namespace kogane
