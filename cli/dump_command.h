// `halvic dump`: prints the records of a conversion's output files, one line each.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>

#include "cli/exit_codes.h"
#include "cli/text_encoding.h"
#include "engine/io/byte_stream.h"
#include "engine/io/file.h"

namespace halvic::cli {

enum class EDumpFormat {
    kText,    // readable lines; bytes outside printable ASCII as \xHH
    kJsonl,   // one JSON object per line; text bytes read as Latin-1
    kCsv,     // RFC 4180 with a header row; text bytes read as Latin-1
    kTagged,  // the tagged text that converts back into the same files
};

struct CDumpCommand {
    std::string m_strDir;  // "" is the current working directory
    EDumpFormat m_format = EDumpFormat::kText;
    std::uint64_t m_nRecord = 0;                // 1-based; 0 prints every record
    std::int32_t m_nNumber = -1;                // prints the records with this number; -1: all
    EEncoding m_encoding = EEncoding::kLatin1;  // how texts' bytes are read
    bool m_bEncodingChosen = false;  // text shows non-ASCII bytes as \xHH unless one is chosen
    bool m_bByteOrderMark = false;   // csv begins with one, for spreadsheet programs
    int m_nWaitSeconds = -1;  // how long to wait for a conversion; negative: as long as it takes
};

// A sink writing to an open file descriptor, such as standard output; every write is checked,
// and a failed one throws CFailure naming `name` ("standard output: No space left on device").
class CDescriptorSink : public CByteSink {
  public:
    CDescriptorSink(CFileHandle file, std::string name)
        : m_file(file), m_strName(std::move(name)) {}

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;

  private:
    CFileHandle m_file;
    std::string m_strName;
};

// The directory of the set that `named` names: one of the seven files stands for the directory
// that holds it.
std::string SetDirectory(const std::string& named);

// Prints the records to `out` in file order and a fault to `err` ("halvic: error: ..."). The
// records before a fault are printed; kExitFailed after a fault, when record m_nRecord does not
// exist, when memory runs out or when `out` fails ("halvic: error: standard output: ...").
// Memory holds the table texts and one record, whatever the size of the record file.
EExitCode RunDump(const CDumpCommand& command, CByteSink& out, std::ostream& err);

}  // namespace halvic::cli
