#include "app/file_name_completion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace halvic::app {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class FileNameCompletionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_oldCwd = fs::current_path();
        fs::create_directories(m_dir / "samples");
        for (const char* name : {"sample.txt", "sample-2.txt", "other.txt", ".hidden"})
            std::ofstream(m_dir / name) << "x";
        std::ofstream(m_dir / "samples" / "a.txt") << "x";
        fs::current_path(m_dir);
    }
    void TearDown() override { fs::current_path(m_oldCwd); }

    fs::path m_oldCwd;
    testing::CScratchDir m_scratch{"halvic-complete"};
    const fs::path m_dir = m_scratch.Path();
};

TEST_F(FileNameCompletionTest, RelativeToTheWorkingDirectory) {
    EXPECT_EQ(CompleteFileName("sam"), (Names{"sample-2.txt", "sample.txt", "samples/"}));
    EXPECT_EQ(CompleteFileName("samples/"), (Names{"samples/a.txt"}));
    EXPECT_EQ(CompleteFileName("x"), Names{});
}

TEST_F(FileNameCompletionTest, AbsolutePathsKeepTheirDirectory) {
    std::string dir = m_dir.string() + "/";
    EXPECT_EQ(CompleteFileName(dir + "oth"), (Names{dir + "other.txt"}));
}

TEST_F(FileNameCompletionTest, HiddenOnlyWhenAskedFor) {
    EXPECT_EQ(CompleteFileName("./"),
              (Names{"./other.txt", "./sample-2.txt", "./sample.txt", "./samples/"}));
    EXPECT_EQ(CompleteFileName(".h"), (Names{".hidden"}));
}

TEST_F(FileNameCompletionTest, NothingForEmptyOrUnreadable) {
    EXPECT_EQ(CompleteFileName(""), Names{});
    EXPECT_EQ(CompleteFileName("no-such-dir/a"), Names{});
    EXPECT_EQ(CompleteFileName("sample.txt/"), Names{});
}

TEST_F(FileNameCompletionTest, Limit) {
    EXPECT_EQ(CompleteFileName("sam", 2), (Names{"sample-2.txt", "sample.txt"}));
}

}  // namespace
}  // namespace halvic::app
