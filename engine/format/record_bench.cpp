#include <benchmark/benchmark.h>

#include "bench/input_generator.h"
#include "bench/null_sink.h"
#include "engine/conversion/conversion.h"
#include "engine/format/record.h"

namespace halvic {
namespace {

using bench::CNullSink;

void BM_RecordWrite(benchmark::State& state) {
    CRecord record;
    record.m_nNumber = 4711;
    record.m_strText = "Oak chest with iron bands, found in the vestry; lid repaired";
    record.m_nBValue = 3;
    record.m_nWeight = 259;
    record.m_nEasting = 4123;
    record.m_nNorthing = 1456;
    record.m_tableIds = {12, 340, 27000, 5, 0, 900};
    CNullSink sink;
    for (auto _ : state)
        record.Write(sink);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(sink.BytesWritten()));
}
BENCHMARK(BM_RecordWrite);

// The plain loop on the realistic input in memory, one group after another on one thread: reading,
// decoding, interning and encoding, without the files. What the pipeline's parts improve on.
// In real time, as BM_ConvertInParts is, so that the two compare.
void BM_ConvertTags(benchmark::State& state) {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    std::uint64_t records = 0;
    for (auto _ : state) {
        CMemorySource source(input);
        CTagFile reader(source, "bench");
        CNullSink sink;
        CValueTables tables;
        std::vector<CWarning> warnings;
        records += ConvertTags(reader, sink, tables, warnings).m_nRecords;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertTags)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace halvic
