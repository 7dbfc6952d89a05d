// The output reader on any bytes, read whole and in blocks: it never crashes or reads out of
// bounds, and what it accepts and refuses holds to what the writer writes.
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return halvic::fuzz::RunCheck(halvic::fuzz::CheckOutputReader, data, size);
}
