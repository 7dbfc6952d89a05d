// RunProcess on Windows: CreateProcessW with pipes for the three standard streams.
#include <windows.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include "engine/io/windows_text.h"
#include "tests/support/process.h"

namespace halvic::testing {

const bool kCanLimitFileSize = false;

namespace {

// One argument as the C runtime's command-line parser gives it back: quoted when it holds a
// space, a tab or a quote (or is empty), a quote escaped, backslashes doubled before a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

void MakePipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!::CreatePipe(&read, &write, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    // Only the child's end is inherited.
    ::SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

void ReadAll(HANDLE pipe, std::string& into,
             const std::function<void(const std::string&)>& onMore = nullptr) {
    char buffer[65536];
    DWORD n = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        into.append(buffer, n);
        if (onMore) onMore(into);
    }
}

}  // namespace

CProcessResult RunProcess(const std::vector<std::string>& argv, const CProcessOptions& options) {
    if (options.m_nFileSizeLimit >= 0 || options.m_nAddressSpaceLimit >= 0 ||
        options.m_nProcessLimit >= 0 || options.m_bUnprivileged || options.m_bStderrTerminal ||
        !options.m_env.empty() || !options.m_strStdout.empty() || options.m_nStdoutTaken >= 0 ||
        !options.m_defaultSignals.empty() || !options.m_ignoredSignals.empty()) {
        throw std::runtime_error("limits, environments and other outputs are for POSIX systems");
    }
    std::wstring commandLine;
    for (const std::string& arg : argv) {
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(Utf16(arg));
        if (!options.m_strCommandLine.empty()) {
            commandLine += L" " + Utf16(options.m_strCommandLine);
            break;
        }
    }

    HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
    MakePipe(inRead, inWrite, true);
    MakePipe(outRead, outWrite, false);
    MakePipe(errRead, errWrite, false);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    std::wstring workDir = Utf16(options.m_strWorkDir);
    std::wstring program = Utf16(argv.at(0));
    BOOL started =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         options.m_bNewConsole ? CREATE_NEW_CONSOLE : 0, nullptr,
                         workDir.empty() ? nullptr : workDir.c_str(), &startup, &process);
    DWORD startError = ::GetLastError();
    for (HANDLE childEnd : {inRead, outWrite, errWrite})
        ::CloseHandle(childEnd);
    if (!started) {
        for (HANDLE end : {inWrite, outRead, errRead})
            ::CloseHandle(end);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::to_string(startError));
    }

    CProcessResult result;
    std::thread writer([&] {
        DWORD n = 0;
        std::size_t written = 0;
        while (written < options.m_strStdin.size() &&
               ::WriteFile(inWrite, options.m_strStdin.data() + written,
                           static_cast<DWORD>(options.m_strStdin.size() - written), &n, nullptr))
            written += n;
        if (options.m_whileRunning) options.m_whileRunning(process.dwProcessId);
        ::CloseHandle(inWrite);
    });
    std::thread errReader([&] { ReadAll(errRead, result.m_strErr, options.m_onStderr); });
    ReadAll(outRead, result.m_strOut);
    errReader.join();
    writer.join();
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    result.m_nExitCode = static_cast<int>(code);
    for (HANDLE handle : {outRead, errRead, process.hProcess, process.hThread})
        ::CloseHandle(handle);
    return result;
}

}  // namespace halvic::testing
