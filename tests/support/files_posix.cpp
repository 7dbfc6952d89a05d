#include <sys/stat.h>

#include "tests/support/files.h"

namespace halvic::testing {

const CSystemReasons& Reasons() {
    static const CSystemReasons reasons{"No such file or directory", "No such file or directory",
                                        "Not a directory", "Is a directory"};
    return reasons;
}

std::string InFolder(const std::string& dir, const std::string& name) {
    return dir + '/' + name;
}

std::string Quoted(const std::string& name) {
    return '\'' + name + '\'';
}

bool MakeFifo(const std::filesystem::path& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

}  // namespace halvic::testing
