#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "collections/utf8.hpp"
#include "encoding/designation.hpp"

using namespace kogane;

namespace {

std::string encoded(uint32_t cp) {
    std::string s;
    utf8::append(s, cp);
    return s;
}

TEST(Utf8Codec, EncodesEachLengthAtItsBoundaries) {
    EXPECT_EQ(encoded(0x41), "A");
    EXPECT_EQ(encoded(0x7F), "\x7F");
    EXPECT_EQ(encoded(0x80), "\xC2\x80");
    EXPECT_EQ(encoded(0x7FF), "\xDF\xBF");
    EXPECT_EQ(encoded(0x800), "\xE0\xA0\x80");
    EXPECT_EQ(encoded(0x3042), "あ");
    EXPECT_EQ(encoded(0xFFFF), "\xEF\xBF\xBF");
    EXPECT_EQ(encoded(0x10000), "\xF0\x90\x80\x80");
    EXPECT_EQ(encoded(0x20B9F), "𠮟");
    EXPECT_EQ(encoded(0x10FFFF), "\xF4\x8F\xBF\xBF");
    for (uint32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu})
        EXPECT_EQ(utf8::encoded_length(cp), encoded(cp).size()) << cp;
}

TEST(Utf8Codec, DecodesForwardsAndBackwardsWhatItEncodes) {
    const std::string s = "a\u00E9\u3042" "\U00020B9F" "z";
    const uint32_t cps[] = {0x61, 0xE9, 0x3042, 0x20B9F, 0x7A};
    const uint32_t lens[] = {1, 2, 3, 4, 1};
    size_t i = 0;
    for (int k = 0; k < 5; ++k) {
        const utf8::Char c = utf8::decode(s, i);
        EXPECT_EQ(c.cp, cps[k]);
        EXPECT_EQ(c.len, lens[k]);
        i += c.len;
    }
    EXPECT_EQ(i, s.size());
    for (int k = 4; k >= 0; --k) {
        const utf8::Char c = utf8::decode_before(s, i);
        EXPECT_EQ(c.cp, cps[k]);
        i -= c.len;
    }
    EXPECT_EQ(i, 0u);
    EXPECT_EQ(utf8::decode_before(s, 0).len, 0u);
}

TEST(Utf8Codec, MalformedBytesDecodeAsOneBadByte) {
    for (std::string_view bad : {
             std::string_view("\x80", 1),              // stray continuation
             std::string_view("\xC3", 1),              // cut short
             std::string_view("\xE3\x81", 2),          // cut short
             std::string_view("\xC0\x80", 2),          // overlong
             std::string_view("\xE0\x80\x80", 3),      // overlong
             std::string_view("\xED\xA0\x80", 3),      // surrogate
             std::string_view("\xF4\x90\x80\x80", 4),  // past U+10FFFF
             std::string_view("\xF5\x80\x80\x80", 4),  // no such lead
             std::string_view("\xE3\x41\x42", 3),      // lead then ASCII
         }) {
        const utf8::Char c = utf8::decode(bad, 0);
        EXPECT_EQ(c.cp, utf8::kBad) << testing::PrintToString(bad);
        EXPECT_EQ(c.len, 1u);
        EXPECT_FALSE(utf8::is_valid(bad));
        const utf8::Char back = utf8::decode_before(bad, bad.size());
        EXPECT_EQ(back.len, 1u);
    }
}

TEST(Utf8Codec, ValidationLooksPastAsciiBlocks) {
    const std::string ascii(37, 'x');
    EXPECT_TRUE(utf8::is_valid(""));
    EXPECT_TRUE(utf8::is_valid(ascii));
    EXPECT_TRUE(utf8::is_valid(ascii + "漢字" + ascii + "\U0010FFFF"));
    // The bad byte sits after a run of whole eight-byte ASCII blocks, and
    // at every offset inside the last one.
    for (size_t at = 0; at < ascii.size(); ++at) {
        std::string s = ascii;
        s[at] = '\xFF';
        EXPECT_FALSE(utf8::is_valid(s)) << at;
    }
    EXPECT_FALSE(utf8::is_valid(ascii + "\xE6\xBC"));
}

TEST(Designation, JisPositionsAndCodePoints) {
    EXPECT_EQ(jis_designation(1, 4, 89), "第3水準1-4-89");
    EXPECT_EQ(jis_designation(2, 82, 4), "第4水準2-82-4");
    std::string s = "x";
    append_jis_designation(s, 1, 94, 94);
    EXPECT_EQ(s, "x第3水準1-94-94");

    auto cp = [](uint32_t v) {
        std::string out;
        append_code_point(out, v);
        return out;
    };
    EXPECT_EQ(cp(0), "U+0000");
    EXPECT_EQ(cp(0xE9), "U+00E9");
    EXPECT_EQ(cp(0x3042), "U+3042");
    EXPECT_EQ(cp(0xFFFD), "U+FFFD");
    EXPECT_EQ(cp(0x20B9F), "U+20B9F");
    EXPECT_EQ(cp(0x10FFFF), "U+10FFFF");
}

}  // namespace
