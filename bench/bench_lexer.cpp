// Lexer throughput over a generated e-book text of several MB: sanitize,
// scan, tokenize and pair, with memcpy of the same bytes for scale.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOGANE_BUILD_BENCH=ON
//         -DKOGANE_BUILD_PYTHON=OFF
//   cmake --build build/bench --target kogane_bench_lexer
//   build/bench/bench/kogane_bench_lexer

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "scan/trigger_scanner.hpp"

namespace {

using namespace kogane;

constexpr size_t kTargetBytes = 8u << 20;

// Kanji and kana prose with CR LF line ends, a ruby every few dozen
// characters, an annotation every few lines, quotes, gaiji references and
// the odd accent fragment.
std::string make_text() {
    static const char* const words[] = {"銀河", "停車場", "少年", "汽車", "切符", "車掌", "星座", "鉄道", "白鳥", "燈台",
                                        "林檎", "水晶", "孔雀", "化石", "学校", "活版所", "牛乳", "烏瓜", "河原", "時計"};
    static const char* const kana[] = {"の", "は", "が", "を", "に", "と", "から", "まで", "でした", "ました", "けれども",
                                       "そして", "ように", "ながら", "ところ", "いるのでした", "ありました", "、", "。"};
    static const char* const readings[] = {"ぎんが", "ていしゃば", "しょうねん", "きしゃ", "きっぷ"};
    static const char* const notes[] = {"［＃ここから２字下げ］", "［＃ここで字下げ終わり］", "［＃「星座」に傍点］",
                                        "［＃改ページ］", "※［＃「魚＋完」、第3水準1-94-38］", "［＃３字下げ］第一章［＃「第一章」は中見出し］"};
    std::mt19937 rng(42);
    std::string t;
    t.reserve(kTargetBytes + 4096);
    int line_chars = 0;
    while (t.size() < kTargetBytes) {
        const auto r = static_cast<unsigned>(rng() % 100);
        if (r < 6) {
            t += "｜";
            t += words[rng() % std::size(words)];
            t += "《";
            t += readings[rng() % std::size(readings)];
            t += "》";
        } else if (r < 10) {
            t += words[rng() % std::size(words)];
            t += "《";
            t += readings[rng() % std::size(readings)];
            t += "》";
        } else if (r < 11) {
            t += notes[rng() % std::size(notes)];
        } else if (r < 13) {
            t += "「";
            t += words[rng() % std::size(words)];
            t += kana[rng() % std::size(kana)];
            t += "」";
        } else if (r == 13 && rng() % 8 == 0) {
            t += "〔Ame'rique〕";
        } else if (r < 55) {
            t += words[rng() % std::size(words)];
        } else {
            t += kana[rng() % std::size(kana)];
        }
        if (++line_chars > 40 + static_cast<int>(rng() % 60)) {
            t += "\r\n";
            line_chars = 0;
        }
    }
    return t;
}

const std::string& text() {
    static const std::string t = make_text();
    return t;
}

const SharedText& shared_text() {
    static const SharedText t = std::make_shared<const std::string>(text());
    return t;
}

const SharedText& sanitized() {
    static const SharedText s = [] {
        Diagnostics diagnostics;
        return sanitize(shared_text(), diagnostics);
    }();
    return s;
}

void finish(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Memcpy(benchmark::State& state) {
    const std::string& t = text();
    std::string dst(t.size(), '\0');
    for (auto _ : state) {
        std::memcpy(dst.data(), t.data(), t.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    finish(state, t.size());
}

void BM_Sanitize(benchmark::State& state) {
    for (auto _ : state) {
        Diagnostics diagnostics;
        SharedText s = sanitize(shared_text(), diagnostics);
        benchmark::DoNotOptimize(s->data());
    }
    finish(state, text().size());
}

// The same stage over a text that needs no rewrite (LF line ends, no 〔):
// the probe alone.
void BM_SanitizeClean(benchmark::State& state) {
    static const SharedText clean = [] {
        std::string t = *sanitized();
        for (size_t at = t.find("〔"); at != std::string::npos; at = t.find("〔", at)) t.replace(at, 3, "（");
        return std::make_shared<const std::string>(std::move(t));
    }();
    Diagnostics diagnostics;
    for (auto _ : state) {
        SharedText s = sanitize(clean, diagnostics);
        benchmark::DoNotOptimize(s->data());
    }
    state.SetLabel(sanitize(clean, diagnostics) == clean ? "shared" : "copied");
    finish(state, clean->size());
}

void BM_Scan(benchmark::State& state) {
    const auto path = static_cast<scan::ScanPath>(state.range(0));
    if (!scan::scan_path_available(path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    const std::string& t = *sanitized();
    std::vector<uint32_t> hits;
    for (auto _ : state) {
        hits.clear();
        scan::find_hits(path, t, hits);
        benchmark::DoNotOptimize(hits.data());
    }
    state.SetLabel(scan::scan_path_name(path));
    finish(state, t.size());
}

// The sanitize stage's first pass alone, per kernel.
void BM_Probe(benchmark::State& state) {
    const auto path = static_cast<scan::ScanPath>(state.range(0));
    if (!scan::scan_path_available(path)) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    const std::string& t = text();
    for (auto _ : state) {
        scan::SanitizeProbe r = scan::probe_for_sanitize(path, t);
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(scan::scan_path_name(path));
    finish(state, t.size());
}

void BM_Tokenize(benchmark::State& state) {
    const std::string& t = *sanitized();
    for (auto _ : state) {
        std::vector<Token> tokens = tokenize(t);
        benchmark::DoNotOptimize(tokens.data());
    }
    state.SetLabel(scan::scan_path_name(scan::TriggerScanner::get().path()));
    finish(state, t.size());
}

// Tokenizing and pairing, drained with nothing kept (they run together).
void BM_Pair(benchmark::State& state) {
    const std::string_view t = *sanitized();
    for (auto _ : state) {
        Diagnostics diagnostics;
        PairStream stream(t, diagnostics, nullptr);
        stream.drain();
        benchmark::DoNotOptimize(diagnostics.size());
    }
    finish(state, t.size());
}

void BM_LexerFrontEnd(benchmark::State& state) {
    for (auto _ : state) {
        Diagnostics diagnostics;
        PairedEvents p = pair(*sanitize(shared_text(), diagnostics), diagnostics);
        benchmark::DoNotOptimize(p.events.data());
    }
    finish(state, text().size());
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sanitize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SanitizeClean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(0)->Arg(3)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Probe)->Arg(0)->Arg(3)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tokenize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pair)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LexerFrontEnd)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
