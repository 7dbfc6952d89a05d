#include "app/gui_command_line.h"

#include "engine/format/value_table.h"
#include "engine/set/output_set.h"

namespace halvic::app {

EGuiStart ParseGuiArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return EGuiStart::kDialog;
    const std::string& first = arguments.front();
#ifdef _WIN32
    if (first == "/?") return EGuiStart::kHelp;
#endif
    if (first == "--help" || first == "-h") return EGuiStart::kHelp;
    if (first == "--version") return EGuiStart::kVersion;
    return EGuiStart::kDialog;
}

std::string GuiHelpText() {
    std::string files = kRecordFileName;
    for (std::size_t i = 0; i < kTableCount; ++i)
        files += (i + 1 == kTableCount ? " and " : ", ") + TableFileName(i);
    return "Usage: halvic-gui [FILE]\n\n"
           "Opens a dialog that asks for the name of a tagged text file and converts it\n"
           "into " +
           files +
           " in the\n"
           "current folder. Given FILE, the dialog opens with FILE's name in its edit box,\n"
           "and the files go to FILE's own folder.\n\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n\n"
           "The command line, halvic, converts without a dialog: see halvic --help.\n";
}

std::string GuiVersionText() {
    return "halvic-gui " HALVIC_VERSION "\n";
}

CGivenFile SplitGivenFile(const std::string& file) {
#ifdef _WIN32
    const char* separators = "/\\:";
#else
    const char* separators = "/";
#endif
    const std::string::size_type last = file.find_last_of(separators);
    if (last == std::string::npos || last + 1 == file.size()) return {"", file};
    // The root keeps its separator ("/", "C:\\"), as does a drive's current folder ("C:").
    bool root = last == 0;
#ifdef _WIN32
    root = root || file[last] == ':' || (last == 2 && file[1] == ':');
#endif
    const std::string::size_type folderEnd = root ? last + 1 : last;
    return {file.substr(0, folderEnd), file.substr(last + 1)};
}

}  // namespace halvic::app
