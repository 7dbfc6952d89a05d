// The desktop dialog's test hook: what it shows to the user is also written to the file named by
// HALVIC_GUI_REPORT (see tests/gui/gui_test.sh), where the dialog has written its layout.
#pragma once

#include <string>

namespace halvic::app {

// Adds `text` to the report, each of its lines after `key` and a space; nothing when there is no
// report.
void Report(const char* key, const std::string& text);

}  // namespace halvic::app
