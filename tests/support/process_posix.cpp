#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/process.h"

namespace halvic::testing {

const bool kCanLimitFileSize = true;

CProcessResult RunProcess(const std::vector<std::string>& argv, const CProcessOptions& options) {
    if (options.m_bNewConsole || options.m_whileRunning) {
        throw std::runtime_error("consoles of their own are for processes on Windows");
    }
    auto start = std::chrono::steady_clock::now();
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            ::close(fd);
        if (options.m_strStdout == "-") {
            ::close(1);
        } else if (!options.m_strStdout.empty()) {
            int fd = ::open(options.m_strStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, 1) < 0) _exit(126);
            ::close(fd);
        }
        if (options.m_bDefaultSigpipe) std::signal(SIGPIPE, SIG_DFL);
        for (const std::string& variable : options.m_env)
            ::putenv(const_cast<char*>(variable.c_str()));
        if (options.m_nAddressSpaceLimit >= 0) {
            rlimit limit{static_cast<rlim_t>(options.m_nAddressSpaceLimit),
                         static_cast<rlim_t>(options.m_nAddressSpaceLimit)};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (!options.m_strWorkDir.empty() && ::chdir(options.m_strWorkDir.c_str()) != 0) _exit(126);
        if (options.m_nFileSizeLimit >= 0) {
            // Ignored, so that a write past the limit fails with EFBIG instead of killing the
            // child.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(options.m_nFileSizeLimit),
                         static_cast<rlim_t>(options.m_nFileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    std::signal(SIGPIPE, SIG_IGN);

    CProcessResult result;
    std::size_t written = 0;
    int inFd = in[1];
    if (options.m_strStdin.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        if (!outOpen) fds[0].fd = -1;
        if (!errOpen) fds[1].fd = -1;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.m_strOut : result.m_strErr)
                    .append(buffer, static_cast<std::size_t>(n));
            } else {
                (i == 0 ? outOpen : errOpen) = false;
            }
            if (i == 0 && outOpen && options.m_nStdoutTaken >= 0 &&
                result.m_strOut.size() >= static_cast<std::size_t>(options.m_nStdoutTaken)) {
                result.m_strOut.resize(static_cast<std::size_t>(options.m_nStdoutTaken));
                ::close(out[0]);
                out[0] = -1;
                outOpen = false;
            }
        }
        if (inFd >= 0 && fds[2].revents != 0) {
            ssize_t n = ::write(inFd, options.m_strStdin.data() + written,
                                options.m_strStdin.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n <= 0 || written == options.m_strStdin.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) ::close(inFd);
    if (out[0] >= 0) ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    result.m_nPeakKilobytes = usage.ru_maxrss;
    result.m_nSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.m_nExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.m_nSignal = WTERMSIG(status);
    return result;
}

}  // namespace halvic::testing
