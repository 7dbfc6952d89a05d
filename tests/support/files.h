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

// The system's words for the failures the tests provoke, as halvic reports them. One
// implementation per system (files_posix.cpp, files_windows.cpp).
struct CSystemReasons {
    std::string m_strNoFile;        // the file does not exist
    std::string m_strNoFolder;      // a folder on the file's path does not exist
    std::string m_strFileAsFolder;  // a file on the path is used as a folder
    std::string m_strIsFolder;      // a folder is named where a file is wanted
};
const CSystemReasons& Reasons();

// How messages write a path on this system: `name` in folder `dir` ("out/qxase.qxd", on Windows
// "out\\qxase.qxd"), and a name with a space in the quotes of the system's shell ("'my file'", on
// Windows "\"my file\"").
std::string InFolder(const std::string& dir, const std::string& name);
std::string Quoted(const std::string& name);

// Creates a named pipe (FIFO) at `path`; false where the system has none in its file system
// (Windows). One implementation per system (files_posix.cpp, files_windows.cpp).
bool MakeFifo(const std::filesystem::path& path);

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
