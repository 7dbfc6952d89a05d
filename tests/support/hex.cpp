#include "tests/support/hex.h"

#include <cctype>
#include <stdexcept>

namespace halvic::testing {

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (char ch : bytes) {
        auto byte = static_cast<unsigned char>(ch);
        if (!hex.empty()) hex.push_back(' ');
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 15]);
    }
    return hex;
}

std::string Unhex(std::string_view hex) {
    std::string bytes;
    int pending = -1;
    for (char ch : hex) {
        if (ch == ' ' || ch == ',') continue;
        if (!std::isxdigit(static_cast<unsigned char>(ch))) {
            throw std::invalid_argument("not a hex digit: " + std::string(1, ch));
        }
        int digit =
            std::isdigit(static_cast<unsigned char>(ch)) ? ch - '0' : std::toupper(ch) - 'A' + 10;
        if (pending < 0) {
            pending = digit;
        } else {
            bytes.push_back(static_cast<char>(pending * 16 + digit));
            pending = -1;
        }
    }
    if (pending >= 0) throw std::invalid_argument("odd number of hex digits");
    return bytes;
}

}  // namespace halvic::testing
