#include "engine/conversion/set_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/catalogue_edits.h"
#include "tests/support/files.h"
#include "tests/support/output_files.h"

namespace halvic {
namespace {

using testing::RecordFileBytes;
using testing::TableFileBytes;

// Differences as short lines: "+3 n141" (added, new position 3, number 141), "-2 n12",
// "~2>3 n12 f5" (changed, old and new positions, the fields' bits).
class CDiffLines : public CSetDiffListener {
  public:
    void Added(std::uint64_t index, const CRecord& record, const COutputTables&) override {
        m_lines.push_back("+" + std::to_string(index) + " n" + std::to_string(record.m_nNumber));
    }
    void Removed(std::uint64_t index, const CRecord& record, const COutputTables&) override {
        m_lines.push_back("-" + std::to_string(index) + " n" + std::to_string(record.m_nNumber));
    }
    void Changed(std::uint64_t oldIndex, const CRecord& oldRecord, const COutputTables&,
                 std::uint64_t newIndex, const CRecord&, const COutputTables&,
                 unsigned fields) override {
        m_lines.push_back("~" + std::to_string(oldIndex) + ">" + std::to_string(newIndex) + " n" +
                          std::to_string(oldRecord.m_nNumber) + " f" + std::to_string(fields));
    }

    std::vector<std::string> m_lines;
};

// A set's seven files in memory, opened with a small block so that records straddle blocks.
class CMemorySet {
  public:
    CMemorySet(const std::vector<CRecord>& records, const COutputTables& tables)
        : m_strRecords(RecordFileBytes(records)), m_records(m_strRecords, 7) {
        m_sources.m_pRecords = &m_records;
        m_tableSources.reserve(kTableCount);
        for (std::size_t i = 0; i < kTableCount; ++i) {
            m_strTables[i] = TableFileBytes(tables[i]);
            m_tableSources.emplace_back(m_strTables[i], 5);
            m_sources.m_tables[i] = &m_tableSources.back();
        }
    }
    bool Open(COutputSetReader& reader, CError& error) {
        return reader.Open("mem", m_sources, error);
    }

  private:
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_strTables;
    CMemorySource m_records;
    std::vector<CMemorySource> m_tableSources;
    COutputSources m_sources;
};

struct CDiffOutcome {
    bool m_bOk = false;
    CError m_error;
    CSetDiffCounts m_counts;
    std::vector<std::string> m_lines;
};

CDiffOutcome Diff(CMemorySet& oldSet, CMemorySet& newSet) {
    CDiffOutcome outcome;
    COutputSetReader oldReader(16), newReader(16);
    EXPECT_TRUE(oldSet.Open(oldReader, outcome.m_error));
    EXPECT_TRUE(newSet.Open(newReader, outcome.m_error));
    CDiffLines lines;
    outcome.m_bOk = DiffSets(oldReader, newReader, lines, outcome.m_counts, outcome.m_error);
    outcome.m_lines = lines.m_lines;
    return outcome;
}

// Converts tagged text into a set in memory and compares the two.
CDiffOutcome DiffTagged(const std::string& oldText, const std::string& newText) {
    CDiffOutcome outcome;
    CConvertedSet sets[2];
    COutputSetReader readers[2];
    const std::string* texts[2] = {&oldText, &newText};
    for (int i = 0; i < 2; ++i) {
        // Named after the test: the tests run side by side, each in a process of its own.
        std::string path = ::testing::TempDir() + "set_diff_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                           std::to_string(i) + ".txt";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(texts[i]->data(), 1, texts[i]->size(), file);
        std::fclose(file);
        CConvertResult result = sets[i].Convert(path, {});
        EXPECT_TRUE(result.m_bOk) << result.m_error.Message();
        EXPECT_TRUE(sets[i].Open(readers[i], path, outcome.m_error));
    }
    CDiffLines lines;
    outcome.m_bOk = DiffSets(readers[0], readers[1], lines, outcome.m_counts, outcome.m_error);
    outcome.m_lines = lines.m_lines;
    return outcome;
}

const std::string& kCatalogue = testing::kSmallCatalogue;
using testing::Edited;

TEST(SetDiffTest, EditsOfACatalogue) {
    const std::string m = std::to_string(kTableField << 0), c = std::to_string(kTableField << 4);
    struct CCase {
        const char* m_szName;
        std::string m_strNew;
        std::vector<std::string> m_lines;
        std::uint64_t m_nUnchanged;
    } cases[] = {
        {"nothing", kCatalogue, {}, 4},
        {"text", Edited(kCatalogue, "Bell", "Bell, cracked"), {"~3>3 n103 f1"}, 3},
        {"b", Edited(kCatalogue, "<b>3", "<b>4"), {"~4>4 n104 f2"}, 3},
        {"weight", Edited(kCatalogue, "2-1-7", "2-1-8"), {"~4>4 n104 f4"}, 3},
        {"easting", Edited(kCatalogue, "SU123456", "SU124456"), {"~4>4 n104 f8"}, 3},
        {"point", Edited(kCatalogue, "SU123456", "SU124457"), {"~4>4 n104 f24"}, 3},
        {"table", Edited(kCatalogue, "<m>Pewter", "<m>Tin"), {"~2>2 n102 f" + m}, 3},
        {"table text for one", Edited(kCatalogue, "<c>Good", "<c>Fair"), {"~2>2 n102 f" + c}, 3},
        {"inserted", Edited(kCatalogue, "<@>103", "<@>150<l>New<@>103"), {"+3 n150"}, 4},
        {"removed",
         Edited(kCatalogue, "<@>102<l>Pewter plate<m>Pewter<c>Good\r\n", ""),
         {"-2 n102"},
         3},
        {"swapped",
         Edited(kCatalogue,
                "<@>102<l>Pewter plate<m>Pewter<c>Good\r\n<@>103<l>Bell<m>Bronze<c>Poor\r\n",
                "<@>103<l>Bell<m>Bronze<c>Poor\r\n<@>102<l>Pewter plate<m>Pewter<c>Good\r\n"),
         {},
         4},
        {"repeated number", kCatalogue + "<@>102<l>Second plate\r\n", {"+5 n102"}, 4},
        // A stray '<' in a text makes the next <@> part of a tag: record 104 vanishes into 103.
        {"swallowed",
         Edited(kCatalogue, "<c>Poor", "<c>Poor < 3 ft"),
         {"~3>3 n103 f575", "-4 n104"},
         2},
    };
    for (const CCase& test : cases) {
        SCOPED_TRACE(test.m_szName);
        CDiffOutcome outcome = DiffTagged(kCatalogue, test.m_strNew);
        ASSERT_TRUE(outcome.m_bOk) << outcome.m_error.Message();
        EXPECT_EQ(outcome.m_lines, test.m_lines);
        EXPECT_EQ(outcome.m_counts.m_nUnchanged, test.m_nUnchanged);
        // And the other way round.
        CDiffOutcome back = DiffTagged(test.m_strNew, kCatalogue);
        EXPECT_EQ(back.m_counts.m_nAdded, outcome.m_counts.m_nRemoved);
        EXPECT_EQ(back.m_counts.m_nChanged, outcome.m_counts.m_nChanged);
    }
}

// The n-th record of a number matches the n-th of that number: a second 102 removed is the
// second one, whatever lies between.
TEST(SetDiffTest, RepeatedNumbersMatchInOrder) {
    CDiffOutcome outcome = DiffTagged(kCatalogue + "<@>102<l>Second plate\r\n", kCatalogue);
    ASSERT_TRUE(outcome.m_bOk);
    EXPECT_EQ(outcome.m_lines, (std::vector<std::string>{"-5 n102"}));
}

// Texts named by other identifiers (another order of first use) are the same texts.
TEST(SetDiffTest, TablesComparedByText) {
    std::vector<CRecord> records(2);
    records[0].m_nNumber = 1;
    records[0].m_tableIds[0] = 1;
    records[1].m_nNumber = 2;
    records[1].m_tableIds[0] = 2;
    COutputTables tables;
    tables[0] = {"Oak", "Ash"};
    std::vector<CRecord> renumbered = records;
    renumbered[0].m_tableIds[0] = 2;
    renumbered[1].m_tableIds[0] = 1;
    COutputTables otherTables;
    otherTables[0] = {"Ash", "Oak"};
    CMemorySet oldSet(records, tables), newSet(renumbered, otherTables);
    CDiffOutcome outcome = Diff(oldSet, newSet);
    ASSERT_TRUE(outcome.m_bOk);
    EXPECT_TRUE(outcome.m_lines.empty());
    EXPECT_EQ(outcome.m_counts.m_nUnchanged, 2u);
    // The same identifiers naming other texts differ.
    CMemorySet again(records, tables), sameIds(records, otherTables);
    outcome = Diff(again, sameIds);
    EXPECT_EQ(outcome.m_lines, (std::vector<std::string>{"~1>1 n1 f32", "~2>2 n2 f32"}));
}

// Random sets with few numbers and random edits (records changed, removed, inserted, moved near
// and far) against matching worked out with every record in memory: each difference is reported
// once, whatever order the new set has. Moves farther than the comparison reads on make it read
// records out of order.
TEST(SetDiffTest, AgreesWithMatchingInMemory) {
    std::mt19937 random(12345);
    COutputTables tables;
    tables[1] = {"x", "y", "z"};
    auto make = [&random] {
        CRecord record;
        record.m_nNumber = static_cast<std::uint16_t>(random() % 40);
        record.m_nBValue = static_cast<std::uint8_t>(random() % 3);
        record.m_tableIds[1] = static_cast<std::uint16_t>(random() % 4);
        if (random() % 2) record.m_strText = "t" + std::to_string(random() % 3);
        return record;
    };
    for (int round = 0; round < 40; ++round) {
        std::vector<CRecord> before(random() % 300);
        for (CRecord& record : before)
            record = make();
        std::vector<CRecord> after = before;
        for (int edits = static_cast<int>(random() % 20); edits > 0; --edits) {
            std::size_t at = after.empty() ? 0 : random() % after.size();
            switch (random() % 4) {
                case 0:
                    if (!after.empty()) after[at] = make();
                    break;
                case 1:
                    if (!after.empty()) after.erase(after.begin() + static_cast<long>(at));
                    break;
                case 2:
                    after.insert(after.begin() + static_cast<long>(at), make());
                    break;
                default:
                    if (!after.empty()) {
                        CRecord moved = after[at];
                        after.erase(after.begin() + static_cast<long>(at));
                        after.insert(
                            after.begin() + static_cast<long>(random() % (after.size() + 1)),
                            moved);
                    }
            }
        }
        // The expected differences, by matching in memory.
        std::vector<std::string> expected;
        std::map<std::uint16_t, std::vector<std::size_t>> newOfNumber;
        for (std::size_t j = 0; j < after.size(); ++j)
            newOfNumber[after[j].m_nNumber].push_back(j);
        std::map<std::uint16_t, std::size_t> rank;
        std::vector<bool> matched(after.size(), false);
        CSetDiffCounts counts;
        for (std::size_t i = 0; i < before.size(); ++i) {
            std::uint16_t number = before[i].m_nNumber;
            std::size_t k = rank[number]++;
            if (k >= newOfNumber[number].size()) {
                expected.push_back("-" + std::to_string(i + 1) + " n" + std::to_string(number));
                continue;
            }
            std::size_t j = newOfNumber[number][k];
            matched[j] = true;
            unsigned fields = DifferentFields(before[i], tables, after[j], tables);
            if (fields != 0) {
                expected.push_back("~" + std::to_string(i + 1) + ">" + std::to_string(j + 1) +
                                   " n" + std::to_string(number) + " f" + std::to_string(fields));
            } else {
                ++counts.m_nUnchanged;
            }
        }
        for (std::size_t j = 0; j < after.size(); ++j) {
            if (!matched[j])
                expected.push_back("+" + std::to_string(j + 1) + " n" +
                                   std::to_string(after[j].m_nNumber));
        }
        CMemorySet oldSet(before, tables), newSet(after, tables);
        CDiffOutcome outcome = Diff(oldSet, newSet);
        ASSERT_TRUE(outcome.m_bOk) << outcome.m_error.Message();
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> got = outcome.m_lines;
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected) << "round " << round;
        EXPECT_EQ(outcome.m_counts.m_nUnchanged, counts.m_nUnchanged);
    }
}

// A record file that only goes forward cannot be compared, and says so; a fault in either set
// is the reader's own message.
TEST(SetDiffTest, FaultsOfEitherSet) {
    COutputTables tables;
    std::vector<CRecord> records(100);
    CMemorySet good(records, tables);
    COutputSetReader oldReader, newReader;
    CError error;
    ASSERT_TRUE(good.Open(oldReader, error));
    // The record file cut within its last record.
    std::string cut = RecordFileBytes(records);
    cut.pop_back();
    CMemorySource cutRecords(cut);
    std::vector<CMemorySource> empty(kTableCount, CMemorySource(""));
    COutputSources sources;
    sources.m_pRecords = &cutRecords;
    for (std::size_t i = 0; i < kTableCount; ++i)
        sources.m_tables[i] = &empty[i];
    ASSERT_TRUE(newReader.Open("cut", sources, error));
    CDiffLines lines;
    CSetDiffCounts counts;
    EXPECT_FALSE(DiffSets(oldReader, newReader, lines, counts, error));
    EXPECT_EQ(error.m_strFile, testing::InFolder("cut", "qxase.qxd"));
    EXPECT_NE(error.Message().find("offset"), std::string::npos) << error.Message();

    class CForwardOnly : public CMemorySource {
      public:
        using CMemorySource::CMemorySource;
        bool Seek(std::uint64_t) override { return false; }
    };
    std::string bytes = RecordFileBytes(records);
    CForwardOnly forward(bytes);
    sources.m_pRecords = &forward;
    // Read back from its start, the record file is more than the reader holds.
    CMemorySet other(records, tables);
    COutputSetReader again, streamed(16);
    ASSERT_TRUE(other.Open(again, error));
    ASSERT_TRUE(streamed.Open("pipe", sources, error));
    EXPECT_FALSE(DiffSets(streamed, again, lines, counts, error));
    EXPECT_EQ(error.Message(), testing::InFolder("pipe", "qxase.qxd") +
                                   ": the file can only be read from start to end");
}

}  // namespace
}  // namespace halvic
