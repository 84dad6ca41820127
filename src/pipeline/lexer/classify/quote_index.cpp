#include "pipeline/lexer/classify/quote_index.hpp"

#include <cstring>

namespace kogane {

namespace {

// Polynomial hashing modulo the Mersenne prime 2^61 - 1: hashes of
// adjacent pieces combine as H(ab) = H(a) * B^|b| + H(b), which lets an
// enclosing quote take over the hash of a nested one instead of rehashing.
constexpr uint64_t kMod = (uint64_t(1) << 61) - 1;
constexpr uint64_t kBase = 0x1F3D5B79A4C2E18Dull % kMod;

uint64_t mulmod(uint64_t a, uint64_t b) {
    unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    uint64_t r = static_cast<uint64_t>(p & kMod) + static_cast<uint64_t>(p >> 61);
    return r >= kMod ? r - kMod : r;
}

uint64_t addmod(uint64_t a, uint64_t b) {
    uint64_t r = a + b;
    return r >= kMod ? r - kMod : r;
}

uint64_t extend(uint64_t h, std::string_view bytes) {
    for (unsigned char c : bytes) h = addmod(mulmod(h, kBase), uint64_t(c) + 1);
    return h;
}

uint64_t power(uint64_t n) {
    uint64_t result = 1, b = kBase;
    while (n != 0) {
        if (n & 1) result = mulmod(result, b);
        b = mulmod(b, b);
        n >>= 1;
    }
    return result;
}

constexpr std::string_view kOpen = "「";   // E3 80 8C
constexpr std::string_view kClose = "」";  // E3 80 8D

// Next 「 or 」 at or after `from`, or npos.
size_t next_quote_bracket(std::string_view text, size_t from) {
    while (from + 3 <= text.size()) {
        const void* hit = memmem(text.data() + from, text.size() - from, "\xE3\x80", 2);
        if (hit == nullptr) return std::string_view::npos;
        size_t at = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        if (at + 3 > text.size()) return std::string_view::npos;
        unsigned char third = static_cast<unsigned char>(text[at + 2]);
        if (third == 0x8C || third == 0x8D) return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

size_t find_in(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return 0;
    const void* hit = memmem(hay.data(), hay.size(), needle.data(), needle.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
}

}  // namespace

QuoteIndex::QuoteIndex(std::string_view text) : text_(text) {
    struct Frame {
        uint32_t content_start;
        uint32_t cursor;  // bytes before this are folded into `hash`
        uint64_t hash;
    };
    std::vector<Frame> stack;
    const uint64_t open_hash = extend(0, kOpen);
    const uint64_t close_hash = extend(0, kClose);
    const uint64_t bracket_power = power(3);

    for (size_t at = next_quote_bracket(text, 0); at != std::string_view::npos;
         at = next_quote_bracket(text, at + 3)) {
        const uint32_t pos = static_cast<uint32_t>(at);
        if (static_cast<unsigned char>(text[at + 2]) == 0x8C) {
            if (!stack.empty()) {
                Frame& top = stack.back();
                top.hash = extend(top.hash, text.substr(top.cursor, pos - top.cursor));
                top.cursor = pos;
            }
            stack.push_back(Frame{pos + 3, pos + 3, 0});
            continue;
        }
        if (stack.empty()) continue;  // a 」 with nothing to close
        Frame f = stack.back();
        stack.pop_back();
        f.hash = extend(f.hash, text.substr(f.cursor, pos - f.cursor));
        const uint32_t length = pos - f.content_start;
        if (length > 0) {
            keys_.try_emplace(Key{f.hash, length}, Entry{f.content_start, kUnknown});
            contents_.push_back(Span{f.content_start, pos});
        }
        if (!stack.empty()) {
            Frame& parent = stack.back();
            uint64_t h = addmod(mulmod(parent.hash, bracket_power), open_hash);
            h = addmod(mulmod(h, power(length)), f.hash);
            parent.hash = addmod(mulmod(h, bracket_power), close_hash);
            parent.cursor = pos + 3;
        }
    }
}

QuoteIndex::Entry* QuoteIndex::lookup(std::string_view target, uint32_t* quoted_start) const {
    *quoted_start = kAbsent;
    if (target.empty() || target.size() > text_.size()) return nullptr;
    auto it = keys_.find(Key{extend(0, target), static_cast<uint32_t>(target.size())});
    if (it == keys_.end()) return nullptr;
    if (text_.substr(it->second.start, target.size()) == target) {
        *quoted_start = it->second.start;
        return &it->second;
    }
    // Two different texts share a hash: settle it by comparing bytes.
    for (Span s : contents_) {
        if (s.length() == target.size() && slice(text_, s) == target) {
            *quoted_start = s.start;
            break;
        }
    }
    return nullptr;
}

bool QuoteIndex::is_quoted(std::string_view target) const {
    uint32_t start;
    lookup(target, &start);
    return start != kAbsent;
}

std::optional<uint32_t> QuoteIndex::first_occurrence(std::string_view target) const {
    uint32_t start;
    Entry* e = lookup(target, &start);
    if (e != nullptr && e->first != kUnknown) return e->first;
    // A quoted text occurs at its quote at the latest, so only the prefix
    // up to there needs searching.
    size_t limit = start != kAbsent ? size_t(start) + target.size() : text_.size();
    size_t at = find_in(text_.substr(0, limit), target);
    if (at == std::string_view::npos) return std::nullopt;
    if (e != nullptr) e->first = static_cast<uint32_t>(at);
    return static_cast<uint32_t>(at);
}

bool QuoteIndex::occurs_before(std::string_view target, uint32_t offset) const {
    const size_t end = offset < text_.size() ? offset : text_.size();
    if (target.size() > end) return false;
    if (target.empty()) return true;
    uint32_t start;
    const Entry* e = lookup(target, &start);
    if (start != kAbsent && start + target.size() <= end) return true;
    if (e != nullptr && e->first != kUnknown) return e->first + target.size() <= end;
    // Search windows of doubling size backwards from `end`; neighbouring
    // windows overlap by |target| - 1 bytes so no occurrence is missed.
    size_t window = target.size() < 64 ? 256 : target.size() * 4;
    size_t hi = end;
    while (true) {
        size_t lo = hi > window ? hi - window : 0;
        if (find_in(text_.substr(lo, hi - lo), target) != std::string_view::npos) return true;
        if (lo == 0) return false;
        hi = lo + target.size() - 1;
        window *= 2;
    }
}

}  // namespace kogane
