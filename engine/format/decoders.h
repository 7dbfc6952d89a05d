// Number, grid reference and weight decoding of field contents.
#pragma once

#include <array>
#include <cstddef>
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

// Each byte's place in kGridLetters, 255 for a byte that is no grid letter.
inline constexpr std::array<std::uint8_t, 256> kGridLetterPlaces = [] {
    std::array<std::uint8_t, 256> places = {};
    for (auto& place : places)
        place = 255;
    for (std::size_t i = 0; i < kGridLetters.size(); ++i)
        places[static_cast<unsigned char>(kGridLetters[i])] = static_cast<std::uint8_t>(i);
    return places;
}();

// The readers of the forms almost every value is written in, inline for the loop over the
// pairs: each returns false, having set nothing, for any other form.

// One to five digits alone, read as ParseDigits reads them.
inline bool ReadUsualNumber(std::string_view content, std::uint32_t& value) {
    if (content.empty() || content.size() > 5) return false;
    std::uint32_t number = 0;
    for (char ch : content) {
        const unsigned digit = static_cast<unsigned char>(ch) - static_cast<unsigned>('0');
        if (digit > 9) return false;
        number = number * 10 + digit;
    }
    value = number;
    return true;
}

// Two grid letters and six figures, read as ParseGridRef reads them.
inline bool ReadUsualGridRef(std::string_view content, std::uint16_t& easting,
                             std::uint16_t& northing) {
    if (content.size() != 8) return false;
    const unsigned a = kGridLetterPlaces[static_cast<unsigned char>(content[0])];
    const unsigned b = kGridLetterPlaces[static_cast<unsigned char>(content[1])];
    auto digit = [&](std::size_t i) { return static_cast<unsigned>(content[i]) - '0'; };
    if (a > 24 || b > 24 || digit(2) > 9 || digit(3) > 9 || digit(4) > 9 || digit(5) > 9 ||
        digit(6) > 9 || digit(7) > 9)
        return false;
    easting = static_cast<std::uint16_t>(digit(2) * 100 + digit(3) * 10 + digit(4) +
                                         1000u * (a % 5 * 5 + b % 5));
    northing = static_cast<std::uint16_t>(digit(5) * 100 + digit(6) * 10 + digit(7) +
                                          1000u * (a / 5 * 5 + b / 5));
    return true;
}

// Two or three runs of up to three digits with one kind of separator.
struct CWeightParts {
    unsigned m_parts[3] = {0, 0, 0};
    std::size_t m_nSeparators = 0;  // 1 or 2

    // In pounds, as ParseWeight reads it: each part kept to 8 bits.
    std::uint16_t Pounds() const {
        const unsigned pounds = static_cast<std::uint8_t>(m_parts[m_nSeparators]);
        const unsigned quarters = m_nSeparators == 2 ? static_cast<std::uint8_t>(m_parts[1]) : 0;
        return static_cast<std::uint16_t>(112 * static_cast<std::uint8_t>(m_parts[0]) +
                                          28 * quarters + pounds);
    }
};
inline bool ReadUsualWeight(std::string_view content, CWeightParts& weight) {
    std::size_t count = 0;
    std::size_t digits = 0;
    char separator = 0;
    unsigned parts[3] = {0, 0, 0};
    for (char ch : content) {
        if (ch >= '0' && ch <= '9') {
            if (++digits > 3) return false;
            parts[count] = parts[count] * 10 + static_cast<unsigned>(ch - '0');
        } else if ((ch == '-' || ch == '/' || ch == ':') && digits != 0 && count < 2 &&
                   (separator == 0 || ch == separator)) {
            separator = ch;
            ++count;
            digits = 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || count == 0) return false;
    for (std::size_t i = 0; i < 3; ++i)
        weight.m_parts[i] = parts[i];
    weight.m_nSeparators = count;
    return true;
}

}  // namespace halvic
