#include "engine/format/decoders.h"

#include <array>

namespace halvic {

namespace {

std::uint8_t LetterPosition(char letter) {
    return kGridLetterPlaces[static_cast<unsigned char>(letter)];
}

std::string_view First(std::string_view text, std::size_t n) {
    return text.substr(0, n);
}

std::string_view Last(std::string_view text, std::size_t n) {
    return n >= text.size() ? text : text.substr(text.size() - n);
}

}  // namespace

void GridSquareIndices(std::string_view letters, std::uint8_t& eastIndex,
                       std::uint8_t& northIndex) {
    std::uint8_t a = LetterPosition(letters[0]);
    std::uint8_t b = LetterPosition(letters[1]);
    // Kept in 8 bits: two letters outside the grid give north index 306, stored as 50.
    eastIndex = static_cast<std::uint8_t>(a % 5 * 5 + b % 5);
    northIndex = static_cast<std::uint8_t>(a / 5 * 5 + b / 5);
}

void ParseGridRef(std::string_view content, std::uint16_t& easting, std::uint16_t& northing) {
    if (content.size() < 2) {
        easting = 0;
        northing = 0;
        return;
    }
    if (ReadUsualGridRef(content, easting, northing)) return;
    std::uint8_t east = 0;
    std::uint8_t north = 0;
    GridSquareIndices(content.substr(0, 2), east, north);
    // With fewer than six figures the letters become part of the figure groups.
    std::string_view figures = Last(content, 6);
    easting = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(ParseDigits(First(figures, 3))) + 1000u * east);
    northing = static_cast<std::uint16_t>(
        static_cast<std::uint32_t>(ParseDigits(Last(figures, 3))) + 1000u * north);
}

std::uint16_t ParseWeight(std::string_view content) {
    CWeightParts usual;
    if (ReadUsualWeight(content, usual)) return usual.Pounds();
    // A plain loop: the contents are short, and a call to find_first_of costs more than it.
    std::size_t pos = 0;
    while (pos < content.size() && content[pos] != '/' && content[pos] != '-' &&
           content[pos] != ':')
        ++pos;
    if (pos == content.size()) return 0;
    char separator = content[pos];
    auto hundredweights = static_cast<std::uint8_t>(ParseDigits(content.substr(0, pos)));
    std::string_view rest = content.substr(pos + 1);
    std::uint8_t quarters = 0;
    std::uint8_t pounds = 0;
    // The second separator must be the first one again; "12-2/14" is 12 cwt and 214 lb.
    std::size_t k = 0;
    while (k < rest.size() && rest[k] != separator)
        ++k;
    if (k != rest.size()) {
        quarters = static_cast<std::uint8_t>(ParseDigits(rest.substr(0, k)));
        pounds = static_cast<std::uint8_t>(ParseDigits(rest.substr(k + 1)));
    } else {
        pounds = static_cast<std::uint8_t>(ParseDigits(rest));
    }
    return static_cast<std::uint16_t>(112 * hundredweights + 28 * quarters + pounds);
}

}  // namespace halvic
