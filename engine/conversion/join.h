// The conversion so far, to which parts are joined in order, and the plain loop that reads groups
// one after another from where the parts end. Joining settles what a part cannot know alone: the
// table identifiers of texts that came before it, the fields its first records keep from the
// record before the part, repeated record numbers and the lines of its warnings.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/conversion/groups.h"
#include "engine/conversion/notes.h"
#include "engine/conversion/part.h"
#include "engine/conversion/summary.h"
#include "engine/format/record.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"
#include "engine/text/tag_file.h"

namespace halvic {

class CJoinedConversion {
  public:
    CJoinedConversion(std::string name, CByteSink& records, CValueTables& tables)
        : m_strName(std::move(name)), m_records(records), m_tables(tables) {}

    // Appends the part that comes next in the input. Throws the part's failure, or a full table's.
    void Join(CPart& part);
    // Converts what is left of the input, from `reader` (which starts at a group's start or at the
    // end), one group after another. Throws CFailure.
    void ConvertRest(CTagFile& reader);

    // Takes what was seen of UTF-8 in the rest that ConvertRest read, which began after
    // `linesBefore` lines.
    void JoinUtf8(const CUtf8Seen& rest, std::uint64_t linesBefore) {
        m_utf8.Join(rest, linesBefore);
    }
    std::uint64_t Lines() const { return m_nLines; }

    // Whether a tag other than "@" where a group should start ended the conversion.
    bool Stopped() const { return m_stop.m_bStopped; }
    const CStop& Stop() const { return m_stop; }
    std::uint64_t Records() const { return m_nRecords; }
    // The summary of the conversion, and its warnings appended to `warnings` in line order.
    CConvertSummary Finish(std::vector<CWarning>& warnings) const;

  private:
    class CPlainGroups;

    // Appends the warning notes of `part`, whose lines count on from `lineOffset`.
    void JoinNotes(const CPart& part, std::uint64_t lineOffset);

    std::string m_strName;
    CByteSink& m_records;
    CValueTables& m_tables;
    CRecord m_record;  // the last record written
    std::uint64_t m_nLines = 0;
    std::uint64_t m_nRecords = 0;
    CGroupNotes m_notes;
    CRecordNumbers m_numbers;
    CStop m_stop;
    CUtf8Seen m_utf8;
};

// The plain loop on its own: converts the whole input of `reader`, one group after another, with
// nothing read ahead. What the pipeline must give, records, tables, warnings and failure alike.
CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings);

}  // namespace halvic
