#include "engine/io/mapped_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/io/error.h"
#include "tests/support/files.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;

class MappedFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testing::CScratchDir m_scratch{"halvic-mapped"};
    const fs::path m_dir = m_scratch.Path();
};

TEST_F(MappedFileTest, RefusesWhatCannotBeMapped) {
    testing::MakeFifo(m_dir / "fifo");
    for (std::string path : {(m_dir / "missing").string(), m_dir.string(), Write("empty", ""),
                             (m_dir / "fifo").string(), std::string()}) {
        CMappedFile file;
        EXPECT_FALSE(file.Map(path)) << path;
    }
}

// Pages given back are read back from the file when they are touched again.
TEST_F(MappedFileTest, PagesGivenBackReadTheSameAgain) {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < 300000; ++i)
        bytes += "<@>" + std::to_string(i) + "\n";
    CMappedFile file;
    ASSERT_TRUE(file.Map(Write("in.txt", bytes)));
    ASSERT_EQ(file.Bytes(), bytes);
    file.Release(0, bytes.size());
    file.Release(5000, 100000);  // not at page boundaries, and again
    EXPECT_EQ(file.Bytes(), bytes);
}

// Cut short by another program while it is mapped: the pages past the new end read as zeros
// instead of ending the program with SIGBUS, and the file is known to be cut short.
TEST_F(MappedFileTest, AFileCutShortWhileMappedIsReportedNotFatal) {
    std::string bytes(1 << 20, 'x');
    std::string path = Write("in.txt", bytes);
    CMappedFile file;
    ASSERT_TRUE(file.Map(path));
    EXPECT_FALSE(file.CutShort());
    EXPECT_NO_THROW(file.CheckWhole());
    ASSERT_EQ(::truncate(path.c_str(), 10000), 0);
    EXPECT_TRUE(file.CutShort());
    std::string_view mapped = file.Bytes();
    EXPECT_EQ(mapped.substr(0, 10000), std::string_view(bytes).substr(0, 10000));
    EXPECT_EQ(mapped[600000], '\0');  // a fault, turned into a zero
    EXPECT_EQ(mapped.back(), '\0');
    try {
        file.CheckWhole();
        FAIL() << "the file cut short was taken for whole";
    } catch (const CFailure& failure) {
        EXPECT_EQ(failure.Error().Message(),
                  path + ": the file was truncated while it was being read");
    }
}

}  // namespace
}  // namespace halvic
