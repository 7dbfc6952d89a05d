#include "cli/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvic::cli {
namespace {

// Every character of `text` in the encoding, in UTF-8, with "?" for a byte that is not valid.
std::string Decode(std::string_view text, EEncoding encoding) {
    std::string out;
    for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
        std::int32_t code = DecodeAt(text, pos, encoding, length);
        if (code == kInvalidByte) {
            out += "?";
        } else {
            AppendUtf8(out, static_cast<std::uint32_t>(code));
        }
    }
    return out;
}

TEST(TextEncodingTest, ReadsTheBytesOfEachEncoding) {
    const struct {
        std::string bytes;
        EEncoding encoding;
        std::string expected;
    } kCases[] = {
        {"caf\xE9", EEncoding::kLatin1, "caf\xC3\xA9"},
        {"\x80 \x81 \x9F \xFF", EEncoding::kLatin1, "\xC2\x80 \xC2\x81 \xC2\x9F \xC3\xBF"},
        {"\x80uro \x93q\x94", EEncoding::kCp1252, "\xE2\x82\xACuro \xE2\x80\x9Cq\xE2\x80\x9D"},
        {"\x81\x8D\x8F\x90\x9D", EEncoding::kCp1252, "?????"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", EEncoding::kUtf8,
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"caf\xE9", EEncoding::kUtf8, "caf?"},
        {"\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82", EEncoding::kUtf8, "?? ??? ???? ??"},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(Decode(c.bytes, c.encoding), c.expected) << c.bytes;
}

TEST(TextEncodingTest, KnowsItsNames) {
    EEncoding encoding = EEncoding::kLatin1;
    EXPECT_TRUE(ParseEncoding("utf-8", encoding));
    EXPECT_EQ(encoding, EEncoding::kUtf8);
    EXPECT_TRUE(ParseEncoding("cp1252", encoding));
    EXPECT_EQ(encoding, EEncoding::kCp1252);
    EXPECT_FALSE(ParseEncoding("ebcdic", encoding));
}

}  // namespace
}  // namespace halvic::cli
