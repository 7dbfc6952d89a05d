#include "engine/format/field_text.h"

#include <algorithm>
#include <cstdio>

#include "engine/format/decoders.h"

namespace halvic {

namespace {

// A letter that is not a grid letter counts as position 255.
constexpr char kNoGridLetter = 'I';

}  // namespace

std::string ShowTag(std::string_view tag, bool cut) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown = "<";
    for (char ch : tag) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown.push_back(ch);
        } else {
            shown += "\\x";
            shown.push_back(kHex[byte >> 4]);
            shown.push_back(kHex[byte & 15]);
        }
    }
    if (cut) shown += "...";
    shown += ">";
    return shown;
}

std::string WithThousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    std::string shown;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) shown.push_back(',');
        shown.push_back(digits[i]);
    }
    return shown;
}

std::string WeightInCwt(std::uint16_t pounds) {
    return std::to_string(pounds / 112) + "-" + std::to_string(pounds % 112 / 28) + "-" +
           std::to_string(pounds % 28);
}

bool GridReference(std::uint16_t easting, std::uint16_t northing, std::string& reference) {
    const unsigned e = easting / 1000u;
    const unsigned n = northing / 1000u;
    if (e >= 25 || n >= 25) return false;
    char text[16];
    std::snprintf(text, sizeof text, "%c%c %03u %03u", kGridLetters[n / 5 * 5 + e / 5],
                  kGridLetters[n % 5 * 5 + e % 5], easting % 1000u, northing % 1000u);
    reference = text;
    return true;
}

bool GridContent(std::uint16_t easting, std::uint16_t northing, std::string& content) {
    // Grid letters first, so that a point inside the grid gets its usual reference; a letter
    // outside the grid reaches the northings that only its wrap at 8 and 16 bits gives.
    auto position = [](int i) { return i < 25 ? i : 255; };
    for (int first = 0; first < 26; ++first) {
        for (int second = 0; second < 26; ++second) {
            int a = position(first), b = position(second);
            auto east = static_cast<std::uint8_t>(a % 5 * 5 + b % 5);
            auto north = static_cast<std::uint8_t>(a / 5 * 5 + b / 5);
            int eastFigures = easting - 1000 * east;
            int northFigures = static_cast<std::uint16_t>(northing - 1000u * north);
            if (eastFigures < 0 || eastFigures > 999 || northFigures > 999) continue;
            char text[16];
            std::snprintf(
                text, sizeof text, "%c%c%03d%03d",
                first < 25 ? kGridLetters[static_cast<std::size_t>(first)] : kNoGridLetter,
                second < 25 ? kGridLetters[static_cast<std::size_t>(second)] : kNoGridLetter,
                eastFigures, northFigures);
            content = text;
            return true;
        }
    }
    return false;
}

bool WeightContent(std::uint16_t pounds, std::string& content) {
    // Each part is kept to 8 bits: 255 hundredweights, 255 quarters and 255 pounds at most.
    unsigned hundredweights = std::min(255u, pounds / 112u);
    unsigned rest = pounds - 112 * hundredweights;
    unsigned quarters = std::min(255u, rest / 28);
    rest -= 28 * quarters;
    if (rest > 255) return false;
    content = std::to_string(hundredweights) + "-" + std::to_string(quarters) + "-" +
              std::to_string(rest);
    return true;
}

}  // namespace halvic
