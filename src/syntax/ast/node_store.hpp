#pragma once
// Append-only arena for everything a parse produces besides the fixed-size
// nodes: interned strings, segments and content items. Nothing is removed or
// changed in place, so ids stay valid for the life of the document.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "collections/spare_buffers.hpp"
#include "syntax/ast/node.hpp"

namespace kogane {

struct InternerStats {
    uint64_t lookups = 0;
    uint64_t cache_hits = 0;
    uint64_t table_hits = 0;
    uint64_t inserts = 0;
    uint64_t bypassed_long = 0;
    uint64_t growths = 0;
    uint64_t probes = 0;
};

class NodeStore {
public:
    // Strings of this many bytes or more are stored without deduplication.
    static constexpr size_t kLongString = 65;
    static constexpr size_t kInitialSlots = 256;

    NodeStore() = default;

    StringId intern(std::string_view bytes);
    StringId append_string(std::string_view bytes);
    std::string_view resolve(StringId id) const;
    size_t string_count() const { return strings_.size(); }
    size_t segment_count() const { return segments_.size(); }
    // Room for `n` segments in all (never less than there is).
    void reserve_segments(size_t n) { segments_.reserve(n); }

    uint32_t push_segment(Segment s);
    // A Text segment of the interned bytes, or an empty Run for empty text.
    Segment text_segment(std::string_view bytes);
    // Appends items to the content pool: (first index, count).
    std::pair<uint32_t, uint32_t> push_items(std::span<const ContentItem> items);
    // All-text item lists collapse to one interned Text segment; anything
    // else becomes a Run over the items.
    Segment segment_from_items(std::span<const ContentItem> items);
    // Pushes one segment and returns a ContentRef naming it.
    ContentRef content_from_segment(Segment s);
    RubyNode make_ruby(Segment base, Segment reading);

    std::span<const Segment> segments(ContentRef ref) const;
    std::span<const ContentItem> items(uint32_t first, uint32_t count) const;
    const Segment& segment(uint32_t index) const;

    // The plain text of a content ref when it is exactly one Text segment.
    bool single_text(ContentRef ref, std::string_view* out) const;

    const InternerStats& stats() const { return stats_; }
    size_t table_slots() const { return table_.size(); }

private:
    // A slot keeps the low half of its string's hash: probes pass other
    // strings without reading their bytes (in a long book, a cache miss
    // each), and the table grows without hashing anything again.
    static constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;  // never an id: ids stay below the count limit
    struct Slot {
        uint32_t hash = 0;
        uint32_t id = kEmptySlot;
        bool occupied() const { return id != kEmptySlot; }
    };

    static uint64_t hash(std::string_view bytes);
    void grow();

    std::string bytes_;
    SpareVector<std::pair<uint32_t, uint32_t>> strings_;  // (start, length)
    SpareVector<Slot> table_;
    uint64_t table_mask_ = 0;
    size_t table_count_ = 0;
    bool last_valid_ = false;
    uint32_t last_id_ = 0;
    InternerStats stats_;
    SpareVector<Segment> segments_;
    SpareVector<ContentItem> content_;
};

}  // namespace kogane
