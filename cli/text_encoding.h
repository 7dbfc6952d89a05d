// How the bytes of a text are read for a dump: texts are 8-bit bytes without an encoding of
// their own, written by whatever made the tagged text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/text/input_encoding.h"

namespace halvic::cli {

enum class EEncoding {
    kLatin1,  // ISO 8859-1: every byte is the character of the same number
    kCp1252,  // the Windows code page: 0x80 is the euro sign; five bytes mean nothing
    kUtf8,
    kUtf16,  // only written, by --format tagged
};

// "latin1", "cp1252", "utf-8" or "utf-16", case-insensitive, with the aliases convert --from
// takes.
bool ParseEncoding(std::string_view name, EEncoding& encoding);

// What DecodeAt gives for a byte that is not valid in the encoding.
inline constexpr std::int32_t kInvalidByte = -1;

// The character that begins at `pos` of `text` and the number of bytes it takes (`length`), or
// kInvalidByte and 1 for a byte that is not valid there.
std::int32_t DecodeAt(std::string_view text, std::size_t pos, EEncoding encoding,
                      std::size_t& length);

using halvic::AppendUtf8;

}  // namespace halvic::cli
