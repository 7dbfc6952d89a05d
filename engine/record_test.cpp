#include "engine/record.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/error.h"
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
    record.number = 7;
    record.text = "Ab";
    record.weight = 300;
    record.easting = 12345;
    record.northing = 5;
    record.tableIds = {1, 0, 0, 0, 0, 2};
    EXPECT_EQ(Written([&](CByteSink& s) { record.Write(s); }),
              Hex(Unhex("1F 07, 6C 41 62 00, 34 2C 01, 25 39 30, 0E 05, "
                        "A4 06 01 00 00 00 00 00 00 00 00 00 02 00, 00")));
}

// Fields read from `input`, which holds the tags after an "@" pair; the rest of the input shows
// where the reader stopped.
struct FieldsCase {
    const char* input;
    std::string record;  // the record's bytes after ReadFields(number 1)
    const char* next;    // the next pair's tag, "" at the end
};

TEST(RecordTest, ReadFieldsAppliesTagsUntilTheNextGroup) {
    const FieldsCase kCases[] = {
        {"<l>x<b>300<t>1-0-0<g>SU123456",
         "1F 01 6C 78 00 02 2C 14 70 25 2B 37 2E 38 19 A4 06 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00",
         ""},
        {"<l>x<@>2<l>y", "1F 01 6C 78 00 A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00", "@"},
        {"<l>x<><l>y", "1F 01 6C 78 00 A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00", "l"},
        {"<c>x<c>y<ic>z<manics>w", "1F 01 A4 06 01 00 00 00 00 00 01 00 02 00 00 00 00", ""},
        {"<x>1<M>2<mn>3<l>kept",
         "1F 01 6C 6B 65 70 74 00 A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00", ""},
    };
    for (const FieldsCase& c : kCases) {
        CMemorySource source(c.input);
        CTagFile reader(source);
        CValueTables tables;
        CTagNotes notes;
        CRecord record;
        record.ReadFields(1, reader, tables, notes);
        std::string_view tag, content;
        reader.ReadTag(tag, content);
        EXPECT_EQ(Written([&](CByteSink& s) { record.Write(s); }), c.record) << c.input;
        EXPECT_EQ(tag, c.next) << c.input;
    }
}

TEST(RecordTest, ReadFieldsKeepsTheValuesOfTheRecordBefore) {
    CMemorySource source("<l>first<t>12-2-14<b>5<@>2<c>alpha<@>3<b>abc<t>12");
    CTagFile reader(source);
    CValueTables tables;
    CTagNotes notes;
    CRecord record;
    record.ReadFields(1, reader, tables, notes);
    std::string_view tag, content;
    ASSERT_TRUE(reader.ReadTag(tag, content));
    ASSERT_EQ(tag, "@");
    record.ReadFields(70000, reader, tables, notes);
    EXPECT_EQ(record.number, 4464);  // kept to 16 bits
    EXPECT_EQ(record.text, "first");
    EXPECT_EQ(record.weight, 1414);
    EXPECT_EQ(record.bValue, 5);
    EXPECT_EQ(record.tableIds[4], 1);
    ASSERT_TRUE(reader.ReadTag(tag, content));
    record.ReadFields(3, reader, tables, notes);
    EXPECT_EQ(record.bValue, 0);  // set, not kept: a content without digits gives 0
    EXPECT_EQ(record.weight, 0);  // no separator
    EXPECT_EQ(record.text, "first");
    EXPECT_EQ(record.tableIds[4], 1);
}

TEST(RecordTest, UnknownTagsAreNotedOnceWithTheirFirstLine) {
    std::string input = "<x>1\n<l>a<x>2\n<mn>3<" + std::string(40, 'z') + ">4";
    CMemorySource source(input);
    CTagFile reader(source);
    CValueTables tables;
    CTagNotes notes;
    CRecord record;
    record.ReadFields(1, reader, tables, notes);
    ASSERT_EQ(notes.Tags().size(), 3u);
    EXPECT_EQ(notes.Tags()[0].m_strTag, "x");
    EXPECT_EQ(notes.Tags()[0].m_nLine, 1u);
    EXPECT_EQ(notes.Tags()[1].m_strTag, "mn");
    EXPECT_EQ(notes.Tags()[1].m_nLine, 3u);
    EXPECT_TRUE(notes.Tags()[2].m_bCut);
}

// Memory stays bounded whatever the number of distinct tags: the first kListed are kept, with
// their uses; every use of any other is counted, from the line of the first of them.
TEST(RecordTest, UnknownTagsAreListedUpToACapAndTheRestCounted) {
    CTagNotes notes;
    for (std::uint64_t i = 0; i < 250; ++i)
        notes.Note("x" + std::to_string(i), false, i + 1);
    notes.Note("x7", false, 300);    // listed: one use more
    notes.Note("x200", false, 301);  // not listed: counted
    notes.Note(std::string(32, 'y'), true, 302);
    ASSERT_EQ(notes.Tags().size(), CTagNotes::kListed);
    EXPECT_EQ(notes.Tags()[99].m_strTag, "x99");
    EXPECT_EQ(notes.Tags()[7].m_nUses, 2u);
    EXPECT_EQ(notes.MoreUses(), 152u);
    EXPECT_EQ(notes.MoreLine(), 101u);
}

TEST(RecordTest, AFullTableIsAnErrorNamingItsLetter) {
    std::string input;
    for (int i = 0; i <= 65535; ++i)
        input += "<a>" + std::to_string(i);
    CMemorySource source(input);
    CTagFile reader(source, "big.txt");
    CValueTables tables;
    CTagNotes notes;
    CRecord record;
    try {
        record.ReadFields(1, reader, tables, notes);
        FAIL() << "the 65536th text was taken";
    } catch (const CFailure& failure) {
        EXPECT_EQ(failure.Error().Message(),
                  "big.txt:1: table a is full: it holds 65535 distinct texts, the most a table "
                  "can hold");
    }
    EXPECT_EQ(tables[1].Count(), 65535u);
}

}  // namespace
}  // namespace halvic
