#pragma once
// Allocation-failure injection for tests, compiled only when the build sets
// KOGANE_FAULT_INJECTION: the module's operator new can be told to fail the
// n-th allocation made on the calling thread, so a test can walk a failure
// through every allocation of an engine call.

#include <cstdint>

namespace kogane::fault_injection {

// Arms the calling thread so that its `n`-th next allocation throws
// std::bad_alloc (n == 0 disarms). Returns how many allocations the
// previous arming still had to go: 0 when it fired or was never armed.
uint64_t fail_allocation(uint64_t n);

}  // namespace kogane::fault_injection
