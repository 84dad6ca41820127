// Per-stage throughput over generated books that look like real ones
// (bench/gen_corpus.py, Shift_JIS CR LF), with memcpy of the same bytes in
// the same run for scale. Every figure is MB/s of Shift_JIS input.
//
//   python3 bench/gen_corpus.py DIR --sizes 100k,1m,5m   # writes DIR/book-*.sjis.txt
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOGANE_BUILD_BENCH=ON
//         -DKOGANE_BUILD_PYTHON=OFF
//   cmake --build build/bench --target kogane_bench_books
//   build/bench/bench/kogane_bench_books DIR/book-1m.sjis.txt ... [benchmark flags]

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "document/document.hpp"
#include "encoding/decode.hpp"
#include "pipeline/fold.hpp"
#include "pipeline/lexer/pair.hpp"
#include "pipeline/lexer/sanitize.hpp"
#include "pipeline/lexer/tokenize.hpp"
#include "render/html.hpp"

namespace {

using namespace kogane;

struct Book {
    std::string name;
    std::string sjis;
    SharedText utf8;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void set_bytes(benchmark::State& state, const Book& book) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(book.sjis.size()));
}

void memcpy_bytes(benchmark::State& state, const Book* book) {
    std::string out(book->sjis.size(), '\0');
    for (auto _ : state) {
        std::memcpy(out.data(), book->sjis.data(), book->sjis.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_bytes(state, *book);
}

void decode(benchmark::State& state, const Book* book) {
    for (auto _ : state) benchmark::DoNotOptimize(decode_sjis(book->sjis));
    set_bytes(state, *book);
}

void sanitize_stage(benchmark::State& state, const Book* book) {
    for (auto _ : state) {
        Diagnostics diagnostics;
        benchmark::DoNotOptimize(sanitize(book->utf8, diagnostics));
    }
    set_bytes(state, *book);
}

// Each later stage is timed alone: its input is made outside the timing.
void tokenize_stage(benchmark::State& state, const Book* book) {
    Diagnostics diagnostics;
    const SharedText input = sanitize(book->utf8, diagnostics);
    for (auto _ : state) benchmark::DoNotOptimize(tokenize(*input));
    set_bytes(state, *book);
}

// Tokenizing and pairing run together, a piece at a time, as the
// classifier reads them: here drained with nothing kept.
void pair_stage(benchmark::State& state, const Book* book) {
    Diagnostics sanitized;
    const SharedText input = sanitize(book->utf8, sanitized);
    for (auto _ : state) {
        Diagnostics diagnostics;
        PairStream stream(*input, diagnostics, nullptr);
        stream.drain();
        benchmark::DoNotOptimize(diagnostics.size());
    }
    set_bytes(state, *book);
}

// Tokenizing, pairing, classification and the fold, from the sanitized text.
void fold_stage(benchmark::State& state, const Book* book) {
    for (auto _ : state) {
        state.PauseTiming();
        ParseSnapshot context;
        context.source = book->utf8;
        context.sanitized = sanitize(book->utf8, context.diagnostics);
        context.sanitized_is_source = context.sanitized == context.source;
        state.ResumeTiming();
        ClassifiedStream classified = classify(context);
        fold(std::move(classified), context);
        benchmark::DoNotOptimize(context.normalized.data());
    }
    set_bytes(state, *book);
}

void parse_whole(benchmark::State& state, const Book* book) {
    for (auto _ : state) benchmark::DoNotOptimize(parse_document(book->utf8));
    set_bytes(state, *book);
}

void render(benchmark::State& state, const Book* book) {
    const DocPtr doc = parse_document(book->utf8);
    for (auto _ : state) benchmark::DoNotOptimize(render_html(doc->snapshot()));
    set_bytes(state, *book);
}

void decode_parse_render(benchmark::State& state, const Book* book) {
    for (auto _ : state) {
        auto text = std::make_shared<const std::string>(*decode_sjis(book->sjis));
        benchmark::DoNotOptimize(render_html(parse_document(std::move(text))->snapshot()));
    }
    set_bytes(state, *book);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<std::unique_ptr<Book>> books;
    for (int i = 1; i < argc; ++i) {
        auto book = std::make_unique<Book>();
        book->name = argv[i];
        book->sjis = read_file(argv[i]);
        auto utf8 = decode_sjis(book->sjis);
        if (!utf8) {
            std::cerr << argv[i] << ": not valid Shift_JIS\n";
            return 2;
        }
        book->utf8 = std::make_shared<const std::string>(std::move(*utf8));
        books.push_back(std::move(book));
    }
    if (books.empty()) {
        std::cerr << "usage: kogane_bench_books BOOK.sjis [BOOK.sjis ...] [benchmark flags]\n";
        return 2;
    }
    for (const auto& book : books) {
        const std::string at = "/" + book->name;
        benchmark::RegisterBenchmark(("memcpy" + at).c_str(), memcpy_bytes, book.get());
        benchmark::RegisterBenchmark(("decode_sjis" + at).c_str(), decode, book.get());
        benchmark::RegisterBenchmark(("sanitize" + at).c_str(), sanitize_stage, book.get());
        benchmark::RegisterBenchmark(("tokenize" + at).c_str(), tokenize_stage, book.get());
        benchmark::RegisterBenchmark(("tokenize+pair" + at).c_str(), pair_stage, book.get());
        benchmark::RegisterBenchmark(("tokenize..fold" + at).c_str(), fold_stage, book.get());
        benchmark::RegisterBenchmark(("parse_document" + at).c_str(), parse_whole, book.get());
        benchmark::RegisterBenchmark(("render_html" + at).c_str(), render, book.get());
        benchmark::RegisterBenchmark(("decode+parse+render" + at).c_str(), decode_parse_render, book.get());
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
