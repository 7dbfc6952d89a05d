#include "engine/io/byte_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace halvic {
namespace {

TEST(ByteStreamTest, SinkKeepsOrderAcrossBufferSizes) {
    std::string expected;
    for (std::size_t capacity : {1, 2, 7, 64}) {
        CMemorySink sink(capacity);
        expected.clear();
        for (int i = 0; i < 50; ++i) {
            std::string piece(static_cast<std::size_t>(i % 11), static_cast<char>('a' + i % 26));
            sink.Write(piece);
            sink.Put(static_cast<unsigned char>(i));
            expected += piece;
            expected.push_back(static_cast<char>(i));
        }
        EXPECT_EQ(sink.BytesWritten(), expected.size());
        EXPECT_EQ(sink.Bytes(), expected) << "capacity " << capacity;
    }
}

TEST(ByteStreamTest, MemorySourceHandsOutBytesInSteps) {
    CMemorySource source("abcdefg", 3);
    unsigned char buffer[16];
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(source.Read(buffer, 2), 2u);
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(source.Read(buffer, sizeof buffer), 0u);
}

}  // namespace
}  // namespace halvic
