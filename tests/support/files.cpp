#include "tests/support/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace halvic::testing {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

CFileList ListFiles(const fs::path& dir) {
    CFileList files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        // Links, directories and pipes are listed, not read: a pipe would never end.
        std::string bytes = entry.is_symlink()
                                ? "<link to " + fs::read_symlink(entry).string() + ">"
                            : entry.is_regular_file() ? ReadFile(entry.path())
                            : entry.is_directory()    ? "<directory>"
                                                      : "<special file>";
        // The lock file that every conversion leaves; it is listed when it holds anything.
        if (name == ".halvic.lock" && bytes.empty() && entry.is_regular_file()) continue;
        files.emplace_back(std::move(name), std::move(bytes));
    }
    std::sort(files.begin(), files.end());
    return files;
}

CScratchDir::CScratchDir(const std::string& prefix) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    m_path = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()) + "-" +
                                          (test ? test->name() : "outside-a-test"));
    fs::remove_all(m_path);
    fs::create_directories(m_path);
}

CScratchDir::~CScratchDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

}  // namespace halvic::testing
