// `halvic dump`: prints the records of a conversion's output files, one line each.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "cli/exit_codes.h"

namespace halvic::cli {

enum class EDumpFormat {
    kText,   // readable lines; bytes outside printable ASCII as \xHH
    kJsonl,  // one JSON object per line; text bytes read as Latin-1
    kCsv,    // RFC 4180 with a header row; text bytes read as Latin-1
};

struct CDumpCommand {
    std::string m_strDir;  // "" is the current working directory
    EDumpFormat m_format = EDumpFormat::kText;
    std::uint64_t m_nRecord = 0;  // 1-based; 0 prints every record
};

// Prints the records to `out` in file order and a fault to `err` ("halvic: error: ..."). The
// records before a fault are printed; kExitFailed after a fault or when record m_nRecord does not
// exist.
EExitCode RunDump(const CDumpCommand& command, std::ostream& out, std::ostream& err);

}  // namespace halvic::cli
