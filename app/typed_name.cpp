#include "app/typed_name.h"

#include "engine/convert.h"

namespace halvic::app {

CTypedNameOutcome ConvertTypedName(const std::string& name, const std::function<void()>& onWait) {
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
    CConvertResult result = ConvertFile(name, options);
    if (!result.m_bOk) {
        outcome.m_nExitCode = 1;
        outcome.m_strMessage = result.m_error.Message();
    }
    return outcome;  // warnings are not shown: success stays silent
}

}  // namespace halvic::app
