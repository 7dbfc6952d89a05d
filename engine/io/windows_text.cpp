#include "engine/io/windows_text.h"

#include <windows.h>

namespace halvic {

std::wstring Utf16(std::string_view text) {
    if (text.empty()) return std::wstring();
    int size = static_cast<int>(text.size());
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return std::string();
    int size = static_cast<int>(text.size());
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}

}  // namespace halvic
