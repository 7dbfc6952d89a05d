#include "fuzz/checks.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <vector>

#include "engine/byte_stream.h"
#include "engine/convert.h"
#include "engine/decoders.h"
#include "engine/error.h"
#include "engine/record.h"
#include "engine/split_convert.h"
#include "engine/tag_file.h"
#include "engine/value_table.h"
#include "tests/support/conversion_checks.h"
#include "tests/support/output_files.h"
#include "tests/support/plain_tag_reader.h"

namespace halvic::fuzz {

namespace {

using testing::COutputFiles;
using testing::COutputReadResult;
using testing::ReadOutput;
using testing::RecordFileBytes;
using testing::TableFileBytes;

// How a reader check reads its input: the first bytes choose the reader's block size, the
// source's step and the pairs before which a pushback is asked for; the rest is the tagged text.
struct CReadPlan {
    static constexpr std::size_t kPrefix = 6;

    std::size_t m_nBlockSize = 1 << 18;
    std::size_t m_nStep = SIZE_MAX;
    unsigned m_pushbacks = 0;  // bit i % 16: push back before pair i
    std::string_view m_text;

    CReadPlan(const std::uint8_t* data, std::size_t size) {
        auto bytes = std::string_view(reinterpret_cast<const char*>(data), size);
        if (size < kPrefix) {
            m_text = bytes;
            return;
        }
        // Up to two chunks' worth, so that block ends fall everywhere around a chunk's end.
        m_nBlockSize = 1 + Word(data) % 1100;
        m_nStep = 1 + Word(data + 2) % 1100;
        m_pushbacks = Word(data + 4);
        m_text = bytes.substr(kPrefix);
    }
    // The 16-bit number at `bytes`, low byte first.
    static unsigned Word(const std::uint8_t* bytes) {
        return static_cast<unsigned>(bytes[0]) | static_cast<unsigned>(bytes[1]) << 8;
    }
    // Like the product, never two pushbacks in a row: each hands back a pair really read.
    bool PushBackBefore(std::size_t pair, bool& lastWasPushback) const {
        bool push = !lastWasPushback && ((m_pushbacks >> (pair % 16)) & 1);
        lastWasPushback = push;
        return push;
    }
};

std::string At(std::size_t pair, const std::string& what) {
    return "pair " + std::to_string(pair) + ": " + what;
}

struct CConversion {
    std::string m_strFailure;  // the conversion's own failure message, if it failed
    std::uint64_t m_nRecords = 0;
    std::string m_strRecords;
    std::array<std::string, kTableCount> m_tables;
    std::vector<std::string> m_warnings;
};

CConversion Convert(std::string_view bytes, std::size_t blockSize, std::size_t step,
                    CValueTables& tables) {
    CConversion conversion;
    CMemorySource source(bytes, step);
    CTagFile reader(source, "fuzz", blockSize);
    CMemorySink records;
    std::vector<CWarning> warnings;
    try {
        conversion.m_nRecords = ConvertTags(reader, records, tables, warnings).m_nRecords;
    } catch (const CFailure& failure) {
        conversion.m_strFailure = failure.Error().Message();
        return conversion;
    }
    std::array<CMemorySink, kTableCount> tableSinks;
    std::array<CByteSink*, kTableCount> sinks;
    for (std::size_t i = 0; i < kTableCount; ++i)
        sinks[i] = &tableSinks[i];
    WriteTables(tables, sinks);
    conversion.m_strRecords = records.Bytes();
    for (std::size_t i = 0; i < kTableCount; ++i)
        conversion.m_tables[i] = tableSinks[i].Bytes();
    for (const CWarning& warning : warnings)
        conversion.m_warnings.push_back(warning.Message());
    return conversion;
}

// The conversion the plain way, one group at a time through CRecord::ReadFields, with nothing
// read ahead: what the batched ConvertTags must give.
CConversion ConvertGroupByGroup(std::string_view bytes) {
    CConversion conversion;
    CMemorySource source(bytes);
    CTagFile reader(source, "fuzz");
    CMemorySink records;
    CValueTables tables;
    CRecord record;
    CTagNotes notes;
    std::string_view tag;
    std::string_view content;
    CStop stop;
    try {
        while (reader.ReadTag(tag, content)) {
            if (tag != "@") {
                stop = {true, std::string(tag), reader.TagCut(), reader.TagLine()};
                break;
            }
            record.ReadFields(ParseDigits(content), reader, tables, notes);
            record.Write(records);
            ++conversion.m_nRecords;
        }
    } catch (const CFailure& failure) {
        conversion.m_strFailure = failure.Error().Message();
        return conversion;
    }
    std::vector<CWarning> warnings;
    AddConversionWarnings(reader.Name(), stop, conversion.m_nRecords, notes, warnings);
    for (const CWarning& warning : warnings)
        conversion.m_warnings.push_back(warning.Message());
    conversion.m_strRecords = records.Bytes();
    for (std::size_t i = 0; i < kTableCount; ++i) {
        CMemorySink sink;
        tables[i].WriteTable(sink);
        conversion.m_tables[i] = sink.Bytes();
    }
    return conversion;
}

// The conversion in parts, split wherever a part may begin at least `partSize` bytes apart.
CConversion ConvertSplit(std::string_view bytes, std::size_t partSize, unsigned threads) {
    CConversion conversion;
    CMemorySink records;
    CValueTables tables;
    std::vector<CWarning> warnings;
    CSplitOptions options;
    options.m_nPartSize = partSize;
    options.m_nThreads = threads;
    try {
        conversion.m_nRecords =
            ConvertInParts(bytes, "fuzz", records, tables, warnings, options)->m_nRecords;
    } catch (const CFailure& failure) {
        conversion.m_strFailure = failure.Error().Message();
        return conversion;
    }
    conversion.m_strRecords = records.Bytes();
    conversion.m_tables = testing::TableBytes(tables);
    conversion.m_warnings = testing::WarningMessages(warnings);
    return conversion;
}

bool SameOutput(const CConversion& a, const CConversion& b) {
    if (a.m_strFailure != b.m_strFailure) return false;
    if (!a.m_strFailure.empty()) return true;  // a failed conversion's output is thrown away
    return a.m_nRecords == b.m_nRecords && a.m_strRecords == b.m_strRecords &&
           a.m_tables == b.m_tables && a.m_warnings == b.m_warnings;
}

}  // namespace

std::string CheckTagReader(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return "";
    CReadPlan plan(data, size);
    CMemorySource source(plan.m_text, plan.m_nStep);
    CTagFile reader(source, "fuzz", plan.m_nBlockSize);
    const std::uint64_t lines =
        1 + static_cast<std::uint64_t>(std::count(plan.m_text.begin(), plan.m_text.end(), '\n'));
    std::string lastTag;
    std::string lastContent;
    std::uint64_t lastLine = 1;
    // A pair that is not a pushback takes at least one byte.
    const std::size_t maxPairs = 2 * plan.m_text.size() + 4;
    bool lastWasPushback = false;
    for (std::size_t pair = 0;; ++pair) {
        if (pair > maxPairs) return "the reader never reaches the end of the input";
        bool pushedBack = plan.PushBackBefore(pair, lastWasPushback);
        if (pushedBack) reader.m_bPushedBack = 1;
        std::string_view tag;
        std::string_view content;
        bool ok = reader.ReadTag(tag, content);
        if (reader.m_bPushedBack) return At(pair, "the pushback was not taken");
        if (!ok) {
            if (!tag.empty()) return At(pair, "a tag at the end of the input");
            if (reader.ReadTag(tag, content)) return At(pair, "a pair after the end");
            return "";
        }
        if (tag.size() > CTagFile::kTagKept) return At(pair, "tag longer than kept");
        if (reader.TagCut() && tag.size() != CTagFile::kTagKept) {
            return At(pair, "a cut tag shorter than the bytes kept");
        }
        if (tag.find('>') != std::string_view::npos || tag.find('\0') != std::string_view::npos) {
            return At(pair, "a '>' or zero byte in a tag");
        }
        if (!content.empty() && (content.front() == ' ' || content.back() == ' ')) {
            return At(pair, "content not trimmed");
        }
        for (char ch : content) {
            auto byte = static_cast<unsigned char>(ch);
            if (byte < 0x20 || byte == '<') return At(pair, "a control byte or '<' in content");
        }
        if (content.size() > plan.m_text.size()) return At(pair, "content longer than the input");
        if (reader.TagLine() < lastLine || reader.TagLine() > lines) {
            return At(pair, "tag line " + std::to_string(reader.TagLine()) + " out of order");
        }
        if (pushedBack) {
            if (tag != lastTag) return At(pair, "a pushback gave another tag");
            // The last chunk of the content, trimmed: a piece of the whole content.
            if (lastContent.find(content) == std::string::npos) {
                return At(pair, "a pushback gave content that was not there");
            }
        }
        lastTag.assign(tag);
        lastContent.assign(content);
        lastLine = reader.TagLine();
    }
}

std::string CheckConversion(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return "";
    auto bytes = std::string_view(reinterpret_cast<const char*>(data), size);
    CValueTables tables;
    CConversion whole = Convert(bytes, 1 << 18, SIZE_MAX, tables);
    if (!whole.m_strFailure.empty()) {
        // Only a full table stops a conversion in memory, and no input this short fills one.
        return "the conversion failed: " + whole.m_strFailure;
    }
    // The output reader takes back exactly what a conversion writes.
    COutputFiles files;
    files.m_strRecords = whole.m_strRecords;
    files.m_tables = whole.m_tables;
    COutputReadResult read = ReadOutput(files);
    if (!read.m_bOk) return "the output does not read back: " + read.m_error.Message();
    if (read.m_records.size() != whole.m_nRecords) {
        return std::to_string(read.m_records.size()) + " records read back, " +
               std::to_string(whole.m_nRecords) + " written";
    }
    CMemorySink rewritten;
    for (const CRecord& record : read.m_records) {
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (record.tableIds[i] > tables[i].Count()) {
                return std::string("an identifier beyond the end of table ") + kTableLetters[i];
            }
        }
        record.Write(rewritten);
    }
    if (rewritten.Bytes() != whole.m_strRecords) return "records read back write other bytes";
    for (std::size_t i = 0; i < kTableCount; ++i) {
        const CTableTexts& texts = read.m_tables[i];
        if (texts.size() != tables[i].Count()) return "table file and table count differ";
        std::set<std::string_view> seen;
        for (std::size_t id = 1; id <= texts.size(); ++id) {
            if (texts[id - 1] != tables[i].Text(static_cast<std::uint16_t>(id))) {
                return std::string("table ") + kTableLetters[i] + " read back differs";
            }
            if (!seen.insert(texts[id - 1]).second) {
                return std::string("table ") + kTableLetters[i] + " holds a text twice";
            }
        }
    }

    // Small blocks and small reads put block ends everywhere; the output must not change.
    CValueTables again;
    CConversion chopped = Convert(bytes, 1 + size % 97, 1 + size % 13, again);
    if (!SameOutput(chopped, whole)) return "the output depends on the block size";
    if (!SameOutput(ConvertGroupByGroup(bytes), whole)) {
        return "the batched conversion differs from one applied group by group";
    }
    if (!SameOutput(ConvertSplit(bytes, 1 + size % 61, 1 + size % 2), whole)) {
        return "the conversion in parts differs from the one in one go";
    }
    return "";
}

std::string CheckReaderAgreement(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return "";
    CReadPlan plan(data, size);
    CMemorySource source(plan.m_text, plan.m_nStep);
    CTagFile fast(source, "fuzz", plan.m_nBlockSize);
    testing::CPlainTagReader plain(plan.m_text);
    std::string plainTag;
    std::string plainContent;
    const std::size_t maxPairs = 2 * plan.m_text.size() + 4;
    bool lastWasPushback = false;
    for (std::size_t pair = 0; pair <= maxPairs; ++pair) {
        if (plan.PushBackBefore(pair, lastWasPushback))
            fast.m_bPushedBack = plain.m_bPushedBack = 1;
        std::string_view fastTag;
        std::string_view fastContent;
        bool fastOk = fast.ReadTag(fastTag, fastContent);
        bool plainOk = plain.ReadTag(plainTag, plainContent);
        if (fastOk != plainOk) return At(pair, "one reader ended, the other did not");
        if (fastTag != std::string_view(plainTag).substr(0, CTagFile::kTagKept)) {
            return At(pair, "tags differ");
        }
        if (fast.TagCut() != (plainTag.size() > CTagFile::kTagKept)) {
            return At(pair, "the tag was cut by one reader only");
        }
        if (!fastOk) return "";
        if (fastContent != plainContent) return At(pair, "contents differ");
        if (fast.TagLine() != plain.TagLine()) return At(pair, "tag lines differ");
    }
    return "the readers never reach the end of the input";
}

std::string CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
    return testing::RoundTripDifference(
        std::string_view(reinterpret_cast<const char*>(data), size));
}

std::string CheckOutputReader(const std::uint8_t* data, std::size_t size) {
    if (size > 4 * kMaxInput) return "";
    COutputFiles files;
    files.m_strDir = "out";
    std::size_t at = 0;
    std::size_t lengths[kTableCount] = {};
    for (std::size_t i = 0; i < kTableCount && at < size; ++i)
        lengths[i] = data[at++];
    for (std::size_t i = 0; i < kTableCount; ++i) {
        std::size_t length = std::min(lengths[i], size - at);
        files.m_tables[i].assign(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    files.m_strRecords.assign(reinterpret_cast<const char*>(data + at), size - at);

    const COutputReadResult result = ReadOutput(files);
    const std::string encoded = RecordFileBytes(result.m_records);
    // Read in blocks, as dump reads, the record file gives the same records and fault.
    if (result.m_bOk || result.m_error.m_strFile == "out/qxase.qxd") {
        std::size_t block = 1 + size % 23;
        CMemorySource source(files.m_strRecords, block);
        CRecordFileReader reader(source, "out/qxase.qxd", TableSizes(result.m_tables), block);
        std::vector<CRecord> records;
        CRecord record;
        while (reader.Next(record))
            records.push_back(record);
        if (reader.Failed() == result.m_bOk) {
            return std::string("read in blocks, the record file is ") +
                   (reader.Failed() ? "refused" : "accepted") + "; read whole, it is not";
        }
        if (RecordFileBytes(records) != encoded) return "records read in blocks differ";
        if (reader.Failed() && reader.Error().Message() != result.m_error.Message()) {
            return "fault read in blocks differs: " + reader.Error().Message();
        }
    }
    if (result.m_bOk) {
        // Strict reading: an accepted file is the writer's own output for what was read.
        if (encoded != files.m_strRecords) return "accepted records write other bytes";
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (TableFileBytes(result.m_tables[i]) != files.m_tables[i]) {
                return "accepted table writes other bytes: " + TableFileName(i);
            }
        }
        for (const CRecord& record : result.m_records) {
            for (std::size_t i = 0; i < kTableCount; ++i) {
                if (record.tableIds[i] > result.m_tables[i].size()) {
                    return "identifier beyond its table: " + TableFileName(i);
                }
            }
        }
        return "";
    }
    // A fault: the records before it are the file's first bytes, and the message names a file
    // and an offset.
    if (files.m_strRecords.compare(0, encoded.size(), encoded) != 0) {
        return "records before the fault are not the file's first bytes";
    }
    const std::string message = result.m_error.Message();
    if (message.rfind("out/qx", 0) != 0 || message.find(".qxd: offset ") == std::string::npos) {
        return "message without a file and an offset: " + message;
    }
    return "";
}

}  // namespace halvic::fuzz
