// A conversion's seven output files held in memory and read back through the set reader that
// `halvic dump` reads them with (engine/set/set_reader.h), for tests and fuzz targets that check
// the output reader against what a conversion wrote.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/format/output_reader.h"
#include "engine/format/record.h"
#include "engine/io/error.h"

namespace halvic::testing {

// The bytes of the seven output files. m_strDir names them in messages ("" is the current
// working directory), as "DIR/qxase.qxd" and so on.
struct COutputFiles {
    std::string m_strDir;
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_tables;  // by table letter
};

struct COutputReadResult {
    bool m_bOk = false;
    CError m_error;                  // when !m_bOk
    std::vector<CRecord> m_records;  // in file order; on a fault, those before it
    COutputTables m_tables;
};

// Reads everything: the six tables in table-letter order, then the records; stops at the first
// fault. Each file is handed to the reader at most `block` bytes at a time, and the record file
// read `block` bytes at a time.
COutputReadResult ReadOutput(const COutputFiles& files, std::size_t block = std::size_t{1} << 16);
// The same from the files of `dir`, as dump reads them: under the set's read lock.
COutputReadResult ReadOutputDir(const std::string& dir);

// The bytes a conversion writes for `records` in the record file, and for `texts` in a table file.
std::string RecordFileBytes(const std::vector<CRecord>& records);
std::string TableFileBytes(const CTableTexts& texts);

}  // namespace halvic::testing
