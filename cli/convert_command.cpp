#include "cli/convert_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <optional>
#include <ostream>

#include "cli/progress_line.h"
#include "engine/conversion/convert_file.h"
#include "engine/format/field_text.h"

namespace halvic::cli {

EExitCode RunConvert(const CConvertCommand& command, std::ostream& err) {
    auto start = std::chrono::steady_clock::now();
    CConvertOptions options;
    options.m_strOutputDir = command.m_strOutputDir;
    options.m_bMakeOutputDir = true;  // -o names a directory to write into, made when missing
    options.m_bDashMeansStdin = command.m_bDashMeansStdin;
    options.m_output.m_bSync = command.m_bSync;
    options.m_bCheckOnly = command.m_bCheck;
    options.m_bStrict = command.m_bStrict;
    options.m_eFrom = command.m_eFrom;
    options.m_output.m_onWait = [&err, &command] {
        err << "halvic: " << WaitingMessage(command.m_strOutputDir) << std::endl;
    };
    CConvertProgress progress;
    options.m_pProgress = &progress;
    CConvertResult result;
    {
        std::optional<CProgressLine> line;
        if (command.m_bProgress) line.emplace(err, progress);
        result = ConvertFile(command.m_strInput, options);
    }  // the line is gone before anything else is said
    if (!command.m_bQuiet) {
        for (const CWarning& warning : result.m_warnings) {
            err << "halvic: warning: " << DescribedMessage(warning) << '\n';
        }
    }
    if (!result.m_bOk) {
        err << "halvic: error: " << DescribedMessage(result.m_error) << '\n';
        return kExitFailed;
    }
    if (command.m_bVerbose) {
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const CConvertSummary& summary = result.m_summary;
        if (result.m_bMadeOutputDir) {
            err << "halvic: " << (command.m_bCheck ? "would create" : "created")
                << " the output directory " << command.m_strOutputDir << '\n';
        }
        char time[32];
        std::snprintf(time, sizeof time, "%.3f s", seconds);
        err << "halvic: " << WithThousands(summary.m_nRecords) << " records, "
            << WithThousands(summary.m_nBytesWritten) << " bytes "
            << (command.m_bCheck ? "to write (checked only)" : "written") << " in " << time
            << "\nhalvic: distinct texts:";
        for (std::size_t i = 0; i < kTableCount; ++i) {
            err << ' ' << kTableLetters[i] << ' ' << WithThousands(summary.m_distinctTexts[i]);
        }
        err << '\n';
    }
    return kExitOk;
}

std::string TypedFileName(std::string line, const char* home) {
    // A path dragged into a terminal arrives quoted, often with a space after it.
    std::string::size_type first = line.find_first_not_of(" \t\r");
    std::string::size_type last = line.find_last_not_of(" \t\r");
    line = first == std::string::npos ? "" : line.substr(first, last - first + 1);
    if (line.size() >= 2 && (line.front() == '\'' || line.front() == '"') &&
        line.back() == line.front()) {
        line = line.substr(1, line.size() - 2);
    }
    if (line.rfind("~/", 0) == 0 && home != nullptr && *home != '\0') {
        line = std::string(home) + line.substr(1);
    }
    return line;
}

EExitCode RunPrompt(std::istream& in, std::ostream& err) {
    err << "Filename: " << std::flush;
    std::string line;
    const EConsoleLine typed = ReadConsoleLine(line);
    if (typed == EConsoleLine::kEnd ||
        (typed == EConsoleLine::kNotConsole && !std::getline(in, line))) {
        err << '\n';
        return kExitOk;
    }
    // Windows names the home folder USERPROFILE.
    const char* home = std::getenv("HOME");
    std::string name = TypedFileName(line, home != nullptr ? home : std::getenv("USERPROFILE"));
    if (name.empty()) {
        err << "halvic: error: No file name was given.\n";
        return kExitFailed;
    }
    CConvertCommand command;
    command.m_strInput = name;
    command.m_bDashMeansStdin = false;  // the name is a file name, as typed
    return RunConvert(command, err);
}

}  // namespace halvic::cli
