// How forward-reference targets read: the form they are matched in.

#include <gtest/gtest.h>

#include "pipeline/lexer/classify/forward.hpp"

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
