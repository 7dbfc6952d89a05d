// End-to-end tests of halvic.exe for what only Windows does: files held open by other programs,
// access lists, and the system's reasons in words.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/io/error.h"
#include "engine/io/windows_text.h"
#include "tests/support/end_to_end.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::ListFiles;
using testing::OutputNames;
using testing::PutOldOutputs;
using testing::ReadFile;
using testing::RunProcess;
using testing::WriteFile;

// The user this process runs as, as SDDL writes it.
std::string CurrentUserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    LPWSTR sid = nullptr;
    std::string text;
    if (::GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        text = Utf8(sid);
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return text;
}

// Gives `path` the access list of the SDDL text `sddl` ("D:P(A;;FA;;;BA)..."); one that is not
// protected ("D:(...)") gets the folder's inheritable entries after its own.
void SetAccessList(const fs::path& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        Utf16(sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        << sddl;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    std::wstring name = path.wstring();
    DWORD err = ::SetNamedSecurityInfoW(
        name.data(), SE_FILE_OBJECT,
        DACL_SECURITY_INFORMATION |
            ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                           : UNPROTECTED_DACL_SECURITY_INFORMATION),
        nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    ASSERT_EQ(err, static_cast<DWORD>(ERROR_SUCCESS)) << path << ": " << SystemReason(err);
}

// The access list of `path` as the system keeps it: "protected " when it is protected from the
// folder's, then its entries in order as SDDL writes them (an entry the folder passed on carries
// "ID"). The flags the system keeps for its own bookkeeping are left out.
std::string AccessList(const fs::path& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD err =
        ::GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (err != ERROR_SUCCESS) return "(unreadable: " + SystemReason(err) + ")";
    LPWSTR text = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    std::string list;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr) &&
        ::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        std::string sddl = Utf8(text);
        std::string::size_type entries = sddl.find('(');
        list = (control & SE_DACL_PROTECTED ? "protected " : "") +
               (entries == std::string::npos ? "(no entries)" : sddl.substr(entries));
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return list;
}

class WindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_dir.Path() / "out");
        fs::copy_file(fs::path(HALVIC_SOURCE_DIR) / "examples/sample.txt",
                      m_dir.Path() / "sample.txt");
        PutOldOutputs(m_dir.Path() / "out");
    }

    testing::CProcessResult Convert() {
        testing::CProcessOptions options;
        options.m_strWorkDir = m_dir.Path().string();
        return RunProcess({HALVIC_BIN, "convert", "sample.txt", "-o", "out"}, options);
    }

    void ExpectSampleOutputs(const std::string& dir = "out") {
        for (const std::string& name : OutputNames()) {
            EXPECT_EQ(ReadFile(m_dir.Path() / fs::u8path(dir) / name),
                      ReadFile(fs::path(HALVIC_SOURCE_DIR) / "examples/expected" / name))
                << name;
        }
    }

    testing::CScratchDir m_dir{"halvic-windows"};
};

// Another program reads a table file and lets nobody delete or rename it meanwhile, as many
// Windows programs do. The files before it in the set are replaced by then: they must be put back.
TEST_F(WindowsTest, ATargetHeldOpenByAnotherProgramLeavesTheOldSet) {
    auto before = ListFiles(m_dir.Path() / "out");
    for (const std::string& held : {std::string("qxn.qxd"), std::string("qxase.qxd")}) {
        HANDLE file = ::CreateFileW((m_dir.Path() / "out" / held).wstring().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        testing::CProcessResult result = Convert();
        ::CloseHandle(file);
        EXPECT_EQ(result.m_nExitCode, 1) << held;
        EXPECT_EQ(result.m_strErr, "halvic: error: out\\" + held + ": " +
                                       SystemReason(ERROR_SHARING_VIOLATION) +
                                       " (another program has it open; close it and convert "
                                       "again)\n");
        EXPECT_EQ(ListFiles(m_dir.Path() / "out"), before) << held;
    }
    // Once the file is let go, the conversion goes through.
    EXPECT_EQ(Convert().m_nExitCode, 0);
    ExpectSampleOutputs();
}

// One conversion at a time per folder: the lock is a byte-range lock (LockFileEx) on the lock
// file, held here as another conversion would hold it.
TEST_F(WindowsTest, AConversionWaitsForTheOneBeforeIt) {
    HANDLE lock =
        ::CreateFileW((m_dir.Path() / "out" / ".halvic.lock").wstring().c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    ASSERT_TRUE(::LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at));
    testing::CProcessOptions options;
    options.m_strWorkDir = m_dir.Path().string();
    bool held = true;
    // The lock goes once halvic has said a line, which must be that it waits, and not before.
    options.m_onStderr = [&](const std::string& err) {
        if (!held || err.back() != '\n') return;
        EXPECT_EQ(ReadFile(m_dir.Path() / "out" / "qxase.qxd"), "old qxase.qxd");
        ::UnlockFileEx(lock, 0, 1, 0, &at);
        held = false;
    };
    testing::CProcessResult result =
        RunProcess({HALVIC_BIN, "convert", "sample.txt", "-o", "out"}, options);
    ::CloseHandle(lock);
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, "halvic: waiting for another conversion into out\n");
    ExpectSampleOutputs();
}

// Ctrl+C (or Ctrl+Break, or closing the console) while halvic reads its input: the temporary files
// go, the old set stays, and halvic ends as Ctrl+C ends a program.
TEST_F(WindowsTest, CtrlCRemovesTheTemporaryFiles) {
    auto before = ListFiles(m_dir.Path() / "out");
    testing::CProcessOptions options;
    options.m_strWorkDir = m_dir.Path().string();
    options.m_bNewConsole = true;
    bool sent = false;
    options.m_whileRunning = [&](unsigned long pid) {
        // Once the temporaries exist, the conversion is waiting for the rest of its input.
        for (int i = 0; i < 500 && ListFiles(m_dir.Path() / "out").size() <= OutputNames().size();
             ++i)
            ::Sleep(10);
        // Sent to the child's console, which this process joins, ignoring Ctrl+C itself.
        ::FreeConsole();
        HANDLE child = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
        sent = ::AttachConsole(pid) && ::SetConsoleCtrlHandler(nullptr, TRUE) &&
               ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        // The event arrives in a thread of its own: the input stays open until it has ended
        // the conversion, which would otherwise go on to the end.
        if (child != nullptr) {
            ::WaitForSingleObject(child, 10000);
            ::CloseHandle(child);
        }
    };
    options.m_strStdin = "<@>1<l>a partial input";
    testing::CProcessResult result = RunProcess({HALVIC_BIN, "convert", "-", "-o", "out"}, options);
    ::FreeConsole();
    ASSERT_TRUE(sent);
    EXPECT_EQ(static_cast<unsigned long>(result.m_nExitCode), STATUS_CONTROL_C_EXIT);
    EXPECT_EQ(ListFiles(m_dir.Path() / "out"), before);
}

// A catalogue kept private stays private: a file that replaces another takes its access list,
// protected or not, with the entries it was given (for groups this user is in none of) and those
// the folder passes on; a file that did not exist takes the folder's, like any new file.
TEST_F(WindowsTest, AReplacedFileKeepsItsAccessList) {
    const fs::path out = m_dir.Path() / "out";
    const std::string user = CurrentUserSid();
    ASSERT_FALSE(user.empty());
    const std::map<std::string, std::string> kLists = {
        // Only this user, and Backup Operators reading; Guests may not write.
        {"qxase.qxd", "D:P(D;;FW;;;BG)(A;;FA;;;" + user + ")(A;;FR;;;BO)"},
        // An entry of its own before those of the folder.
        {"qxm.qxd", "D:(A;;FR;;;BO)"},
    };
    std::map<std::string, std::string> kept;
    for (const auto& [name, sddl] : kLists) {
        ASSERT_NO_FATAL_FAILURE(SetAccessList(out / name, sddl));
        kept[name] = AccessList(out / name);
        std::string given = sddl.substr(sddl.find('('));
        if (kept[name].find(given) == std::string::npos) {
            // Wine turns an access list into Unix permission bits and makes one up from them
            // when asked: there is nothing a replaced file could keep.
            GTEST_SKIP() << "this system does not keep the access lists of files: " << name
                         << " was given " << sddl << " and has " << kept[name];
        }
    }
    fs::remove(out / "qxn.qxd");
    ASSERT_EQ(Convert().m_nExitCode, 0);
    ExpectSampleOutputs();
    for (const auto& [name, list] : kept)
        EXPECT_EQ(AccessList(out / name), list) << name;
    WriteFile(out / "new.txt", "");
    EXPECT_EQ(AccessList(out / "qxn.qxd"), AccessList(out / "new.txt"));
}

// Paths in every form a Windows user or a POSIX-like shell writes them: from the drive, rooted on
// the current drive with '\' or with '/' (a path, not an option), in the "\\?\" form, with a
// space and beyond any code page. Messages join a folder and a file with '\' (or with the '/' the
// folder is written with) and quote a name with a space in double quotes; "/?" asks for help.
TEST_F(WindowsTest, PathsAsWindowsWritesThem) {
    const std::string dir = m_dir.Path().string();  // "C:\users\...\halvic-windows-..."
    ASSERT_EQ(dir.substr(1, 2), ":\\");
    const std::string rooted = dir.substr(2);  // "\users\..."
    // "/users/...", as POSIX-like shells write it; Wine reads such a path as one of the Unix
    // system's, and says which.
    std::string slashed = rooted;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    using CUnixName = char*(__cdecl*)(const wchar_t*);
    if (auto unixName = reinterpret_cast<CUnixName>(
            ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"))) {
        char* name = unixName(m_dir.Path().wstring().c_str());
        ASSERT_NE(name, nullptr);
        slashed = name;
        ::HeapFree(::GetProcessHeap(), 0, name);
    }
    const std::string kSpaced = "Ausgabe \xC3\x9F \xCE\xA9";  // "Ausgabe ß Ω"
    fs::create_directories(m_dir.Path() / "empty");
    ASSERT_EQ(Convert().m_nExitCode, 0);

    const std::string kNoFile = testing::Reasons().m_strNoFile;
    const std::string kNoFolder = testing::Reasons().m_strNoFolder;
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
        std::string output;  // the folder the seven files go to
    } kCases[] = {
        {{"convert", dir + "\\sample.txt", "-o", dir + "\\d"}, 0, "", "d"},
        {{"convert", rooted + "\\sample.txt", "-o", rooted + "\\r"}, 0, "", "r"},
        {{"convert", slashed + "/sample.txt", "-o", slashed + "/s"}, 0, "", "s"},
        {{"convert", "\\\\?\\" + dir + "\\sample.txt", "--output", "\\\\?\\" + dir + "\\u"},
         0,
         "",
         "u"},
        {{"convert", "sample.txt", "--output-dir", kSpaced}, 0, "", kSpaced},
        {{"dump", slashed + "/out", "-r", "99"},
         1,
         "halvic: error: " + slashed +
             "/out/qxase.qxd: there is no record 99: the file holds 12 "
             "records\n"},
        {{"dump", rooted + "\\out\\qxs.qxd", "-r", "99"},
         1,
         "halvic: error: " + rooted +
             "\\out\\qxase.qxd: there is no record 99: the file holds 12 "
             "records\n"},
        {{"dump", dir + "\\empty"},
         1,
         "halvic: error: " + dir + "\\empty\\qxase.qxd: " + kNoFile + "\n"},
        {{"dump", "empty"}, 1, "halvic: error: empty\\qxase.qxd: " + kNoFile + "\n"},
        {{"convert", "nowhere\\sample.txt"},
         1,
         "halvic: error: nowhere\\sample.txt: " + kNoFolder + "\n"},
        {{"convert", kSpaced + "\\sample.txt"},
         1,
         "halvic: error: \"" + kSpaced + "\\sample.txt\": " + kNoFile + "\n"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> argv = {HALVIC_BIN};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        testing::CProcessOptions options;
        options.m_strWorkDir = dir;
        testing::CProcessResult result = RunProcess(argv, options);
        EXPECT_EQ(result.m_nExitCode, c.exitCode) << c.args[1];
        EXPECT_EQ(result.m_strErr, c.err) << c.args[1];
        if (!c.output.empty()) ExpectSampleOutputs(c.output);
    }

    // "/?" is the help of halvic, or of the command it follows.
    for (const std::string& command : {std::string(), std::string("convert")}) {
        std::vector<std::string> argv = {HALVIC_BIN};
        if (!command.empty()) argv.push_back(command);
        std::vector<std::string> asked = argv;
        asked.push_back("/?");
        argv.push_back("--help");
        testing::CProcessResult help = RunProcess(asked);
        EXPECT_EQ(help.m_nExitCode, 0) << command;
        EXPECT_NE(help.m_strOut.find("Usage: halvic " + command), std::string::npos) << command;
        EXPECT_EQ(help.m_strOut, RunProcess(argv).m_strOut) << command;
    }
}

// A backslash before a closing quote escapes the quote: "Ausgabe ß\" reaches halvic as
// 'Ausgabe ß" -r 99', which says so before anything is touched.
TEST_F(WindowsTest, AQuoteEscapedByABackslashIsExplained) {
    const struct {
        std::string typed;  // after "convert sample.txt"
        std::string err;
    } kCases[] = {
        {"-o \"Ausgabe \xC3\x9F\\\" --sync",
         "halvic: error: Ausgabe \xC3\x9F\" --sync: no name holds a double quote; probably "
         "\"Ausgabe \xC3\x9F\\\" was typed, where the backslash before the closing quote keeps the "
         "quote, and what follows, in the argument: leave out that backslash (\"Ausgabe "
         "\xC3\x9F\")\nRun 'halvic convert --help' for more information.\n"},
        {"-o \"out\\\"",
         "halvic: error: out\": no name holds a double quote; probably \"out\\\" was typed, where "
         "the backslash before the closing quote keeps the quote in the argument: leave out that "
         "backslash (out)\nRun 'halvic convert --help' for more information.\n"},
        {"-o \"D:\\\"",
         "halvic: error: D:\": no name holds a double quote; probably \"D:\\\" was typed, where "
         "the backslash before the closing quote keeps the quote in the argument: leave out that "
         "backslash (D:\\)\nRun 'halvic convert --help' for more information.\n"},
    };
    auto before = ListFiles(m_dir.Path());
    for (const auto& c : kCases) {
        testing::CProcessOptions options;
        options.m_strWorkDir = m_dir.Path().string();
        options.m_strCommandLine = "convert sample.txt " + c.typed;
        testing::CProcessResult result = RunProcess({HALVIC_BIN}, options);
        EXPECT_EQ(result.m_nExitCode, 2) << c.typed;
        EXPECT_EQ(result.m_strErr, c.err);
        EXPECT_EQ(ListFiles(m_dir.Path()), before) << c.typed;
    }
}

// A name typed at the prompt through a redirected standard input is read as UTF-8, whatever the
// console's code page. (A console is read in UTF-16, which Wine's consoles do not let a test type
// into.)
TEST_F(WindowsTest, ThePromptReadsRedirectedNamesAsUtf8) {
    const std::wstring kName =
        L"\u03A9\u043C\u0435\u0433\u0430 \u6F22\u5B57.txt";  // "Ωмега 漢字.txt"
    fs::copy_file(m_dir.Path() / "sample.txt", m_dir.Path() / kName);
    testing::CProcessOptions options;
    options.m_strWorkDir = m_dir.Path().string();
    options.m_strStdin = " \"" + Utf8(kName) + "\" \r\n";
    testing::CProcessResult result = RunProcess({HALVIC_BIN}, options);
    EXPECT_EQ(result.m_nExitCode, 0);
    EXPECT_EQ(result.m_strErr, "Filename: ");
    ExpectSampleOutputs(".");
}

// The lock file a conversion creates is hidden, so that Explorer shows only the seven files; one
// that is there already keeps its attributes, and the lock works as before.
TEST_F(WindowsTest, TheLockFileIsHidden) {
    const fs::path lock = m_dir.Path() / "out" / ".halvic.lock";
    ASSERT_FALSE(fs::exists(lock));
    // The prefix shows names that begin with a dot as any other (Wine hides them otherwise).
    WriteFile(m_dir.Path() / "out" / ".plain", "");
    ASSERT_EQ(::GetFileAttributesW((m_dir.Path() / "out" / ".plain").wstring().c_str()) &
                  FILE_ATTRIBUTE_HIDDEN,
              0u);
    ASSERT_EQ(Convert().m_nExitCode, 0);
    EXPECT_NE(::GetFileAttributesW(lock.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    ExpectSampleOutputs();

    ::SetFileAttributesW(lock.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(Convert().m_nExitCode, 0);
    EXPECT_EQ(::GetFileAttributesW(lock.wstring().c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

// The reasons are the system's words, not numbers.
TEST_F(WindowsTest, ReasonsAreInWords) {
    const int kCodes[] = {ERROR_FILE_NOT_FOUND,    ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                          ERROR_SHARING_VIOLATION, ERROR_DISK_FULL,      336};
    for (int code : kCodes) {
        std::string reason = SystemReason(code);
        EXPECT_EQ(reason.find("system error"), std::string::npos) << code;
        EXPECT_GT(reason.size(), 8u) << code;
        EXPECT_NE(reason.back(), '\n') << code;
    }
}

}  // namespace
}  // namespace halvic
