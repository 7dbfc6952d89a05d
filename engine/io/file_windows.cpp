// The files of a conversion on Windows: UTF-8 paths become UTF-16 at the system calls.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "engine/io/error.h"
#include "engine/io/file.h"
#include "engine/io/windows_text.h"

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
                DWORD& err, SECURITY_ATTRIBUTES* security = nullptr) {
    std::wstring wide = Utf16(path);
    HANDLE file = ::CreateFileW(wide.c_str(), access, share, security, disposition, flags, nullptr);
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

// Room for a path in the checks below, which allocate nothing: an interrupt handler calls them.
constexpr DWORD kWidePathMax = 4096;

// An error of halvic's own (bit 29 marks one): a name that leads to a file elsewhere.
constexpr DWORD kLeadsElsewhere = 0x20000001;

// The path of `file` as the system resolved it, into `path`; its length, or 0.
DWORD FinalPath(HANDLE file, wchar_t (&path)[kWidePathMax]) {
    DWORD size = ::GetFinalPathNameByHandleW(file, path, kWidePathMax, FILE_NAME_NORMALIZED);
    return size < kWidePathMax ? size : 0;
}

// Whether `file`, opened by the name `path` without following a reparse point, is that name's own
// file: a reparse point is (removing or renaming it touches the link, not what it leads to), and
// so is a plain file whose resolved path is the name's. Under Wine a symbolic link of the host
// shows as a plain file and opens the file it leads to, anywhere: its resolved path is elsewhere,
// and removing or renaming it would remove or move that file. Allocates nothing.
bool IsOwnNameOf(HANDLE file, const wchar_t* path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        return false;
    }
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    wchar_t full[kWidePathMax];
    wchar_t* name = nullptr;
    DWORD size = ::GetFullPathNameW(path, kWidePathMax, full, &name);
    if (size == 0 || size >= kWidePathMax || name == nullptr) return false;
    wchar_t own[kWidePathMax];
    DWORD ownSize = FinalPath(file, own);
    // The folder resolved as the file is, through any link the user reaches it by.
    const wchar_t first = *name;
    *name = L'\0';
    HANDLE folder = ::CreateFileW(full, 0, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    *name = first;
    if (folder == INVALID_HANDLE_VALUE) return false;
    wchar_t expected[kWidePathMax];
    DWORD expectedSize = FinalPath(folder, expected);
    ::CloseHandle(folder);
    const DWORD nameSize = size - static_cast<DWORD>(name - full);
    if (ownSize == 0 || expectedSize == 0 || expectedSize + nameSize + 1 >= kWidePathMax) {
        return false;
    }
    if (expected[expectedSize - 1] != L'\\') expected[expectedSize++] = L'\\';
    std::copy(name, name + nameSize, expected + expectedSize);
    expectedSize += nameSize;
    return ::CompareStringOrdinal(own, static_cast<int>(ownSize), expected,
                                  static_cast<int>(expectedSize), TRUE) == CSTR_EQUAL;
}

// Opens the name `path` itself (a reparse point is not followed) with `access` when it is the
// name's own file (IsOwnNameOf); otherwise returns INVALID_HANDLE_VALUE with `err` set, to
// kLeadsElsewhere for a name that leads elsewhere. Allocates nothing.
HANDLE OpenOwnName(const wchar_t* path, DWORD access, DWORD& err) {
    HANDLE file = ::CreateFileW(path, access | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        err = ::GetLastError();
    } else if (!IsOwnNameOf(file, path)) {
        ::CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        err = kLeadsElsewhere;
    }
    return file;
}

// Removes the name `path` through the handle that was checked, so that nothing put under the name
// meanwhile is removed instead. Allocates nothing.
DWORD RemoveOwnName(const wchar_t* path) {
    DWORD err = 0;
    HANDLE file = OpenOwnName(path, DELETE, err);
    if (file == INVALID_HANDLE_VALUE) return err;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
        err = ::GetLastError();
    }
    ::CloseHandle(file);
    return err;
}

bool FailName(CError& error, const std::string& path, DWORD err) {
    if (err != kLeadsElsewhere) return Fail(error, path, err);
    error = {path, 0, "is a link to a file elsewhere; left as it is"};
    return false;
}

}  // namespace

const char* const kPathSeparators = "/\\:";
const char kPathSeparator = '\\';

long ProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

void RemoveFileNow(const char* path) noexcept {
    // Converted on the stack: an interrupt handler may call this while another thread allocates.
    wchar_t wide[kWidePathMax];
    if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, kWidePathMax) > 0) RemoveOwnName(wide);
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

void SeekFile(CFileHandle file, std::uint64_t offset, const std::string& name) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(AsHandle(file), at, nullptr, FILE_BEGIN))
        throw CFailure({name, 0, SystemReason(static_cast<int>(::GetLastError()))});
}

bool RegularFileSize(CFileHandle file, std::uint64_t& size) {
    LARGE_INTEGER length{};
    if (::GetFileType(AsHandle(file)) != FILE_TYPE_DISK ||
        !::GetFileSizeEx(AsHandle(file), &length)) {
        return false;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

void TruncateFile(const std::string& path, std::uint64_t size) {
    HANDLE file = ::CreateFileW(Utf16(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
    ::CloseHandle(file);
}

std::uint64_t FilePosition(CFileHandle file) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    if (!::SetFilePointerEx(AsHandle(file), zero, &at, FILE_CURRENT)) return 0;
    return static_cast<std::uint64_t>(at.QuadPart);
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

EConsoleLine ReadConsoleLine(std::string& line) {
    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode)) return EConsoleLine::kNotConsole;
    // The console hands out a line once Enter is pressed, in pieces when it is longer than the
    // buffer; nothing at all when it is closed.
    std::wstring typed;
    wchar_t buffer[1024];
    while (typed.empty() || typed.back() != L'\n') {
        DWORD count = 0;
        if (!::ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &count,
                            nullptr) ||
            count == 0)
            break;
        typed.append(buffer, count);
    }
    // Ctrl+Z, then Enter, ends a console's input.
    if (typed.empty() || typed.front() == L'\x1A') return EConsoleLine::kEnd;
    while (!typed.empty() && (typed.back() == L'\n' || typed.back() == L'\r'))
        typed.pop_back();
    line = Utf8(typed);
    return EConsoleLine::kLine;
}

std::size_t TerminalColumns(CFileHandle file) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(AsHandle(file), &info)) return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

namespace {

// Held while the targets are replaced: an interrupt then waits until the set is whole again.
SRWLOCK g_commitLock = SRWLOCK_INIT;
std::atomic<bool> g_interruptWaiting{false};
bool g_lockKept = false;  // by CInterruptsHeld::KeepHeld, until ReleaseInterrupts

// Runs in a thread of its own, which Windows starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            g_interruptWaiting = true;
            ::AcquireSRWLockExclusive(&g_commitLock);
            RemoveTemporaryFiles();
            if (LineShown()) {
                static const char kClear[] = "\r\033[K";
                DWORD ignored = 0;
                ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kClear, sizeof kClear - 1, &ignored,
                            nullptr);
            }
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
    if (m_bKeep) {
        g_lockKept = true;
    } else {
        ::ReleaseSRWLockExclusive(&g_commitLock);
    }
}

bool CInterruptsHeld::Pending() const {
    return g_interruptWaiting;
}

void ReleaseInterrupts() {
    if (g_lockKept) ::ReleaseSRWLockExclusive(&g_commitLock);
    g_lockKept = false;
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
    NoteSize(path);
    return true;
}

void CInputFile::OpenStandardInput() {
    Close();
    m_strName = "<stdin>";
    m_file = FromHandle(::GetStdHandle(STD_INPUT_HANDLE));
    m_bOwned = false;
    // Standard input has no path for the test seam to cut.
    NoteSize("");
}

void CInputFile::Close() {
    if (m_bOwned && m_file != kNoFile) ::CloseHandle(AsHandle(m_file));
    m_file = kNoFile;
    m_bOwned = false;
}

namespace {

// Memory the system allocated with LocalAlloc, freed when it goes.
struct CLocalFree {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using CLocalMemory = std::unique_ptr<void, CLocalFree>;

// What a new file takes over from the file it replaces: its owner, its group and its access list,
// and whether that list is protected from the entries the folder passes on.
struct CSecurity {
    CLocalMemory m_descriptor;  // what the pointers point into
    PSID m_owner = nullptr;
    PSID m_group = nullptr;
    PACL m_dacl = nullptr;
    bool m_bProtected = false;
};

// Reads the security of the file `path`; `found` stays false when there is no file there to
// replace, or only a link (a reparse point, or under Wine a link of the host): what it leads to
// is someone else's file, whose permissions say nothing of the new one. Returns the system's
// error code.
DWORD ReadSecurity(const std::string& path, CSecurity& security, bool& found) {
    found = false;
    DWORD err = 0;
    // Reading a descriptor is refused neither by another program's sharing nor for a folder.
    std::wstring wide = Utf16(path);
    HANDLE file = OpenFile(path, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) {
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? 0 : err;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        err = ::GetLastError();
    } else if (!(info.dwFileAttributes &
                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
               IsOwnNameOf(file, wide.c_str())) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        err = ::GetSecurityInfo(
            file, SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &security.m_owner, &security.m_group, &security.m_dacl, nullptr, &descriptor);
        security.m_descriptor.reset(descriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (err == ERROR_SUCCESS &&
            !::GetSecurityDescriptorControl(descriptor, &control, &revision))
            err = ::GetLastError();
        security.m_bProtected = (control & SE_DACL_PROTECTED) != 0;
        found = err == ERROR_SUCCESS;
    }
    ::CloseHandle(file);
    return err;
}

// A descriptor whose access list lets only the user this process runs as open the file.
DWORD OwnerOnlyDescriptor(CLocalMemory& descriptor) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return ::GetLastError();
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    LPWSTR sid = nullptr;
    bool ok = ::GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
              ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
    DWORD err = ok ? 0 : ::GetLastError();
    ::CloseHandle(token);
    if (!ok) return err;
    std::wstring sddl = std::wstring(L"D:P(A;;FA;;;") + sid + L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR result = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &result, nullptr)) {
        return ::GetLastError();
    }
    descriptor.reset(result);
    return 0;
}

// Gives the new file `file` the old file's access list, and its owner and group where this
// process may: giving a file to another user takes a privilege, and then the file stays the
// converting user's. A list that was not protected gets the entries the folder passes on now, in
// place of those the old file got from it: they stay the folder's, changed when the folder's are.
DWORD CarrySecurity(HANDLE file, const CSecurity& old) {
    const SECURITY_INFORMATION list =
        DACL_SECURITY_INFORMATION | (old.m_bProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                      : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const SECURITY_INFORMATION kAlso[] = {OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                                          GROUP_SECURITY_INFORMATION, 0};
    DWORD err = 0;
    for (SECURITY_INFORMATION also : kAlso) {
        err = ::SetSecurityInfo(file, SE_FILE_OBJECT, list | also, old.m_owner, old.m_group,
                                old.m_dacl, nullptr);
        if (err == ERROR_SUCCESS) break;
    }
    return err;
}

// Gives the temporary `file` the security of the file it replaces. Renaming it into place needs
// the right to delete it, which that security may not give the user who converts: then the
// target could not be replaced either, and the temporary gets its owner-only list back, so that
// it can be removed.
DWORD TakeSecurity(HANDLE file, const std::string& temp, const CSecurity& old,
                   PSECURITY_DESCRIPTOR ownerOnly) {
    DWORD err = CarrySecurity(file, old);
    if (err == ERROR_SUCCESS) {
        HANDLE removable =
            OpenFile(temp, DELETE, kShareAll, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, err);
        if (removable != INVALID_HANDLE_VALUE) {
            ::CloseHandle(removable);
            return ERROR_SUCCESS;
        }
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (::GetSecurityDescriptorDacl(ownerOnly, &present, &dacl, &defaulted)) {
        ::SetSecurityInfo(file, SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, dacl, nullptr);
    }
    return err;
}

}  // namespace

bool CReplacingFile::Create(const std::string& target, const std::string& temp, CError& error) {
    Discard();
    m_strTarget = target;
    // A directory cannot be replaced. Found only at the renames, it would fail the run late;
    // found here, it fails the run before anything is written.
    if (IsDirectoryW(Utf16(target))) return Fail(error, target, kErrorDirectoryNotSupported);
    // A file that replaces another takes its owner, group and access list, as one replaced with
    // ReplaceFileW does, so that it is never open to more people than the old one; a file that
    // did not exist takes the folder's permissions, as every new file on Windows does.
    CSecurity old;
    bool replacing = false;
    DWORD err = ReadSecurity(target, old, replacing);
    if (err != ERROR_SUCCESS) return Fail(error, target, err);
    // Until it has the old file's list, only the user who converts may open it: nobody else can
    // hold it open meanwhile to read what it will hold.
    CLocalMemory ownerOnly;
    if (replacing && (err = OwnerOnlyDescriptor(ownerOnly)) != ERROR_SUCCESS) {
        return Fail(error, target, err);
    }
    SECURITY_ATTRIBUTES security{sizeof security, ownerOnly.get(), FALSE};
    // Registered before it exists, so that no moment is left in which an interrupt could leave
    // the file behind.
    int slot = RegisterTemporaryFile(temp);
    // Sharing delete lets an interrupt remove the file while it is still being written.
    HANDLE file = OpenFile(
        temp, GENERIC_WRITE | (replacing ? READ_CONTROL | WRITE_DAC | WRITE_OWNER : 0),
        FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, err, replacing ? &security : nullptr);
    if (file != INVALID_HANDLE_VALUE && replacing &&
        (err = TakeSecurity(file, temp, old, ownerOnly.get())) != ERROR_SUCCESS) {
        ::CloseHandle(file);
        RemoveOwnName(Utf16(temp).c_str());
        file = INVALID_HANDLE_VALUE;
    }
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
        RemoveOwnName(Utf16(m_strTemp).c_str());
        m_strTemp.clear();
    }
    UnregisterTemporaryFile(m_nSlot);
    m_nSlot = -1;
}

namespace {

// The user this process runs as, and the owner its new files get (for an administrator, the
// Administrators group), as SIDs; empty when the system does not say.
struct COwners {
    std::vector<unsigned char> m_user;
    std::vector<unsigned char> m_owner;
};

const COwners& ThisUser() {
    static const COwners owners = [] {
        COwners result;
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return result;
        auto read = [token](TOKEN_INFORMATION_CLASS what, std::vector<unsigned char>& sid) {
            DWORD size = 0;
            ::GetTokenInformation(token, what, nullptr, 0, &size);
            std::vector<unsigned char> info(size);
            if (size == 0 || !::GetTokenInformation(token, what, info.data(), size, &size)) return;
            PSID found = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
            const auto* bytes = static_cast<const unsigned char*>(found);
            sid.assign(bytes, bytes + ::GetLengthSid(found));
        };
        read(TokenUser, result.m_user);
        read(TokenOwner, result.m_owner);
        ::CloseHandle(token);
        return result;
    }();
    return owners;
}

// Whether the file `path` (a link itself, not what it leads to) belongs to the user this process
// runs as. A file system that keeps no owners (FAT) holds nobody else's files; a file whose
// owner cannot be read is not taken for the user's.
bool OwnedByThisUser(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD err = ::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                  nullptr, nullptr, &descriptor);
    ::CloseHandle(file);
    CLocalMemory held(descriptor);
    if (err == ERROR_NOT_SUPPORTED || (err == ERROR_SUCCESS && owner == nullptr)) return true;
    if (err != ERROR_SUCCESS) return false;
    const COwners& us = ThisUser();
    for (const std::vector<unsigned char>* sid : {&us.m_user, &us.m_owner}) {
        if (!sid->empty() && ::EqualSid(owner, const_cast<unsigned char*>(sid->data()))) {
            return true;
        }
    }
    return false;
}

}  // namespace

CFileStatus StatusOf(const std::string& path) {
    CFileStatus result;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Utf16(path).c_str(), GetFileExInfoStandard, &data)) return result;
    DWORD attributes = data.dwFileAttributes;
    result.m_kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EFileKind::kLink
                    : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EFileKind::kDirectory
                    : (attributes & FILE_ATTRIBUTE_DEVICE)      ? EFileKind::kOther
                                                                : EFileKind::kRegular;
    if (result.m_kind == EFileKind::kRegular) {
        // Under Wine a symbolic link of the host looks like a plain file.
        DWORD err = 0;
        HANDLE file = OpenOwnName(Utf16(path).c_str(), 0, err);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        if (err == kLeadsElsewhere) result.m_kind = EFileKind::kLink;
    }
    result.m_bOurs = OwnedByThisUser(Utf16(path));
    return result;
}

bool CouldReplace(const std::string&, const std::string&, const std::string&) {
    return true;
}

bool RenameFile(const std::string& from, const std::string& to, CError& error) {
    // Renamed through the handle that was checked, so that nothing put under the name meanwhile
    // is moved instead; the new name as the system takes it, a full path of its own form.
    std::wstring source = Utf16(from);
    DWORD err = 0;
    HANDLE file = OpenOwnName(source.c_str(), DELETE | SYNCHRONIZE, err);
    if (file == INVALID_HANDLE_VALUE) {
        return err == kLeadsElsewhere ? FailName(error, from, err) : FailInUse(error, to, err);
    }
    std::wstring wide = Utf16(to);
    DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    full.resize(size);
    if (full.rfind(L"\\\\?\\", 0) == 0) {
        full.erase(0, 4);
    } else if (full.rfind(L"\\\\", 0) == 0) {
        full.replace(0, 2, L"UNC\\");
    }
    full.insert(0, L"\\??\\");
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
    std::copy(full.begin(), full.end(), rename->FileName);
    bool ok = ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                           static_cast<DWORD>(buffer.size()));
    err = ok ? 0 : ::GetLastError();
    ::CloseHandle(file);
    return ok || FailInUse(error, to, err);
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
    DWORD err = RemoveOwnName(Utf16(path).c_str());
    return err == 0 || FailName(error, path, err);
}

bool MakeDirectory(const std::string& dir, CError& error) {
    return ::CreateDirectoryW(Utf16(dir).c_str(), nullptr) || Fail(error, dir, ::GetLastError());
}

// A folder's permissions are its access list, which only an attempt to write answers for sure:
// only what it is is checked.
bool MayWriteInDirectory(const std::string& dir, CError& error) {
    EFileKind kind = StatusOf(DirName(dir)).m_kind;
    if (kind == EFileKind::kDirectory || kind == EFileKind::kLink) return true;
    // What Windows says of a path through a file as well as of a missing folder.
    return Fail(error, DirName(dir), ERROR_PATH_NOT_FOUND);
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
    RemoveOwnName(Utf16(path).c_str());
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

namespace {

bool NotALockFile(CError& error, const std::string& path, EFileKind kind) {
    error = {path, 0,
             std::string("is ") +
                 (kind == EFileKind::kDirectory ? "a folder" : "a link or a device") +
                 " where halvic keeps its lock file; remove it and try again"};
    return false;
}

}  // namespace

bool CFileLock::Take(const std::string& path, EMode mode, const std::function<void()>& onWait,
                     CError& error, int waitSeconds) {
    Release();
    m_bNotPermitted = false;
    m_bTimedOut = false;
    CFileStatus status = StatusOf(path);
    if (status.m_kind != EFileKind::kMissing && status.m_kind != EFileKind::kRegular) {
        return NotALockFile(error, path, status.m_kind);
    }
    DWORD err = 0;
    // The lock is on a byte range, and the file is never written. A conversion opens it for
    // writing too where it may: Wine and Samba then lock the byte for writing on the host as
    // well, where the Linux build sees it (for reading only, they lock it for reading).
    // Created hidden, as Explorer then shows the seven files without it (an existing file keeps
    // its attributes).
    auto open = [&path, &err](DWORD access) {
        return OpenFile(path, access, kShareAll, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, err);
    };
    HANDLE file = open(GENERIC_READ | (mode == EMode::kExclusive ? GENERIC_WRITE : 0));
    if (file == INVALID_HANDLE_VALUE && mode == EMode::kExclusive && err == ERROR_ACCESS_DENIED) {
        file = open(GENERIC_READ);
    }
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
        onWait, waitSeconds);
    if (result == kTimedOutCode) {
        ::CloseHandle(file);
        return GiveUp(path, error);
    }
    if (result != 0) {
        ::CloseHandle(file);
        return Fail(error, path, static_cast<DWORD>(result));
    }
    m_file = FromHandle(file);
    return true;
}

bool CFileLock::Check(const std::string& path, CError& error) {
    CFileStatus status = StatusOf(path);
    if (status.m_kind == EFileKind::kMissing) {
        std::string::size_type slash = path.find_last_of(kPathSeparators);
        return MayWriteInDirectory(slash == std::string::npos ? "" : path.substr(0, slash), error);
    }
    if (status.m_kind != EFileKind::kRegular) {
        return NotALockFile(error, path, status.m_kind);
    }
    DWORD err = 0;
    HANDLE file = OpenFile(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, err);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, path, err);
    ::CloseHandle(file);
    return true;
}

// Another process may hold the lock file open, waiting for the lock, and would then see the file
// "pending deletion" and fail: the file stays.
void CFileLock::ReleaseRemovingCreated(const std::string&) {
    Release();
}

void CFileLock::Release() {
    // Closing the file lets go of its lock.
    if (m_file != kNoFile) ::CloseHandle(AsHandle(m_file));
    m_file = kNoFile;
}

}  // namespace halvic
