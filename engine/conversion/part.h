// A part of the input converted on its own, as if it began the input, on any thread: its records
// are encoded at once where they set every field within the part, and everything that depends on
// the input before the part (table identifiers, fields kept from the record before, repeated
// record numbers, lines) is left for the join.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/conversion/groups.h"
#include "engine/conversion/notes.h"
#include "engine/format/record.h"
#include "engine/io/byte_stream.h"
#include "engine/text/input_encoding.h"

namespace halvic {

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
    unsigned m_nSet;  // the carried fields set within the part (CarriedBit)
};

// Whether input stored as it is holds UTF-8 beyond ASCII: whether all its bytes are valid UTF-8,
// and the first text that holds a character of two or more bytes.
struct CUtf8Seen {
    bool m_bInvalid = false;
    bool m_bFound = false;
    std::string m_strText;
    std::uint64_t m_nLine = 0;  // of the character; in a part, counted from its start

    // Takes what was seen in the bytes that follow (`next`, whose lines count on from
    // `lineOffset`).
    void Join(const CUtf8Seen& next, std::uint64_t lineOffset);
    // Notes the first multibyte character, at `at` of `bytes`, which follow `linesBefore` lines.
    void Found(std::string_view bytes, std::size_t at, std::uint64_t linesBefore);
};

// Looks for UTF-8 in the bytes of a whole part.
void ScanForUtf8(std::string_view bytes, CUtf8Seen& seen);

// A part converted on its own: lines count from its start, and its records hold no identifiers.
struct CPart {
    // Offsets within a part, and the offsets of its records' identifiers, take 32 bits; a record
    // takes at most 16 bytes a byte of input.
    static constexpr std::size_t kLargest = std::size_t{1} << 27;

    std::string_view m_bytes;  // of the input
    COwnedBytes m_records;     // the records that set every field but the tables within the part
    std::vector<std::uint32_t> m_idOffsets;   // where the identifiers of each of those begin
    std::vector<CPendingRecord> m_pending;    // the records before them
    std::vector<CTableText> m_texts;          // in order
    std::vector<std::uint32_t> m_textCounts;  // the table texts of each record, in order
    std::string m_strKept;                    // contents that are not the input's bytes
    CGroupNotes m_notes;
    // The number and line of each record, in order: whether a number was seen before is known
    // only when the part is joined.
    std::vector<std::pair<std::uint16_t, std::uint32_t>> m_numbers;
    CRecord m_last;  // the part's last record
    std::uint64_t m_nRecords = 0;
    std::uint64_t m_nLines = 0;
    CStop m_stop;
    CUtf8Seen m_utf8;              // when the input is stored as it is
    std::exception_ptr m_failure;  // of the conversion of the part, or of reading it

    // Made ready for another part, keeping the memory of this one.
    void Clear();
};

// Converts `bytes` (at most CPart::kLargest of them) into `part`, as if they began the input.
// `name` names the input in failures.
void ConvertPart(std::string_view bytes, const std::string& name, CPart& part);

}  // namespace halvic
