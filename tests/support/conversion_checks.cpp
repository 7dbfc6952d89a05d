#include "tests/support/conversion_checks.h"

#include "engine/conversion/join.h"
#include "engine/conversion/set_diff.h"
#include "engine/format/tagged_writer.h"
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

std::string OutputDifference(const CConversionOutput& actual, const CConversionOutput& expected) {
    if (actual.m_strError != expected.m_strError) {
        return "failure \"" + actual.m_strError + "\", expected \"" + expected.m_strError + "\"";
    }
    if (!expected.m_strError.empty()) return "";  // a failed conversion's output is thrown away
    std::string difference = FirstDifference(actual.m_strRecords, expected.m_strRecords);
    if (!difference.empty()) return "records: " + difference;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        difference = FirstDifference(actual.m_tables[i], expected.m_tables[i]);
        if (!difference.empty())
            return std::string("table ") + kTableLetters[i] + ": " + difference;
    }
    for (std::size_t i = 0; i < actual.m_warnings.size() || i < expected.m_warnings.size(); ++i) {
        std::string a = i < actual.m_warnings.size() ? actual.m_warnings[i] : "(none)";
        std::string e = i < expected.m_warnings.size() ? expected.m_warnings[i] : "(none)";
        if (a != e)
            return "warning " + std::to_string(i) + ": \"" + a + "\", expected \"" + e + "\"";
    }
    return "";
}

namespace {

// Runs `convert(records, tables, warnings)` and collects what it gives.
template <class TConvert>
CConversionOutput Collect(TConvert convert) {
    CConversionOutput output;
    CMemorySink records(1 << 10);
    CValueTables tables;
    std::vector<CWarning> warnings;
    try {
        convert(records, tables, warnings);
    } catch (const CFailure& failure) {
        output.m_strError = failure.Error().Message();
        return output;
    }
    output.m_strRecords = records.Bytes();
    output.m_tables = TableBytes(tables);
    output.m_warnings = WarningMessages(warnings);
    return output;
}

}  // namespace

CConversionOutput ConvertPlain(std::string_view input, const std::string& name,
                               std::size_t blockSize, std::size_t step) {
    return Collect([&](CByteSink& records, CValueTables& tables, std::vector<CWarning>& warnings) {
        CMemorySource source(input, step);
        CTagFile reader(source, name, blockSize);
        ConvertTags(reader, records, tables, warnings);
    });
}

CConversionOutput ConvertPipelined(std::string_view input, std::size_t partSize, unsigned threads,
                                   std::size_t step, std::size_t largestPart,
                                   const std::string& name) {
    return Collect([&](CByteSink& records, CValueTables& tables, std::vector<CWarning>& warnings) {
        CPartSizes sizes;
        sizes.m_nPartSize = partSize;
        sizes.m_nLargestPart = largestPart;
        ConvertInParts(input, name, records, tables, warnings, sizes, threads, step);
    });
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

namespace {

// Opens the set `files` in memory; the sources must outlive the reader.
void OpenInMemory(const COutputFiles& files, std::vector<CMemorySource>& sources,
                  COutputSetReader& reader) {
    sources.clear();
    sources.reserve(kOutputCount);
    sources.emplace_back(files.m_strRecords, 97);
    for (const std::string& table : files.m_tables)
        sources.emplace_back(table);
    COutputSources given;
    given.m_pRecords = &sources[0];
    for (std::size_t i = 0; i < kTableCount; ++i)
        given.m_tables[i] = &sources[i + 1];
    CError error;
    reader.Open(files.m_strDir, given, error);
}

// Counts differences, and fails on the first.
class CAnyDifference : public CSetDiffListener {
  public:
    void Added(std::uint64_t index, const CRecord&, const COutputTables&) override {
        Note("record " + std::to_string(index) + " added");
    }
    void Removed(std::uint64_t index, const CRecord&, const COutputTables&) override {
        Note("record " + std::to_string(index) + " removed");
    }
    void Changed(std::uint64_t index, const CRecord&, const COutputTables&, std::uint64_t,
                 const CRecord&, const COutputTables&, unsigned fields) override {
        Note("record " + std::to_string(index) + " changed, fields " + std::to_string(fields));
    }
    std::string m_strFirst;

  private:
    void Note(const std::string& what) {
        if (m_strFirst.empty()) m_strFirst = what;
    }
};

}  // namespace

std::string SetDiffDifference(const COutputFiles& a, const COutputFiles& b, std::size_t records) {
    std::vector<CMemorySource> aSources, bSources;
    COutputSetReader aReader(64), bReader(64);
    OpenInMemory(a, aSources, aReader);
    OpenInMemory(b, bSources, bReader);
    CAnyDifference differences;
    CSetDiffCounts counts;
    CError error;
    if (!DiffSets(aReader, bReader, differences, counts, error)) return error.Message();
    if (!differences.m_strFirst.empty()) return differences.m_strFirst;
    if (counts.m_nUnchanged != records) {
        return std::to_string(counts.m_nUnchanged) + " records unchanged of " +
               std::to_string(records);
    }
    return "";
}

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
    // Compared with itself and with the set of its tagged text, a set shows no difference.
    difference = SetDiffDifference(files, files, read.m_records.size());
    if (difference.empty()) difference = SetDiffDifference(files, again, read.m_records.size());
    if (!difference.empty()) return "diff: " + difference + "\n" + tagged;
    return "";
}

}  // namespace halvic::testing
