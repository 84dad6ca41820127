#include "document/prewarm.hpp"

#include "encoding/decode.hpp"
#include "pipeline/lexer/classify/keywords.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

void prewarm() {
    (void)scan::TriggerScanner::get();
    prewarm_keywords();
    prewarm_sjis();
}

}  // namespace kogane
