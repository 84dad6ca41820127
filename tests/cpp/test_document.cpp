#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "document/document.hpp"
#include "document/lazy.hpp"
#include "encoding/decode.hpp"
#include "json/views.hpp"
#include "collections/helper_threads.hpp"
#include "render/html.hpp"

using namespace kogane;

TEST(Document, LengthLimitDecision) {
    EXPECT_TRUE(source_length_ok(0));
    EXPECT_TRUE(source_length_ok(0xFFFFFFFFull));
    EXPECT_FALSE(source_length_ok(0x100000000ull));
    auto r = new_document("", 0x100000000ull);  // refused before reading any byte
    ASSERT_TRUE(std::holds_alternative<LengthError>(r));
    EXPECT_EQ(std::get<LengthError>(r).length, 0x100000000ull);
}

// Raw bytes go through every stage: Shift_JIS CR LF decoded, then parsed;
// bytes that are neither encoding are refused with no document.
TEST(Document, ParseBytesDecodesFirst) {
    auto parsed = parse_bytes("\x8A\xBF\x8E\x9A\x81\x73\x82\xA9\x82\xF1\x82\xB6\x81\x74\r\n");  // 漢字《かんじ》
    ASSERT_TRUE(std::holds_alternative<DocPtr>(parsed));
    const KoganeDoc& doc = *std::get<DocPtr>(parsed);
    EXPECT_EQ(doc.source(), "漢字《かんじ》\r\n");
    EXPECT_EQ(render_html(doc.snapshot()), "<p><ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby></p>\n");
    auto bad = parse_bytes("\x82");
    ASSERT_TRUE(std::holds_alternative<DecodeFailure>(bad));
    EXPECT_EQ(std::get<DecodeFailure>(bad), DecodeFailure::Malformed);
}

// Bytes parse with their line ends folded as they are decoded; the
// document must be the one the decoded text makes, its source included
// (rebuilt on demand) and every view in source coordinates.
TEST(Document, FoldedLineEndsGiveTheSameDocument) {
    const std::vector<std::string> inputs = {
        "\x8A\xBF\x8E\x9A\x81\x73\x82\xA9\x82\xF1\x82\xB6\x81\x74\r\n",  // 漢字《かんじ》 CR LF
        "\xEF\xBB\xBF" "漢字《かんじ》\r\n［＃ここから２字下げ］\r\nあ\r\n［＃ここで字下げ終わり］\r\n",
        "〔e'〕》\r\n漢《か《ん》》\r\n［＃「漢」に傍点］\r\n--------------\r\n※［＃「木＋吉」、第4水準2-14-1］\r",
        "a\rb\r\nc\nd\x01\r\n\r\n［＃ここから２字下げ］\r",
        "no line ends at all",
        // Edited in place without folding: a rule line after a line of text,
        // a reserved code point, accents that shrink and one that grows.
        "あ\n--------------\n--------------\nい\xEE\x80\x81う\n〔e'〕〔e~〕〔ae&〕",
        "〔e~〕\r\n〔e'〕\r\n\xEF\xBB\xBF\xEF\xBB\xBF\xEE\x80\x84",
        "\xEF\xBB\xBF\xEF\xBB\xBF" "twice\r\n",
    };
    for (const std::string& bytes : inputs) {
        SCOPED_TRACE(bytes);
        auto parsed = parse_bytes(bytes);
        ASSERT_TRUE(std::holds_alternative<DocPtr>(parsed));
        const KoganeDoc& folded = *std::get<DocPtr>(parsed);
        const std::optional<std::string> decoded = decode_auto(bytes);
        ASSERT_TRUE(decoded);
        const DocPtr plain = parse_document(std::make_shared<const std::string>(*decoded));
        EXPECT_EQ(folded.source(), plain->source());
        EXPECT_EQ(folded.source_size(), plain->source().size());
        EXPECT_EQ(plain->source_size(), plain->source().size());
        EXPECT_EQ(*folded.snapshot().sanitized, *plain->snapshot().sanitized);
        EXPECT_EQ(folded.snapshot().sanitized_is_source, plain->snapshot().sanitized_is_source);
        EXPECT_EQ(render_html(folded.snapshot()), render_html(plain->snapshot()));
        EXPECT_EQ(nodes_json(folded), nodes_json(*plain));
        EXPECT_EQ(pairs_json(folded), pairs_json(*plain));
        EXPECT_EQ(container_pairs_json(folded), container_pairs_json(*plain));
        EXPECT_EQ(gaiji_json(folded), gaiji_json(*plain));
        EXPECT_EQ(diagnostics_json(folded), diagnostics_json(*plain));
    }
    // A CR LF book is held once: the parse reads the folded decoding itself.
    auto parsed = parse_bytes("a\r\nb\r\n");
    const KoganeDoc& doc = *std::get<DocPtr>(parsed);
    EXPECT_EQ(doc.snapshot().sanitized.get(), doc.snapshot().source.get());
    EXPECT_FALSE(doc.snapshot().sanitized_is_source);
    EXPECT_EQ(doc.source(), "a\r\nb\r\n");
}

// The limit is decided before anything is copied or decoded; a small limit
// stands in for 4 GiB.
TEST(Document, DecodingRefusesOverLongTextFirst) {
    auto failure = [](std::string_view bytes, uint64_t limit) {
        auto r = decode_auto_limited(bytes, limit);
        return std::holds_alternative<DecodeFailure>(r) ? std::optional(std::get<DecodeFailure>(r)) : std::nullopt;
    };
    EXPECT_EQ(failure("abcd", 3), DecodeFailure::TooLong);  // UTF-8: its byte length
    EXPECT_EQ(std::get<std::string>(decode_auto_limited("abc", 3)), "abc");
    // Shift_JIS "ああ" (4 bytes, 6 decoded): the bound of 12 crosses the
    // limit, so a counting pass decides.
    const std::string aa = "\x82\xA0\x82\xA0";
    EXPECT_EQ(std::get<std::string>(decode_auto_limited(aa, 6)), "ああ");
    EXPECT_EQ(failure(aa, 5), DecodeFailure::TooLong);
    EXPECT_EQ(failure("\x82\xA0\x85\x40", 5), DecodeFailure::Malformed);  // counted: bad bytes found first
    EXPECT_EQ(failure("\x82\xA0\x85\x40", 3), DecodeFailure::TooLong);    // longer than the limit: not read
    EXPECT_EQ(failure("\x82", 100), DecodeFailure::Malformed);
    EXPECT_EQ(sjis_decoded_length("a\x80\xB1\x82\xA0\x84\x40"), 1u + 2 + 3 + 3 + 2);  // U+0410 is two bytes
    EXPECT_FALSE(sjis_decoded_length("\x85\x40"));
}

TEST(Document, Utf8ValidationAcrossAsciiBlocks) {
    for (size_t k = 0; k < 20; ++k) {
        const std::string ascii(k, 'a');
        EXPECT_TRUE(is_valid_utf8(ascii + "\xC3\xA9" + std::string(9, 'b'))) << k;
        EXPECT_FALSE(is_valid_utf8(ascii + "\xC3" + std::string(9, 'b'))) << k;
        EXPECT_FALSE(is_valid_utf8(ascii + "\x80")) << k;
    }
}

TEST(Document, Utf8LengthOfHostCodeUnits) {
    const uint8_t latin1[] = {'a', 0xE9, 0x00};
    const uint16_t bmp[] = {'a', 0x3042, 0x07FF, 0xFFFF};
    const uint16_t lone[] = {'a', 0xD800};
    const uint32_t wide[] = {0x20B9F, 'x'};
    EXPECT_EQ(utf8_length(std::span(latin1)), 4u);
    EXPECT_EQ(utf8_length(std::span(bmp)), 1u + 3 + 2 + 3);
    EXPECT_FALSE(utf8_length(std::span(lone)));
    EXPECT_EQ(utf8_length(std::span(wide)), 5u);
    std::string out;
    append_utf8(out, std::span(latin1));
    append_utf8(out, std::span(bmp));
    append_utf8(out, std::span(wide));
    EXPECT_EQ(out, std::string("a\xC3\xA9", 3) + std::string(1, '\0') + "aあ\xDF\xBF\xEF\xBF\xBF𠮟x");
}

TEST(Document, EmptySource) {
    auto r = new_document("", 0);
    ASSERT_TRUE(std::holds_alternative<DocPtr>(r));
    const KoganeDoc& d = *std::get<DocPtr>(r);
    EXPECT_EQ(d.source(), "");
    EXPECT_TRUE(d.snapshot().normalized.empty());
    EXPECT_TRUE(d.snapshot().diagnostics.empty());
    const std::string empty = "{\"schemaVersion\":3,\"data\":[]}";
    EXPECT_EQ(nodes_json(d), empty);
    EXPECT_EQ(pairs_json(d), empty);
    EXPECT_EQ(container_pairs_json(d), empty);
    EXPECT_EQ(gaiji_json(d), empty);
    EXPECT_EQ(diagnostics_json(d), empty);
}

TEST(Document, SourceIsSharedNotCopied) {
    auto text = std::make_shared<const std::string>("plain text");
    DocPtr d = parse_document(text);
    EXPECT_EQ(d->snapshot().source.get(), text.get());
    EXPECT_EQ(&d->source()[0], text->data());
    // Nothing to sanitize: the sanitized text is the same buffer.
    EXPECT_EQ(d->snapshot().sanitized.get(), text.get());
    EXPECT_TRUE(d->snapshot().sanitized_is_source);
}

// The snapshot is the parse's context: it holds the caller's text, the
// sanitized one, and what every stage reported (sanitize, pair, classify,
// fold), sorted, in sanitized coordinates.
TEST(Document, SnapshotHoldsTheTextsAndEveryStagesDiagnostics) {
    auto text = std::make_shared<const std::string>(
        "〔e'〕》\r\n漢《か《ん》》\r\n［＃ここから２字下げ］\r\n［＃ここから３字下げ］\r\n");
    DocPtr d = parse_document(text);
    const ParseSnapshot& s = d->snapshot();
    EXPECT_EQ(s.source.get(), text.get());
    EXPECT_FALSE(s.sanitized_is_source);
    EXPECT_EQ(*s.sanitized, "〔é〕》\n漢《か《ん》》\n［＃ここから２字下げ］\n［＃ここから３字下げ］\n");
    std::string got;
    for (const Diagnostic& g : s.diagnostics)
        got += std::string(g.code()) + "@" + std::to_string(g.span.start) + "-" + std::to_string(g.span.end) + " ";
    EXPECT_EQ(got,
              "kogane::lex::accent_decomposition_applied@0-8 kogane::lex::unmatched_close@8-11 "
              "kogane::lex::nested_ruby@21-24 kogane::lex::indent_replaced@68-101 ");
}

TEST(Document, ViewsAreBuiltOnce) {
    DocPtr d = parse_document(std::make_shared<const std::string>("abc"));
    const auto* first = &d->node_list();
    EXPECT_EQ(first, &d->node_list());
    EXPECT_EQ(&d->coordinate_map(), &d->coordinate_map());
    EXPECT_EQ(&d->pair_list(), &d->pair_list());
}

TEST(Lazy, PoisonedCellIsFilledAfresh) {
    Lazy<int> cell;
    EXPECT_THROW(cell.get([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(cell.state(), Lazy<int>::State::Poisoned);
    EXPECT_EQ(cell.get([] { return 7; }), 7);
    EXPECT_EQ(cell.state(), Lazy<int>::State::Complete);
    EXPECT_EQ(cell.get([] { return 8; }), 7);  // never rebuilt once complete
}

TEST(Lazy, ConcurrentCallersShareOneFill) {
    Lazy<int> cell;
    std::atomic<int> fills{0};
    std::vector<std::thread> threads;
    std::vector<int> seen(8);
    for (size_t i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            seen[i] = cell.get([&] {
                ++fills;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return 42;
            });
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(fills.load(), 1);
    for (int v : seen) EXPECT_EQ(v, 42);
}

TEST(Document, FragmentParse) {
    ParseSnapshot snap;
    parse_fragment("caption text", snap);
    EXPECT_EQ(*snap.sanitized, "caption text");
}

// Kaeriten kept inside an explicit ruby base are queued before a forward
// reference after them is classified again; the queue's window onto the
// current line must be read after that, not before (it may have moved).
TEST(Document, ForwardReferenceAfterManyKeptKaeriten) {
    std::string text = "｜";
    for (int i = 0; i < 40; ++i) text += "漢［＃レ］";
    text += "字［＃「字」に傍点］";
    auto doc = parse_document(std::make_shared<const std::string>(text));
    const std::string nodes = nodes_json(*doc);
    EXPECT_NE(nodes.find("{\"kind\":\"bouten\",\"span\":{\"start\":603,\"end\":633}}"), std::string::npos);
    EXPECT_EQ(nodes.find("\"kind\":\"ruby\""), std::string::npos);
}

// HTML handed over in pieces joins to the whole HTML at every piece size,
// each piece whole characters, and a block's opening tag that may still
// take a layout leaf stays in the buffer until the leaf is in.
TEST(Document, HtmlInPiecesJoinsToTheWholeHtml) {
    struct Collect final : HtmlSink {
        std::vector<std::string> pieces;
        void write(std::string_view piece) override { pieces.emplace_back(piece); }
    };
    std::string long_book;
    for (int i = 0; i < 400; ++i) long_book += "吾輩《わがはい》は猫である。「名前は？」［＃「名前」に傍点］\n\n";
    const std::string texts[] = {
        "［＃挿絵（a.png）入る］［＃地付き］\nう\n［＃挿絵（b.png）入る］［＃地から２字上げ］\nえ",
        "序［＃「序」は大見出し］［＃地付き］あいう\n本文\n［＃ここから２字下げ］\na & b < c\n［＃ここで字下げ終わり］",
        "※［＃「土へん＋竒」、第3水準1-15-67］と𠮷と é\n［＃改ページ］\n",
        "",
        long_book,
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 80));
        const DocPtr doc = parse_document(std::make_shared<const std::string>(text));
        const std::string whole = render_html(doc->snapshot());
        for (size_t piece_bytes : {size_t{1}, size_t{7}, size_t{200}, size_t{1} << 20}) {
            Collect sink;
            std::string buffer = "left over from an earlier book";
            render_html_pieces(doc->snapshot(), buffer, piece_bytes, sink);
            std::string joined;
            for (const std::string& p : sink.pieces) {
                EXPECT_FALSE(p.empty());
                EXPECT_TRUE(widen_utf8(p, std::vector<uint32_t>(p.size()).data())) << p;  // whole characters
                joined += p;
            }
            EXPECT_EQ(joined, whole) << piece_bytes;
            if (piece_bytes >= whole.size()) {
                EXPECT_LE(sink.pieces.size(), 1u);
            }
        }
        if (text == long_book) {
            Collect sink;
            std::string buffer;
            render_html_pieces(doc->snapshot(), buffer, 4096, sink);
            EXPECT_GT(sink.pieces.size(), whole.size() / 8192);
            EXPECT_LT(buffer.capacity(), whole.size() / 4);  // never the whole book
        }
        // Rendered on a helper thread: the same pieces, taken on this one;
        // and on this thread alone where helpers are not allowed.
        for (size_t piece_bytes : {size_t{1}, size_t{200}, size_t{1} << 20, size_t{0}}) {
            const bool helpers = piece_bytes != 0;
            allow_helper_threads(helpers);
            if (!helpers) piece_bytes = 200;
            struct OnThisThread final : HtmlSink {
                std::string joined;
                size_t pieces = 0;
                bool elsewhere = false;
                void write(std::string_view piece) override {
                    elsewhere = elsewhere || std::this_thread::get_id() != caller;
                    joined += piece;
                    ++pieces;
                }
                std::thread::id caller = std::this_thread::get_id();
            } sink;
            std::string buffer;
            render_html_pieces_beside(doc->snapshot(), buffer, piece_bytes, sink);
            EXPECT_EQ(sink.joined, whole) << piece_bytes;
            EXPECT_FALSE(sink.elsewhere);
            if (piece_bytes == 1) {
                EXPECT_GE(sink.pieces, whole.size() / 64);
            }
        }
        EXPECT_FALSE(allow_helper_threads(true));
    }
}

TEST(Document, HtmlBesideStopsCleanlyWhenTheTakerThrows) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "吾輩《わがはい》は猫である。\n";
    const DocPtr doc = parse_document(std::make_shared<const std::string>(text));
    struct Failing final : HtmlSink {
        int left = 3;
        void write(std::string_view) override {
            if (--left == 0) throw std::runtime_error("taker gave up");
        }
    } sink;
    std::string buffer;
    // The renderer, blocked on full buffers, is let go and joined.
    EXPECT_THROW(render_html_pieces_beside(doc->snapshot(), buffer, 64, sink), std::runtime_error);
    EXPECT_EQ(sink.left, 0);
}
