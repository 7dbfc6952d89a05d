// Reads a conversion's seven files back as one set: the six tables whole, then the records one at
// a time. The tables come first since a record cannot be checked or shown without them, so a fault
// in a table file comes before every record. The files come from a directory, under the set's read
// lock, or from seven byte sources (memory, for tests and fuzz targets): the same reading either
// way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/format/output_reader.h"
#include "engine/format/record.h"
#include "engine/format/record_format.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"

namespace halvic {

// The seven files of a set as byte sources, each read from its start.
struct COutputSources {
    CByteSource* m_pRecords = nullptr;
    std::array<CByteSource*, kTableCount> m_tables = {};  // by table letter
};

class COutputSetReader {
  public:
    // Reads the record file at least `block` bytes at a time: memory holds the tables and the
    // longest record, not the record file.
    explicit COutputSetReader(std::size_t block = std::size_t{1} << 16) : m_nBlock(block) {}
    COutputSetReader(const COutputSetReader&) = delete;
    COutputSetReader& operator=(const COutputSetReader&) = delete;

    // Takes the read lock of `dir` ("" is the current working directory), calling `onWait` once
    // when it has been waited for a second and giving up after `waitSeconds` when that is not
    // negative, opens the seven files and lets go of the lock: what
    // is read afterwards is the set as it was then, whatever replaces it meanwhile. Then reads
    // the six tables. What the lock found to say goes to `warnings`. On failure (the lock, a
    // missing or irregular file, a fault in a table, memory that runs out) returns false and
    // fills `error`, which names the file.
    bool Open(const std::string& dir, const std::function<void()>& onWait, CError& error,
              std::vector<CError>& warnings, int waitSeconds = -1);
    // Reads the six tables from `sources`, which must outlive the reader, and then the records;
    // `dir` names the files in messages as Open's does.
    bool Open(const std::string& dir, const COutputSources& sources, CError& error);

    // After a successful Open: the texts of the six tables.
    const COutputTables& Tables() const { return m_tables; }
    // The record file's name, as messages give it ("DIR/qxase.qxd").
    const std::string& RecordFileName() const { return m_strRecordFile; }

    // Reads the next record into `record`. Returns false at the end of the record file, at a
    // fault (memory that runs out included) and before a successful Open; Failed() tells a fault
    // apart. After a fault it keeps returning false.
    bool Next(CRecord& record);
    bool Failed() const { return m_bFailed; }
    // The fault: "DIR/qxase.qxd: offset N: what was found and what was expected".
    const CError& Error() const { return m_error; }

    // Where the next record begins in the record file, after a successful Open.
    std::uint64_t Offset() const { return m_records ? m_records->Offset() : 0; }
    // Reads on from `offset`, where a record began (an Offset given before), at least `block`
    // bytes at a time, so that records can be read again or out of order: a small block for one
    // record, a large one for many. Returns false, with the fault in Error(), when the record
    // file cannot be repositioned (a source that only goes forward).
    bool MoveTo(std::uint64_t offset, std::size_t block);

  private:
    std::size_t m_nBlock;
    std::string m_strRecordFile;
    COutputFile m_recordFile;
    std::array<COutputFile, kTableCount> m_tableFiles;
    COutputTables m_tables;
    std::optional<CRecordFileReader> m_records;
    bool m_bFailed = false;
    CError m_error;
};

}  // namespace halvic
