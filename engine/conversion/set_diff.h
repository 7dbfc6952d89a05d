// What differs between two sets: records matched by their number, in order (the n-th record
// numbered 12 in the old set with the n-th numbered 12 in the new one), so that a record inserted
// or removed in the middle leaves the others matched. A table field compares by the text it
// names, not by its identifier. A set is either read back from its seven files or converted from
// tagged text into memory, as `convert --check` reads it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/conversion/convert_file.h"
#include "engine/format/record.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"
#include "engine/set/set_reader.h"

namespace halvic {

// The fields of a record that differ, one bit each; a table field's bit is kTableField << table.
enum EDiffField : unsigned {
    kTextField = 1u << 0,
    kBValueField = 1u << 1,
    kWeightField = 1u << 2,
    kEastingField = 1u << 3,
    kNorthingField = 1u << 4,
    kTableField = 1u << 5,
};

// The fields in which `a` (with the texts of `aTables`) and `b` (with `bTables`) differ; the
// record number is what matched them, so it is not compared.
unsigned DifferentFields(const CRecord& a, const COutputTables& aTables, const CRecord& b,
                         const COutputTables& bTables);

struct CSetDiffCounts {
    std::uint64_t m_nAdded = 0;
    std::uint64_t m_nRemoved = 0;
    std::uint64_t m_nChanged = 0;
    std::uint64_t m_nUnchanged = 0;

    bool Differ() const { return m_nAdded + m_nRemoved + m_nChanged != 0; }
};

// "3 added, 1 removed, 5 changed, 1,200 unchanged".
std::string DiffSummary(const CSetDiffCounts& counts);

// Told of each difference as it is found. Records are given with their position in their file
// (from 1) and the texts of their set's tables.
class CSetDiffListener {
  public:
    virtual ~CSetDiffListener() = default;
    virtual void Added(std::uint64_t index, const CRecord& record, const COutputTables& tables) = 0;
    virtual void Removed(std::uint64_t index, const CRecord& record,
                         const COutputTables& tables) = 0;
    // `fields` holds the bits of EDiffField that differ.
    virtual void Changed(std::uint64_t oldIndex, const CRecord& oldRecord,
                         const COutputTables& oldTables, std::uint64_t newIndex,
                         const CRecord& newRecord, const COutputTables& newTables,
                         unsigned fields) = 0;
};

// Compares the sets `oldSet` and `newSet`, opened and not yet read, and tells `listener` of each
// difference: in the old set's order, the records of the new set that no old record matches where
// the new set has them among the matched ones. Each set is read twice from its start (the sets'
// record files must be able to go back: files and memory can), and the new set's records that
// come out of order once more each; memory holds about 12 bytes per record of the new set, never
// the records. Returns false, with the fault of a set in `error`, when one cannot be read.
// What `listener` throws goes through.
bool DiffSets(COutputSetReader& oldSet, COutputSetReader& newSet, CSetDiffListener& listener,
              CSetDiffCounts& counts, CError& error);

// The set a conversion of tagged text would write, kept in memory: the conversion is a check
// (nothing written, no lock taken) whose seven files are kept, so that it reads the input exactly
// as `convert` does.
class CConvertedSet {
  public:
    CConvertedSet() = default;
    CConvertedSet(const CConvertedSet&) = delete;
    CConvertedSet& operator=(const CConvertedSet&) = delete;

    // Converts `path` with `options` (made a check that keeps its files). The result is the
    // conversion's: its warnings, and its failure when !m_bOk.
    CConvertResult Convert(const std::string& path, CConvertOptions options);
    // An empty set: what a directory holds before its first conversion.
    void MakeEmpty();
    // Opens `reader` on the set after Convert or MakeEmpty; `name` names it in messages.
    bool Open(COutputSetReader& reader, const std::string& name, CError& error);

  private:
    std::array<std::string, kOutputCount> m_files;
    std::vector<CMemorySource> m_sources;
};

}  // namespace halvic
