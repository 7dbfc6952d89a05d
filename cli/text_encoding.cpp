#include "cli/text_encoding.h"

namespace halvic::cli {

namespace {

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
    EInputEncoding named;
    if (!ParseInputEncoding(name, named)) return false;
    switch (named) {
        case EInputEncoding::kLatin1:
            encoding = EEncoding::kLatin1;
            return true;
        case EInputEncoding::kCp1252:
            encoding = EEncoding::kCp1252;
            return true;
        case EInputEncoding::kUtf8:
            encoding = EEncoding::kUtf8;
            return true;
        case EInputEncoding::kUtf16LE:
            encoding = EEncoding::kUtf16;
            return true;
        default:
            return false;
    }
}

std::int32_t DecodeAt(std::string_view text, std::size_t pos, EEncoding encoding,
                      std::size_t& length) {
    length = 1;
    auto byte = static_cast<unsigned char>(text[pos]);
    switch (encoding) {
        case EEncoding::kLatin1:
            return byte;
        case EEncoding::kCp1252: {
            // The five bytes the code page leaves undefined read as their C1 controls.
            std::uint32_t code = FromWindows1252(byte);
            return code >= 0x80 && code < 0xA0 ? kInvalidByte : static_cast<std::int32_t>(code);
        }
        case EEncoding::kUtf8:
            return DecodeUtf8(text, pos, length);
        case EEncoding::kUtf16:
            // Texts are never read as UTF-16: it is only written (--format tagged).
            return byte;
    }
    return kInvalidByte;
}

}  // namespace halvic::cli
