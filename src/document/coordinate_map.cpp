#include "document/coordinate_map.hpp"

#include <algorithm>
#include <cstring>

#include "collections/panic.hpp"

namespace kogane {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kTortoiseOpen = "〔";
constexpr std::string_view kTortoiseClose = "〕";

bool is_sentinel_at(std::string_view t, size_t i) {
    return i + 3 <= t.size() && static_cast<unsigned char>(t[i]) == 0xEE &&
           static_cast<unsigned char>(t[i + 1]) == 0x80 && static_cast<unsigned char>(t[i + 2]) >= 0x81 &&
           static_cast<unsigned char>(t[i + 2]) <= 0x84;
}

// True when the two texts are equal once every CR and LF is removed.
bool differs_only_in_line_ends(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (true) {
        while (i < a.size() && (a[i] == '\r' || a[i] == '\n')) ++i;
        while (j < b.size() && (b[j] == '\r' || b[j] == '\n')) ++j;
        if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
        if (a[i++] != b[j++]) return false;
    }
}

bool is_replacement_at(std::string_view t, size_t i) { return t.substr(i, 3) == "\xEF\xBF\xBD"; }

}  // namespace

CoordinateMap build_coordinate_map(std::string_view src, std::string_view san, bool identical) {
    CoordinateMap map;
    map.clamp = san.size();
    if (identical) return map;

    size_t r = 0;  // source position
    size_t s = 0;  // sanitized position
    if (src.substr(0, 3) == kBom) {
        while (src.substr(r, 3) == kBom) r += 3;
        map.edits.push_back({0, 0, 0, r});
    }

    auto final_edit = [&] {
        map.edits.push_back({s, san.size(), r, src.size()});
        r = src.size();
        s = san.size();
    };

    // The next 〕 at or after a position, remembered so that a run of 〔
    // without closers does not search the rest of the text again each time.
    struct NextCloser {
        std::string_view text;
        size_t from = 0;
        size_t at = std::string_view::npos;
        bool known = false;
        size_t find(size_t pos) {
            if (!known || pos < from || (at != std::string_view::npos && at < pos)) {
                at = text.find(kTortoiseClose, pos);
                known = true;
            }
            from = pos;
            return at;
        }
    };
    NextCloser src_closer{src}, san_closer{san};
    // Closers of the last body found to differ only in line ends. A 〔 nested
    // in that body has the same closers and a tail that differs the same way,
    // so it is stepped over without comparing the tail again.
    size_t line_end_body_re = std::string_view::npos, line_end_body_se = std::string_view::npos;

    while (r < src.size() || s < san.size()) {
        invariant(r <= src.size(), "source offset is in bounds");
        invariant(s <= san.size(), "sanitized offset is in bounds");
        if (r >= src.size() || s >= san.size()) {
            final_edit();
            break;
        }
        // Common run of equal bytes, stopping at an accent bracket.
        if (src[r] == san[s]) {
            if (src.compare(r, 3, kTortoiseOpen) == 0 && san.compare(s, 3, kTortoiseOpen) == 0) {
                const size_t rb = r + 3, sb = s + 3;
                const size_t re = src_closer.find(rb), se = san_closer.find(sb);
                const bool known_line_end_body = re == line_end_body_re && se == line_end_body_se;
                if (re != std::string_view::npos && se != std::string_view::npos && !known_line_end_body) {
                    std::string_view body_src = src.substr(rb, re - rb), body_san = san.substr(sb, se - sb);
                    // A body that differs only in its line ends is mapped by
                    // the ordinary walk, which keeps offsets inside it exact;
                    // any other difference (an accent rewrite, perhaps beside
                    // line-end edits) becomes one edit over the body.
                    if (body_src == body_san || !differs_only_in_line_ends(body_src, body_san)) {
                        if (body_src != body_san) map.edits.push_back({sb, se, rb, re});
                        r = re + 3;
                        s = se + 3;
                        continue;
                    }
                    line_end_body_re = re;
                    line_end_body_se = se;
                }
                // No closer (the text was copied unchanged), or a multi-line
                // body: step over the bracket like any equal character.
                r += 3;
                s += 3;
                continue;
            }
            // Skip equal bytes up to the next possible 〔 (lead byte E3) or
            // the first difference.
            size_t start_r = r;
            do {
                ++r;
                ++s;
            } while (r < src.size() && s < san.size() && src[r] == san[s] &&
                     static_cast<unsigned char>(src[r]) != 0xE3);
            invariant(r > start_r, "source offset");
            continue;
        }
        const unsigned char rc = static_cast<unsigned char>(src[r]);
        const unsigned char sc = static_cast<unsigned char>(san[s]);
        if (rc == '\r' && sc == '\n') {
            size_t width = (r + 1 < src.size() && src[r + 1] == '\n') ? 2 : 1;
            map.edits.push_back({s, s + 1, r, r + width});
            r += width;
            s += 1;
            continue;
        }
        if (sc == '\n') {
            // A line feed that exists only in the sanitized text.
            map.edits.push_back({s, s + 1, r, r});
            s += 1;
            continue;
        }
        if (is_sentinel_at(src, r) && is_replacement_at(san, s)) {
            r += 3;
            s += 3;
            continue;
        }
        final_edit();
        break;
    }
    invariant(r <= src.size(), "source offset");
    invariant(s <= san.size(), "sanitized offset");
    return map;
}

uint32_t map_offset(const CoordinateMap& map, uint32_t offset, Side side) {
    const uint64_t x = offset < map.clamp ? offset : map.clamp;
    const std::vector<CoordinateEdit>& edits = map.edits;
    // Sanitized ends never decrease along the table, so the first edit that
    // ends at or after x is found by binary search: a view of n offsets over
    // a CR LF book (one edit per line) costs n log(lines), not n * lines.
    size_t i = static_cast<size_t>(
        std::partition_point(edits.begin(), edits.end(),
                             [x](const CoordinateEdit& e) { return e.sanitized_end < x; }) -
        edits.begin());
    // An empty edit at x (the dropped byte-order marks) is stepped over: x
    // then lies after the bytes it stands for.
    while (i < edits.size() && edits[i].sanitized_start == x && edits[i].sanitized_end == x) ++i;
    const uint64_t prev_san = i == 0 ? 0 : edits[i - 1].sanitized_end;
    const uint64_t prev_src = i == 0 ? 0 : edits[i - 1].source_end;
    uint64_t result;
    if (i == edits.size() || x < edits[i].sanitized_start) {
        result = prev_src + (x - prev_san);
    } else {
        const CoordinateEdit& e = edits[i];
        invariant(e.sanitized_start >= prev_san && e.sanitized_start <= e.sanitized_end, "coordinate edit ordering");
        if (x == e.sanitized_start)
            result = e.source_start;
        else if (x < e.sanitized_end)
            result = side == Side::Start ? e.source_start : e.source_end;
        else
            result = e.source_end;
    }
    invariant(result <= 0xFFFFFFFFull, "source fits parser spans");
    return static_cast<uint32_t>(result);
}

}  // namespace kogane
