#include "app/typed_name.h"

#include "engine/convert.h"
#include "engine/output_set.h"
#include "engine/value_table.h"

namespace halvic::app {

std::string HelpText(const std::string& folder) {
    std::string files = kRecordFileName;
    for (std::size_t i = 0; i < kTableCount; ++i)
        files += ", " + TableFileName(i);
    return "Halvic converts one tagged text file into a record file and six table files.\n\n"
           "Type the name of the input file (or drop the file on this window) and press OK. "
           "Halvic then writes " +
           files + " into the folder it was started in:\n" + folder +
           "\nreplacing any files of those names. If the file cannot be converted, a message says "
           "why and no file is changed.\n\n"
           "Cancel or Escape ends Halvic without converting anything.";
}

CTypedNameOutcome ConvertTypedName(const std::string& name, const std::function<void()>& onWait,
                                   CConvertProgress* progress) {
    CTypedNameOutcome outcome;
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
                                   : result.m_error.Message();
    }
    return outcome;  // warnings are not shown: success stays silent
}

}  // namespace halvic::app
