#include "pipeline/lexer/classify/target_batch.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "scan/trigger_scanner.hpp"

namespace kogane {

namespace {

// How much text the keyed pass reads between publishing its progress.
constexpr size_t kPieceBytes = size_t(256) << 10;

constexpr unsigned kFilterBits = 16;  // 8 KB per filter: stays in the first-level cache

inline size_t filter_slot(uint64_t head) { return static_cast<size_t>((head * 0x9E3779B97F4A7C15ull) >> (64 - kFilterBits)); }

inline uint64_t head_bytes(const unsigned char* p, size_t count) {
    uint64_t v = 0;
    for (size_t k = 0; k < count; ++k) v |= uint64_t(p[k]) << (8 * k);
    return v;
}

inline void set_bit(std::vector<uint64_t>& bits, size_t slot) { bits[slot >> 6] |= uint64_t(1) << (slot & 63); }
inline bool has_bit(const std::vector<uint64_t>& bits, size_t slot) { return (bits[slot >> 6] >> (slot & 63)) & 1; }

inline bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

TargetBatch::TargetBatch(size_t max_bytes)
    : head3_(size_t(1) << (kFilterBits - 6), 0),
      head6_(size_t(1) << (kFilterBits - 6), 0),
      keys_(size_t(1) << (kFilterBits - 6), 0),
      bytes_left_(max_bytes) {}

uint32_t TargetBatch::id_of(std::string_view target) {
    if (const auto it = ids_.find(target); it != ids_.end()) return it->second;
    if (target.size() > bytes_left_) return kNone;
    bytes_left_ -= target.size();
    taken_ += target.size();
    const auto [it, fresh] = ids_.emplace(std::string(target), static_cast<uint32_t>(targets_.size()));
    targets_.push_back(it->first);
    entries_.emplace_back();
    return it->second;
}

bool TargetBatch::add(std::string_view target) {
    // A target that starts inside a character is left to other searches:
    // the pass looks for starts at character starts only.
    if (target.empty() || is_continuation(static_cast<unsigned char>(target[0]))) return true;
    const uint32_t id = id_of(target);
    if (id == kNone) return false;
    searched_ += !entries_[id].searched;
    entries_[id].searched = true;
    return true;
}

bool TargetBatch::note_before(std::string_view target, uint32_t offset) {
    const uint32_t id = id_of(target);
    if (id == kNone) return false;
    entries_[id].before = std::min(entries_[id].before, offset);
    return true;
}

uint32_t TargetBatch::child(uint32_t s, unsigned char b) const {
    if (s == 0) return root_[b];
    for (uint32_t c = states_[s].child; c != kNone; c = states_[c].sibling)
        if (states_[c].byte == b) return c;
    return kNone;
}

void TargetBatch::insert(uint32_t id) {
    const std::string_view target = targets_[id];
    const auto* t = reinterpret_cast<const unsigned char*>(target.data());
    uint32_t s = 0;
    for (size_t i = 0; i < target.size(); ++i) {
        uint32_t c = child(s, t[i]);
        if (c == kNone) {
            c = static_cast<uint32_t>(states_.size());
            State fresh;
            fresh.byte = t[i];
            fresh.depth = static_cast<uint32_t>(i + 1);
            if (s == 0) {
                root_[t[i]] = c;
            } else {
                fresh.sibling = states_[s].child;
                states_[s].child = c;
            }
            states_.push_back(fresh);
        }
        s = c;
    }
    states_[s].target = id;
    if (target.size() >= 6)
        set_bit(head6_, filter_slot(head_bytes(t, 6)));
    else if (target.size() >= 3)
        set_bit(head3_, filter_slot(head_bytes(t, 3)));
    else
        first_byte_[t[0]] = true;
}

size_t TargetBatch::build() {
    states_.assign(1, State{});
    root_.fill(kNone);
    first_byte_.fill(false);
    std::fill(head3_.begin(), head3_.end(), 0);
    std::fill(head6_.begin(), head6_.end(), 0);
    live_ = recorded_ = 0;
    size_t longest = 0;
    for (uint32_t id = 0; id < targets_.size(); ++id) {
        if (!entries_[id].searched || entries_[id].first != kNotSeen) continue;
        insert(id);
        ++live_;
        longest = std::max(longest, targets_[id].size());
    }
    // Fail and output links breadth first, so every state's fail target is
    // linked before it.
    std::vector<uint32_t> queue;
    queue.reserve(states_.size());
    for (uint32_t c : root_)
        if (c != kNone) queue.push_back(c);
    for (size_t head = 0; head < queue.size(); ++head) {
        const uint32_t s = queue[head];
        const uint32_t f = states_[s].fail;
        states_[s].out = states_[f].target != kNone ? f : states_[f].out;
        for (uint32_t c = states_[s].child; c != kNone; c = states_[c].sibling) {
            uint32_t g = f;
            uint32_t to = child(g, states_[c].byte);
            while (to == kNone && g != 0) {
                g = states_[g].fail;
                to = child(g, states_[c].byte);
            }
            states_[c].fail = to == kNone ? 0 : to;
            queue.push_back(c);
        }
    }
    return longest;
}

uint32_t TargetBatch::step(uint32_t s, unsigned char b) const {
    while (true) {
        const uint32_t c = child(s, b);
        if (c != kNone) return c;
        if (s == 0) return 0;
        s = states_[s].fail;
    }
}

uint32_t TargetBatch::live(uint32_t s) {
    auto reports = [&](uint32_t r) { return states_[r].target != kNone && entries_[states_[r].target].first == kNotSeen; };
    uint32_t r = s;
    while (r != kNone && !reports(r)) r = states_[r].out;
    while (s != r) {
        const uint32_t next = states_[s].out;
        states_[s].out = r;
        s = next;
    }
    return r;
}

inline bool TargetBatch::may_start(const unsigned char* p, size_t left) const {
    if (first_byte_[p[0]]) return true;
    if (left >= 3 && has_bit(head3_, filter_slot(head_bytes(p, 3)))) return true;
    if (left < 6) return false;
    uint64_t six;
    if (std::endian::native == std::endian::little && left >= 8) {
        std::memcpy(&six, p, 8);
        six &= 0xFFFFFFFFFFFFull;
    } else {
        six = head_bytes(p, 6);
    }
    return has_bit(head6_, filter_slot(six));
}

size_t TargetBatch::scan(std::string_view text, size_t from, size_t limit) {
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    uint32_t s = 0;
    size_t p = from;
    while (p < limit) {
        if (s == 0) {
            // No target starts at a continuation byte (targets are whole
            // characters), nor where the filter says so.
            if constexpr (std::endian::native == std::endian::little) {
                // Three-byte characters, the bulk of the text, one load each.
                while (p + 8 <= n && p < limit) {
                    uint64_t w;
                    std::memcpy(&w, t + p, 8);
                    if ((w & 0xC0C0F0) != 0x8080E0 || first_byte_[w & 0xFF]) break;
                    if (has_bit(head6_, filter_slot(w & 0xFFFFFFFFFFFFull)) || has_bit(head3_, filter_slot(w & 0xFFFFFF)))
                        break;
                    p += 3;
                }
            }
            while (p < limit && (is_continuation(t[p]) || !may_start(t + p, n - p))) ++p;
            if (p == limit) break;
        }
        s = step(s, t[p]);
        ++p;
        // Only a prefix that starts where a target may start can grow into
        // an occurrence; shorter ones follow down the fail chain. Without
        // this the pass would seldom get back to the root.
        while (s != 0 && !may_start(t + (p - states_[s].depth), n - (p - states_[s].depth))) s = states_[s].fail;
        for (uint32_t u = live(s); u != kNone; u = live(states_[u].out)) {
            record(entries_[states_[u].target], static_cast<uint32_t>(p - states_[u].depth));
        }
        if (recorded_ != 0 && 2 * recorded_ >= live_) break;
    }
    return p;
}

// Where a target's key starts: the last character start that leaves at
// least `length` bytes. In the text the key then starts where no
// continuation byte stands, so the pass looks at character starts only.
size_t TargetBatch::key_at(std::string_view target, size_t length) {
    size_t k = target.size() - length;
    while (k > 0 && is_continuation(static_cast<unsigned char>(target[k]))) --k;
    return k;
}

// A key of `length` bytes (at most six) as one number, its length folded
// in so that keys of different lengths fall apart.
inline uint64_t key_bits(uint64_t bytes, size_t length) { return bytes ^ (uint64_t(length) << 56); }

void TargetBatch::build_keys() {
    std::fill(keys_.begin(), keys_.end(), 0);
    key_first_byte_.fill(false);
    buckets_.clear();
    key_lengths_.clear();
    wide_key_lengths_.clear();
    live_ = recorded_ = 0;
    for (uint32_t id = 0; id < targets_.size(); ++id) {
        if (!entries_[id].searched || entries_[id].first != kNotSeen) continue;
        ++live_;
        const std::string_view target = targets_[id];
        const auto* t = reinterpret_cast<const unsigned char*>(target.data());
        // The tail of the target, up to six bytes: a missing target is
        // mostly a word that does occur followed by what does not.
        const size_t length = std::min<size_t>(target.size(), 6);
        const size_t k = key_at(target, length);
        entries_[id].key_at = static_cast<uint32_t>(k);
        if (t[k] < 0x80) key_first_byte_[t[k]] = true;
        const auto slot = static_cast<uint32_t>(filter_slot(key_bits(head_bytes(t + k, length), length)));
        set_bit(keys_, slot);
        if (std::find(key_lengths_.begin(), key_lengths_.end(), length) == key_lengths_.end()) key_lengths_.push_back(length);
        const bool three_byte_start = (t[k] & 0xF0) == 0xE0;
        if (three_byte_start && std::find(wide_key_lengths_.begin(), wide_key_lengths_.end(), length) == wide_key_lengths_.end())
            wide_key_lengths_.push_back(length);
        buckets_[(static_cast<uint32_t>(length) << kFilterBits) | slot].push_back(id);
    }
    run_filter_.clear();
    if (wide_key_lengths_.size() == 1 && wide_key_lengths_[0] == 6) {
        run_filter_.assign(scan::kKeySlots / 32, 0);
        for (uint32_t id = 0; id < targets_.size(); ++id) {
            if (!entries_[id].searched || entries_[id].first != kNotSeen) continue;
            const auto* key = reinterpret_cast<const unsigned char*>(targets_[id].data()) + entries_[id].key_at;
            if ((key[0] & 0xF0) != 0xE0) continue;
            const uint32_t slot = scan::key_slot(key);
            run_filter_[slot >> 5] |= uint32_t(1) << (slot & 31);
        }
    }
}

// Verifies the targets whose key may stand at `p`.
void TargetBatch::verify(std::string_view text, size_t p, uint32_t bucket, size_t& work) {
    const auto it = buckets_.find(bucket);
    if (it == buckets_.end()) return;
    for (uint32_t id : it->second) {
        Entry& e = entries_[id];
        if (e.first != kNotSeen || p < e.key_at) continue;
        const std::string_view target = targets_[id];
        const size_t q = p - e.key_at;
        work = work > target.size() ? work - target.size() : 0;
        if (text.compare(q, target.size(), target) == 0) record(e, static_cast<uint32_t>(q));
    }
}

TargetBatch::Stop TargetBatch::scan_keyed(std::string_view text, size_t from, size_t limit, size_t& work) {
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    static constexpr uint64_t kMask[7] = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF};
    // Where a three-byte character starts only keys that start with one
    // can stand: at most six lengths (one to six bytes: a target may end
    // inside a character), each a mask and a length tag, the usual
    // two-character keys first.
    std::array<uint64_t, 6> wide_mask{}, wide_tag{};
    size_t wide = 0;
    for (size_t length = 6; length >= 1; --length) {
        if (std::find(wide_key_lengths_.begin(), wide_key_lengths_.end(), length) == wide_key_lengths_.end()) continue;
        wide_mask[wide] = kMask[length];
        wide_tag[wide++] = key_bits(0, length);
    }
    const uint64_t* const keys = keys_.data();
    const uint32_t* const run_filter = run_filter_.empty() ? nullptr : run_filter_.data();
    auto wide_key_may_start = [&](uint64_t w) {
        for (size_t k = 0; k < wide; ++k) {
            const size_t slot = filter_slot((w & wide_mask[k]) ^ wide_tag[k]);
            if ((keys[slot >> 6] >> (slot & 63)) & 1) return true;
        }
        return false;
    };
    // Eight bytes can be loaded from every position before this.
    const size_t loads_end = std::min(limit, n >= 8 ? n - 7 : 0);
    size_t p = from;
    while (p < limit) {
        if constexpr (std::endian::native == std::endian::little) {
            // Three-byte characters, the bulk of the text, one load each.
            while (p < loads_end) {
                uint64_t w;
                std::memcpy(&w, t + p, 8);
                if ((w & 0xC0C0F0) == 0x8080E0) {
                    if (run_filter != nullptr) {
                        // Eight characters a step where the scanner can.
                        const size_t ran = scan::skip_keyless_run(t + p, n - p, run_filter);
                        if (ran != 0) {
                            p += ran;
                            continue;
                        }
                    }
                    if (wide_key_may_start(w)) break;
                    p += 3;
                    continue;
                }
                // An ASCII byte (line feeds, digits) where no key starts
                // with it: stepped over without leaving the loop.
                if ((w & 0x80) != 0 || key_first_byte_[w & 0x7F]) break;
                ++p;
            }
            if (p >= limit) break;
        }
        if (!is_continuation(t[p])) {
            for (size_t length : key_lengths_) {
                if (p + length > n) continue;
                const size_t slot = filter_slot(key_bits(head_bytes(t + p, length), length));
                if (has_bit(keys_, slot)) verify(text, p, static_cast<uint32_t>(length << kFilterBits | slot), work);
            }
            if (work == 0) return Stop{p + 1, true};
            if (recorded_ != 0 && 2 * recorded_ >= live_) return Stop{p + 1, false};
        }
        ++p;
    }
    return Stop{std::max(p, limit), false};
}

void TargetBatch::record(Entry& e, uint32_t at) {
    std::atomic_ref<uint32_t>(e.first).store(at, std::memory_order_relaxed);
    ++recorded_;
}

void TargetBatch::publish(size_t progress) {
    progress_.store(progress, std::memory_order_release);
    progress_.notify_all();
}

void TargetBatch::abandon() noexcept { publish(kAbandoned); }

size_t TargetBatch::wait_for(size_t at) const {
    size_t reached = progress();
    while (reached < at) {
        progress_.wait(reached, std::memory_order_acquire);
        reached = progress();
    }
    return reached;
}

void TargetBatch::run(std::string_view text, size_t limit) {
    limit = std::min(limit, text.size());
    // Verifying keys is fast but, with many targets sharing a key, not
    // linear; past this much work the automaton takes over.
    size_t work = 4 * text.size() + 4 * taken_ + 65536;
    bool automaton = false;
    size_t from = 0;
    scanned_to_ = limit;
    while (true) {
        if (!automaton) {
            build_keys();
            if (live_ == 0) break;
            // A piece at a time, publishing how far it got: a reader on
            // another thread may then take the answers behind it.
            Stop stop{from, false};
            while (true) {
                const size_t piece_end = std::min(limit, from + kPieceBytes);
                stop = scan_keyed(text, from, piece_end, work);
                from = stop.at;
                if (stop.out_of_work || stop.at < piece_end || stop.at >= limit) break;
                publish(stop.at);
            }
            if (stop.at >= limit && !stop.out_of_work) break;
            if (stop.out_of_work) {
                // Occurrences whose key starts before `from` are recorded;
                // any other starts at most the longest target before it.
                automaton = true;
                size_t longest = 0;
                for (uint32_t id = 0; id < targets_.size(); ++id)
                    if (entries_[id].searched && entries_[id].first == kNotSeen) longest = std::max(longest, targets_[id].size());
                from = from >= longest ? from - longest : 0;
            }
            continue;
        }
        const size_t longest = build();
        if (live_ == 0) break;
        const size_t stopped = scan(text, from, limit);
        if (stopped >= limit) break;
        // Occurrences of the targets left that end past `stopped` start
        // after this.
        from = stopped >= longest ? stopped - (longest - 1) : 0;
    }
    std::vector<State>().swap(states_);
    buckets_.clear();
    publish(kEnded);
}

TargetBatch::Answer TargetBatch::find(std::string_view target) const {
    const auto it = ids_.find(target);
    if (it == ids_.end()) return {};
    const Entry& e = entries_[it->second];
    // `first` may be being recorded by a pass on another thread.
    const uint32_t first = std::atomic_ref<uint32_t>(const_cast<uint32_t&>(e.first)).load(std::memory_order_relaxed);
    return Answer{true, e.searched, first, e.before};
}

}  // namespace kogane
