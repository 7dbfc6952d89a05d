// A file name as a person types or pastes it: at the prompt, and in the dialog's edit box.
#pragma once

#include <string>

namespace halvic {

// The file name in `typed`: surrounding spaces (and a line end) taken away, then one pair of
// matching quotes around it, as a terminal adds to a dragged file and Explorer's "Copy as path"
// adds to a copied one; a leading "~/" (on Windows also "~\") read as the home folder `home`,
// unless `home` is null or empty.
std::string TypedFileName(std::string typed, const char* home);

// The home folder: HOME, or on Windows, where HOME is not usually set, USERPROFILE; null when
// neither is set.
const char* HomeFolder();

}  // namespace halvic
