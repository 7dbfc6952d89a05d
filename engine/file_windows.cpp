// The files of a conversion on Windows: UTF-8 paths become UTF-16 at the system calls.
#include <windows.h>

#include <algorithm>

#include "engine/file.h"
#include "engine/windows_text.h"

namespace halvic {

namespace {

HANDLE AsHandle(CFileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

CFileHandle FromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<CFileHandle>(handle);
}

// "An operation is not supported on a directory."; newer than the compiler's headers.
constexpr int kErrorDirectoryNotSupported = 336;

int LastError() {
    return static_cast<int>(::GetLastError());
}

bool IsDirectoryW(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

namespace sys {

const char* const kPathSeparators = "/\\:";

int NotFoundError() {
    return ERROR_FILE_NOT_FOUND;
}

int IsDirectoryError() {
    return kErrorDirectoryNotSupported;
}

int ExistsError() {
    return ERROR_FILE_EXISTS;
}

bool IsDirectory(const std::string& path) {
    return IsDirectoryW(Utf16(path));
}

CFileHandle OpenForReading(const std::string& path, int& err) {
    std::wstring wide = Utf16(path);
    // Others may go on reading, writing, renaming or removing the file meanwhile, as they may
    // on other systems.
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        err = LastError();
        // Windows refuses to open a directory as a file with "Access is denied.", which would
        // send the user looking for a permission problem.
        if (err == ERROR_ACCESS_DENIED && IsDirectoryW(wide)) err = kErrorDirectoryNotSupported;
    }
    return FromHandle(file);
}

CFileHandle StandardInput() {
    return FromHandle(::GetStdHandle(STD_INPUT_HANDLE));
}

CFileHandle CreateNew(const std::string& path, int& err) {
    HANDLE file = ::CreateFileW(Utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) err = LastError();
    return FromHandle(file);
}

std::int64_t ReadSome(CFileHandle file, unsigned char* buffer, std::size_t capacity, int& err) {
    DWORD n = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
    if (::ReadFile(AsHandle(file), buffer, wanted, &n, nullptr)) return n;
    err = LastError();
    // The writer of a pipe has closed it: the end of the input, not a failure.
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;
    return -1;
}

std::int64_t WriteSome(CFileHandle file, const unsigned char* data, std::size_t size, int& err) {
    DWORD n = 0;
    DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (::WriteFile(AsHandle(file), data, wanted, &n, nullptr) && n > 0) return n;
    err = n == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT : LastError();
    return -1;
}

bool CloseFile(CFileHandle file, int& err) {
    if (::CloseHandle(AsHandle(file))) return true;
    err = LastError();
    return false;
}

bool RenameOver(const std::string& from, const std::string& target, int& err) {
    if (::MoveFileExW(Utf16(from).c_str(), Utf16(target).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    err = LastError();
    return false;
}

void RemoveFile(const char* path) noexcept {
    // Converted on the stack: an interrupt handler may call this while another thread allocates.
    wchar_t wide[4096];
    int n = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, 4096);
    if (n > 0) ::DeleteFileW(wide);
}

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

}  // namespace sys

namespace {

// Held while the targets are replaced: an interrupt then waits until all seven are in place.
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

}  // namespace halvic
