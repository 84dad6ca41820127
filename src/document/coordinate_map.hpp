#pragma once
// Maps offsets in the sanitized text back to offsets in the caller's source.
// Sanitizing makes only a few kinds of edit (dropped BOMs, CR LF and CR to
// LF, inserted line feeds before rule lines, rewritten accent fragments,
// replaced sentinels), so the map is rebuilt from the two texts alone.

#include <cstdint>
#include <string_view>
#include <vector>

#include "collections/span.hpp"

namespace kogane {

struct CoordinateEdit {
    uint64_t sanitized_start = 0;
    uint64_t sanitized_end = 0;
    uint64_t source_start = 0;
    uint64_t source_end = 0;
};

struct CoordinateMap {
    std::vector<CoordinateEdit> edits;  // sorted, non-overlapping
    uint64_t clamp = 0;                 // sanitized text length
};

enum class Side : uint8_t { Start, End };

// `identical` is true when sanitizing changed nothing; the map is then empty.
CoordinateMap build_coordinate_map(std::string_view source, std::string_view sanitized, bool identical);

uint32_t map_offset(const CoordinateMap& map, uint32_t offset, Side side);

// Maps spans through a map, or leaves them unchanged when there is none (the
// sanitized text is the source).
class SpanMapper {
public:
    explicit SpanMapper(const CoordinateMap* map) : map_(map) {}
    Span operator()(Span s) const {
        if (map_ == nullptr) return s;
        return Span{map_offset(*map_, s.start, Side::Start), map_offset(*map_, s.end, Side::End)};
    }

private:
    const CoordinateMap* map_;
};

}  // namespace kogane
