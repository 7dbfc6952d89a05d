#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/input_generator.h"
#include "bench/null_sink.h"
#include "engine/conversion/join.h"
#include "engine/conversion/part.h"
#include "engine/conversion/part_source.h"
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

// The realistic input cut into parts as it lies in memory.
std::vector<std::string_view> InputParts() {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    std::vector<std::string_view> parts;
    const std::string_view whole(input);
    for (std::size_t start = 0; start < whole.size();) {
        std::size_t end = FindPartStart(whole, start + CPartSizes().m_nPartSize);
        parts.push_back(whole.substr(start, end - start));
        start = end;
    }
    return parts;
}

// Converting the parts of the realistic input one after another on one thread, without joining
// them: the work the converting threads share, apart from the table look-ups.
void BM_ConvertPart(benchmark::State& state) {
    const std::vector<std::string_view> parts = InputParts();
    std::int64_t inputSize = 0;
    for (std::string_view input : parts)
        inputSize += static_cast<std::int64_t>(input.size());
    CPart part;
    std::uint64_t records = 0;
    for (auto _ : state) {
        for (std::string_view input : parts) {
            part.Clear();
            ConvertPart(input, "bench", part);
            records += part.m_nRecords;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * inputSize);
    state.counters["records"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertPart)->Unit(benchmark::kMillisecond);

// Joining each part just after it was converted, on the same thread, once the tables hold all its
// texts, as in most of a long input: the table look-ups and the putting in of identifiers. Only
// the joining is timed.
void BM_JoinParts(benchmark::State& state) {
    const std::vector<std::string_view> parts = InputParts();
    bench::CNullSink sink;
    CValueTables tables;
    CPart part;
    CJoinedConversion warm("bench", sink, tables);
    for (std::string_view input : parts) {
        part.Clear();
        ConvertPart(input, "bench", part);
        warm.Join(part);
    }
    std::int64_t bytes = 0;
    for (auto _ : state) {
        CJoinedConversion joined("bench", sink, tables);
        std::chrono::duration<double> joining{0};
        for (std::string_view input : parts) {
            part.Clear();
            ConvertPart(input, "bench", part);
            auto start = std::chrono::steady_clock::now();
            joined.Join(part);
            joining += std::chrono::steady_clock::now() - start;
            bytes += static_cast<std::int64_t>(input.size());
        }
        state.SetIterationTime(joining.count());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_JoinParts)->Unit(benchmark::kMillisecond)->UseManualTime();

// The pipeline on the realistic input in memory, on 1 or 2 threads, its parts views of the input
// (second argument 0) or read from a stream, as a file is: against BM_ConvertTags, what
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
