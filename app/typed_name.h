// What the dialog does with the name the user typed: convert that file, or tell why nothing was
// converted. Plain C++ (no wxWidgets), so that it is tested without a display.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/conversion/convert_file.h"

namespace halvic::app {

inline constexpr const char* kNoNameMessage = "No file name was given.";
// The titles of the message boxes.
inline constexpr const char* kFailureTitle = "Halvic: nothing converted";
inline constexpr const char* kHelpTitle = "Halvic help";
inline constexpr const char* kWarningsTitle = "Halvic: converted with warnings";
inline constexpr const char* kSaveWarningsTitle = "Save the warnings";
inline constexpr const char* kNotSavedTitle = "Halvic: warnings not saved";
inline constexpr const char* kNotCopiedTitle = "Halvic: warnings not copied";
inline constexpr const char* kNoClipboardMessage = "The clipboard cannot be opened.";
// The name the save dialog offers, in the folder the files went to.
inline constexpr const char* kWarningsFileName = "halvic-warnings.txt";
// The warnings a message box shows in full; the rest are counted.
inline constexpr std::size_t kShownWarnings = 5;

// What F1 shows: what the dialog does, with the folder the files go to.
std::string HelpText(const std::string& folder);

// What the dialog shows after a conversion with warnings: the first kShownWarnings as the command
// line prints them ("FILE:LINE: text"), how many more there are, and the folder the files went to.
std::string WarningsText(const std::vector<CWarning>& warnings, const std::string& folder);

// Every warning a line, as the command line prints them (each kind's first ten, then how many
// more of it): the list the warnings box shows under "Details", puts on the clipboard and saves.
std::string DetailsText(const std::vector<CWarning>& warnings);

// Writes `text` to the file `path`, which the user chose to save the warnings in. An existing file
// is replaced only once the whole text is written, so that a failure leaves it as it was. On
// failure returns false and sets `message` to "FILE: reason".
bool SaveTextFile(const std::string& path, const std::string& text, std::string& message);

// For the dialogs' test hook (HALVIC_GUI_REPORT): each line of `text` after "`key` ", so that a
// message of several lines keeps its key on each.
std::string PrefixLines(const std::string& key, const std::string& text);

struct CTypedNameOutcome {
    int m_nExitCode = 0;       // 0: converted; 1: nothing was converted (see m_strMessage)
    std::string m_strMessage;  // for the user when not empty: "FILE: reason" or kNoNameMessage
    std::vector<CWarning> m_warnings;  // of a conversion that succeeded
};

// Converts the file named `name`, read as a typed name is read at the prompt too (surrounding
// spaces and one pair of quotes taken away, "~/" the home folder; see engine/io/typed_path.h;
// "-" is a file name), into the current working directory, and flushes the files to the disk before
// it returns: a person waits for a result they will trust. An empty name converts nothing. `onWait`
// is called once when another conversion into the same directory has been waited for a second.
// `progress`, when given, follows the reading and can cancel it: nothing is then replaced and the
// message is "Conversion cancelled.".
CTypedNameOutcome ConvertTypedName(const std::string& name,
                                   const std::function<void()>& onWait = {},
                                   CConvertProgress* progress = nullptr);

}  // namespace halvic::app
