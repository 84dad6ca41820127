#include "document/prewarm.hpp"

#include "scan/trigger_scanner.hpp"

namespace kogane {

void prewarm() { (void)scan::TriggerScanner::get(); }

}  // namespace kogane
