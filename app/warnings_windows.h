// The Windows dialog's box after a conversion with warnings: as the other systems' (see
// warnings_dlg.h), from the resource script's template.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/typed_name.h"

namespace halvic::app {

// Shows the box until the user closes it. `folder`: where the files were written.
void ShowWarnings(HINSTANCE instance, const std::vector<CWarning>& warnings,
                  const std::string& folder);

}  // namespace halvic::app
