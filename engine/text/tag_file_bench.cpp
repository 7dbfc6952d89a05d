#include <benchmark/benchmark.h>

#include "bench/input_generator.h"
#include "engine/text/tag_file.h"

namespace halvic {
namespace {

const std::string& Input() {
    static const std::string input = bench::GenerateInput(1, 16 << 20);
    return input;
}

// Every pair of the realistic input, from memory: the reader's own cost, with no system calls.
void BM_ReadTags(benchmark::State& state) {
    const std::string& input = Input();
    auto blockSize = static_cast<std::size_t>(state.range(0));
    std::size_t pairs = 0;
    for (auto _ : state) {
        CMemorySource source(input);
        CTagFile reader(source, "bench", blockSize);
        std::string_view tag, content;
        while (reader.ReadTag(tag, content)) {
            benchmark::DoNotOptimize(content.data());
            ++pairs;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["pairs"] =
        benchmark::Counter(static_cast<double>(pairs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadTags)->Arg(4 << 10)->Arg(256 << 10)->Unit(benchmark::kMillisecond);

// Long contents full of line breaks: the run scanning, the space folding and the chunk flushes.
void BM_ReadLongContents(benchmark::State& state) {
    std::string input;
    while (input.size() < (8 << 20)) {
        input += "<l>";
        for (int line = 0; line < 40; ++line)
            input += "a carved oak screen with linen-\r\nfold panels, restored\r\n";
    }
    for (auto _ : state) {
        CMemorySource source(input);
        CTagFile reader(source, "bench");
        std::string_view tag, content;
        while (reader.ReadTag(tag, content))
            benchmark::DoNotOptimize(content.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_ReadLongContents)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace halvic
