// halvic-gui's command line: "halvic-gui [FILE]", or a request for its help or version. Plain C++,
// shared by both dialogs and tested without a display.
#pragma once

#include <string>
#include <vector>

namespace halvic::app {

enum class EGuiStart { kDialog, kHelp, kVersion };

// What the arguments after the program's name ask for: "--help" or "-h" (on Windows also "/?")
// the help, "--version" the version, anything else the dialog, the first argument being a file
// name whatever it looks like.
EGuiStart ParseGuiArguments(const std::vector<std::string>& arguments);

// What --help and --version print.
std::string GuiHelpText();
std::string GuiVersionText();

// "halvic-gui FILE", as a file manager's "Open with" or Explorer's "Convert with Halvic" starts
// it: the files go to FILE's own folder, which the dialog makes its working folder, and the edit
// box holds FILE's name in it.
struct CGivenFile {
    std::string m_strFolder;  // empty: FILE names no folder, the working folder stays
    std::string m_strName;
};
// Splits FILE after its last '/' (on Windows also '\' or a drive's ':'); a name that ends in a
// separator is not split.
CGivenFile SplitGivenFile(const std::string& file);

}  // namespace halvic::app
