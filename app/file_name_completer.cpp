#include "app/file_name_completer.h"

#include "app/file_name_completion.h"
#include "app/wx_strings.h"

namespace halvic::app {

void CFileNameCompleter::GetCompletions(const wxString& prefix, wxArrayString& res) {
    for (const std::string& completion : CompleteFileName(ToFileName(prefix))) {
        res.push_back(ToDisplay(completion));
    }
}

}  // namespace halvic::app
