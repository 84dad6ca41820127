// Gaiji table lookups: the perfect-hash probe against a binary search over
// the same keys and a std::unordered_map, plus whole-reference resolution.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pipeline/lexer/classify/gaiji.hpp"
#include "encoding/gaiji_tables.hpp"

namespace {

namespace gt = kogane::gaiji_tables;

// Every key of the table, in a shuffled order so successive probes do not
// walk the slots in memory order.
std::vector<std::string_view> shuffled_keys(const gt::PhfTable& t) {
    std::vector<std::string_view> keys;
    for (uint32_t i = 0; i < t.size; ++i) keys.push_back(t.key(i));
    std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    return keys;
}

// Keys that are absent but share prefixes and lengths with real ones.
std::vector<std::string> near_misses(const gt::PhfTable& t) {
    std::vector<std::string> out;
    for (std::string_view k : shuffled_keys(t)) {
        std::string m(k);
        m.back() = m.back() == '0' ? '1' : '0';
        if (!gt::find(t, m)) out.push_back(std::move(m));
    }
    return out;
}

template <class Lookup>
void run(benchmark::State& state, const std::vector<std::string_view>& keys, Lookup lookup) {
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(lookup(keys[i]));
        if (++i == keys.size()) i = 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_JisPhf(benchmark::State& state) {
    static const auto keys = shuffled_keys(gt::jis_table());
    run(state, keys, [](std::string_view k) { return gt::lookup_jis(k); });
}

void BM_DescriptionPhf(benchmark::State& state) {
    static const auto keys = shuffled_keys(gt::description_table());
    run(state, keys, [](std::string_view k) { return gt::lookup_description(k); });
}

void BM_DescriptionPhfMiss(benchmark::State& state) {
    static const auto owned = near_misses(gt::description_table());
    static const std::vector<std::string_view> keys(owned.begin(), owned.end());
    run(state, keys, [](std::string_view k) { return gt::lookup_description(k); });
}

void BM_DescriptionSortedSearch(benchmark::State& state) {
    static const auto keys = shuffled_keys(gt::description_table());
    static const auto sorted = [] {
        std::vector<std::pair<std::string_view, uint32_t>> v;
        const auto& t = gt::description_table();
        for (uint32_t i = 0; i < t.size; ++i) v.emplace_back(t.key(i), t.entries[i].value);
        std::sort(v.begin(), v.end());
        return v;
    }();
    run(state, keys, [](std::string_view k) -> uint32_t {
        auto it = std::lower_bound(sorted.begin(), sorted.end(), k,
                                   [](const auto& e, std::string_view key) { return e.first < key; });
        return it != sorted.end() && it->first == k ? it->second : 0;
    });
}

void BM_DescriptionUnorderedMap(benchmark::State& state) {
    static const auto keys = shuffled_keys(gt::description_table());
    static const auto map = [] {
        std::unordered_map<std::string_view, uint32_t> m;
        const auto& t = gt::description_table();
        for (uint32_t i = 0; i < t.size; ++i) m.emplace(t.key(i), t.entries[i].value);
        return m;
    }();
    run(state, keys, [](std::string_view k) -> uint32_t {
        auto it = map.find(k);
        return it != map.end() ? it->second : 0;
    });
}

// A mix of references as they appear in text: JIS codes, Unicode codes,
// description-only and Roman numerals.
void BM_ResolveReference(benchmark::State& state) {
    static const std::vector<std::string_view> bodies = {
        "「木＋吶のつくり」、第3水準1-85-54", "「か゚」、第3水準1-4-87", "「あ」、U+3042", "「丸19」",
        "ローマ数字14小文字", "火＋亢、第4水準2-79-62", "「くさかんむり／孝」、第4水準2-86-12", "「未知の字」"};
    size_t i = 0;
    for (auto _ : state) {
        kogane::GaijiRef ref = kogane::parse_gaiji_body(bodies[i]);
        benchmark::DoNotOptimize(kogane::resolve_gaiji(kogane::gaiji_code_text(ref.mencode), ref.description));
        if (++i == bodies.size()) i = 0;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

}  // namespace

BENCHMARK(BM_JisPhf);
BENCHMARK(BM_DescriptionPhf);
BENCHMARK(BM_DescriptionPhfMiss);
BENCHMARK(BM_DescriptionSortedSearch);
BENCHMARK(BM_DescriptionUnorderedMap);
BENCHMARK(BM_ResolveReference);

BENCHMARK_MAIN();
