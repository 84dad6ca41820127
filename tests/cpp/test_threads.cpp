// Documents parsed and rendered from several threads at once. The shared
// tables (trigger scanner, keyword automaton, Shift_JIS table) are built by
// whichever thread asks first, and a document's views are built lazily by
// whichever thread asks first; both must give every thread the result a
// lone thread gets. Built with KOGANE_TSAN=ON these tests also let
// ThreadSanitizer watch every access.

#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "collections/helper_threads.hpp"
#include "diagnostics_text/report.hpp"
#include "document/document.hpp"
#include "document/prewarm.hpp"
#include "encoding/decode.hpp"
#include "json/views.hpp"
#include "pipeline/lexer/classify/target_batch.hpp"
#include "render/html.hpp"
#include "render/source_emit.hpp"

using namespace kogane;

namespace {

constexpr int kThreads = 4;

// Ruby, emphasis, gaiji (resolved and not), an indented block, an accent
// fragment, kaeriten, a page break and markup that never closes.
std::string book(int variant) {
    std::string s;
    for (int i = 0; i < 40; ++i) {
        s += "｜銀河" + std::to_string(variant) + "《ぎんが》の停車場［＃「停車場」に傍点］\n";
        s += "　※［＃「木＋吶のつくり」、第3水準1-85-54］と※［＃「未知」、第9水準9-99-99］。\n";
        s += "［＃ここから２字下げ］\n　〔Cafe'〕の窓。学而時習之［＃二］［＃一］\n［＃ここで字下げ終わり］\n";
        s += "閉じない［＃「閉じない」に傍点\n《宙に浮くるび》\n";
        if (i % 10 == 9) s += "［＃改ページ］\n";
    }
    return s;
}

// Every output a caller can ask of a document, in one record.
struct Outputs {
    std::string html, source, nodes, pairs, containers, gaiji, diagnostics, report;
    bool operator==(const Outputs&) const = default;
};

Outputs outputs_of(const KoganeDoc& d) {
    return Outputs{render_html(d.snapshot()), emit_source(d),          nodes_json(d),       pairs_json(d),
                   container_pairs_json(d),   gaiji_json(d),           diagnostics_json(d),
                   render_diagnostics_text(d.diagnostics_in_source(), d.source())};
}

// The same outputs asked in the reverse order, so two threads sharing a
// document start its lazy views from opposite ends.
Outputs outputs_reversed(const KoganeDoc& d) {
    Outputs o;
    o.report = render_diagnostics_text(d.diagnostics_in_source(), d.source());
    o.diagnostics = diagnostics_json(d);
    o.gaiji = gaiji_json(d);
    o.containers = container_pairs_json(d);
    o.pairs = pairs_json(d);
    o.nodes = nodes_json(d);
    o.source = emit_source(d);
    o.html = render_html(d.snapshot());
    return o;
}

DocPtr parse(const std::string& text) { return parse_document(std::make_shared<const std::string>(text)); }

// Runs `body(i)` on kThreads threads released together.
void run_together(const std::function<void(int)>& body) {
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    for (auto& t : threads) t.join();
}

}  // namespace

// Listed first so that, run alone, the process-wide tables are still unbuilt
// and the threads race to build them.
TEST(Threads, ColdTablesAreBuiltOnceForEveryThread) {
    std::vector<Outputs> got(kThreads);
    run_together([&](int i) { got[static_cast<size_t>(i)] = outputs_of(*parse(book(i % 2))); });
    const Outputs even = outputs_of(*parse(book(0)));
    const Outputs odd = outputs_of(*parse(book(1)));
    EXPECT_NE(even.html, odd.html);
    for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(got[static_cast<size_t>(i)] == (i % 2 ? odd : even)) << i;
    EXPECT_NE(even.html.find("<ruby>"), std::string::npos);
    EXPECT_NE(even.gaiji.find(R"("codepoint":26520,"resolved":"枘")"), std::string::npos);
    EXPECT_NE(even.diagnostics, R"({"schemaVersion":3,"data":[]})");
}

TEST(Threads, OneDocumentSharedByEveryThread) {
    prewarm();
    const Outputs expected = outputs_of(*parse(book(2)));
    for (int round = 0; round < 3; ++round) {
        const DocPtr shared = parse(book(2));  // no view built yet
        std::vector<Outputs> got(kThreads);
        run_together([&](int i) {
            got[static_cast<size_t>(i)] = i % 2 ? outputs_reversed(*shared) : outputs_of(*shared);
        });
        for (int i = 0; i < kThreads; ++i) EXPECT_TRUE(got[static_cast<size_t>(i)] == expected) << round << "/" << i;
    }
}

TEST(Threads, DecodingSideBySide) {
    // "｜銀河《ぎんが》の［＃「の」に傍点］駅" and a gaiji line, Shift_JIS CR LF.
    const std::string sjis =
        "\x81\x62\x8B\xE2\x89\xCD\x81\x73\x82\xAC\x82\xF1\x82\xAA\x81\x74\x82\xCC\x81\x6D\x81\x94\x81\x75\x82\xCC"
        "\x81\x76\x82\xC9\x96\x54\x93\x5F\x81\x6E\x89\x77\x0D\x0A\x81\xA6\x81\x6D\x81\x94\x81\x75\x96\xD8\x81\x7B"
        "\x99\xE3\x82\xCC\x82\xC2\x82\xAD\x82\xE8\x81\x76\x81\x41\x91\xE6\x33\x90\x85\x8F\x80\x31\x2D\x38\x35\x2D"
        "\x35\x34\x81\x6E\x0D\x0A";
    const std::string text = "｜銀河《ぎんが》の［＃「の」に傍点］駅\r\n※［＃「木＋吶のつくり」、第3水準1-85-54］\r\n";
    const std::string html = render_html(parse(text)->snapshot());
    std::vector<std::string> decoded(kThreads), rendered(kThreads);
    run_together([&](int i) {
        const auto k = static_cast<size_t>(i);
        for (int n = 0; n < 50; ++n) {
            decoded[k] = decode_sjis(sjis).value_or("(failed)");
            auto bytes = decode_auto(sjis);
            rendered[k] = bytes ? render_html(parse(*bytes)->snapshot()) : "(failed)";
        }
    });
    for (size_t k = 0; k < kThreads; ++k) {
        EXPECT_EQ(decoded[k], text);
        EXPECT_EQ(rendered[k], html);
    }
}

// Documents large enough that their texts' storage is kept for the next
// parse, parsed and dropped on every thread at once: each thread's results
// stay its own, whichever thread's buffers it was handed.
TEST(Threads, KeptBuffersPassBetweenThreads) {
    prewarm();
    release_spare_buffers();
    std::vector<std::string> texts, expected;
    for (int i = 0; i < kThreads; ++i) {
        std::string t;
        while (t.size() < (size_t(300) << 10)) t += book(i);
        texts.push_back(t);
        expected.push_back(render_html(parse(t)->snapshot()));
    }
    std::vector<int> mismatches(kThreads, 0);
    run_together([&](int i) {
        const auto k = static_cast<size_t>(i);
        for (int n = 0; n < 6; ++n) {
            auto bytes = decode_auto(texts[k]);
            if (!bytes || render_html(parse(*bytes)->snapshot()) != expected[k]) ++mismatches[k];
            std::vector<std::string> folded_ends;
            auto folded = parse_bytes(texts[k]);
            if (!std::holds_alternative<DocPtr>(folded) ||
                render_html(std::get<DocPtr>(folded)->snapshot()) != expected[k])
                ++mismatches[k];
        }
    });
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(mismatches[static_cast<size_t>(i)], 0) << i;
    EXPECT_LE(spare_buffer_bytes(), SpareBufferLimits::kMaxBytes);
    release_spare_buffers();
}

// One document's HTML rendered beside each of several threads at once:
// each taker gets the whole HTML, in order, from its own helper.
TEST(Threads, HtmlRenderedBesideEveryTaker) {
    prewarm();
    std::string text;
    for (int i = 0; i < 6; ++i) text += book(i);
    const DocPtr shared = parse(text);
    const std::string expected = render_html(shared->snapshot());
    struct Join final : HtmlSink {
        std::string joined;
        void write(std::string_view piece) override { joined += piece; }
    };
    std::vector<std::string> got(kThreads);
    run_together([&](int i) {
        for (int n = 0; n < 5; ++n) {
            Join sink;
            std::string buffer;
            render_html_pieces_beside(shared->snapshot(), buffer, 512, sink);
            got[static_cast<size_t>(i)] = sink.joined;
        }
    });
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(got[static_cast<size_t>(i)], expected) << i;
}

// A book long enough that its far targets are looked for by a batch made
// on a helper thread from the start: every output is the one made without
// helpers, on every thread at once, whenever the batch comes ready against
// the searches (missing targets from the first lines to the last, far ones,
// near ones, and annotations that name no target at all).
TEST(Threads, TargetBatchMadeBesideChangesNothing) {
    prewarm();
    std::string text;
    for (int i = 0; text.size() < (size_t(5) << 19); ++i) {
        const std::string n = std::to_string(i);
        text += "｜銀河" + n + "《ぎんが》の停車場［＃「停車場」に傍点］。";
        text += "「星" + n + "」と言った［＃「星" + n + "」に傍線］。";
        if (i % 9 == 0) text += "なにもない［＃「ないもの" + n + "」に傍点］。";             // missing
        if (i % 13 == 0) text += "また［＃「銀河" + std::to_string(i / 2) + "」に傍点］。";  // far back
        text += "\n";
    }
    allow_helper_threads(false);
    const Outputs expected = outputs_of(*parse(text));
    allow_helper_threads(true);
    EXPECT_NE(expected.html.find("kogane-directive"), std::string::npos);  // the missing ones stay remarks
    std::vector<int> mismatches(kThreads, 0);
    run_together([&](int i) {
        if (!(outputs_of(*parse(text)) == expected)) ++mismatches[static_cast<size_t>(i)];
    });
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(mismatches[static_cast<size_t>(i)], 0) << i;
}

// A pass running on one thread answers another for the text behind it:
// each answer taken while it runs is the one the finished pass gives, for
// every target whose first occurrence lies behind the point asked about,
// and a thread waiting on a pass that fails wakes.
TEST(Threads, TargetBatchAnswersBehindItsRunningPass) {
    std::string text;
    std::vector<std::string> targets;
    for (int i = 0; text.size() < (size_t(3) << 20); ++i) {
        text += "銀河の停車場で汽車を待つ。";
        if (i % 97 == 0) {
            targets.push_back("目印" + std::to_string(i) + "番");
            text += targets.back();
        }
        text += "\n";
    }
    targets.push_back("どこにもない印");
    TargetBatch batch(size_t(1) << 24);
    for (const std::string& t : targets) ASSERT_TRUE(batch.add(t));
    std::thread pass([&] { batch.run(text, text.size()); });
    size_t checked = 0;
    for (size_t end = 4096; end < text.size(); end += 65521) {
        const size_t reached = batch.wait_for(end);
        ASSERT_GE(reached, end);
        for (const std::string& t : targets) {
            const size_t first = text.find(t);
            const uint32_t seen = batch.find(t).first;
            if (first != std::string::npos && first + t.size() <= end) {
                EXPECT_EQ(seen, first) << t << " at " << end;
                ++checked;
            } else if (seen != TargetBatch::kNotSeen) {
                EXPECT_EQ(seen, first) << t;  // recorded early is recorded right
            }
        }
    }
    pass.join();
    EXPECT_GT(checked, 1000u);
    EXPECT_EQ(batch.progress(), TargetBatch::kEnded);
    EXPECT_EQ(batch.find("どこにもない印").first, TargetBatch::kNotSeen);
    EXPECT_EQ(batch.scanned_to(), text.size());

    TargetBatch failing(1024);
    ASSERT_TRUE(failing.add("印"));
    std::thread waiter([&] { EXPECT_EQ(failing.wait_for(text.size()), TargetBatch::kAbandoned); });
    failing.abandon();
    waiter.join();
}
