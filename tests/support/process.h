// Runs a program as a child process and collects what it printed and how it ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace halvic::testing {

struct CProcessOptions {
    std::string m_strStdin;          // written to the child's standard input, which is then closed
    std::string m_strWorkDir;        // the child's working directory; empty: this one
    std::vector<std::string> m_env;  // NAME=VALUE set in the child's environment
    // Standard output: "" a pipe the result collects; "-" closed; otherwise the file opened for
    // writing (such as /dev/full).
    std::string m_strStdout;
    // With a pipe: read no more than this many bytes of it, then close it, as `| head -c N`
    // would; -1 reads it all.
    long m_nStdoutTaken = -1;
    // Called with all the child has written to standard error so far, each time more arrives:
    // the test acts once the child has said something (lets go of a lock once halvic says that
    // it waits for it). On Windows it runs on a thread of its own.
    std::function<void(const std::string& err)> m_onStderr;

    // POSIX only.
    // Standard error on a pseudo-terminal, the child's controlling terminal, instead of a pipe;
    // the result collects what the terminal showed.
    bool m_bStderrTerminal = false;
    long m_nFileSizeLimit = -1;      // RLIMIT_FSIZE in bytes for the child; -1: none
    long m_nAddressSpaceLimit = -1;  // RLIMIT_AS in bytes for the child; -1: none
    long m_nProcessLimit = -1;       // RLIMIT_NPROC for the child; -1: none
    // The child runs as nobody when this process is root, whom process limits do not hold.
    bool m_bUnprivileged = false;
    // The child inherits this process's signal dispositions, in which SIGPIPE is ignored, and
    // SIGXFSZ is ignored too under a file size limit; these are then set to their default in the
    // child (as a shell leaves them), then these ignored (as nohup ignores SIGHUP).
    std::vector<int> m_defaultSignals;
    std::vector<int> m_ignoredSignals;

    // Windows only.
    // The child gets a console of its own (to be sent Ctrl+C), and this is called with its
    // process id once its standard input has been written, before that is closed.
    bool m_bNewConsole = false;
    std::function<void(unsigned long pid)> m_whileRunning;
    // The command line as typed, given to the child as it is, after argv[0]; empty: the other
    // arguments, each quoted as the C runtime reads it back.
    std::string m_strCommandLine;
};

struct CProcessResult {
    int m_nExitCode = -1;  // -1 when a signal ended the child
    int m_nSignal = 0;
    std::string m_strOut;
    std::string m_strErr;
    long m_nPeakKilobytes = 0;  // the child's peak resident memory
    double m_nSeconds = 0;      // from start to end
};

// Whether m_nFileSizeLimit can be set here (not on Windows).
extern const bool kCanLimitFileSize;

// argv[0] is the program: a path, or on POSIX systems also a name looked up on the PATH.
CProcessResult RunProcess(const std::vector<std::string>& argv,
                          const CProcessOptions& options = {});

#if !defined(_WIN32)
// A child process that the test talks to while it runs: writes its input piece by piece, signals
// it, then waits for its end. Output is collected all along, so that a child that writes much is
// never stuck. RunProcess is one of these, run to its end.
class CChildProcess {
  public:
    // Starts the child; throws std::runtime_error naming the step that failed when it cannot
    // (a program that is not there, a working directory that is not, no user "nobody").
    explicit CChildProcess(const std::vector<std::string>& argv,
                           const CProcessOptions& options = {});
    ~CChildProcess();  // kills the child if it still runs
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Writes `bytes` to the child's standard input (after what is left of m_strStdin); returns
    // how many it took before it closed its input.
    std::size_t Write(std::string_view bytes);
    void CloseInput();
    void Signal(int signal) const;
    // Writes what is left of the input, closes it, and waits for the end. With `closeInput`
    // false the input stays open: a child that was sent a signal must not see its input end
    // before the signal does its work.
    CProcessResult Wait(bool closeInput = true);

  private:
    // Moves bytes to and from the child until `done` holds or no pipe is left to serve.
    void Pump(const std::function<bool()>& done);
    void ReadFrom(int& fd, std::string& into, bool isStdout);

    CProcessOptions m_options;
    int m_pid = -1;
    int m_nIn = -1;
    int m_nOut = -1;
    int m_nErr = -1;
    std::string m_strPending;    // input not written yet
    std::size_t m_nWritten = 0;  // input written so far
    std::chrono::steady_clock::time_point m_started;
    CProcessResult m_result;
};
#endif

}  // namespace halvic::testing
