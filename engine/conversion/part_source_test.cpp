#include "engine/conversion/part_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/text/tag_file.h"

namespace halvic {
namespace {

// Groups over several blocks of the rest (2 MB each), none of them repeating with the block size.
std::string LargeInput() {
    std::string bytes;
    for (std::size_t i = 0; bytes.size() < 7 * (std::size_t{1} << 20) + 12345; ++i)
        bytes += "<@>" + std::to_string(i) + "\n<l>text " + std::to_string(i * 7919) + "\n";
    return bytes;
}

// Parts cut at group starts, then the rest read or lent after a part that would reach too far:
// every byte once, in order, and how far the reading has got told as it goes (a stream as it is
// read, an input in memory as its parts are joined and its rest lent).
TEST(PartSourceTest, PartsAndTheRestGiveEveryByteOnceAndTellHowFarTheyGot) {
    const std::string input = LargeInput();
    CPartSizes sizes;
    sizes.m_nPartSize = 100000;
    sizes.m_nLargestPart = 1 << 20;
    // A run without group starts longer than the largest part ends the parts.
    const std::string bytes = input.substr(0, 300000) + std::string(3 << 20, 'x') + input;
    for (bool inMemory : {true, false}) {
        CMemorySource stream(bytes, 70000);
        std::unique_ptr<CPartSource> source;
        if (inMemory) {
            source = std::make_unique<CMemoryParts>(bytes, sizes);
        } else {
            source = std::make_unique<CStreamParts>(stream, sizes);
        }
        std::vector<std::uint64_t> reached;
        source->OnReached([&reached](std::uint64_t end) { reached.push_back(end); });
        std::string joined;
        CPartBytes part;
        CPartSource::EResult result;
        while ((result = source->Next(part)) == CPartSource::kPart) {
            if (!joined.empty()) {
                EXPECT_EQ(FindPartStart(bytes, joined.size()), joined.size()) << inMemory;
            }
            joined.append(part.m_bytes);
            EXPECT_EQ(part.m_nEnd, joined.size());
            source->Done(part);
            source->Joined(part.m_nEnd);
        }
        ASSERT_EQ(result, CPartSource::kTooFar) << inMemory;
        const std::size_t partsEnd = joined.size();
        EXPECT_GT(partsEnd, 0u) << inMemory;
        EXPECT_LE(partsEnd, 300000u) << inMemory;
        CByteSource& rest = source->Rest();
        if (inMemory) {
            ASSERT_TRUE(rest.Lends());
            for (std::string_view block = rest.Lend(); !block.empty(); block = rest.Lend())
                joined.append(block);
        } else {
            unsigned char buffer[100000];
            for (std::size_t n; (n = rest.Read(buffer, sizeof buffer)) != 0;)
                joined.append(reinterpret_cast<const char*>(buffer), n);
        }
        EXPECT_TRUE(joined == bytes) << inMemory;
        ASSERT_FALSE(reached.empty());
        EXPECT_TRUE(std::is_sorted(reached.begin(), reached.end())) << inMemory;
        EXPECT_EQ(reached.back(), bytes.size()) << inMemory;
    }
}

}  // namespace
}  // namespace halvic
