// File name completion for the edit box: which paths continue what has been typed so far.
// Plain C++ (no wxWidgets), so that it is tested without a display.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace halvic::app {

// The entries of the directory that `typed` names up to its last '/' ("" is the current working
// directory) whose names start with the rest of `typed`, each as `typed`'s directory part followed
// by the entry's name, with a '/' after directories. Hidden entries only when the rest starts with
// '.'; none for an empty `typed`. Sorted; at most `limit`; an unreadable directory gives none.
std::vector<std::string> CompleteFileName(const std::string& typed, std::size_t limit = 200);

}  // namespace halvic::app
