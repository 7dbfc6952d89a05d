#include "engine/conversion/set_diff.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/format/field_text.h"

namespace halvic {

namespace {

constexpr std::size_t kNumbers = 65536;  // record numbers have 16 bits
constexpr std::uint32_t kNone = UINT32_MAX;
// How many records the new set is read on to reach a matched record before that record is read
// on its own instead, so that a record moved far ahead costs one read, not a pass over the rest.
constexpr std::uint32_t kReadAhead = 64;
// Bytes read at a time for one record read out of order, and for records read in order.
constexpr std::size_t kOneRecordBlock = 1024;
constexpr std::size_t kStreamBlock = std::size_t{1} << 16;

bool SameTableText(std::size_t table, std::uint16_t a, const COutputTables& aTables,
                   std::uint16_t b, const COutputTables& bTables) {
    if (a == 0 || b == 0) return a == b;
    return aTables[table][a - 1u] == bTables[table][b - 1u];
}

// The new set as the comparison reads it: in order, from a cursor, and record by record out of
// order, with what it has read of it.
class CNewSide {
  public:
    CNewSide(COutputSetReader& reader, const std::vector<std::uint32_t>& oldCounts)
        : m_reader(reader), m_oldCounts(oldCounts) {}

    // Reads the whole set once: where each record begins and which matches which.
    bool Index() {
        std::vector<std::uint16_t> numbers;
        std::vector<std::uint32_t> counts(kNumbers, 0);
        CRecord record;
        for (;;) {
            std::uint64_t offset = m_reader.Offset();
            if (!m_reader.Next(record)) break;
            m_offsets.push_back(offset);
            numbers.push_back(record.m_nNumber);
            ++counts[record.m_nNumber];
        }
        if (m_reader.Failed()) return false;
        // The new records by number, in file order within a number: the k-th record numbered v
        // is m_byNumber[m_starts[v] + k].
        m_starts.assign(kNumbers + 1, 0);
        for (std::size_t v = 0; v < kNumbers; ++v)
            m_starts[v + 1] = m_starts[v] + counts[v];
        m_byNumber.assign(numbers.size(), 0);
        std::copy(m_starts.begin(), m_starts.end() - 1, counts.begin());
        for (std::uint32_t j = 0; j < numbers.size(); ++j)
            m_byNumber[counts[numbers[j]]++] = j;
        m_passedCounts.assign(kNumbers, 0);
        return true;
    }

    // The new record matched with the `rank`-th old record numbered `number` (from 0); kNone
    // when there is none.
    std::uint32_t Match(std::uint16_t number, std::uint32_t rank) const {
        std::uint32_t at = m_starts[number] + rank;
        return at < m_starts[number + 1u] ? m_byNumber[at] : kNone;
    }

    // Reads record `j` into `record`, reading on from the cursor when it is a little ahead and
    // reporting the records passed that no old record matches.
    bool Read(std::uint32_t j, CRecord& record, CSetDiffListener& listener,
              CSetDiffCounts& counts) {
        if (j >= m_nCursor && j - m_nCursor <= kReadAhead) {
            if (!ReadOn(j, listener, counts)) return false;
            return NextAtCursor(record);
        }
        m_bAtCursor = false;
        return m_reader.MoveTo(m_offsets[j], kOneRecordBlock) && m_reader.Next(record);
    }

    // Reads on to the end, reporting the records passed that no old record matches.
    bool Finish(CSetDiffListener& listener, CSetDiffCounts& counts) {
        return ReadOn(static_cast<std::uint32_t>(m_offsets.size()), listener, counts);
    }

    const COutputTables& Tables() const { return m_reader.Tables(); }

  private:
    // Reads the records from the cursor up to `end`, not including it.
    bool ReadOn(std::uint32_t end, CSetDiffListener& listener, CSetDiffCounts& counts) {
        CRecord passed;
        while (m_nCursor < end) {
            std::uint32_t j = m_nCursor;
            if (!NextAtCursor(passed)) return false;
            // Matched when the old set has at least as many records of its number as the new
            // set has up to here; it is then read when its old record comes.
            if (m_passedCounts[passed.m_nNumber] > m_oldCounts[passed.m_nNumber]) {
                ++counts.m_nAdded;
                listener.Added(j + 1u, passed, Tables());
            }
        }
        return true;
    }

    bool NextAtCursor(CRecord& record) {
        if (!m_bAtCursor) {
            if (!m_reader.MoveTo(m_offsets[m_nCursor], kStreamBlock)) return false;
            m_bAtCursor = true;
        }
        if (!m_reader.Next(record)) return false;
        ++m_passedCounts[record.m_nNumber];
        ++m_nCursor;
        return true;
    }

    COutputSetReader& m_reader;
    const std::vector<std::uint32_t>& m_oldCounts;
    std::vector<std::uint64_t> m_offsets;  // where each record begins
    std::vector<std::uint32_t> m_starts;
    std::vector<std::uint32_t> m_byNumber;
    std::vector<std::uint32_t> m_passedCounts;  // records passed by the cursor, by number
    std::uint32_t m_nCursor = 0;
    bool m_bAtCursor = false;
};

}  // namespace

unsigned DifferentFields(const CRecord& a, const COutputTables& aTables, const CRecord& b,
                         const COutputTables& bTables) {
    unsigned fields = 0;
    if (a.m_strText != b.m_strText) fields |= kTextField;
    if (a.m_nBValue != b.m_nBValue) fields |= kBValueField;
    if (a.m_nWeight != b.m_nWeight) fields |= kWeightField;
    if (a.m_nEasting != b.m_nEasting) fields |= kEastingField;
    if (a.m_nNorthing != b.m_nNorthing) fields |= kNorthingField;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        if (!SameTableText(i, a.m_tableIds[i], aTables, b.m_tableIds[i], bTables))
            fields |= kTableField << i;
    }
    return fields;
}

std::string DiffSummary(const CSetDiffCounts& counts) {
    return WithThousands(counts.m_nAdded) + " added, " + WithThousands(counts.m_nRemoved) +
           " removed, " + WithThousands(counts.m_nChanged) + " changed, " +
           WithThousands(counts.m_nUnchanged) + " unchanged";
}

bool DiffSets(COutputSetReader& oldSet, COutputSetReader& newSet, CSetDiffListener& listener,
              CSetDiffCounts& counts, CError& error) {
    counts = CSetDiffCounts();
    auto fail = [&error](const COutputSetReader& set) {
        // A record file that ends sooner the second time was changed in place while it was read.
        error = set.Failed()
                    ? set.Error()
                    : CError{set.RecordFileName(), 0, "the file was changed while it was compared"};
        return false;
    };
    try {
        // The old set's records by number, so that a new record passed in order is known to be
        // added when the old set has fewer of its number.
        std::vector<std::uint32_t> oldCounts(kNumbers, 0);
        CRecord oldRecord;
        const std::uint64_t oldStart = oldSet.Offset();
        while (oldSet.Next(oldRecord))
            ++oldCounts[oldRecord.m_nNumber];
        if (oldSet.Failed()) return fail(oldSet);
        CNewSide newSide(newSet, oldCounts);
        if (!newSide.Index()) return fail(newSet);

        if (!oldSet.MoveTo(oldStart, kStreamBlock)) return fail(oldSet);
        std::vector<std::uint32_t> oldRanks(kNumbers, 0);
        CRecord newRecord;
        for (std::uint64_t i = 1; oldSet.Next(oldRecord); ++i) {
            std::uint32_t j = newSide.Match(oldRecord.m_nNumber, oldRanks[oldRecord.m_nNumber]++);
            if (j == kNone) {
                ++counts.m_nRemoved;
                listener.Removed(i, oldRecord, oldSet.Tables());
                continue;
            }
            if (!newSide.Read(j, newRecord, listener, counts)) return fail(newSet);
            unsigned fields =
                DifferentFields(oldRecord, oldSet.Tables(), newRecord, newSide.Tables());
            if (fields == 0) {
                ++counts.m_nUnchanged;
            } else {
                ++counts.m_nChanged;
                listener.Changed(i, oldRecord, oldSet.Tables(), j + 1u, newRecord, newSide.Tables(),
                                 fields);
            }
        }
        if (oldSet.Failed()) return fail(oldSet);
        if (!newSide.Finish(listener, counts)) return fail(newSet);
    } catch (const std::bad_alloc&) {
        error = {newSet.RecordFileName(), 0, "out of memory"};
        return false;
    }
    return true;
}

CConvertResult CConvertedSet::Convert(const std::string& path, CConvertOptions options) {
    std::array<std::unique_ptr<CMemorySink>, kOutputCount> sinks;
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        m_files[i].clear();
        sinks[i] = std::make_unique<CMemorySink>(m_files[i], std::size_t{1} << 16);
        options.m_checkOutputs[i] = sinks[i].get();
    }
    options.m_bCheckOnly = true;
    return ConvertFile(path, options);
}

void CConvertedSet::MakeEmpty() {
    for (std::string& file : m_files)
        file.clear();
}

bool CConvertedSet::Open(COutputSetReader& reader, const std::string& name, CError& error) {
    m_sources.clear();
    m_sources.reserve(kOutputCount);
    for (const std::string& file : m_files)
        m_sources.emplace_back(file);
    COutputSources sources;
    sources.m_pRecords = &m_sources[0];
    for (std::size_t i = 0; i < kTableCount; ++i)
        sources.m_tables[i] = &m_sources[i + 1];
    return reader.Open(name, sources, error);
}

}  // namespace halvic
