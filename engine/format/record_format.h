// The layout of the seven output files: the record file's fields and their code bytes, and the
// names of the files. The writer, the strict reader of `halvic dump` and the join of parts all take
// the layout from here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace halvic {

// The letters of the six table fields; position i names table i and its file "qx<letter>.qxd".
inline constexpr std::string_view kTableLetters = "manics";
inline constexpr std::size_t kTableCount = 6;

// The record file, then the six table files: the seven outputs of a conversion.
inline constexpr const char* kRecordFileName = "qxase.qxd";
inline constexpr std::size_t kOutputCount = 1 + kTableCount;

// "qxm.qxd" ... "qxs.qxd": the file name of table i.
std::string TableFileName(std::size_t table);
// Output file i: the record file, then the six table files in table-letter order.
std::string OutputFileName(std::size_t i);

// A record is a run of fields, each a code byte and a value, then the identifier array and the
// end byte. A code byte holds the value's kind in bits 7-5 and the field's letter in bits 4-0.
// Zero values and empty texts are left out.
enum EValueKind : unsigned char {
    kByteKind = 0x00,  // one byte
    kWordKind = 0x20,  // two bytes, little-endian
    kLongKind = 0x40,  // four bytes, little-endian
    kTextKind = 0x60,  // bytes up to and including a zero byte
};

inline constexpr char kNumberLetter = '_';
inline constexpr char kTextLetter = 'l';
inline constexpr char kBValueLetter = 'b';
inline constexpr char kWeightLetter = 't';
inline constexpr char kEastingLetter = 'e';
inline constexpr char kNorthingLetter = 'n';

constexpr unsigned char FieldCode(char letter, EValueKind kind) {
    return static_cast<unsigned char>((static_cast<unsigned char>(letter) & 0x1F) + kind);
}

// The identifier array: its code, the count kTableCount, then one little-endian 16-bit identifier
// per table in table-letter order, 0 for none. Every record has one, right before its end byte.
inline constexpr unsigned char kIdArrayCode = 0xA4;
inline constexpr std::size_t kIdArrayBytes = 2 + 2 * kTableCount;
inline constexpr unsigned char kEndOfRecord = 0x00;
// Where a record's identifiers begin, counted back from the record's end.
inline constexpr std::size_t kIdsFromRecordEnd = 2 * kTableCount + 1;

}  // namespace halvic
