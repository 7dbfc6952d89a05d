// The conversion inside ConvertFile: parts of the input converted each on its own, as if it began
// the input, and joined in order; and the plain loop that reads groups one after another, for
// input that cannot be cut into parts and as the yardstick of the tests. Joining settles what a
// part cannot know alone: the table identifiers of texts that came before it, and the fields that
// its first records keep from the record before the part.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion/summary.h"
#include "engine/conversion/value_checks.h"
#include "engine/format/record.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"
#include "engine/text/tag_file.h"

namespace halvic {

// What ended a conversion before the end of its input: a tag other than "@" where a group should
// start (at the very start, or after an empty tag).
struct CStop {
    bool m_bStopped = false;
    std::string m_strTag;
    bool m_bCut = false;
    std::uint64_t m_nLine = 0;
};

// The contents stored otherwise than written and the repeated record numbers of a conversion, or
// of a part of one: of each kind the first kShownPerKind with their warnings, then only how many
// more, and the line of the first of those.
class CValueNotes {
  public:
    // Notes a content of `kind` on `line` whose warning `warning(content)` gives, unless that is
    // "" (the value stored is the one meant).
    void Note(EWarningKind kind, std::uint64_t line, std::string_view content,
              std::string (*warning)(std::string_view));
    // The same for a number that is surely stored otherwise than written: its warning is built
    // only while it would be shown.
    void NoteNumber(EWarningKind kind, std::uint64_t line, std::string_view content,
                    std::string (*warning)(std::string_view));
    // Notes a repeated record number.
    void NoteRepeated(std::uint64_t line, std::uint16_t number, std::uint64_t firstLine);
    // Appends the notes of the part that comes next, its lines counted on from `lineOffset`.
    void Append(const CValueNotes& part, std::uint64_t lineOffset);
    // Adds the warnings, shown and counted.
    void AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const;

  private:
    struct CShown {
        std::uint64_t m_nLine;
        std::string m_strWarning;
    };
    struct CKind {
        std::vector<CShown> m_shown;
        std::uint64_t m_nMore = 0;
        std::uint64_t m_nMoreLine = 0;
    };
    void Add(EWarningKind kind, std::uint64_t line, std::string warning);
    void Count(EWarningKind kind, std::uint64_t line, std::uint64_t count);

    std::array<CKind, 6> m_kinds;
};

// The line on which each record number was first seen, for the warning of a number seen again.
class CRecordNumbers {
  public:
    // Notes record `number` on `line`; a repeated number is noted in `notes`.
    void See(std::uint16_t number, std::uint64_t line, CValueNotes& notes) {
        if (!m_firstLines) m_firstLines = std::make_unique<std::uint64_t[]>(65536);
        std::uint64_t& first = m_firstLines[number];
        if (first == 0) {
            first = line;
        } else {
            notes.NoteRepeated(line, number, first);
        }
    }

  private:
    std::unique_ptr<std::uint64_t[]> m_firstLines;  // 0: not seen
};

// Hands the groups of `reader` to `handler`, in order: Start(content of the "@" pair), then
// Field(tag, content) for each pair of the group, then End(). A group ends at the next "@" (handed
// back to the reader), at an empty tag or at the end of the input, where the tag is empty too. A
// tag other than "@" where a group should start ends the reading: Stop(tag).
template <class THandler>
void ReadGroups(CTagFile& reader, THandler& handler) {
    std::string_view tag;
    std::string_view content;
    while (reader.ReadTag(tag, content)) {
        if (tag != "@") {
            handler.Stop(tag);
            return;
        }
        handler.Start(content);
        reader.ReadTag(tag, content);
        while (tag != "@" && !tag.empty()) {
            handler.Field(tag, content);
            reader.ReadTag(tag, content);
        }
        if (tag == "@") reader.m_bPushedBack = 1;
        handler.End();
    }
}

// A table text of a part. Its identifier depends on every text before it, so it is given when the
// part is joined, in order.
struct CTableText {
    std::uint64_t m_nHash;
    std::uint32_t m_nWhere;  // in the part, or when m_bKept in the part's kept bytes
    std::uint32_t m_nLength;
    std::uint32_t m_nLine;  // in the part, from 1
    std::uint8_t m_nTable;
    bool m_bKept;
};

// A record of a part that keeps a field from the record before the part: kept as values until
// that record is known.
struct CPendingRecord {
    CRecord m_record;
    unsigned m_nSet;  // the fields set within the part
};

// A part converted on its own: lines count from its start, and its records hold no identifiers.
struct CPart {
    // Offsets within a part, and the offsets of its records' identifiers, take 32 bits; a record
    // takes at most 16 bytes a byte of input.
    static constexpr std::size_t kLargest = std::size_t{1} << 27;

    std::string_view m_bytes;  // of the input
    std::string m_strRecords;  // the records that set every field but the tables within the part
    std::vector<std::uint32_t> m_idOffsets;   // where the identifiers of each of those begin
    std::vector<CPendingRecord> m_pending;    // the records before them
    std::vector<CTableText> m_texts;          // in order
    std::vector<std::uint32_t> m_textCounts;  // the table texts of each record, in order
    std::string m_strKept;                    // contents that are not the input's bytes
    CTagNotes m_notes;
    CValueNotes m_values;
    // The number and line of each record, in order: whether a number was seen before is known
    // only when the part is joined.
    std::vector<std::pair<std::uint16_t, std::uint32_t>> m_numbers;
    CRecord m_last;  // the part's last record
    std::uint64_t m_nRecords = 0;
    std::uint64_t m_nLines = 0;
    CStop m_stop;
    std::exception_ptr m_failure;  // of the conversion of the part, or of reading it

    // Made ready for another part, keeping the memory of this one.
    void Clear();
};

// Converts `bytes` (at most CPart::kLargest of them) into `part`, as if they began the input.
// `name` names the input in failures.
void ConvertPart(std::string_view bytes, const std::string& name, CPart& part);

// The conversion so far: the last record, the tables, what is worth a warning. Parts are joined
// to it in order, and the plain loop goes on from it.
class CJoinedConversion {
  public:
    CJoinedConversion(std::string name, CByteSink& records, CValueTables& tables)
        : m_strName(std::move(name)), m_records(records), m_tables(tables) {}

    // Appends the part that comes next in the input. Throws the part's failure, or a full table's.
    void Join(CPart& part);
    // Converts what is left of the input, from `reader` (which starts at a group's start or at the
    // end), one group after another. Throws CFailure.
    void ConvertRest(CTagFile& reader);

    // Whether a tag other than "@" where a group should start ended the conversion.
    bool Stopped() const { return m_stop.m_bStopped; }
    const CStop& Stop() const { return m_stop; }
    std::uint64_t Records() const { return m_nRecords; }
    // The summary of the conversion, and its warnings appended to `warnings` in line order.
    CConvertSummary Finish(std::vector<CWarning>& warnings) const;

  private:
    class CPlainGroups;

    std::string m_strName;
    CByteSink& m_records;
    CValueTables& m_tables;
    CRecord m_record;  // the last record written
    std::uint64_t m_nLines = 0;
    std::uint64_t m_nRecords = 0;
    CTagNotes m_notes;
    CValueNotes m_values;
    CRecordNumbers m_numbers;
    CStop m_stop;
};

// The plain loop on its own: converts the whole input of `reader`, one group after another, with
// nothing read ahead. What the pipeline must give, records, tables, warnings and failure alike.
CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings);

// The failure of a conversion that converted no record from an input that is not empty: the
// input's first tag is not "@" (`stop`), or it holds nothing a reader hands out. Replacing the
// files with empty ones would wipe a catalogue for nothing.
CError NothingConverted(const std::string& inputName, const CStop& stop);

}  // namespace halvic
