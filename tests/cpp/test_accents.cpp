#include <gtest/gtest.h>

#include <string>

#include "syntax/accents.hpp"

namespace kogane {
namespace {

TEST(AccentTable, HasTheExpectedEntriesPerMark) {
    const std::string marks = "'`^~:&_,/";
    const int expected[] = {26, 12, 20, 12, 11, 5, 10, 6, 8};
    int total = 0;
    for (size_t m = 0; m < marks.size(); ++m) {
        int n = 0;
        for (int c = 0; c < 128; ++c)
            if (lookup_digraph(static_cast<char>(c), marks[m])) ++n;
        EXPECT_EQ(n, expected[m]) << "mark " << marks[m];
        total += n;
    }
    EXPECT_EQ(total, kDigraphCount);
    // Only the nine marks form keys.
    for (int c = 0; c < 128; ++c) {
        if (marks.find(static_cast<char>(c)) == std::string::npos) {
            EXPECT_FALSE(lookup_digraph('e', static_cast<char>(c)));
        }
    }
}

TEST(AccentTable, SampleEntriesAndRange) {
    EXPECT_EQ(lookup_digraph('e', '\''), 0x00E9u);
    EXPECT_EQ(lookup_digraph('M', '\''), 0x1E3Eu);
    EXPECT_EQ(lookup_digraph('N', '`'), 0x01F8u);
    EXPECT_EQ(lookup_digraph('J', '^'), 0x0134u);
    EXPECT_EQ(lookup_digraph('E', '~'), 0x1EBCu);
    EXPECT_EQ(lookup_digraph('y', ':'), 0x00FFu);
    EXPECT_FALSE(lookup_digraph('Y', ':'));
    EXPECT_EQ(lookup_digraph('s', '&'), 0x00DFu);
    EXPECT_EQ(lookup_digraph('u', '_'), 0x016Bu);
    EXPECT_EQ(lookup_digraph('T', ','), 0x0162u);
    EXPECT_EQ(lookup_digraph('i', '/'), 0x0268u);
    EXPECT_FALSE(lookup_digraph('b', '\''));
    EXPECT_EQ(lookup_ligature("OE&"), 0x0152u);
    EXPECT_FALSE(lookup_ligature("Oe&"));
}

TEST(DecomposeAccents, RewritesGreedilyLeftToRight) {
    EXPECT_EQ(decompose_accents("e'"), "é");
    EXPECT_EQ(decompose_accents("E~"), "Ẽ");
    EXPECT_EQ(decompose_accents("s&"), "ß");
    EXPECT_EQ(decompose_accents("AE&"), "Æ");
    EXPECT_EQ(decompose_accents("oe&uvre"), "œuvre");
    EXPECT_EQ(decompose_accents("Ae&"), "Ae&");
    EXPECT_EQ(decompose_accents("Y:"), "Y:");
    EXPECT_EQ(decompose_accents("o/"), "ø");
    EXPECT_EQ(decompose_accents("i/"), "ɨ");
    EXPECT_EQ(decompose_accents("ae'"), "aé");
    EXPECT_EQ(decompose_accents("caf'e"), "caf'e");
    EXPECT_EQ(decompose_accents("cafe'"), "café");
    EXPECT_EQ(decompose_accents("日本e'"), "日本é");
    EXPECT_EQ(decompose_accents("'e"), "'e");
    EXPECT_EQ(decompose_accents("e'e'"), "éé");
    EXPECT_EQ(decompose_accents("ｅ'"), "ｅ'");
    EXPECT_EQ(decompose_accents(""), "");
    // A UTF-8 sequence cut off at the fragment end is copied, not dropped.
    EXPECT_EQ(decompose_accents("e'\xE3\x81"), "é\xE3\x81");
}

TEST(ComposeAccent, MapsKindsToMarks) {
    EXPECT_EQ(compose_accent('e', AccentKind::Acute), 0x00E9u);
    EXPECT_EQ(compose_accent('e', AccentKind::Diaeresis), 0x00EBu);
    EXPECT_EQ(compose_accent('e', AccentKind::Grave), 0x00E8u);
    EXPECT_EQ(compose_accent('y', AccentKind::Diaeresis), 0x00FFu);
    EXPECT_FALSE(compose_accent('Y', AccentKind::Diaeresis));
    EXPECT_FALSE(compose_accent('b', AccentKind::Acute));
    EXPECT_FALSE(compose_accent(0xFF45, AccentKind::Acute));  // ｅ
    EXPECT_FALSE(compose_accent('e', static_cast<AccentKind>(3)));
    EXPECT_FALSE(compose_accent('\'', AccentKind::Acute));
}

TEST(DotAccents, ClausesPrefixesAndPositions) {
    EXPECT_EQ(apply_dot_accents("Krsna", "sは下ドット付き、最後のnは下ドット付き"), "Krṣṇa");
    EXPECT_EQ(apply_dot_accents("Krsna", "rsnは下ドット付き"), "Kṛṣṇa");
    EXPECT_EQ(apply_dot_accents("Krsna", "sはともに下ドット付き"), apply_dot_accents("Krsna", "sは下ドット付き"));
    EXPECT_EQ(apply_dot_accents("Krsna", "sはそれぞれ下ドット付き"), "Krṣna");
    EXPECT_EQ(apply_dot_accents("mantra", "mは上ドット付き"), "ṁantra");
    EXPECT_EQ(apply_dot_accents("nanan", "後のnは下ドット付き"), "nanaṇ");
    EXPECT_EQ(apply_dot_accents("nanan", "前のnは下ドット付き"), "ṇanan");
    EXPECT_EQ(apply_dot_accents("nanan", "2つめのnは下ドット付き"), "naṇan");
    EXPECT_EQ(apply_dot_accents("nanan", "３つめのnは下ドット付き"), "nanaṇ");
    EXPECT_EQ(apply_dot_accents("nanan", "4つめのnは下ドット付き"), std::nullopt);
    // Case-insensitive search, but the replacement follows the word's letter.
    EXPECT_EQ(apply_dot_accents("Tat", "tは下ドット付き"), "Ṭat");
    // Upper-case S has no dot-below form: the search moves on.
    EXPECT_EQ(apply_dot_accents("Sas", "sは下ドット付き"), "Saṣ");
    EXPECT_EQ(apply_dot_accents("Sa", "sは下ドット付き"), std::nullopt);
    // n-th counts skipped matches whether or not they could take a dot.
    EXPECT_EQ(apply_dot_accents("Ssss", "2つめのsは下ドット付き"), "Sṣss");
    // Non-ASCII letters in the word are copied around the change.
    EXPECT_EQ(apply_dot_accents("ésa", "sは下ドット付き"), "éṣa");
}

TEST(DotAccents, MalformedAnnotationsGiveNothing) {
    EXPECT_EQ(apply_dot_accents("sass", "sは上ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("nanan", "0つめのnは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "sは下ドット付き、"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "sは下ドット付き。"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "s下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "sは斜めドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "sは下ドット"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "2のsは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "最後のsnは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "2つめのsnは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "ｓは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "Sは下ドット付き"), std::nullopt);  // S is not a dot-below letter
    EXPECT_EQ(apply_dot_accents("Krsna", "xは下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "は下ドット付き"), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", ""), std::nullopt);
    EXPECT_EQ(apply_dot_accents("Krsna", "tは下ドット付き"), std::nullopt);  // no t in the word
    // Two records on one letter.
    EXPECT_EQ(apply_dot_accents("Krsna", "sは下ドット付き、前のsは下ドット付き"), std::nullopt);
}

TEST(DotAccents, ParsesRecords) {
    auto r = parse_dot_annotation("前のmnは上ドット付き、１２つめのtは下ドット付き");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 3u);
    EXPECT_EQ((*r)[0].mode, DotMode::First);
    EXPECT_EQ((*r)[0].letter, uint32_t('m'));
    EXPECT_EQ((*r)[0].below, 0);
    EXPECT_EQ((*r)[1].letter, uint32_t('n'));
    EXPECT_EQ((*r)[2].mode, DotMode::Nth);
    EXPECT_EQ((*r)[2].ordinal, 12u);
    EXPECT_EQ((*r)[2].below, 1);
}

}  // namespace
}  // namespace kogane
