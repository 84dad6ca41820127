#include "document/prewarm.hpp"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/decode.hpp"
#include "pipeline/lexer/classify/keywords.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

namespace {

// The pages are read as bytes, redzones between globals included, which
// the address checker would otherwise report; no thread writes them.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("address", "thread")))
#endif
void touch_pages(uintptr_t from, uintptr_t to) {
    constexpr uintptr_t kPage = 4096;  // the smallest page size; larger ones are touched the more often
    // A volatile read is never left out.
    for (uintptr_t p = from; p < to; p += kPage) (void)*reinterpret_cast<const volatile unsigned char*>(p);
}

// Reads one byte of every page of the engine's code and constant tables
// (the read-only mappings of the file this code was loaded from), so the
// first parse and render do not fault them in a page at a time: some 0.7 MB,
// which also counted as that first call's memory growth. Linux only; where
// /proc/self/maps cannot be read this does nothing.
void touch_own_code() {
    std::ifstream maps("/proc/self/maps");
    if (!maps) return;
    const auto self = reinterpret_cast<uintptr_t>(&touch_own_code);
    struct Range {
        uintptr_t from, to;
        std::string perms, path;
    };
    std::vector<Range> ranges;
    std::string line;
    std::string own_path;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string span, offset, device, inode;
        Range r;
        if (!(fields >> span >> r.perms >> offset >> device >> inode)) continue;
        std::getline(fields >> std::ws, r.path);
        const size_t dash = span.find('-');
        if (dash == std::string::npos || r.path.empty() || r.path[0] != '/') continue;
        r.from = std::stoull(span.substr(0, dash), nullptr, 16);
        r.to = std::stoull(span.substr(dash + 1), nullptr, 16);
        if (r.from <= self && self < r.to) own_path = r.path;
        ranges.push_back(std::move(r));
    }
    if (own_path.empty()) return;
    for (const Range& r : ranges) {
        // Code (r-x) and constants (r--) lie inside the file; writable
        // mappings are left alone.
        if (r.path != own_path || r.perms.size() < 2 || r.perms[0] != 'r' || r.perms[1] != '-') continue;
        touch_pages(r.from, r.to);
    }
}

}  // namespace

void prewarm() {
    (void)scan::TriggerScanner::get();
    prewarm_keywords();
    prewarm_sjis();
    static const bool touched = [] {
        try {
            touch_own_code();
        } catch (...) {  // a map line it could not read: nothing is lost but speed
        }
        return true;
    }();
    (void)touched;
}

}  // namespace kogane
