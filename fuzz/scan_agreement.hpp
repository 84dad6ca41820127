#pragma once
// Every scanner path against the scalar one: the same hits, the same
// sanitize probe, the same triple searches, for a buffer seen at every
// start and end alignment around the vector blocks. Shared by the
// fuzz_scan target and the C++ scanner tests; returns an empty string when
// all paths agree, else the first disagreement.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/trigger_scanner.hpp"

namespace kogane::checks {

namespace scan_detail {

// The widest block plus its two bytes of lookahead and one: enough shifts
// for every position of a pattern to meet every lane and block boundary,
// and every length of the scalar tail.
constexpr size_t kAlignments = 32 + 3;
constexpr scan::ScanPath kVectorPaths[] = {scan::ScanPath::Swar, scan::ScanPath::Sse2, scan::ScanPath::Avx2};

inline std::string describe(scan::ScanPath path, const char* what, size_t offset, size_t length) {
    return std::string(scan::scan_path_name(path)) + " " + what + " differs from scalar on bytes [" +
           std::to_string(offset) + ", " + std::to_string(offset + length) + ")";
}

inline bool same(const scan::SanitizeProbe& a, const scan::SanitizeProbe& b) {
    return a.carriage_return == b.carriage_return && a.rule_pair == b.rule_pair &&
           a.tortoise_open == b.tortoise_open && a.sentinel == b.sentinel;
}

// One window of the buffer, copied into an allocation of exactly its size
// so that a kernel reading past the end is caught under AddressSanitizer.
inline std::string check_window(std::string_view window, size_t offset) {
    std::unique_ptr<char[]> owned(new char[std::max<size_t>(window.size(), 1)]);
    if (!window.empty()) std::memcpy(owned.get(), window.data(), window.size());
    const std::string_view text(owned.get(), window.size());

    const scan::Kernels& reference = scan::kernels(scan::ScanPath::Scalar);
    // A hit list that already holds something: kernels append.
    std::vector<uint32_t> expected_hits{0xFFFFFFFFu};
    reference.find_hits(text, expected_hits);
    const scan::SanitizeProbe expected_probe = reference.probe(text);
    // Searches for the pattern the sanitize stage looks for and for the
    // window's own first bytes, from a few starting points.
    std::vector<std::string> patterns{"〔"};
    if (text.size() >= 3) patterns.emplace_back(text.substr(0, 3));
    const size_t froms[] = {0, 1, text.size() / 2};

    for (scan::ScanPath path : kVectorPaths) {
        if (!scan::scan_path_available(path)) continue;
        const scan::Kernels& k = scan::kernels(path);
        std::vector<uint32_t> hits{0xFFFFFFFFu};
        k.find_hits(text, hits);
        if (hits != expected_hits) return describe(path, "hits", offset, text.size());
        if (!same(k.probe(text), expected_probe)) return describe(path, "sanitize probe", offset, text.size());
        for (size_t from : froms) {
            for (const std::string& p : patterns)
                if (k.find_triple(text, from, p.data()) != reference.find_triple(text, from, p.data()))
                    return describe(path, "triple search", offset, text.size());
            if (k.find_rule_triple(text, from) != reference.find_rule_triple(text, from))
                return describe(path, "rule search", offset, text.size());
        }
    }
    return {};
}

}  // namespace scan_detail

inline std::string check_scan_paths(std::string_view bytes) {
    const size_t n = bytes.size();
    const size_t reach = std::min(n, scan_detail::kAlignments);
    for (size_t start = 0; start <= reach; ++start) {
        std::string err = scan_detail::check_window(bytes.substr(start), start);
        if (!err.empty()) return err;
    }
    for (size_t cut = 1; cut <= reach; ++cut) {
        std::string err = scan_detail::check_window(bytes.substr(0, n - cut), 0);
        if (!err.empty()) return err;
    }
    return {};
}

}  // namespace kogane::checks
