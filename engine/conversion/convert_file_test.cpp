#include "engine/conversion/convert_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/io/threads.h"
#include "tests/support/conversion_checks.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/reference_convert.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::FirstDifference;
using testing::Hex;
using testing::ListFiles;
using testing::RandomConversionInput;
using testing::ReadFile;
using testing::Unhex;
using testing::WriteFile;

const char* const kEmptyIds = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00";

// The options of a conversion into `dir`.
CConvertOptions Into(const std::string& dir) {
    CConvertOptions options;
    options.m_strOutputDir = dir;
    return options;
}

std::vector<std::string> OutputNames() {
    std::vector<std::string> names{kRecordFileName};
    for (std::size_t i = 0; i < kTableCount; ++i)
        names.push_back(TableFileName(i));
    return names;
}

class ConvertFileTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(m_dir / "out"); }

    testing::CFileList OutFiles() { return ListFiles(m_dir / "out"); }

    void PutOldOutputs() {
        for (const std::string& name : OutputNames())
            WriteFile(m_dir / "out" / name, "old " + name);
    }

    testing::CScratchDir m_scratch{"halvic-convert"};
    const fs::path m_dir = m_scratch.Path();
};

TEST_F(ConvertFileTest, WritesAllSevenFiles) {
    PutOldOutputs();
    WriteFile(m_dir / "in.txt", "<@>1<l>First text<c>alpha\r\n<@>2<m>beta");
    CConvertResult result =
        ConvertFile((m_dir / "in.txt").string(), Into((m_dir / "out").string()));
    ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
    auto files = OutFiles();
    ASSERT_EQ(files.size(), 7u);
    EXPECT_EQ(ReadFile(m_dir / "out/qxc.qxd"), std::string("alpha\0", 6));
    EXPECT_EQ(ReadFile(m_dir / "out/qxm.qxd"), std::string("beta\0", 5));
    EXPECT_EQ(ReadFile(m_dir / "out/qxs.qxd"), "");
    EXPECT_EQ(result.m_summary.m_nRecords, 2u);
    EXPECT_EQ(result.m_summary.m_nBytesWritten, ReadFile(m_dir / "out/qxase.qxd").size() + 11);
}

TEST_F(ConvertFileTest, FailuresLeaveTheOldOutputsAndNoTemporaryFile) {
    fs::create_directories(m_dir / "a-directory");
    WriteFile(m_dir / "in.txt", "<@>1<l>x");
    const struct {
        std::string input;
        std::string outputDir;
        std::string message;
    } kCases[] = {
        {(m_dir / "missing.txt").string(), (m_dir / "out").string(),
         (m_dir / "missing.txt").string() + ": " + testing::Reasons().m_strNoFile},
        {(m_dir / "a-directory").string(), (m_dir / "out").string(),
         (m_dir / "a-directory").string() + ": " + testing::Reasons().m_strIsFolder},
        {"", (m_dir / "out").string(), "(empty file name): " + testing::Reasons().m_strNoFile},
        {(m_dir / "in.txt").string(), (m_dir / "no-such-dir").string(),
         (m_dir / "no-such-dir").string() + ": " + testing::Reasons().m_strNoFolder},
        {(m_dir / "in.txt").string(), (m_dir / "in.txt").string(),
         (m_dir / "in.txt").string() + ": " + testing::Reasons().m_strFileAsFolder},
    };
    PutOldOutputs();
    auto before = OutFiles();
    for (const auto& c : kCases) {
        CConvertResult result = ConvertFile(c.input, Into(c.outputDir));
        EXPECT_FALSE(result.m_bOk);
        EXPECT_EQ(result.m_error.Message(), c.message);
        EXPECT_EQ(OutFiles(), before);
    }
}

TEST_F(ConvertFileTest, ASymbolicLinkTargetIsReplacedNotWrittenThrough) {
    WriteFile(m_dir / "elsewhere", "keep me");
    std::error_code ec;
    fs::create_symlink(m_dir / "elsewhere", m_dir / "out" / kRecordFileName, ec);
    if (ec) GTEST_SKIP() << "no symbolic link can be made here: " << ec.message();
    WriteFile(m_dir / "in.txt", "<@>1");
    ASSERT_TRUE(ConvertFile((m_dir / "in.txt").string(), Into((m_dir / "out").string())).m_bOk);
    EXPECT_EQ(ReadFile(m_dir / "elsewhere"), "keep me");
    EXPECT_FALSE(fs::is_symlink(m_dir / "out" / kRecordFileName));
    EXPECT_EQ(Hex(ReadFile(m_dir / "out" / kRecordFileName)),
              std::string("1F 01 ") + kEmptyIds + " 00");
}

TEST_F(ConvertFileTest, BundledExampleGivesItsExpectedFiles) {
    fs::path examples = fs::path(HALVIC_SOURCE_DIR) / "examples";
    CConvertResult result =
        ConvertFile((examples / "sample.txt").string(), Into((m_dir / "out").string()));
    ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
    EXPECT_TRUE(result.m_warnings.empty());
    for (const std::string& name : OutputNames()) {
        EXPECT_EQ(Hex(ReadFile(m_dir / "out" / name)), Hex(ReadFile(examples / "expected" / name)))
            << name;
    }
}

// Through the real files, on inputs large enough for many reading blocks and output buffers,
// and one that fills a table part of the way through.
TEST_F(ConvertFileTest, AgreesWithAPlainReferenceConversion) {
    std::mt19937 random(7);
    // Large enough to be converted in parts.
    std::string large;
    while (large.size() < (9 << 20))
        large += RandomConversionInput(random, true);
    std::string full = "<@>1";
    for (int i = 0; i < 66000; ++i)
        full += "<@>" + std::to_string(i) + "\n<a>" + std::to_string(i % 65600) + "<l>x\n";
    for (const std::string* input : {&large, &full}) {
        std::string path = (m_dir / "in.txt").string();
        WriteFile(path, *input);
        CConvertResult result = ConvertFile(path, Into((m_dir / "out").string()));
        testing::CConversionOutput actual;
        if (result.m_bOk) {
            actual.m_strRecords = ReadFile(m_dir / "out" / kRecordFileName);
            for (std::size_t i = 0; i < kTableCount; ++i)
                actual.m_tables[i] = ReadFile(m_dir / "out" / TableFileName(i));
            actual.m_warnings = testing::WarningMessages(result.m_warnings);
        } else {
            actual.m_strError = result.m_error.Message();
        }
        EXPECT_EQ(testing::OutputDifference(actual, testing::ReferenceConvert(*input, path)), "");
    }
}

}  // namespace
}  // namespace halvic
