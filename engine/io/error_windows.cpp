#include <windows.h>

#include "engine/io/error.h"
#include "engine/io/windows_text.h"

namespace halvic {

namespace {

// Newer than the compiler's headers.
constexpr int kErrorDirectoryNotSupported = 336;

}  // namespace

const char kNameQuote = '"';

std::string SystemReason(int err) {
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(err), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (n != 0 && text != nullptr) reason = Utf8(std::wstring_view(text, n));
    if (text != nullptr) ::LocalFree(text);
    // The system's words end with a line break, which a message of ours must not have.
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    // Some systems (Wine among them) lack the words for newer codes.
    if (reason.empty() && err == kErrorDirectoryNotSupported)
        reason = "An operation is not supported on a directory.";
    if (reason.empty()) reason = "system error " + std::to_string(err);
    return reason;
}

}  // namespace halvic
