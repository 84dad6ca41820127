#include <gtest/gtest.h>

#include <string>

#include "encoding/decode.hpp"

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
