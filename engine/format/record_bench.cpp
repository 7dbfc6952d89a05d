#include <benchmark/benchmark.h>

#include "bench/null_sink.h"
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

}  // namespace
}  // namespace halvic
