// `halvic diff`: what differs between two sets, each a directory of seven files or tagged text
// read as `convert --check` reads it; and the same report for `convert --check --diff`.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/exit_codes.h"
#include "cli/text_encoding.h"
#include "engine/conversion/set_diff.h"
#include "engine/io/byte_stream.h"

namespace halvic::cli {

enum class EDiffFormat {
    kText,   // a line per difference, as dump shows records, then the summary
    kJsonl,  // a JSON object per difference, then one for the summary
};

// How differences are shown.
struct CDiffShow {
    EDiffFormat m_format = EDiffFormat::kText;
    EEncoding m_encoding = EEncoding::kLatin1;  // how texts' bytes are read
    bool m_bEncodingChosen = false;
    bool m_bQuiet = false;  // only the summary
};

struct CDiffCommand {
    std::string m_strOld;  // a directory (or one of its seven files), a tagged file, or "-"
    std::string m_strNew;
    CDiffShow m_show;
};

// Compares and prints the differences to `out`, warnings and faults to `err`. kExitOk when the
// sets are the same, kExitDiffers when they differ, kExitTrouble when one cannot be read or
// converted, or `out` fails.
EExitCode RunDiff(const CDiffCommand& command, CByteSink& out, std::ostream& err);

// Compares `oldSet` with `newSet`, opened, printing as RunDiff does; false after a fault, told on
// `err`. `counts` holds the outcome.
bool ShowDiff(COutputSetReader& oldSet, COutputSetReader& newSet, const CDiffShow& show,
              CByteSink& out, std::ostream& err, CSetDiffCounts& counts);

// Opens the set in `dir`, as dump does (waiting for a conversion and the lock's warnings told on
// `err`); a directory that holds none of the seven files is an empty set, kept in `empty`, when
// `missingIsEmpty`; waits at most `waitSeconds` when that is not negative. Returns false with
// the fault in `error`.
bool OpenSet(const std::string& dir, bool missingIsEmpty, CConvertedSet& empty,
             COutputSetReader& reader, std::ostream& err, CError& error, int waitSeconds = -1);

}  // namespace halvic::cli
