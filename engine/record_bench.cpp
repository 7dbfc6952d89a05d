#include <benchmark/benchmark.h>

#include "bench/input_generator.h"
#include "bench/null_sink.h"
#include "engine/convert.h"
#include "engine/record.h"

namespace halvic {
namespace {

using bench::CNullSink;

void BM_RecordWrite(benchmark::State& state) {
    CRecord record;
    record.number = 4711;
    record.text = "Oak chest with iron bands, found in the vestry; lid repaired";
    record.bValue = 3;
    record.weight = 259;
    record.easting = 4123;
    record.northing = 1456;
    record.tableIds = {12, 340, 27000, 5, 0, 900};
    CNullSink sink;
    for (auto _ : state)
        record.Write(sink);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(sink.BytesWritten()));
}
BENCHMARK(BM_RecordWrite);

// The whole conversion of the realistic input in memory: reading, ReadFields, decoding, interning
// and encoding, without the files. The ceiling for `halvic convert`.
// The conversion uses more than one thread: its rates are per second of real time, not of the
// calling thread's processor time.
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
