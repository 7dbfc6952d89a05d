// The progress line of a long `halvic convert`: shown on a terminal, cleared at the end, never
// shown when standard error is a pipe or with --quiet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CChildProcess;
using testing::CProcessResult;
using testing::CScratchDir;
using testing::RunProcess;

// Feeds the named pipe `fifo` about 3 MB of records over about two seconds, so that a conversion
// reading it runs long enough to show its progress.
void FeedSlowly(const fs::path& fifo) {
    // A reader that is gone ends the feeding, not the test.
    std::signal(SIGPIPE, SIG_IGN);
    int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (int step = 0; step < 20; ++step) {
        std::string records;
        for (int i = 0; i < 3000; ++i) {
            int n = step * 3000 + i;
            records += "<@>" + std::to_string(n % 60000) + "\n<l>record " + std::to_string(n) +
                       "\n<m>" + std::to_string(n % 50) + "\n";
        }
        if (::write(fd, records.data(), records.size()) < 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
    }
    ::close(fd);
}

// Runs halvic with `args` in `dir`, its standard error on a terminal; what the terminal showed is
// the result's m_strErr.
CProcessResult RunOnATerminal(const std::vector<std::string>& args, const fs::path& dir) {
    testing::CProcessOptions options;
    options.m_strWorkDir = dir.string();
    options.m_bStderrTerminal = true;
    std::vector<std::string> argv = {HALVIC_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, options);
}

TEST(ProgressTest, ALongConversionShowsItsProgressOnATerminalOnly) {
    CScratchDir scratch("halvic-progress");
    const fs::path fifo = scratch.Path() / "slow.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    std::thread feeder(FeedSlowly, fifo);
    CProcessResult onTerminal = RunOnATerminal({"convert", "slow.txt"}, scratch.Path());
    feeder.join();
    ASSERT_EQ(onTerminal.m_nSignal, 0);
    EXPECT_EQ(onTerminal.m_nExitCode, 0);
    const std::string& shown = onTerminal.m_strErr;
    // Updated in place, with the bytes read and the speed; the size of a pipe is not known.
    EXPECT_EQ(shown.rfind("\rhalvic: ", 0), 0u) << shown;
    EXPECT_NE(shown.find(" MB read, "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" MB/s\033[K"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << "more than one line: " << shown;
    // Gone at the end.
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K");

    std::thread quietFeeder(FeedSlowly, fifo);
    EXPECT_EQ(RunOnATerminal({"convert", "slow.txt", "--quiet"}, scratch.Path()).m_strErr, "");
    quietFeeder.join();
    std::thread pipeFeeder(FeedSlowly, fifo);
    testing::CProcessOptions inDir;
    inDir.m_strWorkDir = scratch.Path().string();
    CProcessResult piped = RunProcess({HALVIC_BIN, "convert", "slow.txt"}, inDir);
    pipeFeeder.join();
    EXPECT_EQ(piped.m_nExitCode, 0);
    EXPECT_EQ(piped.m_strErr, "") << "standard error is a pipe";
}

TEST(ProgressTest, AnInterruptClearsTheLine) {
    CScratchDir scratch("halvic-progress");
    testing::CProcessOptions options;
    options.m_strWorkDir = scratch.Path().string();
    options.m_bStderrTerminal = true;
    options.m_defaultSignals = {SIGINT};
    std::atomic<bool> shown{false};
    options.m_onStderr = [&shown](const std::string& err) {
        if (err.find(" MB/s") != std::string::npos) shown = true;
    };
    CChildProcess halvic({HALVIC_BIN, "convert", "-"}, options);
    const std::string records = "<@>1\n<l>a record\n<m>a text\n";
    std::string piece;
    while (piece.size() < 100000)
        piece += records;
    auto start = std::chrono::steady_clock::now();
    while (!shown && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        halvic.Write(piece);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(shown) << "no progress line was shown";
    halvic.Signal(SIGINT);
    CProcessResult result = halvic.Wait(false);
    EXPECT_EQ(result.m_nSignal, SIGINT);
    const std::string& err = result.m_strErr;
    ASSERT_GE(err.size(), 4u);
    EXPECT_EQ(err.substr(err.size() - 4), "\r\033[K") << err;
}

}  // namespace
}  // namespace halvic
