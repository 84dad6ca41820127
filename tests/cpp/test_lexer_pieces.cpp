// The lexer reads the text a piece at a time. Wherever the pieces are cut,
// the tokens, pair events, links, diagnostics and classified events must be
// those of the whole text read at once.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "collections/growth.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/tokenize.hpp"
#include "test_classifier_support.hpp"

namespace kogane {
namespace {

using classifier_test::classify_text;
using classifier_test::show;
using classifier_test::show_diagnostics;

std::string random_markup(std::mt19937& rng, int max_pieces) {
    static const std::vector<std::string> pieces = {
        "｜", "《", "》", "［", "＃", "］", "「", "」", "※", "\n", "あ", "漢字", "x", "\xE3\x80", "〔", "〕",
        "≪", "≫", "《るび》", "［＃「漢字」に傍点］", "［＃ここから２字下げ］", "［＃ここで字下げ終わり］",
        "※［＃「木＋世」、第3水準1-85-56］", "｜東京《とうきょう》", "〔e'〕"};
    std::string text;
    for (auto i = static_cast<int>(rng() % static_cast<unsigned>(max_pieces)); i > 0; --i)
        text += pieces[rng() % pieces.size()];
    return text;
}

bool same(const Token& a, const Token& b) {
    return a.tag == b.tag && a.kind == b.kind && a.start == b.start && a.end == b.end;
}
bool same(const PairEvent& a, const PairEvent& b) {
    return a.tag == b.tag && a.kind == b.kind && a.start == b.start && a.end == b.end;
}
bool same(const PairLink& a, const PairLink& b) { return a.open == b.open && a.close == b.close && a.kind == b.kind; }

template <typename T>
::testing::AssertionResult same_list(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " vs " << b.size() << " items";
    for (size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i])) return ::testing::AssertionFailure() << "item " << i << " differs";
    return ::testing::AssertionSuccess();
}

TEST(LexerPieces, PredictedGrowth) {
    EXPECT_EQ(predicted_capacity(0, 0, 100), 1024u);
    EXPECT_EQ(predicted_capacity(4000, 10'000, 1'000'000), 450'000u);  // density so far, an eighth to spare
    EXPECT_EQ(predicted_capacity(4000, 1000, 1'000'000), 6000u);       // too little read to say: half again
    EXPECT_EQ(predicted_capacity(4000, 1'000'000, 1'000'000), 6000u);   // all read
    // A dense start, or an event standing far back, never asks for more
    // than two items per byte of input.
    EXPECT_EQ(predicted_capacity(100'000, 5000, 100'000'000), 200'100'000u);
    EXPECT_GE(predicted_capacity(2'000'000, 4096, 3'000'000), 3'000'000u);
}

TEST(LexerPieces, TokensDoNotDependOnWhereThePiecesEnd) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const std::string text = random_markup(rng, 40);
        const std::vector<Token> whole = tokenize(text);
        for (uint32_t piece = 1; piece <= 9; ++piece) {
            std::vector<Token> joined, part;
            Tokenizer tokenizer(text, piece);
            while (tokenizer.next(part)) joined.insert(joined.end(), part.begin(), part.end());
            ASSERT_TRUE(same_list(joined, whole)) << "piece " << piece << " text " << text;
            EXPECT_EQ(tokenizer.read(), text.size());
        }
    }
}

TEST(LexerPieces, PairStreamGivesTheWholeTextsEventsLinksAndDiagnostics) {
    std::mt19937 rng(12);
    for (int round = 0; round < 200; ++round) {
        const std::string text = random_markup(rng, 40);
        Diagnostics whole_diagnostics;
        const PairedEvents whole = pair(text, whole_diagnostics);
        for (uint32_t piece : {1u, 2u, 3u, 5u, 8u}) {
            Diagnostics diagnostics;
            std::vector<PairLink> links;
            std::vector<PairEvent> events;
            PairStream stream(text, diagnostics, &links, piece);
            // A reader that keeps nothing behind it: the stream drops freely.
            std::vector<PairLink> links_midway, quotations_midway;
            std::vector<PairLink> quotations;
            Diagnostics quote_diagnostics;
            PairStream quote_stream(text, quote_diagnostics, &quotations, piece, PairStream::kind_bit(PairKind::Quote));
            for (size_t i = 0; stream.fetch(i, i); ++i) {
                events.push_back(stream[i]);
                if (i == whole.events.size() / 2) {
                    links_midway = stream.all_links();
                    quote_stream.fetch(i, i);
                    quotations_midway = quote_stream.all_links();
                }
            }
            if (!whole.events.empty()) {
                ASSERT_TRUE(same_list(links_midway, whole.links)) << text;
                std::vector<PairLink> whole_quotations;
                for (const PairLink& l : whole.links)
                    if (l.kind == PairKind::Quote) whole_quotations.push_back(l);
                ASSERT_TRUE(same_list(quotations_midway, whole_quotations)) << text;
            }
            ASSERT_TRUE(same_list(events, whole.events)) << "piece " << piece << " text " << text;
            ASSERT_TRUE(same_list(links, whole.links)) << "piece " << piece << " text " << text;
            ASSERT_TRUE(same_list(pair_links(text), whole.links)) << text;
            ASSERT_EQ(diagnostics.size(), whole_diagnostics.size()) << text;
            for (size_t k = 0; k < diagnostics.size(); ++k) {
                EXPECT_EQ(diagnostics[k].code(), whole_diagnostics[k].code());
                EXPECT_EQ(diagnostics[k].span, whole_diagnostics[k].span);
            }
        }
    }
}

TEST(LexerPieces, HeldRunStaysReadableWhileItsReaderKeepsIt) {
    // A reader keeping every event from 2 on: the run from there is one
    // contiguous window however many pieces it took.
    const std::string text = "あ［＃ここから２字下げ］《x\n」" + std::string(200, 'y') + "》";
    Diagnostics diagnostics;
    std::vector<PairLink> links;
    PairStream stream(text, diagnostics, &links, 4);
    size_t n = 0;
    while (stream.fetch(n, n < 2 ? n : 2)) ++n;
    Diagnostics whole_diagnostics;
    const PairedEvents whole = pair(text, whole_diagnostics);
    ASSERT_EQ(n, whole.events.size());
    const std::span<const PairEvent> window = stream.window(2, n - 2);
    for (size_t i = 2; i < n; ++i) EXPECT_TRUE(same(window[i - 2], whole.events[i])) << i;
    EXPECT_GE(stream.room_from(2), n - 2);
}

TEST(LexerPieces, ClassifiedEventsDoNotDependOnWhereThePiecesEnd) {
    std::mt19937 rng(13);
    const std::vector<std::string> fixed = {
        "｜東京《とうきょう》へ［＃「東京」に傍点］\n「《a》」",
        "《" + std::string(100, 'a') + "\n" + "［＃「a」に傍点］》",  // a group held across many pieces
        "※［＃「木＋世」、第3水準1-85-56］《き》［＃ここから２字下げ］\nx\n［＃ここで字下げ終わり］",
        "［［［《《「「\n］》」",
    };
    std::vector<std::string> texts = fixed;
    for (int round = 0; round < 150; ++round) texts.push_back(random_markup(rng, 30));
    for (const std::string& text : texts) {
        const auto whole = classify_text(text);
        const std::string expected = show(*whole);
        const std::string expected_diagnostics = show_diagnostics(*whole);
        for (uint32_t piece : {1u, 2u, 3u, 7u}) {
            const auto c = classify_text(text, piece);
            ASSERT_EQ(show(*c), expected) << "piece " << piece << " text " << text;
            ASSERT_EQ(show_diagnostics(*c), expected_diagnostics) << "piece " << piece << " text " << text;
        }
    }
}

// A group bound to be re-read is given up as soon as that is known: a ［
// not followed by ＃, a 《 with no base before it, and, once a group grows
// long and the classifier has looked ahead, an opener that stays open to
// the end of the text. The text it swallowed is read again as it comes.
// Whenever the classifier looks ahead, the result is that of holding every
// group until it ends.
TEST(LexerPieces, ClassifiedEventsDoNotDependOnWhenTheClassifierLooksAhead) {
    std::mt19937 rng(14);
    const std::vector<std::string> fixed = {
        "《" + std::string(50, '\n'),                       // a ruby opener that never closes
        "x《a\nb\n［＃「a」に傍点］\n｜東京《とうきょう》\n",  // the same, with a base, over classified groups
        "≪\n［＃ここから２字下げ］\nx\n［＃ここで字下げ終わり］",
        "［＃「\n\n※［＃「木＋世」、第3水準1-85-56］\n",     // a ［ kept open by a quotation above it
        "［《\n\n\n］《る》",                               // a long group that closes: nothing given up early
        "《《\n《a》\n《\n」\n",                            // openers that stay open inside one that does too
        "「《\n［a」b］\n",
        "※《\n※［＃「木＋世」、第3水準1-85-56］",
    };
    std::vector<std::string> texts = fixed;
    for (int round = 0; round < 300; ++round) texts.push_back(random_markup(rng, 40));
    for (const std::string& text : texts) {
        const auto held = classify_text(text, Tokenizer::kPieceBytes, kKeepEveryGroup);
        const std::string expected = show(*held);
        const std::string expected_diagnostics = show_diagnostics(*held);
        for (uint32_t long_group : {2u, 3u, 4u, 6u, 11u, kLongGroupEvents}) {
            const auto c = classify_text(text, 5, long_group);
            ASSERT_EQ(show(*c), expected) << "looking ahead at " << long_group << " text " << text;
            ASSERT_EQ(show_diagnostics(*c), expected_diagnostics) << "looking ahead at " << long_group << " text " << text;
        }
    }
}

}  // namespace
}  // namespace kogane
