#pragma once
// First occurrences of many targets in one pass over the text.
//
// Each target has a key, its last bytes (up to six, from a character
// start). The pass hashes the bytes at every character start of the text
// into a small filter of the keys (a missing target is mostly a common word
// followed by what never follows it, so its tail is rare) and checks the
// targets of a key that may stand there whole. Each target's first
// occurrence is recorded once, and the filter is rebuilt from the targets
// left whenever half of them are recorded.
//
// Many targets sharing a key over text full of it would make the checks
// quadratic; past a few times the text of checking the pass hands over to
// an Aho–Corasick automaton of the targets left, entered only where a
// filter on their first bytes says one may start. Recorded targets drop
// out of its output chains (with path compression), so the pass stays
// linear in the text plus the targets for any input.
//
// The pass may run on a helper thread while another thread asks: it
// publishes how far it has got, and what it has recorded behind that point
// is final, so answers for the text behind it need not wait for the rest.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kogane {

class TargetBatch {
public:
    static constexpr uint32_t kNotSeen = 0xFFFFFFFFu;

    // At most `max_bytes` bytes of targets are taken.
    explicit TargetBatch(size_t max_bytes);

    // Adds a target for the pass (empty ones are ignored); false when it
    // does not fit.
    bool add(std::string_view target);
    // Notes that `target` occurs entirely before `offset` (found by other
    // means); the pass need not look for it.
    bool note_before(std::string_view target, uint32_t offset);

    // Records the first occurrence of every target that lies entirely in
    // text[0, limit). Call once, after the last add.
    void run(std::string_view text, size_t limit);
    // Ends a pass that failed on its way (it threw): what it published
    // stays true, and waiting threads wake to kAbandoned.
    void abandon() noexcept;

    // Progress of a running pass: every occurrence of a listed target that
    // ends at or before it is recorded, and find() may be called from
    // another thread meanwhile. kEnded once run() returned, kAbandoned
    // after abandon().
    static constexpr size_t kEnded = SIZE_MAX, kAbandoned = SIZE_MAX - 1;
    size_t progress() const { return progress_.load(std::memory_order_acquire); }
    // Waits until progress() reaches `at` (or the pass ends); returns it.
    size_t wait_for(size_t at) const;

    struct Answer {
        bool listed = false;          // added or noted
        bool searched = false;        // added: the pass looked for it
        uint32_t first = kNotSeen;    // added: its first occurrence, if inside the pass
        uint32_t before = kNotSeen;   // noted: it occurs entirely before this offset
    };
    Answer find(std::string_view target) const;

    // Offset the pass reached, once it has ended: a listed target not seen
    // occurs nowhere entirely before it.
    size_t scanned_to() const { return scanned_to_; }
    size_t targets() const { return targets_.size(); }
    size_t searched() const { return searched_; }

private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    struct State {
        uint32_t child = kNone;    // first child; siblings chain the rest
        uint32_t sibling = kNone;
        uint32_t fail = 0;
        uint32_t out = kNone;      // next state down the fail chain that may still report
        uint32_t depth = 0;
        uint32_t target = kNone;   // terminal states: the target ending here
        uint8_t byte = 0;
    };

    // An automaton of the targets not recorded yet; returns the longest.
    size_t build();
    // Scans text[from, limit) until it ends or half the automaton's targets
    // are recorded; returns where it stopped.
    size_t scan(std::string_view text, size_t from, size_t limit);
    void insert(uint32_t id);
    uint32_t child(uint32_t s, unsigned char b) const;
    uint32_t step(uint32_t s, unsigned char b) const;
    void link();
    // The nearest terminal on the output chain of `s` (itself included)
    // not yet recorded, compressing the chain on the way.
    uint32_t live(uint32_t s);
    bool may_start(const unsigned char* p, size_t left) const;

    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, uint32_t, KeyHash, std::equal_to<>> ids_;
    std::vector<std::string_view> targets_;  // by id; views of the keys in ids_
    struct Entry {
        uint32_t first = kNotSeen;
        uint32_t before = kNotSeen;
        uint32_t key_at = 0;  // offset of its key in the target
        bool searched = false;
    };
    struct Stop {
        size_t at;          // positions before this are done
        bool out_of_work;
    };
    // The filters and buckets by key (not by head) of the targets left.
    void build_keys();
    static size_t key_at(std::string_view target, size_t length);
    void verify(std::string_view text, size_t p, uint32_t bucket, size_t& work);
    // Looks for keys at the character starts of text[from, limit) until it
    // ends, half the targets are recorded, or `work` runs out.
    Stop scan_keyed(std::string_view text, size_t from, size_t limit, size_t& work);
    uint32_t id_of(std::string_view target);  // kNone when it does not fit
    // Sets a target's first occurrence, which readers on other threads
    // may be loading.
    void record(Entry& e, uint32_t at);
    void publish(size_t progress);
    std::vector<Entry> entries_;             // by id
    size_t searched_ = 0;
    size_t live_ = 0;                        // targets in the automaton
    size_t recorded_ = 0;                    // of them, recorded since it was built

    std::vector<State> states_;
    std::array<uint32_t, 256> root_{};
    // Filters on a target's first bytes, for the automaton: one byte
    // (targets under three bytes), a hash of three bytes (under six), or of
    // six.
    std::array<bool, 256> first_byte_{};
    std::vector<uint64_t> head3_, head6_;
    // The keyed pass's filter: hashes of the keys (a target's last bytes,
    // at most six, from a character start), and the key lengths in use.
    std::vector<uint64_t> keys_;
    std::vector<size_t> key_lengths_;
    std::vector<size_t> wide_key_lengths_;  // of keys that start with a three-byte character
    std::array<bool, 128> key_first_byte_{};  // ASCII bytes some key starts with
    // The same keys for the scanner's pass over runs of three-byte
    // characters (scan::skip_keyless_run), when every key that starts with
    // one is six bytes long; empty otherwise.
    std::vector<uint32_t> run_filter_;
    std::unordered_map<uint32_t, std::vector<uint32_t>> buckets_;  // key kind and slot -> targets
    size_t bytes_left_;
    size_t taken_ = 0;
    size_t scanned_to_ = 0;
    std::atomic<size_t> progress_{0};
};

}  // namespace kogane
