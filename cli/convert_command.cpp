#include "cli/convert_command.h"

#include <chrono>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "cli/diff_command.h"
#include "cli/dump_command.h"
#include "cli/progress_line.h"
#include "engine/conversion/convert_file.h"
#include "engine/format/field_text.h"
#include "engine/io/typed_path.h"

namespace halvic::cli {

namespace {

// Prints what converting the input would change in the output directory's set, which is
// `converted`; false after a fault, told on `err`.
bool ShowChanges(const CConvertCommand& command, CConvertedSet& converted, std::ostream& err) {
    CConvertedSet noSet;
    COutputSetReader current, next;
    CError error;
    if (!OpenSet(command.m_strOutputDir, true, noSet, current, err, error,
                 command.m_nWaitSeconds) ||
        !converted.Open(next, command.m_strInput, error)) {
        err << "halvic: error: " << error.Message() << '\n';
        return false;
    }
    CDescriptorSink out(StandardOutput(), "standard output");
    CSetDiffCounts counts;
    return ShowDiff(current, next, CDiffShow(), out, err, counts);
}

// Tells of nothing, for counting differences only.
class CNoListener : public CSetDiffListener {
  public:
    void Added(std::uint64_t, const CRecord&, const COutputTables&) override {}
    void Removed(std::uint64_t, const CRecord&, const COutputTables&) override {}
    void Changed(std::uint64_t, const CRecord&, const COutputTables&, std::uint64_t, const CRecord&,
                 const COutputTables&, unsigned) override {}
};

// The summary of what a conversion changed against the set it replaced, `replaced`.
void ReportReplaced(const std::string& dir, int waitSeconds, COutputSetReader& replaced,
                    std::ostream& err) {
    COutputSetReader written;
    CError error;
    std::vector<CError> notes;
    CNoListener none;
    CSetDiffCounts counts;
    if (written.Open(
            dir, [] {}, error, notes, waitSeconds) &&
        DiffSets(replaced, written, none, counts, error)) {
        err << "halvic: against the files replaced: " << DiffSummary(counts) << '\n';
    } else {
        err << "halvic: what changed is not known: " << error.Message() << '\n';
    }
}

}  // namespace

EExitCode RunConvert(const CConvertCommand& command, std::ostream& err) {
    auto start = std::chrono::steady_clock::now();
    CConvertOptions options;
    options.m_strOutputDir = command.m_strOutputDir;
    options.m_bMakeOutputDir = true;  // -o names a directory to write into, made when missing
    options.m_bDashMeansStdin = command.m_bDashMeansStdin;
    options.m_output.m_bSync = command.m_bSync;
    options.m_bHoldInterruptAfterCommit = true;
    options.m_output.m_nWaitSeconds = command.m_nWaitSeconds;
    options.m_bCheckOnly = command.m_bCheck;
    options.m_bStrict = command.m_bStrict;
    options.m_eFrom = command.m_eFrom;
    options.m_output.m_onWait = [&err, &command] {
        err << "halvic: " << WaitingMessage(command.m_strOutputDir) << std::endl;
    };
    CConvertProgress progress;
    options.m_pProgress = &progress;
    // The set a verbose conversion replaces, opened before it is replaced (once open, its files
    // stay readable), to say what the conversion changed.
    CConvertedSet noSet;
    COutputSetReader replaced;
    CError replacedFault;
#ifdef _WIN32
    // Windows replaces no file that is open, not even by this program: the old set cannot be held
    // open through the commit to be compared after it.
    const bool compare = false;
#else
    const bool compare = command.m_bVerbose && !command.m_bCheck &&
                         OpenSet(command.m_strOutputDir, true, noSet, replaced, err, replacedFault,
                                 command.m_nWaitSeconds);
#endif
    CConvertedSet converted;  // with --diff: the set the conversion would write
    CConvertResult result;
    {
        std::optional<CProgressLine> line;
        if (command.m_bProgress) line.emplace(err, progress);
        result = command.m_bDiff ? converted.Convert(command.m_strInput, options)
                                 : ConvertFile(command.m_strInput, options);
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
    if (result.m_bInterrupted) {
        // The interrupt that waited for the commit ends the program now, as it would have.
        err << "halvic: " << (command.m_strOutputDir.empty() ? "." : command.m_strOutputDir)
            << ": interrupted while the files were replaced; the conversion was finished first, "
               "and the new files are in place\n"
            << std::flush;
        ReleaseInterrupts();
    }
    if (command.m_bDiff && !ShowChanges(command, converted, err)) return kExitFailed;
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
        if (compare) ReportReplaced(command.m_strOutputDir, command.m_nWaitSeconds, replaced, err);
    }
    return kExitOk;
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
    std::string name = TypedFileName(line, HomeFolder());
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
