#include "engine/conversion/join.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/conversion_checks.h"
#include "tests/support/hex.h"
#include "tests/support/reference_convert.h"

namespace halvic {
namespace {

using testing::ConvertPlain;
using testing::Hex;
using testing::OutputDifference;
using testing::RandomConversionInput;
using testing::Unhex;

// The plain loop with blocks and reads of a few bytes, so that their ends fall everywhere.
testing::CConversionOutput Convert(std::string_view input) {
    testing::CConversionOutput output = ConvertPlain(input, "in.txt", 5, 7);
    EXPECT_EQ(output.m_strError, "") << input.substr(0, 60);
    return output;
}

const char* const kEmptyIds = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00";

TEST(ConversionTest, TwoRecordExample) {
    testing::CConversionOutput out = Convert(
        "<@>1<l>First text<g>SU123456<t>12-2-14<b>8<c>alpha\r\n"
        "<@>2<l>Second<c>alpha<m>beta\r\n");
    EXPECT_EQ(Hex(out.m_strRecords),
              Hex(Unhex("1F 01, 6C 46 69 72 73 74 20 74 65 78 74 00, 02 08, 34 86 05, 25 2B 37, "
                        "2E 38 19, A4 06 00 00 00 00 00 00 00 00 01 00 00 00, 00, "
                        "1F 02, 6C 53 65 63 6F 6E 64 00, 02 08, 34 86 05, 25 2B 37, 2E 38 19, "
                        "A4 06 01 00 00 00 00 00 00 00 01 00 00 00, 00")));
    EXPECT_EQ(out.m_strRecords.size(), 76u);
    EXPECT_EQ(out.m_tables[4], std::string("alpha\0", 6));
    EXPECT_EQ(out.m_tables[0], std::string("beta\0", 5));
    for (std::size_t i : {1, 2, 3, 5})
        EXPECT_EQ(out.m_tables[i], "");
    EXPECT_TRUE(out.m_warnings.empty());
}

TEST(ConversionTest, GroupsAndRecords) {
    const struct {
        std::string input;
        std::string records;  // hex, records separated by " | " for reading
        std::vector<std::string> warnings;
    } kCases[] = {
        {"", "", {}},
        {"<l>x<@>1", "", {"in.txt:1: the first tag is <l>, not <@>; nothing was converted"}},
        {" <@>1", "", {"in.txt:1: the first tag is < <@>, not <@>; nothing was converted"}},
        {"<@>1<>junk<@>2<l>y",
         std::string("1F 01 ") + kEmptyIds + " 00 | 1F 02 6C 79 00 " + kEmptyIds + " 00",
         {}},
        {"<@>1<>\n<l>y<@>2",
         std::string("1F 01 ") + kEmptyIds + " 00",
         {"in.txt:2: tag <l> follows an empty tag <> but is not <@>; the rest of the input was "
          "ignored"}},
        {"<@>70000",
         std::string("3F 70 11 ") + kEmptyIds + " 00",
         {"in.txt:1: <@>70000 is stored as 4464: a record number is kept to 16 bits, so 65535 is "
          "the largest"}},
        {"<@>1<b>300",
         std::string("1F 01 02 2C ") + kEmptyIds + " 00",
         {"in.txt:1: <b>300 is stored as 44: a <b> value is kept to 8 bits, so 255 is the "
          "largest"}},
        {"<@>x",
         std::string(kEmptyIds) + " 00",
         {"in.txt:1: <@>x is stored as 0: it holds no digit; write a record number as digits "
          "alone"}},
        {"<@>5<l>a<@>6",
         std::string("1F 05 6C 61 00 ") + kEmptyIds + " 00 | 1F 06 6C 61 00 " + kEmptyIds + " 00",
         {}},
        {"<@>1\n<x>a\n<x>b<Q>c",
         std::string("1F 01 ") + kEmptyIds + " 00",
         {"in.txt:2: tag <x> selects no field, so no field changed: the record keeps its values "
          "from before",
          "in.txt:3: tag <Q> selects no field, so no field changed: the record keeps its values "
          "from before"}},
        {"<@>1<\x01\xE9>c",
         std::string("1F 01 ") + kEmptyIds + " 00",
         {"in.txt:1: tag <\\x01\\xE9> holds a control character, so it is probably a < inside "
          "a content: the content before it was cut at the <, and the bytes up to the next > "
          "were read as this tag, whose content was ignored; a content cannot hold a <: write it "
          "another way, such as \"less than\""}},
        // Any piece of "manics" selects the table of its first letter.
        {"<@>1<c>x<c>y<ic>z<manics>w", "1F 01 A4 06 01 00 00 00 00 00 01 00 02 00 00 00 00", {}},
        // Fields not set are kept from the record before; a content without digits gives 0, and
        // so does a weight without a separator.
        {"<@>1<l>x<b>5<t>12-2-14<@>3<b>abc<t>12",
         std::string("1F 01 6C 78 00 02 05 34 86 05 ") + kEmptyIds + " 00 | 1F 03 6C 78 00 " +
             kEmptyIds + " 00",
         // On one line, the warnings of a kind come before those of the next kind.
         {"in.txt:1: <t>12 is stored as 0 lb: a weight without a separator (- / or :) is 0; write "
          "<t>0-0-12 for 12 lb or <t>12-0-0 for 12 cwt",
          "in.txt:1: <b>abc is stored as 0: it holds no digit; write a <b> value as digits alone"}},
        // A pushed-back "@" gives only its last chunk: 510 ones are flushed, "2" remains.
        {"<@>1<l>a<@>" + std::string(510, '1') + "2",
         std::string("1F 01 6C 61 00 ") + kEmptyIds + " 00 | 1F 02 6C 61 00 " + kEmptyIds + " 00",
         {}},
    };
    for (const auto& c : kCases) {
        testing::CConversionOutput out = Convert(c.input);
        std::string expected = c.records;
        for (std::string::size_type bar; (bar = expected.find(" | ")) != std::string::npos;) {
            expected.replace(bar, 3, " ");
        }
        EXPECT_EQ(Hex(out.m_strRecords), expected) << c.input.substr(0, 60);
        EXPECT_EQ(out.m_warnings, c.warnings) << c.input.substr(0, 60);
    }
}

TEST(ConversionTest, TablesHoldEachDistinctTextOnce) {
    testing::CConversionOutput out = Convert("<@>1<c>x<c>y<@>2<c>x<s>x<a><n>N<i>i");
    EXPECT_EQ(out.m_tables[4], std::string("x\0y\0", 4));
    EXPECT_EQ(out.m_tables[5], std::string("x\0", 2));
    EXPECT_EQ(out.m_tables[1], std::string("\0", 1));  // the empty text is a text like any other
    EXPECT_EQ(Hex(out.m_strRecords.substr(out.m_strRecords.size() - 15)),
              "A4 06 00 00 01 00 01 00 01 00 01 00 01 00 00");
}

TEST(ConversionTest, AgreesWithAPlainReferenceConversion) {
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::string input = RandomConversionInput(random);
        std::size_t block = 1 + random() % 600;
        ASSERT_EQ(OutputDifference(ConvertPlain(input, "in.txt", block, 1 + random() % 700),
                                   testing::ReferenceConvert(input, "in.txt")),
                  "")
            << "round " << round << ": " << Hex(input.substr(0, 80));
    }
}

// Contents of many kilobytes are moved out of the reader rather than copied: the same output.
TEST(ConversionTest, LongContentsGiveWhatShortOnesWould) {
    std::string lines;
    for (int i = 0; i < 400; ++i)
        lines += "  a line of a long text, hyphen-\r\nated " + std::to_string(i) + " \r\n";
    const std::string kInputs[] = {
        "<@>1<l>" + lines + "<b>2<@>2<m>" + lines + "<@>3<l>short<@>4",
        "<@>1<l>" + std::string(9000, 'x') + "<@>2<t>1-2-3<@>3<l>" + lines + "<x>" + lines,
    };
    for (const std::string& input : kInputs) {
        EXPECT_EQ(OutputDifference(ConvertPlain(input, "in.txt", 1000, 3000),
                                   testing::ReferenceConvert(input, "in.txt")),
                  "");
    }
}

TEST(ConversionTest, AFullTableIsAnErrorNamingItsLetterAndLine) {
    std::string input = "<@>1";
    for (int i = 0; i <= 65535; ++i)
        input += "<a>" + std::to_string(i);
    EXPECT_EQ(ConvertPlain(input, "big.txt").m_strError,
              "big.txt:1: table a is full: it holds 65535 distinct texts, the most a table can "
              "hold");
}

}  // namespace
}  // namespace halvic
