// The checks run on every field of the input: in the common case, a value written plainly, they
// must cost no more than decoding it does (BM_ParseGridRef, BM_ParseWeight and BM_ParseDigits in
// decoders_bench.cpp).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/conversion/value_checks.h"
#include "engine/format/decoders.h"  // kGridLetters

namespace halvic {
namespace {

std::vector<std::string> PlainGridRefs() {
    std::vector<std::string> refs;
    for (int i = 0; i < 1024; ++i) {
        std::string ref;
        ref += "HNOST"[i % 5];
        ref += kGridLetters[static_cast<std::size_t>(i * 7 % 25)];
        ref += std::to_string(100000 + i * 7919 % 900000);
        refs.push_back(ref);
    }
    return refs;
}

std::vector<std::string> PlainWeights() {
    std::vector<std::string> weights;
    for (int i = 0; i < 1024; ++i) {
        const char separator = "--/:"[i % 4];
        weights.push_back(std::to_string(i % 40) + separator + std::to_string(i % 4) + separator +
                          std::to_string(i % 28));
    }
    return weights;
}

std::vector<std::string> PlainNumbers() {
    std::vector<std::string> numbers;
    for (int i = 0; i < 1024; ++i)
        numbers.push_back(std::to_string(i * 61 % 65536));
    return numbers;
}

template <bool (*kCheck)(std::string_view)>
void Check(benchmark::State& state, const std::vector<std::string>& contents) {
    for (auto _ : state) {
        for (const std::string& content : contents)
            benchmark::DoNotOptimize(kCheck(content));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * contents.size()));
}

void BM_GridRefAsWritten(benchmark::State& state) {
    Check<GridRefAsWritten>(state, PlainGridRefs());
}
BENCHMARK(BM_GridRefAsWritten);

void BM_WeightAsWritten(benchmark::State& state) {
    Check<WeightAsWritten>(state, PlainWeights());
}
BENCHMARK(BM_WeightAsWritten);

void BM_RecordNumberAsWritten(benchmark::State& state) {
    Check<RecordNumberAsWritten>(state, PlainNumbers());
}
BENCHMARK(BM_RecordNumberAsWritten);

// The slow path, taken only for a content stored otherwise than written.
void BM_GridRefWarning(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(GridRefWarning("SU 123 456"));
}
BENCHMARK(BM_GridRefWarning);

}  // namespace
}  // namespace halvic
