// Whole-stream properties of the classifier over generated inputs, and very
// deep nesting.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_classifier_support.hpp"

namespace kogane {
namespace {

using classifier_test::check_tiling;
using classifier_test::classify_text;
using classifier_test::show;

const std::vector<std::string> kPieces = {
    "｜", "《", "》", "≪", "≫", "［", "］", "＃", "※", "〔", "〕", "「", "」", "\n",
    "｜", "《", "》", "［", "］", "＃", "※", "「", "」",
    "漢", "字", "か", "カ", "a", "、", "※［＃「あ」、U+3042］", "※［＃「xyzzy」］",
};

std::string random_text(std::mt19937& rng) {
    std::uniform_int_distribution<size_t> len(0, 36), pick(0, kPieces.size() - 1);
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += kPieces[pick(rng)];
    return s;
}

TEST(ClassifierStream, GeneratedInputsCoverEveryByteOnceInOrder) {
    std::mt19937 rng(5150);
    for (int i = 0; i < 4000; ++i) {
        const std::string src = random_text(rng);
        auto c = classify_text(src);
        ASSERT_EQ(check_tiling(*c), "") << "input: " << src << "\nstream: " << show(*c);
    }
}

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Inputs that would be quadratic if stacks were rescanned or groups
// re-buffered once per nesting level.
TEST(ClassifierStream, DeepNestingStaysText) {
    constexpr size_t n = 100000;
    const std::string cases[] = {
        repeat("「", n) + repeat("］", n),
        repeat("［", n) + repeat("」", n),
        repeat("《", n) + "x",
        repeat("［", n) + repeat("］", n),
        repeat("≪", n) + repeat("［", n),
    };
    for (const std::string& src : cases) {
        auto c = classify_text(src);
        ASSERT_EQ(c->events.size(), 1u) << src.substr(0, 12);
        EXPECT_EQ(c->events[0].tag, EventTag::TextRun);
        EXPECT_EQ(c->events[0].span, (Span{0, uint32_t(src.size())}));
    }
}

TEST(ClassifierStream, DeepNestingStillClassifiesWhatItCan) {
    constexpr size_t n = 100000;
    auto c = classify_text(repeat("［", n) + "\n漢字《かんじ》");
    EXPECT_EQ(show(*c), "t:" + repeat("［", n) + " lf ruby[漢字《かんじ》](漢字/かんじ)");

    c = classify_text(repeat("［", n) + "＃x" + repeat("］", n));
    EXPECT_EQ(show(*c), "t:" + repeat("［", n - 1) + " dir[［＃x］] t:" + repeat("］", n - 1));

    c = classify_text("、" + repeat("《", n) + "x" + repeat("》", n));
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->diagnostics.size(), n - 1);

    c = classify_text(repeat("≪", n) + "x" + repeat("≫", n));
    ASSERT_EQ(c->events.size(), 1u);
    EXPECT_EQ(c->pool.node(c->events[0]).tag, NodeTag::AngleQuote);
    EXPECT_EQ(classifier_test::content(c->store, c->pool.node(c->events[0]).angle.content),
              repeat("≪", n - 1) + "x" + repeat("≫", n - 1));
}

}  // namespace
}  // namespace kogane
