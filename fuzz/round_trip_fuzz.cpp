// Any bytes converted, written back as tagged text and converted again: the same seven files.
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return halvic::fuzz::RunCheck(halvic::fuzz::CheckRoundTrip, data, size);
}
