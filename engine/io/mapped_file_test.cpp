#include "engine/io/mapped_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/io/error.h"
#include "engine/text/tag_file.h"
#include "tests/support/files.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;

class MappedFileTest : public ::testing::Test {
  protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testing::CScratchDir m_scratch{"halvic-mapped"};
    const fs::path m_dir = m_scratch.Path();
};

// Bytes over several pieces, none of them repeating with the piece size.
std::string LargeBytes() {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < 3 * CMappedFile::kPiece + 12345; ++i)
        bytes += "<@>" + std::to_string(i) + "\n<l>text " + std::to_string(i * 7919) + "\n";
    return bytes;
}

TEST_F(MappedFileTest, RefusesWhatCannotBeMapped) {
    testing::MakeFifo(m_dir / "fifo");
    for (std::string path : {(m_dir / "missing").string(), m_dir.string(), Write("empty", ""),
                             (m_dir / "fifo").string(), std::string()}) {
        CMappedFile file;
        EXPECT_FALSE(file.Map(path)) << path;
    }
}

TEST_F(MappedFileTest, LendsAndReadsEveryByteOnce) {
    std::string bytes = LargeBytes();
    std::string path = Write("in.txt", bytes);
    CMappedFile lent;
    ASSERT_TRUE(lent.Map(path));
    std::string joined;
    for (std::string_view piece = lent.Lend(); !piece.empty(); piece = lent.Lend()) {
        EXPECT_LE(piece.size(), CMappedFile::kPiece);
        joined.append(piece);
    }
    EXPECT_EQ(joined, bytes);

    CMappedFile read;
    ASSERT_TRUE(read.Map(path));
    std::string copied;
    unsigned char buffer[100000];
    for (std::size_t n; (n = read.Read(buffer, sizeof buffer)) != 0;)
        copied.append(reinterpret_cast<const char*>(buffer), n);
    EXPECT_EQ(copied, bytes);
}

// Contents lent by the reader stay valid to the end, also in the pages given back meanwhile.
TEST_F(MappedFileTest, LentContentsOutliveThePagesGivenBack) {
    std::string bytes = LargeBytes();
    CMappedFile file;
    ASSERT_TRUE(file.Map(Write("in.txt", bytes)));
    CTagFile mapped(file, "in.txt");
    CMemorySource source(bytes);
    CTagFile copied(source, "in.txt");
    std::vector<std::string_view> kept;
    std::vector<std::string> expected;
    std::size_t pairs = 0;
    std::string_view tag, content, copiedTag, copiedContent;
    while (mapped.ReadTag(tag, content)) {
        ASSERT_TRUE(copied.ReadTag(copiedTag, copiedContent));
        ASSERT_EQ(content, copiedContent);
        ++pairs;
        // Only a content split between two pieces is gathered, and so not lent.
        if (!mapped.ContentLasts()) continue;
        kept.push_back(content);
        expected.emplace_back(content);
    }
    EXPECT_FALSE(copied.ReadTag(copiedTag, copiedContent));
    EXPECT_GE(kept.size() + 4, pairs);
    for (std::size_t i = 0; i < kept.size(); ++i)
        ASSERT_EQ(kept[i], expected[i]) << "pair " << i;
}

// Cut short by another program while it is mapped: the pages past the new end read as zeros
// instead of ending the program with SIGBUS, the file is known to be cut short, and the next
// piece asked for fails with the message.
TEST_F(MappedFileTest, AFileCutShortWhileMappedIsReportedNotFatal) {
    std::string bytes = LargeBytes();
    std::string path = Write("in.txt", bytes);
    CMappedFile file;
    ASSERT_TRUE(file.Map(path));
    EXPECT_FALSE(file.CutShort());
    std::string_view first = file.Lend();
    ASSERT_EQ(::truncate(path.c_str(), 10000), 0);
    EXPECT_TRUE(file.CutShort());
    std::string_view second = file.Lend();
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.front(), '\0');  // a fault, turned into a zero
    EXPECT_EQ(second.back(), '\0');
    EXPECT_EQ(first.substr(0, 10000), std::string_view(bytes).substr(0, 10000));
    try {
        file.Lend();
        FAIL() << "the file cut short was read on";
    } catch (const CFailure& failure) {
        EXPECT_EQ(failure.Error().Message(),
                  path + ": the file was truncated while it was being read");
    }
}

}  // namespace
}  // namespace halvic
