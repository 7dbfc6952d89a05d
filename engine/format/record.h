// The record of the record file "qxase.qxd" and its field encoding: each field is a code byte
// (kind in bits 7-5, field letter in bits 4-0) and a value; zero and empty fields are left out.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/format/record_format.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"

namespace halvic {

// Field encoders: each puts a field at `out` (at most kLongFieldBytes) and returns the end of what
// it put; nothing for a zero value.
unsigned char* PutByteField(unsigned char* out, char letter, std::uint8_t value);
// 1-255 take the one-byte form.
unsigned char* PutWordField(unsigned char* out, char letter, std::uint16_t value);
// Below 65,536 (every negative value too) the low 16 bits take the word form.
unsigned char* PutLongField(unsigned char* out, char letter, std::int32_t value);
inline constexpr std::size_t kLongFieldBytes = 5;

// The same into a sink, and a text field: nothing for an empty text.
void WriteByteField(CByteSink& sink, char letter, std::uint8_t value);
void WriteWordField(CByteSink& sink, char letter, std::uint16_t value);
void WriteLongField(CByteSink& sink, char letter, std::int32_t value);
void WriteTextField(CByteSink& sink, char letter, std::string_view text);
// The text's bytes and a zero byte: also the element of the table files.
void WriteTerminatedText(CByteSink& sink, std::string_view text);

// What a tag of a group selects.
struct CFieldChoice {
    enum EKind : std::uint8_t { kText, kBValue, kGridRef, kWeight, kTable, kNone };
    EKind m_eKind = kNone;
    std::uint8_t m_nTable = 0;  // for kTable: the table's index in kTableLetters
};

// What each one-letter tag selects.
extern const std::array<CFieldChoice, 256> kOneLetterChoices;
// What a longer tag selects.
CFieldChoice ChooseLongerField(std::string_view tag);

// The field of `tag` (neither "@" nor empty): "l", "b", "g", "t", or any piece of "manics", which
// selects the table of its first letter ("ic" is table i); kNone for anything else. Inline: the
// tags of almost every pair are one letter, one look-up.
inline CFieldChoice ChooseField(std::string_view tag) {
    if (tag.size() == 1) return kOneLetterChoices[static_cast<unsigned char>(tag[0])];
    return ChooseLongerField(tag);
}

// Table `table` has no room for the new text of the tag on `line`.
CFailure TableFullFailure(const std::string& inputName, std::uint64_t line, std::size_t table);

struct CRecord {
    std::uint16_t m_nNumber = 0;
    std::string m_strText;
    std::uint8_t m_nBValue = 0;
    std::uint16_t m_nWeight = 0;                             // pounds
    std::uint16_t m_nEasting = 0;                            // 100 m units
    std::uint16_t m_nNorthing = 0;                           // 100 m units
    std::array<std::uint16_t, kTableCount> m_tableIds = {};  // by table letter; 0 = none

    // Appends the record's bytes.
    void Write(CByteSink& sink) const;
};

// Appends the bytes of `record` with `text` in place of its own text.
void WriteRecord(CByteSink& sink, const CRecord& record, std::string_view text);

// The most bytes a record takes besides its text.
inline constexpr std::size_t kRecordBytesBesidesText =
    kLongFieldBytes + 1 + 1 + 2 + 3 * 3 + kIdArrayBytes + 1;
// Puts the identifier values of a record's identifier array (kIdsFromRecordEnd - 1 bytes) at
// `out`, little-endian, in table-letter order.
inline unsigned char* PutTableIds(unsigned char* out,
                                  const std::array<std::uint16_t, kTableCount>& ids) {
    for (std::uint16_t id : ids) {
        *out++ = static_cast<unsigned char>(id & 0xFF);
        *out++ = static_cast<unsigned char>(id >> 8);
    }
    return out;
}
// Puts the bytes of `record` with `text` in place of its own text at `out`, which has room for
// kRecordBytesBesidesText + text.size() bytes; returns the end of what was put.
unsigned char* PutRecord(unsigned char* out, const CRecord& record, std::string_view text);
// The same in two steps, for a caller that puts a text in place itself: the fields before the text
// (with the text's code when it has one), then the fields from the text's end on.
unsigned char* PutRecordHead(unsigned char* out, const CRecord& record, bool hasText);
unsigned char* PutRecordTail(unsigned char* out, const CRecord& record, bool hasText);

inline void CRecord::Write(CByteSink& sink) const {
    WriteRecord(sink, *this, m_strText);
}

}  // namespace halvic
