// End-to-end tests of input in UTF-8 and UTF-16, against iconv: every encoding of a catalogue must
// give the seven files, byte for byte, that its Windows-1252 form gives stored as bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CFileList;
using testing::CProcessOptions;
using testing::CProcessResult;
using testing::ListFiles;
using testing::RunProcess;
using testing::WriteFile;

// `text`, UTF-8, in the encoding `to` as iconv writes it.
std::string Iconv(const std::string& text, const char* to) {
    CProcessOptions options;
    options.m_strStdin = text;
    CProcessResult result = RunProcess({"iconv", "-f", "UTF-8", "-t", to}, options);
    EXPECT_EQ(result.m_nExitCode, 0) << to << ": " << result.m_strErr;
    return result.m_strOut;
}

// A catalogue of `records` records whose texts hold accents, the euro sign and typographic
// quotes at every offset, so that records are cut at each boundary of parts and of blocks read.
std::string LargeCatalogue(int records) {
    static const char* const kWords[] = {
        "Caf\xC3\xA9",  "cr\xC3\xA8me", "\xE2\x82\xAC", "\xE2\x80\x9Cquoted\xE2\x80\x9D",
        "na\xC3\xAFve", "\xC3\x98re",   "plain"};
    std::string text;
    for (int i = 0; i < records; ++i) {
        text += "<@>" + std::to_string(i) + "\r\n<l>";
        for (int w = 0; w < 3 + i % 11; ++w) {
            text += kWords[(i + w) % 7];
            text += ' ';
        }
        text += "\r\n<m>Ch\xC3\xAAne " + std::to_string(i % 300) + "\r\n<t>2-1-7\r\n";
    }
    return text;
}

class EncodingTest : public ::testing::Test {
  protected:
    // Converts `input` written as data.txt (or, with "-", given on standard input) into the
    // directory `out`: its files, and what halvic said.
    CFileList Convert(const std::string& input, std::vector<std::string> args,
                      const std::string& out, std::string& err, bool stdinInput = false) {
        CProcessOptions options;
        options.m_strWorkDir = m_dir.string();
        if (stdinInput) {
            options.m_strStdin = input;
        } else {
            WriteFile(m_dir / "data.txt", input);
        }
        fs::create_directories(m_dir / out);
        args.insert(args.begin(),
                    {HALVIC_BIN, "convert", stdinInput ? "-" : "data.txt", "-o", out});
        CProcessResult result = RunProcess(args, options);
        err = result.m_strErr;
        return result.m_nExitCode == 0 ? ListFiles(m_dir / out) : CFileList();
    }

    testing::CScratchDir m_scratch{"halvic-encoding"};
    const fs::path m_dir = m_scratch.Path();
};

TEST_F(EncodingTest, EveryEncodingOfACatalogueGivesTheFilesOfItsWindows1252Form) {
    const struct {
        const char* m_szName;
        std::string m_strText;    // UTF-8
        std::string m_strStored;  // what is stored, in UTF-8: the same but for "?"
    } kCatalogues[] = {
        {"accents, LF",
         "<@>1\n<l>Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
         "e\n<m>Ch\xC3\xAAne\n"
         "<a>Saint-\xC3\x89tienne\n<@>2\n<l>\xC3\x96lgem\xC3\xA4lde, 5 \xE2\x82\xAC\n",
         ""},
        {"Windows-1252 beyond Latin-1, CR LF",
         "<@>1\r\n<l>\xE2\x80\x9CQuoted\xE2\x80\x9D \xE2\x80\x93 dash\xE2\x80\xA6 \xC5\xA0\xC5\xBD"
         "\xC5\xA1\xC5\xBE\xC5\xB8\r\n<m>\xC5\x92uvre\r\n<@>2\r\n<g>SU123456\r\n",
         ""},
        {"a character Windows-1252 lacks",
         "<@>1\n<l>\xC5\x81\xC3\xB3"
         "d\xC5\xBA\n<m>x\n",
         "<@>1\n<l>?\xC3\xB3"
         "d?\n<m>x\n"},
        {"ASCII only", "<@>1\r\n<l>plain\r\n", ""},
        {"large", LargeCatalogue(60000), ""},
    };
    for (const auto& c : kCatalogues) {
        SCOPED_TRACE(c.m_szName);
        std::string err;
        const std::string stored = c.m_strStored.empty() ? c.m_strText : c.m_strStored;
        CFileList expected = Convert(Iconv(stored, "CP1252"), {"--from", "bytes"}, "expected", err);
        ASSERT_FALSE(expected.empty()) << err;
        const std::string le = Iconv(c.m_strText, "UTF-16LE");
        const struct {
            const char* m_szForm;
            std::string m_strInput;
            std::vector<std::string> m_args;
            bool m_bStdin;
        } kForms[] = {
            {"UTF-8", c.m_strText, {"--from", "utf-8"}, false},
            {"UTF-8 with BOM", "\xEF\xBB\xBF" + c.m_strText, {}, false},
            {"UTF-8 with BOM, piped", "\xEF\xBB\xBF" + c.m_strText, {}, true},
            {"UTF-16LE with BOM", "\xFF\xFE" + le, {}, false},
            {"UTF-16BE with BOM", "\xFE\xFF" + Iconv(c.m_strText, "UTF-16BE"), {}, false},
            {"UTF-16LE with BOM, piped", "\xFF\xFE" + le, {}, true},
            {"UTF-16LE without BOM", le, {"--from", "UTF-16"}, false},
        };
        for (const auto& form : kForms) {
            EXPECT_EQ(Convert(form.m_strInput, form.m_args, "out", err, form.m_bStdin), expected)
                << form.m_szForm << "\n"
                << err;
            // Only a character Windows-1252 lacks is warned of.
            EXPECT_EQ(err.empty(), c.m_strStored.empty()) << form.m_szForm << "\n" << err;
        }
    }
}

TEST_F(EncodingTest, WhatCannotBeStoredAsWrittenIsWarnedOfWithTheInputsLine) {
    const std::string kLacks =
        "\" is stored as \"?\": Windows-1252, the files' text encoding, has "
        "no such character\n";
    std::string twelve;
    for (int i = 1; i <= 12; ++i)
        twelve += "<@>" + std::to_string(i) + "\n<l>\xC5\x81\n";
    const struct {
        const char* m_szName;
        std::string m_strInput;
        std::vector<std::string> m_args;
        std::string m_strStored;  // the Windows-1252 bytes that give the same files
        std::string m_strErr;
    } kCases[] = {
        {"unmappable",
         "\xEF\xBB\xBF<@>1\r\n<l>\xC5\x81\xC3\xB3"
         "d\xC5\xBA\r\n",
         {},
         "<@>1\r\n<l>?\xF3"
         "d?\r\n",
         "halvic: warning: data.txt:2: U+0141 \xC5\x81 is stored as \"?\": Windows-1252, the "
         "files' text encoding, has no such character\n"
         "halvic: warning: data.txt:2: U+017A \xC5\xBA is stored as \"?\": Windows-1252, the "
         "files' text encoding, has no such character\n"},
        {"looks like UTF-8",
         "<@>1\r\n<m>Oak\r\n<l>Caf\xC3\xA9\r\n",
         {},
         "<@>1\r\n<m>Oak\r\n<l>Caf\xC3\xA9\r\n",
         "halvic: warning: data.txt:3: \"Caf\xC3\xA9\" looks like UTF-8: its bytes are stored as "
         "they are, so a program reading Windows-1252 shows \"Caf\xC3\x83\xC2\xA9\"; convert with "
         "--from utf-8 (or save the file as UTF-8 with BOM) to store \"Caf\xC3\xA9\"\n"},
        {"looks like UTF-8, with a character Windows-1252 lacks",
         "<@>1\n<l>\xC5\x81\xC3\xB3"
         "d\xC5\xBA\n",
         {},
         "<@>1\n<l>\xC5\x81\xC3\xB3"
         "d\xC5\xBA\n",
         "halvic: warning: data.txt:2: \"\xC5\x81\xC3\xB3"
         "d\xC5\xBA\" looks like UTF-8: its "
         "bytes are stored as they are, so a program reading Windows-1252 shows "
         "\"\xC3\x85\\x81\xC3\x83\xC2\xB3"
         "d\xC3\x85\xC2\xBA\"; convert with --from utf-8 "
         "(or save the file as UTF-8 with BOM) to store \"?\xC3\xB3"
         "d?\"\n"},
        {"Windows-1252 with a UTF-8 look-alike",
         "<@>1\n<l>Caf\xC3\xA9\n<@>2\n<l>Caf\xE9\n",
         {},
         "<@>1\n<l>Caf\xC3\xA9\n<@>2\n<l>Caf\xE9\n",
         ""},
        {"declared Windows-1252",
         "<@>1\n<l>Caf\xC3\xA9\n",
         {"--from", "cp1252"},
         "<@>1\n<l>Caf\xC3\xA9\n",
         ""},
        {"invalid UTF-8",
         "<@>1\n<l>a\xE9z\n<m>\xE2\x82x\n",
         {"--from", "utf-8"},
         "<@>1\n<l>a?z\n<m>?x\n",
         "halvic: warning: data.txt:2: byte E9 is not valid UTF-8 and is stored as \"?\"\n"
         "halvic: warning: data.txt:3: bytes E2 82 are not valid UTF-8 and are stored as \"?\"\n"},
        {"odd length",
         std::string("\xFF\xFE<\0@\0>\0"
                     "1\0\n\0<\0l\0>\0x\0y",
                     21),
         {},
         "<@>1\n<l>x?",
         "halvic: warning: data.txt:2: the last byte, 79, is half a UTF-16 character (the file's "
         "length is odd) and is stored as \"?\"\n"},
        {"unpaired surrogate",
         std::string("<\0@\0>\0"
                     "1\0\n\0<\0l\0>\0\x3D\xD8"
                     "a\0",
                     20),
         {"--from", "utf-16le"},
         "<@>1\n<l>?a",
         "halvic: warning: data.txt:2: U+D83D is half of a UTF-16 surrogate pair without its "
         "other half and is stored as \"?\"\n"},
        {"Latin-1 controls",
         "<@>1\n<l>\x80x\n",
         {"--from", "latin1"},
         "<@>1\n<l>?x\n",
         "halvic: warning: data.txt:2: U+0080 is stored as \"?\": Windows-1252, the files' text "
         "encoding, has no such character\n"},
        {"past a stop",
         "\xEF\xBB\xBF<@>1\n<l>\xC5\x81\n<>\n<x>\n<l>\xC5\x81\n",
         {},
         "<@>1\n<l>?\n<>\n<x>\n<l>?\n",
         "halvic: warning: data.txt:2: U+0141 \xC5\x81 is stored as \"?\": Windows-1252, the "
         "files' "
         "text encoding, has no such character\n"
         "halvic: warning: data.txt:4: tag <x> follows an empty tag <> but is not <@>; the rest of "
         "the input was ignored\n"},
        {"more than ten", twelve, {"--from", "utf-8"}, "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_szName);
        std::string err;
        std::string expectedErr = c.m_strErr;
        std::string stored = c.m_strStored;
        if (expectedErr.empty() && c.m_strInput == twelve) {
            for (int line = 2; line <= 20; line += 2)
                expectedErr += "halvic: warning: data.txt:" + std::to_string(line) +
                               ": U+0141 \xC5\x81" + kLacks.substr(1);
            expectedErr +=
                "halvic: warning: data.txt:22: 2 more characters that Windows-1252 "
                "lacks are stored as \"?\", the first here\n";
            for (int i = 1; i <= 12; ++i)
                stored += "<@>" + std::to_string(i) + "\n<l>?\n";
        }
        CFileList files = Convert(c.m_strInput, c.m_args, "out", err);
        EXPECT_EQ(err, expectedErr);
        std::string storedErr;
        EXPECT_EQ(files, Convert(stored, {"--from", "bytes"}, "expected", storedErr));
        // --check says the same; --strict fails on it.
        std::vector<std::string> check = c.m_args;
        check.push_back("--check");
        Convert(c.m_strInput, check, "out", err);
        EXPECT_EQ(err, expectedErr);
        if (!expectedErr.empty()) {
            std::vector<std::string> strict = c.m_args;
            strict.push_back("--strict");
            EXPECT_TRUE(Convert(c.m_strInput, strict, "strict", err).empty());
        }
    }
}

TEST_F(EncodingTest, TaggedTextInUtf8OrUtf16ConvertsBackIntoTheSameFiles) {
    std::string err;
    // Every byte a text can hold, the five Windows-1252 leaves undefined among them.
    std::string all = "<@>1\r\n<l>";
    for (int byte = 0x21; byte < 0x100; ++byte) {
        if (byte != '<') all.push_back(static_cast<char>(byte));
    }
    all += "\r\n<m>Ch\xEAne\r\n";
    const std::string kInputs[] = {all, Iconv(LargeCatalogue(20000), "CP1252")};
    for (const std::string& input : kInputs) {
        CFileList files = Convert(input, {"--from", "bytes"}, "files", err);
        ASSERT_FALSE(files.empty()) << err;
        const struct {
            const char* m_szEncoding;
            std::string m_strMark;
        } kEncodings[] = {{"UTF-8", "\xEF\xBB\xBF"}, {"utf-16", "\xFF\xFE"}};
        for (const auto& e : kEncodings) {
            CProcessOptions options;
            options.m_strWorkDir = m_dir.string();
            CProcessResult dumped = RunProcess(
                {HALVIC_BIN, "dump", "files", "-f", "Tagged", "--encoding", e.m_szEncoding},
                options);
            ASSERT_EQ(dumped.m_nExitCode, 0) << dumped.m_strErr;
            EXPECT_EQ(dumped.m_strOut.substr(0, e.m_strMark.size()), e.m_strMark);
            EXPECT_EQ(Convert(dumped.m_strOut, {}, "again", err), files) << e.m_szEncoding << err;
            EXPECT_EQ(err, "");
        }
    }
    CProcessOptions options;
    options.m_strWorkDir = m_dir.string();
    CProcessResult csv =
        RunProcess({HALVIC_BIN, "dump", "files", "-f", "csv", "-e", "utf-8", "--bom"}, options);
    EXPECT_EQ(csv.m_strOut.substr(0, 9), "\xEF\xBB\xBFrecord");
}

// A record longer than a part is read on by the plain loop, which looks for UTF-8 all the same.
TEST_F(EncodingTest, UTF8InARecordLongerThanAPartIsWarnedOfAtItsLine) {
    std::string input = "<@>1\n<l>";
    for (int i = 0; i < 60000; ++i)
        input += "abcdefghij klmnopqrstuvwxyz 0123456789 abcdefghij\n";
    input += "Caf\xC3\xA9 end\n<@>2\n<l>x\n";
    for (bool piped : {false, true}) {
        std::string err;
        EXPECT_FALSE(Convert(input, {}, "out", err, piped).empty());
        // The text around the character, of a content too long to show whole.
        const std::string text = "\"...wxyz 0123456789 abcdefghij Caf";
        EXPECT_EQ(err, "halvic: warning: " + std::string(piped ? "<stdin>" : "data.txt") +
                           ":60002: " + text +
                           "\xC3\xA9 end\" looks like UTF-8: its bytes are stored as they are, so "
                           "a program reading Windows-1252 shows " +
                           text +
                           "\xC3\x83\xC2\xA9 end\"; convert with --from utf-8 (or save the file "
                           "as UTF-8 with BOM) to store " +
                           text + "\xC3\xA9 end\"\n");
    }
}

TEST_F(EncodingTest, Utf16ReadAsBytesIsRefusedWithItsReason) {
    const std::string le = Iconv("<@>1\r\n<l>x\r\n", "UTF-16LE");
    const std::string kNothing = "no record was converted and no file was replaced";
    const struct {
        std::string m_strInput;
        std::vector<std::string> m_args;
        std::string m_strErr;
    } kCases[] = {
        {le,
         {},
         ": the file looks like UTF-16 without a byte-order mark (3C 00): convert it with "
         "--from utf-16"},
        {Iconv("<@>1", "UTF-16BE"),
         {},
         ": the file looks like UTF-16 without a byte-order mark (00 3C): convert it with --from "
         "utf-16be"},
        {"\xFF\xFE" + le,
         {"--from", "bytes"},
         "the first tag is <\\xFF\\xFE<>, not <@>, so " + kNothing +
             "; the file begins with a UTF-16 byte-order mark (FF FE): convert it without --from, "
             "which reads it as UTF-16"},
    };
    for (const auto& c : kCases) {
        std::string err;
        EXPECT_TRUE(Convert(c.m_strInput, c.m_args, "out", err).empty());
        const std::string prefix = c.m_strErr[0] == ':' ? kNothing : "";
        EXPECT_EQ(err, "halvic: error: data.txt:1: " + prefix + c.m_strErr + "\n");
    }
}

// The prompt, as the dialog, reads a byte-order mark as a conversion without --from does.
TEST_F(EncodingTest, ThePromptReadsTheByteOrderMark) {
    const std::string text = "<@>1\r\n<l>Caf\xC3\xA9\r\n<m>\xC5\x81\r\n";
    WriteFile(m_dir / "data.txt", "\xFF\xFE" + Iconv(text, "UTF-16LE"));
    CProcessOptions options;
    options.m_strWorkDir = m_dir.string();
    options.m_strStdin = "data.txt\n";
    CProcessResult prompted = RunProcess({HALVIC_BIN}, options);
    EXPECT_EQ(prompted.m_nExitCode, 0);
    EXPECT_EQ(prompted.m_strErr,
              "Filename: halvic: warning: data.txt:3: U+0141 \xC5\x81 is stored as \"?\": "
              "Windows-1252, the files' text encoding, has no such character\n");
    std::string err;
    CFileList expected = Convert(Iconv("<@>1\r\n<l>Caf\xC3\xA9\r\n<m>?\r\n", "CP1252"),
                                 {"--from", "bytes"}, "expected", err);
    ASSERT_EQ(expected.size(), 7u) << err;
    CFileList prompt;
    for (const auto& file : expected)
        prompt.emplace_back(file.first, testing::ReadFile(m_dir / file.first));
    EXPECT_EQ(prompt, expected);
}

TEST_F(EncodingTest, AByteOrderMarkAloneIsAnEmptyFileAndBytesKeepTheirRefusal) {
    std::string err;
    EXPECT_EQ(Convert("\xEF\xBB\xBF", {}, "out", err).size(), 7u);
    EXPECT_EQ(err,
              "halvic: warning: data.txt: the file is empty, so the seven files become empty\n");
    EXPECT_TRUE(Convert("\xEF\xBB\xBF<@>1", {"--from", "bytes"}, "bytes", err).empty());
    EXPECT_EQ(err,
              "halvic: error: data.txt:1: the first tag is <\\xEF\\xBB\\xBF<@>, not <@>, so no "
              "record was converted and no file was replaced; the file begins with a byte-order "
              "mark (EF BB BF): save it without one\n");
}

}  // namespace
}  // namespace halvic
