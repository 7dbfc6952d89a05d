// Runs a program as a child process and collects what it printed and how it ended.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace halvic::testing {

struct CProcessOptions {
    std::string m_strStdin;      // written to the child's standard input, which is then closed
    std::string m_strWorkDir;    // the child's working directory; empty: this one
    long m_nFileSizeLimit = -1;  // RLIMIT_FSIZE in bytes for the child (SIGXFSZ ignored); -1: none
    long m_nAddressSpaceLimit = -1;  // RLIMIT_AS in bytes for the child; -1: none
    std::vector<std::string> m_env;  // NAME=VALUE set in the child's environment
    // Standard output: "" a pipe the result collects; "-" closed; otherwise the file opened for
    // writing (such as /dev/full).
    std::string m_strStdout;
    // With a pipe: read no more than this many bytes of it, then close it, as `| head -c N`
    // would; -1 reads it all.
    long m_nStdoutTaken = -1;
    // SIGPIPE at its default in the child, as a shell leaves it; otherwise ignored, as this
    // process has it.
    bool m_bDefaultSigpipe = false;
    // Windows only: the child gets a console of its own (to be sent Ctrl+C), and this is called
    // with its process id once its standard input has been written, before that is closed.
    bool m_bNewConsole = false;
    std::function<void(unsigned long pid)> m_whileRunning;
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

CProcessResult RunProcess(const std::vector<std::string>& argv,
                          const CProcessOptions& options = {});

}  // namespace halvic::testing
