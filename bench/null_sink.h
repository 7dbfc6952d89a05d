// A sink for benchmarks: counts the bytes and keeps none, so that only the cost of producing them
// is measured.
#pragma once

#include <benchmark/benchmark.h>

#include "engine/io/byte_stream.h"

namespace halvic::bench {

class CNullSink : public CByteSink {
  protected:
    void Drain(const unsigned char*, std::size_t size) override { benchmark::DoNotOptimize(size); }
};

}  // namespace halvic::bench
