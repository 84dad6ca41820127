#include "pipeline/lexer/classify/quote_index.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <system_error>

#include "collections/helper_threads.hpp"
#include "encoding/decode.hpp"
#include "pipeline/lexer/classify/target_batch.hpp"
#include "scan/trigger_scanner.hpp"

namespace kogane {

namespace {

// Scanning allowed per byte of text, and a floor for short texts.
constexpr size_t kBudgetPerByte = 32;
constexpr size_t kBudgetFloor = size_t(4) << 20;
// What the batch costs, in bytes read by plain scans: so many times the
// text, and a floor for short texts.
constexpr double kBatchCostInScans = 8.0;
constexpr size_t kBatchAfterBytes = size_t(2) << 20;
// Far targets met before their rate is trusted to predict the rest.
constexpr size_t kScansBeforePredicting = 4;
// Targets asked within a sixteenth of the text from its start, and no
// more than this, are scanned for plainly (within the batch's cost): such
// scans are short, and a batch made on a helper thread has that long to
// come ready.
constexpr size_t kPlainPrefixBytes = size_t(4) << 20;

// Bytes in a UTF-8 character, from its lead byte; anything that is no
// lead counts as a character of its own.
size_t char_bytes(unsigned char lead) { return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

// The bytes of a pair of characters (at most eight) as one number, first
// byte lowest.
uint64_t pair_bytes(const unsigned char* p, size_t length) {
    uint64_t bytes = 0;
    for (size_t k = 0; k < length; ++k) bytes |= uint64_t(p[k]) << (8 * k);
    return bytes;
}

// A pair's slot in an index of 2^(64 - shift) slots.
inline size_t slot_of(uint64_t pair, unsigned shift) {
    return static_cast<size_t>((pair * 0x9E3779B97F4A7C15ull) >> shift);
}

// Slots in the pair index: about one for every 32 bytes of text, within
// bounds (a pair index never costs more than a quarter of the text's size).
constexpr unsigned kMinSlotBits = 12, kMaxSlotBits = 22;

size_t find_by_memmem(std::string_view hay, std::string_view needle) {
    const void* hit = memmem(hay.data(), hay.size(), needle.data(), needle.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - hay.data()) : std::string_view::npos;
}

// Where in a target to anchor the vector search: the last character whose
// lead byte is a kanji's (E4..E9; kana leads E3 stand at every other
// character of Japanese text), else the target's last three bytes.
size_t anchor_of(std::string_view target) {
    for (size_t at = target.size() - 3 + 1; at-- > 0;) {
        const auto b = static_cast<unsigned char>(target[at]);
        if (b >= 0xE4 && b <= 0xE9 && (static_cast<unsigned char>(target[at + 1]) & 0xC0) == 0x80 &&
            (static_cast<unsigned char>(target[at + 2]) & 0xC0) == 0x80)
            return at;
    }
    return target.size() - 3;
}

// The first occurrence of `needle` in `hay`: a vector search for three of
// its bytes (six, from the same anchor, in a needle long enough: two
// characters, as a pair much rarer than either), each hit checked whole;
// glibc's memmem reads Japanese text several times slower. Should the
// checks cost more than a few times the bytes passed (a needle that nearly
// matches everywhere), memmem finishes, so the search stays linear.
size_t find_in(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return 0;
    if (needle.size() < 3 || hay.size() < needle.size()) return find_by_memmem(hay, needle);
    const bool six = needle.size() >= 6;
    const size_t anchor = six ? std::min(anchor_of(needle), needle.size() - 6) : anchor_of(needle);
    const size_t tail = needle.size() - anchor;  // bytes from the anchor to the end
    size_t checked = 0;
    for (size_t from = anchor;;) {
        const size_t hit = six ? scan::find_six(hay, from, needle.data() + anchor)
                               : scan::find_triple(hay, from, needle.data() + anchor);
        if (hit == std::string_view::npos || hit + tail > hay.size()) return std::string_view::npos;
        const size_t start = hit - anchor;
        if (std::memcmp(hay.data() + start, needle.data(), needle.size()) == 0) return start;
        checked += needle.size();
        if (checked > 4 * hit + 4096) {
            const size_t rest = find_by_memmem(hay.substr(start + 1), needle);
            return rest == std::string_view::npos ? rest : start + 1 + rest;
        }
        from = hit + 1;
    }
}

// A batch's answer `a` for a target of `target_bytes` before `end`: 1, 0,
// or -1 when it does not know; its pass has recorded every occurrence that
// ends before `covered`.
int answer_of(const TargetBatch::Answer& a, size_t target_bytes, size_t end, size_t covered) {
    if (a.searched) {
        if (a.first != TargetBatch::kNotSeen) return a.first + target_bytes <= end ? 1 : 0;
        if (end <= covered) return 0;
    }
    if (a.before != TargetBatch::kNotSeen && a.before <= end) return 1;
    return -1;
}

}  // namespace

QuoteIndex::QuoteIndex(std::string_view text, TargetLister targets, TextLister from_text)
    : text_(text),
      lister_(std::move(targets)),
      budget_(text.size() * kBudgetPerByte + kBudgetFloor),
      near_budget_(text.size() * kBudgetPerByte + kBudgetFloor),
      key_bytes_left_(text.size() / 2 + 65536) {
    if (!lister_ || !from_text || text.size() < kBesideBytes || !helper_threads_allowed()) return;
    try {
        beside_ = std::thread([this, list = std::move(from_text)] {
            // Made on the caller's thread when needed, as without a helper,
            // should this fail.
            try {
                auto [batch, limit] = list_batch(list);
                beside_batch_ = std::move(batch);
                beside_listed_.store(true, std::memory_order_release);
                beside_listed_.notify_all();
                if (beside_batch_) beside_batch_->run(text_, limit);
            } catch (...) {
                beside_failed_.store(true, std::memory_order_relaxed);
                if (!beside_listed_.load(std::memory_order_relaxed)) {
                    beside_batch_.reset();
                    beside_listed_.store(true, std::memory_order_release);
                    beside_listed_.notify_all();
                } else if (beside_batch_) {
                    beside_batch_->abandon();  // wakes a search waiting for its pass
                }
            }
            beside_ready_.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        // No helper: the batch is made when needed.
    }
}

QuoteIndex::~QuoteIndex() {
    if (beside_.joinable()) beside_.join();
}

template <typename List>
std::pair<std::unique_ptr<TargetBatch>, size_t> QuoteIndex::list_batch(const List& list) const {
    // Listed targets take at most about the text's size again; nesting
    // beyond that (annotations inside annotations' targets, each
    // repeating the one within) is left to the budgeted searches.
    auto batch = std::make_unique<TargetBatch>(text_.size() + 65536);
    size_t near_budget = text_.size() * kBudgetPerByte + kBudgetFloor;
    size_t limit = 0;
    const bool listed = list([&](std::string_view t, uint32_t offset) {
        const size_t at = std::min<size_t>(offset, text_.size());
        // A target right before its annotation is answered by one
        // comparison, and one close by is only noted: the pass looks
        // for the far and missing ones alone.
        if (t.size() <= at && text_.compare(at - t.size(), t.size(), t) == 0) return true;
        if (t.size() <= at && near_search(t, at, near_budget)) return batch->note_before(t, static_cast<uint32_t>(at));
        if (!batch->add(t)) return false;
        limit = std::max(limit, at);
        return true;
    });
    if (!listed) return {nullptr, 0};
    return {std::move(batch), limit};
}

const TargetBatch* QuoteIndex::ready_beside() const {
    if (!beside_ready_.load(std::memory_order_acquire) || beside_failed_.load(std::memory_order_relaxed)) return nullptr;
    return beside_batch_.get();
}

void QuoteIndex::take_beside() const {
    running_ = nullptr;
    if (beside_.joinable()) beside_.join();
    if (!beside_failed_.load(std::memory_order_relaxed)) batch_ = std::move(beside_batch_);
    beside_batch_.reset();
}

void QuoteIndex::make_batch() const {
    auto [batch, limit] = list_batch([this](const TargetSink& add) {
        lister_(add);
        return true;
    });
    if (batch) batch->run(text_, limit);
    batch_ = std::move(batch);
}

int QuoteIndex::running_answer(std::string_view target, size_t end) const {
    // What the pass does not look for, it has nothing to say about: no
    // need to wait for it.
    if (!running_->find(target).listed) return -1;
    const size_t reached = running_->wait_for(end);
    if (reached == TargetBatch::kEnded || reached == TargetBatch::kAbandoned) return -2;
    // Behind `reached` every occurrence is recorded, which is all a finished
    // pass would say about text[0, end).
    return answer_of(running_->find(target), target.size(), end, reached);
}

int QuoteIndex::batch_answer(std::string_view target, size_t end) const {
    if (!batch_made_) {
        batch_made_ = true;
        if (!lister_) return -1;
        // The batch made beside is the one this would make: the same
        // targets, from the same text. Its answers for the text its pass
        // has got behind are taken while it goes on.
        if (beside_.joinable()) {
            beside_listed_.wait(false, std::memory_order_acquire);
            if (beside_batch_ != nullptr && !beside_ready_.load(std::memory_order_acquire))
                running_ = beside_batch_.get();
            else
                take_beside();
        }
        if (running_ == nullptr && !batch_) make_batch();
    }
    if (running_ != nullptr) {
        if (const int answer = running_answer(target, end); answer != -2) return answer;
        take_beside();
        if (!batch_) make_batch();  // its pass failed: made here, as without a helper
    }
    if (!batch_) return -1;
    return answer_of(batch_->find(target), target.size(), end, batch_->scanned_to());
}

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

void QuoteIndex::index_pairs_to(size_t end) const {
    if (first_pair_.empty()) {
        unsigned bits = kMinSlotBits;
        while (bits < kMaxSlotBits && (size_t(1) << bits) * 32 < text_.size()) ++bits;
        slot_shift_ = 64 - bits;
        first_pair_.assign(size_t(1) << bits, kNotSeen);
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text_.data());
    const size_t n = text_.size();
    uint32_t* const first_pair = first_pair_.data();
    const unsigned shift = slot_shift_;
    size_t at = pairs_to_;
    // Positions only grow, so the first occurrence is the smaller one.
    auto record = [&](uint64_t pair) {
        uint32_t& slot = first_pair[slot_of(pair, shift)];
        slot = std::min(slot, static_cast<uint32_t>(at));
    };
    const size_t loads_end = std::min(end, n >= 8 ? n - 7 : 0);
    while (at < end) {
        if constexpr (std::endian::native == std::endian::little) {
            // Two three-byte characters, the bulk of Japanese text: one
            // load a pair.
            while (at < loads_end) {
                uint64_t w;
                std::memcpy(&w, p + at, 8);
                if ((w & 0xF00000F0ull) != 0xE00000E0ull) break;
                record(w & 0xFFFFFFFFFFFFull);
                at += 3;
            }
            if (at >= end) break;
        }
        const size_t first = char_bytes(p[at]);
        const size_t pair = at + first < n ? first + char_bytes(p[at + first]) : 0;
        if (pair == 0 || at + pair > n) {  // no pair starts here or later
            at = n;
            break;
        }
        record(pair_bytes(p + at, pair));
        at += first;
    }
    pairs_to_ = at;  // a character start, or the end of the text
}

uint32_t QuoteIndex::earliest_start(std::string_view target, size_t end) const {
    const auto* t = reinterpret_cast<const unsigned char*>(target.data());
    // Only whole characters pair up, and only valid UTF-8 is sure to match
    // at character starts; anything else (never made by the classifiers)
    // is left to the plain scan.
    if (!is_valid_utf8(target)) return 0;
    uint32_t earliest = 0;
    for (size_t at = 0; at < target.size();) {
        const size_t first = char_bytes(t[at]);
        if (at + first == target.size()) break;
        const size_t pair = first + char_bytes(t[at + first]);
        const uint32_t seen = first_pair_[slot_of(pair_bytes(t + at, pair), slot_shift_)];
        if (seen == kNotSeen || size_t(seen) + pair > end) return kNotSeen;
        if (seen >= at) earliest = std::max<uint32_t>(earliest, seen - static_cast<uint32_t>(at));
        at += first;
    }
    return earliest;
}

// The pair index pays off once plain scans have read the text about twice
// over. The batch costs about as much as plain scans reading the text
// kBatchCostInScans times (listing the targets follows each annotation's
// quotation alone, then one pass looks for them all, mostly eight
// characters a step), so with a list plain scans go on while what they have
// read, and what the far targets met so far predict for the rest of the
// text, stays under that: a book of a few megabytes with a missing target
// now and then never makes the batch, and a long one makes it once past
// its first few megabytes rather than after reading much of itself.
bool QuoteIndex::plain_scan_pays(size_t bytes, size_t end) const {
    const auto n = static_cast<double>(text_.size());
    const double spent = static_cast<double>(plain_scanned_ + bytes);
    if (!lister_) return spent <= 2 * n + static_cast<double>(kNearBytes);
    if (batch_made_) return false;  // once made, the batch answers for good
    const double batch = kBatchCostInScans * n + static_cast<double>(kBatchAfterBytes);
    if (spent > batch) return false;
    if (plain_scans_ < kScansBeforePredicting || end <= std::min(kPlainPrefixBytes, text_.size() / 16)) return true;
    // A far target met at offset y costs a scan of about y bytes; they have
    // come at `rate` per byte of text so far.
    const double at = static_cast<double>(end);
    const double rate = static_cast<double>(plain_scans_ + 1) / std::max(at, 1.0);
    const double rest = at < n ? rate * (n * n - at * at) / 2 : 0.0;
    return spent + rest <= batch;
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
    size_t from = scan->scanned >= target.size() ? scan->scanned - (target.size() - 1) : 0;
    const bool plain = first_pair_.empty() && plain_scan_pays(end - from, end);
    if (plain) {
        plain_scanned_ += end - from;
        ++plain_scans_;
    } else {
        if (const int listed = batch_answer(target, end); listed >= 0) {
            if (listed == 0) scan->scanned = std::max<uint32_t>(scan->scanned, static_cast<uint32_t>(end));
            return listed == 1;
        }
        if (pairs_to_ < end) index_pairs_to(end);
        const uint32_t earliest = earliest_start(target, end);
        if (earliest == kNotSeen) {
            scan->scanned = std::max<uint32_t>(scan->scanned, static_cast<uint32_t>(end));
            return false;
        }
        from = std::max<size_t>(from, earliest);
    }
    if (from + target.size() > end) {
        scan->scanned = std::max<uint32_t>(scan->scanned, static_cast<uint32_t>(end));
        return false;
    }
    if (!charge(budget_, end - from)) return false;
    // The batch made beside, once ready, gives what this scan would find
    // where it searched for the target: the scan is still counted and
    // charged above, so what later searches may do is the same whichever
    // answered.
    if (const TargetBatch* beside = plain ? ready_beside() : nullptr; beside != nullptr) {
        const TargetBatch::Answer a = beside->find(target);
        if (a.searched && a.first != TargetBatch::kNotSeen && a.first >= from) {
            if (size_t(a.first) + target.size() <= end) {
                scan->first = a.first;
                return true;
            }
            scan->scanned = static_cast<uint32_t>(end);
            return false;
        }
        if (a.searched && a.first == TargetBatch::kNotSeen && end <= beside->scanned_to()) {
            scan->scanned = static_cast<uint32_t>(end);
            return false;
        }
    }
    const size_t at = find_in(text_.substr(from, end - from), target);
    if (at == std::string_view::npos) {
        scan->scanned = static_cast<uint32_t>(end);
        return false;
    }
    scan->first = static_cast<uint32_t>(from + at);
    return true;
}

bool QuoteIndex::occurs_before(std::string_view target, uint32_t offset) const {
    if (search_before(target, offset)) return true;
    // Searches that ran out of budget say "absent"; the batch, where it
    // knows the target, answers regardless of what the budget paid for.
    if (budget_ == 0 && lister_) {
        const size_t end = offset < text_.size() ? offset : text_.size();
        if (const int listed = batch_answer(target, end); listed >= 0) return listed == 1;
    }
    return false;
}

bool QuoteIndex::search_before(std::string_view target, uint32_t offset) const {
    const size_t end = offset < text_.size() ? offset : text_.size();
    if (target.empty()) return true;
    if (target.size() > end) return false;
    if (target.size() > kFreeLookupBytes && !charge(budget_, target.size())) return false;
    // Right before the offset, where nearly every target stands: one
    // comparison, whatever is left of the budget.
    if (text_.compare(end - target.size(), target.size(), target) == 0) return true;
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
