// Faults of `halvic convert` that need a big input, a signal or a limit set by the caller: each
// must end as promised, with the old output files byte for byte intact and no temporary file left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CProcessResult;
using testing::ListFiles;
using testing::ReadFile;
using testing::RunProcess;
using testing::WriteFile;

using CFiles = testing::CFileList;

const char* const kOutputs[] = {"qxase.qxd", "qxm.qxd", "qxa.qxd", "qxn.qxd",
                                "qxi.qxd",   "qxc.qxd", "qxs.qxd"};

// Records `first` to `last`, each with a text and a value in table m, about 40 bytes a record.
std::string Records(int first, int last) {
    std::string input;
    for (int i = first; i <= last; ++i) {
        input += "<@>" + std::to_string(i % 60000) + "\n<l>record number " + std::to_string(i) +
                 "\n<m>" + std::to_string(i % 500) + "\n";
    }
    return input;
}

// How a started halvic is set up beyond its arguments.
struct CStartOptions {
    bool m_bIgnoreHangup = false;  // started the way nohup starts a program
    long m_nFileSizeLimit = -1;    // RLIMIT_FSIZE, with SIGXFSZ left at its default
};

// A halvic reading a pipe that the test writes to, so that the test decides when input arrives
// and when it ends.
class CStartedHalvic {
  public:
    CStartedHalvic(const std::vector<std::string>& args, const fs::path& workDir,
                   const CStartOptions& options = {}) {
        int in[2], err[2];
        if (::pipe(in) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
        m_pid = ::fork();
        if (m_pid < 0) throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(err[1], 2);
            for (int fd : {in[0], in[1], err[0], err[1]})
                ::close(fd);
            if (::chdir(workDir.c_str()) != 0) _exit(126);
            // Whatever the test runner ignores, halvic starts with the dispositions asked for.
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ, SIGPIPE})
                std::signal(signal, SIG_DFL);
            if (options.m_bIgnoreHangup) std::signal(SIGHUP, SIG_IGN);
            if (options.m_nFileSizeLimit >= 0) {
                rlimit limit{static_cast<rlim_t>(options.m_nFileSizeLimit),
                             static_cast<rlim_t>(options.m_nFileSizeLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(HALVIC_BIN)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(in[0]);
        ::close(err[1]);
        m_nIn = in[1];
        m_nErr = err[0];
        std::signal(SIGPIPE, SIG_IGN);  // halvic may be gone before the input is all written
    }
    ~CStartedHalvic() {
        CloseInput();
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_nErr >= 0) ::close(m_nErr);
    }

    // Returns how many bytes halvic took before it closed its input.
    std::size_t Write(std::string_view bytes) {
        std::size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(m_nIn, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += static_cast<std::size_t>(n);
        }
        return written;
    }
    void CloseInput() {
        if (m_nIn >= 0) ::close(m_nIn);
        m_nIn = -1;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }

    // Waits for the end; returns the wait status and collects what halvic printed.
    int Wait() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_nErr, buffer, sizeof buffer)) > 0)
            m_strErr.append(buffer, static_cast<std::size_t>(n));
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }
    const std::string& Err() const { return m_strErr; }

  private:
    pid_t m_pid = -1;
    int m_nIn = -1;
    int m_nErr = -1;
    std::string m_strErr;
};

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("halvic-fault-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "out");
        for (const char* name : kOutputs)
            WriteFile(m_dir / "out" / name, std::string("old ") + name);
        m_old = ListFiles(m_dir / "out");
    }
    void TearDown() override { fs::remove_all(m_dir); }

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

    fs::path m_dir;
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
        manyRecords += "<@>1<l>x<s>text " + std::to_string(i) + "\n";
    // Repeats take no room: a full table still takes the texts it holds.
    std::string fullButRepeated =
        manyRecords.substr(0, manyRecords.rfind("<@>")) + "<@>2<s>text 7\n";

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
            EXPECT_EQ(ListFiles(m_dir / "out").size(), std::size(kOutputs))
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
    CStartedHalvic halvic({"convert", "-", "-o", "out"}, m_dir);
    std::size_t taken = halvic.Write(input);
    halvic.CloseInput();
    int status = halvic.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(halvic.Err(),
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
        CStartedHalvic halvic({"convert", "-", "-o", "out"}, m_dir);
        // Then the input stalls: the signal certainly lands in the middle of the conversion.
        halvic.Write(Records(1, 100000));
        ASSERT_TRUE(WaitForRecordsWritten());
        halvic.Signal(signal);
        int status = halvic.Wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(halvic.Err(), "");
        EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
    }
}

TEST_F(FaultTest, HangupIgnoredByTheCallerStaysIgnored) {
    CStartOptions nohup;
    nohup.m_bIgnoreHangup = true;
    CStartedHalvic halvic({"convert", "-", "-o", "out"}, m_dir, nohup);
    halvic.Write(Records(1, 100000));
    ASSERT_TRUE(WaitForRecordsWritten());
    halvic.Signal(SIGHUP);
    halvic.Write(Records(100001, 120000));
    halvic.CloseInput();
    int status = halvic.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(halvic.Err(), "");
    EXPECT_EQ(ReadFile(m_dir / "out/qxm.qxd").size(), 1890u) << "the texts 0 to 499";
    EXPECT_EQ(ListFiles(m_dir / "out").size(), std::size(kOutputs)) << "a temporary was left";
}

TEST_F(FaultTest, FileSizeLimitIsReportedNotFatal) {
    // SIGXFSZ at its default, as in a shell with `ulimit -f`.
    CStartOptions limited;
    limited.m_nFileSizeLimit = 4096;
    CStartedHalvic halvic({"convert", "-", "-o", "out"}, m_dir, limited);
    halvic.Write(Records(1, 20000));
    halvic.CloseInput();
    int status = halvic.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(halvic.Err(), "halvic: error: out/qxase.qxd: File too large\n");
    EXPECT_EQ(ListFiles(m_dir / "out"), m_old);
}

}  // namespace
}  // namespace halvic
