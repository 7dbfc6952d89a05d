// The one way an input is converted: a source cuts it into parts where a reader of the whole input
// starts a group; the parts are converted each on its own (on the calling thread alone when there
// is one part, on more threads otherwise) and joined in order; the joined records go on to the
// record file while the next parts are converted. Input whose groups lie further apart than the
// largest part is converted on from there by the plain loop, one group after another.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion/join.h"
#include "engine/conversion/part_source.h"
#include "engine/io/byte_stream.h"

namespace halvic {

struct CPipelineOptions {
    // Threads that convert parts, the calling thread among them; more start only when there is
    // more than one part.
    unsigned m_nThreads = 2;
    // Look for UTF-8 in input stored as it is (CUtf8Seen), for the warning that it looks like
    // UTF-8.
    bool m_bLookForUtf8 = false;
};

// Converts the parts of `source` into `joined`, then whatever the plain loop must read on. Throws
// the first failure in input order: of reading, of a part, or of a full table.
void ConvertParts(CPartSource& source, CJoinedConversion& joined, const std::string& name,
                  const CPipelineOptions& options);

// The whole conversion of an input held in memory, as ConvertFile does it: into `records` and
// `tables`, with the warnings appended. Parts are views of `input` or, with `streamStep` nonzero,
// read as from a stream at most that many bytes at a time. Throws CFailure.
CConvertSummary ConvertInParts(std::string_view input, const std::string& name, CByteSink& records,
                               CValueTables& tables, std::vector<CWarning>& warnings,
                               const CPartSizes& sizes = {}, unsigned threads = 2,
                               std::size_t streamStep = 0);

}  // namespace halvic
