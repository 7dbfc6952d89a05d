#include "engine/conversion/input.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/conversion/join.h"
#include "engine/conversion/pipeline.h"
#include "tests/support/files.h"

namespace halvic {
namespace {

// Converts all of `input` into sinks that keep nothing.
CConvertSummary ConvertAll(CConversionInput& input) {
    CValueTables tables;
    CDiscardingSink records;
    CJoinedConversion joined(input.Name(), records, tables);
    ConvertParts(input.Parts(), joined, input.Name(), CPipelineOptions());
    std::vector<CWarning> warnings;
    return joined.Finish(warnings);
}

std::string Records(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes += "<@>" + std::to_string(i) + "\r\n<l>text " + std::to_string(i) + "\r\n";
    return bytes;
}

// A regular file's size is known beforehand; a named pipe is a stream of unknown size. Either way
// the progress ends at the input's size, and a cancel stops the conversion with the input's name,
// whatever the kind.
TEST(ConversionInputTest, KeepsProgressAndStopsWhenCancelled) {
    testing::CScratchDir scratch("halvic-input");
    const std::string bytes = Records(2000);  // smaller than a pipe holds: its writer never waits
    ASSERT_LT(bytes.size(), 65536u);
    for (bool pipe : {false, true}) {
        for (bool cancel : {false, true}) {
            const std::string path = (scratch.Path() / (std::string(pipe ? "pipe" : "file") +
                                                        (cancel ? "-cancelled" : "")))
                                         .string();
            std::thread writer;
            if (pipe) {
                // Windows keeps its named pipes outside the file system.
                if (!testing::MakeFifo(path)) continue;
                writer = std::thread([&] { std::ofstream(path, std::ios::binary) << bytes; });
            } else {
                std::ofstream(path, std::ios::binary) << bytes;
            }
            CConvertProgress progress;
            progress.m_bCancel = cancel;
            CConversionInput input(&progress);
            CError error;
            ASSERT_TRUE(input.Open(path, false, error) &&
                        input.ReadAs(EInputEncoding::kAsMarked, error))
                << error.Message();
            EXPECT_EQ(input.Name(), path);
            EXPECT_EQ(progress.m_nTotal, pipe ? 0u : bytes.size()) << path;
            if (cancel) {
                try {
                    ConvertAll(input);
                    ADD_FAILURE() << path << ": not cancelled";
                } catch (const CFailure& failure) {
                    EXPECT_EQ(failure.Error().Message(), path + ": " + kCancelledMessage);
                }
            } else {
                EXPECT_EQ(ConvertAll(input).m_nRecords, 2000u) << path;
                EXPECT_EQ(progress.m_nRead, bytes.size()) << path;
                EXPECT_EQ(input.BytesConverted(), bytes.size()) << path;
            }
            if (writer.joinable()) writer.join();
        }
    }
}

TEST(ConversionInputTest, AnInputThatCannotBeOpenedIsAnErrorNamingIt) {
    testing::CScratchDir scratch("halvic-input");
    const std::string path = (scratch.Path() / "missing.txt").string();
    CConversionInput input(nullptr);
    CError error;
    EXPECT_FALSE(input.Open(path, true, error));
    EXPECT_EQ(error.Message(), path + ": " + testing::Reasons().m_strNoFile);
}

// An empty file converts nothing.
TEST(ConversionInputTest, AnEmptyFileConvertsNoByte) {
    testing::CScratchDir scratch("halvic-input");
    const std::string path = (scratch.Path() / "empty.txt").string();
    std::ofstream(path, std::ios::binary).flush();
    CConversionInput input(nullptr);
    CError error;
    ASSERT_TRUE(input.Open(path, false, error) && input.ReadAs(EInputEncoding::kAsMarked, error))
        << error.Message();
    EXPECT_EQ(ConvertAll(input).m_nRecords, 0u);
    EXPECT_EQ(input.BytesConverted(), 0u);
}

}  // namespace
}  // namespace halvic
