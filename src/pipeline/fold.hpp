#pragma once
// Last stage: folds the classified events into normalized text, the sentinel
// registry and container pairs.

#include "pipeline/snapshot.hpp"

namespace kogane {

ParseSnapshot fold(PairedStream paired);

}  // namespace kogane
