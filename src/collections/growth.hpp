#pragma once
// Growth of a stream's vector by prediction rather than by doubling.

#include <algorithm>
#include <cstddef>

namespace kogane {

inline constexpr size_t kMinPredictionInput = 4096;

// The capacity to reserve for a vector of `n` items built from the first
// `done` of `total` units of input: what the density so far predicts for
// the whole input (with an eighth to spare), and at least half again as
// much. Doubling alone copies a dense stream when it is nearly whole,
// briefly holding it twice; predicting makes the copies while they are
// small. Pages reserved and never written are never touched, so an
// overestimate costs address space only.
// The prediction is made only from a piece of input big enough to say
// something, and never exceeds two items per unit of input (no stream here
// makes more than about one), so a dense start cannot ask for absurd room.
inline size_t predicted_capacity(size_t n, size_t done, size_t total) {
    const size_t want = std::max<size_t>(n + n / 2, 1024);
    if (n == 0 || done < kMinPredictionInput || done >= total) return want;
    const double predicted = static_cast<double>(n) * 1.125 * static_cast<double>(total) / static_cast<double>(done);
    const double ceiling = static_cast<double>(n) + 2.0 * static_cast<double>(total);
    return std::max(want, static_cast<size_t>(std::min(predicted, ceiling)));
}

}  // namespace kogane
