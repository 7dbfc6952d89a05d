#include "app/typed_name.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/conversion/convert_file.h"
#include "engine/format/value_table.h"
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
        fs::current_path(m_dir);
    }
    void TearDown() override { fs::current_path(m_oldCwd); }
    bool DirIsEmpty() const { return fs::is_empty(m_dir); }

    fs::path m_oldCwd;
    testing::CScratchDir m_scratch{"halvic-typed"};
    const fs::path m_dir = m_scratch.Path();
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
    // As the command line says it: a name with a space is quoted.
    EXPECT_EQ(ConvertTypedName("my data.txt").m_strMessage,
              testing::Quoted("my data.txt") + ": " + testing::Reasons().m_strNoFile);
}

TEST_F(TypedNameTest, WarningsOfAConversionAreKeptForTheDialog) {
    std::ofstream(m_dir / "warn.txt") << "<@>1\n<x1>a\n<l>b\n<x2>c\n";
    CTypedNameOutcome outcome = ConvertTypedName("warn.txt");
    EXPECT_EQ(outcome.m_nExitCode, 0);
    EXPECT_EQ(outcome.m_strMessage, "");
    ASSERT_EQ(outcome.m_warnings.size(), 2u);
    EXPECT_EQ(outcome.m_warnings[0].m_strFile, "warn.txt");
    EXPECT_EQ(outcome.m_warnings[0].m_nLine, 2u);
    EXPECT_EQ(outcome.m_warnings[1].m_nLine, 4u);
    EXPECT_TRUE(fs::exists(m_dir / kRecordFileName));

    fs::path sample = fs::path(HALVIC_SOURCE_DIR) / "examples" / "sample.txt";
    EXPECT_TRUE(ConvertTypedName(sample.string()).m_warnings.empty());
}

TEST(WarningsTextTest, ShowsTheFirstFewAndCountsTheRest) {
    const std::string kMyIn = testing::Quoted("my in.txt");
    auto warnings = [](std::size_t count, const std::string& file) {
        std::vector<CWarning> list;
        for (std::size_t i = 1; i <= count; ++i)
            list.push_back({file, i + 1, "tag <x" + std::to_string(i) + "> selects no field"});
        return list;
    };
    const struct {
        std::vector<CWarning> warnings;
        std::string expected;
    } cases[] = {
        {warnings(1, "in.txt"),
         "1 warning:\nin.txt:2: tag <x1> selects no field\n\nThe files were written to:\n/out"},
        {warnings(5, "in.txt"),
         "5 warnings:\nin.txt:2: tag <x1> selects no field\nin.txt:3: tag <x2> selects no field\n"
         "in.txt:4: tag <x3> selects no field\nin.txt:5: tag <x4> selects no field\n"
         "in.txt:6: tag <x5> selects no field\n\nThe files were written to:\n/out"},
        {warnings(7, "my in.txt"), "7 warnings:\n" + kMyIn + ":2: tag <x1> selects no field\n" +
                                       kMyIn + ":3: tag <x2> selects no field\n" + kMyIn +
                                       ":4: tag <x3> selects no field\n" + kMyIn +
                                       ":5: tag <x4> selects no field\n" + kMyIn +
                                       ":6: tag <x5> selects no field\n"
                                       "and 2 more.\n\nThe files were written to:\n/out"},
        // A line that counts many: the headline and the rest count every warning.
        {{{"in.txt", 2, "record number 1 again"},
          {"in.txt", 3, "record number 2 again"},
          {"in.txt", 4, "record number 3 again"},
          {"in.txt", 5, "record number 4 again"},
          {"in.txt", 6, "1,000 more record numbers repeat an earlier one", 1000},
          {"in.txt", 7, "tag <x> selects no field"},
          {"in.txt", 8, "999 more tags select no field", 999}},
         "2,004 warnings:\nin.txt:2: record number 1 again\nin.txt:3: record number 2 again\n"
         "in.txt:4: record number 3 again\nin.txt:5: record number 4 again\n"
         "in.txt:6: 1,000 more record numbers repeat an earlier one\nand 1,000 more.\n\n"
         "The files were written to:\n/out"},
        // A warning tied to no line, as the one of an empty input.
        {{{"in.txt", 0, "the file is empty"}},
         "1 warning:\nin.txt: the file is empty\n\nThe files were written to:\n/out"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WarningsText(c.warnings, "/out"), c.expected);
    }
}

TEST(DetailsTextTest, ListsEveryWarningAsTheCommandLinePrintsIt) {
    EXPECT_EQ(DetailsText({}), "");
    EXPECT_EQ(
        DetailsText({{"my in.txt", 2, "record number 1 again"},
                     {"my in.txt", 9, "1,000 more record numbers repeat an earlier one", 1000},
                     {"my in.txt", 0, "the file is empty"}}),
        testing::Quoted("my in.txt") + ":2: record number 1 again\n" +
            testing::Quoted("my in.txt") + ":9: 1,000 more record numbers repeat an earlier one\n" +
            testing::Quoted("my in.txt") + ": the file is empty\n");
}

TEST_F(TypedNameTest, SavedWarningsReplaceAFileOnlyWhenWhollyWritten) {
    std::string message;
    const std::string path = (m_dir / "warnings.txt").string();
    ASSERT_TRUE(SaveTextFile(path, "a.txt:2: one\n", message)) << message;
    EXPECT_EQ(ReadFile(path), "a.txt:2: one\n");
    ASSERT_TRUE(SaveTextFile(path, "b.txt:3: two\n", message)) << message;
    EXPECT_EQ(ReadFile(path), "b.txt:3: two\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);

    // A folder that is not there: the message names the file the user chose, nothing is left.
    const std::string missing = (m_dir / "gone" / "warnings.txt").string();
    EXPECT_FALSE(SaveTextFile(missing, "text", message));
    EXPECT_EQ(message, missing + ": " + testing::Reasons().m_strNoFolder);
    // A folder at the name: the old folder stays, the reason is the system's.
    fs::create_directory(m_dir / "taken");
    EXPECT_FALSE(SaveTextFile((m_dir / "taken").string(), "text", message));
    EXPECT_EQ(message.rfind((m_dir / "taken").string() + ": ", 0), 0u) << message;
    EXPECT_TRUE(fs::is_directory(m_dir / "taken"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);
}

TEST_F(TypedNameTest, NameIsReadAsThePromptReadsIt) {
    // Spaces around the name and a pair of quotes are not part of it: a pasted name converts.
    std::ofstream(m_dir / "in.txt") << "<@>1";
    for (const char* typed : {" in.txt ", "\"in.txt\"", "'in.txt' "}) {
        fs::remove(m_dir / kRecordFileName);
        CTypedNameOutcome outcome = ConvertTypedName(typed);
        EXPECT_EQ(outcome.m_nExitCode, 0) << typed << ": " << outcome.m_strMessage;
        EXPECT_TRUE(fs::exists(m_dir / kRecordFileName)) << typed;
    }
    // Inside quotes, spaces are part of the name; "-" is a file name, not standard input.
    EXPECT_EQ(ConvertTypedName("\" in.txt \"").m_strMessage,
              testing::Quoted(" in.txt ") + ": " + testing::Reasons().m_strNoFile);
    EXPECT_EQ(ConvertTypedName("-").m_strMessage, "-: " + testing::Reasons().m_strNoFile);
    EXPECT_EQ(ConvertTypedName("  ").m_strMessage, kNoNameMessage);
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
