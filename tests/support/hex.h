// Readable forms of bytes for test failure messages.
#pragma once

#include <string>
#include <string_view>

namespace halvic::testing {

// "1F 07 6C 41 00": bytes as space-separated hex pairs.
std::string Hex(std::string_view bytes);
// The inverse of Hex: "1F 07, 6C" gives the bytes 0x1F 0x07 0x6C (spaces and commas are ignored).
std::string Unhex(std::string_view hex);

}  // namespace halvic::testing
