// End-to-end tests of `halvic`: exit statuses, whole messages, and the output files on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CFileList;
using testing::CProcessOptions;
using testing::CProcessResult;
using testing::ListFiles;
using testing::OutputNames;
using testing::PutOldOutputs;
using testing::Quoted;
using testing::ReadFile;
using testing::Reasons;
using testing::RunProcess;
using testing::WriteFile;

// `err` with the time a conversion took ("in 0.012 s") as "in T s", since it differs from run to
// run.
std::string WithoutTime(std::string err) {
    const std::string::size_type from = err.find(" in ");
    const std::string::size_type to = err.find(" s\n", from);
    if (to != std::string::npos && err.find_first_not_of("0123456789.", from + 4) == to)
        err.replace(from + 4, to - from - 4, "T");
    return err;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_dir / "out");
        fs::create_directories(m_dir / "a-directory");
        fs::copy_file(fs::path(HALVIC_SOURCE_DIR) / "examples/sample.txt", m_dir / "sample.txt");
        WriteFile(m_dir / "warn.txt", "<@>1\n<x>a\n<l>y\n<x>b\n<Q>c\n<>\n<m>z\n");
        WriteFile(m_dir / "first.txt", "\n<l>x<@>1");
        PutOldOutputs(m_dir / "out");
        m_old = ListFiles(m_dir / "out");
        ASSERT_EQ(m_old.size(), OutputNames().size());
    }

    CProcessResult Run(std::vector<std::string> args, CProcessOptions options = {}) {
        args.insert(args.begin(), HALVIC_BIN);
        if (options.m_strWorkDir.empty()) options.m_strWorkDir = m_dir.string();
        return RunProcess(args, options);
    }

    // A command line that halvic refuses: status 2, the whole message, and every old file as it
    // was.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& err) {
        CProcessResult result = Run(args);
        EXPECT_EQ(result.m_nExitCode, 2) << err;
        EXPECT_EQ(result.m_strErr, err);
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << err;
    }

    void ExpectSampleOutputs(const fs::path& dir) {
        for (const std::string& name : OutputNames()) {
            EXPECT_EQ(ReadFile(dir / name),
                      ReadFile(fs::path(HALVIC_SOURCE_DIR) / "examples/expected" / name))
                << name;
        }
    }

    testing::CScratchDir m_scratch{"halvic-cli"};
    const fs::path m_dir = m_scratch.Path();
    CFileList m_old;  // the old outputs in out/, which every failure must leave as they are
};

TEST_F(CliTest, ConvertsAFileAndStandardInput) {
    CProcessResult fromFile = Run({"convert", "sample.txt", "-o", "out"});
    EXPECT_EQ(fromFile.m_nExitCode, 0);
    EXPECT_EQ(fromFile.m_strOut, "");
    EXPECT_EQ(fromFile.m_strErr, "");
    ExpectSampleOutputs(m_dir / "out");
    EXPECT_EQ(ListFiles(m_dir / "out").size(), OutputNames().size()) << "a temporary file was left";

    fs::create_directories(m_dir / "piped");
    CProcessOptions piped;
    piped.m_strStdin = ReadFile(m_dir / "sample.txt");
    piped.m_strWorkDir = (m_dir / "piped").string();
    CProcessResult fromStdin = Run({"convert", "-"}, piped);
    EXPECT_EQ(fromStdin.m_nExitCode, 0);
    EXPECT_EQ(fromStdin.m_strErr, "");
    ExpectSampleOutputs(m_dir / "piped");
}

TEST_F(CliTest, WarningsAndSummary) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } kCases[] = {
        {{"convert", "warn.txt", "-o", "out"},
         "halvic: warning: warn.txt:2: tag <x> selects no field, so no field changed: the record "
         "keeps its values from before\n"
         "halvic: warning: warn.txt:5: tag <Q> selects no field, so no field changed: the record "
         "keeps its values from before\n"
         "halvic: warning: warn.txt:7: tag <m> follows an empty tag <> but is not <@>; the rest "
         "of the input was ignored\n"},
        {{"convert", "--quiet", "warn.txt", "-o", "out"}, ""},
        {{"convert", "-", "-o", "out"},
         "halvic: warning: <stdin>: the file is empty, so the seven files become empty\n"},
    };
    for (const auto& c : kCases) {
        CProcessResult result = Run(c.args);
        EXPECT_EQ(result.m_nExitCode, 0) << c.args[1];
        EXPECT_EQ(result.m_strErr, c.err) << c.args[1];
    }

    // Windows replaces no file that is open: there, the old set is not compared after the commit.
#ifdef _WIN32
    const std::string kAgainstReplaced;
#else
    const std::string kAgainstReplaced =
        "halvic: against the files replaced: 12 added, 0 removed, 0 changed, 0 unchanged\n";
#endif
    CProcessResult verbose = Run({"convert", "-v", "sample.txt", "-o", "out"});
    EXPECT_EQ(verbose.m_nExitCode, 0);
    EXPECT_EQ(WithoutTime(verbose.m_strErr),
              "halvic: 12 records, 983 bytes written in T s\n"
              "halvic: distinct texts: m 6 a 6 n 6 i 9 c 3 s 2\n" +
                  kAgainstReplaced);
}

// A file that is not empty but gives no record is a mistake: converting it would replace a
// catalogue with seven empty files.
TEST_F(CliTest, AFileThatGivesNoRecordReplacesNothing) {
    const std::string kNothing = ", not <@>, so no record was converted and no file was replaced; ";
    const struct {
        const char* name;
        std::string input;
        std::string err;
    } kCases[] = {
        {"bom.txt", "\xEF\xBB\xBF<@>1<l>x",
         "bom.txt:1: the first tag is <\\xEF\\xBB\\xBF<@>" + kNothing +
             "the file begins with a byte-order mark (EF BB BF): save it without one"},
        {"blank.txt", "\r\n<@>1<l>x",
         "blank.txt:1: the first tag is <\\x0D\\x0A<@>" + kNothing +
             "the file begins with a blank line: it must begin with <@>"},
        {"space.txt", " <@>1",
         "space.txt:1: the first tag is < <@>" + kNothing +
             "the file begins with a space: it must begin with <@>"},
        {"title.txt", "Catalogue 1921\r\n<@>1<l>x",
         "title.txt:1: the first tag is <Catalogue 1921\\x0D\\x0A<@>" + kNothing +
             "text comes before the first <@>: the file must begin with <@>"},
        {"text.txt", "<l>x<@>1",
         "text.txt:1: the first tag is <l>" + kNothing +
             "every record begins with <@>, and so must the file"},
        // With no '>' at all, the whole file would be its first tag.
        {"plain.txt", "no markup at all",
         "plain.txt: no record was converted, since the file holds no tag, and no file was "
         "replaced"},
        {"long.txt", std::string(100, 'x') + "\n",
         "long.txt: no record was converted, since the file holds no tag, and no file was "
         "replaced"},
    };
    for (const auto& c : kCases) {
        WriteFile(m_dir / c.name, c.input);
        std::vector<std::string> args = {"convert", c.name, "-o", "out"};
        // A file with a byte-order mark is read in its encoding unless bytes are asked for.
        if (std::string(c.name) == "bom.txt") args.insert(args.end(), {"--from", "bytes"});
        CProcessResult result = Run(args);
        EXPECT_EQ(result.m_nExitCode, 1) << c.name;
        EXPECT_EQ(result.m_strErr, "halvic: error: " + c.err + "\n");
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << c.name;
    }
    // At the prompt a dragged, quoted path is taken without its quotes, and a name with a space
    // is quoted in messages.
    for (const char* typed : {"'my file.txt' \n", "  \"my file.txt\"\n"}) {
        CProcessOptions options;
        options.m_strStdin = typed;
        options.m_strWorkDir = m_dir.string();
        CProcessResult missing = RunProcess({HALVIC_BIN}, options);
        EXPECT_EQ(missing.m_nExitCode, 1);
        EXPECT_EQ(missing.m_strErr, "Filename: halvic: error: " + Quoted("my file.txt") + ": " +
                                        Reasons().m_strNoFile + "\n");
    }
    // The prompt says so too.
    CProcessOptions typed;
    typed.m_strStdin = "text.txt\n";
    typed.m_strWorkDir = m_dir.string();
    CProcessResult prompt = RunProcess({HALVIC_BIN}, typed);
    EXPECT_EQ(prompt.m_nExitCode, 1);
    EXPECT_EQ(prompt.m_strErr, "Filename: halvic: error: " + kCases[4].err + "\n");
}

TEST_F(CliTest, FailuresReplaceNothingAndLeaveNoTemporaryFile) {
    const struct {
        std::vector<std::string> args;
        long fileSizeLimit;
        std::string err;
    } kCases[] = {
        {{"convert", "missing.txt", "-o", "out"},
         -1,
         "halvic: error: missing.txt: " + Reasons().m_strNoFile + "\n"},
        {{"convert", "a-directory", "-o", "out"},
         -1,
         "halvic: error: a-directory: " + Reasons().m_strIsFolder + "\n"},
        {{"convert", "sample.txt", "-o", "sample.txt/sub"},
         -1,
         "halvic: error: sample.txt/sub: " + Reasons().m_strFileAsFolder + "\n"},
        {{"convert", "sample.txt", "-o", "sample.txt"},
         -1,
         "halvic: error: sample.txt: " + Reasons().m_strFileAsFolder + "\n"},
        {{"convert", "sample.txt", "-o", "out"},
         100,
         "halvic: error: out/qxase.qxd: File too large\n"},
    };
    for (const auto& c : kCases) {
        if (c.fileSizeLimit >= 0 && !testing::kCanLimitFileSize) continue;
        CProcessOptions options;
        options.m_nFileSizeLimit = c.fileSizeLimit;
        CProcessResult result = Run(c.args, options);
        EXPECT_EQ(result.m_nExitCode, 1) << c.err;
        EXPECT_EQ(result.m_strErr, c.err);
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << c.err;
    }
}

TEST_F(CliTest, CommandLineErrorsExitWithTwo) {
    const std::string kConvertHelp = "Run 'halvic convert --help' for more information.\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } kCases[] = {
        {{"convert"}, "halvic: error: convert takes one INPUT, and got none\n" + kConvertHelp},
        {{"bogus"},
         "halvic: error: unknown command 'bogus'\nThe commands are convert, diff, dump and help. "
         "Run "
         "'halvic --help' for more information.\n"},
        {{"convert", "a.txt", "b.txt"},
         "halvic: error: convert takes one INPUT, and got 2: a.txt b.txt\n" + kConvertHelp},
        {{"convert", "sample.txt", "--quiet", "--verbose"},
         "halvic: error: convert takes --quiet or --verbose, not both\n" + kConvertHelp},
        {{"convert", "sample.txt", "--strict=3"},
         "halvic: error: convert --strict takes no value\n" + kConvertHelp},
        {{"convert", "sample.txt", "--frobnicate"},
         "halvic: error: convert has no option --frobnicate\n" + kConvertHelp},
        {{"convert", "-x"}, "halvic: error: convert has no option -x\n" + kConvertHelp},
        {{"convert", "sample.txt", "-o"},
         "halvic: error: convert --output-dir needs its DIR\n" + kConvertHelp},
        {{"convert", "sample.txt", "-o", "a", "--output", "b"},
         "halvic: error: convert --output-dir is given 2 times, and takes one value\n" +
             kConvertHelp},
        {{"--output-dir", "x"},
         "halvic: error: halvic has no option --output-dir\nRun 'halvic --help' for more "
         "information.\n"},
        {{"convert", "sample.txt", "--from", "ebcdic"},
         "halvic: error: convert --from takes bytes, utf-8, utf-16, cp1252 or latin1, not "
         "'ebcdic'\n" +
             kConvertHelp},
        {{"convert", "sample.txt", "--wait", "-1"},
         "halvic: error: convert --wait takes a number from 0 to 31536000, not '-1'\n" +
             kConvertHelp},
        {{"dump", "out", "--wait", "soon"},
         "halvic: error: dump --wait takes a number from 0 to 31536000, not 'soon'\nRun 'halvic "
         "dump --help' for more information.\n"},
    };
    for (const auto& c : kCases)
        ExpectRefused(c.args, c.err);
}

// Names are UTF-8 on the command line of every system (UTF-16 on Windows's, converted), and reach
// the files whole: a name the system would spell differently fails to open or lands elsewhere.
TEST_F(CliTest, NonAsciiInputAndOutputFolder) {
    const std::string input = "M\xC3\xBChle \xE2\x82\xAC.txt";  // "Mühle €.txt"
    const std::string folder = "Ausgabe \xC3\xBC\xE2\x82\xAC";  // "Ausgabe ü€"
    fs::copy_file(m_dir / "sample.txt", m_dir / fs::u8path(input));
    fs::create_directories(m_dir / fs::u8path(folder));
    CProcessResult result = Run({"convert", input, "-o", folder});
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, "");
    ExpectSampleOutputs(m_dir / fs::u8path(folder));

    CProcessResult missing = Run({"convert", folder + "/" + input});
    EXPECT_EQ(missing.m_nExitCode, 1);
    // Quoted, for the space in it.
    EXPECT_EQ(missing.m_strErr, "halvic: error: " + Quoted(folder + "/" + input) + ": " +
                                    Reasons().m_strNoFile + "\n");
}

TEST_F(CliTest, AMistakeOnTheCommandLineSaysWhatWasProbablyMeant) {
    const std::string kCommands =
        "The commands are convert, diff, dump and help. Run 'halvic --help' for more "
        "information.\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } kCases[] = {
        {{"frob"}, "halvic: error: unknown command 'frob'\n" + kCommands},
        {{"frob", "convert"}, "halvic: error: unknown command 'frob'\n" + kCommands},
        {{"conver", "sample.txt"},
         "halvic: error: unknown command 'conver'\nDid you mean 'convert'?\n" + kCommands},
        {{"help", "dmup"},
         "halvic: error: unknown command 'dmup'\nDid you mean 'dump'?\n" + kCommands},
        {{"sample.txt", "-o", "out"},
         "halvic: error: unknown command 'sample.txt'\nDid you mean 'halvic convert "
         "sample.txt'?\n" +
             kCommands},
        {{"convert", "sample.txt", "--verbos"},
         "halvic: error: convert has no option --verbos\nDid you mean "
         "'--verbose'?\nRun 'halvic convert --help' for more information.\n"},
        {{"dump", "--fromat", "csv"},
         "halvic: error: dump has no option --fromat\nDid you mean "
         "'--format'?\nRun 'halvic dump --help' for more information.\n"},
        {{"convert"},
         "halvic: error: convert takes one INPUT, and got none\nRun 'halvic convert --help' for "
         "more "
         "information.\n"},
    };
    for (const auto& c : kCases)
        ExpectRefused(c.args, c.err);
}

// Help fits 80 columns when it is not shown on a terminal, and each command lists its own exit
// statuses; "halvic help COMMAND" is "halvic COMMAND --help".
TEST_F(CliTest, HelpFitsTheScreenAndSpeaksOfItsCommand) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"},
                                                 {"convert", "--help"},
                                                 {"dump", "--help"},
                                                 {"help"},
                                                 {"help", "dump"}}) {
        CProcessResult result = Run(args);
        EXPECT_EQ(result.m_nExitCode, 0);
        std::istringstream lines(result.m_strOut);
        std::string line;
        while (std::getline(lines, line))
            EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_EQ(Run({"help", "dump"}).m_strOut, Run({"dump", "--help"}).m_strOut);
    EXPECT_EQ(Run({"help"}).m_strOut, Run({"--help"}).m_strOut);
    std::string convertHelp = Run({"convert", "--help"}).m_strOut;
    EXPECT_NE(convertHelp.find("  0  converted"), std::string::npos);
    EXPECT_EQ(convertHelp.find("dump"), std::string::npos) << convertHelp;
    std::string dumpHelp = Run({"dump", "--help"}).m_strOut;
    EXPECT_NE(dumpHelp.find("  0  every record was printed"), std::string::npos);
    EXPECT_EQ(dumpHelp.find("converted"), std::string::npos) << dumpHelp;
}

// An unknown option is named, also when INPUT is missing too.
TEST_F(CliTest, AnUnknownOptionIsNamed) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", "-x"}, {"convert", "sample.txt", "-x"}}) {
        ExpectRefused(args,
                      "halvic: error: convert has no option -x\n"
                      "Run 'halvic convert --help' for more information.\n");
    }
    ExpectRefused({"convert"},
                  "halvic: error: convert takes one INPUT, and got none\nRun 'halvic convert "
                  "--help' for more information.\n");
}

// Help fits the width it is given and breaks lines at spaces only: the words are the same at
// every width, and a paragraph that fits is on one line.
TEST_F(CliTest, HelpIsWrappedAtSpacesOnly) {
    auto words = [](const std::string& text) {
        std::istringstream in(text);
        std::vector<std::string> all;
        for (std::string word; in >> word;)
            all.push_back(word);
        return all;
    };
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"convert", "--help"}, {"dump", "--help"}}) {
        std::vector<std::string> reference;
        for (std::size_t width : {120, 80, 40}) {
            CProcessOptions options;
            options.m_env = {"COLUMNS=" + std::to_string(width)};
            CProcessResult help;
            try {
                help = Run(args, options);
            } catch (const std::runtime_error& e) {
                GTEST_SKIP() << e.what();  // no environment of its own for a child here
            }
            ASSERT_EQ(help.m_nExitCode, 0);
            if (reference.empty()) reference = words(help.m_strOut);
            EXPECT_EQ(words(help.m_strOut), reference) << args[0] << " at " << width;
            std::istringstream lines(help.m_strOut);
            for (std::string line; std::getline(lines, line);) {
                const std::size_t text = line.find_first_not_of(' ');
                const bool oneWord =
                    text == std::string::npos || line.find(' ', text) == std::string::npos;
                // Options' descriptions keep a column of at least 20 at any width.
                EXPECT_TRUE(line.size() <= std::max<std::size_t>(width, 50) || oneWord)
                    << width << ": " << line;
            }
            if (width == 120 && args[0] == "--help") {
                for (const char* phrase :
                     {"\n  1  the conversion failed; no output file was replaced (dump: a file is "
                      "missing or bad, or there is no record N)\n",
                      "\nRun without arguments, halvic asks for one file name and converts it "
                      "into the current directory. "}) {
                    EXPECT_NE(help.m_strOut.find(phrase), std::string::npos)
                        << phrase << help.m_strOut;
                }
            }
        }
    }
}

TEST_F(CliTest, HelpAndVersion) {
    CProcessResult help = Run({"--help"});
    EXPECT_EQ(help.m_nExitCode, 0);
    EXPECT_NE(help.m_strOut.find("convert"), std::string::npos);
    EXPECT_NE(help.m_strOut.find("  1  the conversion failed; no output file was replaced"),
              std::string::npos);
    CProcessResult convertHelp = Run({"convert", "--help"});
    EXPECT_EQ(convertHelp.m_nExitCode, 0);
    EXPECT_NE(convertHelp.m_strOut.find("--output-dir"), std::string::npos);
    CProcessResult version = Run({"--version"});
    EXPECT_EQ(version.m_nExitCode, 0);
    EXPECT_EQ(version.m_strOut, "halvic 1.0.0.1\n");
}

TEST_F(CliTest, PromptAsksForOneFileName) {
    const struct {
        std::string typed;
        int exitCode;
        std::string err;
        bool converts;
    } kCases[] = {
        {"sample.txt\n", 0, "Filename: ", true},
        {"sample.txt\r\n", 0, "Filename: ", true},
        {"", 0, "Filename: \n", false},  // end of input is Cancel
        {"\n", 1, "Filename: halvic: error: No file name was given.\n", false},
        {" sample.txt \n", 0, "Filename: ", true},  // spaces around a name are not part of it
    };
    for (const auto& c : kCases) {
        for (const std::string& name : OutputNames())
            fs::remove(m_dir / name);
        CProcessOptions options;
        options.m_strStdin = c.typed;
        CProcessResult result = Run({}, options);
        EXPECT_EQ(result.m_nExitCode, c.exitCode) << c.typed;
        EXPECT_EQ(result.m_strErr, c.err) << c.typed;
        if (c.converts) {
            ExpectSampleOutputs(m_dir);
        } else {
            EXPECT_FALSE(fs::exists(m_dir / "qxase.qxd")) << c.typed;
        }
    }
}

// The slips of a catalogue written by hand: each says what was written, what is stored and how
// to write it, in line order; --strict turns them into a failure that replaces nothing.
TEST_F(CliTest, MistakesAreWarnedInLineOrder) {
    WriteFile(m_dir / "mistakes.txt",
              "<@>70000\n<b>300\n<g>SU 123 456\n<t>12-2/14\n<L>oak\n<@>101\n"
              "<l>Jug, less than 1 lb: weight < 5 pounds<b>3>x\n<@>101\n<G>su123456\n");
    const std::string warnings =
        "halvic: warning: mistakes.txt:1: <@>70000 is stored as 4464: a record number is kept to "
        "16 bits, so 65535 is the largest\n"
        "halvic: warning: mistakes.txt:2: <b>300 is stored as 44: a <b> value is kept to 8 bits, "
        "so 255 is the largest\n"
        "halvic: warning: mistakes.txt:3: <g>SU 123 456 is stored as SU 023 456: the figures are "
        "read from its last six characters, \"23 456\"; write <g>SU123456\n"
        "halvic: warning: mistakes.txt:4: <t>12-2/14 is stored as 1558 lb (13-3-18): the second "
        "separator is not the first one again, so \"2/14\" is read as pounds; write <t>12-2-14\n"
        "halvic: warning: mistakes.txt:5: tag <L> selects no field, so no field changed: the "
        "record keeps its text from before; did you mean <l>?\n"
        "halvic: warning: mistakes.txt:7: tag < 5 pounds<b> holds a space, so it is probably a < "
        "inside a content: the content before it was cut at the <, and the bytes up to the next > "
        "were read as this tag, so the <b> among them was lost with its content; a content cannot "
        "hold a <: write it another way, such as \"less than\"\n"
        "halvic: warning: mistakes.txt:8: record number 101 again, first at line 6; each record "
        "with it is stored\n"
        "halvic: warning: mistakes.txt:9: tag <G> selects no field, so no field changed: the "
        "record keeps its grid reference from before; did you mean <g>?\n";
    const testing::CFileList old = ListFiles(m_dir / "out");
    CProcessResult strict = Run({"convert", "mistakes.txt", "-o", "out", "--strict"});
    EXPECT_EQ(strict.m_nExitCode, 1);
    EXPECT_EQ(strict.m_strErr, warnings +
                                   "halvic: error: mistakes.txt: 8 warnings, and any warning fails "
                                   "a strict conversion: no file was replaced\n");
    EXPECT_EQ(ListFiles(m_dir / "out"), old);
    CProcessResult result = Run({"convert", "mistakes.txt", "-o", "out"});
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, warnings);
}

// A missing output directory is made with its parents; one that cannot be is reported, and
// --check gives the conversion's verdict without making, writing or locking anything.
TEST_F(CliTest, TheOutputDirectoryIsMadeAndCheckedAlike) {
    const struct {
        std::string dir;
        int exitCode;
        std::string err;
    } kCases[] = {
        {"new/a/b", 0, ""},
        {"sample.txt/sub", 1,
         "halvic: error: sample.txt/sub: " + Reasons().m_strFileAsFolder + "\n"},
        {"sample.txt/sub/deeper", 1,
         "halvic: error: sample.txt/sub: " + Reasons().m_strFileAsFolder + "\n"},
        {"sample.txt", 1, "halvic: error: sample.txt: " + Reasons().m_strFileAsFolder + "\n"},
    };
    for (const auto& c : kCases) {
        CProcessResult check = Run({"convert", "--check", "sample.txt", "-o", c.dir});
        EXPECT_EQ(check.m_nExitCode, c.exitCode) << c.dir;
        EXPECT_EQ(check.m_strErr, c.err) << c.dir;
        if (c.exitCode == 0) {
            EXPECT_FALSE(fs::exists(m_dir / c.dir)) << "made by a check";
        }
        CProcessResult result = Run({"convert", "sample.txt", "-o", c.dir});
        EXPECT_EQ(result.m_nExitCode, c.exitCode) << c.dir;
        EXPECT_EQ(result.m_strErr, c.err) << c.dir;
    }
    ExpectSampleOutputs(m_dir / "new/a/b");
    // --verbose says when the directory is made, and only then.
    CProcessResult made = Run({"convert", "-v", "sample.txt", "-o", "other/dir"});
    EXPECT_EQ(made.m_strErr.rfind("halvic: created the output directory other/dir\n", 0), 0u)
        << made.m_strErr;
    CProcessResult checked = Run({"convert", "-v", "--check", "sample.txt", "-o", "third"});
    EXPECT_EQ(checked.m_strErr.rfind("halvic: would create the output directory third\n", 0), 0u)
        << checked.m_strErr;
    EXPECT_FALSE(fs::exists(m_dir / "third"));
    CProcessResult again = Run({"convert", "-v", "sample.txt", "-o", "other/dir"});
    EXPECT_EQ(again.m_strErr.find("output directory"), std::string::npos) << again.m_strErr;
}

// --strict fails on any warning about the input, and replaces nothing.
TEST_F(CliTest, StrictFailsOnAnyWarning) {
    WriteFile(m_dir / "unknown.txt", "<@>1<x>y<@>2<x>z");
    for (bool check : {false, true}) {
        std::vector<std::string> args = {"convert", "unknown.txt", "-o", "out", "--strict"};
        if (check) args.push_back("--check");
        CProcessResult result = Run(args);
        EXPECT_EQ(result.m_nExitCode, 1);
        EXPECT_EQ(result.m_strErr,
                  "halvic: warning: unknown.txt:1: tag <x> selects no field, so no field changed: "
                  "the record keeps its values from before\n"
                  "halvic: error: unknown.txt: 1 warning, and any warning fails a strict " +
                      std::string(check ? "check\n" : "conversion: no file was replaced\n"));
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
    }
    // The count is of every warning, those only counted included.
    std::string repeated;
    for (int i = 0; i <= 1234; ++i)
        repeated += "<@>7\n";
    WriteFile(m_dir / "repeated.txt", repeated);
    CProcessResult many = Run({"convert", "-q", "repeated.txt", "-o", "out", "--strict"});
    EXPECT_EQ(many.m_nExitCode, 1);
    EXPECT_EQ(many.m_strErr,
              "halvic: error: repeated.txt: 1,234 warnings, and any warning fails a strict "
              "conversion: no file was replaced\n");
    CProcessResult clean = Run({"convert", "sample.txt", "-o", "out", "--strict"});
    EXPECT_EQ(clean.m_nExitCode, 0);
    ExpectSampleOutputs(m_dir / "out");
}

// --check reports exactly what a conversion would, and writes nothing: no file, no lock.
TEST_F(CliTest, CheckReportsAsAConversionAndWritesNothing) {
    std::string full = "<@>1\n";
    for (int i = 0; i <= 65535; ++i)
        full += "<c>" + std::to_string(i) + "\n";
    const struct {
        const char* name;
        std::string input;
        int exitCode;
    } kCases[] = {
        {"good.txt", ReadFile(m_dir / "sample.txt"), 0},
        {"stops.txt", "<@>1<l>x<><l>y", 0},
        {"unknown.txt", "<@>1<x>y<L>z", 0},
        {"full.txt", full, 1},
        {"missing.txt", "", 1},
    };
    fs::create_directories(m_dir / "converted");
    for (const auto& c : kCases) {
        if (std::string(c.name) != "missing.txt") WriteFile(m_dir / c.name, c.input);
        CProcessResult converted = Run({"convert", c.name, "-o", "converted", "-v"});
        CProcessResult checked = Run({"convert", "--check", c.name, "-o", "out", "-v"});
        EXPECT_EQ(converted.m_nExitCode, c.exitCode) << c.name;
        EXPECT_EQ(checked.m_nExitCode, c.exitCode) << c.name;
        // The same words, but for the time taken, what becomes of the bytes and what a
        // conversion changed.
        auto same = [](std::string err) {
            std::string::size_type bytes = err.find(" bytes ");
            if (bytes != std::string::npos) err.erase(bytes, err.find('\n', bytes) - bytes);
            std::string::size_type changed = err.find("halvic: against the files replaced: ");
            if (changed != std::string::npos)
                err.erase(changed, err.find('\n', changed) + 1 - changed);
            return err;
        };
        EXPECT_EQ(same(checked.m_strErr), same(converted.m_strErr)) << c.name;
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << c.name;
        EXPECT_FALSE(fs::exists(m_dir / "out/.halvic.lock")) << c.name;
    }
}

}  // namespace
}  // namespace halvic
