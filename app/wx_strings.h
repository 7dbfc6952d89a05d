// Between wxString (what the controls hold) and the engine's 8-bit strings (file names as the
// file system spells them, messages that quote them).
#pragma once

#include <wx/string.h>

#include <string>

namespace halvic::app {

// The bytes of the file name `text` as the file system takes it.
std::string ToFileName(const wxString& text);

// `bytes` (a file name or a message quoting one) for showing; bytes that do not convert are
// shown as \xHH.
wxString ToDisplay(const std::string& bytes);

}  // namespace halvic::app
