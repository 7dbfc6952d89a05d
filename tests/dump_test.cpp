// End-to-end tests of `halvic dump`: the three formats against golden files, escapes, faults and
// exit statuses.
//
// The golden files under tests/golden/dump/ are the expected output for examples/sample.txt. When
// a change of the output is intended, run the tests with HALVIC_UPDATE_GOLDEN=1 to rewrite them,
// and review the difference.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/format/record_format.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CProcessOptions;
using testing::CProcessResult;
using testing::InFolder;
using testing::ListFiles;
using testing::ReadFile;
using testing::RunProcess;
using testing::Unhex;
using testing::WriteFile;

class DumpTest : public ::testing::Test {
  protected:
    CProcessResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), HALVIC_BIN);
        CProcessOptions options;
        options.m_strWorkDir = m_dir.string();
        return RunProcess(args, options);
    }

    // Writes an output directory `name`: the record file from hex, and table files (all empty
    // unless given, by letter index).
    void WriteOutputs(const std::string& name, const std::string& recordsHex,
                      const std::vector<std::pair<int, std::string>>& tables = {}) {
        fs::create_directories(m_dir / name);
        WriteFile(m_dir / name / kRecordFileName, Unhex(recordsHex));
        for (std::size_t table = 0; table < kTableCount; ++table)
            WriteFile(m_dir / name / TableFileName(table), "");
        for (const auto& [index, bytes] : tables)
            WriteFile(m_dir / name / TableFileName(static_cast<std::size_t>(index)), bytes);
    }

    testing::CScratchDir m_scratch{"halvic-dump"};
    const fs::path m_dir = m_scratch.Path();
};

// Compares `actual` with the golden file, or rewrites the golden file when asked to.
void ExpectGolden(const std::string& name, const std::string& actual) {
    fs::path golden = fs::path(HALVIC_SOURCE_DIR) / "tests/golden/dump" / name;
    const char* update = std::getenv("HALVIC_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        WriteFile(golden, actual);
        return;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; run with HALVIC_UPDATE_GOLDEN=1";
    EXPECT_EQ(actual, ReadFile(golden)) << "differs from " << golden;
}

TEST_F(DumpTest, ConvertThenDumpTheSampleInEveryFormat) {
    fs::copy_file(fs::path(HALVIC_SOURCE_DIR) / "examples/sample.txt", m_dir / "sample.txt");
    fs::create_directories(m_dir / "out");
    CProcessResult convert = Run({"convert", "sample.txt", "--output", "out"});
    ASSERT_EQ(convert.m_nExitCode, 0) << convert.m_strErr;

    const struct {
        std::vector<std::string> args;
        const char* golden;
    } kCases[] = {
        {{"dump", "out"}, "sample.txt"},
        {{"dump", "out", "--format", "jsonl"}, "sample.jsonl"},
        {{"dump", "--format=csv", "out"}, "sample.csv"},
        {{"dump", "out", "-f", "tagged"}, "sample.tagged"},
        // One of the seven files stands for its directory.
        {{"dump", "out/qxase.qxd"}, "sample.txt"},
        {{"dump", "out/qxs.qxd", "--format", "jsonl"}, "sample.jsonl"},
    };
    for (const auto& c : kCases) {
        CProcessResult result = Run(c.args);
        EXPECT_EQ(result.m_nExitCode, 0) << c.golden;
        EXPECT_EQ(result.m_strErr, "") << c.golden;
        ExpectGolden(c.golden, result.m_strOut);
    }

    // The current directory by default; --record picks one line of the whole dump.
    fs::path out = m_dir / "out";
    CProcessOptions inOut;
    inOut.m_strWorkDir = out.string();
    CProcessResult whole = RunProcess({HALVIC_BIN, "dump"}, inOut);
    EXPECT_EQ(whole.m_nExitCode, 0);
    std::istringstream lines(whole.m_strOut);
    std::string line;
    for (int n = 1; std::getline(lines, line); ++n) {
        CProcessResult one = Run({"dump", "out", "--record", std::to_string(n)});
        EXPECT_EQ(one.m_nExitCode, 0);
        EXPECT_EQ(one.m_strOut, line + "\n") << n;
    }
    // In csv the header row comes first.
    std::string csv = ReadFile(fs::path(HALVIC_SOURCE_DIR) / "tests/golden/dump/sample.csv");
    std::string header = csv.substr(0, csv.find("\r\n") + 2);
    std::string last = csv.substr(csv.rfind("\r\n", csv.size() - 3) + 2);
    CProcessResult csvOne = Run({"dump", "out", "-f", "csv", "-r", "12"});
    EXPECT_EQ(csvOne.m_strOut, header + last);
}

// Texts with every kind of byte that needs care, an identifier 0, and a point outside the grid.
// Texts read in each encoding, in each format; bytes not valid there are kept or counted.
TEST_F(DumpTest, TextsAreReadInTheChosenEncoding) {
    fs::create_directories(m_dir / "out");
    // "€uro café" in the Windows code page, then "café" in UTF-8.
    WriteFile(m_dir / "in.txt", "<@>1<l>\x80uro caf\xE9<m>caf\xC3\xA9");
    ASSERT_EQ(Run({"convert", "in.txt", "-o", "out"}).m_nExitCode, 0);
    const std::string kWarning =
        " of the texts are not valid UTF-8 and became U+FFFD; --encoding latin1 keeps every "
        "byte, and --format text shows such bytes as \\xHH\n";
    const struct {
        std::vector<std::string> options;
        std::string text, mText, err;
    } kCases[] = {
        {{"-f", "jsonl"}, "\"\\u0080uro caf\xC3\xA9\"", "\"caf\xC3\x83\xC2\xA9\"", ""},
        {{"-f", "jsonl", "-e", "cp1252"},
         "\"\xE2\x82\xACuro caf\xC3\xA9\"",
         "\"caf\xC3\x83\xC2\xA9\"",
         ""},
        {{"-f", "jsonl", "-e", "utf-8"},
         "\"\xEF\xBF\xBDuro caf\xEF\xBF\xBD\"",
         "\"caf\xC3\xA9\"",
         "halvic: warning: 2 bytes" + kWarning},
        {{"-f", "csv", "-e", "utf-8"},
         ",\xEF\xBF\xBDuro caf\xEF\xBF\xBD,",
         ",caf\xC3\xA9,",
         "halvic: warning: 2 bytes" + kWarning},
        {{}, "text \"\\x80uro caf\\xE9\"", "m 1 \"caf\\xC3\\xA9\"", ""},
        {{"-e", "utf-8"}, "text \"\\x80uro caf\\xE9\"", "m 1 \"caf\xC3\xA9\"", ""},
        {{"-e", "cp1252"},
         "text \"\xE2\x82\xACuro caf\xC3\xA9\"",
         "m 1 \"caf\xC3\x83\xC2\xA9\"",
         ""},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> args = {"dump", "out"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        CProcessResult result = Run(args);
        std::string shown = result.m_strOut;
        EXPECT_EQ(result.m_nExitCode, 0) << shown;
        EXPECT_NE(shown.find(c.text), std::string::npos) << c.text << " in " << shown;
        EXPECT_NE(shown.find(c.mText), std::string::npos) << c.mText << " in " << shown;
        EXPECT_EQ(result.m_strErr, c.err) << shown;
    }
}

// --number picks every record with that number; a record that never had a grid reference says so.
TEST_F(DumpTest, RecordsChosenByTheirNumber) {
    fs::create_directories(m_dir / "out");
    WriteFile(m_dir / "in.txt", "<@>7<l>first<@>8<l>second<g>SU123456<@>7<l>third");
    ASSERT_EQ(Run({"convert", "in.txt", "-o", "out"}).m_nExitCode, 0);
    const std::string kIds = ", m 0, a 0, n 0, i 0, c 0, s 0\n";
    CProcessResult sevens = Run({"dump", "out", "--number", "7"});
    EXPECT_EQ(sevens.m_nExitCode, 0);
    EXPECT_EQ(sevens.m_strOut,
              "record 1: number 7, text \"first\", bValue 0, weight 0 lb (0-0-0), easting 0, "
              "northing 0 (no grid reference)" +
                  kIds +
                  "record 3: number 7, text \"third\", bValue 0, weight 0 lb (0-0-0), easting "
                  "14123, northing 6456 (SU 123 456)" +
                  kIds);
    CProcessResult json = Run({"dump", "out", "-n", "7", "-f", "jsonl"});
    EXPECT_NE(json.m_strOut.find("\"easting\":0,\"northing\":0,\"gridRef\":null"),
              std::string::npos)
        << json.m_strOut;
    CProcessResult none = Run({"dump", "out", "-n", "9"});
    EXPECT_EQ(none.m_nExitCode, 1);
    EXPECT_EQ(none.m_strOut, "");
    EXPECT_EQ(none.m_strErr,
              "halvic: error: " + InFolder("out", "qxase.qxd") + ": no record has number 9\n");
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"dump", "out", "-n", "65536"},
          {"dump", "out", "-n", "7", "-r", "1"}}) {
        EXPECT_EQ(Run(wrong).m_nExitCode, 2) << wrong[3];
    }
}

// The tagged text converts back into the same seven files; a record no tagged text gives is
// refused, and so is --record, which would give back one record of many.
TEST_F(DumpTest, TaggedTextConvertsBackIntoTheSameFiles) {
    fs::copy_file(fs::path(HALVIC_SOURCE_DIR) / "examples/sample.txt", m_dir / "sample.txt");
    fs::create_directories(m_dir / "out");
    fs::create_directories(m_dir / "again");
    ASSERT_EQ(Run({"convert", "sample.txt", "-o", "out"}).m_nExitCode, 0);
    CProcessResult dump = Run({"dump", "out", "--format", "tagged"});
    ASSERT_EQ(dump.m_nExitCode, 0) << dump.m_strErr;
    WriteFile(m_dir / "tagged.txt", dump.m_strOut);
    CProcessResult again = Run({"convert", "tagged.txt", "-o", "again"});
    ASSERT_EQ(again.m_nExitCode, 0) << again.m_strErr;
    EXPECT_EQ(again.m_strErr, "");
    EXPECT_EQ(ListFiles(m_dir / "again"), ListFiles(m_dir / "out"));

    // 40,000 lb, which no <t> tag gives (the record file is otherwise as a conversion writes it).
    WriteOutputs("heavy", "1F 01 34 40 9C A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00");
    CProcessResult heavy = Run({"dump", "heavy", "-f", "tagged"});
    EXPECT_EQ(heavy.m_nExitCode, 1);
    EXPECT_EQ(heavy.m_strErr, "halvic: error: " + InFolder("heavy", "qxase.qxd") +
                                  ": record 1: weight 40000 lb: no <t> tag gives more "
                                  "than 35955 lb\n");

    CProcessResult one = Run({"dump", "out", "-f", "tagged", "-r", "2"});
    EXPECT_EQ(one.m_nExitCode, 2);
    EXPECT_EQ(one.m_strErr,
              "halvic: error: --record cannot be combined with --format tagged\n"
              "Run 'halvic dump --help' for more information.\n");
}

TEST_F(DumpTest, ShowsEveryByteLosslesslyInEachFormat) {
    // Text: a\"b, 0xE9, LF, 0x7F, a comma and a quote; easting 30000 lies east of the grid.
    WriteOutputs("out",
                 "1F 07, 6C 61 5C 62 E9 0A 7F 2C 22 00, 25 30 75, 0E 05, "
                 "A4 06 00 00 01 00 00 00 00 00 00 00 02 00, 00",
                 {{1, std::string("x,y\0", 4)}, {5, std::string("\0\xA0\x01", 3) + '\0'}});
    const struct {
        const char* format;
        std::string out;
    } kCases[] = {
        {"text",
         "record 1: number 7, text \"a\\\\b\\xE9\\x0A\\x7F,\\\"\", bValue 0, weight 0 lb (0-0-0), "
         "easting 30000, northing 5, m 0, a 1 \"x,y\", n 0, i 0, c 0, s 2 \"\\xA0\\x01\"\n"},
        {"jsonl",
         "{\"record\":1,\"number\":7,\"text\":\"a\\\\b\xC3\xA9\\n\\u007F,\\\"\",\"bValue\":0,"
         "\"weight\":0,\"weightCwt\":\"0-0-0\",\"easting\":30000,\"northing\":5,\"gridRef\":null,"
         "\"m\":0,\"mText\":null,\"a\":1,\"aText\":\"x,y\",\"n\":0,\"nText\":null,\"i\":0,"
         "\"iText\":null,\"c\":0,\"cText\":null,\"s\":2,\"sText\":\"\xC2\xA0\\u0001\"}\n"},
        {"csv",
         "record,number,text,bValue,weight,weightCwt,easting,northing,gridRef,m,mText,a,aText,n,"
         "nText,i,iText,c,cText,s,sText\r\n"
         "1,7,\"a\\b\xC3\xA9\n\x7F,\"\"\",0,0,0-0-0,30000,5,,0,,1,\"x,y\",0,,0,,0,,2,\xC2\xA0\x01"
         "\r\n"},
    };
    for (const auto& c : kCases) {
        CProcessResult result = Run({"dump", "out", "--format", c.format});
        EXPECT_EQ(result.m_nExitCode, 0) << c.format;
        EXPECT_EQ(result.m_strErr, "") << c.format;
        EXPECT_EQ(result.m_strOut, c.out) << c.format;
    }
}

TEST_F(DumpTest, FaultsPrintTheRecordsBeforeThemAndExitWithOne) {
    const std::string kEmpty = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
    WriteOutputs("good", "1F 01 " + kEmpty + "1F 02 " + kEmpty);
    WriteOutputs("bad", "1F 01 " + kEmpty + "1F 02 7E");
    WriteOutputs("table", "1F 01 " + kEmpty, {{4, "Good"}});
    WriteOutputs("missing", "1F 01 " + kEmpty);
    fs::remove(m_dir / "missing" / "qxs.qxd");
    // Record 1 uses the a text "oak" that its table holds twice, which no conversion writes.
    WriteOutputs("twice", "1F 01 A4 06 00 00 03 00 00 00 00 00 00 00 00 00 00",
                 {{1, std::string("oak\0ash\0oak\0", 12)}});
    const std::string kTwice = "halvic: error: " + InFolder("twice", "qxa.qxd") +
                               ": offset 8: text 3 repeats text 1: a table holds each text once\n";
    const std::string kRecord1 =
        "record 1: number 1, text \"\", bValue 0, weight 0 lb (0-0-0), easting 0, northing 0 "
        "(no grid reference), m 0, a 0, n 0, i 0, c 0, s 0\n";

    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string err;
    } kCases[] = {
        {{"dump", "bad"},
         kRecord1,
         "halvic: error: " + InFolder("bad", "qxase.qxd") +
             ": offset 19: unknown code byte 0x7E\n"},
        {{"dump", "bad", "-f", "csv"},
         "record,number,text,bValue,weight,weightCwt,easting,northing,gridRef,m,mText,a,aText,n,"
         "nText,i,iText,c,cText,s,sText\r\n1,1,,0,0,0-0-0,0,0,,0,,0,,0,,0,,0,,0,\r\n",
         "halvic: error: " + InFolder("bad", "qxase.qxd") +
             ": offset 19: unknown code byte 0x7E\n"},
        // A fault after the record asked for is still a fault.
        {{"dump", "bad", "--record", "1"},
         kRecord1,
         "halvic: error: " + InFolder("bad", "qxase.qxd") +
             ": offset 19: unknown code byte 0x7E\n"},
        {{"dump", "good", "--record", "3"},
         "",
         "halvic: error: " + InFolder("good", "qxase.qxd") +
             ": there is no record 3: the file holds 2 records\n"},
        {{"dump", "table"},
         "",
         "halvic: error: " + InFolder("table", "qxc.qxd") +
             ": offset 0: text 1 cut short by the end of the file: its "
             "zero byte is missing\n"},
        {{"dump", "twice"}, "", kTwice},
        {{"dump", "twice", "-f", "tagged"}, "", kTwice},
        {{"dump", "missing"},
         "",
         "halvic: error: " + InFolder("missing", "qxs.qxd") + ": " +
             testing::Reasons().m_strNoFile + "\n"},
        {{"dump", "nowhere"},
         "",
         "halvic: error: " + InFolder("nowhere", "qxase.qxd") + ": " +
             testing::Reasons().m_strNoFolder + "\n"},
        {{"dump"}, "", "halvic: error: qxase.qxd: " + testing::Reasons().m_strNoFile + "\n"},
    };
    for (const auto& c : kCases) {
        CProcessResult result = Run(c.args);
        EXPECT_EQ(result.m_nExitCode, 1) << c.err;
        EXPECT_EQ(result.m_strOut, c.out) << c.err;
        EXPECT_EQ(result.m_strErr, c.err);
    }
}

TEST_F(DumpTest, CommandLineErrorsExitWithTwo) {
    const struct {
        std::vector<std::string> args;
        std::string firstLine;
    } kCases[] = {
        {{"dump", "--format", "xml"},
         "halvic: error: dump --format takes text, jsonl, csv or tagged, not 'xml'"},
        {{"dump", "--encoding", "ebcdic"},
         "halvic: error: dump --encoding takes latin1, cp1252, utf-8 or utf-16, not 'ebcdic'"},
        {{"dump", "--number", "x"},
         "halvic: error: dump --number takes a number from 0 to 65535, not 'x'"},
        {{"dump", "--record"}, "halvic: error: dump --record needs its N"},
        {{"dump", "--record", "0"}, "halvic: error: dump --record: records are numbered from 1"},
        {{"dump", "--record", "-1"},
         "halvic: error: dump --record: expected a record number, got '-1'"},
        {{"dump", "--record", "99999999999999999999"},
         "halvic: error: dump --record: record number 99999999999999999999 is too large"},
        {{"dump", "a", "b"}, "halvic: error: dump takes one DIR, and got 2: a b"},
    };
    for (const auto& c : kCases) {
        CProcessResult result = Run(c.args);
        EXPECT_EQ(result.m_nExitCode, 2) << c.firstLine;
        EXPECT_EQ(result.m_strOut, "");
        EXPECT_EQ(result.m_strErr,
                  c.firstLine + "\nRun 'halvic dump --help' for more information.\n");
    }

    CProcessResult help = Run({"dump", "--help"});
    EXPECT_EQ(help.m_nExitCode, 0);
    EXPECT_NE(help.m_strOut.find("Latin-1"), std::string::npos) << help.m_strOut;
}

}  // namespace
}  // namespace halvic
