#include "engine/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "engine/error.h"
#include "engine/mapped_file.h"

namespace halvic {

namespace {

// Temporary file names kept where a signal handler can reach them without allocating.
constexpr int kSlots = 32;
constexpr std::size_t kPathMax = 4096;
char g_tempPaths[kSlots][kPathMax];
std::atomic<bool> g_slotUsed[kSlots];

int TakeSlot(const std::string& path) {
    if (path.size() >= kPathMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) continue;
        std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
        g_slotUsed[i].store(true);
        return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) g_slotUsed[slot].store(false);
}

std::atomic<unsigned> g_nTempCounter{0};

}  // namespace

void RemoveTemporaryFiles() noexcept {
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) ::unlink(g_tempPaths[i]);
    }
}

namespace {

extern "C" void OnTerminatingSignal(int signal) {
    RemoveTemporaryFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void CleanUpOnInterrupt() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            std::signal(signal, OnTerminatingSignal);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
    // A mapped input cut short by another program while it is read faults on its missing pages:
    // they then read as zeros and the conversion fails; any other SIGBUS removes the temporary
    // files before it ends the program.
    InstallBusErrorHandler();
}

CInterruptsHeld::CInterruptsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &m_saved);
}

CInterruptsHeld::~CInterruptsHeld() {
    // A signal that came meanwhile is delivered here, after the last rename.
    pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
}

CInputFile::~CInputFile() {
    Close();
}

bool CInputFile::Open(const std::string& path, CError& error) {
    Close();
    m_strName = path;
    if (path.empty()) {
        error = {"(empty file name)", 0, SystemReason(ENOENT)};
        return false;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = {path, 0, SystemReason(errno)};
        return false;
    }
    m_fd = fd;
    m_bOwned = true;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return true;
}

void CInputFile::OpenStandardInput() {
    Close();
    m_strName = "<stdin>";
    m_fd = STDIN_FILENO;
    m_bOwned = false;
}

std::size_t CInputFile::Read(unsigned char* buffer, std::size_t capacity) {
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        throw CFailure({m_strName, 0, SystemReason(errno)});
    }
}

void CInputFile::Close() {
    if (m_bOwned && m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_bOwned = false;
}

CReplacingFile::~CReplacingFile() {
    Discard();
}

bool CReplacingFile::Create(const std::string& target, CError& error) {
    Discard();
    m_strTarget = target;
    // A directory cannot be renamed over. Found only at the renames, it would fail the run with
    // some targets already replaced; found here, it fails the run before any is.
    struct stat status;
    if (::lstat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        error = {target, 0, SystemReason(EISDIR)};
        return false;
    }
    std::string::size_type slash = target.rfind('/');
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", static_cast<long>(::getpid()),
                      g_nTempCounter.fetch_add(1));
        std::string temp = dir + "." + base + suffix;
        // Registered before it exists, so that no moment is left in which an interrupt could
        // leave the file behind.
        int slot = TakeSlot(temp);
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_nSlot = slot;
            m_strTemp = temp;
            return true;
        }
        int err = errno;
        ReleaseSlot(slot);
        if (err != EEXIST) {
            error = {target, 0, SystemReason(err)};
            return false;
        }
    }
    error = {target, 0, SystemReason(EEXIST)};
    return false;
}

void CReplacingFile::Drain(const unsigned char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CFailure({m_strTarget, 0, SystemReason(errno)});
        }
        if (n == 0) throw CFailure({m_strTarget, 0, SystemReason(EIO)});
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CReplacingFile::Finish() {
    Flush();
    if (m_fd >= 0) {
        int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            throw CFailure({m_strTarget, 0, SystemReason(errno)});
        }
    }
}

bool CReplacingFile::Commit(CError& error) {
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        error = {m_strTarget, 0, SystemReason(errno)};
        Discard();
        return false;
    }
    ReleaseSlot(m_nSlot);
    m_nSlot = -1;
    m_strTemp.clear();
    return true;
}

void CReplacingFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_strTemp.empty()) {
        ::unlink(m_strTemp.c_str());
        m_strTemp.clear();
    }
    ReleaseSlot(m_nSlot);
    m_nSlot = -1;
}

}  // namespace halvic
