#pragma once
// Where forward-reference targets occur: "does this quoted target occur in
// the text before its annotation?" for the annotation classifiers.
//
// Nearly every target stands just before its annotation (97.7% right
// there, 99% within five characters), so a search first looks backwards
// from the annotation, in windows of doubling size up to kNearBytes. Only
// then does it scan from the start of the text. That scan is remembered
// per target text (how far it got, and where the target first showed),
// so asking for a target again scans only text not scanned before.
//
// Without a list of targets (below), once such scans have read about
// twice the text, they are narrowed by an index over pairs of adjacent
// characters, built once as far as the searches reach: where
// each pair (by a hash of it) first occurs. A target with a pair that has
// not occurred yet is absent without any scan (the usual case for a
// missing target), and a target cannot start before any of its pairs'
// first occurrences less the pair's offset in the target, so the scan
// starts there. A collision in the hash only makes a first occurrence
// look earlier, which weakens the bound but never changes an answer.
//
// A long book asks about many far or missing targets, and a scan for each
// would read the book once per target. So, given a list of every target
// the annotations of the text can ask about (a TargetLister), plain scans
// give way once they have read, or the far targets met so far predict
// they will read, about what the batch costs: it then finds the first
// occurrence of all listed targets in one pass (TargetBatch), and every
// later question about a listed target is a lookup; unlisted ones fall
// back to the pair index. The answer never
// depends on how much of the text other targets made the index read.
//
// A text of a few megabytes can have its batch made on a helper thread
// from the start, from a list read off the text alone (a TextLister). It
// changes no decision: a plain scan, once the batch is ready, takes the
// batch's answer where the batch searched for the target (the same answer,
// the scan still counted and charged), and the batch, when the rule above
// calls for it, is the one made beside (waited for if need be). So every
// answer, and every charge to the budget, is the same whenever the helper
// finishes, and with no helper at all.
//
// All other scanning draws on one budget, a fixed multiple of the text
// length. Once it is spent, a target neither listed nor found yet is
// reported absent: work stays linear in the text for any input (thousands
// of missing targets, quotes nested thousands deep), and memory stays
// proportional to the number of distinct targets asked for. Only targets
// left out of the list (hostile nesting beyond its byte cap) can reach
// that point, and even then the text is kept: an absent target only turns
// the annotation into a remark.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <unordered_map>
#include <vector>

namespace kogane {

class TargetBatch;

class QuoteIndex {
public:
    // Receives one target an annotation may ask about and the offset it is
    // asked at; false means the list is full and the lister should stop.
    using TargetSink = std::function<bool(std::string_view target, uint32_t offset)>;
    // Calls the sink for every such target; run at most once, and only when
    // far searches get costly.
    using TargetLister = std::function<void(const TargetSink&)>;
    // The same list from the text alone, safe to run on another thread
    // while the caller goes on; false, having called the sink for nothing,
    // when it cannot list them that way.
    using TextLister = std::function<bool(const TargetSink&)>;

    // `text` (the sanitized text) must outlive the index. With
    // `from_text`, a long text's batch is made on a helper thread from the
    // start (where helper threads are allowed): the searches then take its
    // answers once it is ready, and never wait for it unless they would
    // have made it themselves.
    explicit QuoteIndex(std::string_view text, TargetLister targets = {}, TextLister from_text = {});
    ~QuoteIndex();
    QuoteIndex(const QuoteIndex&) = delete;
    QuoteIndex& operator=(const QuoteIndex&) = delete;

    // True when `target` occurs entirely inside text[0, offset); offsets
    // past the end of the text clamp to it. The empty target occurs
    // everywhere.
    bool occurs_before(std::string_view target, uint32_t offset) const;

    // True when `target` occurs entirely inside the kNearBytes before
    // `offset`. For warnings about repeats, which only matter close by; it
    // has a budget of its own, so warnings never use up the searches that
    // decide what an annotation is.
    bool occurs_near(std::string_view target, uint32_t offset) const;

    // Bytes of scanning still allowed before searches give up.
    size_t budget_left() const { return budget_; }

    // How far back from the offset the first, local search looks.
    static constexpr size_t kNearBytes = 4096;

private:
    static constexpr uint32_t kNotSeen = 0xFFFFFFFFu;

    // What the scans from the start of the text know about one target.
    struct Scan {
        uint32_t scanned = 0;       // text[0, scanned) holds no occurrence, unless `first` says otherwise
        uint32_t first = kNotSeen;  // start of the first occurrence, once found
    };

    struct KeyHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using Scans = std::unordered_map<std::string, Scan, KeyHash, std::equal_to<>>;

    // Targets up to this length are looked up in the remembered scans
    // without charge: one lookup per annotation stays linear.
    static constexpr size_t kFreeLookupBytes = 256;

    static bool charge(size_t& budget, size_t bytes);
    bool search_before(std::string_view target, uint32_t offset) const;
    bool near_search(std::string_view target, size_t end, size_t& budget) const;
    bool scan_from_start(std::string_view target, size_t end, Scans::iterator known) const;
    // Whether a plain scan of `bytes` more, for a target asked at `end`,
    // costs less than what it would save.
    bool plain_scan_pays(size_t bytes, size_t end) const;
    // Where the pair index says `target` can start at the earliest, or
    // kNotSeen when it cannot occur inside text[0, end) at all.
    uint32_t earliest_start(std::string_view target, size_t end) const;
    void index_pairs_to(size_t end) const;
    // The batch's answer for `target` before `end`: 1 present, 0 absent,
    // -1 when the batch does not know (not listed, or asked beyond its pass).
    int batch_answer(std::string_view target, size_t end) const;
    // The batch of the targets `list` gives, not yet run, and the offset
    // its pass must reach; null when the list cannot be made. Reads only
    // the text: it runs on the helper thread too.
    template <typename List>
    std::pair<std::unique_ptr<TargetBatch>, size_t> list_batch(const List& list) const;
    // The batch made beside, once it is ready; null before, or when it
    // could not be made.
    const TargetBatch* ready_beside() const;
    // The answer of the batch the helper is still making, for the text its
    // pass has got behind (waiting for it to get past `end`); -2 once the
    // helper is done, the batch then being taken whole.
    int running_answer(std::string_view target, size_t end) const;
    // Waits for the helper and takes its batch, if it made one whole.
    void take_beside() const;
    // Makes the batch on this thread, from `lister_`.
    void make_batch() const;
    // Texts at least this long have their batch made beside.
    static constexpr size_t kBesideBytes = size_t(2) << 20;

    std::string_view text_;
    TargetLister lister_;
    mutable std::unique_ptr<TargetBatch> batch_;  // made on first need
    mutable bool batch_made_ = false;
    // The helper making the batch from the text alone. Its batch (null if
    // the list could not be made) is published by `beside_listed_` before
    // its pass runs, and the end of its work by `beside_ready_`.
    mutable std::thread beside_;
    mutable std::unique_ptr<TargetBatch> beside_batch_;
    mutable std::atomic<bool> beside_listed_{false};
    mutable std::atomic<bool> beside_ready_{false};
    mutable std::atomic<bool> beside_failed_{false};  // its pass threw: what it published still holds
    // The helper's batch while its pass runs, once the searches turn to it.
    mutable const TargetBatch* running_ = nullptr;
    mutable size_t budget_;
    mutable size_t near_budget_;
    // Remembered scans, keyed by an owned copy of the target; their bytes
    // are capped at about half the text.
    mutable Scans scans_;
    mutable size_t key_bytes_left_;
    // First occurrence of each pair of characters by the hash of its bytes
    // (kNotSeen for none), over the pairs that start before pairs_to_;
    // made on the first scan from the start.
    mutable std::vector<uint32_t> first_pair_;
    mutable size_t pairs_to_ = 0;
    mutable size_t plain_scanned_ = 0;  // bytes read by scans from the start before the index
    mutable size_t plain_scans_ = 0;    // and how many there were
    mutable unsigned slot_shift_ = 0;
};

}  // namespace kogane
