// The portable vector path: the kernels of scan_kernels.inl compiled over
// eight bytes held in a 64-bit integer. It needs no processor feature, so
// it serves machines without one of the x86-64 paths, eight positions per
// step instead of one.

#include <bit>
#include <cstring>

#include "scan/scan_internal.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane::scan {

namespace {

namespace swar {

constexpr ScanPath kPath = ScanPath::Swar;

// A comparison result holds 0x80 in each lane that matched and 0 elsewhere;
// lane j is byte j of the text.
struct V {
    static constexpr size_t kWidth = 8;
    static constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    static constexpr uint64_t kHigh = 0x8080808080808080ull;
    uint64_t v;

    static V load(const unsigned char* p) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        return {w};
    }
    static V splat(unsigned char b) { return {0x0101010101010101ull * b}; }
    static V zero() { return {0}; }
    // Bit j set when lane j holds 0x80.
    uint32_t mask() const { return static_cast<uint32_t>(((v >> 7) * 0x0102040810204080ull) >> 56); }
    // Exact per lane: the low seven bits of a lane cannot carry into the next.
    V operator==(V o) const {
        const uint64_t t = v ^ o.v;
        return {~(((t & kLow7) + kLow7) | t) & kHigh};
    }
    V operator==(unsigned char b) const { return *this == splat(b); }
    V operator&(V o) const { return {v & o.v}; }
    V operator|(V o) const { return {v | o.v}; }
};

#include "scan/scan_kernels.inl"

}  // namespace swar

}  // namespace

const Kernels& swar_kernels() { return swar::kKernels; }

}  // namespace kogane::scan
