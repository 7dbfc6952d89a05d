// The files of a conversion on Windows: UTF-8 paths become UTF-16 at the system calls.
#include <windows.h>

#include <algorithm>

#include "engine/error.h"
#include "engine/file.h"
#include "engine/windows_text.h"

namespace halvic {

namespace {

// "An operation is not supported on a directory."; newer than the compiler's headers.
constexpr DWORD kErrorDirectoryNotSupported = 336;

HANDLE AsHandle(CFileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

CFileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<CFileHandle>(handle);
}

bool Fail(CError& error, const std::string& path, DWORD err) {
    error = {path, 0, SystemReason(static_cast<int>(err))};
    return false;
}

// A file another program holds open without letting it be deleted cannot be renamed, replaced or
// removed; Windows often says only "Access is denied." for that, as for a read-only file.
bool FailInUse(CError& error, const std::string& path, DWORD err) {
    if (err == ERROR_ACCESS_DENIED) {
        DWORD attributes = ::GetFileAttributesW(Utf16(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
            return Fail(error, path, err);
        }
    } else if (err != ERROR_SHARING_VIOLATION) {
        return Fail(error, path, err);
    }
    error = {path, 0,
             SystemReason(ERROR_SHARING_VIOLATION) +
                 " (another program has it open; close it and convert again)"};
    return false;
}

bool IsDirectoryW(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Opens `path` as a file. Windows refuses a directory with "Access is denied.", which would send
// the user looking for a permission problem: it is told what the name is instead.
HANDLE OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                DWORD& err) {
    std::wstring wide = Utf16(path);
    HANDLE file = ::CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        err = ::GetLastError();
        if (err == ERROR_ACCESS_DENIED && IsDirectoryW(wide)) err = kErrorDirectoryNotSupported;
    }
    return file;
}

// Others may go on reading, writing, renaming or removing a file halvic reads, as they may on
// other systems.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool WriteAll(HANDLE file, const char* data, std::size_t size, DWORD& err) {
    while (size > 0) {
        DWORD n = 0;
        DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!::WriteFile(file, data, wanted, &n, nullptr)) {
            err = ::GetLastError();
            return false;
        }
        if (n == 0) {
            err = ERROR_WRITE_FAULT;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// "" names the current working directory.
std::string DirName(const std::string& dir) {
    return dir.empty() ? "." : dir;
}

}  // namespace

const char* const kPathSeparators = "/\\:";

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

void RemoveFileNow(const char* path) noexcept {
    // Converted on the stack: an interrupt handler may call this while another thread allocates.
    wchar_t wide[4096];
    if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096) > 0) ::DeleteFileW(wide);
}

CFileHandle OpenRegularFile(const std::string& path, bool& notRegular, CError& error) {
    notRegular = false;
    DWORD err = 0;
    HANDLE file =
        OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, err);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(error, path, err);
        return kNoFile;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        notRegular = true;
        ::CloseHandle(file);
        return kNoFile;
    }
    return FromHandle(file);
}

std::size_t ReadFromFile(CFileHandle file, unsigned char* buffer, std::size_t capacity,
                         const std::string& name) {
    DWORD n = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
    if (::ReadFile(AsHandle(file), buffer, wanted, &n, nullptr)) return n;
    DWORD err = ::GetLastError();
    // The writer of a pipe has closed it: the end of the input, not a failure.
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
    throw CFailure({name, 0, SystemReason(static_cast<int>(err))});
}

void WriteToFile(CFileHandle file, const unsigned char* data, std::size_t size,
                 const std::string& name) {
    DWORD err = 0;
    if (!WriteAll(AsHandle(file), reinterpret_cast<const char*>(data), size, err)) {
        throw CFailure({name, 0, SystemReason(static_cast<int>(err))});
    }
}

void CloseFile(CFileHandle file) {
    ::CloseHandle(AsHandle(file));
}

CFileHandle StandardOutput() {
    return FromHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
}

CFileHandle StandardError() {
    return FromHandle(::GetStdHandle(STD_ERROR_HANDLE));
}

bool IsTerminal(CFileHandle file) {
    DWORD mode = 0;
    return ::GetConsoleMode(AsHandle(file), &mode) != 0;
}

std::size_t TerminalColumns(CFileHandle file) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(AsHandle(file), &info)) return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

namespace {

// Held while the targets are replaced: an interrupt then waits until the set is whole again.
SRWLOCK g_commitLock = SRWLOCK_INIT;

// Runs in a thread of its own, which Windows starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            ::AcquireSRWLockExclusive(&g_commitLock);
            RemoveTemporaryFiles();
            // Ended here, as the default handler would end it: going on could create new
            // temporary files after they were removed.
            ::ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return FALSE;
}

}  // namespace

void CleanUpOnInterrupt() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CInterruptsHeld::CInterruptsHeld() {
    ::AcquireSRWLockExclusive(&g_commitLock);
}

CInterruptsHeld::~CInterruptsHeld() {
    ::ReleaseSRWLockExclusive(&g_commitLock);
}

bool CInputFile::Open(const std::string& path, CError& error) {
    Close();
    m_strName = path;
    if (path.empty()) {
        error = {"(empty file name)", 0, SystemReason(ERROR_FILE_NOT_FOUND)};
        return false;
    }
    DWORD err = 0;
    HANDLE file =
        OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, err);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, path, err);
    m_file = FromHandle(file);
    m_bOwned = true;
    return true;
}

void CInputFile::OpenStandardInput() {
    Close();
    m_strName = "<stdin>";
    m_file = FromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    m_bOwned = false;
}

std::size_t CInputFile::Read(unsigned char* buffer, std::size_t capacity) {
    return ReadFromFile(m_file, buffer, capacity, m_strName);
}

void CInputFile::Close() {
    if (m_bOwned && m_file != kNoFile) ::CloseHandle(AsHandle(m_file));
    m_file = kNoFile;
    m_bOwned = false;
}

bool CReplacingFile::Create(const std::string& target, const std::string& temp, CError& error) {
    Discard();
    m_strTarget = target;
    // A directory cannot be replaced. Found only at the renames, it would fail the run late;
    // found here, it fails the run before anything is written.
    if (IsDirectoryW(Utf16(target))) return Fail(error, target, kErrorDirectoryNotSupported);
    // The new file takes the folder's permissions, as every new file on Windows does.
    int slot = RegisterTemporaryFile(temp);
    DWORD err = 0;
    // Sharing delete lets an interrupt remove the file while it is still being written.
    HANDLE file = OpenFile(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) {
        UnregisterTemporaryFile(slot);
        return Fail(error, err == ERROR_FILENAME_EXCED_RANGE ? temp : target, err);
    }
    m_file = FromHandle(file);
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
        HANDLE file = AsHandle(m_file);
        m_file = kNoFile;
        DWORD err = 0;
        if (sync && !::FlushFileBuffers(file)) err = ::GetLastError();
        if (!::CloseHandle(file) && err == 0) err = ::GetLastError();
        if (err != 0) throw CFailure({m_strTarget, 0, SystemReason(static_cast<int>(err))});
    }
}

void CReplacingFile::Discard() {
    if (m_file != kNoFile) {
        ::CloseHandle(AsHandle(m_file));
        m_file = kNoFile;
    }
    if (!m_strTemp.empty()) {
        ::DeleteFileW(Utf16(m_strTemp).c_str());
        m_strTemp.clear();
    }
    UnregisterTemporaryFile(m_nSlot);
    m_nSlot = -1;
}

CFileStatus StatusOf(const std::string& path) {
    CFileStatus result;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Utf16(path).c_str(), GetFileExInfoStandard, &data)) return result;
    DWORD attributes = data.dwFileAttributes;
    result.m_kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EFileKind::kLink
                    : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EFileKind::kDirectory
                    : (attributes & FILE_ATTRIBUTE_DEVICE)      ? EFileKind::kOther
                                                                : EFileKind::kRegular;
    // Who may touch a file is the folder's access list's business on Windows, not its owner's:
    // a file in a folder the user may change counts as the user's.
    result.m_bOurs = true;
    return result;
}

bool RenameFile(const std::string& from, const std::string& to, CError& error) {
    return ::MoveFileExW(Utf16(from).c_str(), Utf16(to).c_str(), MOVEFILE_REPLACE_EXISTING) ||
           FailInUse(error, to, ::GetLastError());
}

bool LinkFile(const std::string& existing, const std::string& name, CError& error) {
    // A file another program holds open without letting it be deleted cannot be replaced, and a
    // second name of it could not be removed again: it is found here, before the name is made.
    DWORD err = 0;
    HANDLE file =
        OpenFile(existing, DELETE, kShareAll, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) return FailInUse(error, existing, err);
    ::CloseHandle(file);
    return ::CreateHardLinkW(Utf16(name).c_str(), Utf16(existing).c_str(), nullptr) ||
           Fail(error, existing, ::GetLastError());
}

bool RemoveFile(const std::string& path, CError& error) {
    return ::DeleteFileW(Utf16(path).c_str()) || Fail(error, path, ::GetLastError());
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& names, CError& error) {
    names.clear();
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(Utf16(DirName(dir) + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return Fail(error, DirName(dir), ::GetLastError());
    do {
        std::string name = Utf8(found.cFileName);
        if (name != "." && name != "..") names.push_back(std::move(name));
    } while (::FindNextFileW(find, &found));
    DWORD err = ::GetLastError();
    ::FindClose(find);
    return err == ERROR_NO_MORE_FILES || Fail(error, DirName(dir), err);
}

bool SyncDirectory(const std::string&, CError&) {
    // Windows keeps a folder's names in its file system's journal and offers no way to flush
    // them on their own; the files themselves are flushed.
    return true;
}

bool WriteNewFile(const std::string& path, std::string_view bytes, bool sync, CError& error) {
    DWORD err = 0;
    HANDLE file = OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, path, err);
    bool ok = WriteAll(file, bytes.data(), bytes.size(), err);
    if (ok && sync && !::FlushFileBuffers(file)) {
        err = ::GetLastError();
        ok = false;
    }
    ::CloseHandle(file);
    if (ok) return true;
    ::DeleteFileW(Utf16(path).c_str());
    return Fail(error, path, err);
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes, CError& error) {
    bytes.clear();
    DWORD err = 0;
    HANDLE file =
        OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, path, err);
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info) || !::GetFileSizeEx(file, &size)) {
        err = ::GetLastError();
    } else if (::GetFileType(file) != FILE_TYPE_DISK ||
               (info.dwFileAttributes &
                (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        err = ERROR_INVALID_PARAMETER;
    } else if (static_cast<std::uint64_t>(size.QuadPart) > limit) {
        err = ERROR_FILE_TOO_LARGE;
    }
    char buffer[4096];
    while (err == 0) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
            err = ::GetLastError();
        } else if (n == 0) {
            break;
        } else {
            bytes.append(buffer, n);
            if (bytes.size() > limit) err = ERROR_FILE_TOO_LARGE;
        }
    }
    ::CloseHandle(file);
    return err == 0 || Fail(error, path, err);
}

bool CFileLock::Take(const std::string& path, EMode mode, const std::function<void()>& onWait,
                     CError& error) {
    Release();
    m_bNotPermitted = false;
    CFileStatus status = StatusOf(path);
    if (status.m_kind != EFileKind::kMissing && status.m_kind != EFileKind::kRegular) {
        error = {path, 0,
                 std::string("is ") +
                     (status.m_kind == EFileKind::kDirectory ? "a folder" : "a link or a device") +
                     " where halvic keeps its lock file; remove it and try again"};
        return false;
    }
    DWORD err = 0;
    // Opened for reading only: the lock is on a byte range, and the file is never written.
    HANDLE file = OpenFile(path, GENERIC_READ, kShareAll, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) {
        m_bNotPermitted =
            err == ERROR_ACCESS_DENIED || err == ERROR_WRITE_PROTECT || err == ERROR_PATH_NOT_FOUND;
        // What could not be created is the lock file, but what is wrong is the folder: it is
        // missing, or not one, or may not be written.
        std::string::size_type slash = path.find_last_of(kPathSeparators);
        std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
        bool dirAtFault = err == ERROR_PATH_NOT_FOUND || err == ERROR_DIRECTORY ||
                          (m_bNotPermitted && StatusOf(path).m_kind == EFileKind::kMissing);
        return Fail(error, dirAtFault ? dir : path, err);
    }
    DWORD flags = mode == EMode::kShared ? 0 : LOCKFILE_EXCLUSIVE_LOCK;
    int result = Retry(
        [file, flags](bool block) {
            OVERLAPPED at{};
            if (::LockFileEx(file, flags | (block ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &at)) {
                return 0;
            }
            DWORD err = ::GetLastError();
            return err == ERROR_LOCK_VIOLATION ? kBusy : static_cast<int>(err);
        },
        onWait);
    if (result != 0) {
        ::CloseHandle(file);
        return Fail(error, path, static_cast<DWORD>(result));
    }
    m_file = FromHandle(file);
    return true;
}

void CFileLock::Release() {
    // Closing the file lets go of its lock.
    if (m_file != kNoFile) ::CloseHandle(AsHandle(m_file));
    m_file = kNoFile;
}

}  // namespace halvic
