#include "engine/split_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/tag_file.h"
#include "engine/threads.h"
#include "tests/support/hex.h"
#include "tests/support/conversion_checks.h"
#include "tests/support/reference_convert.h"

namespace halvic {
namespace {

using testing::FirstDifference;
using testing::Hex;

TEST(FindPartStartTest, OnlyWhereAReaderOfTheWholeInputStartsAnAtPair) {
    const std::string kFar = "<s>" + std::string(5000, 'x') + "<@>1<l>";
    const struct {
        std::string input;
        std::size_t from;
        std::size_t expected;  // npos: none, the input's size
    } kCases[] = {
        {"<s>x\n<@>1<l>", 0, 5},
        {"<s>x\n<@>1<l>", 6, std::string::npos},
        {"@>x<@>1<l>", 0, std::string::npos},  // no '<' before: whether the tag was empty
        {"<@>x<@>1<l>", 0, 4},                  // is not known
        {"<@>1<l>x>y<@>2<l>", 1, 10},       // a '>' in a content
        {"<s><<@>1<l>", 0, std::string::npos},  // "<<@>": the '<' before is an opener
        {"<a<@>1<l>", 0, std::string::npos},    // inside the tag "a<@"
        {"x<@>1<l>", 0, std::string::npos},     // inside the first tag, "x<@"
        {"<s>x<@>1", 0, std::string::npos},     // the number's content runs to the end
        {"<@>1<>x<@>2<l>", 1, std::string::npos},  // after an empty tag
        {"<@>1<<>x>y<@>2<l>", 1, std::string::npos},
        {std::string("<@>1<\0>x<@>2<l>", 15), 1, 8},               // a tag with a zero byte is no empty tag
        {"<s>x<@>" + std::string(510, '1') + "<l>", 0, std::string::npos},  // not one chunk
        {"<s>x<@>" + std::string(509, '1') + "<l>", 0, 4},
        {kFar, 0, std::string::npos},  // no '<' or '>' in the 4096 bytes before: not known
    };
    for (const auto& c : kCases) {
        std::size_t expected = c.expected == std::string::npos ? c.input.size() : c.expected;
        EXPECT_EQ(FindPartStart(c.input, c.from), expected) << c.input.substr(0, 40);
    }
}

struct COutput {
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_tables;
    std::vector<std::string> m_warnings;
    std::string m_strError;
};

COutput ConvertSplit(const std::string& input, std::size_t partSize, unsigned threads) {
    COutput output;
    CMemorySink records(1 + partSize % 300);
    CValueTables tables;
    std::vector<CWarning> warnings;
    CSplitOptions options;
    options.m_nPartSize = partSize;
    options.m_nThreads = threads;
    options.m_release = [&input](std::size_t begin, std::size_t end) {
        EXPECT_LE(begin, end);
        EXPECT_LE(end, input.size());
    };
    try {
        EXPECT_TRUE(ConvertInParts(input, "in.txt", records, tables, warnings, options));
    } catch (const CFailure& failure) {
        output.m_strError = failure.Error().Message();
        return output;
    }
    output.m_strRecords = records.Bytes();
    output.m_tables = testing::TableBytes(tables);
    output.m_warnings = testing::WarningMessages(warnings);
    return output;
}

void ExpectSame(const COutput& actual, const COutput& expected, const std::string& what) {
    EXPECT_EQ(actual.m_strError, expected.m_strError) << what;
    EXPECT_EQ(FirstDifference(actual.m_strRecords, expected.m_strRecords), "") << what;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        EXPECT_EQ(FirstDifference(actual.m_tables[i], expected.m_tables[i]), "")
            << what << " table " << i;
    }
    EXPECT_EQ(actual.m_warnings, expected.m_warnings) << what;
}

COutput Reference(const std::string& input) {
    testing::CReferenceOutput reference = testing::ReferenceConvert(input, "in.txt");
    return {reference.m_strRecords, reference.m_tables, reference.m_warnings,
            reference.m_strError};
}

// Parts that begin everywhere a part may begin: what a part cannot know alone (the identifiers
// of earlier texts, the fields kept from the record before it, the line it starts on, the tags
// already warned about, a stop) must come out as if the input had been read in one go.
TEST(ConvertInPartsTest, AgreesWithAPlainReferenceConversion) {
    ExpectSame(ConvertSplit("", 1, 2), Reference(""), "an empty input");
    std::mt19937 random(20261210);
    for (int round = 0; round < 400; ++round) {
        std::string input;
        for (int piece = 1 + static_cast<int>(random() % 4); piece > 0; --piece)
            input += testing::RandomConversionInput(random, round % 3 != 0);
        std::size_t partSize = 1 + random() % 400;
        unsigned threads = 1 + round % 2;
        ExpectSame(ConvertSplit(input, partSize, threads), Reference(input),
                   "round " + std::to_string(round) + ", parts of " +
                       std::to_string(partSize) + ": " + Hex(input.substr(0, 60)));
        if (::testing::Test::HasFailure()) return;
    }
}

// More distinct tags that select no field than are listed, spread over the parts so that a part
// meets tags listed by an earlier part, more distinct ones than it keeps, or both: the first 100
// of the whole input are listed and every other use counted, as in one go.
TEST(ConvertInPartsTest, ListsTheFirstUnknownTagsOfTheWholeInput) {
    std::mt19937 random(16);
    for (int round = 0; round < 40; ++round) {
        std::string input;
        unsigned distinct = round % 2 == 0 ? 120 : 600;
        for (int i = 0; i < 500; ++i) {
            input += "<@>" + std::to_string(i) + "\n<l>x";
            for (int k = static_cast<int>(random() % 3); k > 0; --k)
                input += "<u" + std::to_string(random() % distinct) + ">y\n";
        }
        std::size_t partSize = 1 + random() % 3000;
        unsigned threads = 1 + round % 2;
        ExpectSame(ConvertSplit(input, partSize, threads), Reference(input),
                   "round " + std::to_string(round) + ", parts of " + std::to_string(partSize));
        if (::testing::Test::HasFailure()) return;
    }
}

// No helper thread to be had: the calling thread converts every part.
TEST(ConvertInPartsTest, ConvertsOnTheCallingThreadWhenNoThreadStarts) {
    std::mt19937 random(17);
    std::string input;
    for (int piece = 0; piece < 20; ++piece)
        input += testing::RandomConversionInput(random, true);
    SetThreadStartsAllowedForTesting(0);
    COutput actual = ConvertSplit(input, 500, 2);
    SetThreadStartsAllowedForTesting(-1);
    ExpectSame(actual, Reference(input), "no thread");
}

// 70,000 distinct texts for one table: it fills up at the 65,536th, on the same line however
// the input is split.
TEST(ConvertInPartsTest, AFullTableFailsWhereItWouldInOneGo) {
    std::string input;
    for (int i = 0; i < 70000; ++i)
        input += "<@>" + std::to_string(i) + "\n<l>x\n<m>text " + std::to_string(i) + "\n";
    CMemorySource source(input);
    CTagFile reader(source, "in.txt");
    CMemorySink records;
    CValueTables tables;
    std::vector<CWarning> warnings;
    std::string expected;
    try {
        ConvertTags(reader, records, tables, warnings);
    } catch (const CFailure& failure) {
        expected = failure.Error().Message();
    }
    ASSERT_EQ(expected, "in.txt:196608: table m is full: it holds 65535 distinct texts, the most "
                        "a table can hold");
    for (std::size_t partSize : {input.size(), std::size_t{1} << 16, std::size_t{1} << 20})
        EXPECT_EQ(ConvertSplit(input, partSize, 2).m_strError, expected) << partSize;
}

// Records that lie further apart than a part may be long: the input is left alone.
TEST(ConvertInPartsTest, DoesNothingWhenAPartWouldBeTooLong) {
    std::string input = "<@>1<l>" + std::string(5000, 'x') + "<@>2<l>y<@>3<l>z";
    CMemorySink records;
    CValueTables tables;
    std::vector<CWarning> warnings;
    CSplitOptions options;
    options.m_nPartSize = 10;
    options.m_nLargestPart = 4000;
    EXPECT_FALSE(ConvertInParts(input, "in.txt", records, tables, warnings, options));
    EXPECT_EQ(records.Bytes(), "");
    options.m_nLargestPart = 6000;
    EXPECT_TRUE(ConvertInParts(input, "in.txt", records, tables, warnings, options));
    EXPECT_EQ(records.Bytes(), Reference(input).m_strRecords);
}

}  // namespace
}  // namespace halvic
