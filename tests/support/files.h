// Files on disk for tests: whole-file reads and writes, directory listings, a scratch directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace halvic::testing {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// Every file in `dir`, name and bytes, sorted by name: comparing two listings shows that nothing
// was replaced, added or left behind. An empty lock file ".halvic.lock", which a conversion leaves
// in its output directory, is left out.
using CFileList = std::vector<std::pair<std::string, std::string>>;
CFileList ListFiles(const std::filesystem::path& dir);

// A fresh, empty directory named after `prefix`, the process and the running test; removed again
// when the object goes.
class CScratchDir {
  public:
    explicit CScratchDir(const std::string& prefix);
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

}  // namespace halvic::testing
