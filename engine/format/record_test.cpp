#include "engine/format/record.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/io/error.h"
#include "tests/support/hex.h"

namespace halvic {
namespace {

using testing::Hex;
using testing::Unhex;

std::string Written(const std::function<void(CByteSink&)>& write) {
    CMemorySink sink(3);  // a tiny buffer, so that fields cross flushes
    write(sink);
    return Hex(sink.Bytes());
}

TEST(RecordTest, FieldWriters) {
    const struct {
        const char* name;
        std::function<void(CByteSink&)> write;
        std::string hex;
    } kCases[] = {
        {"byte 0", [](CByteSink& s) { WriteByteField(s, 'b', 0); }, ""},
        {"byte 7", [](CByteSink& s) { WriteByteField(s, 'b', 7); }, "02 07"},
        {"word 0", [](CByteSink& s) { WriteWordField(s, 't', 0); }, ""},
        {"word 255", [](CByteSink& s) { WriteWordField(s, 't', 255); }, "14 FF"},
        {"word 256", [](CByteSink& s) { WriteWordField(s, 't', 256); }, "34 00 01"},
        {"word 65535", [](CByteSink& s) { WriteWordField(s, 'e', 65535); }, "25 FF FF"},
        {"long 0", [](CByteSink& s) { WriteLongField(s, '_', 0); }, ""},
        {"long 256", [](CByteSink& s) { WriteLongField(s, '_', 256); }, "3F 00 01"},
        {"long 65535", [](CByteSink& s) { WriteLongField(s, '_', 65535); }, "3F FF FF"},
        {"long 65536", [](CByteSink& s) { WriteLongField(s, '_', 65536); }, "5F 00 00 01 00"},
        {"long -1", [](CByteSink& s) { WriteLongField(s, '_', -1); }, "3F FF FF"},
        {"long -65536", [](CByteSink& s) { WriteLongField(s, '_', -65536); }, ""},
        {"long -65535", [](CByteSink& s) { WriteLongField(s, '_', -65535); }, "1F 01"},
        {"text empty", [](CByteSink& s) { WriteTextField(s, 'l', ""); }, ""},
        {"text A", [](CByteSink& s) { WriteTextField(s, 'l', "A"); }, "6C 41 00"},
        {"text 8-bit", [](CByteSink& s) { WriteTextField(s, 'l', "\xE9"); }, "6C E9 00"},
        {"terminated empty", [](CByteSink& s) { WriteTerminatedText(s, ""); }, "00"},
        {"terminated ab", [](CByteSink& s) { WriteTerminatedText(s, "ab"); }, "61 62 00"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Written(c.write), c.hex) << c.name;
}

TEST(RecordTest, WriteLeavesOutZeroFieldsButNeverTheIdentifiers) {
    CRecord empty;
    EXPECT_EQ(Written([&](CByteSink& s) { empty.Write(s); }),
              "A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00");

    CRecord record;
    record.m_nNumber = 7;
    record.m_strText = "Ab";
    record.m_nWeight = 300;
    record.m_nEasting = 12345;
    record.m_nNorthing = 5;
    record.m_tableIds = {1, 0, 0, 0, 0, 2};
    EXPECT_EQ(Written([&](CByteSink& s) { record.Write(s); }),
              Hex(Unhex("1F 07, 6C 41 62 00, 34 2C 01, 25 39 30, 0E 05, "
                        "A4 06 01 00 00 00 00 00 00 00 00 00 02 00, 00")));
}

}  // namespace
}  // namespace halvic
