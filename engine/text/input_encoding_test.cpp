#include "engine/text/input_encoding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace halvic {
namespace {

// A fault as a test reads it: "line 2: invalid C3 28", "line 1: unmappable U+0141".
std::string Shown(const CDecodingFault& fault) {
    static const char* const kKinds[] = {"unmappable", "invalid", "odd", "lone"};
    std::string shown = "line " + std::to_string(fault.m_nLine) + ": " + kKinds[fault.m_eKind];
    char hex[16];
    if (fault.m_eKind == CDecodingFault::kUnmappable ||
        fault.m_eKind == CDecodingFault::kLoneSurrogate) {
        std::snprintf(hex, sizeof hex, " U+%04X", static_cast<unsigned>(fault.m_nCodePoint));
        shown += hex;
    } else {
        for (std::uint8_t i = 0; i < fault.m_nBytes; ++i) {
            std::snprintf(hex, sizeof hex, " %02X", fault.m_bytes[i]);
            shown += hex;
        }
    }
    return shown;
}

// Decodes `input` fed in two blocks cut at `cut`.
std::string DecodeCut(EInputEncoding encoding, const std::string& input, std::size_t cut,
                      std::vector<std::string>& faults) {
    CInputDecoder decoder(encoding,
                          [&](const CDecodingFault& fault) { faults.push_back(Shown(fault)); });
    std::string out(input.size() + 3 * CInputDecoder::kSlack, '\0');
    auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    std::size_t n = decoder.Decode(bytes, cut, o);
    n += decoder.Decode(bytes + cut, input.size() - cut, o + n);
    n += decoder.Finish(o + n);
    out.resize(n);
    return out;
}

TEST(InputDecoderTest, DecodesIntoWindows1252WhereverTheInputIsCut) {
    using E = EInputEncoding;
    const struct {
        E m_eEncoding;
        std::string m_strInput;
        std::string m_strExpected;
        std::vector<std::string> m_faults;
    } kCases[] = {
        {E::kUtf8,
         "<l>Caf\xC3\xA9 \xE2\x82\xAC"
         "5\n",
         "<l>Caf\xE9 \x80"
         "5\n",
         {}},
        {E::kUtf8, "abcdefghijklmnop\xC5\xA0q", "abcdefghijklmnop\x8Aq", {}},
        {E::kUtf8, "a\n\xC5\x81odz", "a\n?odz", {"line 2: unmappable U+0141"}},
        {E::kUtf8, "\xF0\x9F\x98\x80", "?", {"line 1: unmappable U+1F600"}},
        {E::kUtf8, "\xC2\x81\xC2\x80", "\x81?", {"line 1: unmappable U+0080"}},
        // A maximal part of a sequence that breaks off is one "?"; the breaking byte starts anew.
        {E::kUtf8, "x\n\n\xE2\x82(", "x\n\n?(", {"line 3: invalid E2 82"}},
        {E::kUtf8, "\xC3\xC3\xA9", "?\xE9", {"line 1: invalid C3"}},
        {E::kUtf8, "\xC0\xAF", "??", {"line 1: invalid C0", "line 1: invalid AF"}},
        {E::kUtf8,
         "\xED\xA0\x80",
         "???",
         {"line 1: invalid ED", "line 1: invalid A0", "line 1: invalid 80"}},
        {E::kUtf8,
         "\xF4\x90\x80\x80",
         "????",
         {"line 1: invalid F4", "line 1: invalid 90", "line 1: invalid 80", "line 1: invalid 80"}},
        {E::kUtf8, "ab\xE2\x82", "ab?", {"line 1: invalid E2 82"}},
        {E::kUtf8, "\xFF", "?", {"line 1: invalid FF"}},
        {E::kUtf16LE,
         std::string("<\0@\0>\0"
                     "1\0\r\0\n\0\xE9\0\xAC\x20",
                     16),
         "<@>1\r\n\xE9\x80",
         {}},
        {E::kUtf16BE,
         std::string("\0<\0\xE9\x01\x41\0\n\0a", 10),
         "<\xE9?\na",
         {"line 1: unmappable U+0141"}},
        {E::kUtf16LE, std::string("\x3D\xD8\x00\xDE", 4), "?", {"line 1: unmappable U+1F600"}},
        {E::kUtf16LE,
         std::string("\n\0\x3D\xD8"
                     "a\0",
                     6),
         "\n?a",
         {"line 2: lone U+D83D"}},
        {E::kUtf16LE, std::string("\x00\xDE\n\0", 4), "?\n", {"line 1: lone U+DE00"}},
        {E::kUtf16LE, std::string("a\0\x3D\xD8", 4), "a?", {"line 1: lone U+D83D"}},
        {E::kUtf16LE, std::string("a\0\n\0b", 5), "a\n?", {"line 2: odd 62"}},
        {E::kLatin1, "\xE9\x80\x81", "\xE9?\x81", {"line 1: unmappable U+0080"}},
        {E::kCp1252, "\x80\x81\xFF", "\x80\x81\xFF", {}},
    };
    for (const auto& c : kCases) {
        for (std::size_t cut = 0; cut <= c.m_strInput.size(); ++cut) {
            SCOPED_TRACE(std::string(InputEncodingName(c.m_eEncoding)) + " " + c.m_strInput +
                         " cut at " + std::to_string(cut));
            std::vector<std::string> faults;
            EXPECT_EQ(DecodeCut(c.m_eEncoding, c.m_strInput, cut, faults), c.m_strExpected);
            EXPECT_EQ(faults, c.m_faults);
        }
    }
}

TEST(InputDecoderTest, AFaultAfterLongRunsOfAsciiHasTheInputsLine) {
    std::string text;
    for (int i = 0; i < 30; ++i)
        text += i % 2 ? "a line of text\n" : "\n\n";
    const struct {
        EInputEncoding m_eEncoding;
        std::uint32_t m_nLacking;
    } kCases[] = {{EInputEncoding::kUtf8, 0x141},
                  {EInputEncoding::kUtf16LE, 0x141},
                  {EInputEncoding::kUtf16BE, 0x141},
                  {EInputEncoding::kLatin1, 0x80}};
    for (const auto& c : kCases) {
        std::string input;
        for (char ch : text + "#") {
            std::uint32_t code = ch == '#' ? c.m_nLacking : static_cast<unsigned char>(ch);
            if (c.m_eEncoding == EInputEncoding::kUtf8) {
                AppendUtf8(input, code);
            } else if (c.m_eEncoding == EInputEncoding::kLatin1) {
                input.push_back(static_cast<char>(code));
            } else {
                AppendUtf16(input, code, c.m_eEncoding == EInputEncoding::kUtf16BE);
            }
        }
        for (std::size_t cut = 0; cut <= input.size(); cut += 3) {
            std::vector<std::string> faults;
            EXPECT_EQ(DecodeCut(c.m_eEncoding, input, cut, faults), text + "?");
            ASSERT_EQ(faults.size(), 1u);
            EXPECT_EQ(faults[0].substr(0, 8), "line 46:") << InputEncodingName(c.m_eEncoding);
        }
    }
}

TEST(InputDecoderTest, EveryWindows1252ByteGoesThroughUtf8AndUtf16Unchanged) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(static_cast<char>(byte));
    std::string utf8;
    std::string utf16;
    for (char ch : all) {
        std::uint32_t code = FromWindows1252(static_cast<unsigned char>(ch));
        EXPECT_EQ(ToWindows1252(code), static_cast<unsigned char>(ch));
        AppendUtf8(utf8, code);
        AppendUtf16(utf16, code, true);
    }
    std::vector<std::string> faults;
    EXPECT_EQ(DecodeCut(EInputEncoding::kUtf8, utf8, utf8.size() / 2, faults), all);
    EXPECT_EQ(DecodeCut(EInputEncoding::kUtf16BE, utf16, 301, faults), all);
    EXPECT_TRUE(faults.empty());
}

TEST(InputDecoderTest, ADecodingSourceHandsOutTheDecodedBytesAndCountsWhatItRead) {
    std::string input;
    for (int i = 0; i < 40000; ++i)
        input += "\xC3\xA9\n";
    for (std::size_t capacity : {std::size_t{3}, std::size_t{1} << 16}) {
        for (bool lends : {false, true}) {
            CMemorySource memory(input, 7777, lends);
            int faults = 0;
            CDecodingSource source(memory, EInputEncoding::kUtf8,
                                   [&](const CDecodingFault&) { ++faults; });
            std::string out;
            std::vector<unsigned char> buffer(capacity);
            while (std::size_t n = source.Read(buffer.data(), capacity))
                out.append(reinterpret_cast<char*>(buffer.data()), n);
            std::string want;
            for (int i = 0; i < 40000; ++i)
                want += "\xE9\n";
            EXPECT_EQ(out, want);
            EXPECT_EQ(source.BytesRead(), input.size());
            EXPECT_EQ(faults, 0);
        }
    }
}

TEST(InputEncodingTest, NamesAndByteOrderMarks) {
    using E = EInputEncoding;
    const struct {
        const char* m_szName;
        bool m_bKnown;
        E m_eEncoding;
    } kNames[] = {
        {"bytes", true, E::kBytes},
        {"UTF-8", true, E::kUtf8},
        {"utf8", true, E::kUtf8},
        {"Utf-16", true, E::kUtf16LE},
        {"utf-16be", true, E::kUtf16BE},
        {"CP1252", true, E::kCp1252},
        {"windows-1252", true, E::kCp1252},
        {"ISO-8859-1", true, E::kLatin1},
        {"latin1", true, E::kLatin1},
        {"utf-32", false, E::kBytes},
        {"", false, E::kBytes},
    };
    for (const auto& c : kNames) {
        E encoding = E::kBytes;
        EXPECT_EQ(ParseInputEncoding(c.m_szName, encoding), c.m_bKnown) << c.m_szName;
        EXPECT_EQ(encoding, c.m_eEncoding) << c.m_szName;
    }
    const struct {
        E m_eDeclared;
        std::string m_strStart;
        E m_eRead;
        std::size_t m_nMark;
    } kStarts[] = {
        {E::kAsMarked, "<@>", E::kBytes, 0},         {E::kAsMarked, "\xEF\xBB\xBF<@>", E::kUtf8, 3},
        {E::kAsMarked, "\xFF\xFE<", E::kUtf16LE, 2}, {E::kAsMarked, "\xFE\xFF", E::kUtf16BE, 2},
        {E::kAsMarked, "\xEF\xBB", E::kBytes, 0},    {E::kUtf16LE, "\xFE\xFF\0<", E::kUtf16BE, 2},
        {E::kUtf16BE, "\0<", E::kUtf16BE, 0},        {E::kUtf8, "\xEF\xBB\xBF", E::kUtf8, 3},
        {E::kBytes, "\xEF\xBB\xBF", E::kBytes, 0},   {E::kCp1252, "\xFF\xFE", E::kCp1252, 0},
    };
    for (const auto& c : kStarts) {
        std::size_t mark = 99;
        EXPECT_EQ(ChooseEncoding(c.m_eDeclared, c.m_strStart, mark), c.m_eRead) << c.m_strStart;
        EXPECT_EQ(mark, c.m_nMark) << c.m_strStart;
    }
}

TEST(Utf8ScanTest, FindsTheFirstMultibyteSequenceOfInputThatIsAllUtf8) {
    const struct {
        std::string m_strInput;
        bool m_bInvalid;
        std::size_t m_nFound;  // SIZE_MAX: none
    } kCases[] = {
        {"<@>1<l>plain ASCII only, long enough for words", false, SIZE_MAX},
        {"<@>1<l>Caf\xC3\xA9 and more", false, 10},
        {"<@>1<l>Caf\xE9 is Windows-1252", true, SIZE_MAX},
        {"<@>1<l>\xC3\xA9 then \xE9", true, 7},
        {"<@>1<l>cut \xE2\x82", true, 11},
        {"<@>1<l>\xF0\x9F\x98\x80", false, 7},
        {"overlong \xC0\xAF", true, SIZE_MAX},
        {std::string(600, 'a') + "\xC3\xA9", false, 600},
        {std::string(600, 'a') + "\xE9", true, SIZE_MAX},
    };
    for (const auto& c : kCases) {
        for (std::size_t cut = 0; cut <= c.m_strInput.size(); ++cut) {
            SCOPED_TRACE(c.m_strInput + " cut at " + std::to_string(cut));
            CUtf8Scan scan;
            std::string_view input = c.m_strInput;
            std::size_t first = scan.Scan(input.substr(0, cut));
            std::size_t second = scan.Scan(input.substr(cut));
            scan.Finish();
            std::size_t found = first != SIZE_MAX    ? first
                                : second == SIZE_MAX ? second
                                                     : cut + second;
            EXPECT_EQ(scan.Invalid(), c.m_bInvalid);
            if (!c.m_bInvalid) {
                EXPECT_EQ(found, c.m_nFound);
                EXPECT_EQ(scan.FoundMultibyte(), c.m_nFound != SIZE_MAX);
            }
        }
    }
}

TEST(Utf8ScanTest, ContentAroundShowsTheTextHoldingAByte) {
    const struct {
        std::string m_strBytes;
        std::size_t m_nAt;
        std::string m_strShown;
    } kCases[] = {
        {"<@>1\r\n<l>Caf\xC3\xA9\r\n<m>Oak", 13, "Caf\xC3\xA9"},
        {"<l> two\r\n  lines \xC3\xA9 <", 17, "two lines \xC3\xA9"},
        {"no tags \xC3\xA9", 8, "no tags \xC3\xA9"},
        {"<l>" + std::string(50, 'a') + "\xC3\xA9" + std::string(50, 'b'), 53,
         "..." + std::string(30, 'a') + "\xC3\xA9" + std::string(38, 'b') + "..."},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ContentAround(c.m_strBytes, c.m_nAt), c.m_strShown) << c.m_strBytes;
}

}  // namespace
}  // namespace halvic
