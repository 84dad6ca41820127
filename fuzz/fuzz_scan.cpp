// libFuzzer target: every scanner path the processor can run, on the input
// at every alignment, must agree with the scalar definition.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scan_agreement.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string err = kogane::checks::check_scan_paths(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!err.empty()) {
        std::fprintf(stderr, "scanner paths disagree: %s\n", err.c_str());
        std::abort();
    }
    return 0;
}
