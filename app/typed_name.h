// What the dialog does with the name the user typed: convert that file, or tell why nothing was
// converted. Plain C++ (no wxWidgets), so that it is tested without a display.
#pragma once

#include <functional>
#include <string>

#include "engine/convert.h"

namespace halvic::app {

inline constexpr const char* kNoNameMessage = "No file name was given.";
// The titles of the message boxes.
inline constexpr const char* kFailureTitle = "Halvic: nothing converted";
inline constexpr const char* kHelpTitle = "Halvic help";

// What F1 shows: what the dialog does, with the folder the files go to.
std::string HelpText(const std::string& folder);

struct CTypedNameOutcome {
    int m_nExitCode = 0;       // 0: converted; 1: nothing was converted (see m_strMessage)
    std::string m_strMessage;  // for the user when not empty: "FILE: reason" or kNoNameMessage
};

// Converts the file named `name`, exactly as typed (no trimming, "-" is a file name), into the
// current working directory, and flushes the files to the disk before it returns: a person waits
// for a result they will trust. An empty name converts nothing. `onWait` is called once when
// another conversion into the same directory has been waited for a second. `progress`, when
// given, follows the reading and can cancel it: nothing is then replaced and the message is
// "Conversion cancelled.".
CTypedNameOutcome ConvertTypedName(const std::string& name,
                                   const std::function<void()>& onWait = {},
                                   CConvertProgress* progress = nullptr);

}  // namespace halvic::app
