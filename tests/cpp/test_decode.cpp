#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "collections/utf8.hpp"
#include "encoding/decode.hpp"
#include "encoding/line_ends.hpp"
#include "pipeline/lexer/sanitize.hpp"

using namespace kogane;

namespace {
std::string sjis(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}
}  // namespace

TEST(ShiftJis, SingleBytes) {
    EXPECT_EQ(decode_sjis(""), "");
    EXPECT_EQ(decode_sjis("abc\\~"), "abc\\~");  // 0x5C and 0x7E stay ASCII
    EXPECT_EQ(decode_sjis(sjis({0x80})), "\xC2\x80");
    EXPECT_EQ(decode_sjis(sjis({0xA1, 0xB1, 0xDF})), "｡ｱﾟ");  // half-width katakana U+FF61.. U+FF9F
    EXPECT_FALSE(decode_sjis(sjis({0xA0})));
    EXPECT_FALSE(decode_sjis(sjis({0xFD})));
    EXPECT_FALSE(decode_sjis(sjis({0xFF})));
}

TEST(ShiftJis, DoubleBytes) {
    EXPECT_EQ(decode_sjis(sjis({0x82, 0xA0})), "あ");
    EXPECT_EQ(decode_sjis(sjis({0x88, 0x9F})), "亜");
    EXPECT_EQ(decode_sjis(sjis({0x81, 0x40})), "\xE3\x80\x80");  // ideographic space
    EXPECT_EQ(decode_sjis(sjis({0x87, 0x40})), "①");             // NEC row 13
    EXPECT_EQ(decode_sjis(sjis({0xFA, 0x40})), "ⅰ");             // IBM extension
    // The user-defined area maps to private use; F0 41..F0 44 are the
    // engine's sentinel code points, which the sanitizer later reports.
    EXPECT_EQ(decode_sjis(sjis({0xF0, 0x40})), "\xEE\x80\x80");
    EXPECT_EQ(decode_sjis(sjis({0xF0, 0x41})), "\xEE\x80\x81");
    EXPECT_EQ(decode_sjis(sjis({0xF9, 0xFC})), "\xEE\x9D\x97");  // U+E757
}

TEST(ShiftJis, FailuresProduceNoText) {
    EXPECT_FALSE(decode_sjis(sjis({0x82})));              // lead byte at the end
    EXPECT_FALSE(decode_sjis(sjis({'a', 0x82})));
    EXPECT_FALSE(decode_sjis(sjis({0x85, 0x40})));        // pointer without mapping
    EXPECT_FALSE(decode_sjis(sjis({0x82, 0x20})));        // bad trail byte
    EXPECT_FALSE(decode_sjis(sjis({0x82, 0x7F})));
    EXPECT_FALSE(decode_sjis(sjis({0x82, 0xFD})));
    EXPECT_FALSE(decode_sjis(sjis({0x82, 0xA0, 0x85, 0x40, 0x82, 0xA0})));
}

TEST(Utf8, StrictValidation) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("abc日本語\xF0\x9F\x98\x80"));
    EXPECT_TRUE(is_valid_utf8("\xEF\xBB\xBF" "a"));
    EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(is_valid_utf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(is_valid_utf8("\xE3\x81"));          // truncated
    EXPECT_FALSE(is_valid_utf8("\x80"));
    EXPECT_FALSE(is_valid_utf8("a\xFF"));
}

TEST(DecodeAuto, PrefersUtf8) {
    EXPECT_EQ(decode_auto("plain"), "plain");
    EXPECT_EQ(decode_auto("\xEF\xBB\xBF" "x"), "\xEF\xBB\xBF" "x");  // BOM kept
    EXPECT_EQ(decode_auto(sjis({0x82, 0xA0})), "あ");
    EXPECT_FALSE(decode_auto(sjis({0x82})));
}

namespace {
// widen_utf8 into units of the width utf8_shape asks for; nullopt when it refuses.
template <typename Unit>
std::optional<std::u32string> widened(std::string_view text) {
    std::vector<Unit> units(utf8_shape(text).chars + 1, Unit(0xAB));  // one guard unit past the end
    if (!widen_utf8(text, units.data())) return std::nullopt;
    EXPECT_EQ(units.back(), Unit(0xAB)) << "wrote past the counted length";
    return std::u32string(units.begin(), units.end() - 1);
}
}  // namespace

TEST(Utf8Widening, ShapeCountsCharactersAndPicksTheWidth) {
    const auto shape = [](std::string_view s) { return std::pair(utf8_shape(s).chars, utf8_shape(s).max_char); };
    EXPECT_EQ(shape(""), std::pair(uint64_t(0), uint32_t(0x7F)));
    EXPECT_EQ(shape("<p>abc</p>\n"), std::pair(uint64_t(11), uint32_t(0x7F)));
    EXPECT_EQ(shape("caf\u00e9 \u00ff"), std::pair(uint64_t(6), uint32_t(0xFF)));
    EXPECT_EQ(shape("\u0100"), std::pair(uint64_t(1), uint32_t(0xFFFF)));
    // Longer than one vector block, with the wide character in the tail.
    const std::string kana = std::string(40, 'a') + "漢字かな交じり文" + "\U0002000B";
    EXPECT_EQ(shape(kana), std::pair(uint64_t(49), uint32_t(0x10FFFF)));
    // Past the 255 blocks a lane counts before the lanes are summed, with
    // the widest character at every place a block of 32, 16 or 1 reads it.
    std::string long_text;
    for (int k = 0; k < 4000; ++k) long_text += k % 3 == 0 ? "ab" : "字";
    const uint64_t chars = 4000 / 3 * 2 + 2 + (4000 - 4000 / 3 - 1);
    EXPECT_EQ(shape(long_text), std::pair(chars, uint32_t(0xFFFF)));
    for (size_t at : {size_t(0), size_t(31), size_t(32), long_text.size() - 20, long_text.size() - 1}) {
        std::string wide = long_text;
        wide.insert(at, "\U0002000B");
        EXPECT_EQ(shape(wide), std::pair(chars + 1, uint32_t(0x10FFFF))) << at;
    }
}

TEST(Utf8Widening, WritesEachWidthExactly) {
    EXPECT_EQ(widened<uint8_t>("<rt>a</rt>"), U"<rt>a</rt>");
    EXPECT_EQ(widened<uint8_t>("\u00e9t\u00e9"), U"\u00e9t\u00e9");
    const std::string mixed = "<ruby><rb>漢字</rb><rt>かんじ</rt></ruby>\u00e9\u0416x";
    EXPECT_EQ(widened<uint16_t>(mixed), U"<ruby><rb>漢字</rb><rt>かんじ</rt></ruby>\u00e9\u0416x");
    EXPECT_EQ(widened<uint32_t>("\U0002000B\U0002000Bあ"), U"\U0002000B\U0002000Bあ");
    // A three-byte character at the very end, where no four-byte load fits.
    EXPECT_EQ(widened<uint16_t>("ab字"), U"ab字");
}

TEST(Utf8Widening, RefusesWhatIsNotValidOrTooWide) {
    EXPECT_FALSE(widened<uint16_t>("\xED\xA0\x80xyz"));  // surrogate
    EXPECT_FALSE(widened<uint16_t>("\xE0\x80\xAFxyz"));  // overlong
    EXPECT_FALSE(widened<uint16_t>("ab\xE3\x81"));       // cut short
    EXPECT_FALSE(widened<uint16_t>("\x80zzzz"));         // stray continuation
    EXPECT_FALSE(widened<uint8_t>("\u0416"));            // needs two bytes a unit
    EXPECT_FALSE(widened<uint16_t>("\U0002000B"));       // needs four
}

// Runs of three-byte characters long enough for the vector step (four at a
// time, sixteen bytes loaded): every width agrees with a character-by-
// character decoding, and a bad character anywhere in a run (overlong,
// surrogate, cut short, a stray byte) is still refused.
TEST(Utf8Widening, LongRunsOfThreeByteCharacters) {
    std::mt19937 rng(11);
    const std::vector<std::string> good = {"漢", "字", "か", "ア", "、", "\uFFFD", "\u0800", "\uD7FF", "\uE000", "\uFFFF"};
    const std::vector<std::string> other = {"a", "<p>", "\u00e9", "\U0002000B"};
    const std::vector<std::string> bad = {"\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                                          "\xE3\x81", "\x80", "\xE3\xC1\x82"};
    for (int round = 0; round < 400; ++round) {
        std::string text;
        std::u32string expected;
        const int length = 1 + static_cast<int>(rng() % 40);
        for (int k = 0; k < length; ++k) {
            const bool wide = rng() % 8 != 0;
            const std::string& piece = wide ? good[rng() % good.size()] : other[rng() % other.size()];
            text += piece;
            for (size_t at = 0; at < piece.size();) {
                const utf8::Char c = utf8::decode(piece, at);
                expected += static_cast<char32_t>(c.cp);
                at += c.len;
            }
        }
        EXPECT_EQ(widened<uint32_t>(text), expected) << round;
        if (std::all_of(expected.begin(), expected.end(), [](char32_t c) { return c <= 0xFFFF; })) {
            EXPECT_EQ(widened<uint16_t>(text), expected) << round;
        }
        // The same with one bad character put somewhere in it.
        std::string spoilt = text;
        const size_t at = rng() % (spoilt.size() + 1);
        size_t start = at;
        while (start > 0 && (static_cast<unsigned char>(spoilt[start]) & 0xC0) == 0x80) --start;
        spoilt.insert(start, bad[rng() % bad.size()]);
        EXPECT_FALSE(widened<uint32_t>(spoilt)) << round;
    }
}

TEST(ShiftJis, TrailBytesOutsideTheirRangesFail) {
    for (int lead : {0x81, 0x9F, 0xE0, 0xFC}) {
        for (int trail : {0x3F, 0x7F, 0xFD, 0xFF}) EXPECT_FALSE(decode_sjis(sjis({lead, trail}))) << lead << " " << trail;
        EXPECT_FALSE(decode_sjis(sjis({0x41, lead})));  // lead byte at the end
    }
    EXPECT_EQ(decode_sjis(sjis({0x81, 0x40, 0x81, 0x7E, 0x81, 0x80})), "\u3000\u00d7\u00f7");  // first and last columns
    EXPECT_EQ(decode_sjis(sjis({0x88, 0x9F, 0x0D, 0x0A, 0x82, 0xA0})), "亜\r\nあ");
}

// The vector path decodes runs of double-byte characters eight at a time
// and must give what one character at a time gives. Every pair of bytes
// is placed in a run, in two of the eight lanes of a step: those that are
// no character, that map to nothing, or whose UTF-8 is not three bytes
// long (× and ÷ at 81 7E and 81 80) end the vector steps; the rest are
// decoded by them.
TEST(ShiftJis, VectorRunsAgreeWithOneCharacterAtATime) {
    std::vector<scan::ScanPath> paths;
    for (scan::ScanPath path : {scan::ScanPath::Swar, scan::ScanPath::Sse2, scan::ScanPath::Avx2})
        if (scan::scan_path_available(path)) paths.push_back(path);
    const std::string a = sjis({0x82, 0xA0});  // あ
    size_t decoded_pairs = 0;
    for (unsigned pair = 0; pair < 0x10000; ++pair) {
        for (unsigned lane : {pair % 8, (pair + 3) % 8}) {
            std::string text;
            for (unsigned k = 0; k < 8 + lane; ++k) text += a;
            text += sjis({static_cast<int>(pair >> 8), static_cast<int>(pair & 0xFF)});
            for (unsigned k = 0; k < 16; ++k) text += a;
            const auto expected = decode_sjis(text, scan::ScanPath::Scalar);
            decoded_pairs += expected.has_value();
            for (scan::ScanPath path : paths)
                ASSERT_EQ(decode_sjis(text, path), expected) << scan::scan_path_name(path) << " " << std::hex << pair;
        }
    }
    EXPECT_GT(decoded_pairs, 2 * 11000u);  // the mapped double-byte characters, among others

    // Texts as books are: runs of kana and kanji between ASCII, line ends,
    // half-width katakana, characters of two UTF-8 bytes, across the
    // decoder's 4,096-byte slices.
    const std::vector<std::string> pieces = {sjis({0x88, 0x9F}), sjis({0x82, 0xA0}), sjis({0x83, 0x41}),
                                             sjis({0xE0, 0x40}), sjis({0xFC, 0x4B}), sjis({0x81, 0x7E}),
                                             sjis({0xF0, 0x40}), "\r\n", "a", sjis({0xB1}), sjis({0x80})};
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const size_t length = rng() % 9000;
        while (text.size() < length) text += pieces[rng() % 100 < 90 ? rng() % 5 : rng() % pieces.size()];
        if (round % 10 == 9) text.insert(rng() % (text.size() + 1), 1, static_cast<char>(0x82));  // a lead byte out of place
        const auto expected = decode_sjis(text, scan::ScanPath::Scalar);
        for (scan::ScanPath path : paths) ASSERT_EQ(decode_sjis(text, path), expected) << round;
        EXPECT_EQ(decode_sjis(text), expected) << round;
    }
}

// The wide steps (eight ASCII bytes, two three-byte characters, ASCII up
// to the first byte that is not) against one character at a time, at every
// alignment, with a fault placed where a wide step reads it.
TEST(Utf8Widening, WideStepsAgreeWithOneCharacterAtATime) {
    const std::string pieces[] = {"<span class=\"x\">", "漢字かな交じり", "字", "a", "\u00e9", "\U0002000B", "\n"};
    auto reference = [](std::string_view s) {
        std::u32string out;
        for (size_t i = 0; i < s.size();) {
            const utf8::Char c = utf8::decode(s, i);
            out += static_cast<char32_t>(c.cp);
            i += c.len;
        }
        return out;
    };
    for (size_t shift = 0; shift < 8; ++shift) {
        std::string text(shift, 'p');
        for (int k = 0; k < 40; ++k) text += pieces[(k * 5 + shift) % 7];
        EXPECT_EQ(widened<uint32_t>(text), reference(text)) << shift;
        std::string bmp(shift, 'p');
        for (int k = 0; k < 40; ++k) bmp += pieces[(k * 3 + shift) % 5];
        EXPECT_EQ(widened<uint16_t>(bmp), reference(bmp)) << shift;
        // A surrogate or an overlong form as the first or second character
        // of a pair of three-byte characters.
        for (const char* bad : {"\xED\xA0\x80", "\xE0\x80\xAF"}) {
            for (int at : {0, 1, 2}) {
                std::string run(shift, 'q');
                for (int k = 0; k < 4; ++k) run += k == at ? std::string(bad) : std::string("字");
                run += std::string(9, 'z');
                EXPECT_FALSE(widened<uint16_t>(run)) << shift << " " << at;
                EXPECT_FALSE(widened<uint32_t>(run)) << shift << " " << at;
            }
        }
    }
}

// Line ends folded while decoding: the text reads as the sanitizer's own
// normalization of the plain decoding would, and the record gives the
// decoding back byte for byte, whichever mix of LF, CR LF and lone CR, and
// wherever a CR falls against the decoder's 4,096-byte slices.
TEST(LineEnds, FoldedDecodingMatchesNormalizingAndRestoresTheText) {
    std::vector<std::string> texts = {
        "", "\r", "\n", "\r\n", "a\r\nb\r\n", "a\nb\rc\r\nd", "\r\r\n\n\r", "x\r", "\r\r\r",
        sjis({'a', '\r', 0x82, 0xA0, '\r', '\n', 0x82, 0xA0, '\r'}),  // a lone CR before あ
    };
    for (size_t at : {4094u, 4095u, 4096u, 4097u}) {
        std::string t(at, 'a');
        t += "\r\n";
        t += sjis({0x82, 0xA0});
        t += "\r";
        t += std::string(5000, 'b');
        t += "\r\r\n";
        texts.push_back(t);
    }
    for (const std::string& bytes : texts) {
        SCOPED_TRACE(bytes.substr(0, 16));
        const std::optional<std::string> plain = decode_sjis(bytes);
        ASSERT_TRUE(plain);
        LineEnds ends;
        const std::optional<std::string> folded = decode_sjis_folded(bytes, ends);
        ASSERT_TRUE(folded);
        EXPECT_EQ(*folded, normalize_line_ends(*plain));
        EXPECT_EQ(ends.folded(), plain->find('\r') != std::string::npos);
        EXPECT_EQ(ends.restore(*folded), *plain);
        EXPECT_EQ(ends.source_size(folded->size()), plain->size());

        LineEnds utf8_ends;
        const std::string utf8_folded = fold_line_ends(*plain, utf8_ends);
        EXPECT_EQ(utf8_folded, *folded);
        EXPECT_EQ(utf8_ends.restore(utf8_folded), *plain);
    }
    LineEnds ends;
    EXPECT_FALSE(decode_sjis_folded(sjis({'\r', '\n', 0x82}), ends));  // still strict
}

// The probe taken while decoding is the probe of the decoded text, with
// each pattern of several bytes across a seam between the decoder's slices
// (every 4,096 input bytes) at each offset.
TEST(LineEnds, ProbeTakenWhileDecodingIsTheTextsProbe) {
    const std::vector<std::pair<std::string, bool scan::SanitizeProbe::*>> patterns = {
        {"--", &scan::SanitizeProbe::rule_pair},
        {"==", &scan::SanitizeProbe::rule_pair},
        {sjis({0x81, 0x6B}), &scan::SanitizeProbe::tortoise_open},  // 〔
        {std::string(1, '\x01'), &scan::SanitizeProbe::control},
    };
    for (const auto& [pattern, field] : patterns) {
        for (size_t at = 4090; at <= 4098; ++at) {
            for (const std::string& filler : {std::string("a"), sjis({0x82, 0xA0})}) {
                std::string bytes;
                while (bytes.size() < at) bytes += filler;
                bytes.resize(at - at % filler.size());
                bytes += pattern + "\r\nend";
                SCOPED_TRACE(std::to_string(at) + " " + pattern);
                LineEnds ends;
                scan::SanitizeProbe probe;
                const std::optional<std::string> text = decode_sjis_folded(bytes, ends, &probe);
                ASSERT_TRUE(text);
                const scan::SanitizeProbe expected = scan::probe_for_sanitize(*text);
                EXPECT_TRUE(probe.*field);
                EXPECT_EQ(probe.rule_pair, expected.rule_pair);
                EXPECT_EQ(probe.tortoise_open, expected.tortoise_open);
                EXPECT_EQ(probe.control, expected.control);
                EXPECT_FALSE(probe.carriage_return);
            }
        }
    }
    scan::SanitizeProbe clean;
    LineEnds ends;
    ASSERT_TRUE(decode_sjis_folded(std::string(9000, 'a') + "-_-\r\n", ends, &clean));
    EXPECT_FALSE(clean.rule_pair || clean.tortoise_open || clean.control || clean.sentinel);
}

TEST(LineEnds, FormsByLineFeed) {
    LineEnds ends;
    EXPECT_EQ(fold_line_ends("a\nb\r\nc\rd\r\n", ends), "a\nb\nc\nd\n");
    EXPECT_EQ(ends.form(0), LineEnds::Form::Lf);
    EXPECT_EQ(ends.form(1), LineEnds::Form::CrLf);
    EXPECT_EQ(ends.form(2), LineEnds::Form::Cr);
    EXPECT_EQ(ends.form(3), LineEnds::Form::CrLf);
    EXPECT_EQ(ends.form(400), LineEnds::Form::Lf);
    EXPECT_EQ(ends.source_size(8), 10u);
}
