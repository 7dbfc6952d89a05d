// The tag reader on any bytes: pairs until the end, with pushbacks.
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return halvic::fuzz::RunCheck(halvic::fuzz::CheckTagReader, data, size);
}
