#include "engine/format/decoders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/short_strings.h"

namespace halvic {
namespace {

TEST(DecodersTest, ParseDigits) {
    const struct {
        std::string text;
        std::int32_t value;
    } kCases[] = {
        {"", 0},
        {"abc", 0},
        {"12a3", 123},
        {"1,234", 1234},
        {"-5", 5},
        {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1},  // wraps at 32 bits
        {"4294967296", 0},
        {"99999999999", 1215752191},
        {"12\x80"
         "34",
         12},  // the scan ends at the first byte of 0x80 or more
        {std::string("12\0"
                     "34",
                     5),
         12},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ParseDigits(c.text), c.value) << c.text;
}

TEST(DecodersTest, ParseGridRef) {
    const struct {
        std::string content;
        std::uint16_t easting, northing;
    } kCases[] = {
        {"SU123456", 14123, 6456},
        {"SU", 14000, 6000},          // no figures
        {"SU1234", 14001, 6234},      // the letters join the figure groups: "SU1" and "234"
        {"SU 123 456", 14023, 6456},  // only the last six characters count: "23 456"
        {"SU12345678", 14345, 6678},
        {"su123456", 123, 50456},  // letters outside the grid count as 255
        {"VV000000", 0, 0},
        {"EE999999", 24999, 24999},
        {"Eu123456", 20123, 5920},   // 71 * 1000 + 456 wraps at 16 bits
        {"NN166712", 12166, 12712},  // Ben Nevis
        {"HP", 14000, 17000},
        {"", 0, 0},  // too short for square letters
        {"S", 0, 0},
    };
    for (const auto& c : kCases) {
        std::uint16_t easting = 1, northing = 1;
        ParseGridRef(c.content, easting, northing);
        EXPECT_EQ(easting, c.easting) << c.content;
        EXPECT_EQ(northing, c.northing) << c.content;
    }
}

TEST(DecodersTest, GridSquareIndicesCountFromSquareV) {
    std::uint8_t east = 0, north = 0;
    GridSquareIndices("SV", east, north);  // the false origin of the National Grid
    EXPECT_EQ(east, 10);
    EXPECT_EQ(north, 5);
    GridSquareIndices("I1", east, north);
    EXPECT_EQ(east, 0);
    EXPECT_EQ(north, 50);
}

// Real summits with their published coordinates: every National Grid reference decodes to its
// easting and northing in 100 m units, offset by the position of square S in square V. The list
// and its source are described in tests/data/README.md.
TEST(DecodersTest, PublishedSummitsDecodeToTheirCoordinates) {
    const char* const kList = HALVIC_SOURCE_DIR "/tests/data/gridrefs.tsv";
    std::ifstream file(kList);
    ASSERT_TRUE(file) << "cannot read the summit list " << kList;
    std::string line;
    std::getline(file, line);  // column names
    int checked = 0;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string gridref;
        long eastingMetres = 0, northingMetres = 0;
        fields >> gridref >> eastingMetres >> northingMetres;
        std::uint16_t easting = 0, northing = 0;
        ParseGridRef(gridref, easting, northing);
        ASSERT_EQ(easting, eastingMetres / 100 + 10000) << gridref;
        ASSERT_EQ(northing, northingMetres / 100 + 5000) << gridref;
        ++checked;
    }
    EXPECT_EQ(checked, 2000) << "summits in the list";
}

TEST(DecodersTest, ParseWeight) {
    const struct {
        std::string content;
        std::uint16_t pounds;
    } kCases[] = {
        {"12-2-14", 1414},      {"12/2/14", 1414}, {"12:2:14", 1414}, {"12 - 2 - 14", 1414},
        {"12:2", 1346},     // one separator: the second figure is pounds
        {"12-2/14", 1558},  // the second separator must match the first: 214 lb
        {"1-2-3-4", 202},       {"-3", 3},         {"300", 0},        {"", 0},
        {"256-0-0", 0},  // hundredweights wrap at 8 bits
        {"255-255-255", 35955}, {"0-0-300", 44},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ParseWeight(c.content), c.pounds) << c.content;
}

// The rule written out plainly, as the record file has always taken it: hundredweights before the
// first separator of any kind, then quarters and pounds split at the next separator of that same
// kind (pounds alone when there is none), each the digits of its piece kept to 8 bits.
std::uint16_t PlainWeight(const std::string& content) {
    const std::size_t first = content.find_first_of("-/:");
    if (first == std::string::npos) return 0;
    auto piece = [](const std::string& text) {
        return static_cast<std::uint8_t>(ParseDigits(text));
    };
    const std::string rest = content.substr(first + 1);
    const std::size_t second = rest.find(content[first]);
    const unsigned quarters = second == std::string::npos ? 0 : piece(rest.substr(0, second));
    const unsigned pounds = piece(second == std::string::npos ? rest : rest.substr(second + 1));
    return static_cast<std::uint16_t>(112 * piece(content.substr(0, first)) + 28 * quarters +
                                      pounds);
}

// Every short content of digits and separators, the forms read in one pass and those that are not.
TEST(DecodersTest, ParseWeightAgreesWithThePlainRule) {
    testing::ForEachString("0259-/: ", 7, [](const std::string& text) {
        ASSERT_EQ(ParseWeight(text), PlainWeight(text)) << text;
    });
}

}  // namespace
}  // namespace halvic
