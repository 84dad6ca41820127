#pragma once

namespace kogane {

// Builds the process-wide automata (trigger scanner, annotation keyword
// automaton) and the Shift_JIS decoding table if they are not built yet.
// Idempotent.
void prewarm();

}  // namespace kogane
