// The input decoders on any bytes: UTF-8, UTF-16 and Latin-1 into Windows-1252.
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return halvic::fuzz::RunCheck(halvic::fuzz::CheckInputDecoding, data, size);
}
