#pragma once
// Index of the texts quoted in 「…」 in a document, answering "where does
// this forward-reference target occur?" for the annotation classifiers.
//
// Building it is one pass over the text: every matched 「…」 pair is keyed
// by a polynomial hash of its content, computed bottom-up so that nested
// quotes do not rehash their inner text. First occurrences are searched for
// only when asked, and cached per quoted text, so a book with thousands of
// dialogue quotes and a handful of forward references is scanned once.

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "collections/span.hpp"

namespace kogane {

class QuoteIndex {
public:
    // `text` (the sanitized text) must outlive the index.
    explicit QuoteIndex(std::string_view text);

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
    size_t size() const { return keys_.size(); }

private:
    static constexpr uint32_t kUnknown = 0xFFFFFFFEu;
    static constexpr uint32_t kAbsent = 0xFFFFFFFFu;

    struct Key {
        uint64_t hash = 0;
        uint32_t length = 0;
        friend bool operator==(Key, Key) = default;
    };
    struct KeyHash {
        size_t operator()(Key k) const { return static_cast<size_t>(k.hash ^ (uint64_t(k.length) << 40)); }
    };
    struct Entry {
        uint32_t start = 0;          // content start of the earliest quote with this text
        uint32_t first = kUnknown;   // cached first occurrence in the whole text
    };

    // The entry whose text is byte for byte `target`, or null. Falls back
    // to comparing every quoted span when the hash names a different text.
    Entry* lookup(std::string_view target, uint32_t* quoted_start) const;

    std::string_view text_;
    mutable std::unordered_map<Key, Entry, KeyHash> keys_;
    std::vector<Span> contents_;  // every matched, non-empty content
};

}  // namespace kogane
