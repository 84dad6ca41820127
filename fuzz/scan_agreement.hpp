#pragma once
// Every scanner path against the scalar one: the same hits, the same
// sanitize probe, the same triple searches, the same Shift_JIS decoding
// and UTF-8 tally, for a buffer seen at every start and end alignment
// around the vector blocks. Shared by the fuzz_scan target and the C++
// scanner tests; returns an empty string when all paths agree, else the
// first disagreement.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/decode.hpp"
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
           a.tortoise_open == b.tortoise_open && a.sentinel == b.sentinel && a.control == b.control;
}

// What a widening kernel must do, one character at a time: groups of four
// valid three-byte characters while sixteen bytes are left.
inline size_t reference_widen_run(std::string_view text, std::vector<uint32_t>& out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (text.size() - i >= 16) {
        uint32_t group[4];
        for (int k = 0; k < 4; ++k) {
            const unsigned char* c = p + i + 3 * k;
            if ((c[0] & 0xF0) != 0xE0 || (c[1] & 0xC0) != 0x80 || (c[2] & 0xC0) != 0x80) return i;
            group[k] = (uint32_t(c[0] & 0x0F) << 12) | (uint32_t(c[1] & 0x3F) << 6) | uint32_t(c[2] & 0x3F);
            if (group[k] < 0x800 || (group[k] >= 0xD800 && group[k] <= 0xDFFF)) return i;
        }
        out.insert(out.end(), group, group + 4);
        i += 12;
    }
    return i;
}

template <typename Unit>
inline bool widening_agrees(size_t (*kernel)(const unsigned char*, size_t, Unit*), std::string_view text,
                            size_t expected_bytes, const std::vector<uint32_t>& expected) {
    if (kernel == nullptr) return true;
    std::vector<Unit> out(text.size() / 3 + 1, Unit(0));
    const size_t ran = kernel(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
    if (ran != expected_bytes) return false;
    for (size_t k = 0; k < expected.size(); ++k)
        if (out[k] != static_cast<Unit>(expected[k])) return false;
    return true;
}

// What a keyless-run kernel must do, one character at a time: steps of
// eight three-byte characters (by their form bits) while 32 bytes are left,
// stopping at the first whose six bytes have their slot set.
inline size_t reference_skip_keyless(std::string_view text, const std::vector<uint32_t>& filter) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (text.size() - i >= 32) {
        for (size_t k = 0; k < 8; ++k) {
            const unsigned char* c = p + i + 3 * k;
            if ((c[0] & 0xF0) != 0xE0 || (c[1] & 0xC0) != 0x80 || (c[2] & 0xC0) != 0x80) return i + 3 * k;
            const uint32_t slot = scan::key_slot(c);
            if ((filter[slot >> 5] >> (slot & 31)) & 1) return i + 3 * k;
        }
        i += 24;
    }
    return i;
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
    std::vector<std::string> sixes{"〔〕"};
    if (text.size() >= 6) sixes.emplace_back(text.substr(text.size() / 2 >= 6 ? text.size() / 2 - 6 : 0, 6));
    const size_t froms[] = {0, 1, text.size() / 2};
    std::vector<uint32_t> widened;
    const size_t widened_bytes = reference_widen_run(text, widened);
    // Key filters: none taken, then the slot of the six bytes at each of
    // the first sixteen three-byte steps alone, so that a key meets every
    // lane of both halves. One filter, a bit set and cleared for each.
    std::vector<uint32_t> filter(scan::kKeySlots / 32, 0);
    std::vector<uint32_t> slots{scan::kKeySlots};  // none
    for (size_t at = 0; at + 6 <= text.size() && at < 48; at += 3)
        slots.push_back(scan::key_slot(reinterpret_cast<const unsigned char*>(text.data()) + at));
    auto with_slot = [&](uint32_t slot, auto&& run) {
        if (slot < scan::kKeySlots) filter[slot >> 5] |= uint32_t(1) << (slot & 31);
        const auto result = run();
        if (slot < scan::kKeySlots) filter[slot >> 5] &= ~(uint32_t(1) << (slot & 31));
        return result;
    };
    std::vector<size_t> skipped;
    for (uint32_t slot : slots) skipped.push_back(with_slot(slot, [&] { return reference_skip_keyless(text, filter); }));

    const auto decoded = decode_sjis(text, scan::ScanPath::Scalar);

    for (scan::ScanPath path : kVectorPaths) {
        if (!scan::scan_path_available(path)) continue;
        const scan::Kernels& k = scan::kernels(path);
        if (decode_sjis(text, path) != decoded) return describe(path, "Shift_JIS decoding", offset, text.size());
        if (k.tally_utf8 != nullptr) {
            uint64_t continuations = 0, expected_continuations = 0;
            unsigned top = 0, expected_top = 0;
            const size_t tallied = k.tally_utf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                                                continuations, top);
            for (size_t j = 0; j < tallied; ++j) {
                const auto b = static_cast<unsigned char>(text[j]);
                expected_continuations += (b & 0xC0) == 0x80;
                expected_top = std::max<unsigned>(expected_top, b);
            }
            if (tallied != text.size() / 32 * 32 || continuations != expected_continuations || top != expected_top)
                return describe(path, "UTF-8 tally", offset, text.size());
        }
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
            for (const std::string& p : sixes)
                if (k.find_six(text, from, p.data()) != reference.find_six(text, from, p.data()))
                    return describe(path, "six-byte search", offset, text.size());
        }
        if (!widening_agrees(k.widen_three_byte_run16, text, widened_bytes, widened) ||
            !widening_agrees(k.widen_three_byte_run32, text, widened_bytes, widened))
            return describe(path, "widening", offset, text.size());
        if (k.skip_keyless_run != nullptr)
            for (size_t f = 0; f < slots.size(); ++f)
                if (with_slot(slots[f], [&] {
                        return k.skip_keyless_run(reinterpret_cast<const unsigned char*>(text.data()), text.size(), filter.data());
                    }) != skipped[f])
                    return describe(path, "keyless run", offset, text.size());
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
