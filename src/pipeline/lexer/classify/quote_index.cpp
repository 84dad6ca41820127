#include "pipeline/lexer/classify/quote_index.hpp"

#include <algorithm>
#include <cstring>

namespace kogane {

namespace {

// Scanning allowed per byte of text, and a floor for short texts.
constexpr size_t kBudgetPerByte = 32;
constexpr size_t kBudgetFloor = size_t(4) << 20;

size_t find_in(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return 0;
    const void* hit = memmem(hay.data(), hay.size(), needle.data(), needle.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
}

}  // namespace

QuoteIndex::QuoteIndex(std::string_view text)
    : text_(text),
      budget_(text.size() * kBudgetPerByte + kBudgetFloor),
      near_budget_(text.size() * kBudgetPerByte + kBudgetFloor),
      key_bytes_left_(text.size() / 2 + 65536) {}

bool QuoteIndex::charge(size_t& budget, size_t bytes) {
    if (bytes > budget) {
        budget = 0;
        return false;
    }
    budget -= bytes;
    return true;
}

// Windows of doubling size backwards from `end`, overlapping by
// |target| - 1 bytes so that no occurrence across a seam is missed.
bool QuoteIndex::near_search(std::string_view target, size_t end, size_t& budget) const {
    size_t window = std::max<size_t>(256, target.size() * 4);
    size_t hi = end;
    const size_t floor = end > kNearBytes + target.size() ? end - kNearBytes - target.size() : 0;
    bool first = true;
    while (true) {
        const size_t lo = hi > floor + window ? hi - window : floor;
        if (!charge(budget, hi - lo)) return false;
        // Most targets end right where the search starts: one comparison
        // answers them, charged as the window it stands for.
        if (first && hi - lo >= target.size() && text_.compare(hi - target.size(), target.size(), target) == 0)
            return true;
        first = false;
        if (find_in(text_.substr(lo, hi - lo), target) != std::string_view::npos) return true;
        if (lo == floor || lo + target.size() - 1 >= hi) return false;
        hi = lo + target.size() - 1;
        window *= 2;
    }
}

bool QuoteIndex::scan_from_start(std::string_view target, size_t end, Scans::iterator known) const {
    Scan local;
    Scan* scan = &local;
    if (known != scans_.end()) {
        scan = &known->second;
    } else if (target.size() <= key_bytes_left_) {
        key_bytes_left_ -= target.size();
        scan = &scans_.emplace(std::string(target), Scan{}).first->second;
    }
    // Resume where the last scan stopped, less the bytes an occurrence
    // straddling that point could have used.
    const size_t from = scan->scanned >= target.size() ? scan->scanned - (target.size() - 1) : 0;
    if (!charge(budget_, end - from)) return false;
    const size_t at = find_in(text_.substr(from, end - from), target);
    if (at == std::string_view::npos) {
        scan->scanned = static_cast<uint32_t>(end);
        return false;
    }
    scan->first = static_cast<uint32_t>(from + at);
    return true;
}

bool QuoteIndex::occurs_before(std::string_view target, uint32_t offset) const {
    const size_t end = offset < text_.size() ? offset : text_.size();
    if (target.empty()) return true;
    if (target.size() > end) return false;
    if (target.size() > kFreeLookupBytes && !charge(budget_, target.size())) return false;
    const auto known = scans_.find(target);
    if (known != scans_.end()) {
        const Scan& s = known->second;
        if (s.first != kNotSeen) return s.first + target.size() <= end;
        if (s.scanned >= end) return false;
    }
    if (near_search(target, end, budget_)) return true;
    if (end <= kNearBytes + target.size()) return false;  // the near search saw it all
    return scan_from_start(target, end, known);
}

bool QuoteIndex::occurs_near(std::string_view target, uint32_t offset) const {
    const size_t end = offset < text_.size() ? offset : text_.size();
    if (target.empty()) return true;
    if (target.size() > end) return false;
    return near_search(target, end, near_budget_);
}

}  // namespace kogane
