#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/format/decoders.h"

namespace halvic {
namespace {

std::vector<std::string> GridRefs() {
    std::vector<std::string> refs;
    static const char kFirst[] = "HNOST";
    for (int i = 0; i < 1024; ++i) {
        std::string ref;
        ref += kFirst[i % 5];
        ref += kGridLetters[static_cast<std::size_t>(i * 7 % 25)];
        ref += std::to_string(100000 + i * 7919 % 900000).substr(i % 8 == 0 ? 2 : 0);
        refs.push_back(ref);
    }
    return refs;
}

std::vector<std::string> Weights() {
    std::vector<std::string> weights;
    static const char kSeparators[] = "--/:";
    for (int i = 0; i < 1024; ++i) {
        char separator = kSeparators[i % 4];
        std::string weight = std::to_string(i % 40) + separator;
        if (i % 7 != 0) weight += std::to_string(i % 4) + separator;
        weight += std::to_string(i % 28);
        weights.push_back(weight);
    }
    return weights;
}

void BM_ParseGridRef(benchmark::State& state) {
    std::vector<std::string> refs = GridRefs();
    for (auto _ : state) {
        for (const std::string& ref : refs) {
            std::uint16_t easting = 0, northing = 0;
            ParseGridRef(ref, easting, northing);
            benchmark::DoNotOptimize(easting);
            benchmark::DoNotOptimize(northing);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * refs.size()));
}
BENCHMARK(BM_ParseGridRef);

void BM_ParseWeight(benchmark::State& state) {
    std::vector<std::string> weights = Weights();
    for (auto _ : state) {
        for (const std::string& weight : weights)
            benchmark::DoNotOptimize(ParseWeight(weight));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * weights.size()));
}
BENCHMARK(BM_ParseWeight);

void BM_ParseDigits(benchmark::State& state) {
    std::vector<std::string> numbers;
    for (int i = 0; i < 1024; ++i)
        numbers.push_back(std::to_string(i * 104729 % 1000000));
    for (auto _ : state) {
        for (const std::string& number : numbers)
            benchmark::DoNotOptimize(ParseDigits(number));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * numbers.size()));
}
BENCHMARK(BM_ParseDigits);

}  // namespace
}  // namespace halvic
