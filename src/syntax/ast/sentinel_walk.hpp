#pragma once
// The one walk over the normalized text that HTML and re-emission share:
// the plain text between constructs, each sentinel with its registry
// entry, and (for visitors that want them) the line feeds.

#include <cstring>
#include <span>
#include <string_view>

#include "syntax/ast/registry.hpp"
#include "syntax/lexical.hpp"

namespace kogane {

// The sentinel kind at `i` (EE 80 81..84), or Absent.
inline SentinelKind sentinel_at(std::string_view text, size_t i) {
    if (i + 3 > text.size() || static_cast<unsigned char>(text[i + 1]) != 0x80) return SentinelKind::Absent;
    const unsigned char last = static_cast<unsigned char>(text[i + 2]);
    if (last < 0x81 || last > 0x84) return SentinelKind::Absent;
    return static_cast<SentinelKind>(last - 0x81);
}

// Finds the next line feed (when asked for) or sentinel lead byte,
// remembering the last hit of each memchr so every byte is searched once
// per kind.
class StopScanner {
public:
    StopScanner(std::string_view text, bool line_feeds)
        : text_(text),
          newline_(line_feeds ? find('\n', 0) : text.size()),
          lead_(find(static_cast<char>(kSentinelLead), 0)),
          line_feeds_(line_feeds) {}

    size_t next(size_t from) {
        if (line_feeds_ && newline_ < from) newline_ = find('\n', from);
        if (lead_ < from) lead_ = find(static_cast<char>(kSentinelLead), from);
        return newline_ < lead_ ? newline_ : lead_;
    }

private:
    size_t find(char c, size_t from) const {
        if (from >= text_.size()) return text_.size();
        const void* p = std::memchr(text_.data() + from, c, text_.size() - from);
        return p ? static_cast<size_t>(static_cast<const char*>(p) - text_.data()) : text_.size();
    }

    std::string_view text_;
    size_t newline_;
    size_t lead_;
    bool line_feeds_;
};

// Calls, in text order:
//   v.on_text(run)                 the text before each stop and after the last (possibly empty);
//   v.on_line_feed(at)             each line feed, when Visitor::kLineFeeds;
//   v.on_sentinel(kind, entry)     each sentinel; `entry` is its registry entry, or null
//                                  when the registry has none of that kind there.
template <class Visitor>
void walk_sentinels(std::string_view text, const SentinelRegistry& registry, Visitor& v) {
    constexpr bool kLines = Visitor::kLineFeeds;
    StopScanner scanner(text, kLines);
    // Sentinels come in position order, as the registry's entries do.
    const std::span<const RegistryEntry> entries = registry.in_order();
    size_t next = 0;
    size_t pending = 0;
    size_t i = 0;
    while ((i = scanner.next(i)) < text.size()) {
        if (kLines && text[i] == '\n') {
            v.on_text(text.substr(pending, i - pending));
            v.on_line_feed(i);
            pending = ++i;
            continue;
        }
        const SentinelKind kind = sentinel_at(text, i);
        if (kind == SentinelKind::Absent) {  // a lead byte of ordinary text
            ++i;
            continue;
        }
        v.on_text(text.substr(pending, i - pending));
        while (next < entries.size() && entries[next].position < i) ++next;
        const RegistryEntry* e = nullptr;
        if (next < entries.size() && entries[next].position == i && entries[next].kind != SentinelKind::Absent)
            e = &entries[next];
        v.on_sentinel(kind, e != nullptr && e->kind == kind ? e : nullptr);
        i += 3;
        pending = i;
    }
    v.on_text(text.substr(pending));
}

}  // namespace kogane
