#include "app/gui_report.h"

#include <wx/utils.h>

#include <fstream>

#include "app/typed_name.h"
#include "app/wx_strings.h"

namespace halvic::app {

void Report(const char* key, const std::string& text) {
    wxString path;
    if (!wxGetEnv("HALVIC_GUI_REPORT", &path) || path.empty()) return;
    std::ofstream(ToFileName(path), std::ios::app) << PrefixLines(key, text) << '\n';
}

}  // namespace halvic::app
