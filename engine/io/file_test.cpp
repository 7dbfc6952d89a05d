#include "engine/io/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/io/error.h"
#include "tests/support/files.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;

// A regular file read as a stream ends where it ended when it was opened, or later: one that
// ends sooner was cut short by another program, and reading it fails instead of handing out its
// first part as the whole.
TEST(InputFileTest, AFileCutShortWhileItIsReadFails) {
    testing::CScratchDir scratch("halvic-input-file");
    const struct {
        const char* what;
        std::uintmax_t resizeTo;  // after the first read of 4 bytes
        const char* expected;     // all that reads, or the failure's reason
    } kCases[] = {
        {"left as it was", 10, "0123456789"},
        {"grown by another program", 14, "0123456789\0\0\0\0"},
        {"cut after the bytes read", 6, "the file was truncated while it was being read"},
        {"cut before the bytes read", 2, "the file was truncated while it was being read"},
        {"cut to nothing", 0, "the file was truncated while it was being read"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string path = (scratch.Path() / "in.txt").string();
        std::ofstream(path, std::ios::binary) << "0123456789";
        CInputFile file;
        CError error;
        ASSERT_TRUE(file.Open(path, error)) << error.Message();
        unsigned char buffer[4];
        std::string read(reinterpret_cast<const char*>(buffer), file.Read(buffer, sizeof buffer));
        fs::resize_file(path, c.resizeTo);
        try {
            while (std::size_t n = file.Read(buffer, sizeof buffer))
                read.append(reinterpret_cast<const char*>(buffer), n);
            EXPECT_EQ(read, std::string(c.expected, c.resizeTo));
        } catch (const CFailure& failure) {
            EXPECT_EQ(failure.Error().Message(), path + ": " + c.expected);
        }
    }
}

}  // namespace
}  // namespace halvic
