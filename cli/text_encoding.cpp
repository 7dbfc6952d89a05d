#include "cli/text_encoding.h"

namespace halvic::cli {

namespace {

// Windows-1252 from 0x80 to 0x9F; 0 where the code page defines no character.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::int32_t DecodeUtf8(std::string_view text, std::size_t pos, std::size_t& length) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    unsigned char first = byte(0);
    length = 1;
    if (first < 0x80) return first;
    std::size_t size = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 0;
    if (size == 0 || first > 0xF4 || pos + size > text.size()) return kInvalidByte;
    std::uint32_t code = first & (0x7F >> size);
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return kInvalidByte;
        code = code << 6 | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's end are not UTF-8.
    static const std::uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[size] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return kInvalidByte;
    }
    length = size;
    return static_cast<std::int32_t>(code);
}

}  // namespace

bool ParseEncoding(std::string_view name, EEncoding& encoding) {
    if (name == "latin1") {
        encoding = EEncoding::kLatin1;
    } else if (name == "cp1252") {
        encoding = EEncoding::kCp1252;
    } else if (name == "utf-8" || name == "utf8") {
        encoding = EEncoding::kUtf8;
    } else {
        return false;
    }
    return true;
}

std::int32_t DecodeAt(std::string_view text, std::size_t pos, EEncoding encoding,
                      std::size_t& length) {
    length = 1;
    auto byte = static_cast<unsigned char>(text[pos]);
    switch (encoding) {
        case EEncoding::kLatin1:
            return byte;
        case EEncoding::kCp1252:
            if (byte < 0x80 || byte >= 0xA0) return byte;
            return kCp1252High[byte - 0x80] != 0 ? kCp1252High[byte - 0x80] : kInvalidByte;
        case EEncoding::kUtf8:
            return DecodeUtf8(text, pos, length);
    }
    return kInvalidByte;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | codePoint >> 6));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | codePoint >> 12));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | codePoint >> 18));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

}  // namespace halvic::cli
