// `halvic convert` and the one-question prompt: run a conversion and put its outcome into words.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/exit_codes.h"
#include "engine/text/input_encoding.h"

namespace halvic::cli {

struct CConvertCommand {
    std::string m_strInput;
    std::string m_strOutputDir;
    bool m_bQuiet = false;
    bool m_bVerbose = false;
    bool m_bSync = false;      // flush the new files to the disk before reporting success
    bool m_bCheck = false;     // read and report as a conversion does, write nothing
    bool m_bDiff = false;      // with m_bCheck: print what the conversion would change
    bool m_bStrict = false;    // any warning fails the conversion
    bool m_bProgress = false;  // show a progress line on `err`, a terminal, for a long conversion
    bool m_bDashMeansStdin = true;
    int m_nWaitSeconds = -1;  // how long to wait for another conversion; negative: as it takes
    // How the input is read: by its byte-order mark unless --from says otherwise.
    EInputEncoding m_eFrom = EInputEncoding::kAsMarked;
};

// Converts and reports warnings and errors to `err` ("halvic: warning: ...", "halvic: error: ...")
// and, with m_bVerbose, a summary.
EExitCode RunConvert(const CConvertCommand& command, std::ostream& err);

// Asks "Filename: " on `err`, reads one line from `in` (from the console, in UTF-16, when standard
// input is one on Windows) and converts the file it names (read as engine/io/typed_path.h says)
// into the current working directory. End of input converts nothing.
EExitCode RunPrompt(std::istream& in, std::ostream& err);

}  // namespace halvic::cli
