#include "pipeline/lexer/classify/quote_index.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <tuple>

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

// Annotations quote their targets right after ＃ (［＃「X」…), after the
// previous target (「A」「B」) or after a range mark (「X」～「Y」).
bool quotes_a_target(std::string_view text, size_t open) {
    if (open < 3) return false;
    std::string_view before = text.substr(open - 3, 3);
    return before == "＃" || before == "」" || before == "～" || before == "〜";
}

size_t find_in(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return 0;
    const void* hit = memmem(hay.data(), hay.size(), needle.data(), needle.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
}

}  // namespace

namespace {

std::vector<uint32_t> find_quote_brackets(std::string_view text) {
    std::vector<uint32_t> brackets;
    for (size_t at = next_quote_bracket(text, 0); at != std::string_view::npos; at = next_quote_bracket(text, at + 3))
        brackets.push_back(static_cast<uint32_t>(at));
    return brackets;
}

}  // namespace

QuoteIndex::QuoteIndex(std::string_view text) : QuoteIndex(text, find_quote_brackets(text)) {}

QuoteIndex::QuoteIndex(std::string_view text, std::span<const uint32_t> brackets)
    : text_(text), scan_budget_(text.size() + (64u << 10)), target_budget_(text.size() + (64u << 10)) {
    size_t opens = 0;
    for (const uint32_t at : brackets) opens += static_cast<unsigned char>(text[at + 2]) == 0x8C;
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
                e = Entry{f.hash, length, f.content_start, kUnknown, false};
                ++count_;
            }
            if (quotes_a_target(text, f.content_start - 3)) e.target = true;
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

namespace {

// First occurrences of many keys in one pass: an Aho–Corasick automaton
// over the keys, where each key is reported only the first time it is
// seen. Reported keys are spliced out of the dictionary-suffix chains
// (union-find with path compression), so the pass stays linear in the
// text however many keys end at each position.
class FirstHits {
public:
    explicit FirstHits(const std::vector<std::string_view>& keys) : keys_(keys) {
        root_.fill(kNone);
        nodes_.push_back(Node{});
        size_t total = 0;
        for (std::string_view k : keys) total += k.size();
        edges_.assign(std::bit_ceil(std::max<size_t>(64, total * 2)), Edge{});
        mask_ = edges_.size() - 1;
        for (uint32_t k = 0; k < keys.size(); ++k) {
            uint32_t s = 0;
            for (unsigned char c : keys[k]) {
                uint32_t next = child(s, c);
                if (next == kNone) {
                    next = static_cast<uint32_t>(nodes_.size());
                    nodes_.push_back(Node{});
                    put(s, c, next);
                }
                s = next;
            }
            nodes_[s].key = k;
        }
        link();
    }

    // first[k] = byte offset of the first occurrence of keys[k], or kNone.
    std::vector<uint32_t> run(std::string_view text) {
        std::vector<uint32_t> first(keys_.size(), kNone);
        size_t left = keys_.size();
        uint32_t s = 0;
        for (size_t i = 0; i < text.size() && left > 0; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            uint32_t next;
            while ((next = child(s, c)) == kNone && s != 0) s = nodes_[s].fail;
            s = next == kNone ? 0 : next;
            for (uint32_t y = live(s); y != 0; y = live(nodes_[y].dict)) {
                const uint32_t k = nodes_[y].key;
                first[k] = static_cast<uint32_t>(i + 1 - keys_[k].size());
                nodes_[y].found = true;
                nodes_[y].jump = nodes_[y].dict;
                --left;
            }
        }
        return first;
    }

private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    struct Node {
        uint32_t fail = 0;
        uint32_t dict = 0;  // nearest proper suffix state that ends a key
        uint32_t jump = 0;  // skips states known to have nothing to report
        uint32_t key = kNone;
        bool found = false;
    };
    struct Edge {
        uint64_t from_byte = ~uint64_t(0);
        uint32_t to = 0;
    };

    static uint64_t edge_key(uint32_t s, unsigned char c) { return uint64_t(s) << 8 | c; }
    size_t bucket(uint64_t k) const { return static_cast<size_t>((k * 0x9E3779B97F4A7C15ull) >> 17) & mask_; }

    uint32_t child(uint32_t s, unsigned char c) const {
        if (s == 0) return root_[c];  // the scan falls back to the root at most bytes
        const uint64_t k = edge_key(s, c);
        for (size_t i = bucket(k);; i = (i + 1) & mask_) {
            if (edges_[i].from_byte == k) return edges_[i].to;
            if (edges_[i].from_byte == ~uint64_t(0)) return kNone;
        }
    }
    void put(uint32_t s, unsigned char c, uint32_t to) {
        if (s == 0) root_[c] = to;
        const uint64_t k = edge_key(s, c);
        size_t i = bucket(k);
        while (edges_[i].from_byte != ~uint64_t(0)) i = (i + 1) & mask_;
        edges_[i] = Edge{k, to};
        children_.emplace_back(s, c, to);
    }

    // Failure and dictionary links, breadth first.
    void link() {
        std::vector<std::vector<std::pair<unsigned char, uint32_t>>> kids(nodes_.size());
        for (auto [s, c, to] : children_) kids[s].emplace_back(c, to);
        std::vector<uint32_t> queue;
        queue.reserve(nodes_.size());
        for (auto [c, to] : kids[0]) queue.push_back(to);
        for (size_t q = 0; q < queue.size(); ++q) {
            const uint32_t u = queue[q];
            const Node& un = nodes_[u];
            nodes_[u].dict = nodes_[un.fail].key != kNone ? un.fail : nodes_[un.fail].dict;
            nodes_[u].jump = nodes_[u].key != kNone ? u : nodes_[u].dict;
            for (auto [c, v] : kids[u]) {
                uint32_t f = nodes_[u].fail, next;
                while ((next = child(f, c)) == kNone && f != 0) f = nodes_[f].fail;
                nodes_[v].fail = next == kNone ? 0 : next;
                queue.push_back(v);
            }
        }
    }

    // The first state from `x` along its dictionary chain whose key is not
    // reported yet (0 when none), compressing the path behind it.
    uint32_t live(uint32_t x) {
        uint32_t y = x;
        while (y != 0 && (nodes_[y].key == kNone || nodes_[y].found)) y = nodes_[y].jump;
        while (x != 0 && x != y) {
            uint32_t next = nodes_[x].jump;
            nodes_[x].jump = y;
            x = next;
        }
        return y;
    }

    const std::vector<std::string_view>& keys_;
    std::vector<Node> nodes_;
    std::vector<Edge> edges_;
    std::array<uint32_t, 256> root_;
    std::vector<std::tuple<uint32_t, unsigned char, uint32_t>> children_;
    size_t mask_ = 0;
};

}  // namespace

void QuoteIndex::find_target_occurrences() const {
    targets_done_ = true;
    std::vector<std::string_view> keys;
    std::vector<Entry*> entries;
    for (Entry& e : table_) {
        if (e.length == 0 || !e.target || e.first != kUnknown) continue;
        keys.push_back(text_.substr(e.start, e.length));
        entries.push_back(&e);
    }
    if (keys.empty()) return;
    std::vector<uint32_t> first = FirstHits(keys).run(text_);
    for (size_t k = 0; k < keys.size(); ++k) entries[k]->first = first[k] == 0xFFFFFFFFu ? kAbsent : first[k];
}

bool QuoteIndex::spend_target_budget(size_t bytes) const {
    if (bytes > target_budget_) {
        target_budget_ = 0;
        return false;
    }
    target_budget_ -= bytes;
    return true;
}

std::optional<uint32_t> QuoteIndex::first_occurrence(std::string_view target) const {
    uint32_t start;
    Entry* e = lookup(target, &start);
    // A quoted text occurs at its quote at the latest, so only the prefix
    // up to there needs searching.
    const size_t limit = start != kAbsent ? size_t(start) + target.size() : text_.size();
    if (e != nullptr && e->first == kUnknown && e->target && !targets_done_) {
        // Targets usually turn up early; search directly while that stays
        // cheap, and answer all of them in one pass once it does not.
        if (target_budget_ > 0) {
            const size_t at = find_in(text_.substr(0, limit), target);
            const size_t scanned = at == std::string_view::npos ? limit : at + target.size();
            spend_target_budget(scanned);
            e->first = at == std::string_view::npos ? kAbsent : static_cast<uint32_t>(at);
        } else {
            find_target_occurrences();
        }
    }
    if (e != nullptr && e->first != kUnknown) {
        if (e->first == kAbsent) return std::nullopt;
        return e->first;
    }
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
    if (e != nullptr && e->first != kUnknown) return e->first != kAbsent && e->first + target.size() <= end;
    // Search windows of doubling size backwards from `end`: a target that
    // stands just before its annotation is found at once. Neighbouring
    // windows overlap by |target| - 1 bytes so no occurrence is missed.
    const bool target_entry = e != nullptr && e->target && !targets_done_;
    size_t window = target.size() < 64 ? 256 : target.size() * 4;
    size_t hi = end;
    while (!target_entry && chars_.first.empty()) {
        const size_t lo = hi > window ? hi - window : 0;
        if (!charge(hi - lo)) break;
        if (find_in(text_.substr(lo, hi - lo), target) != std::string_view::npos) return true;
        if (lo == 0) return false;
        hi = lo + target.size() - 1;
        window *= 2;
    }
    while (target_entry) {
        const size_t lo = hi > window ? hi - window : 0;
        if (!spend_target_budget(hi - lo)) {
            find_target_occurrences();
            return e->first != kAbsent && e->first + target.size() <= end;
        }
        if (find_in(text_.substr(lo, hi - lo), target) != std::string_view::npos) return true;
        if (lo == 0) return false;
        hi = lo + target.size() - 1;
        window *= 2;
    }
    return search(target, end).has_value();
}

}  // namespace kogane
