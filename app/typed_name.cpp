#include "app/typed_name.h"

#include <algorithm>
#include <utility>

#include "engine/conversion/convert_file.h"
#include "engine/format/field_text.h"
#include "engine/format/value_table.h"
#include "engine/io/file.h"
#include "engine/io/typed_path.h"
#include "engine/set/output_set.h"

namespace halvic::app {

std::string HelpText(const std::string& folder) {
    std::string files = kRecordFileName;
    for (std::size_t i = 0; i < kTableCount; ++i)
        files += ", " + TableFileName(i);
    return "Halvic converts one tagged text file into a record file and six table files.\n\n"
           "Type the name of the input file (or drop the file on this window) and press OK. "
           "Halvic then writes " +
           files + " into the folder it was started in:\n" + folder +
           "\nreplacing any files of those names. Warnings about the input are shown once the "
           "files are written. If the file cannot be converted, a message says why, no file is "
           "changed, and this window opens again so that the name can be corrected.\n\n"
           "Cancel or Escape ends Halvic without converting anything.";
}

std::string WarningsText(const std::vector<CWarning>& warnings, const std::string& folder) {
    const std::uint64_t total = CountWarnings(warnings.begin(), warnings.end());
    std::string text = WithThousands(total) + (total == 1 ? " warning:\n" : " warnings:\n");
    const std::size_t shown = std::min(warnings.size(), kShownWarnings);
    for (std::size_t i = 0; i < shown; ++i)
        text += DescribedMessage(warnings[i]) + "\n";
    const std::uint64_t hidden = total - CountWarnings(warnings.begin(), warnings.begin() + shown);
    if (hidden != 0) text += "and " + WithThousands(hidden) + " more.\n";
    return text + "\nThe files were written to:\n" + folder;
}

std::string DetailsText(const std::vector<CWarning>& warnings) {
    std::string text;
    for (const CWarning& warning : warnings)
        text += DescribedMessage(warning) + "\n";
    return text;
}

bool SaveTextFile(const std::string& path, const std::string& text, std::string& message) {
    const std::string temp = path + ".tmp." + std::to_string(ProcessId());
    CError error;
    if (!WriteNewFile(temp, text, false, error) || !RenameFile(temp, path, error)) {
        CError ignored;
        if (error.m_strFile == temp) error.m_strFile = path;  // the user knows no other name
        RemoveFile(temp, ignored);
        message = DescribedMessage(error);
        return false;
    }
    return true;
}

std::string PrefixLines(const std::string& key, const std::string& text) {
    std::string lines = key + " ";
    for (char c : text)
        lines += c == '\n' ? "\n" + key + " " : std::string(1, c);
    return lines;
}

CTypedNameOutcome ConvertTypedName(const std::string& typed, const std::function<void()>& onWait,
                                   CConvertProgress* progress) {
    CTypedNameOutcome outcome;
    const std::string name = TypedFileName(typed, HomeFolder());
    if (name.empty()) {
        outcome.m_nExitCode = 1;
        outcome.m_strMessage = kNoNameMessage;
        return outcome;
    }
    CConvertOptions options;  // output into the current working directory
    options.m_bDashMeansStdin = false;
    options.m_output.m_bSync = true;
    options.m_output.m_onWait = onWait;
    options.m_pProgress = progress;
    CConvertResult result = ConvertFile(name, options);
    if (!result.m_bOk) {
        outcome.m_nExitCode = 1;
        outcome.m_strMessage = progress != nullptr && progress->m_bCancel
                                   ? kCancelledMessage
                                   : DescribedMessage(result.m_error);
    } else {
        outcome.m_warnings = std::move(result.m_warnings);
    }
    return outcome;
}

}  // namespace halvic::app
