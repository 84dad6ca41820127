#pragma once
// Index of the texts quoted in 「…」 in a document, answering "where does
// this forward-reference target occur?" for the annotation classifiers.
//
// Building it is one pass over the text: every matched 「…」 pair is keyed
// by a polynomial hash of its content, computed bottom-up so that nested
// quotes do not rehash their inner text. First occurrences are searched for
// only when asked, and cached per quoted text. Searches scan the text
// directly until they have scanned about one text's length in all; after
// that a position index of characters and character pairs is built once,
// and each search walks the occurrences of the target's rarest character or
// pair instead, so a book with thousands of forward references stays
// linear in practice.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "collections/span.hpp"

namespace kogane {

class QuoteIndex {
public:
    // `text` (the sanitized text) must outlive the index.
    explicit QuoteIndex(std::string_view text);
    // The same index from the offsets of every 「 and 」 in `text`, in
    // ascending order, when the caller already knows them (the pair events
    // hold every bracket), which saves a search of the whole text.
    QuoteIndex(std::string_view text, std::span<const uint32_t> brackets);

    // True when `target` is the non-empty content of a matched 「…」 pair.
    bool is_quoted(std::string_view target) const;

    // Byte offset of the first occurrence of `target` in the text, or
    // nothing. Valid for any target; answers for quoted texts are cached.
    std::optional<uint32_t> first_occurrence(std::string_view target) const;

    // True when `target` occurs entirely inside text[0, offset). Equivalent
    // to a search of that prefix, but it searches backwards from `offset`,
    // so a target that stands just before its annotation costs only its own
    // length. Uses the cached first occurrence when one is known.
    bool occurs_before(std::string_view target, uint32_t offset) const;

    // Number of distinct quoted texts.
    size_t size() const { return count_; }

private:
    static constexpr uint32_t kUnknown = 0xFFFFFFFEu;
    static constexpr uint32_t kAbsent = 0xFFFFFFFFu;

    // One distinct quoted text, in an open-addressing table sized from the
    // number of 「 in the text (load at most one half).
    struct Entry {
        uint64_t hash = 0;
        uint32_t length = 0;        // 0 marks an empty slot
        uint32_t start = 0;         // content start of the earliest quote with this text
        uint32_t first = kUnknown;  // cached first occurrence in the whole text
        bool target = false;        // quoted the way annotations quote their targets
    };

    // The slot holding (hash, length), or the empty slot where it would go.
    Entry& slot(uint64_t hash, uint32_t length) const;

    // The entry whose text is byte for byte `target`, or null. Falls back
    // to comparing every quoted span when the hash names a different text.
    Entry* lookup(std::string_view target, uint32_t* quoted_start) const;

    // First occurrence of `target` lying entirely inside text[0, limit).
    std::optional<uint32_t> search(std::string_view target, size_t limit) const;
    bool charge(size_t bytes) const;
    void build_char_index() const;
    // Fills `first` for every target entry in one pass over the text.
    void find_target_occurrences() const;
    bool spend_target_budget(size_t bytes) const;

    std::string_view text_;
    mutable std::vector<Entry> table_;
    size_t count_ = 0;
    std::vector<Span> contents_;  // every matched, non-empty content

    // Bytes direct searches may still scan before the index is built.
    mutable size_t scan_budget_ = 0;
    mutable bool targets_done_ = false;
    // Bytes that direct searches for annotation targets may scan before
    // one automaton pass answers every target at once.
    mutable size_t target_budget_ = 0;
    // Position lists in one array each, grouped by key, ascending within a
    // key: single characters (keyed by BMP code point, one shared key
    // above it) and adjacent pairs (keyed by a hash; a shared bucket only
    // adds candidates, which are compared anyway).
    struct Postings {
        std::vector<uint32_t> first;  // key k owns positions[first[k], first[k + 1])
        std::vector<uint32_t> positions;
        uint32_t count(uint32_t key) const { return first[key + 1] - first[key]; }
    };
    mutable Postings chars_;
    mutable Postings pairs_;
    mutable uint32_t pair_mask_ = 0;
};

}  // namespace kogane
