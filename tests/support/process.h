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
};

// Whether m_nFileSizeLimit can be set here (not on Windows).
extern const bool kCanLimitFileSize;

CProcessResult RunProcess(const std::vector<std::string>& argv,
                          const CProcessOptions& options = {});

}  // namespace halvic::testing
