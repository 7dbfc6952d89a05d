#include <benchmark/benchmark.h>

#include "bench/input_generator.h"
#include "bench/null_sink.h"
#include "engine/conversion/pipeline.h"

namespace halvic {
namespace {

// The plain loop on the realistic input in memory, one group after another on one thread: reading,
// decoding, interning and encoding, without the files. What the pipeline's parts improve on.
// In real time, as BM_ConvertInParts is, so that the two compare.
void BM_ConvertTags(benchmark::State& state) {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    std::uint64_t records = 0;
    for (auto _ : state) {
        CMemorySource source(input);
        CTagFile reader(source, "bench");
        bench::CNullSink sink;
        CValueTables tables;
        std::vector<CWarning> warnings;
        records += ConvertTags(reader, sink, tables, warnings).m_nRecords;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertTags)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pipeline on the realistic input in memory, on 1 or 2 threads, its parts views of the input
// (second argument 0, as for a mapped file) or read from a stream: against BM_ConvertTags, what
// the parts gain; against itself, what the second thread gains and what reading costs.
void BM_ConvertInParts(benchmark::State& state) {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    std::uint64_t records = 0;
    for (auto _ : state) {
        bench::CNullSink sink;
        CValueTables tables;
        std::vector<CWarning> warnings;
        records += ConvertInParts(input, "bench", sink, tables, warnings, CPartSizes(),
                                  static_cast<unsigned>(state.range(0)),
                                  static_cast<std::size_t>(state.range(1)))
                       .m_nRecords;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertInParts)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({2, 1 << 16})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace halvic
