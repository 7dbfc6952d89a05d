#include "engine/format/output_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/output_files.h"

namespace halvic {
namespace {

using testing::COutputFiles;
using testing::COutputReadResult;
using testing::Hex;
using testing::ReadOutput;
using testing::RecordFileBytes;
using testing::TableFileBytes;
using testing::Unhex;

// A record in one line, so that a failing comparison shows every field.
std::string Show(const CRecord& r) {
    std::string shown = "number " + std::to_string(r.m_nNumber) + ", text [" + Hex(r.m_strText) +
                        "], bValue " + std::to_string(r.m_nBValue) + ", weight " +
                        std::to_string(r.m_nWeight) + ", easting " + std::to_string(r.m_nEasting) +
                        ", northing " + std::to_string(r.m_nNorthing) + ", ids";
    for (std::uint16_t id : r.m_tableIds)
        shown += " " + std::to_string(id);
    return shown;
}

// A value that is zero, one byte or two bytes wide about equally often, boundaries included.
std::uint16_t RandomWord(std::mt19937& random) {
    static const std::uint16_t kEdges[] = {0, 1, 255, 256, 65535};
    switch (random() % 4) {
        case 0:
            return kEdges[random() % 5];
        case 1:
            return static_cast<std::uint16_t>(1 + random() % 255);
        case 2:
            return static_cast<std::uint16_t>(256 + random() % 65280);
        default:
            return 0;
    }
}

std::string RandomText(std::mt19937& random, std::size_t maxSize) {
    std::string text(random() % (maxSize + 1), ' ');
    for (char& ch : text)
        ch = static_cast<char>(1 + random() % 255);  // any byte but the terminating zero
    return text;
}

// The bytes of a table file of `count` texts, all different: "1", "2", ... "count".
std::string NumberedTable(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 1; i <= count; ++i) {
        bytes += std::to_string(i);
        bytes.push_back('\0');
    }
    return bytes;
}

TEST(OutputReaderTest, ReadsBackWhatTheWriterWrote) {
    for (unsigned seed : {1u, 2u, 3u, 42u, 1921u, 65535u}) {
        std::mt19937 random(seed);
        COutputFiles files;
        files.m_strDir = "out";
        COutputTables tables;
        for (std::size_t i = 0; i < kTableCount; ++i) {
            // An empty text included, as a table may hold one; each text once, as the writer
            // stores it.
            std::size_t count = random() % 6;
            while (tables[i].size() < count) {
                std::string text = RandomText(random, 8);
                if (std::find(tables[i].begin(), tables[i].end(), text) == tables[i].end())
                    tables[i].push_back(text);
            }
            files.m_tables[i] = TableFileBytes(tables[i]);
        }
        std::vector<CRecord> records(random() % 60);
        for (CRecord& record : records) {
            record.m_nNumber = RandomWord(random);
            record.m_strText = RandomText(random, 12);
            record.m_nBValue = static_cast<std::uint8_t>(RandomWord(random));
            record.m_nWeight = RandomWord(random);
            record.m_nEasting = RandomWord(random);
            record.m_nNorthing = RandomWord(random);
            for (std::size_t i = 0; i < kTableCount; ++i)
                record.m_tableIds[i] =
                    static_cast<std::uint16_t>(random() % (tables[i].size() + 1));
        }
        files.m_strRecords = RecordFileBytes(records);

        COutputReadResult result = ReadOutput(files);
        ASSERT_TRUE(result.m_bOk) << "seed " << seed << ": " << result.m_error.Message();
        ASSERT_EQ(result.m_records.size(), records.size()) << "seed " << seed;
        for (std::size_t r = 0; r < records.size(); ++r)
            EXPECT_EQ(Show(result.m_records[r]), Show(records[r])) << "seed " << seed << " #" << r;
        for (std::size_t i = 0; i < kTableCount; ++i)
            EXPECT_EQ(result.m_tables[i], tables[i]) << "seed " << seed << " table " << i;
    }
}

TEST(OutputReaderTest, DecodesTheFieldsOfAKnownRecord) {
    COutputFiles files;
    files.m_strRecords = Unhex(
        "1F 07, 6C 41 62 00, 34 2C 01, 25 39 30, 0E 05, A4 06 01 00 00 00 00 00 00 00 00 00 02 00, "
        "00, A4 06 00 00 00 00 00 00 00 00 00 00 00 00, 00");
    files.m_tables[0] = std::string("oak\0", 4);
    files.m_tables[5] = std::string("\0survey\0", 8);
    COutputReadResult result = ReadOutput(files);
    ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
    ASSERT_EQ(result.m_records.size(), 2u);
    EXPECT_EQ(Show(result.m_records[0]),
              "number 7, text [41 62], bValue 0, weight 300, easting 12345, northing 5, ids 1 0 0 "
              "0 0 2");
    EXPECT_EQ(Show(result.m_records[1]),
              "number 0, text [], bValue 0, weight 0, easting 0, northing 0, ids 0 0 0 0 0 0");
    EXPECT_EQ(result.m_tables[0], CTableTexts({"oak"}));
    EXPECT_EQ(result.m_tables[5], CTableTexts({"", "survey"}));
}

constexpr const char* kEmptyRecord = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00 00 ";

struct BadFileCase {
    const char* name;
    std::string records;                          // hex
    std::array<std::string, kTableCount> tables;  // bytes
    std::string message;
    std::size_t recordsBefore;
};

// Every fault the reader knows, each with the records before it.
std::vector<BadFileCase> kBadFileCases() {
    const std::string kIds = "A4 06 00 00 00 00 00 00 00 00 00 00 00 00";
    return {
        {"unknown code byte", "1F 07 7E", {}, "out/qxase.qxd: offset 2: unknown code byte 0x7E", 0},
        {"unknown code after a good record",
         std::string(kEmptyRecord) + "1F 07 7E",
         {},
         "out/qxase.qxd: offset 17: unknown code byte 0x7E",
         1},
        {"number in the 4-byte form",
         "5F 00 00 01 00 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 0: unknown code byte 0x5F",
         0},
        {"1-byte field cut short",
         std::string(kEmptyRecord) + "1F",
         {},
         "out/qxase.qxd: offset 15: number field cut short by the end of the file: 1 byte "
         "expected after the code byte, 0 bytes present",
         1},
        {"2-byte field cut short",
         "34 2C",
         {},
         "out/qxase.qxd: offset 0: weight field cut short by the end of the file: 2 bytes expected "
         "after the code byte, 1 byte present",
         0},
        {"text cut short",
         "1F 07 6C 41 62",
         {},
         "out/qxase.qxd: offset 2: text field cut short by the end of the file: its zero byte is "
         "missing",
         0},
        {"identifier array cut short",
         "A4 06 00 00",
         {},
         "out/qxase.qxd: offset 0: identifier array cut short by the end of the file: 13 bytes "
         "expected after the code byte, 3 bytes present",
         0},
        {"file ends before the identifier array",
         "1F 07 02 08",
         {},
         "out/qxase.qxd: offset 4: the file ends inside a record, before its identifier array",
         0},
        {"end byte before the identifier array",
         "1F 07 00",
         {},
         "out/qxase.qxd: offset 2: record ends without its identifier array",
         0},
        {"stray zero byte between records",
         std::string(kEmptyRecord) + "00",
         {},
         "out/qxase.qxd: offset 15: record ends without its identifier array",
         1},
        {"no end byte at the end of the file",
         kIds,
         {},
         "out/qxase.qxd: offset 14: expected the end byte 0x00 after the identifier array, found "
         "the end of the file",
         0},
        {"a field after the identifier array",
         kIds + " 1F 07 00",
         {},
         "out/qxase.qxd: offset 14: expected the end byte 0x00 after the identifier array, found "
         "0x1F",
         0},
        {"identifier count 5",
         "A4 05 00 00 00 00 00 00 00 00 00 00 00",
         {},
         "out/qxase.qxd: offset 1: identifier array count is 5, expected 6",
         0},
        {"identifier count 7",
         "A4 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
         {},
         "out/qxase.qxd: offset 1: identifier array count is 7, expected 6",
         0},
        {"identifier beyond its table",
         "1F 01 A4 06 00 00 00 00 00 00 00 00 02 00 00 00 00",
         {"", "", "", "", std::string("x\0", 2), ""},
         "out/qxase.qxd: offset 12: identifier 2 of table c is beyond the end of qxc.qxd, which "
         "holds 1 text",
         0},
        {"identifier into an empty table",
         "A4 06 01 00 00 00 00 00 00 00 00 00 00 00 00",
         {},
         "out/qxase.qxd: offset 2: identifier 1 of table m is beyond the end of qxm.qxd, which "
         "holds no texts",
         0},
        {"fields out of order",
         "02 08 1F 01 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 2: number field after the bValue field; a record holds its fields "
         "in the order number, text, bValue, weight, easting, northing",
         0},
        {"a field twice, in two widths",
         "14 08 34 00 01 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 2: second weight field in one record",
         0},
        {"1-byte field holding 0",
         "02 00 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 0: bValue field holds 0; a zero field is left out",
         0},
        {"2-byte field holding 0",
         "3F 00 00 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 0: number field holds 0; a zero field is left out",
         0},
        {"2-byte field below 256",
         "1F 01 25 FF 00 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 2: easting field holds 255 in 2 bytes; a value below 256 takes "
         "the 1-byte form",
         0},
        {"empty text",
         "6C 00 " + kIds + " 00",
         {},
         "out/qxase.qxd: offset 0: text field is empty; an empty text is left out",
         0},
        {"table's last text without its zero byte",
         kEmptyRecord,
         {std::string("oak\0ash", 7), "", "", "", "", ""},
         "out/qxm.qxd: offset 4: text 2 cut short by the end of the file: its zero byte is "
         "missing",
         0},
        {"table with one text too many",
         kEmptyRecord,
         {"", "", "", NumberedTable(65535) + "oak" + '\0', "", ""},
         "out/qxi.qxd: offset " + std::to_string(NumberedTable(65535).size()) +
             ": text 65536 is one too many: a table holds at most 65535 texts",
         0},
        // A conversion stores a text once, so a repeat is a file no conversion writes (and one
        // whose records would be shown and converted back with other identifiers).
        {"table with a text twice",
         kEmptyRecord,
         {"", std::string("oak\0ash\0oak\0elm\0", 16), "", "", "", ""},
         "out/qxa.qxd: offset 8: text 3 repeats text 1: a table holds each text once",
         0},
        {"table with the empty text twice",
         kEmptyRecord,
         {"", "", "", "", "", std::string("\0x\0\0", 4)},
         "out/qxs.qxd: offset 3: text 3 repeats text 1: a table holds each text once",
         0},
        {"table whose repeat differs from its first only in case",
         kEmptyRecord,
         {"", "", std::string("Oak\0oak\0oak\0", 12), "", "", ""},
         "out/qxn.qxd: offset 8: text 3 repeats text 2: a table holds each text once",
         0},
    };
}

TEST(OutputReaderTest, ReportsEveryFaultWithFileOffsetAndReason) {
    for (const BadFileCase& c : kBadFileCases()) {
        COutputFiles files;
        files.m_strDir = "out";
        files.m_strRecords = Unhex(c.records);
        files.m_tables = c.tables;
        COutputReadResult result = ReadOutput(files);
        EXPECT_FALSE(result.m_bOk) << c.name;
        // The table writes the folder's files as "out/NAME"; the system joins them its own way.
        EXPECT_EQ(result.m_error.Message(), testing::InFolder("out", c.message.substr(4)))
            << c.name;
        EXPECT_EQ(result.m_records.size(), c.recordsBefore) << c.name;
    }
}

// Read from a source in blocks as small as a byte, the files give the same records and the same
// fault, at the same offset, as read whole: a record that goes on past the bytes read so far is
// read on, never taken for one cut short.
TEST(OutputReaderTest, ReadInBlocksGivesWhatReadWholeGives) {
    std::vector<std::pair<std::string, std::array<std::string, kTableCount>>> files;
    for (const BadFileCase& c : kBadFileCases())
        files.push_back({Unhex(c.records), c.tables});
    CMemorySink good;
    CRecord record;
    record.m_strText = "a text of some length, longer than the blocks";
    record.m_tableIds = {1, 0, 0, 0, 0, 2};
    for (int i = 0; i < 20; ++i) {
        record.m_nNumber = static_cast<std::uint16_t>(i * 300);
        record.m_nWeight = static_cast<std::uint16_t>(i);
        record.Write(good);
    }
    files.push_back({good.Bytes(), {std::string("oak\0ash\0", 8), "", "", "", "", "x\0y\0"}});
    for (const auto& [records, tables] : files) {
        COutputFiles whole;
        whole.m_strDir = "out";
        whole.m_strRecords = records;
        whole.m_tables = tables;
        COutputReadResult expected = ReadOutput(whole);
        for (std::size_t block : {1, 2, 3, 5, 13, 40, 100000}) {
            SCOPED_TRACE("block " + std::to_string(block) + ": " + Hex(records.substr(0, 40)));
            COutputTables read;
            CError error;
            bool ok = true;
            for (std::size_t i = 0; ok && i < kTableCount; ++i) {
                CMemorySource source(tables[i], block);
                ok = ReadTableFile(source, testing::InFolder("out", TableFileName(i)), read[i],
                                   error);
            }
            if (!ok) {
                EXPECT_FALSE(expected.m_bOk);
                EXPECT_EQ(error.Message(), expected.m_error.Message());
                continue;
            }
            CMemorySource source(records, block);
            CRecordFileReader reader(source, testing::InFolder("out", "qxase.qxd"),
                                     TableSizes(read), block);
            std::vector<CRecord> got;
            CRecord next;
            while (reader.Next(next))
                got.push_back(next);
            EXPECT_EQ(RecordFileBytes(got), RecordFileBytes(expected.m_records));
            EXPECT_EQ(reader.Failed(), !expected.m_bOk);
            if (reader.Failed()) {
                EXPECT_EQ(reader.Error().Message(), expected.m_error.Message());
            }
        }
    }
}

// A table file is not read past its 65,535th text: whatever follows is one too many, whether a
// zero byte ends it or not.
TEST(OutputReaderTest, ATableFileIsNotReadPastItsLastText) {
    const std::string full = NumberedTable(65535);
    // The last of them repeated too: the count is the fault, at the text it is one too many.
    for (std::string rest : {std::string("oak"), std::string("oak", 4), std::string(1, '\0'),
                             std::string("65535", 6)}) {
        std::string bytes = full + rest;
        CMemorySource source(bytes, 1000);
        CTableTexts texts;
        CError error;
        EXPECT_FALSE(ReadTableFile(source, "out/qxm.qxd", texts, error));
        EXPECT_EQ(error.Message(), "out/qxm.qxd: offset " + std::to_string(full.size()) +
                                       ": text 65536 is one too many: a table holds at most "
                                       "65535 texts");
        EXPECT_EQ(texts.size(), 65535u);
    }
}

TEST(OutputReaderTest, AcceptsTheEdgesOfWhatTheWriterWrites) {
    COutputFiles files;
    // The widest values of each form, the last identifier of a full table, and the empty text
    // in a table.
    files.m_strRecords = Unhex(
        "1F FF, 6C FF 01 00, 02 FF, 14 FF, 25 00 01, 2E FF FF, "
        "A4 06 03 00 00 00 00 00 00 00 00 00 00 00, 00, "
        "3F 00 01, A4 06 00 00 00 00 00 00 00 00 00 00 FF FF, 00");
    files.m_tables[0] = std::string("a\0\0b\0", 5);
    files.m_tables[5] = NumberedTable(65535);
    COutputReadResult result = ReadOutput(files);
    ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
    ASSERT_EQ(result.m_records.size(), 2u);
    EXPECT_EQ(Show(result.m_records[0]),
              "number 255, text [FF 01], bValue 255, weight 255, easting 256, northing 65535, ids "
              "3 0 0 0 0 0");
    EXPECT_EQ(Show(result.m_records[1]),
              "number 256, text [], bValue 0, weight 0, easting 0, northing 0, ids 0 0 0 0 0 "
              "65535");
    EXPECT_EQ(RecordFileBytes(result.m_records), files.m_strRecords);
    EXPECT_EQ(result.m_tables[0], CTableTexts({"a", "", "b"}));
}

// A source that goes only forward, as a pipe does.
class CForwardSource : public CByteSource {
  public:
    explicit CForwardSource(std::string_view bytes) : m_bytes(bytes) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        return m_bytes.Read(buffer, capacity);
    }

  private:
    CMemorySource m_bytes;
};

// A file another program writes into while it is read: from the second time it is gone back in
// (a long text is read on to its end, then from where it was), it holds `after`.
class CChangingSource : public CByteSource {
  public:
    CChangingSource(std::string before, std::string after)
        : m_strBytes(std::move(before)), m_strAfter(std::move(after)) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        std::size_t n = std::min(capacity, m_strBytes.size() - std::min(m_nAt, m_strBytes.size()));
        std::memcpy(buffer, m_strBytes.data() + m_nAt, n);
        m_nAt += n;
        return n;
    }
    bool Seek(std::uint64_t offset) override {
        if (++m_nSeeks == 2) m_strBytes = m_strAfter;
        m_nAt = static_cast<std::size_t>(offset);
        return true;
    }

  private:
    std::string m_strBytes, m_strAfter;
    std::size_t m_nAt = 0;
    int m_nSeeks = 0;
};

enum class ESource { kWhole, kSteps, kForward };

std::unique_ptr<CByteSource> MakeSource(ESource kind, std::string_view bytes) {
    switch (kind) {
        case ESource::kWhole:
            return std::make_unique<CMemorySource>(bytes);
        case ESource::kSteps:
            return std::make_unique<CMemorySource>(bytes, 4099);
        default:
            return std::make_unique<CForwardSource>(bytes);
    }
}

// A text longer than the blocks the files are read in, in a record and in a table, is read
// straight into its place from a source that can go back and forth, as a buffer that grows reads
// it from one that cannot: the same texts, records and faults either way.
TEST(OutputReaderTest, TextsLongerThanABlockReadAsShortOnesDo) {
    const std::string longText(300000, 'x');
    std::vector<CRecord> records(3);
    records[0].m_nNumber = 1;
    records[0].m_strText = longText;
    records[0].m_nWeight = 300;
    records[0].m_tableIds = {2, 0, 0, 0, 0, 0};
    records[1].m_nNumber = 2;
    records[1].m_strText = "short";
    records[2].m_nNumber = 3;
    records[2].m_strText = longText + "y";
    const std::string recordBytes = RecordFileBytes(records);
    const CTableTexts table = {"oak", std::string(200000, 'm'), "ash"};
    const std::string tableBytes = TableFileBytes(table);
    const struct {
        const char* what;
        std::string records;  // the record file
        std::string table;    // table m
        std::string fault;
    } kCases[] = {
        {"whole files", recordBytes, tableBytes, ""},
        {"a long record text without its zero byte", recordBytes.substr(0, 250000), tableBytes,
         "out/qxase.qxd: offset 2: text field cut short by the end of the file: its zero byte is "
         "missing"},
        {"a long table text without its zero byte", recordBytes, tableBytes.substr(0, 150000),
         "out/qxm.qxd: offset 4: text 2 cut short by the end of the file: its zero byte is "
         "missing"},
        {"a fault after a long text", recordBytes.substr(0, 300004) + "\x7E", tableBytes,
         "out/qxase.qxd: offset 300004: unknown code byte 0x7E"},
    };
    for (const auto& c : kCases) {
        for (ESource kind : {ESource::kWhole, ESource::kSteps, ESource::kForward}) {
            SCOPED_TRACE(std::string(c.what) + ", source " + std::to_string(int(kind)));
            CTableTexts texts;
            CError error;
            std::unique_ptr<CByteSource> tableSource = MakeSource(kind, c.table);
            if (!ReadTableFile(*tableSource, "out/qxm.qxd", texts, error)) {
                EXPECT_EQ(error.Message(), c.fault);
                continue;
            }
            EXPECT_TRUE(texts == table);
            COutputTables tables;
            tables[0] = texts;
            std::unique_ptr<CByteSource> source = MakeSource(kind, c.records);
            CRecordFileReader reader(*source, "out/qxase.qxd", TableSizes(tables));
            std::vector<CRecord> got;
            CRecord next;
            while (reader.Next(next))
                got.push_back(next);
            EXPECT_EQ(reader.Failed() ? reader.Error().Message() : "", c.fault);
            EXPECT_TRUE(RecordFileBytes(got) == c.records.substr(0, RecordFileBytes(got).size()));
            if (c.fault.empty()) {
                EXPECT_EQ(got.size(), records.size());
            }
        }
    }
}

// A long text is read twice, to find its end and then into its place: a file changed in
// between is a fault, never a text with other bytes or a zero byte in it.
TEST(OutputReaderTest, AFileChangedWhileALongTextIsReadIsAFault) {
    CRecord record;
    record.m_strText = std::string(200000, 'x');
    const std::string before = RecordFileBytes({record});
    std::string zeroInside = before;
    zeroInside[150000] = '\0';  // past the blocks read before the text is read on
    const std::string kChanged =
        "out/qxase.qxd: offset 0: the file changed while it was being read";
    const struct {
        const char* what;
        std::string after;
    } kCases[] = {
        {"a zero byte within the text", zeroInside},
        {"cut within the text", before.substr(0, 150000)},
        {"cut before its zero byte", before.substr(0, 200001)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        CChangingSource source(before, c.after);
        CRecordFileReader reader(source, "out/qxase.qxd", TableSizes(COutputTables()));
        CRecord next;
        EXPECT_FALSE(reader.Next(next));
        EXPECT_EQ(reader.Error().Message(), kChanged);
    }
    std::string table = std::string(100000, 'm') + '\0';
    std::string tableChanged = table;
    tableChanged[80000] = '\0';
    CChangingSource source(table, tableChanged);
    CTableTexts texts;
    CError error;
    EXPECT_FALSE(ReadTableFile(source, "out/qxm.qxd", texts, error));
    EXPECT_EQ(error.Message(), "out/qxm.qxd: offset 0: the file changed while it was being read");
}

TEST(OutputReaderTest, EmptyFilesHoldNoRecords) {
    COutputReadResult result = ReadOutput(COutputFiles());
    EXPECT_TRUE(result.m_bOk) << result.m_error.Message();
    EXPECT_TRUE(result.m_records.empty());
}

}  // namespace
}  // namespace halvic
