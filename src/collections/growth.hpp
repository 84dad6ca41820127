#pragma once
// Growth of a stream's vector by prediction rather than by doubling.

#include <algorithm>
#include <cstddef>

namespace kogane {

// The capacity to reserve for a vector of `n` items built from the first
// `done` of `total` units of input: what the density so far predicts for
// the whole input (with an eighth to spare), and at least half again as
// much. Doubling alone copies a dense stream when it is nearly whole,
// briefly holding it twice; predicting makes the copies while they are
// small. Pages reserved and never written are never touched, so an
// overestimate costs address space only.
inline size_t predicted_capacity(size_t n, size_t done, size_t total) {
    size_t want = std::max<size_t>(n + n / 2, 1024);
    if (n > 0 && done > 0 && done < total)
        want = std::max(want, static_cast<size_t>(static_cast<double>(n) * 1.125 * static_cast<double>(total) /
                                                  static_cast<double>(done)));
    return want;
}

}  // namespace kogane
