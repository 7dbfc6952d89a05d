// One whole conversion: tagged text in, the record file and the six table files out.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/conversion/summary.h"
#include "engine/format/record_format.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"
#include "engine/set/output_set.h"
#include "engine/text/input_encoding.h"

namespace halvic {

struct CConvertOptions {
    // Where the seven files go; empty means the current working directory.
    std::string m_strOutputDir;
    // Make the output directory, and those above it, when missing.
    bool m_bMakeOutputDir = false;
    // Read standard input when the path is "-" (a command line's convention; a typed name is
    // taken as it stands).
    bool m_bDashMeansStdin = false;
    // How the seven files are put in place: flushed to the disk or not, what to do while another
    // conversion into the same directory is waited for.
    COutputSetOptions m_output;
    // How the input is read: by its byte-order mark (a file without one as bytes), or in the
    // encoding given (see ChooseEncoding). Texts are stored in Windows-1252.
    EInputEncoding m_eFrom = EInputEncoding::kAsMarked;
    // Kept up to date while the input is read, when set.
    CConvertProgress* m_pProgress = nullptr;
    // Convert without writing anything: the same warnings, failures and summary, no output
    // directory touched, no lock taken.
    bool m_bCheckOnly = false;
    // With m_bCheckOnly: sinks that take the bytes of the seven files (record file first, then
    // the tables in table-letter order) instead of letting them go, so that the set a conversion
    // would write can be read without writing it; a null one lets its file's bytes go.
    std::array<CByteSink*, kOutputCount> m_checkOutputs = {};
    // With m_bCheckOnly: the conversion is for reading its set, not for replacing one, so no
    // output directory is checked.
    bool m_bNoOutputDir = false;
    // Any warning fails the conversion (the input's own warnings; not those about the output
    // directory), for scripts and for checking a catalogue before it is published.
    bool m_bStrict = false;
    // An interrupt that comes while the files are put in place waits for the commit; when the
    // commit is done, it waits on (m_bInterrupted) until the caller, having said so, calls
    // ReleaseInterrupts. Otherwise it takes its course at once.
    bool m_bHoldInterruptAfterCommit = false;
};

struct CConvertResult {
    bool m_bOk = false;
    CError m_error;  // when !m_bOk
    CConvertSummary m_summary;
    // Input that is probably a mistake; warnings never change the output.
    std::vector<CWarning> m_warnings;
    // The output directory was made (or, for a check, would be).
    bool m_bMadeOutputDir = false;
    // With m_bHoldInterruptAfterCommit: an interrupt came while the new files were put in place,
    // which they now are, and waits for ReleaseInterrupts.
    bool m_bInterrupted = false;
};

// Converts the file at `path`. The seven output files replace their
// targets only when all of them have been written completely; on any failure every target is left
// as it was and no temporary file remains.
CConvertResult ConvertFile(const std::string& path, const CConvertOptions& options = {});

}  // namespace halvic
