// The shared walk over normalized text: what each visitor is told, in order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "syntax/ast/sentinel_walk.hpp"

using namespace kogane;

namespace {

// Records every call as one short string.
template <bool kLines>
struct Recorder {
    static constexpr bool kLineFeeds = kLines;
    std::vector<std::string> calls;

    void on_text(std::string_view t) { calls.push_back("t:" + std::string(t)); }
    void on_line_feed(size_t at) { calls.push_back("lf@" + std::to_string(at)); }
    void on_sentinel(SentinelKind kind, const RegistryEntry* e) {
        calls.push_back("s" + std::to_string(int(kind)) + (e != nullptr ? "@" + std::to_string(e->position) : ":none"));
    }
};

RegistryEntry entry(SentinelKind kind, uint32_t position) {
    RegistryEntry e;
    e.kind = kind;
    e.position = position;
    return e;
}

constexpr std::string_view kInline = "\xEE\x80\x81", kOpen = "\xEE\x80\x83";

}  // namespace

TEST(SentinelWalk, TextRunsLineFeedsAndSentinelsInOrder) {
    // "a" INLINE "b\n" OPEN "\n" (an unregistered OPEN) "c"
    const std::string text = "a" + std::string(kInline) + "b\n" + std::string(kOpen) + "\n" + std::string(kOpen) + "c";
    const SentinelRegistry registry =
        SentinelRegistry::build({entry(SentinelKind::Inline, 1), entry(SentinelKind::BlockOpen, 6)});

    Recorder<true> lines;
    walk_sentinels(text, registry, lines);
    EXPECT_EQ(lines.calls, (std::vector<std::string>{"t:a", "s0@1", "t:b", "lf@5", "t:", "s2@6", "t:", "lf@9",
                                                     "t:", "s2:none", "t:c"}));

    // Without line feeds they stay in the text runs.
    Recorder<false> plain;
    walk_sentinels(text, registry, plain);
    EXPECT_EQ(plain.calls, (std::vector<std::string>{"t:a", "s0@1", "t:b\n", "s2@6", "t:\n", "s2:none", "t:c"}));
}

TEST(SentinelWalk, LeadBytesOfOrdinaryTextAndTruncatedSentinels) {
    // U+E000 (EE 80 80) is no sentinel; a sentinel cut short at the end is text;
    // a registry entry of another kind at the position is not handed out.
    const std::string text = "\xEE\x80\x80x" + std::string(kInline) + "\xEE\x80";
    const SentinelRegistry registry = SentinelRegistry::build({entry(SentinelKind::BlockLeaf, 4)});
    Recorder<true> r;
    walk_sentinels(text, registry, r);
    EXPECT_EQ(r.calls, (std::vector<std::string>{"t:\xEE\x80\x80x", "s0:none", "t:\xEE\x80"}));

    Recorder<true> empty;
    walk_sentinels("", SentinelRegistry{}, empty);
    EXPECT_EQ(empty.calls, (std::vector<std::string>{"t:"}));
}
