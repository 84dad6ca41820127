// How forward-reference targets read: the form they are matched in.

#include <gtest/gtest.h>

#include "pipeline/lexer/classify/forward.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"

using namespace kogane;

TEST(TargetReading, LeavesMarkupOut) {
    EXPECT_EQ(target_reading("東京"), "東京");
    EXPECT_EQ(target_reading("吾輩《わがはい》は猫"), "吾輩は猫");
    EXPECT_EQ(target_reading("｜吾輩《わがはい》は｜猫《ねこ》"), "吾輩は猫");
    EXPECT_EQ(target_reading("※［＃「木＋吶のつくり」、第3水準1-85-54］の影"), "※の影");
    EXPECT_EQ(target_reading("学［＃レ］而"), "学而");
    // nested brackets close where they should
    EXPECT_EQ(target_reading("前［＃「［＃注］」に傍点］後"), "前後");
    EXPECT_EQ(target_reading("彼は「はい」と"), "彼は「はい」と");
}

TEST(TargetReading, KeepsWhatIsNoMarkup) {
    EXPECT_EQ(target_reading("《かんじ》"), "《かんじ》");      // no base: no reading
    EXPECT_EQ(target_reading("漢字《かんじ"), "漢字《かんじ");  // never closed
    EXPECT_EQ(target_reading("前［＃注"), "前［＃注");
    EXPECT_EQ(target_reading("｜"), "｜");  // reads as nothing: as written
    EXPECT_EQ(target_reading("a］b》"), "a］b》");
}

TEST(TargetReading, DeepNestingIsLinear) {
    std::string t;
    for (int i = 0; i < 50000; ++i) t += "［＃";
    t += "核";
    for (int i = 0; i < 50000; ++i) t += "］";
    EXPECT_EQ(target_reading("前" + t + "後"), "前後");
    std::string unclosed;
    for (int i = 0; i < 50000; ++i) unclosed += "《［＃";
    EXPECT_EQ(target_reading(unclosed), unclosed);
}

// What the quote index may be asked: each target opening an annotation
// body (chained ones too), as written and as it reads, at the offset of the
// annotation; gaiji references and quotations in the text are no targets.
TEST(ForwardTargets, ListsAnnotationTargets) {
    const std::string source =
        "「はい」と東京。［＃「東京」に傍点］※［＃「木＋吶のつくり」、第3水準1-85-54］"
        "猫［＃「｜吾輩《わがはい》」「猫」に傍点］［＃「」に傍点］";
    Diagnostics diagnostics;
    const SharedText sanitized = sanitize(std::make_shared<const std::string>(source), diagnostics);
    const PairedEvents p = pair(*sanitized, diagnostics);
    const std::string_view text = *sanitized;
    std::vector<std::pair<std::string, uint32_t>> got;
    list_forward_targets(text, p.links, [&](std::string_view t, uint32_t at) {
        got.emplace_back(std::string(t), at);
        return true;
    });
    const auto first = static_cast<uint32_t>(text.find("［＃「東京"));
    const auto second = static_cast<uint32_t>(text.find("［＃「｜"));
    const std::vector<std::pair<std::string, uint32_t>> want = {
        {"東京", first}, {"｜吾輩《わがはい》", second}, {"吾輩", second}, {"猫", second}};
    EXPECT_EQ(got, want);
    // Links that fit no text (the lister trusts nothing it is given).
    const std::vector<PairLink> odd = {{Span{0, 1}, Span{1, 2}, PairKind::Quote},
                                       {Span{9, 12}, Span{400, 403}, PairKind::Quote},
                                       {Span{7, 2}, Span{1, 0}, PairKind::Quote}};
    std::vector<std::string> listed;
    list_forward_targets("［＃「東京」", odd, [&](std::string_view t, uint32_t) {
        listed.emplace_back(t);
        return true;
    });
    EXPECT_TRUE(listed.empty());
    // A full list stops the lister.
    int calls = 0;
    list_forward_targets(text, p.links, [&](std::string_view, uint32_t) { return ++calls < 2; });
    EXPECT_EQ(calls, 2);
}
