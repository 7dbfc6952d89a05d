#include "engine/conversion/value_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "engine/format/decoders.h"
#include "engine/format/record.h"
#include "tests/support/short_strings.h"

namespace halvic {
namespace {

using testing::ForEachString;

struct CCase {
    std::string m_strWritten;
    std::string m_strWarning;  // "" when the value is stored as written
};

void ExpectWarnings(const std::vector<CCase>& cases,
                    const std::function<std::string(std::string_view)>& warning,
                    const std::function<bool(std::string_view)>& asWritten) {
    for (const CCase& c : cases) {
        EXPECT_EQ(warning(c.m_strWritten), c.m_strWarning) << c.m_strWritten;
        // Whatever the predicate lets through, the builder must have nothing to say about.
        if (asWritten(c.m_strWritten)) {
            EXPECT_EQ(c.m_strWarning, "") << c.m_strWritten;
        }
    }
}

// A content as a warning quotes it: bytes outside printable ASCII as \xHH.
std::string Quoted(const std::string& content) {
    std::string quoted;
    for (char ch : content) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            quoted.push_back(ch);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            quoted += hex;
        }
    }
    return quoted;
}

// A warning names what was written, then what is stored, on one line.
void ExpectWarningShape(const std::string& warning, char tag, const std::string& content) {
    const std::string opening = std::string("<") + tag + ">" + Quoted(content) + " is stored as ";
    EXPECT_EQ(warning.compare(0, opening.size(), opening), 0) << warning;
    EXPECT_EQ(warning.find_first_of("\r\n"), std::string::npos) << warning;
}

TEST(ValueChecksTest, GridRefWarnings) {
    ExpectWarnings(
        {
            {"", ""},
            {"SU123456", ""},
            {"VV000000", ""},
            {"EE999999", ""},
            // Read as meant although not in the plain form.
            {"SU-123456", ""},
            {"VV 000 000", ""},
            {"SU", ""},  // the corner of the square, as SU000000
            {"SU 123 456",
             "<g>SU 123 456 is stored as SU 023 456: the figures are read from its last six "
             "characters, \"23 456\"; write <g>SU123456"},
            {"su123456",
             "<g>su123456 is stored as easting 123, northing 50456, a point outside the letter "
             "grid: lower-case letters are not grid letters; write <g>SU123456"},
            {"Su123456",
             "<g>Su123456 is stored as easting 10123, northing 56456, a point outside the letter "
             "grid: lower-case letters are not grid letters; write <g>SU123456"},
            {"vv000000",
             "<g>vv000000 is stored as easting 0, northing 50000, a point outside the letter "
             "grid: lower-case letters are not grid letters; write <g>VV000000"},
            {"su 123 456",
             "<g>su 123 456 is stored as easting 23, northing 50456, a point outside the letter "
             "grid: lower-case letters are not grid letters, and the figures are read from its "
             "last six characters, \"23 456\"; write <g>SU123456"},
            // Four figures name a 1 km square, eight or ten a point finer than the 100 m stored.
            {"SU1234",
             "<g>SU1234 is stored as SU 001 234: the figures are read from its last six "
             "characters, \"SU1234\"; write <g>SU120340"},
            {"SU 12 34",
             "<g>SU 12 34 is stored as SU 012 034: the figures are read from its last six "
             "characters, \" 12 34\"; write <g>SU120340"},
            {"SU12",
             "<g>SU12 is stored as SU 001 012: the figures are read from all of it, \"SU12\"; "
             "write <g>SU100200"},
            {"SU12345678",
             "<g>SU12345678 is stored as SU 345 678: the figures are read from its last six "
             "characters, \"345678\"; write <g>SU123567"},
            {"SU1234567890",
             "<g>SU1234567890 is stored as SU 567 890: the figures are read from its last six "
             "characters, \"567890\"; write <g>SU123678"},
            {"SU\xA0"
             "123\xA0"
             "456",
             "<g>SU\\xA0123\\xA0456 is stored as SU 023 456: the figures are read from its last "
             "six characters, \"23\\xA0456\"; write <g>SU123456"},
            // No plain form to offer.
            {"SI123456",
             "<g>SI123456 is stored as easting 10123, northing 56456, a point outside the letter "
             "grid: I is not a grid letter; write two grid letters and six figures, as in "
             "<g>SU123456"},
            {"123456",
             "<g>123456 is stored as easting 123, northing 50456, a point outside the letter "
             "grid: it does not begin with two grid letters, and the figures are read from its "
             "last six characters, \"123456\"; write two grid letters and six figures, as in "
             "<g>SU123456"},
            {"S",
             "<g>S is stored as no grid reference (easting 0, northing 0): it is too short to "
             "hold two grid letters; write two grid letters and six figures, as in <g>SU123456"},
            {"SU12345",
             "<g>SU12345 is stored as SU 012 345: the figures are read from its last six "
             "characters, \"U12345\"; write two grid letters and six figures, as in "
             "<g>SU123456"},
            {"SUx123456",
             "<g>SUx123456 is stored as SU 123 456: the figures are read from its last six "
             "characters, \"123456\"; write two grid letters and six figures, as in "
             "<g>SU123456"},
        },
        GridRefWarning, GridRefAsWritten);
}

TEST(ValueChecksTest, WeightWarnings) {
    ExpectWarnings(
        {
            {"", ""},
            {"12-2-14", ""},
            {"12/2/14", ""},
            {"12:2:14", ""},
            // With one separator the second part is pounds, which may not be what was meant.
            {"12:2",
             "<t>12:2 is stored as 1346 lb (12-0-2): a weight of two parts is read as "
             "hundredweights and pounds; write <t>12-0-2 for 12 cwt 2 lb, or <t>12-2-0 for 12 cwt "
             "2 qr"},
            {"1-2",
             "<t>1-2 is stored as 114 lb (1-0-2): a weight of two parts is read as hundredweights "
             "and pounds; write <t>1-0-2 for 1 cwt 2 lb, or <t>1-2-0 for 1 cwt 2 qr"},
            {"3-0", ""},
            // The writer's own weight, without the unit.
            {"2-1-7 lb",
             "<t>2-1-7 lb is stored as 259 lb (2-1-7): characters other than digits and "
             "separators are skipped; write <t>2-1-7"},
            {"0-0-200", ""},
            {"255-255-255", ""},
            {"007-0-0", ""},
            {"12 - 2 - 14", ""},
            {"0", ""},
            {"0 lb", ""},
            {"14",
             "<t>14 is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>0-0-14 for 14 lb or <t>14-0-0 for 14 cwt"},
            {"400",
             "<t>400 is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>3-2-8 for 400 lb"},
            {"14 lb",
             "<t>14 lb is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>0-0-14"},
            {"3cwt",
             "<t>3cwt is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>3-0-0"},
            {"3 cwt 2 qr 14 lb",
             "<t>3 cwt 2 qr 14 lb is stored as 0 lb: a weight without a separator (- / or :) is "
             "0; write <t>3-2-14"},
            {"2 st",
             "<t>2 st is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>0-1-0"},
            {"2.1.7",
             "<t>2.1.7 is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
             "<t>2-1-7"},
            {"40000 lb",
             "<t>40000 lb is stored as 0 lb: a weight without a separator (- / or :) is 0; a "
             "weight is at most 35,955 lb (255-255-255)"},
            {"-3",
             "<t>-3 is stored as 3 lb (0-0-3): the leading - is read as a separator, not as a "
             "minus sign; write hundredweights-quarters-pounds, as in <t>12-2-14"},
            {"-1-2-3",
             "<t>-1-2-3 is stored as 51 lb (0-1-23): the leading - is read as a separator, not "
             "as a minus sign; write hundredweights-quarters-pounds, as in <t>12-2-14"},
            {"300-0-0",
             "<t>300-0-0 is stored as 4928 lb (44-0-0): each part is kept to 8 bits, 0 to 255; "
             "write <t>255-180-0 (33,600 lb, no part above 255)"},
            {"256-0-0",
             "<t>256-0-0 is stored as 0 lb: each part is kept to 8 bits, 0 to 255; write "
             "<t>255-4-0 (28,672 lb, no part above 255)"},
            {"999-0-0",
             "<t>999-0-0 is stored as 25872 lb (231-0-0): each part is kept to 8 bits, 0 to 255; "
             "a weight is at most 35,955 lb (255-255-255)"},
            {"12-2/14",
             "<t>12-2/14 is stored as 1558 lb (13-3-18): the second separator is not the first "
             "one again, so \"2/14\" is read as pounds; write <t>12-2-14"},
            {"1-2-3-4",
             "<t>1-2-3-4 is stored as 202 lb (1-3-6): it has more than three parts; write "
             "hundredweights-quarters-pounds, as in <t>12-2-14"},
            {"12--14",
             "<t>12--14 is stored as 1358 lb (12-0-14): a part is empty and counts as 0; write "
             "<t>12-0-14"},
            {"12-2-",
             "<t>12-2- is stored as 1400 lb (12-2-0): a part is empty and counts as 0; write "
             "<t>12-2-0"},
            {"1.5-0-0",
             "<t>1.5-0-0 is stored as 1680 lb (15-0-0): characters other than digits and "
             "separators are skipped; write hundredweights-quarters-pounds, as in <t>12-2-14"},
        },
        WeightWarning, WeightAsWritten);
}

TEST(ValueChecksTest, NumberWarnings) {
    ExpectWarnings(
        {
            {"", "<@> is stored as 0: it holds no digit; write a record number as digits alone"},
            {"101", ""},
            {"0101", ""},
            {"65535", ""},
            {"70000",
             "<@>70000 is stored as 4464: a record number is kept to 16 bits, so 65535 is the "
             "largest"},
            {"65536",
             "<@>65536 is stored as 0: a record number is kept to 16 bits, so 65535 is the "
             "largest"},
            {"A101",
             "<@>A101 is stored as 101: characters other than digits are skipped; write a record "
             "number as digits alone"},
            {"1,01",
             "<@>1,01 is stored as 101: characters other than digits are skipped; write a record "
             "number as digits alone"},
            {"x", "<@>x is stored as 0: it holds no digit; write a record number as digits alone"},
            {"A70000",
             "<@>A70000 is stored as 4464: characters other than digits are skipped, and a record "
             "number is kept to 16 bits, so 65535 is the largest; write a record number as digits "
             "alone"},
            // The digits end at the first byte of 0x80 or above.
            {"12\xE9"
             "3",
             "<@>12\\xE93 is stored as 12: characters other than digits are skipped, and the "
             "digits after the byte \\xE9 are not read; write a record number as digits alone"},
            {"99999999999",
             "<@>99999999999 is stored as 59391: a record number is kept to 16 "
             "bits, so 65535 is the largest"},
        },
        RecordNumberWarning, RecordNumberAsWritten);
    ExpectWarnings(
        {
            {"", ""},
            {"255", ""},
            {"300", "<b>300 is stored as 44: a <b> value is kept to 8 bits, so 255 is the largest"},
            {"1.5",
             "<b>1.5 is stored as 15: characters other than digits are skipped; write a <b> value "
             "as digits alone"},
        },
        ByteValueWarning, ByteValueAsWritten);
}

TEST(ValueChecksTest, SuggestTag) {
    const struct {
        std::string m_strTag;
        std::string m_strMeant;
    } kCases[] = {
        {"L", "l"},   {"G", "g"},     {"T", "t"},  {"M", "m"},  {" l", "l"},        {"b\n", "b"},
        {"gg", "g"},  {"ll", "l"},    {"l1", "l"}, {"@@", "@"}, {"@1", "@"},        {"mx", "m"},
        {"AN", "an"}, {"x", ""},      {"1", "l"},  {"lb", ""},  {"mn", ""},         {"/l", ""},
        {"xyz", ""},  {"manicx", ""}, {"", ""},    {" ", ""},   {"a long tag", ""}, {"\xC9", ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(SuggestTag(c.m_strTag), c.m_strMeant) << c.m_strTag;

    // Whatever is suggested selects a field, and is near what was written.
    ForEachString("lbgtmaics@LX/ 1", 3, [](const std::string& tag) {
        const std::string meant = SuggestTag(tag);
        if (meant.empty()) return;
        EXPECT_TRUE(meant == "@" || ChooseField(meant).m_eKind != CFieldChoice::kNone) << tag;
        EXPECT_LE(meant.size(), tag.size() + 1) << tag;
        EXPECT_GE(meant.size() + 1, tag.size() - std::count(tag.begin(), tag.end(), ' ')) << tag;
    });
}

TEST(ValueChecksTest, TagWarnings) {
    const struct {
        std::string m_strTag;
        bool m_bCut;
        std::string m_strWarning;
    } kCases[] = {
        {"x", false,
         "tag <x> selects no field, so no field changed: the record keeps its values from before"},
        {"L", false,
         "tag <L> selects no field, so no field changed: the record keeps its text from before; "
         "did you mean <l>?"},
        {"gg", false,
         "tag <gg> selects no field, so no field changed: the record keeps its grid reference "
         "from before; did you mean <g>?"},
        {"T", false,
         "tag <T> selects no field, so no field changed: the record keeps its weight from "
         "before; did you mean <t>?"},
        {" b", false,
         "tag < b> selects no field, so no field changed: the record keeps its <b> value from "
         "before; did you mean <b>?"},
        {"IC", false,
         "tag <IC> selects no field, so no field changed: the record keeps its <i> value from "
         "before; did you mean <ic>?"},
        {"@@", false,
         "tag <@@> selects no field, so no record begins there: the tags after it change the "
         "record before; did you mean <@>?"},
        {"/l", false,
         "tag </l> selects no field, so no field changed; a field needs no closing tag: its "
         "content runs up to the next tag"},
        // A cut tag is no slip of one key.
        {"LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL", true,
         "tag <LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL...> selects no field, so no field changed: the "
         "record keeps its values from before"},
        // "cost < 5 pounds<b>3": the text ends at "cost", and the <b> is lost in the tag.
        {" 5 pounds<b", false,
         "tag < 5 pounds<b> holds a space, so it is probably a < inside a content: the content "
         "before it was cut at the <, and the bytes up to the next > were read as this tag, so "
         "the <b> among them was lost with its content; a content cannot hold a <: write it "
         "another way, such as \"less than\""},
        {" 5\r\n<@", false,
         "tag < 5\\x0D\\x0A<@> holds a line break, so it is probably a < inside a content: the "
         "content before it was cut at the <, and the bytes up to the next > were read as this "
         "tag, so the <@> among them was lost and no record begins there; a content cannot hold "
         "a <: write it another way, such as \"less than\""},
        {"a\tb", false,
         "tag <a\\x09b> holds a tab, so it is probably a < inside a content: the content before "
         "it was cut at the <, and the bytes up to the next > were read as this tag, whose "
         "content was ignored; a content cannot hold a <: write it another way, such as \"less "
         "than\""},
        {" and more than thirty-two bytes", true,
         "tag < and more than thirty-two bytes...> holds a space, so it is probably a < inside a "
         "content: the content before it was cut at the <, and the bytes up to the next > were "
         "read as this tag, whose content was ignored; a content cannot hold a <: write it "
         "another way, such as \"less than\""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(UnknownTagWarning(c.m_strTag, c.m_bCut), c.m_strWarning) << c.m_strTag;
        EXPECT_EQ(TagHoldsBlank(c.m_strTag),
                  c.m_strTag.find_first_of(" \t\r\n") != std::string::npos)
            << c.m_strTag;
    }
}

TEST(ValueChecksTest, RepeatedNumbersAndCounts) {
    EXPECT_EQ(RepeatedNumberWarning(101, 4),
              "record number 101 again, first at line 4; each record with it is stored");
    const struct {
        EWarningKind m_eKind;
        std::uint64_t m_nCount;
        std::string m_strWarning;
    } kCases[] = {
        {EWarningKind::kGridRef, 1234,
         "1,234 more grid references are stored otherwise than written, the first here"},
        {EWarningKind::kGridRef, 1, "1 more grid reference is stored otherwise than written, here"},
        {EWarningKind::kWeight, 2,
         "2 more weights are stored otherwise than written, the first here"},
        {EWarningKind::kRecordNumber, 1000000,
         "1,000,000 more record numbers are stored otherwise than written, the first here"},
        {EWarningKind::kByteValue, 7,
         "7 more <b> values are stored otherwise than written, the first here"},
        {EWarningKind::kUnknownTag, 8999900,
         "8,999,900 more tags select no field and changed nothing, the first here; only the "
         "first 100 distinct ones are listed"},
        {EWarningKind::kRepeatedNumber, 12,
         "12 more record numbers repeat an earlier one, the first here"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(MoreWarnings(c.m_eKind, c.m_nCount), c.m_strWarning);
}

// The grid letters' positions as the published 5 x 5 arrangement gives them: columns from the
// west, rows from the south, no I.
int LetterColumn(char letter) {
    return static_cast<int>(kGridLetters.find(letter)) % 5;
}
int LetterRow(char letter) {
    return static_cast<int>(kGridLetters.find(letter)) / 5;
}

TEST(ValueChecksTest, GridRefPredicateAgreesWithTheDecoder) {
    // Every plain form is decoded as written, and draws no warning.
    for (char first : kGridLetters) {
        for (char second : kGridLetters) {
            for (const char* figures : {"000000", "123456", "999999", "090010"}) {
                const std::string written = std::string{first, second} + figures;
                ASSERT_TRUE(GridRefAsWritten(written)) << written;
                EXPECT_EQ(GridRefWarning(written), "") << written;
                std::uint16_t easting = 0, northing = 0;
                ParseGridRef(written, easting, northing);
                const int east = LetterColumn(first) * 5 + LetterColumn(second);
                const int north = LetterRow(first) * 5 + LetterRow(second);
                EXPECT_EQ(easting, east * 1000 + std::stoi(written.substr(2, 3))) << written;
                EXPECT_EQ(northing, north * 1000 + std::stoi(written.substr(5, 3))) << written;
            }
        }
    }
    // Any other content: a warning that quotes it, or none when a plain form stores the same.
    auto check = [](const std::string& content) {
        const std::string warning = GridRefWarning(content);
        if (GridRefAsWritten(content)) {
            EXPECT_EQ(warning, "") << content;
            return;
        }
        if (!warning.empty()) {
            ExpectWarningShape(warning, 'g', content);
            return;
        }
        std::uint16_t easting = 0, northing = 0;
        ParseGridRef(content, easting, northing);
        ASSERT_GE(content.size(), 2u) << content;
        // Silent only for a reference whose letters are grid letters, once in upper case.
        std::string plain{static_cast<char>(std::toupper(content[0])),
                          static_cast<char>(std::toupper(content[1]))};
        ASSERT_TRUE(GridRefAsWritten(plain + "000000")) << content;
        EXPECT_EQ(easting / 1000, LetterColumn(plain[0]) * 5 + LetterColumn(plain[1])) << content;
        EXPECT_EQ(northing / 1000, LetterRow(plain[0]) * 5 + LetterRow(plain[1])) << content;
    };
    for (const std::string letters : {"SU", "Su", "sU", "SI", "S1", "S ", "1S", "VV", "EE"}) {
        ForEachString("07 -", 7, [&](const std::string& rest) { check(letters + rest); });
    }
    ForEachString("SUsI09 -\xE9", 4, check);
}

// The weight a person reads in `content`, when it is separated parts or a plain 0.
bool MeantPounds(const std::string& content, std::uint64_t& pounds) {
    static const std::regex kSeparated(R"(\s*(\d+)\s*[-/:]\s*(\d+)\s*(?:[-/:]\s*(\d+)\s*)?)");
    std::smatch parts;
    if (std::regex_match(content, parts, kSeparated)) {
        const std::uint64_t first = std::stoull(parts[1]);
        const std::uint64_t second = std::stoull(parts[2]);
        pounds = parts[3].matched ? 112 * first + 28 * second + std::stoull(parts[3])
                                  : 112 * first + second;
        // Two parts may be hundredweights and pounds or hundredweights and quarters.
        return parts[3].matched || second == 0;
    }
    pounds = 0;
    return !content.empty() && content.find_first_not_of('0') == std::string::npos;
}

TEST(ValueChecksTest, WeightPredicateAgreesWithTheDecoder) {
    for (int hundredweights : {0, 1, 12, 255}) {
        for (int quarters : {0, 3, 255}) {
            for (int pounds : {0, 27, 255}) {
                for (char separator : {'-', '/', ':'}) {
                    const std::string sep(1, separator);
                    const std::string three = std::to_string(hundredweights) + sep +
                                              std::to_string(quarters) + sep +
                                              std::to_string(pounds);
                    const std::string two =
                        std::to_string(hundredweights) + sep + std::to_string(pounds);
                    EXPECT_TRUE(WeightAsWritten(three)) << three;
                    EXPECT_FALSE(WeightAsWritten(two)) << two;
                    EXPECT_EQ(ParseWeight(three), 112 * hundredweights + 28 * quarters + pounds);
                    EXPECT_EQ(ParseWeight(two), 112 * hundredweights + pounds);
                    EXPECT_EQ(WeightWarning(three), "") << three;
                    EXPECT_EQ(WeightWarning(two).empty(), pounds == 0) << two;
                }
            }
        }
    }
    // Silent exactly when the weight stored is the weight meant.
    ForEachString("0256-/ x", 6, [](const std::string& content) {
        const std::string warning = WeightWarning(content);
        std::uint64_t meant = 0;
        const bool silent =
            content.empty() || (MeantPounds(content, meant) && meant == ParseWeight(content));
        EXPECT_EQ(warning.empty(), silent) << content << ": " << warning;
        if (WeightAsWritten(content)) {
            EXPECT_TRUE(silent) << content;
        }
        if (!warning.empty()) ExpectWarningShape(warning, 't', content);
    });
}

TEST(ValueChecksTest, NumberPredicatesAgreeWithTheDecoder) {
    const struct {
        char m_cTag;
        std::uint32_t m_nLargest;  // the record keeps the low bits of the number read
        bool (*m_asWritten)(std::string_view);
        std::string (*m_warning)(std::string_view);
    } kFields[] = {
        {'@', 65535, RecordNumberAsWritten, RecordNumberWarning},
        {'b', 255, ByteValueAsWritten, ByteValueWarning},
    };
    ForEachString("02356x,\xE9", 5, [&](const std::string& content) {
        const bool digits = content.find_first_not_of("0123456789") == std::string::npos;
        const std::uint64_t value = digits && !content.empty() ? std::stoull(content) : 0;
        for (const auto& field : kFields) {
            const std::uint32_t stored =
                static_cast<std::uint32_t>(ParseDigits(content)) & field.m_nLargest;
            // An empty record number is stored as 0, seldom what was meant.
            const bool meant =
                digits && value <= field.m_nLargest && !(content.empty() && field.m_cTag == '@');
            EXPECT_EQ(field.m_asWritten(content), meant) << content;
            const std::string warning = field.m_warning(content);
            EXPECT_EQ(warning.empty(), field.m_asWritten(content)) << content;
            if (warning.empty()) {
                EXPECT_EQ(stored, value) << content;
                continue;
            }
            ExpectWarningShape(warning, field.m_cTag, content);
            EXPECT_NE(warning.find(" is stored as " + std::to_string(stored) + ":"),
                      std::string::npos)
                << warning;
        }
    });
}

}  // namespace
}  // namespace halvic
