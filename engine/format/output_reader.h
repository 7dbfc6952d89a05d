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
// A table file is zero-terminated texts, at most 65,535 of them (identifiers have 16 bits), no
// two the same (a conversion stores a text once; the empty text is a text like any other).
// Text bytes themselves are not checked: any byte but 0 is taken as it stands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/format/record.h"
#include "engine/format/record_format.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"
#include "engine/io/file.h"

namespace halvic {

// The texts of one table file: the text of identifier n is at [n - 1].
using CTableTexts = std::vector<std::string>;
using COutputTables = std::array<CTableTexts, kTableCount>;

// One output file opened for reading, read in blocks. Only a regular file is opened: a directory,
// a named pipe or a device (a link to /dev/zero) would never end, block or not be a conversion's
// output.
class COutputFile : public CByteSource {
  public:
    COutputFile() = default;
    ~COutputFile() override;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // Opens `path`; on failure (missing, unreadable, not a regular file) returns false and fills
    // `error`.
    bool Open(const std::string& path, CError& error);
    // Throws CFailure when the file cannot be read.
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
    bool Seek(std::uint64_t offset) override;
    const std::string& Name() const { return m_strName; }

  private:
    CFileHandle m_file = kNoFile;
    std::string m_strName;
};

// Splits the bytes of table file `name` into its texts, reading no further than the first
// fault. On a fault returns false, fills `error` and leaves in `texts` the texts before the
// fault. A failure to read is a fault too.
bool ReadTableFile(CByteSource& source, const std::string& name, CTableTexts& texts, CError& error);

// Hands out the records of a record file one at a time, checking each against the encoding and
// its identifiers against the sizes of the tables. The file is read in blocks, no further than
// the record being read: memory holds the longest record, not the file. A text longer than a
// block is read straight into the record, once, from a source that can go back and forth.
class CRecordFileReader {
  public:
    // Reads from `source`, which must outlive the reader, at least `block` bytes at a time;
    // `name` names the file in messages.
    CRecordFileReader(CByteSource& source, std::string name,
                      const std::array<std::size_t, kTableCount>& tableSizes,
                      std::size_t block = std::size_t{1} << 16);

    // Reads the next record into `record`. Returns false at the end of the file and at a fault
    // (a failure to read included); Failed() tells the two apart. After a fault it keeps
    // returning false.
    bool Next(CRecord& record);

    bool Failed() const { return m_bFailed; }
    // The fault: "NAME: offset N: what was found and what was expected".
    const CError& Error() const { return m_error; }

    // Where the next record begins in the file.
    std::uint64_t Offset() const { return m_nBase + m_nOffset; }
    // Reads on from `offset`, where a record began (an Offset given before), reading at least
    // `block` bytes at a time from then on. Returns false, with nothing changed, when the source
    // cannot go back and forth; throws CFailure when it cannot be repositioned.
    bool MoveTo(std::uint64_t offset, std::size_t block);

  private:
    enum EStep { kRecord, kFault, kMore };
    // Reads the record at m_nOffset of m_bytes; kMore when m_bytes ends before it does but the
    // file may not.
    EStep Parse(CRecord& record);
    // Reads more of the source after what is buffered, dropping the records already read;
    // false at the end of the file.
    bool ReadMore();
    EStep Fail(std::size_t offset, const std::string& reason);
    // A fault at byte `offset` of the file.
    EStep FailAt(std::uint64_t offset, const std::string& reason);
    // Reads the text that begins at `at` of m_bytes, of the field at `fieldAt`, which goes on past
    // a block or more, straight into `record` (see ReadLongText in the source); then kMore, with
    // the reading to go on from its zero byte.
    EStep ReadLongText(CRecord& record, std::size_t fieldAt, std::size_t at);
    // Drops what is buffered; the source stands at `offset`, where the reading goes on.
    void EmptyBuffer(std::uint64_t offset);

    std::string_view m_bytes;  // the part of the file buffered
    CByteSource* m_pSource = nullptr;
    std::string m_strBuffer;
    std::size_t m_nBlock = 0;
    bool m_bAtEnd = false;      // m_bytes reaches the end of the file
    std::uint64_t m_nBase = 0;  // the offset of m_bytes in the file
    std::string m_strName;
    std::array<std::size_t, kTableCount> m_tableSizes;
    std::size_t m_nOffset = 0;  // in m_bytes
    bool m_bFailed = false;
    CError m_error;
    // The record being read has a long text, read into it whole: Parse goes on at m_nOffset, its
    // zero byte, instead of starting the record again.
    bool m_bAfterLongText = false;
    std::uint64_t m_nLongTextAt = 0;  // the text field's offset in the file
};

// The sizes of `tables`, as CRecordFileReader takes them.
std::array<std::size_t, kTableCount> TableSizes(const COutputTables& tables);

}  // namespace halvic
