#include "engine/io/typed_path.h"

#include <cstdlib>

namespace halvic {

std::string TypedFileName(std::string typed, const char* home) {
    std::string::size_type first = typed.find_first_not_of(" \t\r\n");
    std::string::size_type last = typed.find_last_not_of(" \t\r\n");
    typed = first == std::string::npos ? "" : typed.substr(first, last - first + 1);
    if (typed.size() >= 2 && (typed.front() == '\'' || typed.front() == '"') &&
        typed.back() == typed.front()) {
        typed = typed.substr(1, typed.size() - 2);
    }
#ifdef _WIN32
    const bool homeRelative = typed.rfind("~/", 0) == 0 || typed.rfind("~\\", 0) == 0;
#else
    const bool homeRelative = typed.rfind("~/", 0) == 0;
#endif
    if (homeRelative && home != nullptr && *home != '\0')
        typed = std::string(home) + typed.substr(1);
    return typed;
}

const char* HomeFolder() {
    const char* home = std::getenv("HOME");
#ifdef _WIN32
    if (home == nullptr || *home == '\0') home = std::getenv("USERPROFILE");
#endif
    return home;
}

}  // namespace halvic
