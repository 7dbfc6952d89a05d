// The files of a conversion on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "engine/io/error.h"
#include "engine/io/file.h"

namespace halvic {

const char* const kPathSeparators = "/";
const char kPathSeparator = '/';

long ProcessId() {
    return static_cast<long>(::getpid());
}

void RemoveFileNow(const char* path) noexcept {
    ::unlink(path);
}

CFileHandle OpenRegularFile(const std::string& path, bool& notRegular, CError& error) {
    notRegular = false;
    // Not blocking: opening a named pipe would otherwise wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = {path, 0, SystemReason(errno)};
        return kNoFile;
    }
    struct stat info {};
    int err = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (err != 0 || !S_ISREG(info.st_mode)) {
        if (err != 0) error = {path, 0, SystemReason(err)};
        notRegular = err == 0;
        ::close(fd);
        return kNoFile;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return fd;
}

std::size_t ReadFromFile(CFileHandle file, unsigned char* buffer, std::size_t capacity,
                         const std::string& name) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(file), buffer, capacity);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        throw CFailure({name, 0, SystemReason(errno)});
    }
}

void SeekFile(CFileHandle file, std::uint64_t offset, const std::string& name) {
    if (::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) < 0)
        throw CFailure({name, 0, SystemReason(errno)});
}

bool RegularFileSize(CFileHandle file, std::uint64_t& size) {
    struct stat info {};
    if (::fstat(static_cast<int>(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

void TruncateFile(const std::string& path, std::uint64_t size) {
    (void)::truncate(path.c_str(), static_cast<off_t>(size));
}

std::uint64_t FilePosition(CFileHandle file) {
    off_t at = ::lseek(static_cast<int>(file), 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<std::uint64_t>(at);
}

void WriteToFile(CFileHandle file, const unsigned char* data, std::size_t size,
                 const std::string& name) {
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(file), data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CFailure({name, 0, SystemReason(errno)});
        }
        if (n == 0) throw CFailure({name, 0, SystemReason(EIO)});
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CloseFile(CFileHandle file) {
    ::close(static_cast<int>(file));
}

CFileHandle StandardOutput() {
    return STDOUT_FILENO;
}

CFileHandle StandardError() {
    return STDERR_FILENO;
}

bool IsTerminal(CFileHandle file) {
    return ::isatty(static_cast<int>(file)) == 1;
}

EConsoleLine ReadConsoleLine(std::string&) {
    return EConsoleLine::kNotConsole;
}

std::size_t TerminalColumns(CFileHandle file) {
    winsize size{};
    if (!IsTerminal(file) || ::ioctl(static_cast<int>(file), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

namespace {

extern "C" void OnTerminatingSignal(int signal) {
    RemoveTemporaryFiles();
    if (LineShown()) {
        static const char kClear[] = "\r\033[K";
        ssize_t ignored = ::write(STDERR_FILENO, kClear, sizeof kClear - 1);
        (void)ignored;
    }
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
}

namespace {

sigset_t Interrupts() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&interrupts, signal);
    return interrupts;
}

}  // namespace

CInterruptsHeld::CInterruptsHeld() {
    sigset_t held = Interrupts();
    static_assert(sizeof(sigset_t) <= sizeof m_saved, "the saved mask must fit");
    pthread_sigmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(m_saved));
}

CInterruptsHeld::~CInterruptsHeld() {
    // A signal that came meanwhile is delivered here, after the last rename.
    if (!m_bKeep) pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(m_saved), nullptr);
}

bool CInterruptsHeld::Pending() const {
    sigset_t pending;
    if (sigpending(&pending) != 0) return false;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigismember(&pending, signal) == 1) return true;
    }
    return false;
}

void ReleaseInterrupts() {
    sigset_t held = Interrupts();
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
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
    m_file = fd;
    m_bOwned = true;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    NoteSize(path);
    return true;
}

void CInputFile::OpenStandardInput() {
    Close();
    m_strName = "<stdin>";
    m_file = STDIN_FILENO;
    m_bOwned = false;
    NoteSize("/dev/stdin");
#ifdef F_SETPIPE_SZ
    // A pipe of 1 MB rather than 64 KB: the writer and halvic take turns far less often. Refused
    // for anything but a pipe, or beyond the system's limit, which changes nothing.
    ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif
}

void CInputFile::Close() {
    if (m_bOwned && m_file != kNoFile) ::close(static_cast<int>(m_file));
    m_file = kNoFile;
    m_bOwned = false;
}

namespace {

// Gives the new file `fd` the old file's permission bits, and its owner and group where this
// process may: a group it is not a member of cannot be kept, and then the group gets no access at
// all rather than the old group's access for another group. Only root may give a file away.
bool CarryPermissions(int fd, const struct stat& old, int& err) {
    struct stat now;
    if (::fstat(fd, &now) != 0) {
        err = errno;
        return false;
    }
    mode_t mode = old.st_mode & 0777;
    uid_t owner =
        ::geteuid() == 0 && old.st_uid != now.st_uid ? old.st_uid : static_cast<uid_t>(-1);
    gid_t group = old.st_gid != now.st_gid ? old.st_gid : static_cast<gid_t>(-1);
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
        ::fchown(fd, owner, group) != 0 && group != static_cast<gid_t>(-1)) {
        mode &= ~static_cast<mode_t>(070);
    }
    if (::fchmod(fd, mode) != 0) {
        err = errno;
        return false;
    }
    return true;
}

}  // namespace

bool CReplacingFile::Create(const std::string& target, const std::string& temp, CError& error) {
    Discard();
    m_strTarget = target;
    // A directory cannot be renamed over. Found only at the renames, it would fail the run with
    // some targets already replaced; found here, it fails the run before any is.
    struct stat status;
    if (::lstat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        error = {target, 0, SystemReason(EISDIR)};
        return false;
    }
    // The old file's permissions pass to the new one only from a regular file of the user who
    // converts (for root, also of the directory's owner, whose file root keeps as it was). A link
    // leads to someone else's file, and a file someone else put there is theirs: neither gives
    // the new file its owner, group or mode. Such a file still caps the mode, so that the new
    // file is never open to more people than the old one or than a new file is.
    struct stat old;
    mode_t mode = 0666;  // less the umask
    bool replacing = ::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing && old.st_uid != ::geteuid()) {
        std::string::size_type slash = target.rfind('/');
        std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        struct stat folder;
        replacing =
            ::geteuid() == 0 && ::stat(dir.c_str(), &folder) == 0 && folder.st_uid == old.st_uid;
        if (!replacing) mode &= old.st_mode;
    }
    // Registered before it exists, so that no moment is left in which an interrupt could leave
    // the file behind. Owner-only until it has the old file's owner, group and bits.
    int slot = RegisterTemporaryFile(temp);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    replacing ? 0600 : mode);
    int err = errno;
    if (fd >= 0 && replacing && !CarryPermissions(fd, old, err)) {
        ::close(fd);
        ::unlink(temp.c_str());
        fd = -1;
    }
    if (fd < 0) {
        UnregisterTemporaryFile(slot);
        // A directory name near the system's limit may leave room for the target's name but not
        // for the temporary's: name the file that could not be created.
        error = {err == ENAMETOOLONG ? temp : target, 0, SystemReason(err)};
        return false;
    }
    m_file = fd;
    m_nSlot = slot;
    m_strTemp = temp;
    return true;
}

void CReplacingFile::Drain(const unsigned char* data, std::size_t size) {
    WriteToFile(m_file, data, size, m_strTarget);
}

void CReplacingFile::Finish(bool sync) {
    Flush();
    if (m_file != kNoFile) {
        int fd = static_cast<int>(m_file);
        m_file = kNoFile;
        if (sync && ::fsync(fd) != 0) {
            int err = errno;
            ::close(fd);
            throw CFailure({m_strTarget, 0, SystemReason(err)});
        }
        if (::close(fd) != 0 && errno != EINTR) {
            throw CFailure({m_strTarget, 0, SystemReason(errno)});
        }
    }
}

void CReplacingFile::Discard() {
    if (m_file != kNoFile) {
        ::close(static_cast<int>(m_file));
        m_file = kNoFile;
    }
    if (!m_strTemp.empty()) {
        ::unlink(m_strTemp.c_str());
        m_strTemp.clear();
    }
    UnregisterTemporaryFile(m_nSlot);
    m_nSlot = -1;
}

}  // namespace halvic

namespace halvic {

namespace {

bool Fail(CError& error, const std::string& path, int err) {
    error = {path, 0, SystemReason(err)};
    return false;
}

// "" names the current working directory.
const char* DirName(const std::string& dir) {
    return dir.empty() ? "." : dir.c_str();
}

}  // namespace

CFileStatus StatusOf(const std::string& path) {
    CFileStatus result;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return result;
    result.m_kind = S_ISREG(status.st_mode)   ? EFileKind::kRegular
                    : S_ISLNK(status.st_mode) ? EFileKind::kLink
                    : S_ISDIR(status.st_mode) ? EFileKind::kDirectory
                                              : EFileKind::kOther;
    result.m_bOurs = status.st_uid == ::geteuid();
    return result;
}

bool CouldReplace(const std::string& dir, const std::string& path, const std::string& target) {
    struct stat folder, by, named;
    if (::stat(DirName(dir), &folder) != 0 || ::lstat(path.c_str(), &by) != 0) return true;
    if (!(folder.st_mode & S_ISVTX) || by.st_uid == 0 || by.st_uid == folder.st_uid) return true;
    return ::lstat(target.c_str(), &named) == 0 && named.st_uid == by.st_uid;
}

bool RenameFile(const std::string& from, const std::string& to, CError& error) {
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail(error, to, errno);
}

bool LinkFile(const std::string& existing, const std::string& name, CError& error) {
    return ::link(existing.c_str(), name.c_str()) == 0 || Fail(error, existing, errno);
}

bool RemoveFile(const std::string& path, CError& error) {
    return ::unlink(path.c_str()) == 0 || Fail(error, path, errno);
}

bool MakeDirectory(const std::string& dir, CError& error) {
    return ::mkdir(dir.c_str(), 0777) == 0 || Fail(error, dir, errno);
}

bool MayWriteInDirectory(const std::string& dir, CError& error) {
    // Through "/.", a name that is not a directory fails as such.
    return ::access(JoinPath(DirName(dir), ".").c_str(), W_OK | X_OK) == 0 ||
           Fail(error, DirName(dir), errno);
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& names, CError& error) {
    names.clear();
    DIR* stream = ::opendir(DirName(dir));
    if (stream == nullptr) return Fail(error, DirName(dir), errno);
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    int err = errno;
    ::closedir(stream);
    return err == 0 || Fail(error, DirName(dir), err);
}

bool SyncDirectory(const std::string& dir, CError& error) {
    int fd = ::open(DirName(dir), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(error, DirName(dir), errno);
    int result = ::fsync(fd);
    int err = errno;
    ::close(fd);
    return result == 0 || Fail(error, DirName(dir), err);
}

bool WriteNewFile(const std::string& path, std::string_view bytes, bool sync, CError& error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return Fail(error, path, errno);
    int err = 0;
    while (!bytes.empty() && err == 0) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EINTR) {
            err = errno;
        } else if (n == 0) {
            err = EIO;
        }
    }
    if (err == 0 && sync && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err == 0) return true;
    ::unlink(path.c_str());
    return Fail(error, path, err);
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes, CError& error) {
    bytes.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Fail(error, path, errno);
    struct stat status;
    int err = 0;
    if (::fstat(fd, &status) != 0) {
        err = errno;
    } else if (!S_ISREG(status.st_mode)) {
        err = EINVAL;
    } else if (static_cast<std::uint64_t>(status.st_size) > limit) {
        err = EFBIG;
    }
    char buffer[4096];
    while (err == 0) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno != EINTR) err = errno;
            continue;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > limit) err = EFBIG;
    }
    ::close(fd);
    return err == 0 || Fail(error, path, err);
}

namespace {

// What a name that should be the lock file is instead, in words.
const char* KindInWords(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "a device";
}

// The lock that the Windows build takes with LockFileEx, which Wine and Samba turn into a byte
// range lock of the host on the lock file's first byte, and that flock does not see: taken
// as well as the flock of earlier releases (flock first, by every process, so that two never
// wait for each other). Held by the open file, as flock is, not by the process. A lock file
// opened for reading only (another user's) can be locked for reading only, which still keeps
// out a conversion of the Windows build; where the system has no such locks, flock alone
// serves. Returns 0, EAGAIN while another holds it, or the system's error code.
int LockFirstByte(int fd, bool exclusive, bool block) {
    struct flock range {};
    range.l_type = exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    for (;;) {
        if (::fcntl(fd, block ? F_OFD_SETLKW : F_OFD_SETLK, &range) == 0) return 0;
        if (errno == EBADF && range.l_type == F_WRLCK) {
            range.l_type = F_RDLCK;
        } else if (errno == EAGAIN || errno == EACCES || errno == EINTR) {
            return EAGAIN;
        } else if (errno == EINVAL || errno == ENOLCK || errno == EOPNOTSUPP) {
            return 0;
        } else {
            return errno;
        }
    }
}

bool NotALockFile(CError& error, const std::string& path, mode_t mode) {
    error = {path, 0,
             std::string("is ") + KindInWords(mode) +
                 " where halvic keeps its lock file; remove it and try again"};
    return false;
}

}  // namespace

bool CFileLock::Take(const std::string& path, EMode mode, const std::function<void()>& onWait,
                     CError& error, int waitSeconds) {
    Release();
    m_bNotPermitted = false;
    m_bTimedOut = false;
    // Checked before the open as well as after it, so that a device is never opened at all.
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        return NotALockFile(error, path, status.st_mode);
    }
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    // Opened for writing too where it may be, for a conversion: only then can it take the byte
    // range lock for writing (it never writes the file).
    auto open = [&path, mode, flags](int more) {
        int fd = -1;
        if (mode == EMode::kExclusive) {
            fd = ::open(path.c_str(), O_RDWR | flags | more, 0666);
            if (fd >= 0 || (errno != EACCES && errno != EPERM && errno != EROFS)) return fd;
        }
        return ::open(path.c_str(), O_RDONLY | flags | more, 0666);
    };
    // A failed conversion removes the lock file it created, perhaps while this one waited for
    // it: a lock taken on a file no longer under its name is taken again.
    for (;;) {
        int fd = open(O_CREAT | O_EXCL);
        const bool created = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = open(O_CREAT);
        // A lock file created by another user may be opened but not "created" again where the
        // system protects files in shared directories.
        if (fd < 0 && errno == EACCES) {
            fd = open(0);
            // No lock file there yet: what stopped the first open is the reason.
            if (fd < 0 && errno == ENOENT) errno = EACCES;
        }
        if (fd < 0) {
            int err = errno;
            if (err == ELOOP) return NotALockFile(error, path, S_IFLNK);
            m_bNotPermitted =
                err == EACCES || err == EPERM || err == EROFS || err == ENOENT || err == ENOTDIR;
            // What could not be created is the lock file, but what is wrong is the directory: it is
            // missing, or not one, or may not be written.
            std::string::size_type slash = path.rfind('/');
            std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
            bool dirAtFault = err == ENOENT || err == ENOTDIR ||
                              (m_bNotPermitted && ::lstat(path.c_str(), &status) != 0);
            return Fail(error, dirAtFault ? dir : path, err);
        }
        if (::fstat(fd, &status) != 0) {
            int err = errno;
            ::close(fd);
            return Fail(error, path, err);
        }
        if (!S_ISREG(status.st_mode)) {
            ::close(fd);
            return NotALockFile(error, path, status.st_mode);
        }
        // Whoever may read the set must be able to take the lock shared, whatever the umask
        // of the user who made the lock file: it holds nothing. Its owner widens an old one.
        if (status.st_uid == ::geteuid() && (status.st_mode & 0444) != 0444) {
            ::fchmod(fd, (status.st_mode & 07777) | 0444);
        }
        const int operation = mode == EMode::kShared ? LOCK_SH : LOCK_EX;
        int err = Retry(
            [fd, operation](bool block) {
                if (::flock(fd, operation | (block ? 0 : LOCK_NB)) != 0) {
                    return errno == EWOULDBLOCK || errno == EINTR ? kBusy : errno;
                }
                int rangeErr = LockFirstByte(fd, operation == LOCK_EX, block);
                if (rangeErr != 0) ::flock(fd, LOCK_UN);
                return rangeErr == EAGAIN ? kBusy : rangeErr;
            },
            onWait, waitSeconds);
        if (err == kTimedOutCode) {
            ::close(fd);
            return GiveUp(path, error);
        }
        if (err != 0) {
            ::close(fd);
            return Fail(error, path, err);
        }
        struct stat named;
        if (::lstat(path.c_str(), &named) == 0 && named.st_ino == status.st_ino &&
            named.st_dev == status.st_dev) {
            m_file = fd;
            m_bCreated = created;
            return true;
        }
        ::close(fd);
    }
}

bool CFileLock::Check(const std::string& path, CError& error) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        std::string::size_type slash = path.rfind('/');
        return MayWriteInDirectory(slash == std::string::npos ? "" : path.substr(0, slash), error);
    }
    if (!S_ISREG(status.st_mode)) return NotALockFile(error, path, status.st_mode);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return Fail(error, path, errno);
    ::close(fd);
    return true;
}

void CFileLock::ReleaseRemovingCreated(const std::string& path) {
    // Removed under the lock: a process that waits for it takes it again on a new file.
    if (m_file != kNoFile && m_bCreated) ::unlink(path.c_str());
    Release();
}

void CFileLock::Release() {
    if (m_file != kNoFile) ::close(static_cast<int>(m_file));
    m_file = kNoFile;
}

}  // namespace halvic
