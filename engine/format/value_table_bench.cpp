#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/format/value_table.h"

namespace halvic {
namespace {

// Texts shaped like place names; `distinct` of them, looked up in a skewed order so that common
// texts recur, as in real data.
std::vector<std::string> Lookups(std::size_t distinct, std::size_t count) {
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < distinct; ++i)
        pool.push_back("Little Wickham " + std::to_string(i * 7919 % 100003));
    std::vector<std::string> lookups;
    std::uint64_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        double u = static_cast<double>(state >> 11) / static_cast<double>(1ULL << 53);
        lookups.push_back(pool[static_cast<std::size_t>(u * u * static_cast<double>(distinct))]);
    }
    return lookups;
}

// Interning into a table that already holds every text: the look-up of a repeated value.
void BM_InternRepeated(benchmark::State& state) {
    auto distinct = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> lookups = Lookups(distinct, 1 << 16);
    CValueTable table;
    for (const std::string& text : lookups)
        table.Intern(text);
    for (auto _ : state) {
        for (const std::string& text : lookups)
            benchmark::DoNotOptimize(table.Intern(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lookups.size()));
}
BENCHMARK(BM_InternRepeated)->Arg(300)->Arg(4000)->Arg(40000);

// Filling an empty table with distinct texts: the inserts and the growth of the slot array.
void BM_InternNew(benchmark::State& state) {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < 60000; ++i)
        texts.push_back("Survey " + std::to_string(i));
    for (auto _ : state) {
        CValueTable table;
        for (const std::string& text : texts)
            benchmark::DoNotOptimize(table.Intern(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
}
BENCHMARK(BM_InternNew)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace halvic
