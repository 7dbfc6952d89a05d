#include "engine/conversion/pipeline.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/io/threads.h"
#include "tests/support/conversion_checks.h"
#include "tests/support/hex.h"
#include "tests/support/reference_convert.h"

namespace halvic {
namespace {

using testing::ConvertPipelined;
using testing::Hex;
using testing::OutputDifference;
using testing::ReferenceConvert;

// Parts cut from an input in memory (step 0) and from a stream read a few bytes at a time.
constexpr std::size_t kSteps[] = {0, 7, 1 << 16};

// Parts that begin everywhere a part may begin: what a part cannot know alone (the identifiers
// of earlier texts, the fields kept from the record before it, the line it starts on, the tags
// already warned about, a stop) must come out as if the input had been read in one go.
TEST(PipelineTest, AgreesWithAPlainReferenceConversion) {
    for (std::size_t step : kSteps)
        EXPECT_EQ(
            OutputDifference(ConvertPipelined("", 1, 2, step), ReferenceConvert("", "in.txt")), "");
    std::mt19937 random(20261210);
    for (int round = 0; round < 400; ++round) {
        std::string input;
        for (int piece = 1 + static_cast<int>(random() % 4); piece > 0; --piece)
            input += testing::RandomConversionInput(random, round % 3 != 0);
        std::size_t partSize = 1 + random() % 400;
        unsigned threads = 1 + round % 2;
        std::size_t step = kSteps[round % 3];
        ASSERT_EQ(OutputDifference(ConvertPipelined(input, partSize, threads, step),
                                   ReferenceConvert(input, "in.txt")),
                  "")
            << "round " << round << ", parts of " << partSize << ", step " << step << ": "
            << Hex(input.substr(0, 60));
    }
}

// More distinct tags that select no field than are listed, spread over the parts so that a part
// meets tags listed by an earlier part, more distinct ones than it keeps, or both: the first 100
// of the whole input are listed and every other use counted, as in one go.
TEST(PipelineTest, ListsTheFirstUnknownTagsOfTheWholeInput) {
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
        ASSERT_EQ(OutputDifference(ConvertPipelined(input, partSize, threads, kSteps[round % 3]),
                                   ReferenceConvert(input, "in.txt")),
                  "")
            << "round " << round << ", parts of " << partSize;
    }
}

// No helper thread to be had: the calling thread converts every part.
TEST(PipelineTest, ConvertsOnTheCallingThreadWhenNoThreadStarts) {
    std::mt19937 random(17);
    std::string input;
    for (int piece = 0; piece < 20; ++piece)
        input += testing::RandomConversionInput(random, true);
    SetThreadStartsAllowedForTesting(0);
    testing::CConversionOutput inMemory = ConvertPipelined(input, 500, 2);
    testing::CConversionOutput streamed = ConvertPipelined(input, 500, 2, 100);
    SetThreadStartsAllowedForTesting(-1);
    EXPECT_EQ(OutputDifference(inMemory, ReferenceConvert(input, "in.txt")), "");
    EXPECT_EQ(OutputDifference(streamed, ReferenceConvert(input, "in.txt")), "");
}

// 70,000 distinct texts for one table: it fills up at the 65,536th, on the same line however
// the input is cut.
TEST(PipelineTest, AFullTableFailsWhereItWouldInOneGo) {
    std::string input;
    for (int i = 0; i < 70000; ++i)
        input += "<@>" + std::to_string(i) + "\n<l>x\n<m>text " + std::to_string(i) + "\n";
    const std::string expected =
        "in.txt:196608: table m is full: it holds 65535 distinct texts, the most a table can hold";
    ASSERT_EQ(testing::ConvertPlain(input).m_strError, expected);
    for (std::size_t partSize : {input.size(), std::size_t{1} << 16, std::size_t{1} << 20}) {
        for (std::size_t step : kSteps)
            EXPECT_EQ(ConvertPipelined(input, partSize, 2, step).m_strError, expected) << partSize;
    }
}

// Groups that lie further apart than a part may be long: the plain loop converts the input from
// the last part's end on, with the records, texts and lines of the parts before.
TEST(PipelineTest, GroupsFurtherApartThanTheLargestPartGoOnInThePlainLoop) {
    const std::string far = "<@>1\n<l>" + std::string(5000, 'x') + "\n<m>a<x>\n";
    const std::string near = "<@>2\n<l>y<m>b<@>3<l>z<m>a<y>\n";
    const std::string kInputs[] = {far + near, near + near + far + near + far, near + far};
    for (const std::string& input : kInputs) {
        testing::CConversionOutput expected = ReferenceConvert(input, "in.txt");
        for (std::size_t largest : {std::size_t{4000}, std::size_t{6000}}) {
            for (std::size_t step : kSteps) {
                EXPECT_EQ(OutputDifference(ConvertPipelined(input, 10, 2, step, largest), expected),
                          "")
                    << "largest part " << largest << ", step " << step << ": "
                    << input.substr(0, 40);
            }
        }
    }
}

// A stream that fails at its end, on one thread or two: the failure is the conversion's.
TEST(PipelineTest, AReadFailureEndsTheConversionInItsPlace) {
    class CFailingSource : public CByteSource {
      public:
        explicit CFailingSource(std::string_view bytes) : m_source(bytes, 1000) {}
        std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
            std::size_t n = m_source.Read(buffer, capacity);
            if (n == 0) throw CFailure({"in.txt", 0, "Input/output error"});
            return n;
        }

      private:
        CMemorySource m_source;
    };
    std::string input;
    for (int i = 0; i < 2000; ++i)
        input += "<@>" + std::to_string(i) + "<l>x<m>t" + std::to_string(i % 10) + "\n";
    for (unsigned threads : {1u, 2u}) {
        CFailingSource source(input);
        CMemorySink records;
        CValueTables tables;
        CJoinedConversion joined("in.txt", records, tables);
        CStreamParts parts(source, CPartSizes{100, 1000});
        CPipelineOptions options;
        options.m_nThreads = threads;
        try {
            ConvertParts(parts, joined, "in.txt", options);
            ADD_FAILURE() << "the failure was not raised";
        } catch (const CFailure& failure) {
            EXPECT_EQ(failure.Error().Message(), "in.txt: Input/output error");
        }
    }
}

}  // namespace
}  // namespace halvic
