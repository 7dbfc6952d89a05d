// Text at the Windows system calls: the engine and its callers speak UTF-8, Windows UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace halvic {

// UTF-8 to UTF-16; a byte that is not UTF-8 becomes U+FFFD.
std::wstring Utf16(std::string_view text);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view text);

}  // namespace halvic
