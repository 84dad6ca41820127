#include "pipeline/lexer/classify/quote_index.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "collections/utf8.hpp"

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

QuoteIndex::QuoteIndex(std::string_view text) : text_(text), scan_budget_(text.size() + (64u << 10)) {
    std::vector<uint32_t> brackets;
    size_t opens = 0;
    for (size_t at = next_quote_bracket(text, 0); at != std::string_view::npos; at = next_quote_bracket(text, at + 3)) {
        brackets.push_back(static_cast<uint32_t>(at));
        opens += static_cast<unsigned char>(text[at + 2]) == 0x8C;
    }
    if (opens == 0) return;
    table_.resize(std::bit_ceil(std::max<size_t>(16, opens * 2)));

    struct Frame {
        uint32_t content_start;
        uint32_t cursor;  // bytes before this are folded into `hash`
        uint64_t hash;
    };
    std::vector<Frame> stack;
    const uint64_t open_hash = extend(0, kOpen);
    const uint64_t close_hash = extend(0, kClose);
    const uint64_t bracket_power = power(3);
    for (const uint32_t pos : brackets) {
        if (static_cast<unsigned char>(text[pos + 2]) == 0x8C) {
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
            Entry& e = slot(f.hash, length);
            if (e.length == 0) {
                e = Entry{f.hash, length, f.content_start, kUnknown};
                ++count_;
            }
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

QuoteIndex::Entry& QuoteIndex::slot(uint64_t hash, uint32_t length) const {
    const size_t mask = table_.size() - 1;
    size_t i = static_cast<size_t>((hash ^ (uint64_t(length) << 32)) * 0x9E3779B97F4A7C15ull >> 20) & mask;
    while (table_[i].length != 0 && (table_[i].hash != hash || table_[i].length != length)) i = (i + 1) & mask;
    return table_[i];
}

QuoteIndex::Entry* QuoteIndex::lookup(std::string_view target, uint32_t* quoted_start) const {
    *quoted_start = kAbsent;
    if (target.empty() || target.size() > text_.size() || table_.empty()) return nullptr;
    Entry& e = slot(extend(0, target), static_cast<uint32_t>(target.size()));
    if (e.length == 0) return nullptr;
    if (text_.substr(e.start, target.size()) == target) {
        *quoted_start = e.start;
        return &e;
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

namespace {

constexpr uint32_t kWideKey = 0x10000;  // every character above the BMP, and bad bytes
constexpr size_t kKeyCount = kWideKey + 1;

uint32_t char_key(utf8::Char c) { return c.cp < kWideKey ? c.cp : kWideKey; }

bool valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        utf8::Char c = utf8::decode(s, i);
        if (c.cp == utf8::kBad) return false;
        i += c.len;
    }
    return true;
}

}  // namespace

bool QuoteIndex::charge(size_t bytes) const {
    if (bytes > scan_budget_) return false;
    scan_budget_ -= bytes;
    return true;
}

namespace {

uint32_t pair_key(uint32_t a, uint32_t b, uint32_t mask) {
    return static_cast<uint32_t>((uint64_t(a) * 0x9E3779B97F4A7C15ull ^ b) * 0xC2B2AE3D27D4EB4Full >> 32) & mask;
}

// Counting sort of `positions` by `keys` into `out`.
void group(const std::vector<uint32_t>& keys, const std::vector<uint32_t>& positions, size_t key_count,
           std::vector<uint32_t>& first, std::vector<uint32_t>& out) {
    first.assign(key_count + 1, 0);
    for (uint32_t k : keys) ++first[k + 1];
    for (size_t k = 1; k <= key_count; ++k) first[k] += first[k - 1];
    std::vector<uint32_t> next(first.begin(), first.end() - 1);
    out.resize(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) out[next[keys[i]]++] = positions[i];
}

}  // namespace

void QuoteIndex::build_char_index() const {
    std::vector<uint32_t> keys, positions;
    keys.reserve(text_.size() / 2);
    positions.reserve(text_.size() / 2);
    for (size_t i = 0; i < text_.size();) {
        utf8::Char c = utf8::decode(text_, i);
        keys.push_back(char_key(c));
        positions.push_back(static_cast<uint32_t>(i));
        i += c.len;
    }
    group(keys, positions, kKeyCount, chars_.first, chars_.positions);

    const uint32_t buckets = std::bit_ceil(std::max<uint32_t>(1024, static_cast<uint32_t>(keys.size() / 8)));
    pair_mask_ = buckets - 1;
    for (size_t i = 0; i + 1 < keys.size(); ++i) keys[i] = pair_key(keys[i], keys[i + 1], pair_mask_);
    if (!keys.empty()) {
        keys.pop_back();
        positions.pop_back();
    }
    group(keys, positions, buckets, pairs_.first, pairs_.positions);
}

std::optional<uint32_t> QuoteIndex::search(std::string_view target, size_t limit) const {
    if (target.size() > limit) return std::nullopt;
    if (target.empty()) return 0;
    // A target that is not valid UTF-8 could start inside a character,
    // where the index has no entry: it is always searched directly.
    const bool direct = chars_.first.empty() ? charge(limit) || !valid_utf8(target) : !valid_utf8(target);
    if (direct) {
        size_t at = find_in(text_.substr(0, limit), target);
        if (at == std::string_view::npos) return std::nullopt;
        return static_cast<uint32_t>(at);
    }
    if (chars_.first.empty()) build_char_index();

    // Walk the occurrences of the target's rarest character or pair;
    // candidates come in ascending order, so the first match is the answer.
    const Postings* list = &chars_;
    uint32_t best_key = 0, best_offset = 0, best_count = 0xFFFFFFFFu;
    uint32_t prev_key = 0, prev_offset = 0;
    for (size_t j = 0; j < target.size();) {
        utf8::Char c = utf8::decode(target, j);
        const uint32_t key = char_key(c);
        if (chars_.count(key) < best_count)
            list = &chars_, best_key = key, best_offset = static_cast<uint32_t>(j), best_count = chars_.count(key);
        if (j != 0) {
            const uint32_t pk = pair_key(prev_key, key, pair_mask_);
            if (pairs_.count(pk) < best_count)
                list = &pairs_, best_key = pk, best_offset = prev_offset, best_count = pairs_.count(pk);
        }
        prev_key = key;
        prev_offset = static_cast<uint32_t>(j);
        j += c.len;
    }
    for (uint32_t k = list->first[best_key]; k < list->first[best_key + 1]; ++k) {
        const uint32_t p = list->positions[k];
        if (p < best_offset) continue;
        const size_t candidate = p - best_offset;
        if (candidate + target.size() > limit) break;
        if (std::memcmp(text_.data() + candidate, target.data(), target.size()) == 0)
            return static_cast<uint32_t>(candidate);
    }
    return std::nullopt;
}

std::optional<uint32_t> QuoteIndex::first_occurrence(std::string_view target) const {
    uint32_t start;
    Entry* e = lookup(target, &start);
    if (e != nullptr && e->first != kUnknown) return e->first;
    // A quoted text occurs at its quote at the latest, so only the prefix
    // up to there needs searching.
    const size_t limit = start != kAbsent ? size_t(start) + target.size() : text_.size();
    std::optional<uint32_t> at = search(target, limit);
    if (e != nullptr && at) e->first = *at;
    return at;
}

bool QuoteIndex::occurs_before(std::string_view target, uint32_t offset) const {
    const size_t end = offset < text_.size() ? offset : text_.size();
    if (target.size() > end) return false;
    if (target.empty()) return true;
    uint32_t start;
    const Entry* e = lookup(target, &start);
    if (start != kAbsent && start + target.size() <= end) return true;
    if (e != nullptr && e->first != kUnknown) return e->first + target.size() <= end;
    if (!chars_.first.empty()) return search(target, end).has_value();
    // Search windows of doubling size backwards from `end`: a target that
    // stands just before its annotation is found at once. Neighbouring
    // windows overlap by |target| - 1 bytes so no occurrence is missed.
    size_t window = target.size() < 64 ? 256 : target.size() * 4;
    size_t hi = end;
    while (true) {
        const size_t lo = hi > window ? hi - window : 0;
        if (!charge(hi - lo)) return search(target, end).has_value();
        if (find_in(text_.substr(lo, hi - lo), target) != std::string_view::npos) return true;
        if (lo == 0) return false;
        hi = lo + target.size() - 1;
        window *= 2;
    }
}

}  // namespace kogane
