#include "syntax/ast/node_store.hpp"

#include <bit>

#include "collections/panic.hpp"

namespace kogane {

uint64_t NodeStore::hash(std::string_view bytes) {
    uint64_t h = 0;
    for (const char c : bytes) h = (std::rotl(h, 5) ^ static_cast<unsigned char>(c)) * 0x517CC1B727220A95ull;
    return h;
}

StringId NodeStore::append_string(std::string_view data) {
    invariant(bytes_.size() + data.size() <= 0xFFFFFFFFull, "owned interner buffer exceeds u32 byte range");
    invariant(data.size() <= 0xFFFFFFFFull, "interned string exceeds u32 byte length");
    invariant(strings_.size() < 0xFFFFFFFFull, "owned interner unique-string count exceeds u32");
    uint32_t start = static_cast<uint32_t>(bytes_.size());
    bytes_.append(data);
    strings_.emplace_back(start, static_cast<uint32_t>(data.size()));
    return static_cast<StringId>(strings_.size() - 1);
}

std::string_view NodeStore::resolve(StringId id) const {
    invariant(id < strings_.size(), "string count fits u32");
    auto [start, len] = strings_[id];
    return std::string_view(bytes_).substr(start, len);
}

void NodeStore::grow() {
    SpareVector<Slot> bigger(table_.size() * 2);
    uint64_t mask = bigger.size() - 1;
    for (const Slot& s : table_) {
        if (!s.occupied()) continue;
        uint64_t i = s.hash & mask;
        size_t steps = 0;
        while (bigger[i].occupied()) {
            i = (i + 1) & mask;
            invariant(++steps < bigger.size(), "grown interner table must have an empty slot");
        }
        bigger[i] = s;
    }
    table_ = std::move(bigger);
    table_mask_ = mask;
    ++stats_.growths;
}

StringId NodeStore::intern(std::string_view data) {
    ++stats_.lookups;
    if (last_valid_ && resolve(last_id_) == data) {
        ++stats_.cache_hits;
        return last_id_;
    }
    if (data.size() >= kLongString) {
        ++stats_.inserts;
        ++stats_.bypassed_long;
        last_id_ = append_string(data);
        last_valid_ = true;
        return last_id_;
    }
    if (table_.empty()) {
        table_.assign(kInitialSlots, Slot{});
        table_mask_ = kInitialSlots - 1;
    } else if (table_count_ * 8 >= table_.size() * 7) {
        grow();
    }
    // Slot indices come from the hash's low half, so a table of up to 2^32
    // slots can be grown from the stored halves alone.
    const auto h = static_cast<uint32_t>(hash(data));
    uint64_t i = h & table_mask_;
    for (size_t visited = 0; visited < table_.size(); ++visited) {
        ++stats_.probes;
        Slot& slot = table_[i];
        if (!slot.occupied()) {
            slot.id = append_string(data);
            slot.hash = h;
            ++table_count_;
            ++stats_.inserts;
            last_id_ = slot.id;
            last_valid_ = true;
            return last_id_;
        }
        if (slot.hash == h && resolve(slot.id) == data) {
            ++stats_.table_hits;
            last_id_ = slot.id;
            last_valid_ = true;
            return last_id_;
        }
        i = (i + 1) & table_mask_;
    }
    panic("interner probe table has no empty slot");
}

uint32_t NodeStore::push_segment(Segment s) {
    invariant(segments_.size() < 0xFFFFFFFFull, "segment pool exceeds u32 entry count");
    segments_.push_back(s);
    return static_cast<uint32_t>(segments_.size() - 1);
}

Segment NodeStore::text_segment(std::string_view data) {
    if (data.empty()) return Segment{SegmentTag::Run, static_cast<uint32_t>(content_.size()), 0};
    return Segment{SegmentTag::Text, intern(data), 0};
}

std::pair<uint32_t, uint32_t> NodeStore::push_items(std::span<const ContentItem> list) {
    invariant(content_.size() + list.size() <= 0xFFFFFFFFull, "content pool exceeds u32 entry count");
    invariant(list.size() <= 0xFFFFFFFFull, "segment run exceeds u32 length");
    uint32_t first = static_cast<uint32_t>(content_.size());
    content_.insert(content_.end(), list.begin(), list.end());
    return {first, static_cast<uint32_t>(list.size())};
}

Segment NodeStore::segment_from_items(std::span<const ContentItem> list) {
    bool all_text = !list.empty();
    size_t total = 0;
    for (const ContentItem& item : list) {
        if (item.tag != ContentTag::Text) {
            all_text = false;
            break;
        }
        total += resolve(item.text).size();
    }
    if (all_text) {
        if (list.size() == 1) return Segment{SegmentTag::Text, list[0].text, 0};
        std::string joined;
        joined.reserve(total);
        for (const ContentItem& item : list) joined.append(resolve(item.text));
        return text_segment(joined);
    }
    auto [first, count] = push_items(list);
    return Segment{SegmentTag::Run, first, count};
}

ContentRef NodeStore::content_from_segment(Segment s) {
    return ContentRef{push_segment(s), 1};
}

RubyNode NodeStore::make_ruby(Segment base, Segment reading) {
    RubyNode r;
    uint32_t i = push_segment(base);
    push_segment(reading);
    r.base = ContentRef{i, 1};
    r.reading = ContentRef{i + 1, 1};
    r.base_style = FormatStyle::none();
    r.side = MarkSide::Right;
    return r;
}

std::span<const Segment> NodeStore::segments(ContentRef ref) const {
    invariant(uint64_t(ref.first) + ref.count <= segments_.size(), "segment range belongs to store");
    return std::span<const Segment>(segments_).subspan(ref.first, ref.count);
}

const Segment& NodeStore::segment(uint32_t index) const {
    invariant(index < segments_.size(), "segment range belongs to store");
    return segments_[index];
}

std::span<const ContentItem> NodeStore::items(uint32_t first, uint32_t count) const {
    invariant(uint64_t(first) + count <= content_.size(), "content range belongs to store");
    return std::span<const ContentItem>(content_).subspan(first, count);
}

bool NodeStore::single_text(ContentRef ref, std::string_view* out) const {
    if (ref.count != 1) return false;
    const Segment& s = segment(ref.first);
    if (s.tag != SegmentTag::Text) return false;
    *out = resolve(s.a);
    return true;
}

}  // namespace kogane
