#include "app/wx_strings.h"

#include <wx/strconv.h>

#include <cstdio>

namespace halvic::app {

std::string ToFileName(const wxString& text) {
    if (text.empty()) return std::string();
    wxCharBuffer buffer = text.mb_str(*wxConvFileName);
    if (buffer.length() > 0) return std::string(buffer.data(), buffer.length());
    wxScopedCharBuffer utf8 = text.utf8_str();  // the file system's encoding cannot spell it
    return std::string(utf8.data(), utf8.length());
}

wxString ToDisplay(const std::string& bytes) {
    if (bytes.empty()) return wxString();
    wxString text(bytes.data(), *wxConvFileName, bytes.size());
    if (!text.empty()) return text;
    std::string escaped;
    for (unsigned char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7f) {
            escaped += static_cast<char>(byte);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            escaped += hex;
        }
    }
    return wxString::FromAscii(escaped.c_str());
}

}  // namespace halvic::app
