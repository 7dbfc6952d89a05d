// Failures that must end as a message and a status, never as an abort or a signal, and limits that
// must hold whatever the input: threads that cannot be started, an input cut short while it is
// read, memory that runs out, `dump` writing to an output that fails or reading files that are
// no conversion's output, and the cap on warnings. A failed conversion leaves the old files byte
// for byte as they were and no temporary file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/files.h"
#include "tests/support/output_files.h"
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
using testing::ReadFile;
using testing::Records;
using testing::RunProcess;
using testing::WriteFile;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class FailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_dir / "out");
        PutOldOutputs(m_dir / "out");
        m_old = ListFiles(m_dir / "out");
    }

    CProcessResult Run(std::vector<std::string> args, CProcessOptions options = {}) {
        args.insert(args.begin(), HALVIC_BIN);
        if (options.m_strWorkDir.empty()) options.m_strWorkDir = m_dir.string();
        return RunProcess(args, options);
    }

    // Converts `input` (written to NAME) into `dir` with nothing in the way, for comparison.
    CFileList ConvertedAsUsual(const std::string& name, const std::string& input,
                               const std::string& dir) {
        WriteFile(m_dir / name, input);
        fs::create_directories(m_dir / dir);
        CProcessResult result = Run({"convert", name, "-o", dir});
        EXPECT_EQ(result.m_nExitCode, 0) << result.m_strErr;
        return ListFiles(m_dir / dir);
    }

    testing::CScratchDir m_scratch{"halvic-failure"};
    const fs::path m_dir = m_scratch.Path();
    CFileList m_old;  // the old outputs, which every failure must leave as they are
};

// The small input is read in one go (a batch applier and a background writer), the large one in
// parts (two part threads and the writer). Whichever thread start is refused, the work is done on
// the calling thread and the output is the same byte for byte.
TEST_F(FailureTest, RefusedThreadStartsLeaveTheWorkToTheCallingThread) {
    const struct {
        const char* name;
        std::string input;
    } kInputs[] = {{"small.txt", Records(1, 100000)}, {"large.txt", Records(1, 400000)}};
    for (const auto& in : kInputs) {
        CFileList expected = ConvertedAsUsual(in.name, in.input, std::string("usual-") + in.name);
        ASSERT_EQ(expected.size(), OutputNames().size());
        for (int allowed = 0; allowed <= 3; ++allowed) {
            SCOPED_TRACE(std::string(in.name) +
                         ", thread starts allowed: " + std::to_string(allowed));
            fs::path out = m_dir / ("out-" + std::to_string(allowed));
            fs::remove_all(out);
            fs::create_directories(out);
            CProcessOptions refused;
            refused.m_env = {"HALVIC_TEST_THREAD_STARTS=" + std::to_string(allowed)};
            // Quiet: so many records repeat record numbers, which is not what is tested here.
            CProcessResult result = Run({"convert", "-q", in.name, "-o", out.string()}, refused);
            EXPECT_EQ(result.m_nExitCode, 0);
            EXPECT_EQ(result.m_nSignal, 0);
            EXPECT_EQ(result.m_strErr, "");
            EXPECT_EQ(ListFiles(out), expected) << "other output, or a temporary left";
        }
    }
}

// The end-to-end case of a real limit: `ulimit -u 1` as an unprivileged user, under which no
// thread can be started at all.
TEST_F(FailureTest, AProcessLimitIsNoFailure) {
    std::string input = Records(1, 400000);
    CFileList expected = ConvertedAsUsual("in.txt", input, "usual");
    fs::permissions(m_dir, fs::perms::all);
    fs::permissions(m_dir / "out", fs::perms::all);
    for (const std::string& name : OutputNames())
        fs::permissions(m_dir / "out" / name, fs::perms::all);
    CProcessOptions limited;
    // Root is not held to the limit: the child becomes nobody first.
    limited.m_bUnprivileged = true;
    limited.m_nProcessLimit = 1;
    // LeakSanitizer would need a thread of its own at the end.
    limited.m_env = {"ASAN_OPTIONS=detect_leaks=0"};
    CProcessResult result;
    try {
        result = Run({"convert", "-q", "in.txt", "-o", "out"}, limited);
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).find("no unprivileged user") == std::string::npos) throw;
        GTEST_SKIP() << e.what();
    }
    ASSERT_EQ(result.m_nSignal, 0) << result.m_strErr;
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_strErr;
    EXPECT_EQ(result.m_strErr, "");
    EXPECT_EQ(ListFiles(m_dir / "out"), expected);
}

// Cut short by another program between two parts of its reading (the test seam truncates it as
// soon as the reading has got past the given offset): one message, status 1, the old files. The
// same by path and on standard input.
TEST_F(FailureTest, AnInputCutShortWhileItIsReadIsReported) {
    const struct {
        const char* name;
        std::string input;
        std::size_t cutTo;
    } kInputs[] = {
        // Read in one go, block by block: cut once the second block of 2 MB is asked for.
        {"small.txt", Records(1, 100000), std::size_t{2} << 20},
        // Read in parts of 512 KB on two threads: cut once the first 6 MB have been joined.
        {"large.txt", Records(1, 400000), std::size_t{6} << 20},
        // Cut to nothing.
        {"to-nothing.txt", Records(1, 400000), 0},
        // Decoded from UTF-8 as it is read.
        {"utf-8.txt", "\xEF\xBB\xBF" + Records(1, 400000), std::size_t{3} << 20},
    };
    for (const auto& in : kInputs) {
        for (bool onStdin : {false, true}) {
            SCOPED_TRACE(std::string(in.name) + (onStdin ? " on standard input" : " by path"));
            WriteFile(m_dir / in.name, in.input);
            CProcessOptions cut;
            cut.m_env = {"HALVIC_TEST_TRUNCATE_INPUT=" + std::to_string(in.cutTo)};
            CProcessResult result;
            if (onStdin) {
                cut.m_strWorkDir = m_dir.string();
                result = RunProcess(
                    {"/bin/sh", "-c", "exec \"$0\" convert - -o out < \"$1\"", HALVIC_BIN, in.name},
                    cut);
            } else {
                result = Run({"convert", in.name, "-o", "out"}, cut);
            }
            EXPECT_EQ(result.m_nSignal, 0);
            EXPECT_EQ(result.m_nExitCode, 1);
            EXPECT_EQ(result.m_strErr, std::string("halvic: error: ") +
                                           (onStdin ? "<stdin>" : in.name) +
                                           ": the file was truncated while it was being read\n");
            EXPECT_EQ(fs::file_size(m_dir / in.name), in.cutTo) << "the seam did not cut the input";
            EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
        }
    }
}

// Memory that runs out is "out of memory", status 1: in a conversion (a content larger than the
// address space) and in a dump (a table text as
// large).
TEST_F(FailureTest, MemoryThatRunsOutIsReported) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than is left here";
    const long kLimit = 32L << 20;
    std::string huge(48 << 20, 'x');
    WriteFile(m_dir / "huge.txt", "<@>1\n<l>" + huge);
    CProcessOptions limited;
    limited.m_nAddressSpaceLimit = kLimit;
    CProcessResult convert = Run({"convert", "huge.txt", "-o", "out"}, limited);
    EXPECT_EQ(convert.m_nSignal, 0);
    EXPECT_EQ(convert.m_nExitCode, 1);
    EXPECT_EQ(convert.m_strErr, "halvic: error: huge.txt: out of memory\n");
    EXPECT_EQ(ListFiles(m_dir / "out"), m_old);

    fs::create_directories(m_dir / "big-table");
    for (const std::string& name : OutputNames())
        WriteFile(m_dir / "big-table" / name, "");
    WriteFile(m_dir / "big-table/qxa.qxd", huge + '\0');
    CProcessResult dump = Run({"dump", "big-table"}, limited);
    EXPECT_EQ(dump.m_nSignal, 0);
    EXPECT_EQ(dump.m_nExitCode, 1);
    EXPECT_EQ(dump.m_strErr, "halvic: error: big-table/qxa.qxd: out of memory\n");
    EXPECT_EQ(dump.m_strOut, "");
}

// A dump holds the table texts and the longest record once, and a few MB more: a 24 MB text, in
// a record or in a table, is shown in every format within 32 MB of address space more than the
// text (a record file read into a buffer that grows, or a line made whole before it is written,
// would need several times the text).
TEST_F(FailureTest, ADumpHoldsALongTextOnce) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers need more address space than is left here";
    std::string text = "ab\xE9";  // \xE9 is escaped in text, two bytes of UTF-8 in jsonl and csv
    while (text.size() < (std::size_t{24} << 20))
        text += text;
    CRecord record;
    record.m_strText = text;
    record.m_tableIds = {1, 0, 0, 0, 0, 0};
    CRecord shortRecord = record;
    shortRecord.m_strText = "oak chest";
    const struct {
        const char* dir;
        std::string records;
        std::string table;  // table m
    } kSets[] = {
        {"long-record", testing::RecordFileBytes({record}), std::string("oak", 4)},
        {"long-table", testing::RecordFileBytes({shortRecord}), text + '\0'},
    };
    CProcessOptions limited;
    limited.m_nAddressSpaceLimit = static_cast<long>(text.size()) + (32L << 20);
    limited.m_strStdout = "/dev/null";
    for (const auto& set : kSets) {
        fs::create_directories(m_dir / set.dir);
        for (const std::string& name : OutputNames())
            WriteFile(m_dir / set.dir / name, "");
        WriteFile(m_dir / set.dir / "qxase.qxd", set.records);
        WriteFile(m_dir / set.dir / "qxm.qxd", set.table);
        for (std::string format : {"text", "jsonl", "csv", "tagged", "tagged -e utf-8"}) {
            SCOPED_TRACE(std::string(set.dir) + " as " + format);
            std::vector<std::string> args = {"dump", set.dir, "-f", format};
            if (format == "tagged -e utf-8")
                args = {"dump", set.dir, "-f", "tagged", "-e", "utf-8"};
            CProcessResult dump = Run(args, limited);
            EXPECT_EQ(dump.m_nExitCode, 0);
            EXPECT_EQ(dump.m_strErr, "");
        }
    }
}

// Nine thousand distinct tags that select no field: the first 100 are warned of, the rest counted
// in one more warning, and memory does not grow with their number.
TEST_F(FailureTest, WarningsOfUnknownTagsAreCapped) {
    std::string input = "<@>1\n";
    for (int i = 0; i < 9000; ++i)
        input += "<x" + std::to_string(i) + ">\n";
    input += "<x5>again\n<x100>again\n";
    WriteFile(m_dir / "tags.txt", input);
    CProcessResult result = Run({"convert", "tags.txt", "-o", "out"});
    EXPECT_EQ(result.m_nExitCode, 0);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        expected += "halvic: warning: tags.txt:" + std::to_string(i + 2) + ": tag <x" +
                    std::to_string(i) +
                    "> selects no field, so no field changed: the record keeps its values from "
                    "before\n";
    }
    expected +=
        "halvic: warning: tags.txt:102: 8,901 more tags select no field and changed nothing, the "
        "first here; only the first 100 distinct ones are listed\n";
    EXPECT_EQ(result.m_strErr, expected);
    EXPECT_EQ(Run({"convert", "--quiet", "tags.txt", "-o", "out"}).m_strErr, "");
}

class DumpFailureTest : public FailureTest {
  protected:
    void SetUp() override {
        FailureTest::SetUp();
        WriteFile(m_dir / "in.txt", Records(1, 30000));
        CProcessResult result = Run({"convert", "in.txt", "-o", "out"});
        ASSERT_EQ(result.m_nExitCode, 0) << result.m_strErr;
        m_old = ListFiles(m_dir / "out");
        m_strDump = Run({"dump", "out"}).m_strOut;
        ASSERT_GT(m_strDump.size(), std::size_t{1} << 20);
    }

    std::string m_strDump;  // the whole dump of out
};

// A write that fails is one message naming standard output, status 1: to a full disk, to a
// closed standard output, to a pipe whose reader has gone while SIGPIPE is ignored.
TEST_F(DumpFailureTest, AFailedWriteToStandardOutputIsReported) {
    const struct {
        const char* what;
        std::string stdoutPath;
        long taken;
        const char* reason;
    } kCases[] = {
        {"a full disk", "/dev/full", -1, "No space left on device"},
        {"a closed standard output", "-", -1, "Bad file descriptor"},
        {"a pipe closed by its reader", "", 100, "Broken pipe"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        CProcessOptions options;
        options.m_strStdout = c.stdoutPath;
        options.m_nStdoutTaken = c.taken;
        CProcessResult result = Run({"dump", "out", "-f", "csv"}, options);
        EXPECT_EQ(result.m_nSignal, 0);
        EXPECT_EQ(result.m_nExitCode, 1);
        EXPECT_EQ(result.m_strErr,
                  std::string("halvic: error: standard output: ") + c.reason + "\n");
    }
    EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
}

// `halvic dump | head` with SIGPIPE at its default: ended by the signal, silently, as `cat`
// would be.
TEST_F(DumpFailureTest, APipeClosedByItsReaderEndsTheDumpAsOtherTools) {
    CProcessOptions head;
    head.m_nStdoutTaken = 100;
    head.m_defaultSignals = {SIGPIPE};
    CProcessResult result = Run({"dump", "out"}, head);
    EXPECT_EQ(result.m_nSignal, SIGPIPE);
    EXPECT_EQ(result.m_strErr, "");
    EXPECT_EQ(result.m_strOut, m_strDump.substr(0, 100));
}

// A record file of 2 GB whose last 2 GB are a hole: the fault right after the records is
// reported at its offset, without reading on, in little time and memory.
TEST_F(DumpFailureTest, ASparseRecordFileIsReadOnlyUpToItsFault) {
    std::uintmax_t size = fs::file_size(m_dir / "out/qxase.qxd");
    fs::resize_file(m_dir / "out/qxase.qxd", std::uintmax_t{2} << 30);
    CProcessOptions options;
    if (kSanitized) {
        // AddressSanitizer keeps up to 256 MB of freed memory from being used again.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options.m_env = {"ASAN_OPTIONS=" + std::string(asan == nullptr ? "" : asan) +
                         ":quarantine_size_mb=16"};
    }
    CProcessResult result = Run({"dump", "out"}, options);
    EXPECT_EQ(result.m_nExitCode, 1);
    EXPECT_EQ(result.m_strErr, "halvic: error: out/qxase.qxd: offset " + std::to_string(size) +
                                   ": record ends without its identifier array\n");
    EXPECT_TRUE(result.m_strOut == m_strDump) << "the records before the fault differ";
    EXPECT_LT(result.m_nSeconds, 10.0);
    EXPECT_LT(result.m_nPeakKilobytes, 256 * 1024) << "memory grew with the file";
    std::printf("dump of a 2 GB sparse record file: %.2f s, peak %ld KB\n", result.m_nSeconds,
                result.m_nPeakKilobytes);
}

// What a conversion never writes, a named pipe, a device or a directory, is refused at once by
// name instead of blocking, reading forever or running out of memory.
TEST_F(DumpFailureTest, FilesThatAreNotRegularAreRefused) {
    const char* const kNotRegular = ": not a regular file; a conversion writes regular files\n";
    const struct {
        const char* file;
        const char* kind;
        std::string reason;
    } kCases[] = {
        {"qxn.qxd", "fifo", kNotRegular},
        {"qxn.qxd", "/dev/zero", kNotRegular},
        {"qxase.qxd", "/dev/zero", kNotRegular},
        {"qxase.qxd", "fifo", kNotRegular},
        {"qxs.qxd", "directory", ": Is a directory\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.file) + " as " + c.kind);
        fs::path dir = m_dir / "bad";
        fs::remove_all(dir);
        fs::copy(m_dir / "out", dir);
        fs::remove(dir / c.file);
        std::string kind = c.kind;
        if (kind == "fifo") {
            ASSERT_EQ(::mkfifo((dir / c.file).c_str(), 0600), 0);
        } else if (kind == "directory") {
            fs::create_directory(dir / c.file);
        } else {
            fs::create_symlink(kind, dir / c.file);
        }
        CProcessResult result = Run({"dump", "bad"});
        EXPECT_EQ(result.m_nSignal, 0);
        EXPECT_EQ(result.m_nExitCode, 1);
        EXPECT_EQ(result.m_strErr, "halvic: error: bad/" + std::string(c.file) + c.reason);
        EXPECT_EQ(result.m_strOut, "");
    }
}

// A directory the user may not write to is reported for what it is, by a conversion, a check
// and the prompt alike, with nothing left in it.
TEST_F(FailureTest, AnUnwritableDirectoryIsReportedAsSuch) {
    WriteFile(m_dir / "in.txt", "<@>1<l>a\n");
    fs::create_directories(m_dir / "ro");
    WriteFile(m_dir / "ro/in.txt", "<@>1<l>a\n");
    fs::permissions(m_dir, fs::perms::all);
    fs::permissions(m_dir / "in.txt", fs::perms::all);
    fs::permissions(m_dir / "ro/in.txt", fs::perms::all);
    fs::permissions(m_dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    const struct {
        std::vector<std::string> args;
        std::string workDir;
        std::string stdinText;
        std::string err;
    } kCases[] = {
        {{"convert", "in.txt", "-o", "ro"}, "", "", "halvic: error: ro: Permission denied\n"},
        {{"convert", "--check", "in.txt", "-o", "ro"},
         "",
         "",
         "halvic: error: ro: Permission denied\n"},
        {{"convert", "in.txt", "-o", "ro/new/dir"},
         "",
         "",
         "halvic: error: ro/new: Permission denied\n"},
        {{"convert", "--check", "in.txt", "-o", "ro/new/dir"},
         "",
         "",
         "halvic: error: ro/new: Permission denied\n"},
        {{}, "ro", "in.txt\n", "Filename: halvic: error: .: Permission denied\n"},
        {{"convert", "--check", "in.txt"}, "ro", "", "halvic: error: .: Permission denied\n"},
    };
    for (const auto& c : kCases) {
        CProcessOptions options;
        options.m_bUnprivileged = true;
        options.m_strWorkDir = (m_dir / c.workDir).string();
        options.m_strStdin = c.stdinText;
        CProcessResult result;
        try {
            result = Run(c.args, options);
        } catch (const std::runtime_error& e) {
            if (std::string(e.what()).find("no unprivileged user") == std::string::npos) throw;
            GTEST_SKIP() << e.what();
        }
        EXPECT_EQ(result.m_nExitCode, 1) << c.err;
        EXPECT_EQ(result.m_strErr, c.err);
    }
    EXPECT_EQ(ListFiles(m_dir / "ro").size(), 1u) << "something was written into ro";
}

// A conversion that fails leaves its output directory as it found it: no lock file where there
// was none (one that was there stays).
TEST_F(FailureTest, AFailedConversionLeavesNoLockFileBehind) {
    WriteFile(m_dir / "plain.txt", "no tag at all\n");
    WriteFile(m_dir / "good.txt", "<@>1<l>a\n");
    fs::create_directories(m_dir / "fresh");
    for (const char* input : {"missing.txt", "plain.txt"}) {
        CProcessResult result = Run({"convert", input, "-o", "fresh"});
        EXPECT_EQ(result.m_nExitCode, 1) << result.m_strErr;
        EXPECT_TRUE(fs::is_empty(m_dir / "fresh")) << input;
    }
    ASSERT_EQ(Run({"convert", "good.txt", "-o", "fresh"}).m_nExitCode, 0);
    EXPECT_TRUE(fs::exists(m_dir / "fresh/.halvic.lock"));
    EXPECT_EQ(Run({"convert", "plain.txt", "-o", "fresh"}).m_nExitCode, 1);
    EXPECT_TRUE(fs::exists(m_dir / "fresh/.halvic.lock"));
}

}  // namespace
}  // namespace halvic
