#include <windows.h>

#include <string>

#include "app/gui_report.h"
#include "app/typed_name.h"
#include "engine/io/windows_text.h"

namespace halvic::app {

void Report(const char* key, const std::string& text) {
    wchar_t path[32768];
    DWORD n = ::GetEnvironmentVariableW(L"HALVIC_GUI_REPORT", path, 32768);
    if (n == 0 || n >= 32768) return;
    HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string lines = PrefixLines(key, text) + "\n";
    DWORD written = 0;
    ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace halvic::app
