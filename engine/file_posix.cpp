// The files of a conversion on POSIX systems.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "engine/file.h"

namespace halvic {

namespace sys {

const char* const kPathSeparators = "/";

int NotFoundError() {
    return ENOENT;
}

int IsDirectoryError() {
    return EISDIR;
}

int ExistsError() {
    return EEXIST;
}

bool IsDirectory(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

CFileHandle OpenForReading(const std::string& path, int& err) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return kNoFile;
    }
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return fd;
}

CFileHandle StandardInput() {
    return STDIN_FILENO;
}

CFileHandle CreateNew(const std::string& path, int& err) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) err = errno;
    return fd < 0 ? kNoFile : fd;
}

std::int64_t ReadSome(CFileHandle file, unsigned char* buffer, std::size_t capacity, int& err) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(file), buffer, capacity);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        err = errno;
        return -1;
    }
}

std::int64_t WriteSome(CFileHandle file, const unsigned char* data, std::size_t size, int& err) {
    for (;;) {
        ssize_t n = ::write(static_cast<int>(file), data, size);
        if (n > 0) return n;
        if (n < 0 && errno == EINTR) continue;
        err = n < 0 ? errno : EIO;
        return -1;
    }
}

bool CloseFile(CFileHandle file, int& err) {
    if (::close(static_cast<int>(file)) == 0 || errno == EINTR) return true;
    err = errno;
    return false;
}

bool RenameOver(const std::string& from, const std::string& target, int& err) {
    if (::rename(from.c_str(), target.c_str()) == 0) return true;
    err = errno;
    return false;
}

void RemoveFile(const char* path) noexcept {
    ::unlink(path);
}

long ProcessId() {
    return static_cast<long>(::getpid());
}

}  // namespace sys

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
    // A mapped input cut short by another program while it is read faults on its missing pages;
    // the run cannot go on, but it must not leave its temporary files behind.
    std::signal(SIGBUS, OnTerminatingSignal);
}

CInterruptsHeld::CInterruptsHeld() {
    static_assert(sizeof(sigset_t) <= sizeof m_saved, "the saved mask must fit");
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(m_saved));
}

CInterruptsHeld::~CInterruptsHeld() {
    // A signal that came meanwhile is delivered here, after the last rename.
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(m_saved), nullptr);
}

}  // namespace halvic
