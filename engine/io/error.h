// Failures inside the engine, and how they are told to the caller.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace halvic {

// What went wrong, and where: a file, optionally a line in it, and the reason in words.
struct CError {
    std::string m_strFile;
    std::uint64_t m_nLine = 0;  // 0: the failure is not tied to a line
    std::string m_strReason;
    // How many warnings a warning stands for: more than one for the line that counts the cases of
    // a kind beyond those shown.
    std::uint64_t m_nCount = 1;

    // "FILE: reason" or "FILE:LINE: reason".
    std::string Message() const;
};

// Message() with the file name in quotes when it holds a space, so that a reader sees where the
// name ends: how the command line and the dialog show a failure or a warning. The quotes are the
// system's shell's: kNameQuote.
std::string DescribedMessage(const CError& error);
// '\'' on POSIX systems, '"' on Windows.
extern const char kNameQuote;

// Carries a CError from deep inside a conversion to its edge (ConvertFile, ReadOutput), where it
// becomes a value again. It never leaves the engine's public entry points.
class CFailure : public std::runtime_error {
  public:
    explicit CFailure(CError error);
    const CError& Error() const { return m_error; }

  private:
    CError m_error;
};

// The system's words for error code `err`: an errno value on POSIX systems, a Windows error code
// (GetLastError) on Windows. One implementation per system (error_posix.cpp, error_windows.cpp).
std::string SystemReason(int err);

}  // namespace halvic
