#include "tests/support/conversion_checks.h"

#include "engine/tagged_writer.h"
#include "tests/support/hex.h"
#include "tests/support/output_files.h"

namespace halvic::testing {

std::string RandomConversionInput(std::mt19937& random, bool wellFormed) {
    static const char* const kTags[] = {
        "@",  "@", "@", "l",      "l",       "b",    "g",
        "t",  "m", "a", "n",      "i",       "c",    "s",
        "ic", "x", "M", "manics", "manicsx", "\x01", "abcdefghijklmnopqrstuvwxyz0123456789",
        ""};
    static const char kBytes[] =
        "ab -\r\n\t\x01\x80\xff"
        "0123456789/:<>";
    const std::size_t tagCount = sizeof kTags / sizeof kTags[0] - (wellFormed ? 1 : 0);
    const std::size_t byteCount = sizeof kBytes - 1 - (wellFormed ? 2 : 0);
    // Mostly a proper start: a first tag other than "@" converts nothing.
    std::string input = random() % 10 == 0 ? "" : "<@>" + std::to_string(random() % 70000);
    std::size_t pieces = random() % 200;
    for (std::size_t i = 0; i < pieces; ++i) {
        const char* tag = kTags[random() % tagCount];
        input += std::string("<") + tag + ">";
        switch (random() % 8) {
            case 0:  // a long run that crosses the chunk boundary
                input.append(500 + random() % 30, static_cast<char>('1' + random() % 3));
                break;
            case 1:  // random special bytes
                for (std::size_t n = random() % 20; n > 0; --n)
                    input.push_back(kBytes[random() % byteCount]);
                break;
            case 2:
                input += "SU" + std::to_string(random() % 1000000);
                break;
            case 3:
                input += std::to_string(random() % 40) + "-" + std::to_string(random() % 4) + "-" +
                         std::to_string(random() % 28);
                break;
            default:  // a text from a small pool, so that tables see repeats
                input += "text " + std::to_string(random() % 30);
                if (random() % 4 == 0) input += "-\r\nmore";
                break;
        }
        input += random() % 3 == 0 ? "\r\n" : "";
    }
    return input;
}

std::string FirstDifference(std::string_view actual, std::string_view expected) {
    if (actual == expected) return "";
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    std::size_t from = at < 16 ? 0 : at - 16;
    return "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
           ", first difference at byte " + std::to_string(at) + ":\n  actual   " +
           Hex(actual.substr(from, 48)) + "\n  expected " + Hex(expected.substr(from, 48));
}

std::array<std::string, kTableCount> TableBytes(const CValueTables& tables) {
    std::array<std::string, kTableCount> bytes;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        CMemorySink sink;
        tables[i].WriteTable(sink);
        bytes[i] = sink.Bytes();
    }
    return bytes;
}

std::vector<std::string> WarningMessages(const std::vector<CWarning>& warnings) {
    std::vector<std::string> messages;
    for (const CWarning& warning : warnings)
        messages.push_back(warning.Message());
    return messages;
}

namespace {

// The seven files' bytes of one conversion of `input` in memory; false when it fails.
bool ConvertInMemory(std::string_view input, COutputFiles& files) {
    CMemorySource source(input);
    CTagFile reader(source, "in.txt");
    CMemorySink sink;
    CValueTables values;
    std::vector<CWarning> warnings;
    try {
        ConvertTags(reader, sink, values, warnings);
    } catch (const CFailure&) {
        return false;
    }
    files.m_strRecords = sink.Bytes();
    files.m_tables = TableBytes(values);
    return true;
}

}  // namespace

std::string RoundTripDifference(std::string_view input) {
    COutputFiles files;
    if (!ConvertInMemory(input, files)) return "";
    const COutputReadResult read = ReadOutput(files);
    if (!read.m_bOk) return "the converted files do not read back: " + read.m_error.Message();
    CMemorySink out;
    CTaggedWriter writer(read.m_tables, out, kRecordFileName);
    CError error;
    std::uint64_t index = 0;
    for (const CRecord& record : read.m_records) {
        if (!writer.Write(record, ++index, error)) return "refused: " + error.Message();
    }
    if (!writer.Finish(error)) return "refused: " + error.Message();
    const std::string& tagged = out.Bytes();
    COutputFiles again;
    if (!ConvertInMemory(tagged, again)) return "the tagged text fails:\n" + tagged;
    std::string difference = FirstDifference(again.m_strRecords, files.m_strRecords);
    if (!difference.empty()) return "record file: " + difference + "\n" + tagged;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        difference = FirstDifference(again.m_tables[i], files.m_tables[i]);
        if (!difference.empty()) return TableFileName(i) + ": " + difference + "\n" + tagged;
    }
    return "";
}

}  // namespace halvic::testing
