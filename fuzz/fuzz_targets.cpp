// libFuzzer target: the quote index's one-pass target batch must report, for
// every target, exactly its first occurrence in the part of the text it
// scanned, as a plain search does; otherwise a decoration would be dropped
// or put in the wrong place.
//
// Input: a header byte, the text, then the targets, separated by 0x00. The
// header's low bits choose how far the pass may read; a target written as
// 0x01 followed by two bytes is taken from the text itself at that offset
// and length, so that present targets are common.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/lexer/classify/target_batch.hpp"

namespace {

std::vector<std::string_view> split(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t at = 0;
    for (;;) {
        const size_t end = s.find('\0', at);
        parts.push_back(s.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

[[noreturn]] void fail(const char* what, std::string_view target, size_t want, uint32_t got) {
    std::fprintf(stderr, "target batch %s: target of %zu bytes, plain search %zu, batch %u\n", what, target.size(),
                 want, got);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const unsigned header = data[0];
    const std::vector<std::string_view> parts = split(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const std::string_view text = parts[0];
    const size_t limit = (header & 3) == 0 ? text.size() : text.size() * (header & 3) / 4;

    std::vector<std::string> targets;
    for (size_t i = 1; i < parts.size() && targets.size() < 64; ++i) {
        const std::string_view p = parts[i];
        if (p.size() == 3 && p[0] == '\x01' && !text.empty()) {
            const size_t at = static_cast<unsigned char>(p[1]) % text.size();
            targets.emplace_back(text.substr(at, 1 + static_cast<unsigned char>(p[2]) % 24));
        } else {
            targets.emplace_back(p);
        }
    }

    kogane::TargetBatch batch((header & 4) ? 64 : size_t(1) << 20);
    for (const std::string& t : targets) batch.add(t);
    batch.run(text, limit);
    if (batch.scanned_to() < limit) fail("stopped short", {}, limit, static_cast<uint32_t>(batch.scanned_to()));
    for (size_t i = 0; i < targets.size(); ++i) {
        const std::string& t = targets[i];
        const kogane::TargetBatch::Answer a = batch.find(t);
        if (!a.listed || !a.searched) continue;  // empty, over the cap, or starting inside a character
        const size_t hit = text.find(t);
        if (a.first != kogane::TargetBatch::kNotSeen) {
            if (a.first != hit) fail("misplaced a target", t, hit, a.first);
        } else if (hit != std::string_view::npos && hit + t.size() <= batch.scanned_to()) {
            fail("missed a target", t, hit, a.first);
        }
    }
    return 0;
}
