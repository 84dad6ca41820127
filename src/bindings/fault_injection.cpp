// Replaces the module's operator new/delete (the module exports only its
// init function, so the replacement stays inside it) with a malloc-backed
// pair that can be armed to fail. Allocations the interpreter makes go
// through its own allocator and are never counted.

#include "bindings/fault_injection.hpp"

#include <cstdlib>
#include <new>

namespace {

// Counts down on each allocation; the one that brings it to zero fails.
thread_local uint64_t allocations_to_failure = 0;

void* allocate(std::size_t size) {
    if (allocations_to_failure != 0 && --allocations_to_failure == 0) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace kogane::fault_injection {

uint64_t fail_allocation(uint64_t n) {
    const uint64_t pending = allocations_to_failure;
    allocations_to_failure = n;
    return pending;
}

}  // namespace kogane::fault_injection

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
