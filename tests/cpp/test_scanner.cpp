#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../fuzz/scan_agreement.hpp"
#include "scan/trigger_scanner.hpp"
#include "syntax/lexical.hpp"

namespace kogane::scan {
namespace {

constexpr ScanPath kPaths[] = {ScanPath::Scalar, ScanPath::Swar, ScanPath::Sse2, ScanPath::Avx2};

// Independent definition: every line feed and every occurrence of one of
// the thirteen encodings.
std::vector<uint32_t> naive_hits(std::string_view t) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n') {
            out.push_back(static_cast<uint32_t>(i));
            continue;
        }
        for (int k = 0; k < kTriggerCount; ++k)
            if (i + 3 <= t.size() && std::memcmp(t.data() + i, kTriggerPatterns + 3 * k, 3) == 0)
                out.push_back(static_cast<uint32_t>(i));
    }
    return out;
}

SanitizeProbe naive_probe(std::string_view t) {
    SanitizeProbe r;
    r.carriage_return = t.find('\r') != std::string_view::npos;
    r.rule_pair = t.find("--") != std::string_view::npos || t.find("==") != std::string_view::npos ||
                  t.find("__") != std::string_view::npos;
    r.tortoise_open = t.find("〔") != std::string_view::npos;
    for (char c = '\x81'; c != '\x85'; ++c)
        r.sentinel |= t.find(std::string("\xEE\x80") + c) != std::string_view::npos;
    for (unsigned char c : t) r.control |= c < 0x20 && c != '\t' && c != '\n' && c != '\r';
    return r;
}

// Triggers, characters that share two of their three bytes, truncated and
// overlapping patterns, and the bytes the probe looks for.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = [] {
        std::vector<std::string> v;
        for (int k = 0; k < kTriggerCount; ++k) {
            const std::string pat(kTriggerPatterns + 3 * k, 3);
            v.push_back(pat);
            v.push_back(pat.substr(0, 1));
            v.push_back(pat.substr(0, 2));
            v.push_back(pat.substr(1));
            std::string near = pat;
            near[2] = static_cast<char>(near[2] ^ 0x02);
            v.push_back(near);
            near = pat;
            near[1] = static_cast<char>(near[1] ^ 0x01);
            v.push_back(near);
        }
        for (const char* s : {"|", "[", "#", "『", "』", "｛", "｝", "〈", "〉", "【", "】", "＼", "、", "。", "あ",
                              "ア", "漢", "é", "\n", "\r", "\r\n", "a", " ", "-", "--", "==", "__", "〔〕",
                              "\xEE\x80\x81", "\xEE\x80\x84", "\xEE\x80\x80", "\xEE\x80\x85", "\xEE\x80", "\xEE",
                              "\xE3\x80\xE3\x80\x8A", "\xEF\xEF\xBC\xBB", "\xE2\xE2\x89\xAA", "\t", "\x01",
                              "\x1F", "\x7F"})
            v.push_back(s);
        v.push_back(std::string(1, '\0'));
        return v;
    }();
    return p;
}

std::string random_text(std::mt19937& rng, size_t pieces_count) {
    std::string t;
    const auto& p = pieces();
    std::uniform_int_distribution<size_t> pick(0, p.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (size_t i = 0; i < pieces_count; ++i) {
        if (rng() % 16 == 0) t.push_back(static_cast<char>(byte(rng)));
        else t += p[pick(rng)];
    }
    return t;
}

std::vector<uint32_t> hits_of(ScanPath path, std::string_view text) {
    std::vector<uint32_t> out;
    find_hits(path, text, out);
    return out;
}

TEST(TriggerScanner, ClassifiesExactlyTheThirteenEncodings) {
    for (int k = 0; k < kTriggerCount; ++k)
        EXPECT_EQ(classify_trigger(reinterpret_cast<const unsigned char*>(kTriggerPatterns + 3 * k)), k);
    int found = 0;
    for (int lead : {0xE2, 0xE3, 0xEF})
        for (int b1 = 0x80; b1 < 0xC0; ++b1)
            for (int b2 = 0; b2 < 256; ++b2) {
                const unsigned char p[3] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(b1),
                                            static_cast<unsigned char>(b2)};
                found += classify_trigger(p) >= 0;
            }
    EXPECT_EQ(found, kTriggerCount);
}

TEST(TriggerScanner, BuiltOnceWithTheBestPath) {
    const TriggerScanner& a = TriggerScanner::get();
    EXPECT_EQ(&a, &TriggerScanner::get());
    EXPECT_TRUE(scan_path_available(a.path()));
    const ScanPath best = scan_path_available(ScanPath::Avx2)   ? ScanPath::Avx2
                          : scan_path_available(ScanPath::Sse2) ? ScanPath::Sse2
                                                                : ScanPath::Swar;
    EXPECT_EQ(a.path(), best);
}

TEST(TriggerScanner, AppendsToExistingHits) {
    for (ScanPath path : kPaths) {
        if (!scan_path_available(path)) continue;
        std::vector<uint32_t> out{7};
        find_hits(path, "a\n｜", out);
        EXPECT_EQ(out, (std::vector<uint32_t>{7, 1, 2})) << scan_path_name(path);
    }
}

TEST(TriggerScanner, EveryPathAgreesOnRandomTexts) {
    std::mt19937 rng(20240611);
    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string text = random_text(rng, 1 + rng() % 120);
        // Every start alignment and every end for the first bytes, so each
        // pattern lands on every lane and across every block boundary.
        for (size_t from = 0; from < std::min<size_t>(text.size(), 40); ++from) {
            for (size_t cut : {text.size(), text.size() - 1, text.size() - 2, from + 33, from + 34, from + 35}) {
                if (cut < from || cut > text.size()) continue;
                // A private copy, so reading past the end is caught by ASan.
                const std::string part = text.substr(from, cut - from);
                for (size_t start : {size_t{0}, size_t{1}, part.size() / 2, part.size()}) {
                    ASSERT_EQ(find_triple(part, start, "〔"), part.find("〔", start));
                    ASSERT_EQ(find_triple(part, start, "〕"), part.find("〕", start));
                    const size_t rule = std::min({part.find("---", start), part.find("===", start), part.find("___", start)});
                    ASSERT_EQ(find_rule_triple(part, start), rule) << "from " << start;
                }
                const std::vector<uint32_t> expected = naive_hits(part);
                const SanitizeProbe expected_probe = naive_probe(part);
                for (ScanPath path : kPaths) {
                    if (!scan_path_available(path)) continue;
                    ASSERT_EQ(hits_of(path, part), expected) << scan_path_name(path) << " round " << round;
                    const SanitizeProbe p = probe_for_sanitize(path, part);
                    ASSERT_EQ(p.carriage_return, expected_probe.carriage_return) << scan_path_name(path);
                    ASSERT_EQ(p.rule_pair, expected_probe.rule_pair) << scan_path_name(path);
                    ASSERT_EQ(p.tortoise_open, expected_probe.tortoise_open) << scan_path_name(path);
                    ASSERT_EQ(p.sentinel, expected_probe.sentinel) << scan_path_name(path);
                    ASSERT_EQ(p.control, expected_probe.control) << scan_path_name(path);
                    // Six bytes: a pair that is there (taken from the text)
                    // and one that may not be, from several starts.
                    const Kernels& k = kernels(path);
                    const std::string taken = part.size() >= 6 ? part.substr(std::min(part.size() / 3, part.size() - 6), 6) : "〔〕";
                    for (const std::string& six : {taken, std::string("〔〕"), std::string("\n\n\n「")}) {
                        ASSERT_EQ(six.size(), 6u);
                        for (size_t start : {size_t{0}, size_t{1}, part.size() / 2, part.size(), part.size() + 1})
                            ASSERT_EQ(k.find_six(part, start, six.data()), part.find(six, start))
                                << scan_path_name(path) << " from " << start;
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 10000);
}

TEST(TriggerScanner, DenseTextsOfNothingButTriggers) {
    std::string all;
    for (int rep = 0; rep < 20; ++rep) all += kTriggerPatterns;
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < all.size(); i += 3) expected.push_back(i);
    std::string feeds(100, '\n');
    std::vector<uint32_t> feed_hits;
    for (uint32_t i = 0; i < 100; ++i) feed_hits.push_back(i);
    for (ScanPath path : kPaths) {
        if (!scan_path_available(path)) continue;
        EXPECT_EQ(hits_of(path, all), expected) << scan_path_name(path);
        EXPECT_EQ(hits_of(path, feeds), feed_hits) << scan_path_name(path);
        EXPECT_TRUE(hits_of(path, "").empty());
    }
}

// What the fuzz_scan target checks, over buffers a plain build can afford:
// random texts of trigger fragments, random bytes, and edge cases built to
// put a pattern across every block boundary.
TEST(TriggerScanner, EveryVectorPathMatchesScalarAtEveryAlignment) {
    std::vector<std::string> buffers{"", "\n", "｜", std::string(200, '\n'), std::string(200, '-'),
                                     std::string(200, '\xE3'), std::string(97, '\xEE') + "\x80\x84"};
    std::string dense;
    for (int rep = 0; rep < 8; ++rep) dense += kTriggerPatterns;
    buffers.push_back(dense);
    // One pattern at every offset of a filler run longer than two blocks.
    for (const char* pattern : {"〔", "※", "≫", "\xEE\x80\x82", "---", "\r"}) {
        for (size_t at = 0; at < 70; at += 7) buffers.push_back(std::string(at, 'a') + pattern + std::string(70 - at, '\xE3'));
    }
    // Runs of three-byte characters for the widening kernels, with a bad
    // one (overlong, surrogate, a byte out of place) at every offset.
    std::string kana;
    for (int k = 0; k < 24; ++k) kana += k % 3 == 0 ? "漢" : k % 3 == 1 ? "か" : "\uFFFF";
    buffers.push_back(kana);
    for (const char* bad : {"\xE0\x9F\xBF", "\xED\xA0\x80", "a", "\xC3\xA9", "\xE3\x81"})
        for (size_t at = 0; at <= kana.size(); at += 3) buffers.push_back(kana.substr(0, at) + bad + kana.substr(at));
    std::mt19937 rng(7);
    for (int k = 0; k < 150; ++k) buffers.push_back(random_text(rng, 1 + rng() % 60));
    std::uniform_int_distribution<int> byte(0, 255);
    for (int k = 0; k < 50; ++k) {
        std::string b(1 + rng() % 150, '\0');
        for (char& c : b) c = static_cast<char>(byte(rng));
        buffers.push_back(b);
    }
    for (const std::string& b : buffers) ASSERT_EQ(checks::check_scan_paths(b), "") << testing::PrintToString(b);
    EXPECT_GT(buffers.size(), 250u);
}

TEST(TriggerScanner, UnavailablePathFallsBackToScalar) {
    // The scalar table is the reference; asking for an unavailable path
    // falls back to it rather than running code the processor lacks.
    for (ScanPath path : kPaths) {
        const Kernels& k = kernels(path);
        EXPECT_EQ(k.path, scan_path_available(path) ? path : ScanPath::Scalar);
    }
    EXPECT_EQ(&kernels(TriggerScanner::get().path()), &TriggerScanner::get().kernels());
}

}  // namespace
}  // namespace kogane::scan
