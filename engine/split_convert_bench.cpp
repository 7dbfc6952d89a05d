#include <benchmark/benchmark.h>

#include "bench/input_generator.h"
#include "bench/null_sink.h"
#include "engine/split_convert.h"

namespace halvic {
namespace {

// The conversion in parts of the realistic input in memory, on 1 or 2 threads: against
// BM_ConvertTags, what splitting gains; against itself, what the second thread gains.
void BM_ConvertInParts(benchmark::State& state) {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    std::uint64_t records = 0;
    for (auto _ : state) {
        bench::CNullSink sink;
        CValueTables tables;
        std::vector<CWarning> warnings;
        CSplitOptions options;
        options.m_nThreads = static_cast<unsigned>(state.range(0));
        records += ConvertInParts(input, "bench", sink, tables, warnings, options)->m_nRecords;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertInParts)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace halvic
