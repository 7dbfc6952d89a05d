#include "engine/convert.h"

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

#include "engine/threads.h"
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

struct Output {
    std::string records;
    std::array<std::string, kTableCount> tables;
    std::vector<std::string> warnings;
};

Output Convert(std::string_view input) {
    CMemorySource source(input, 7);
    CTagFile reader(source, "in.txt", 5);
    CMemorySink records(5);
    CValueTables tables;
    Output output;
    std::vector<CWarning> warnings;
    ConvertTags(reader, records, tables, warnings);
    output.records = records.Bytes();
    output.tables = testing::TableBytes(tables);
    output.warnings = testing::WarningMessages(warnings);
    return output;
}

const char* const kEmptyIds = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00";

TEST(ConvertTest, TwoRecordExample) {
    Output out = Convert(
        "<@>1<l>First text<g>SU123456<t>12-2-14<b>8<c>alpha\r\n"
        "<@>2<l>Second<c>alpha<m>beta\r\n");
    EXPECT_EQ(Hex(out.records),
              Hex(Unhex("1F 01, 6C 46 69 72 73 74 20 74 65 78 74 00, 02 08, 34 86 05, 25 2B 37, "
                        "2E 38 19, A4 06 00 00 00 00 00 00 00 00 01 00 00 00, 00, "
                        "1F 02, 6C 53 65 63 6F 6E 64 00, 02 08, 34 86 05, 25 2B 37, 2E 38 19, "
                        "A4 06 01 00 00 00 00 00 00 00 01 00 00 00, 00")));
    EXPECT_EQ(out.records.size(), 76u);
    EXPECT_EQ(out.tables[4], std::string("alpha\0", 6));
    EXPECT_EQ(out.tables[0], std::string("beta\0", 5));
    for (std::size_t i : {1, 2, 3, 5})
        EXPECT_EQ(out.tables[i], "");
    EXPECT_TRUE(out.warnings.empty());
}

TEST(ConvertTest, GroupsAndRecords) {
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
        {"<@>70000", std::string("3F 70 11 ") + kEmptyIds + " 00", {}},
        {"<@>1<b>300", std::string("1F 01 02 2C ") + kEmptyIds + " 00", {}},
        {"<@>x", std::string(kEmptyIds) + " 00", {}},
        {"<@>5<l>a<@>6",
         std::string("1F 05 6C 61 00 ") + kEmptyIds + " 00 | 1F 06 6C 61 00 " + kEmptyIds + " 00",
         {}},
        {"<@>1\n<x>a\n<x>b<Q>c",
         std::string("1F 01 ") + kEmptyIds + " 00",
         {"in.txt:2: tag <x> selects no field; ignored",
          "in.txt:3: tag <Q> selects no field; ignored"}},
        {"<@>1<\x01\xE9>c",
         std::string("1F 01 ") + kEmptyIds + " 00",
         {"in.txt:1: tag <\\x01\\xE9> selects no field; ignored"}},
        // A pushed-back "@" gives only its last chunk: 510 ones are flushed, "2" remains.
        {"<@>1<l>a<@>" + std::string(510, '1') + "2",
         std::string("1F 01 6C 61 00 ") + kEmptyIds + " 00 | 1F 02 6C 61 00 " + kEmptyIds + " 00",
         {}},
    };
    for (const auto& c : kCases) {
        Output out = Convert(c.input);
        std::string expected = c.records;
        for (std::string::size_type bar; (bar = expected.find(" | ")) != std::string::npos;) {
            expected.replace(bar, 3, " ");
        }
        EXPECT_EQ(Hex(out.records), expected) << c.input.substr(0, 60);
        EXPECT_EQ(out.warnings, c.warnings) << c.input.substr(0, 60);
    }
}

TEST(ConvertTest, TablesHoldEachDistinctTextOnce) {
    Output out = Convert("<@>1<c>x<c>y<@>2<c>x<s>x<a><n>N<i>i");
    EXPECT_EQ(out.tables[4], std::string("x\0y\0", 4));
    EXPECT_EQ(out.tables[5], std::string("x\0", 2));
    EXPECT_EQ(out.tables[1], std::string("\0", 1));  // the empty text is a text like any other
    EXPECT_EQ(Hex(out.records.substr(out.records.size() - 15)),
              "A4 06 00 00 01 00 01 00 01 00 01 00 01 00 00");
}

void ExpectSameAsReference(const testing::CReferenceOutput& expected, const Output& actual,
                           const std::string& error, const std::string& what) {
    EXPECT_EQ(FirstDifference(actual.records, expected.m_strRecords), "") << what;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        EXPECT_EQ(FirstDifference(actual.tables[i], expected.m_tables[i]), "")
            << what << " table " << i;
    }
    EXPECT_EQ(error, expected.m_strError) << what;
    if (error.empty()) EXPECT_EQ(actual.warnings, expected.m_warnings) << what;
}

TEST(ConvertTest, AgreesWithAPlainReferenceConversion) {
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::string input = RandomConversionInput(random);
        std::size_t block = 1 + random() % 600;
        CMemorySource source(input, 1 + random() % 700, round % 2 == 1);
        CTagFile reader(source, "in.txt", block);
        CMemorySink records(1 + random() % 300);
        CValueTables tables;
        std::vector<CWarning> warnings;
        ConvertTags(reader, records, tables, warnings);
        Output actual;
        actual.records = records.Bytes();
        actual.tables = testing::TableBytes(tables);
        actual.warnings = testing::WarningMessages(warnings);
        ExpectSameAsReference(testing::ReferenceConvert(input, "in.txt"), actual, "",
                              "round " + std::to_string(round) + ": " + Hex(input.substr(0, 80)));
        if (::testing::Test::HasFailure()) return;
    }
}

// Batches applied by the reading thread itself, when no applying thread can be started, give the
// same conversion.
TEST(ConvertTest, AgreesWithTheReferenceWhenNoThreadStarts) {
    std::string input;
    for (int i = 0; i < 40000; ++i) {
        input += "<@>" + std::to_string(i) + "\n<l>text " + std::to_string(i) + "\n<m>" +
                 std::to_string(i % 300) + "<q" + std::to_string(i % 150) + ">\n";
    }
    SetThreadStartsAllowedForTesting(0);
    Output actual = Convert(input);
    SetThreadStartsAllowedForTesting(-1);
    ExpectSameAsReference(testing::ReferenceConvert(input, "in.txt"), actual, "", "no thread");
}

// Pairs are read in batches while a second thread applies the batch before; a content copied for
// a pair must stay with that pair's batch, also when the pair is the first of a new batch. Here a
// record start fills a batch exactly, many times over, and the text after it is copied.
TEST(ConvertTest, ACopiedContentStaysWithItsBatch) {
    std::string input = "<@>0\n<b>1\n<t>1/1/1\n";
    for (int i = 1; i < 60000; ++i) {
        input += "<@>" + std::to_string(i) + "\n<l>line " + std::to_string(i) +
                 " of a text\nand its second line\n";
    }
    testing::CReferenceOutput expected = testing::ReferenceConvert(input, "in.txt");
    for (int run = 0; run < 20; ++run) {
        CMemorySource source(input);
        CTagFile reader(source, "in.txt");
        CMemorySink records;
        CValueTables tables;
        std::vector<CWarning> warnings;
        ConvertTags(reader, records, tables, warnings);
        ASSERT_EQ(FirstDifference(records.Bytes(), expected.m_strRecords), "") << "run " << run;
    }
}

// Contents of many kilobytes are applied as they are read, the text moved rather than copied;
// around them, the short ones still go through the batches.
TEST(ConvertTest, LongContentsGiveWhatShortOnesWould) {
    std::string lines;
    for (int i = 0; i < 400; ++i)
        lines += "  a line of a long text, hyphen-\r\nated " + std::to_string(i) + " \r\n";
    const std::string kInputs[] = {
        "<@>1<l>" + lines + "<b>2<@>2<m>" + lines + "<@>3<l>short<@>4",
        "<@>1<l>" + std::string(9000, 'x') + "<@>2<t>1-2-3<@>3<l>" + lines + "<x>" + lines,
    };
    for (const std::string& input : kInputs) {
        testing::CReferenceOutput expected = testing::ReferenceConvert(input, "in.txt");
        for (bool lends : {false, true}) {
            CMemorySource source(input, 3000, lends);
            CTagFile reader(source, "in.txt", 1000);
            CMemorySink records;
            CValueTables tables;
            std::vector<CWarning> warnings;
            ConvertTags(reader, records, tables, warnings);
            EXPECT_EQ(FirstDifference(records.Bytes(), expected.m_strRecords), "");
            EXPECT_EQ(testing::TableBytes(tables), expected.m_tables);
            EXPECT_EQ(testing::WarningMessages(warnings), expected.m_warnings);
        }
    }
}

std::vector<std::string> OutputNames() {
    std::vector<std::string> names{kRecordFileName};
    for (std::size_t i = 0; i < kTableCount; ++i)
        names.push_back(TableFileName(i));
    return names;
}

class ConvertFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("halvic-convert-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "out");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    testing::CFileList OutFiles() { return ListFiles(m_dir / "out"); }

    void PutOldOutputs() {
        for (const std::string& name : OutputNames())
            WriteFile(m_dir / "out" / name, "old " + name);
    }

    fs::path m_dir;
};

TEST_F(ConvertFileTest, WritesAllSevenFiles) {
    PutOldOutputs();
    WriteFile(m_dir / "in.txt", "<@>1<l>First text<c>alpha\r\n<@>2<m>beta");
    CConvertResult result = ConvertFile((m_dir / "in.txt").string(), {(m_dir / "out").string()});
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
        CConvertResult result = ConvertFile(c.input, {c.outputDir});
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
    ASSERT_TRUE(ConvertFile((m_dir / "in.txt").string(), {(m_dir / "out").string()}).m_bOk);
    EXPECT_EQ(ReadFile(m_dir / "elsewhere"), "keep me");
    EXPECT_FALSE(fs::is_symlink(m_dir / "out" / kRecordFileName));
    EXPECT_EQ(Hex(ReadFile(m_dir / "out" / kRecordFileName)),
              std::string("1F 01 ") + kEmptyIds + " 00");
}

TEST_F(ConvertFileTest, BundledExampleGivesItsExpectedFiles) {
    fs::path examples = fs::path(HALVIC_SOURCE_DIR) / "examples";
    CConvertResult result =
        ConvertFile((examples / "sample.txt").string(), {(m_dir / "out").string()});
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
        CConvertResult result = ConvertFile(path, {(m_dir / "out").string()});
        Output actual;
        if (result.m_bOk) {
            actual.records = ReadFile(m_dir / "out" / kRecordFileName);
            for (std::size_t i = 0; i < kTableCount; ++i)
                actual.tables[i] = ReadFile(m_dir / "out" / TableFileName(i));
            for (const CWarning& warning : result.m_warnings)
                actual.warnings.push_back(warning.Message());
        }
        testing::CReferenceOutput expected = testing::ReferenceConvert(*input, path);
        if (!expected.m_strError.empty()) {
            // A failed conversion leaves no output to compare; the error must be the same.
            EXPECT_FALSE(result.m_bOk);
            EXPECT_EQ(result.m_error.Message(), expected.m_strError);
            continue;
        }
        ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
        ExpectSameAsReference(expected, actual, "", path);
    }
}

}  // namespace
}  // namespace halvic
