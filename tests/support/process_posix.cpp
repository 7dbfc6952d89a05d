#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tests/support/process.h"

namespace halvic::testing {

const bool kCanLimitFileSize = true;

namespace {

// In the child, between fork and exec: reports the step that failed to the parent through
// `report` and ends.
[[noreturn]] void FailStart(int report, const char* step) {
    std::string message = std::string(step) + ": " + std::strerror(errno);
    (void)!::write(report, message.data(), message.size());
    _exit(127);
}

void SetLimit(int report, int resource, long value) {
    if (value < 0) return;
    rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    if (::setrlimit(resource, &limit) != 0) FailStart(report, "setrlimit");
}

// The child's side of the start: its standard streams, directory, user, limits and signals, then
// the program. `report` is closed by a successful exec.
[[noreturn]] void StartChild(const std::vector<std::string>& argv, const CProcessOptions& options,
                             int in, int out, int err, int report) {
    if (options.m_bStderrTerminal) {
        // A session of its own, whose controlling terminal the pseudo-terminal becomes.
        if (::setsid() < 0 || ::ioctl(err, TIOCSCTTY, 0) != 0) FailStart(report, "terminal");
    }
    if (::dup2(in, 0) < 0 || ::dup2(err, 2) < 0) FailStart(report, "dup2");
    if (options.m_strStdout.empty()) {
        if (::dup2(out, 1) < 0) FailStart(report, "dup2");
    } else if (options.m_strStdout == "-") {
        ::close(1);
    } else {
        int fd = ::open(options.m_strStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0) FailStart(report, options.m_strStdout.c_str());
        ::close(fd);
    }
    for (const std::string& variable : options.m_env)
        ::putenv(const_cast<char*>(variable.c_str()));
    if (!options.m_strWorkDir.empty() && ::chdir(options.m_strWorkDir.c_str()) != 0)
        FailStart(report, "chdir");
    if (options.m_bUnprivileged && ::geteuid() == 0 &&
        (::setgid(65534) != 0 || ::setuid(65534) != 0))
        FailStart(report, "no unprivileged user: setuid");
    SetLimit(report, RLIMIT_AS, options.m_nAddressSpaceLimit);
    SetLimit(report, RLIMIT_NPROC, options.m_nProcessLimit);
    if (options.m_nFileSizeLimit >= 0) {
        // So that a write past the limit fails with EFBIG instead of ending the child.
        std::signal(SIGXFSZ, SIG_IGN);
        SetLimit(report, RLIMIT_FSIZE, options.m_nFileSizeLimit);
    }
    for (int signal : options.m_defaultSignals)
        std::signal(signal, SIG_DFL);
    for (int signal : options.m_ignoredSignals)
        std::signal(signal, SIG_IGN);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    FailStart(report, args[0]);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& argv, const CProcessOptions& options)
    : m_options(options), m_strPending(options.m_strStdin) {
    if (options.m_bNewConsole || options.m_whileRunning) {
        throw std::runtime_error("consoles of their own are for processes on Windows");
    }
    m_started = std::chrono::steady_clock::now();
    // A child may be gone before its input is all written: that is a short write, not the end
    // of the test.
    std::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2], report[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(report, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    if (options.m_bStderrTerminal) {
        if (::openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
        ::fcntl(err[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (m_pid == 0) StartChild(argv, options, in[0], out[1], err[1], report[1]);
    for (int fd : {in[0], out[1], err[1], report[1]})
        ::close(fd);
    m_nIn = in[1];
    m_nOut = out[0];
    m_nErr = err[0];
    if (!options.m_strStdout.empty()) CloseFd(m_nOut);

    std::string failed;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(report[0], buffer, sizeof buffer)) != 0) {
        if (n > 0) failed.append(buffer, static_cast<std::size_t>(n));
        if (n < 0 && errno != EINTR) break;
    }
    ::close(report[0]);
    if (!failed.empty()) {
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        for (int* fd : {&m_nIn, &m_nOut, &m_nErr})
            CloseFd(*fd);
        throw std::runtime_error("cannot start " + argv.at(0) + ": " + failed);
    }
}

CChildProcess::~CChildProcess() {
    for (int* fd : {&m_nIn, &m_nOut, &m_nErr})
        CloseFd(*fd);
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void CChildProcess::ReadFrom(int& fd, std::string& into, bool isStdout) {
    char buffer[65536];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {  // the end; a pseudo-terminal says EIO once the child has closed its side
        CloseFd(fd);
        return;
    }
    into.append(buffer, static_cast<std::size_t>(n));
    if (isStdout && m_options.m_nStdoutTaken >= 0 &&
        into.size() >= static_cast<std::size_t>(m_options.m_nStdoutTaken)) {
        into.resize(static_cast<std::size_t>(m_options.m_nStdoutTaken));
        CloseFd(fd);
    }
    if (!isStdout && m_options.m_onStderr) m_options.m_onStderr(into);
}

void CChildProcess::Pump(const std::function<bool()>& done) {
    while (!done()) {
        const bool writing = m_nIn >= 0 && m_nWritten < m_strPending.size();
        if (m_nOut < 0 && m_nErr < 0 && !writing) return;
        pollfd fds[3] = {
            {m_nOut, POLLIN, 0}, {m_nErr, POLLIN, 0}, {writing ? m_nIn : -1, POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (fds[0].revents != 0) ReadFrom(m_nOut, m_result.m_strOut, true);
        if (fds[1].revents != 0) ReadFrom(m_nErr, m_result.m_strErr, false);
        if (fds[2].revents != 0) {
            ssize_t n =
                ::write(m_nIn, m_strPending.data() + m_nWritten, m_strPending.size() - m_nWritten);
            if (n > 0) {
                m_nWritten += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                CloseFd(m_nIn);  // the child closed its input
            }
        }
    }
}

std::size_t CChildProcess::Write(std::string_view bytes) {
    const std::size_t from = m_strPending.size();
    m_strPending.append(bytes);
    Pump([&] { return m_nIn < 0 || m_nWritten == m_strPending.size(); });
    return m_nWritten > from ? m_nWritten - from : 0;
}

void CChildProcess::CloseInput() {
    CloseFd(m_nIn);
}

void CChildProcess::Signal(int signal) const {
    if (m_pid > 0) ::kill(m_pid, signal);
}

CProcessResult CChildProcess::Wait(bool closeInput) {
    if (closeInput) {
        Pump([&] { return m_nIn < 0 || m_nWritten == m_strPending.size(); });
        CloseInput();
    }
    Pump([] { return false; });
    int status = 0;
    struct rusage usage {};
    while (::wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_result.m_nPeakKilobytes = usage.ru_maxrss;
    m_result.m_nSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    if (WIFEXITED(status)) m_result.m_nExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) m_result.m_nSignal = WTERMSIG(status);
    return m_result;
}

CProcessResult RunProcess(const std::vector<std::string>& argv, const CProcessOptions& options) {
    return CChildProcess(argv, options).Wait();
}

}  // namespace halvic::testing
