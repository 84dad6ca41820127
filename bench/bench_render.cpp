// Fold and HTML rendering throughput over a generated e-book text, and the
// shapes that would go quadratic if done naively, each at n and 2n:
// thousands of distinct 「…」 quotes (the quote index) and 100,000 container
// opens that are never closed (the container stack and the render stack).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOGANE_BUILD_BENCH=ON
//         -DKOGANE_BUILD_PYTHON=OFF
//   cmake --build build/bench --target kogane_bench_render
//   build/bench/bench/kogane_bench_render

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "document/document.hpp"
#include "pipeline/fold.hpp"
#include "pipeline/lexer/classify/quote_index.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"
#include "render/html.hpp"

namespace {

using namespace kogane;

const char* const kWords[] = {"銀河", "停車場", "少年", "汽車", "切符", "車掌", "星座", "鉄道", "白鳥", "燈台",
                              "林檎", "水晶", "孔雀", "化石", "学校", "活版所", "牛乳", "烏瓜", "河原", "時計"};
const char* const kKana[] = {"の", "は", "が", "を", "に", "と", "から", "まで", "でした", "ました",
                             "けれども", "そして", "ように", "ながら", "、", "。"};
const char* const kReadings[] = {"ぎんが", "ていしゃば", "しょうねん", "きしゃ", "きっぷ"};
const char* const kNotes[] = {"［＃ここから２字下げ］", "［＃ここで字下げ終わり］", "［＃「星座」に傍点］", "［＃改ページ］",
                              "※［＃「魚＋完」、第3水準1-94-38］", "［＃太字］汽車［＃太字終わり］", "［＃地付き］"};

// A distinct word of three ideographs for quote number `id`.
std::string quote_word(uint32_t id) {
    std::string s;
    uint64_t h = (uint64_t(id) + 1) * 0x9E3779B97F4A7C15ull;
    for (int k = 0; k < 3; ++k) {
        const uint32_t cp = 0x4E00 + static_cast<uint32_t>(h % 20992);
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
        h = h * 6364136223846793005ull + 1442695040888963407ull;
        h ^= h >> 29;
    }
    return s;
}

// Prose with ruby, annotations, quotes, gaiji and blank lines between
// paragraphs. `quote_every` > 0 adds a distinct 「…」 quote that often; with
// `emphasis`, each is a word followed by a 傍点 forward reference to it.
std::string make_text(size_t bytes, unsigned quote_every = 0, bool emphasis = false) {
    std::mt19937 rng(42);
    std::string t;
    t.reserve(bytes + 4096);
    int line_chars = 0;
    unsigned quote_id = 0, piece = 0;
    while (t.size() < bytes) {
        const auto r = static_cast<unsigned>(rng() % 100);
        if (quote_every != 0 && ++piece % quote_every == 0) {
            const std::string word = quote_word(quote_id++);
            if (emphasis) t += word + "［＃";
            t += "「" + word + "」";
            if (emphasis) t += "に傍点］";
        } else if (r < 6) {
            t += "｜";
            t += kWords[rng() % std::size(kWords)];
            t += "《";
            t += kReadings[rng() % std::size(kReadings)];
            t += "》";
        } else if (r < 9) {
            t += kWords[rng() % std::size(kWords)];
            t += "《";
            t += kReadings[rng() % std::size(kReadings)];
            t += "》";
        } else if (r < 10) {
            t += kNotes[rng() % std::size(kNotes)];
        } else if (r < 12) {
            t += "「";
            t += kWords[rng() % std::size(kWords)];
            t += kKana[rng() % std::size(kKana)];
            t += "」";
        } else if (r < 55) {
            t += kWords[rng() % std::size(kWords)];
        } else {
            t += kKana[rng() % std::size(kKana)];
        }
        if (++line_chars > 40 + static_cast<int>(rng() % 60)) {
            t += rng() % 4 == 0 ? "\n\n" : "\n";
            line_chars = 0;
        }
    }
    return t;
}

const std::string& book() {
    static const std::string t = make_text(4u << 20);
    return t;
}

void BM_ParseAndRender(benchmark::State& state) {
    const std::string& t = book();
    for (auto _ : state) {
        DocPtr doc = parse_document(std::make_shared<const std::string>(t));
        benchmark::DoNotOptimize(render_html(doc->snapshot()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(BM_ParseAndRender)->Unit(benchmark::kMillisecond);

// Tokenizing, pairing, classification (with the quote index) and the
// fold, from the sanitized text.
void BM_Fold(benchmark::State& state) {
    const std::string& t = book();
    for (auto _ : state) {
        state.PauseTiming();
        ParseSnapshot context;
        context.source = std::make_shared<const std::string>(t);
        context.sanitized = sanitize(context.source, context.diagnostics);
        context.sanitized_is_source = context.sanitized == context.source;
        state.ResumeTiming();
        ClassifiedStream classified = classify(context);
        fold(std::move(classified), context);
        benchmark::DoNotOptimize(context.normalized.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(BM_Fold)->Unit(benchmark::kMillisecond);

void BM_Render(benchmark::State& state) {
    const std::string& t = book();
    DocPtr doc = parse_document(std::make_shared<const std::string>(t));
    for (auto _ : state) benchmark::DoNotOptimize(render_html(doc->snapshot()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(BM_Render)->Unit(benchmark::kMillisecond);

// n distinct quoted texts, one every eight pieces of prose; every tenth is
// then asked about as a forward reference just after its quote would ask.
void BM_DistinctQuotes(benchmark::State& state) {
    const size_t quotes = static_cast<size_t>(state.range(0));
    const std::string t = make_text(quotes * 8 * 7, 8);
    std::vector<std::pair<std::string, uint32_t>> asks;
    for (size_t i = 0; i < quotes; i += 10) {
        const std::string word = quote_word(static_cast<uint32_t>(i));
        const size_t at = t.find("「" + word + "」");
        if (at != std::string::npos) asks.emplace_back(word, static_cast<uint32_t>(at + word.size() + 6));
    }
    for (auto _ : state) {
        QuoteIndex index(t);
        size_t found = 0;
        for (const auto& [target, offset] : asks)
            found += index.occurs_before(target, offset) + index.occurs_near(target, offset);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
    state.counters["asked"] = double(asks.size());
}
BENCHMARK(BM_DistinctQuotes)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

// The same shape through the whole parse and render.
void BM_DistinctQuotesParse(benchmark::State& state) {
    const size_t quotes = static_cast<size_t>(state.range(0));
    const std::string t = make_text(quotes * 8 * 7, 8);
    for (auto _ : state) {
        DocPtr doc = parse_document(std::make_shared<const std::string>(t));
        benchmark::DoNotOptimize(render_html(doc->snapshot()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(BM_DistinctQuotesParse)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond);

// n distinct words each emphasised by a forward reference, X［＃「X」に傍点］.
void BM_ForwardReferencesParse(benchmark::State& state) {
    const size_t quotes = static_cast<size_t>(state.range(0));
    const std::string t = make_text(quotes * 8 * 9, 8, true);
    for (auto _ : state) {
        DocPtr doc = parse_document(std::make_shared<const std::string>(t));
        benchmark::DoNotOptimize(render_html(doc->snapshot()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
BENCHMARK(BM_ForwardReferencesParse)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// n container opens without a close, each followed by a line of text, fed
// to the fold as events (independent of how far classification has come).
ParseSnapshot unclosed_containers(size_t n, ContainerKind kind, ClassifiedStream& stream) {
    ParseSnapshot snap;
    std::string text;
    text.reserve(n * 40);
    EventList& events = stream.events;
    events.clear();
    events.reserve(n * 3);
    ContainerSpec spec = ContainerSpec::of(kind);
    if (spec.key() == ContainerKey::Indent) spec.indent.amount = 2;
    const std::string_view open = "［＃ここから２字下げ］", line = "本文です。";
    const uint32_t o = static_cast<uint32_t>(open.size()), l = static_cast<uint32_t>(line.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t at = static_cast<uint32_t>(text.size());
        text.append(open).append("\n").append(line).append("\n");
        events.push_back(stream.pool.open(spec, Span{at, at + o}));
        events.push_back(ClassifiedEvent::line_feed(at + o));
        events.push_back(ClassifiedEvent::text_run(Span{at + o + 1, at + o + 1 + l}));
        events.push_back(ClassifiedEvent::line_feed(at + o + 1 + l));
    }
    snap.sanitized = std::make_shared<const std::string>(std::move(text));
    return snap;
}

void BM_UnclosedContainers(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    ClassifiedStream stream;
    const ParseSnapshot base = unclosed_containers(n, ContainerKind::Indent, stream);
    for (auto _ : state) {
        ParseSnapshot snap;
        snap.sanitized = base.sanitized;
        fold(stream, snap);
        benchmark::DoNotOptimize(render_html(snap));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.sanitized->size()));
}
BENCHMARK(BM_UnclosedContainers)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

// Inline opens on one line: every open is inside the same paragraph.
void BM_UnclosedInlineContainersOneLine(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::string text;
    ClassifiedStream stream;
    const std::string_view open = "［＃太字］", ch = "字";
    const uint32_t o = static_cast<uint32_t>(open.size()), c = static_cast<uint32_t>(ch.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t at = static_cast<uint32_t>(text.size());
        text.append(open).append(ch);
        stream.events.push_back(stream.pool.open(ContainerSpec::of(ContainerKind::Bold), Span{at, at + o}));
        stream.events.push_back(ClassifiedEvent::text_run(Span{at + o, at + o + c}));
    }
    auto shared = std::make_shared<const std::string>(std::move(text));
    for (auto _ : state) {
        ParseSnapshot snap;
        snap.sanitized = shared;
        fold(stream, snap);
        benchmark::DoNotOptimize(render_html(snap));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(shared->size()));
}
BENCHMARK(BM_UnclosedInlineContainersOneLine)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
