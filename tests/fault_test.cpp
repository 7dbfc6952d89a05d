// Faults of `halvic convert` that need a big input, a signal or a limit set by the caller: each
// must end as promised, with the old output files byte for byte intact and no temporary file left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/conversion/convert_file.h"
#include "tests/support/end_to_end.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CChildProcess;
using testing::CProcessOptions;
using testing::CProcessResult;
using testing::ListFiles;
using testing::OutputNames;
using testing::PutOldOutputs;
using testing::ReadFile;
using testing::Records;
using testing::RunProcess;
using testing::WriteFile;

using CFiles = testing::CFileList;

// Halvic in `workDir` with the signal dispositions a shell gives it, whatever the test runner
// ignores.
CProcessOptions FromAShell(const fs::path& workDir) {
    CProcessOptions options;
    options.m_strWorkDir = workDir.string();
    options.m_defaultSignals = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE};
    return options;
}

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_dir / "out");
        PutOldOutputs(m_dir / "out");
        m_old = ListFiles(m_dir / "out");
    }

    // Runs `argv` with the scratch directory as its working directory.
    CProcessResult RunHere(const std::vector<std::string>& argv) const {
        testing::CProcessOptions options;
        options.m_strWorkDir = m_dir.string();
        return RunProcess(argv, options);
    }

    // The temporary record file once it holds bytes: the conversion is then well under way.
    bool WaitForRecordsWritten() {
        for (int i = 0; i < 2000; ++i) {
            for (const auto& entry : fs::directory_iterator(m_dir / "out")) {
                std::string name = entry.path().filename().string();
                if (name.rfind(".qxase.qxd.tmp.", 0) == 0 && fs::file_size(entry.path()) > 0) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    testing::CScratchDir m_scratch{"halvic-fault"};
    const fs::path m_dir = m_scratch.Path();
    CFiles m_old;  // the old outputs, which every failure must leave as they are
};

TEST_F(FaultTest, FullTableStopsTheConversion) {
    // One text more than a table can hold, in one record or spread over records; the line is the
    // one of the text that did not fit.
    std::string oneRecord = "<@>1\n";
    for (int i = 0; i <= 65535; ++i)
        oneRecord += "<c>" + std::to_string(i) + "\n";
    std::string manyRecords;
    for (int i = 0; i <= 65535; ++i)
        manyRecords += "<@>" + std::to_string(i) + "<l>x<s>text " + std::to_string(i) + "\n";
    // Repeats take no room: a full table still takes the texts it holds.
    std::string fullButRepeated =
        manyRecords.substr(0, manyRecords.rfind("<@>")) + "<@>65535<s>text 7\n";

    const struct {
        const char* name;
        std::string input;
        int exitCode;
        std::string err;
    } kCases[] = {
        {"one-record.txt", oneRecord, 1,
         "halvic: error: one-record.txt:65537: table c is full: it holds 65535 distinct texts, "
         "the most a table can hold\n"},
        {"many-records.txt", manyRecords, 1,
         "halvic: error: many-records.txt:65536: table s is full: it holds 65535 distinct texts, "
         "the most a table can hold\n"},
        {"just-fits.txt", fullButRepeated, 0, ""},
    };
    for (const auto& c : kCases) {
        WriteFile(m_dir / c.name, c.input);
        CProcessResult result = RunProcess(
            {HALVIC_BIN, "convert", (m_dir / c.name).string(), "-o", (m_dir / "out").string()});
        std::string err = result.m_strErr;
        std::string::size_type dir = err.find((m_dir / "").string());
        if (dir != std::string::npos) err.erase(dir, (m_dir / "").string().size());
        EXPECT_EQ(result.m_nExitCode, c.exitCode) << c.name;
        EXPECT_EQ(err, c.err) << c.name;
        if (c.exitCode != 0) {
            EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << c.name;
        } else {
            std::string table = ReadFile(m_dir / "out/qxs.qxd");
            EXPECT_EQ(std::count(table.begin(), table.end(), '\0'), 65535) << c.name;
            EXPECT_EQ(ListFiles(m_dir / "out").size(), OutputNames().size())
                << "a temporary was left";
        }
    }
}

TEST_F(FaultTest, FullTableStopsTheReadingAtOnce) {
    // One group of a million distinct texts, about 15 MB: halvic must stop at the first text
    // that does not fit (under 1 MB in), not read on to the end of the group.
    std::string input = "<@>1\n";
    for (int i = 0; i < 1000000; ++i)
        input += "<m>text " + std::to_string(i) + "\n";
    CChildProcess halvic({HALVIC_BIN, "convert", "-", "-o", "out"}, FromAShell(m_dir));
    std::size_t taken = halvic.Write(input);
    CProcessResult result = halvic.Wait();
    ASSERT_EQ(result.m_nSignal, 0);
    EXPECT_EQ(result.m_nExitCode, 1);
    EXPECT_EQ(result.m_strErr,
              "halvic: error: <stdin>:65537: table m is full: it holds 65535 distinct texts, the "
              "most a table can hold\n");
    EXPECT_LT(taken, input.size() / 4) << "halvic read on after the table was full";
    EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
}

TEST_F(FaultTest, TargetThatIsADirectoryReplacesNothing) {
    // The fifth target: the four before it must not have been replaced either.
    fs::remove(m_dir / "out/qxi.qxd");
    fs::create_directory(m_dir / "out/qxi.qxd");
    CFiles old = ListFiles(m_dir / "out");
    WriteFile(m_dir / "in.txt", Records(1, 100));
    CProcessResult result = RunProcess(
        {HALVIC_BIN, "convert", (m_dir / "in.txt").string(), "-o", (m_dir / "out").string()});
    EXPECT_EQ(result.m_nExitCode, 1);
    EXPECT_EQ(result.m_strErr,
              "halvic: error: " + (m_dir / "out/qxi.qxd").string() + ": Is a directory\n");
    EXPECT_EQ(ListFiles(m_dir / "out"), old);
}

TEST_F(FaultTest, InterruptedConversionLeavesTheOldFiles) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        CChildProcess halvic({HALVIC_BIN, "convert", "-", "-o", "out"}, FromAShell(m_dir));
        // Then the input stalls: the signal certainly lands in the middle of the conversion.
        halvic.Write(Records(1, 100000));
        ASSERT_TRUE(WaitForRecordsWritten());
        halvic.Signal(signal);
        CProcessResult result = halvic.Wait(/*closeInput=*/false);
        ASSERT_EQ(result.m_nSignal, signal) << "exit status " << result.m_nExitCode;
        EXPECT_EQ(result.m_strErr, "");
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
    }
}

TEST_F(FaultTest, HangupIgnoredByTheCallerStaysIgnored) {
    CProcessOptions nohup = FromAShell(m_dir);
    nohup.m_ignoredSignals = {SIGHUP};
    CChildProcess halvic({HALVIC_BIN, "convert", "-q", "-", "-o", "out"}, nohup);
    halvic.Write(Records(1, 100000));
    ASSERT_TRUE(WaitForRecordsWritten());
    halvic.Signal(SIGHUP);
    halvic.Write(Records(100001, 120000));
    CProcessResult result = halvic.Wait();
    ASSERT_EQ(result.m_nSignal, 0);
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, "");
    EXPECT_EQ(ReadFile(m_dir / "out/qxm.qxd").size(), 1890u) << "the texts 0 to 499";
    EXPECT_EQ(ListFiles(m_dir / "out").size(), OutputNames().size()) << "a temporary was left";
}

TEST_F(FaultTest, FileSizeLimitIsReportedNotFatal) {
    // SIGXFSZ at its default, as in a shell with `ulimit -f`.
    CProcessOptions limited = FromAShell(m_dir);
    limited.m_nFileSizeLimit = 4096;
    limited.m_strStdin = Records(1, 20000);
    CProcessResult result = RunProcess({HALVIC_BIN, "convert", "-", "-o", "out"}, limited);
    ASSERT_EQ(result.m_nSignal, 0);
    EXPECT_EQ(result.m_nExitCode, 1);
    EXPECT_EQ(result.m_strErr, "halvic: error: out/qxase.qxd: File too large\n");
    EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
}

// The directory's files after a conversion of `input` into an empty directory.
CFiles ConvertedSet(const fs::path& scratch, const std::string& name, const std::string& input) {
    fs::path dir = scratch / ("set-" + name);
    fs::create_directories(dir);
    WriteFile(scratch / name, input);
    CProcessResult result =
        RunProcess({HALVIC_BIN, "convert", (scratch / name).string(), "-o", dir.string()});
    EXPECT_EQ(result.m_nExitCode, 0) << result.m_strErr;
    return ListFiles(dir);
}

// Makes `dir` hold `set` and nothing else.
void PutSet(const fs::path& dir, const CFiles& set) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, bytes] : set)
        WriteFile(dir / name, bytes);
}

// Forks a conversion of `input` into `out` that kills itself, as kill -9 would, right before
// commit step `step` of output file `file`; as nobody when `unprivileged` and this process is
// root. Returns the wait status.
int ConvertAndDieBefore(const fs::path& input, const fs::path& out, ECommitStep step,
                        std::size_t file, bool unprivileged = false) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            _exit(127);
        CConvertOptions options;
        options.m_strOutputDir = out.string();
        options.m_output.m_commitHook = [step, file](ECommitStep now, std::size_t i) {
            if (now == step && i == file) ::raise(SIGKILL);
            return std::string();
        };
        ConvertFile(input.string(), options);
        _exit(0);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

const char* const kPutBack =
    "halvic: warning: out: a conversion into this directory was cut off while it replaced the "
    "files; the old files were put back\n";

TEST_F(FaultTest, AConversionKilledAtAnyStepOfItsCommitLeavesAWholeSet) {
    const CFiles oldSet = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    const CFiles newSet = ConvertedSet(m_dir, "new.txt", Records(1000, 1500));
    struct CStep {
        ECommitStep step;
        std::size_t file;
    };
    std::vector<CStep> steps = {{ECommitStep::kWriteRecord, 0}};
    for (std::size_t i = 0; i < 7; ++i) {
        steps.push_back({ECommitStep::kBackUp, i});
        steps.push_back({ECommitStep::kReplace, i});
    }
    steps.push_back({ECommitStep::kRemoveRecord, 0});
    steps.push_back({ECommitStep::kRemoveBackups, 0});
    for (const CStep& s : steps) {
        for (bool dumpFirst : {true, false}) {
            SCOPED_TRACE("step " + std::to_string(static_cast<int>(s.step)) + " of file " +
                         std::to_string(s.file) + (dumpFirst ? ", then dump" : ", then convert"));
            PutSet(m_dir / "out", oldSet);
            int status = ConvertAndDieBefore(m_dir / "new.txt", m_dir / "out", s.step, s.file);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            // The commit is done once its record is gone; before that it is undone.
            const bool done = s.step == ECommitStep::kRemoveBackups;
            const bool recorded = s.step != ECommitStep::kWriteRecord && !done;
            if (dumpFirst) {
                CProcessResult dump = RunHere({HALVIC_BIN, "dump", "out", "-r", "1"});
                EXPECT_EQ(dump.m_nExitCode, 0);
                EXPECT_EQ(dump.m_strErr, recorded ? kPutBack : "");
                EXPECT_EQ(ListFiles(m_dir / "out"), done ? newSet : oldSet);
            } else {
                CProcessResult convert = RunHere({HALVIC_BIN, "convert", "new.txt", "-o", "out"});
                EXPECT_EQ(convert.m_nExitCode, 0);
                EXPECT_EQ(convert.m_strErr, recorded ? kPutBack : "");
                EXPECT_EQ(ListFiles(m_dir / "out"), newSet);
            }
        }
    }
}

// A set refused: status 1, `message` and nothing printed.
void ExpectRefused(const CProcessResult& dump, const std::string& message) {
    EXPECT_EQ(dump.m_nExitCode, 1);
    EXPECT_EQ(dump.m_strOut, "");
    EXPECT_EQ(dump.m_strErr, message);
}

// A commit cut off by one user can be undone only by that user: any other reader, root too,
// refuses the set, which may be a mix, until the owner has put the old files back.
TEST_F(FaultTest, AnotherUsersCutOffCommitIsRefusedNotRead) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as two users";
    const CFiles oldSet = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    ConvertedSet(m_dir, "new.txt", Records(1000, 1500));
    fs::permissions(m_dir, fs::perms::all);
    const struct {
        const char* name;
        bool converterUnprivileged;
    } kCases[] = {{"nobody converts, root reads", true}, {"root converts, nobody reads", false}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        PutSet(m_dir / "out", oldSet);
        if (c.converterUnprivileged) {
            for (const auto& entry : fs::recursive_directory_iterator(m_dir / "out"))
                ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
            ASSERT_EQ(::chown((m_dir / "out").c_str(), 65534, 65534), 0);
        }
        int status = ConvertAndDieBefore(m_dir / "new.txt", m_dir / "out", ECommitStep::kReplace, 3,
                                         c.converterUnprivileged);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        const CFiles mixed = ListFiles(m_dir / "out");
        CProcessOptions owner, other;
        owner.m_strWorkDir = other.m_strWorkDir = m_dir.string();
        owner.m_bUnprivileged = c.converterUnprivileged;
        other.m_bUnprivileged = !c.converterUnprivileged;
        for (const char* format : {"text", "tagged"}) {
            ExpectRefused(
                RunProcess({HALVIC_BIN, "dump", "-f", format, "out"}, other),
                "halvic: error: out: a conversion into this directory was cut off while it "
                "replaced the files, and only the user who owns out/.halvic.commit may put "
                "the old files back; until that user converts into this directory or runs "
                "halvic dump on it once, the files may be a mix of two sets\n");
        }
        EXPECT_EQ(ListFiles(m_dir / "out"), mixed) << "the other user changed the set";
        CProcessResult putBack = RunProcess({HALVIC_BIN, "dump", "out", "-r", "1"}, owner);
        EXPECT_EQ(putBack.m_nExitCode, 0);
        EXPECT_EQ(putBack.m_strErr, kPutBack);
        EXPECT_EQ(ListFiles(m_dir / "out"), oldSet);
        CProcessResult dump = RunProcess({HALVIC_BIN, "dump", "out", "-r", "1"}, other);
        EXPECT_EQ(dump.m_nExitCode, 0) << dump.m_strErr;
        EXPECT_EQ(dump.m_strErr, "");
    }
}

// In a sticky directory (1777) another user's commit record cannot tell of a change to this
// user's files, which that user may not replace: conversions go on beside it (a commit record of
// their own under a name of its own), and readers read the set. A commit of this user's cut off
// there is still refused to any other reader, and put back by its owner.
TEST_F(FaultTest, AnotherUsersRecordInAStickyDirectoryBlocksNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as several users";
    const CFiles oldSet = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    const CFiles newSet = ConvertedSet(m_dir, "new.txt", Records(1000, 1500));
    fs::permissions(m_dir, fs::perms::all);
    const fs::path out = m_dir / "out";
    PutSet(out, oldSet);
    for (const auto& entry : fs::directory_iterator(out))
        ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(out.c_str(), 01777), 0);
    const std::string record = "halvic commit record 1\nqxase.qxd .qxase.qxd.tmp.1.1 -\n";
    WriteFile(out / ".halvic.commit", record);
    ASSERT_EQ(::chown((out / ".halvic.commit").c_str(), 4248, 4248), 0);
    CProcessOptions nobody;
    nobody.m_strWorkDir = m_dir.string();
    nobody.m_bUnprivileged = true;
    const std::string ignored =
        "halvic: warning: out/.halvic.commit: belongs to another user; ignored\n";

    CProcessResult read = RunProcess({HALVIC_BIN, "dump", "out", "-r", "1"}, nobody);
    EXPECT_EQ(read.m_nExitCode, 0) << read.m_strErr;
    EXPECT_EQ(read.m_strErr, ignored);
    CProcessResult convert = RunProcess({HALVIC_BIN, "convert", "new.txt", "-o", "out"}, nobody);
    EXPECT_EQ(convert.m_nExitCode, 0);
    EXPECT_EQ(convert.m_strErr, ignored);
    CFiles expected = newSet;
    expected.emplace(expected.begin(), ".halvic.commit", record);
    EXPECT_EQ(ListFiles(out), expected);

    // Cut off after its third file: only nobody may put the old files back.
    PutSet(out, oldSet);
    ASSERT_EQ(::chmod(out.c_str(), 01777), 0);
    WriteFile(out / ".halvic.commit", record);
    ASSERT_EQ(::chown((out / ".halvic.commit").c_str(), 4248, 4248), 0);
    for (const auto& entry : fs::directory_iterator(out)) {
        if (entry.path().filename() != ".halvic.commit") {
            ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
        }
    }
    int status = ConvertAndDieBefore(m_dir / "new.txt", out, ECommitStep::kReplace, 3, true);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    CProcessResult refused = RunHere({HALVIC_BIN, "dump", "out", "-r", "1"});
    EXPECT_EQ(refused.m_nExitCode, 1);
    EXPECT_EQ(refused.m_strOut, "");
    EXPECT_NE(refused.m_strErr.find("only the user who owns out/.halvic.commit.record."),
              std::string::npos)
        << refused.m_strErr;
    CProcessResult putBack = RunProcess({HALVIC_BIN, "dump", "out", "-r", "1"}, nobody);
    EXPECT_EQ(putBack.m_nExitCode, 0);
    EXPECT_EQ(putBack.m_strErr, ignored + kPutBack);
    expected = oldSet;
    expected.emplace(expected.begin(), ".halvic.commit", record);
    EXPECT_EQ(ListFiles(out), expected);
}

// Without the lock a reader could read a set while it is replaced: a lock file it cannot open
// (left private by a user's umask) makes it refuse, until the lock file's owner takes it once.
TEST_F(FaultTest, ALockFileThatCannotBeOpenedIsRefusedNotIgnored) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as two users";
    const CFiles set = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    for (const auto& [name, bytes] : set)
        WriteFile(m_dir / "out" / name, bytes);
    fs::permissions(m_dir, fs::perms::all);
    const fs::path lock = m_dir / "out" / ".halvic.lock";
    WriteFile(lock, "");
    fs::permissions(lock, fs::perms::owner_read | fs::perms::owner_write);
    CProcessOptions nobody;
    nobody.m_strWorkDir = m_dir.string();
    nobody.m_bUnprivileged = true;
    ExpectRefused(
        RunProcess({HALVIC_BIN, "dump", "out"}, nobody),
        "halvic: error: out/.halvic.lock: Permission denied; without the lock, a "
        "conversion into out may be replacing the files while they are read: the owner of "
        "out/.halvic.lock makes it readable by converting into that directory or running "
        "halvic dump on it once\n");
    EXPECT_EQ(RunHere({HALVIC_BIN, "dump", "out", "-r", "1"}).m_nExitCode, 0);
    EXPECT_EQ(fs::status(lock).permissions() & fs::perms::others_read, fs::perms::others_read);
    CProcessResult read = RunProcess({HALVIC_BIN, "dump", "out", "-r", "1"}, nobody);
    EXPECT_EQ(read.m_nExitCode, 0) << read.m_strErr;
    EXPECT_EQ(ListFiles(m_dir / "out"), set);
}

// In a directory others may write (1777 for root; for a user, one without the sticky bit, as a
// group's directory is), another user puts a link to a 0666 file of theirs at a target: the new
// file is the converting user's, with the usual mode, and the linked file stays.
TEST_F(FaultTest, ALinkPlantedAtATargetGivesTheNewFileNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as several users";
    const uid_t planter = 4247;
    WriteFile(m_dir / "in.txt", Records(1, 100));
    fs::permissions(m_dir, fs::perms::all);
    for (bool unprivileged : {false, true}) {
        SCOPED_TRACE(unprivileged ? "nobody converts" : "root converts");
        const fs::path out = m_dir / "shared";
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_EQ(::chmod(out.c_str(), unprivileged ? 0777 : 01777), 0);
        const fs::path planted = m_dir / "planted";
        WriteFile(planted, "the planter's own");
        ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
        ASSERT_EQ(::chown(planted.c_str(), planter, planter), 0);
        fs::create_symlink(planted, out / "qxn.qxd");
        ASSERT_EQ(::lchown((out / "qxn.qxd").c_str(), planter, planter), 0);
        CProcessOptions options;
        options.m_strWorkDir = m_dir.string();
        options.m_bUnprivileged = unprivileged;
        CProcessResult result = RunProcess(
            {"/bin/sh", "-c", "umask 022 && exec \"$0\" convert in.txt -o shared", HALVIC_BIN},
            options);
        EXPECT_EQ(result.m_nExitCode, 0) << result.m_strErr;
        struct stat now;
        ASSERT_EQ(::lstat((out / "qxn.qxd").c_str(), &now), 0);
        EXPECT_TRUE(S_ISREG(now.st_mode));
        EXPECT_EQ(now.st_uid, unprivileged ? 65534u : 0u);
        EXPECT_EQ(now.st_mode & 07777, 0644u);
        EXPECT_EQ(ReadFile(planted), "the planter's own");
    }
}

TEST_F(FaultTest, KillsAtRandomInstantsLeaveAWholeSet) {
    const CFiles oldSet = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    const CFiles newSet = ConvertedSet(m_dir, "new.txt", Records(1, 200000));
    // How long a whole conversion takes here, replacing a set.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunHere({HALVIC_BIN, "convert", "new.txt", "-o", "set-new.txt"}).m_nExitCode, 0);
    auto whole = std::chrono::steady_clock::now() - start;
    std::mt19937 random(42);
    int oldSets = 0, newSets = 0;
    for (int round = 0; round < 15; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        PutSet(m_dir / "out", oldSet);
        CChildProcess halvic({HALVIC_BIN, "convert", "new.txt", "-o", "out"}, FromAShell(m_dir));
        // Most kills late, where the files are being replaced.
        std::uniform_real_distribution<double> when(0.3, 2.0);
        std::this_thread::sleep_for(
            std::chrono::duration_cast<std::chrono::microseconds>(whole * when(random)));
        halvic.Signal(SIGKILL);
        halvic.Wait();
        CProcessResult dump = RunHere({HALVIC_BIN, "dump", "out", "-r", "1"});
        EXPECT_EQ(dump.m_nExitCode, 0) << dump.m_strErr;
        CFiles now = ListFiles(m_dir / "out");
        EXPECT_TRUE(now == oldSet || now == newSet) << "a mixed set, or something left behind";
        (now == oldSet ? oldSets : newSets)++;
    }
    std::printf("old set %d times, new set %d times\n", oldSets, newSets);
}

TEST_F(FaultTest, ConcurrentConversionsIntoOneDirectoryLeaveOneWholeSet) {
    std::vector<CFiles> sets;
    for (int i = 0; i < 4; ++i) {
        sets.push_back(ConvertedSet(m_dir, "in" + std::to_string(i) + ".txt",
                                    Records(i * 100000, i * 100000 + 30000 + i * 5000)));
    }
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<std::thread> runs;
        std::vector<CProcessResult> results(sets.size());
        for (std::size_t i = 0; i < sets.size(); ++i) {
            runs.emplace_back([&, i] {
                results[i] = RunHere(
                    {HALVIC_BIN, "convert", "in" + std::to_string(i) + ".txt", "-o", "out"});
            });
        }
        for (std::thread& run : runs)
            run.join();
        for (const CProcessResult& result : results) {
            EXPECT_EQ(result.m_nExitCode, 0);
            // A run may have waited a second for another.
            std::string err = result.m_strErr;
            const std::string waited = "halvic: waiting for another conversion into out\n";
            if (err.rfind(waited, 0) == 0) err.erase(0, waited.size());
            EXPECT_EQ(err, "");
        }
        CFiles now = ListFiles(m_dir / "out");
        EXPECT_NE(std::find(sets.begin(), sets.end(), now), sets.end())
            << "not the whole output of one input";
    }
}

TEST_F(FaultTest, ASecondConversionWaitsAndSaysSo) {
    WriteFile(m_dir / "in.txt", Records(1, 100));
    int fd = ::open((m_dir / "out/.halvic.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const std::string waiting = "halvic: waiting for another conversion into out\n";
    CProcessOptions options;
    options.m_strWorkDir = m_dir.string();
    // The lock goes once halvic has said a line, which must be that it waits, and not before.
    options.m_onStderr = [&](const std::string& err) {
        if (fd < 0 || err.back() != '\n') return;
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old) << "it did not wait";
        ::close(fd);
        fd = -1;
    };
    CProcessResult result = RunProcess({HALVIC_BIN, "convert", "in.txt", "-o", "out"}, options);
    if (fd >= 0) ::close(fd);
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, waiting);
    EXPECT_EQ(ReadFile(m_dir / "out/qxm.qxd").size(), 292u) << "the texts 1 to 100";
}

// With --wait, a conversion or a dump gives up when the lock is still held after the seconds
// given; one let go of meanwhile is taken as without --wait.
TEST_F(FaultTest, WaitGivesUpAfterItsSeconds) {
    WriteFile(m_dir / "in.txt", Records(1, 100));
    const std::string gaveUp =
        "halvic: error: out: another conversion into this directory still "
        "holds it after ";
    const std::string waiting = "halvic: waiting for another conversion into out\n";
    const struct {
        std::vector<std::string> args;
        bool letGo;  // the lock goes once halvic says that it waits
        int status;
        std::string err;
    } kCases[] = {
        {{"convert", "in.txt", "-o", "out", "--wait", "0"},
         false,
         1,
         gaveUp + "0 seconds of waiting; gave up\n"},
        {{"dump", "--wait", "0", "out"}, false, 1, gaveUp + "0 seconds of waiting; gave up\n"},
        {{"convert", "in.txt", "-o", "out", "--wait", "2"},
         false,
         1,
         waiting + gaveUp + "2 seconds of waiting; gave up\n"},
        {{"convert", "in.txt", "-o", "out", "--wait", "30"}, true, 0, waiting},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        int fd = ::open((m_dir / "out/.halvic.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        CProcessOptions options;
        options.m_strWorkDir = m_dir.string();
        options.m_onStderr = [&](const std::string& err) {
            if (c.letGo && fd >= 0 && err == waiting) {
                ::close(fd);
                fd = -1;
            }
        };
        std::vector<std::string> argv = {HALVIC_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CProcessResult result = RunProcess(argv, options);
        if (fd >= 0) ::close(fd);
        EXPECT_EQ(result.m_nExitCode, c.status);
        EXPECT_EQ(result.m_strErr, c.err);
        EXPECT_EQ(result.m_strOut, "");
        if (c.status != 0) {
            EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
        }
    }
    EXPECT_EQ(ReadFile(m_dir / "out/qxm.qxd").size(), 292u) << "the texts 1 to 100";
}

// The calls that flush files to the disk, as strace saw them: "fsync(FD</path>)" a line.
std::vector<std::string> FlushedPaths(const fs::path& log) {
    std::vector<std::string> paths;
    std::istringstream lines(ReadFile(log));
    std::string line;
    while (std::getline(lines, line)) {
        std::string::size_type open = line.find('<'), close = line.find('>');
        if (line.find("sync(") == std::string::npos || open == std::string::npos) continue;
        std::string path = line.substr(open + 1, close - open - 1);
        // Temporaries carry the process number: keep only the name they stand for.
        std::string::size_type tmp = path.find(".tmp.");
        if (tmp != std::string::npos) path.erase(tmp + 4);
        paths.push_back(path);
    }
    return paths;
}

// The environment setting a traced sanitized build needs: its leak checker cannot work under a
// tracer. Passed to strace as "-E" SETTING.
std::string UntracedLeakChecks() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":detect_leaks=0";
}

TEST_F(FaultTest, SyncFlushesEveryFileAndTheDirectoryBeforeSuccess) {
    WriteFile(m_dir / "in.txt", Records(1, 100));
    const std::string out = (m_dir / "out").string();
    for (bool sync : {true, false}) {
        SCOPED_TRACE(sync ? "--sync" : "without --sync");
        std::vector<std::string> args = {"strace",
                                         "-f",
                                         "-y",
                                         "-e",
                                         "trace=fsync,fdatasync,syncfs",
                                         "-o",
                                         (m_dir / "strace.log").string(),
                                         "-E",
                                         UntracedLeakChecks(),
                                         HALVIC_BIN,
                                         "convert",
                                         "in.txt",
                                         "-o",
                                         "out"};
        if (sync) args.push_back("--sync");
        CProcessResult result = RunHere(args);
        ASSERT_EQ(result.m_nExitCode, 0) << result.m_strErr;
        std::vector<std::string> expected;
        if (sync) {
            for (const std::string& name : OutputNames())
                expected.push_back(out + "/." + name + ".tmp");
            // The commit record, then the directory after the record, the renames and the
            // record's removal.
            expected.insert(expected.end(), {out + "/.halvic.commit.tmp", out, out, out});
        }
        EXPECT_EQ(FlushedPaths(m_dir / "strace.log"), expected);
    }
}

// SIGINT, SIGTERM or SIGHUP while the files are replaced waits for the commit: the conversion is
// finished, says so, and then ends by the signal.
TEST_F(FaultTest, AnInterruptDuringTheCommitFinishesItFirst) {
    ConvertedSet(m_dir, "old.txt", Records(1, 300));
    const CFiles newSet = ConvertedSet(m_dir, "new.txt", Records(1000, 1500));
    const CFiles oldSet = ListFiles(m_dir / "set-old.txt");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        PutSet(m_dir / "out", oldSet);
        // The third rename: the record's, then those of the first two files.
        CProcessResult result = RunProcess(
            {"strace", "-f", "-o", "/dev/null", "-e", "trace=rename,renameat,renameat2", "-e",
             "inject=rename,renameat,renameat2:signal=" + std::to_string(signal) + ":when=3",
             HALVIC_BIN, "convert", "new.txt", "-o", "out"},
            FromAShell(m_dir));
        EXPECT_EQ(result.m_nSignal, signal) << "exit status " << result.m_nExitCode;
        EXPECT_EQ(result.m_strErr,
                  "halvic: out: interrupted while the files were replaced; the conversion was "
                  "finished first, and the new files are in place\n");
        EXPECT_EQ(ListFiles(m_dir / "out"), newSet);
    }
}

// With --sync, a directory that cannot be flushed before the commit record is removed undoes the
// commit; past it, the new set stands, the error says so and the old files stay beside it until
// the next conversion or dump removes them.
TEST_F(FaultTest, AFailedDirectoryFlushWithSyncNeverUndoesAFinishedCommit) {
    const CFiles oldSet = ConvertedSet(m_dir, "old.txt", Records(1, 300));
    const CFiles newSet = ConvertedSet(m_dir, "new.txt", Records(1000, 1500));
    // The flushes of a commit: the seven temporaries, the record, then the directory before the
    // record is removed and after it.
    const struct {
        int flush;
        std::string err;
        bool committed;
    } kCases[] = {
        {10, "halvic: error: out: Input/output error\n", false},
        {11,
         "halvic: error: out: Input/output error (while flushing the directory after the commit: "
         "the new files are in place, but until the system writes the directory out a power cut "
         "may bring the old ones back; they are kept beside the new ones for the next conversion "
         "into this directory to remove)\n",
         true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE("flush " + std::to_string(c.flush));
        PutSet(m_dir / "out", oldSet);
        CProcessResult result =
            RunHere({"strace", "-f", "-o", "/dev/null", "-E", UntracedLeakChecks(), "-e",
                     "trace=fsync", "-e", "inject=fsync:error=EIO:when=" + std::to_string(c.flush),
                     HALVIC_BIN, "convert", "new.txt", "-o", "out", "--sync"});
        EXPECT_EQ(result.m_nExitCode, 1);
        EXPECT_EQ(result.m_strErr, c.err);
        CFiles left = ListFiles(m_dir / "out");
        CFiles named;  // the seven names, then what else is there
        for (const auto& [name, bytes] : left) {
            if (name[0] != '.') named.emplace_back(name, bytes);
        }
        EXPECT_EQ(named, c.committed ? newSet : oldSet);
        EXPECT_EQ(left.size(), c.committed ? 2 * kOutputCount : kOutputCount)
            << "the backups are kept past the commit, and only then";
        CProcessResult dump = RunHere({HALVIC_BIN, "dump", "out", "-r", "1"});
        EXPECT_EQ(dump.m_nExitCode, 0);
        EXPECT_EQ(dump.m_strErr, "");
        EXPECT_EQ(ListFiles(m_dir / "out"), c.committed ? newSet : oldSet);
    }
}

}  // namespace
}  // namespace halvic
