#include "engine/format/field_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/format/decoders.h"

namespace halvic {
namespace {

TEST(FieldTextTest, ShowsTagsWithUnprintableBytesInHex) {
    const struct {
        const char* tag;
        bool cut;
        const char* shown;
    } kCases[] = {
        {"l", false, "<l>"},
        {"", false, "<>"},
        {"a b", false, "<a b>"},
        {"\xEF\xBB\xBF@", false, "<\\xEF\\xBB\\xBF@>"},
        {"back\\slash", false, "<back\\x5Cslash>"},
        {"\r\n\t", false, "<\\x0D\\x0A\\x09>"},
        {"\x7F", false, "<\\x7F>"},
        {"abcdefgh", true, "<abcdefgh...>"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ShowTag(c.tag, c.cut), c.shown) << c.tag;
    EXPECT_EQ(ShowTag(std::string_view("a\0b", 3), false), "<a\\x00b>");
}

TEST(FieldTextTest, GroupsThousandsWithCommas) {
    const struct {
        std::uint64_t number;
        const char* shown;
    } kCases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1,000"},
        {65535, "65,535"},
        {8999900, "8,999,900"},
        {18446744073709551615u, "18,446,744,073,709,551,615"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(WithThousands(c.number), c.shown);
}

TEST(FieldTextTest, ShowsWeightsInHundredweightsQuartersAndPounds) {
    EXPECT_EQ(WeightInCwt(1414), "12-2-14");
    EXPECT_EQ(WeightInCwt(0), "0-0-0");
    EXPECT_EQ(WeightInCwt(27), "0-0-27");
    EXPECT_EQ(WeightInCwt(65535), "585-0-15");
    // The inverse of the decoder wherever the hundredweights fit its 8 bits.
    for (unsigned pounds = 0; pounds < 256 * 112; ++pounds) {
        ASSERT_EQ(ParseWeight(WeightInCwt(static_cast<std::uint16_t>(pounds))), pounds);
    }
}

TEST(FieldTextTest, ShowsGridReferencesInsideTheLetterGrid) {
    const struct {
        std::uint16_t easting, northing;
        const char* reference;  // nullptr: outside the grid
    } kCases[] = {
        {14123, 6456, "SU 123 456"}, {0, 0, "VV 000 000"}, {24999, 24999, "EE 999 999"},
        {20123, 5920, "UV 123 920"}, {25000, 0, nullptr},  {0, 25000, nullptr},
        {65535, 65535, nullptr},
    };
    for (const auto& c : kCases) {
        std::string reference;
        bool inside = GridReference(c.easting, c.northing, reference);
        EXPECT_EQ(inside, c.reference != nullptr) << c.easting << " " << c.northing;
        if (inside && c.reference) {
            EXPECT_EQ(reference, c.reference);
        }
    }
    // The inverse of the decoder on every pair of square letters.
    for (std::uint16_t e = 0; e < 25; ++e) {
        for (std::uint16_t n = 0; n < 25; ++n) {
            std::uint16_t easting = static_cast<std::uint16_t>(e * 1000 + (e * 37) % 1000);
            std::uint16_t northing = static_cast<std::uint16_t>(n * 1000 + 999 - n);
            std::string reference;
            ASSERT_TRUE(GridReference(easting, northing, reference));
            std::uint16_t parsedEasting = 0;
            std::uint16_t parsedNorthing = 0;
            std::string typed = reference;  // as typed in a <g> tag: no spaces
            typed.erase(std::remove(typed.begin(), typed.end(), ' '), typed.end());
            ParseGridRef(typed, parsedEasting, parsedNorthing);
            EXPECT_EQ(parsedEasting, easting) << reference;
            EXPECT_EQ(parsedNorthing, northing) << reference;
        }
    }
}

TEST(FieldTextTest, EveryPointAGridReferenceGivesHasOne) {
    // Every content of two letters, grid or not, and figures at the ends of their range.
    const std::string letters = std::string(kGridLetters) + "I";
    for (char a : letters) {
        for (char b : letters) {
            for (const char* figures : {"000000", "999999", "000999", "999000", "500250"}) {
                std::string reference = std::string{a, b} + figures;
                std::uint16_t easting = 0, northing = 0;
                ParseGridRef(reference, easting, northing);
                std::string content;
                ASSERT_TRUE(GridContent(easting, northing, content)) << reference;
                std::uint16_t e2 = 0, n2 = 0;
                ParseGridRef(content, e2, n2);
                EXPECT_EQ(e2, easting) << reference << " -> " << content;
                EXPECT_EQ(n2, northing) << reference << " -> " << content;
            }
        }
    }
}

TEST(FieldTextTest, EveryWeightUpTo35955PoundsHasATag) {
    std::string content;
    for (unsigned pounds = 0; pounds <= 65535; ++pounds) {
        bool written = WeightContent(static_cast<std::uint16_t>(pounds), content);
        ASSERT_EQ(written, pounds <= 35955) << pounds;
        if (written) {
            ASSERT_EQ(ParseWeight(content), pounds) << content;
        }
    }
}

}  // namespace
}  // namespace halvic
