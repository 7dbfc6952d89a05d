#include <windows.h>

#include "engine/io/error.h"
#include "tests/support/files.h"

namespace halvic::testing {

const CSystemReasons& Reasons() {
    static const CSystemReasons reasons{
        SystemReason(ERROR_FILE_NOT_FOUND), SystemReason(ERROR_PATH_NOT_FOUND),
        SystemReason(ERROR_PATH_NOT_FOUND), SystemReason(336 /* ERROR_DIRECTORY_NOT_SUPPORTED */)};
    return reasons;
}

std::string InFolder(const std::string& dir, const std::string& name) {
    return dir + '\\' + name;
}

std::string Quoted(const std::string& name) {
    return '"' + name + '"';
}

bool MakeFifo(const std::filesystem::path&) {
    return false;  // Windows keeps its named pipes outside the file system
}

}  // namespace halvic::testing
