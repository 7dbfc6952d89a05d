#include "engine/set/set_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/io/file.h"
#include "engine/set/output_set.h"
#include "tests/support/files.h"
#include "tests/support/hex.h"
#include "tests/support/output_files.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::COutputReadResult;
using testing::ReadOutputDir;
using testing::RecordFileBytes;
using testing::TableFileBytes;
using testing::Unhex;
using testing::WriteFile;

// Records numbered `first`, `first` + 1, ..., each naming the next text of table n.
std::vector<CRecord> Numbered(std::uint16_t first, std::size_t count) {
    std::vector<CRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        records[i].m_nNumber = static_cast<std::uint16_t>(first + i);
        records[i].m_tableIds[2] = static_cast<std::uint16_t>(i + 1);
    }
    return records;
}

// Every record `reader` has left, up to the end; none may be a fault.
std::vector<CRecord> Rest(COutputSetReader& reader) {
    std::vector<CRecord> records;
    CRecord record;
    while (reader.Next(record))
        records.push_back(record);
    EXPECT_FALSE(reader.Failed()) << reader.Error().Message();
    return records;
}

class SetReaderDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Write(kRecordFileName, Unhex("1F 05 A4 06 00 00 00 00 01 00 00 00 00 00 00 00 00"));
        for (std::size_t i = 0; i < kTableCount; ++i)
            Write(TableFileName(i), i == 2 ? std::string("Winchester\0", 11) : "");
    }

    void Write(const std::string& name, const std::string& bytes) {
        WriteFile(m_dir / name, bytes);
    }

    // Puts a set of `records`, table n holding `texts`, in place of the one in the directory as
    // a conversion's commit does: each new file renamed over the old one.
    void Replace(const std::vector<CRecord>& records, const CTableTexts& texts) {
        for (std::size_t i = 0; i < kOutputCount; ++i) {
            const std::string name = i == 0 ? kRecordFileName : TableFileName(i - 1);
            std::string bytes = i == 0 ? RecordFileBytes(records) : "";
            if (i == 3) bytes = TableFileBytes(texts);
            Write("new", bytes);
            CError error;
            ASSERT_TRUE(RenameFile((m_dir / "new").string(), (m_dir / name).string(), error))
                << error.Message();
        }
    }

    bool Open(COutputSetReader& reader, CError& error) {
        std::vector<CError> warnings;
        bool opened = reader.Open(m_dir.string(), {}, error, warnings);
        EXPECT_TRUE(warnings.empty());
        return opened;
    }

    testing::CScratchDir m_scratch{"halvic-set-reader"};
    const fs::path m_dir = m_scratch.Path();
};

TEST_F(SetReaderDirTest, ReadsTheSevenFilesOfADirectory) {
    COutputReadResult result = ReadOutputDir(m_dir.string());
    ASSERT_TRUE(result.m_bOk) << result.m_error.Message();
    ASSERT_EQ(result.m_records.size(), 1u);
    EXPECT_EQ(result.m_records[0].m_nNumber, 5);
    EXPECT_EQ(result.m_records[0].m_tableIds, (std::array<std::uint16_t, kTableCount>{0, 0, 1}));
    EXPECT_EQ(result.m_tables[2], CTableTexts({"Winchester"}));
}

TEST_F(SetReaderDirTest, NamesAMissingFile) {
    for (const std::string& name : {std::string(kRecordFileName), TableFileName(3)}) {
        SetUp();
        fs::remove(m_dir / name);
        COutputReadResult result = ReadOutputDir(m_dir.string());
        EXPECT_FALSE(result.m_bOk);
        EXPECT_EQ(result.m_error.Message(),
                  testing::InFolder(m_dir.string(), name) + ": " + testing::Reasons().m_strNoFile);
    }
}

// A set replaced after it was opened is still read as it was: its records never meet the new
// tables. Two readers go side by side, the old set and the new, as a comparison of them reads.
TEST_F(SetReaderDirTest, ReadsTheSetAsItWasWhenOpened) {
    Replace(Numbered(1, 3), {"oak", "ash", "elm"});
    CError error;
    COutputSetReader old;
    ASSERT_TRUE(Open(old, error)) << error.Message();
    // The new set has more texts and records: an old record read with the new tables, or the
    // other way round, would show.
    Replace(Numbered(100, 5), {"pine", "yew", "fir", "box", "bay"});
    COutputSetReader fresh;
    ASSERT_TRUE(Open(fresh, error)) << error.Message();

    std::vector<CRecord> oldRecords;
    std::vector<CRecord> freshRecords;
    CRecord record;
    for (bool more = true; more;) {
        more = false;
        if (old.Next(record)) oldRecords.push_back(record), more = true;
        if (fresh.Next(record)) freshRecords.push_back(record), more = true;
    }
    EXPECT_FALSE(old.Failed()) << old.Error().Message();
    EXPECT_FALSE(fresh.Failed()) << fresh.Error().Message();
    EXPECT_EQ(RecordFileBytes(oldRecords), RecordFileBytes(Numbered(1, 3)));
    EXPECT_EQ(RecordFileBytes(freshRecords), RecordFileBytes(Numbered(100, 5)));
    EXPECT_EQ(old.Tables()[2], CTableTexts({"oak", "ash", "elm"}));
    EXPECT_EQ(fresh.Tables()[2], CTableTexts({"pine", "yew", "fir", "box", "bay"}));
}

// While a conversion holds the directory, the reader waits, says so once, and then reads.
TEST_F(SetReaderDirTest, WaitsForAConversionAndSaysSoOnce) {
    auto conversion = std::make_unique<COutputSet>();
    CError error;
    std::vector<CError> warnings;
    ASSERT_TRUE(conversion->Open(m_dir.string(), {}, error, warnings)) << error.Message();
    std::atomic<int> told{0};
    std::atomic<bool> opened{false};
    std::promise<void> waiting;
    COutputSetReader reader;
    std::thread reading([&] {
        std::vector<CError> notes;
        CError failure;
        opened = reader.Open(
            m_dir.string(),
            [&] {
                if (++told == 1) waiting.set_value();
            },
            failure, notes);
    });
    // The lock is let go of once the reader says it waits, not after a guess at how long that
    // takes.
    EXPECT_EQ(waiting.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "it did not say it waits";
    EXPECT_FALSE(opened) << "it did not wait";
    conversion.reset();  // lets go of the lock, committing nothing
    reading.join();
    EXPECT_TRUE(opened);
    EXPECT_EQ(told, 1);
    std::vector<CRecord> records = Rest(reader);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].m_nNumber, 5);
}

// A source that fails on its first read: the way memory or the disk failing shows.
class CFailingSource : public CByteSource {
  public:
    explicit CFailingSource(bool outOfMemory) : m_bOutOfMemory(outOfMemory) {}
    std::size_t Read(unsigned char*, std::size_t) override {
        if (m_bOutOfMemory) throw std::bad_alloc();
        throw CFailure({"out/failing", 0, "Input/output error"});
    }

  private:
    bool m_bOutOfMemory;
};

// A failure while a file is read is a fault naming that file: in a table, Open's; in the record
// file, the records'.
TEST(SetReaderTest, AFailureToReadNamesTheFileBeingRead) {
    const struct {
        std::size_t file;  // 0: the record file, else table file - 1
        bool outOfMemory;
        std::string message;
    } kCases[] = {
        {0, true, testing::InFolder("out", "qxase.qxd") + ": out of memory"},
        {3, true, testing::InFolder("out", "qxn.qxd") + ": out of memory"},
        {0, false, "out/failing: Input/output error"},
        {6, false, "out/failing: Input/output error"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.message + " in file " + std::to_string(c.file));
        CFailingSource failing(c.outOfMemory);
        std::vector<CMemorySource> empty(kOutputCount, CMemorySource(""));
        std::vector<CByteSource*> files;
        for (CMemorySource& source : empty)
            files.push_back(&source);
        files[c.file] = &failing;
        COutputSources sources;
        sources.m_pRecords = files[0];
        for (std::size_t i = 0; i < kTableCount; ++i)
            sources.m_tables[i] = files[i + 1];
        COutputSetReader reader;
        CError error;
        bool opened = reader.Open("out", sources, error);
        CRecord record;
        if (c.file != 0) {
            EXPECT_FALSE(opened);
            EXPECT_EQ(error.Message(), c.message);
            EXPECT_FALSE(reader.Next(record));
            continue;
        }
        ASSERT_TRUE(opened) << error.Message();
        EXPECT_FALSE(reader.Next(record));
        EXPECT_TRUE(reader.Failed());
        EXPECT_EQ(reader.Error().Message(), c.message);
        EXPECT_FALSE(reader.Next(record)) << "read on after a fault";
    }
}

}  // namespace
}  // namespace halvic
