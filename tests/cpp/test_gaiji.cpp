#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "encoding/designation.hpp"
#include "pipeline/lexer/classify/gaiji.hpp"
#include "encoding/gaiji_tables.hpp"

using namespace kogane;
namespace gt = kogane::gaiji_tables;

namespace {

std::string mencode_of(const GaijiRef& r) { return r.mencode ? std::string(*r.mencode) : "<none>"; }

// Resolution as "U+XXXX" when single, else the text in angle brackets.
std::string resolved(std::optional<std::string_view> code, std::string_view desc) {
    auto r = resolve_gaiji(code, desc);
    if (!r) return "<none>";
    if (!r->single) return "<" + r->text + ">";
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", r->codepoint);
    return buf;
}

}  // namespace

TEST(GaijiTables, EveryKeyIsFoundInItsOwnSlot) {
    for (const gt::PhfTable* t : {&gt::jis_table(), &gt::sequence_table(), &gt::description_table()}) {
        for (uint32_t slot = 0; slot < t->size; ++slot) {
            auto found = gt::find(*t, t->key(slot));
            ASSERT_TRUE(found) << t->key(slot);
            EXPECT_EQ(*found, slot);
        }
    }
    EXPECT_EQ(gt::jis_table().size, 4329u);
    EXPECT_EQ(gt::sequence_table().size, 25u);
    EXPECT_EQ(gt::description_table().size, 9869u);
}

// The generator spells JIS keys itself; every key must be exactly what the
// engine's formatter writes for some position, or lookups of designations
// the engine builds would miss.
TEST(GaijiTables, JisKeysAreSpelledAsTheFormatterSpellsThem) {
    std::set<std::string, std::less<>> designations;
    for (uint32_t plane = 1; plane <= 2; ++plane)
        for (uint32_t row = 1; row <= 94; ++row)
            for (uint32_t cell = 1; cell <= 94; ++cell) designations.insert(jis_designation(plane, row, cell));
    size_t spelled = 0;
    for (const gt::PhfTable* t : {&gt::jis_table(), &gt::sequence_table()})
        for (uint32_t slot = 0; slot < t->size; ++slot) spelled += designations.count(t->key(slot));
    EXPECT_EQ(spelled, 4329u + 25u);
}

TEST(GaijiTables, ValuesAndMisses) {
    EXPECT_EQ(gt::lookup_jis("第3水準1-85-54"), 0x6798u);
    EXPECT_EQ(gt::lookup_jis("第4水準2-79-62"), 0x7095u);
    EXPECT_EQ(gt::lookup_jis("第4水準2-82-4"), 0x251CDu);
    // The two positions where this system departs from the standard mapping.
    EXPECT_EQ(gt::lookup_jis("第3水準1-2-54"), 0xFF5Fu);
    EXPECT_EQ(gt::lookup_jis("第3水準1-2-55"), 0xFF60u);
    // JIS X 0208 positions, non-canonical spellings and prefixes are not keys.
    EXPECT_FALSE(gt::lookup_jis("第3水準1-16-1"));
    EXPECT_FALSE(gt::lookup_jis("第3水準1-04-89"));
    EXPECT_FALSE(gt::lookup_jis("第4水準1-4-89"));
    EXPECT_FALSE(gt::lookup_jis("第3水準1-85-54 "));
    EXPECT_FALSE(gt::lookup_jis(""));
    EXPECT_FALSE(gt::lookup_description(std::string_view{}));
    EXPECT_FALSE(gt::lookup_jis("第3水準1-4-87"));  // a sequence position

    auto seq = gt::lookup_jis_sequence("第3水準1-4-87");
    ASSERT_TRUE(seq);
    EXPECT_EQ((*seq)[0], 0x304Bu);
    EXPECT_EQ((*seq)[1], 0x309Au);
    seq = gt::lookup_jis_sequence("第3水準1-11-70");
    ASSERT_TRUE(seq);
    EXPECT_EQ((*seq)[0], 0x2E5u);
    EXPECT_EQ((*seq)[1], 0x2E9u);

    EXPECT_EQ(gt::lookup_description("火＋亢"), 0x7095u);
    EXPECT_EQ(gt::lookup_description("丸19"), 0x2472u);
    EXPECT_EQ(gt::lookup_description("ローマ数字12小文字"), 0x217Bu);
    EXPECT_FALSE(gt::lookup_description("火＋亢 "));

    // Rows of two code points keep both; one code point has no second.
    EXPECT_EQ(gt::lookup_description_chars("半濁点付き片仮名ト"), (std::array<uint32_t, 2>{0x30C8, 0x309A}));
    EXPECT_EQ(gt::lookup_description_chars("火＋亢"), (std::array<uint32_t, 2>{0x7095, 0}));
    // A character named and then modified is left out of the table.
    EXPECT_FALSE(gt::lookup_description("「圖」の「回」に代えて「面から一、二画目をとったもの」"));
    EXPECT_FALSE(gt::lookup_description("圖」の「回」に代えて「面から一、二画目をとったもの"));
}

TEST(GaijiResolve, PlaneRowCellWithoutLevel) {
    EXPECT_EQ(resolve_gaiji(std::string_view("1-13-21"), "x")->text, "Ⅰ");
    EXPECT_EQ(resolve_gaiji(std::string_view("1-5-94"), "x")->text, "ト゚");
    EXPECT_EQ(resolve_gaiji(std::string_view("2-82-4"), "x")->text,
              resolve_gaiji(std::string_view("第4水準2-82-4"), "x")->text);
    for (std::string_view bad : {"3-13-21", "1-95-1", "1-0-1", "1-13", "1-13-21-4", "01-013-21", "１-13-21"})
        EXPECT_FALSE(resolve_gaiji(bad, "xy")) << bad;
}

TEST(GaijiParse, QuotedForm) {
    GaijiRef r = parse_gaiji_body("「木＋吶のつくり」、第3水準1-85-54");
    EXPECT_EQ(r.description, "木＋吶のつくり");
    EXPECT_EQ(mencode_of(r), "第3水準1-85-54");
    EXPECT_TRUE(r.quoted);
    EXPECT_TRUE(r.separated);

    // No separator: the code follows 」 directly.
    r = parse_gaiji_body("「あ」U+3042");
    EXPECT_EQ(r.description, "あ");
    EXPECT_EQ(mencode_of(r), "U+3042");
    EXPECT_TRUE(r.quoted);
    EXPECT_FALSE(r.separated);

    r = parse_gaiji_body("\u3000「丸19」 ");
    EXPECT_EQ(r.description, "丸19");
    EXPECT_EQ(mencode_of(r), "<none>");
    EXPECT_TRUE(r.quoted);

    // An empty designation after the separator is no designation.
    r = parse_gaiji_body("「あ」、　");
    EXPECT_EQ(mencode_of(r), "<none>");
    EXPECT_TRUE(r.separated);

    // The whole tail is the mencode text; its first piece is the code text.
    r = parse_gaiji_body("「木＋吶のつくり」、第3水準1-85-54、123-4");
    EXPECT_EQ(mencode_of(r), "第3水準1-85-54、123-4");
    EXPECT_EQ(gaiji_code_text(r.mencode), "第3水準1-85-54");
}

TEST(GaijiParse, QuotedFormFallsBackToPlain) {
    // Text after 」 that is not a designation: the whole body is the description.
    GaijiRef r = parse_gaiji_body("「あ」は傍点");
    EXPECT_EQ(r.description, "「あ」は傍点");
    EXPECT_FALSE(r.quoted);
    EXPECT_EQ(mencode_of(r), "<none>");

    r = parse_gaiji_body("「※」は「つちへん＋壽」、第3水準1-15-60");
    EXPECT_EQ(r.description, "「※」は「つちへん＋壽」");
    EXPECT_EQ(mencode_of(r), "第3水準1-15-60");
    EXPECT_FALSE(r.quoted);

    // Unclosed quote.
    r = parse_gaiji_body("「あ、U+3042");
    EXPECT_EQ(r.description, "「あ");
    EXPECT_EQ(mencode_of(r), "U+3042");
}

TEST(GaijiParse, PlainFormTails) {
    GaijiRef r = parse_gaiji_body("火＋亢、第4水準2-79-62");
    EXPECT_EQ(r.description, "火＋亢");
    EXPECT_EQ(mencode_of(r), "第4水準2-79-62");
    EXPECT_FALSE(r.quoted);
    EXPECT_TRUE(r.separated);

    // A code token followed by page-line locators.
    r = parse_gaiji_body("火＋亢 、 第4水準2-79-62、P12-下段3、上巻");
    EXPECT_EQ(r.description, "火＋亢");
    EXPECT_EQ(mencode_of(r), "第4水準2-79-62、P12-下段3、上巻");

    // Locators alone count only when they pass the strict test.
    r = parse_gaiji_body("火＋亢、１２-上");
    EXPECT_EQ(r.description, "火＋亢");
    EXPECT_EQ(mencode_of(r), "１２-上");
    r = parse_gaiji_body("火＋亢、3巻-12");
    EXPECT_EQ(mencode_of(r), "3巻-12");
    for (const char* loose : {"火＋亢、P12", "火＋亢、12下段", "火＋亢、12－3", "火＋亢、3首目"}) {
        r = parse_gaiji_body(loose);
        EXPECT_EQ(r.description, loose);
        EXPECT_EQ(mencode_of(r), "<none>") << loose;
    }

    // Not locators: 巻 alone, empty segments, other words.
    for (const char* body : {"火＋亢、巻", "火＋亢、上-", "火＋亢、読みは「こう」", "火＋亢、U+1234567"}) {
        r = parse_gaiji_body(body);
        EXPECT_EQ(r.description, body);
        EXPECT_EQ(mencode_of(r), "<none>") << body;
    }

    // Every piece is a designation: nothing is left to describe.
    r = parse_gaiji_body("U+3042、12-3");
    EXPECT_EQ(r.description, "U+3042、12-3");
    EXPECT_EQ(mencode_of(r), "<none>");

    // Code token variants: level digits may be absent, full-width digits are not digits.
    EXPECT_EQ(mencode_of(parse_gaiji_body("x、第水準1-2")), "第水準1-2");
    EXPECT_EQ(mencode_of(parse_gaiji_body("x、u+3042")), "<none>");
    EXPECT_EQ(mencode_of(parse_gaiji_body("x、第3水準１-2-3")), "<none>");
}

TEST(GaijiAccept, Rules) {
    EXPECT_FALSE(accept_gaiji_body("二字下げ"));
    EXPECT_FALSE(accept_gaiji_body("「あ」は傍点"));
    EXPECT_FALSE(accept_gaiji_body(""));
    EXPECT_FALSE(accept_gaiji_body("　"));
    EXPECT_FALSE(accept_gaiji_body("、U+3042"));     // empty description
    EXPECT_TRUE(accept_gaiji_body("火＋亢"));          // a description table key
    EXPECT_TRUE(accept_gaiji_body("ローマ数字14小文字"));  // Roman numeral rule
    EXPECT_FALSE(accept_gaiji_body("ローマ数字100"));
    EXPECT_TRUE(accept_gaiji_body("「未知の字」"));     // quoted
    EXPECT_TRUE(accept_gaiji_body("未知の字、U+3042"));  // designated
    EXPECT_FALSE(accept_gaiji_body("注［＃記、U+3042"));
    // Quotes inside the description need a designation and must balance.
    EXPECT_TRUE(accept_gaiji_body("「※」は「つちへん＋壽」、第3水準1-15-60"));
    EXPECT_FALSE(accept_gaiji_body("「※」は「つちへん＋壽」"));
    EXPECT_FALSE(accept_gaiji_body("「※」は「つちへん＋壽、第3水準1-15-60"));
}

TEST(GaijiClassify, Designations) {
    NodeStore store;
    auto kind = [&](std::optional<std::string_view> m) { return classify_code(m, store).kind; };
    EXPECT_EQ(kind(std::nullopt), CodeKind::None);

    CodeRef c = classify_code("第3水準1-4-89", store);
    EXPECT_EQ(c.kind, CodeKind::Jis);
    EXPECT_EQ(c.plane(), 1);
    EXPECT_EQ(c.row(), 4);
    EXPECT_EQ(c.cell(), 89);
    c = classify_code("第4水準2-94-94", store);
    EXPECT_EQ(c.value, CodeRef::jis(2, 94, 94).value);
    for (const char* text : {"第4水準1-4-89", "第3水準1-04-89", "第3水準1-4-95", "第5水準3-1-1", "第3水準1-4-0",
                             "第+3水準1-4-89", "第3水準1-4-89-1", "第3水準1-4", "第3水準1-85-54、123-4"})
        EXPECT_EQ(kind(text), CodeKind::Text) << text;

    c = classify_code("U+3042", store);
    EXPECT_EQ(c.kind, CodeKind::Unicode);
    EXPECT_EQ(c.value, 0x3042u);
    EXPECT_EQ(classify_code("U+A", store).value, 0xAu);
    EXPECT_EQ(classify_code("U+10FFFF", store).value, 0x10FFFFu);
    EXPECT_EQ(classify_code("U++3042", store).value, 0x3042u);
    EXPECT_EQ(classify_code("U+00abcd", store).value, 0xABCDu);
    for (const char* text : {"U+D800", "U+DFFF", "U+110000", "U+", "U++", "U+0010FFFF", "U+30G2", "u+3042"})
        EXPECT_EQ(kind(text), CodeKind::Text) << text;

    c = classify_code("123-4", store);
    EXPECT_EQ(c.kind, CodeKind::Text);
    EXPECT_EQ(store.resolve(c.value), "123-4");
}

TEST(GaijiResolve, RuleOrder) {
    EXPECT_EQ(resolved("第3水準1-85-54", "木＋吶のつくり"), "U+6798");
    EXPECT_EQ(resolved("第3水準1-4-87", "か゚"), "<か゚>");
    EXPECT_EQ(resolved("U+3042", "あ"), "U+3042");
    // The code wins over the description when it resolves.
    EXPECT_EQ(resolved("U+3044", "火＋亢"), "U+3044");
    EXPECT_EQ(resolved("U+1", "x y"), "<none>");  // a control is no character to show
    EXPECT_EQ(resolved("U+9", "x y"), "U+0009");
    EXPECT_EQ(resolved("U+10FFFF", "x y"), "U+10FFFF");
    EXPECT_EQ(resolved("U+3042", "x y"), "U+3042");
    // Failing codes fall through to the description rules.
    EXPECT_EQ(resolved("U+D800", "X"), "U+0058");
    EXPECT_EQ(resolved("U+110000", "火＋亢"), "U+7095");
    EXPECT_EQ(resolved("U+", "x y"), "<none>");
    EXPECT_EQ(resolved("U++", "x y"), "<none>");
    EXPECT_EQ(resolved("第3水準1-04-89", "x y"), "<none>");
    EXPECT_EQ(resolved("第4水準1-4-89", "x y"), "<none>");
    EXPECT_EQ(resolved("第3水準1-4-89", "x y"), "<く゚>");
    EXPECT_EQ(resolved(std::nullopt, "x y"), "<none>");
    EXPECT_EQ(resolved(std::nullopt, "𠀋"), "U+2000B");
}

TEST(GaijiResolve, RomanNumerals) {
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字14小文字"), "<ⅹⅰⅴ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字14"), "<ⅩⅠⅤ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字99小文字"), "<ⅹⅽⅰⅹ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字13"), "<ⅩⅠⅠⅠ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字48"), "<ⅩⅬⅤⅠⅠⅠ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字1"), "U+2160");  // table, precomposed
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字１"), "U+2160");  // rule, one letter
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字５０"), "U+216C");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字１4小文字"), "<ⅹⅰⅴ>");
    EXPECT_EQ(resolved(std::nullopt, "ローマ数字099"), "<ⅩⅭⅠⅩ>");
    for (const char* none : {"ローマ数字0", "ローマ数字100", "ローマ数字", "ローマ数字小文字", "ローマ数字14大文字",
                             "ローマ数字99999999999999999999", "ローマ数字-1"})
        EXPECT_EQ(resolved(std::nullopt, none), "<none>") << none;
}

TEST(GaijiResolve, StoredItemResolvesLikeItsReference) {
    NodeStore store;
    for (const char* body : {"「木＋吶のつくり」、第3水準1-85-54", "「か゚」、第3水準1-4-87", "「あ」、U+3042",
                             "「X」、U+D800", "「丸19」", "ローマ数字14小文字", "「木＋吶のつくり」、第3水準1-85-54、123-4",
                             "火＋亢、第4水準2-79-62", "「未知」、第3水準1-16-1"}) {
        auto ref = accept_gaiji_body(body);
        ASSERT_TRUE(ref) << body;
        GaijiItem item = make_gaiji_item(*ref, true, store);
        EXPECT_EQ(store.resolve(item.description), ref->description);
        EXPECT_TRUE(item.no_mark);
        auto direct = resolve_gaiji(gaiji_code_text(ref->mencode), ref->description);
        auto stored = resolve_gaiji_item(item, store);
        ASSERT_EQ(direct.has_value(), stored.has_value()) << body;
        if (direct) {
            EXPECT_EQ(direct->text, stored->text) << body;
        }
    }
    EXPECT_EQ(jis_designation(2, 82, 4), "第4水準2-82-4");
}

TEST(GaijiScan, SourceReferences) {
    std::string src =
        "前※［＃「木＋吶のつくり」、第3水準1-85-54］と"   // resolved, JIS
        "※［＃「謎」、第3水準1-16-1］"                    // code given, nothing resolves
        "［＃火＋亢］"                                     // bare, accepted
        "［＃二字下げ］"                                   // bare, rejected
        "［＃］※［＃］"                                    // empty bodies
        "※［＃「か゚」、第3水準1-4-87］"
        "※［＃未知の字 甲乙］"
        "［＃「丸19」";                                    // no ］: the scan ends
    auto recs = scan_source_gaiji(src);
    ASSERT_EQ(recs.size(), 5u);

    EXPECT_EQ(recs[0].span, (Span{3, 62}));
    EXPECT_EQ(src.substr(recs[0].span.start, 3), "※");
    EXPECT_EQ(src.substr(recs[0].span.end - 3, 3), "］");
    EXPECT_EQ(recs[0].description, "木＋吶のつくり");
    EXPECT_EQ(recs[0].mencode, "第3水準1-85-54");
    EXPECT_TRUE(recs[0].has_codepoint);
    EXPECT_EQ(recs[0].codepoint, 0x6798u);
    EXPECT_EQ(recs[0].resolved, "枘");

    EXPECT_EQ(recs[1].description, "謎");
    EXPECT_EQ(recs[1].mencode, "第3水準1-16-1");
    EXPECT_EQ(recs[1].resolved, "謎");  // single-character description

    EXPECT_EQ(recs[2].description, "火＋亢");
    EXPECT_EQ(src.substr(recs[2].span.start, recs[2].span.length()), "［＃火＋亢］");
    EXPECT_EQ(recs[2].codepoint, 0x7095u);

    EXPECT_EQ(recs[3].resolved, "か゚");
    EXPECT_FALSE(recs[3].has_codepoint);

    EXPECT_EQ(recs[4].description, "未知の字 甲乙");
    EXPECT_FALSE(recs[4].mencode);
    EXPECT_FALSE(recs[4].resolved);
    EXPECT_FALSE(recs[4].has_codepoint);

    // The first ］ closes, and a ※ reference is recorded even when it is not a gaiji body.
    recs = scan_source_gaiji("※［＃注［＃「あ」］］");
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].description, "注［＃「あ」");
    EXPECT_EQ(recs[0].span, (Span{0, 30}));
    EXPECT_TRUE(scan_source_gaiji("［＃注［＃「あ」］］").empty());
    EXPECT_TRUE(scan_source_gaiji("").empty());
    EXPECT_TRUE(scan_source_gaiji("［＃").empty());
    EXPECT_TRUE(scan_source_gaiji("\xE2\x80［＃\xFF］").empty());  // malformed bytes stay harmless
}
