// Number, grid reference and weight decoding of field contents.
#pragma once

#include <cstdint>
#include <string_view>

namespace halvic {

// The decimal digits of `text` read as one number: every other byte is skipped, and the scan ends
// at a zero byte or a byte of 0x80 or above. Wraps at 32 bits, as the record file expects.
// "12a3" gives 123, "1,234" gives 1234, "" gives 0.
inline std::int32_t ParseDigits(std::string_view text) {
    std::uint32_t value = 0;
    for (char ch : text) {
        auto byte = static_cast<signed char>(ch);
        if (byte <= 0) break;
        if (byte >= '0' && byte <= '9')
            value = value * 10u + static_cast<std::uint32_t>(byte - '0');
    }
    return static_cast<std::int32_t>(value);
}

// The 500 km and 100 km square letters of a grid reference as east and north square counts from
// square V. A letter outside the grid (lower case, I, a digit) counts as position 255.
void GridSquareIndices(std::string_view letters, std::uint8_t& eastIndex, std::uint8_t& northIndex);

// A grid reference such as "SU123456" as easting and northing in 100 m units from the south-west
// corner of square V. Only the first two and the last six characters count.
void ParseGridRef(std::string_view content, std::uint16_t& easting, std::uint16_t& northing);

// A weight written as hundredweights, quarters and pounds ("12-2-14", "12/2/14", "12:2:14", or
// "12-14" without quarters) in pounds; 0 when there is no separator.
std::uint16_t ParseWeight(std::string_view content);

// The square letters, row by row from the south, each row from west to east.
inline constexpr std::string_view kGridLetters = "VWXYZQRSTULMNOPFGHJKABCDE";

}  // namespace halvic
