#include "app/typed_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/convert.h"
#include "engine/value_table.h"
#include "tests/support/files.h"

namespace halvic::app {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs each test in a fresh current working directory, where the dialog's output goes.
class TypedNameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_oldCwd = fs::current_path();
        m_dir = fs::temp_directory_path() /
                ("halvic-typed-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
    }
    void TearDown() override {
        fs::current_path(m_oldCwd);
        fs::remove_all(m_dir);
    }
    bool DirIsEmpty() const { return fs::is_empty(m_dir); }

    fs::path m_oldCwd;
    fs::path m_dir;
};

TEST_F(TypedNameTest, EmptyNameConvertsNothing) {
    CTypedNameOutcome outcome = ConvertTypedName("");
    EXPECT_EQ(outcome.m_nExitCode, 1);
    EXPECT_EQ(outcome.m_strMessage, "No file name was given.");
    EXPECT_TRUE(DirIsEmpty());
}

TEST_F(TypedNameTest, FailureNamesTheFileAndTheReason) {
    CTypedNameOutcome outcome = ConvertTypedName("missing.txt");
    EXPECT_EQ(outcome.m_nExitCode, 1);
    EXPECT_EQ(outcome.m_strMessage, "missing.txt: " + testing::Reasons().m_strNoFile);
    EXPECT_TRUE(DirIsEmpty());
}

TEST_F(TypedNameTest, NameIsTakenAsTyped) {
    // Spaces are part of the name, and "-" is a file name, not standard input.
    std::ofstream(m_dir / " in.txt ") << "<@>1";
    EXPECT_EQ(ConvertTypedName("in.txt").m_strMessage, "in.txt: " + testing::Reasons().m_strNoFile);
    EXPECT_EQ(ConvertTypedName("-").m_strMessage, "-: " + testing::Reasons().m_strNoFile);
    CTypedNameOutcome outcome = ConvertTypedName(" in.txt ");
    EXPECT_EQ(outcome.m_nExitCode, 0);
    EXPECT_EQ(outcome.m_strMessage, "");
    EXPECT_TRUE(fs::exists(m_dir / kRecordFileName));
}

TEST_F(TypedNameTest, SampleGivesTheExpectedFilesInTheWorkingDirectory) {
    fs::path examples = fs::path(HALVIC_SOURCE_DIR) / "examples";
    CTypedNameOutcome outcome = ConvertTypedName((examples / "sample.txt").string());
    EXPECT_EQ(outcome.m_nExitCode, 0);
    EXPECT_EQ(outcome.m_strMessage, "");
    EXPECT_EQ(ReadFile(m_dir / kRecordFileName), ReadFile(examples / "expected" / kRecordFileName));
    for (std::size_t i = 0; i < kTableCount; ++i) {
        EXPECT_EQ(ReadFile(m_dir / TableFileName(i)),
                  ReadFile(examples / "expected" / TableFileName(i)))
            << TableFileName(i);
    }
}

}  // namespace
}  // namespace halvic::app
