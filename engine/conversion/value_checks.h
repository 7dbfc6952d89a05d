// Whether a field's content is stored as it was written, and when it is not, the warning that says
// what is stored instead and how to write it. The predicates run on every field of the input: a few
// instructions each, no allocation. Only a content they refuse goes to its warning's builder, which
// decodes it as the record does; a builder returns "" when the value stored is the value meant
// after all (`12 - 2 - 14`, `SU-123456`), so a strict predicate never costs a false warning.
//
// Warnings are texts without the input's name and line, which the caller adds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/text/input_encoding.h"

namespace halvic {

inline bool IsDigitByte(char ch) {
    return ch >= '0' && ch <= '9';
}

// A square letter of a grid reference: an upper-case letter other than I.
inline bool IsGridLetter(char ch) {
    return ch >= 'A' && ch <= 'Z' && ch != 'I';
}

// A <g> content stored as written: empty (no grid reference), or two grid letters and six figures.
inline bool GridRefAsWritten(std::string_view content) {
    if (content.empty()) return true;
    if (content.size() != 8) return false;
    for (std::size_t i = 2; i < 8; ++i) {
        if (!IsDigitByte(content[i])) return false;
    }
    return IsGridLetter(content[0]) && IsGridLetter(content[1]);
}

// A <t> content stored as written: empty (0 lb), or hundredweights, quarters and pounds in digits
// with one kind of separator (- / or :), each part 0 to 255 so that none wraps at 8 bits.
inline bool WeightAsWritten(std::string_view content) {
    const std::size_t size = content.size();
    if (size == 0) return true;
    char separator = 0;
    std::size_t i = 0;
    for (int parts = 1;; ++parts) {
        unsigned value = 0;
        const std::size_t start = i;
        for (; i < size && IsDigitByte(content[i]); ++i) {
            value = value * 10 + static_cast<unsigned>(content[i] - '0');
            if (value > 255) return false;
        }
        if (i == start) return false;
        // Two parts are stored as hundredweights and pounds, which is not always what was meant.
        if (i == size) return parts == 3;
        if (parts == 3) return false;
        const char ch = content[i];
        if (ch != '-' && ch != '/' && ch != ':') return false;
        if (separator == 0) {
            separator = ch;
        } else if (ch != separator) {
            return false;
        }
        ++i;
    }
}

// Digits alone (or nothing, the value 0) whose value is at most `largest`.
inline bool DigitsUpTo(std::string_view content, std::uint32_t largest) {
    std::uint32_t value = 0;
    for (char ch : content) {
        if (!IsDigitByte(ch)) return false;
        value = value * 10 + static_cast<std::uint32_t>(ch - '0');
        if (value > largest) return false;
    }
    return true;
}

// An <@> content stored as written: digits alone, 0 to 65535 (a record number has 16 bits); an
// empty one is stored as 0, which is seldom meant.
inline bool RecordNumberAsWritten(std::string_view content) {
    return !content.empty() && DigitsUpTo(content, 65535);
}

// A <b> content stored as written: digits alone, 0 to 255 (the value has 8 bits).
inline bool ByteValueAsWritten(std::string_view content) {
    return DigitsUpTo(content, 255);
}

// A tag that holds a space, a tab or a line break: selecting no field, it is almost always a `<`
// written inside a content, which the reader takes for the start of a tag.
inline bool TagHoldsBlank(std::string_view tag) {
    for (char ch : tag) {
        if (static_cast<unsigned char>(ch) <= 0x20) return true;
    }
    return false;
}

// The warnings of contents stored otherwise than written, or "" when the value stored is the one
// meant after all. `content` is the content as the reader hands it out. A record number or b value
// that its predicate refuses always has a warning.
std::string GridRefWarning(std::string_view content);
std::string WeightWarning(std::string_view content);
// Whether those two are not "", told without building the warning: for the contents that are only
// counted.
bool GridRefWarns(std::string_view content);
bool WeightWarns(std::string_view content);
std::string RecordNumberWarning(std::string_view content);
std::string ByteValueWarning(std::string_view content);

// The tag meant by `tag`, a tag that selects no field, when it differs from one that does (or from
// "@") only in case, in blanks around it, or by one byte inserted, left out or replaced: "L" gives
// "l", "gg" "g", "@@" "@", "mx" "m" (a one-letter tag goes before the longer pieces of "manics").
// "" when there is no such tag, or more than one as near ("x", "lb"), or `tag` is long or a
// closing tag ("/l").
std::string SuggestTag(std::string_view tag);

// The warning of a tag that selects no field (`cut`: only its first bytes were kept). A tag that
// holds a blank and suggests no other is taken for a `<` inside a content: BlankTagWarning.
std::string UnknownTagWarning(std::string_view tag, bool cut);
std::string BlankTagWarning(std::string_view tag, bool cut);

// The warning of a record number that an earlier record, at `firstLine`, has too.
std::string RepeatedNumberWarning(std::uint16_t number, std::uint64_t firstLine);

// The kinds of warnings, each shown in full for its first kShownPerKind cases and then counted.
enum class EWarningKind : std::uint8_t {
    kGridRef,
    kWeight,
    kRecordNumber,
    kByteValue,
    kUnknownTag,  // counts the uses of tags beyond the distinct ones listed
    kRepeatedNumber,
    // A decoded input's characters stored as "?", by CDecodingFault::EKind.
    kUnmappable,
    kInvalidUtf8,
    kOddLength,
    kLoneSurrogate,
};
inline constexpr std::size_t kWarningKinds = 10;

inline constexpr std::uint64_t kShownPerKind = 10;

// The last warning of a kind: `count` more cases than were shown, the first of them on the line
// the caller gives it.
std::string MoreWarnings(EWarningKind kind, std::uint64_t count);

// The kind of warning of what a decoder stored as "?", and the warning.
EWarningKind DecodingWarningKind(const CDecodingFault& fault);
std::string DecodingWarning(const CDecodingFault& fault);

// The warning of an input stored as it is that holds UTF-8 beyond ASCII, the first such `text`.
std::string Utf8LookAlikeWarning(std::string_view text);

}  // namespace halvic
