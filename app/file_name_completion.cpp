#include "app/file_name_completion.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace halvic::app {

std::vector<std::string> CompleteFileName(const std::string& typed, std::size_t limit) {
    std::vector<std::string> completions;
    if (typed.empty()) return completions;

    std::string::size_type slash = typed.rfind('/');
    std::string dirPart = slash == std::string::npos ? "" : typed.substr(0, slash + 1);
    std::string namePart = slash == std::string::npos ? typed : typed.substr(slash + 1);
    namespace fs = std::filesystem;
    fs::path dir = dirPart.empty() ? fs::path(".") : fs::path(dirPart);

    std::error_code ec;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.compare(0, namePart.size(), namePart) != 0) continue;
        if (!name.empty() && name[0] == '.' && (namePart.empty() || namePart[0] != '.')) continue;
        std::error_code typeEc;
        bool isDir = it->is_directory(typeEc);
        completions.push_back(dirPart + name + (isDir ? "/" : ""));
    }
    std::sort(completions.begin(), completions.end());
    if (completions.size() > limit) completions.resize(limit);
    return completions;
}

}  // namespace halvic::app
