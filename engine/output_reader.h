// Reads a conversion's output back: the record file and the six table files, strictly.
//
// The reader accepts exactly the bytes a conversion can write and nothing else, so a file that
// reads without error is the same file the writer would produce for the records read back
// (writing them again gives the same bytes). In a record:
// - fields come in the writer's order (number, text, bValue, weight, easting, northing), each at
//   most once, then always the identifier array (0xA4, the count 6, six identifiers), then 0x00;
// - a number takes the shortest form the writer uses: a 1-byte field never holds 0 and a 2-byte
//   field never holds less than 256 (the writer leaves zero fields out and uses one byte below
//   256); a text field is never empty; a record number never takes the 4-byte form;
// - every identifier other than 0 names a text of its table file.
// A table file is zero-terminated texts, at most 65,535 of them (identifiers have 16 bits).
// Text bytes themselves are not checked: any byte but 0 is taken as it stands.
//
// Table files are read before the record file, since a record cannot be checked or shown without
// them; a fault in a table file therefore comes before every record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/error.h"
#include "engine/record.h"
#include "engine/value_table.h"

namespace halvic {

// The texts of one table file: the text of identifier n is at [n - 1].
using CTableTexts = std::vector<std::string>;
using COutputTables = std::array<CTableTexts, kTableCount>;

// The bytes of the seven output files. m_strDir names them in messages ("" is the current
// working directory), as "DIR/qxase.qxd" and so on.
struct COutputFiles {
    std::string m_strDir;
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_tables;  // by table letter
};

// Reads the seven files from `dir` ("" is the current working directory). On failure (a missing
// or unreadable file) returns false and fills `error`.
bool LoadOutputFiles(const std::string& dir, COutputFiles& files, CError& error);

// Splits the bytes of table file `name` into its texts. On a fault returns false, fills `error`
// and leaves in `texts` the texts before the fault.
bool ReadTableFile(std::string_view bytes, const std::string& name, CTableTexts& texts,
                   CError& error);

// The six table files of `files`, in table-letter order; stops at the first fault.
bool ReadTables(const COutputFiles& files, COutputTables& tables, CError& error);

// Hands out the records of a record file one at a time, checking each against the encoding and
// its identifiers against the sizes of the tables.
class CRecordFileReader {
  public:
    // `bytes` must outlive the reader; `name` names the file in messages.
    CRecordFileReader(std::string_view bytes, std::string name,
                      const std::array<std::size_t, kTableCount>& tableSizes);

    // Reads the next record into `record`. Returns false at the end of the file and at a fault;
    // Failed() tells the two apart. After a fault it keeps returning false.
    bool Next(CRecord& record);

    bool Failed() const { return m_bFailed; }
    // The fault: "NAME: offset N: what was found and what was expected".
    const CError& Error() const { return m_error; }
    // Where the next record begins.
    std::size_t Offset() const { return m_nOffset; }

  private:
    bool Fail(std::size_t offset, const std::string& reason);

    std::string_view m_bytes;
    std::string m_strName;
    std::array<std::size_t, kTableCount> m_tableSizes;
    std::size_t m_nOffset = 0;
    bool m_bFailed = false;
    CError m_error;
};

// The sizes of `tables`, as CRecordFileReader takes them.
std::array<std::size_t, kTableCount> TableSizes(const COutputTables& tables);

struct COutputReadResult {
    bool m_bOk = false;
    CError m_error;                  // when !m_bOk
    std::vector<CRecord> m_records;  // in file order; on a fault, those before it
    COutputTables m_tables;
};

// Reads everything: the tables, then the records.
COutputReadResult ReadOutput(const COutputFiles& files);
// LoadOutputFiles, then ReadOutput.
COutputReadResult ReadOutputDir(const std::string& dir);

// Readable forms of decoded fields, for dumps.
// A weight in pounds as hundredweights-quarters-pounds: 1414 gives "12-2-14".
std::string WeightInCwt(std::uint16_t pounds);
// An easting and northing (100 m units from the corner of square V) as a grid reference:
// 14123, 6456 gives "SU 123 456". Returns false when the point lies outside the letter grid.
bool GridReference(std::uint16_t easting, std::uint16_t northing, std::string& reference);

}  // namespace halvic
