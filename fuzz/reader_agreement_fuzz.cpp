// The fast tag reader against the plain byte-at-a-time one, on any bytes.
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return halvic::fuzz::RunCheck(halvic::fuzz::CheckReaderAgreement, data, size);
}
