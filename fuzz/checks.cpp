#include "fuzz/checks.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <vector>

#include "engine/conversion/convert_file.h"
#include "engine/conversion/join.h"
#include "engine/format/decoders.h"
#include "engine/format/record.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"
#include "engine/io/error.h"
#include "engine/text/input_encoding.h"
#include "engine/text/tag_file.h"
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
    CMemorySource source(bytes);
    CTagFile reader(source, "fuzz");
    CMemorySink records;
    std::vector<CWarning> warnings;
    std::uint64_t written = 0;
    try {
        written = ConvertTags(reader, records, tables, warnings).m_nRecords;
    } catch (const CFailure& failure) {
        // Only a full table stops a conversion in memory, and no input this short fills one.
        return "the conversion failed: " + failure.Error().Message();
    }
    const testing::CConversionOutput whole{records.Bytes(), testing::TableBytes(tables),
                                           testing::WarningMessages(warnings), ""};
    // The output reader takes back exactly what a conversion writes.
    COutputFiles files;
    files.m_strRecords = whole.m_strRecords;
    files.m_tables = whole.m_tables;
    COutputReadResult read = ReadOutput(files);
    if (!read.m_bOk) return "the output does not read back: " + read.m_error.Message();
    if (read.m_records.size() != written) {
        return std::to_string(read.m_records.size()) + " records read back, " +
               std::to_string(written) + " written";
    }
    CMemorySink rewritten;
    for (const CRecord& record : read.m_records) {
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (record.m_tableIds[i] > tables[i].Count()) {
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
    std::string difference = testing::OutputDifference(
        testing::ConvertPlain(bytes, "fuzz", 1 + size % 97, 1 + size % 13), whole);
    if (!difference.empty()) return "the output depends on the block size: " + difference;
    // The pipeline, its parts views of the input or read from a stream, some of it perhaps
    // converted on by the plain loop where groups lie further apart than a part may be long.
    std::size_t partSize = 1 + size % 61;
    unsigned threads = 1 + size % 2;
    difference = testing::OutputDifference(
        testing::ConvertPipelined(bytes, partSize, threads, 0, 2 << 20, "fuzz"), whole);
    if (!difference.empty()) return "the pipeline differs from the plain loop: " + difference;
    difference =
        testing::OutputDifference(testing::ConvertPipelined(bytes, partSize, threads, 1 + size % 29,
                                                            partSize + size % 300, "fuzz"),
                                  whole);
    if (!difference.empty()) {
        return "the pipeline reading a stream differs from the plain loop: " + difference;
    }
    return "";
}

std::string CheckReaderAgreement(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return "";
    CReadPlan plan(data, size);
    return testing::ReaderDifference(plan.m_text, plan.m_nBlockSize, plan.m_nStep, false,
                                     [&plan](std::size_t pair, std::string_view) {
                                         return ((plan.m_pushbacks >> (pair % 16)) & 1) != 0;
                                     });
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
    // Read in blocks, as dump reads, the files give the same records and fault.
    const COutputReadResult inBlocks = ReadOutput(files, 1 + size % 23);
    if (inBlocks.m_bOk != result.m_bOk) {
        return std::string("read in blocks, the files are ") +
               (inBlocks.m_bOk ? "accepted" : "refused") + "; read whole, they are not";
    }
    if (RecordFileBytes(inBlocks.m_records) != encoded) return "records read in blocks differ";
    if (!inBlocks.m_bOk && inBlocks.m_error.Message() != result.m_error.Message()) {
        return "fault read in blocks differs: " + inBlocks.m_error.Message();
    }
    if (result.m_bOk) {
        // Strict reading: an accepted file is the writer's own output for what was read.
        if (encoded != files.m_strRecords) return "accepted records write other bytes";
        for (std::size_t i = 0; i < kTableCount; ++i) {
            if (TableFileBytes(result.m_tables[i]) != files.m_tables[i]) {
                return "accepted table writes other bytes: " + TableFileName(i);
            }
            // The writer stores a text once: a repeat would read back under other identifiers.
            std::set<std::string_view> seen(result.m_tables[i].begin(), result.m_tables[i].end());
            if (seen.size() != result.m_tables[i].size()) {
                return "accepted table holds a text twice: " + TableFileName(i);
            }
        }
        for (const CRecord& record : result.m_records) {
            for (std::size_t i = 0; i < kTableCount; ++i) {
                if (record.m_tableIds[i] > result.m_tables[i].size()) {
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

namespace {

// A fault as the check compares it.
std::string FaultText(const CDecodingFault& fault) {
    return std::to_string(fault.m_eKind) + "@" + std::to_string(fault.m_nLine) + ":" +
           std::to_string(fault.m_nCodePoint) + ":" +
           std::string(reinterpret_cast<const char*>(fault.m_bytes), fault.m_nBytes);
}

// Decodes `input` in pieces of `step` bytes.
std::string DecodeInPieces(EInputEncoding encoding, std::string_view input, std::size_t step,
                           std::vector<std::string>& faults) {
    CInputDecoder decoder(
        encoding, [&faults](const CDecodingFault& fault) { faults.push_back(FaultText(fault)); });
    std::string out(input.size() + 2 * CInputDecoder::kSlack, '\0');
    auto* o = reinterpret_cast<unsigned char*>(&out[0]);
    std::size_t written = 0;
    for (std::size_t at = 0; at < input.size(); at += step) {
        std::size_t n = std::min(step, input.size() - at);
        written += decoder.Decode(reinterpret_cast<const unsigned char*>(input.data()) + at, n,
                                  o + written);
    }
    written += decoder.Finish(o + written);
    out.resize(written);
    return out;
}

}  // namespace

std::string CheckInputDecoding(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > kMaxInput) return "";
    static const EInputEncoding kEncodings[] = {EInputEncoding::kUtf8, EInputEncoding::kUtf16LE,
                                                EInputEncoding::kUtf16BE, EInputEncoding::kLatin1};
    const EInputEncoding encoding = kEncodings[data[0] % 4];
    const std::size_t step = data[1] % 17 + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    std::vector<std::string> faults;
    const std::string whole = DecodeInPieces(encoding, input, SIZE_MAX, faults);
    std::vector<std::string> pieceFaults;
    if (DecodeInPieces(encoding, input, step, pieceFaults) != whole || pieceFaults != faults)
        return "decoding in pieces of " + std::to_string(step) +
               " bytes gives other bytes or faults";
    if (whole.size() > input.size()) return "more bytes out than in";
    for (bool lends : {false, true}) {
        CMemorySource memory(input, step, lends);
        std::vector<std::string> sourceFaults;
        CDecodingSource source(memory, encoding, [&sourceFaults](const CDecodingFault& fault) {
            sourceFaults.push_back(FaultText(fault));
        });
        std::string read;
        unsigned char buffer[5];
        while (std::size_t n = source.Read(buffer, sizeof buffer))
            read.append(reinterpret_cast<const char*>(buffer), n);
        if (read != whole || sourceFaults != faults) return "a decoding source reads otherwise";
        if (source.BytesRead() != input.size()) return "a decoding source miscounts what it read";
    }

    // Line feeds: one for one, and no fault beyond the last line.
    std::string encoded;
    for (char ch : whole) {
        std::uint32_t code = FromWindows1252(static_cast<unsigned char>(ch));
        if (encoding == EInputEncoding::kUtf8) {
            AppendUtf8(encoded, code);
        } else if (encoding == EInputEncoding::kLatin1) {
            encoded.push_back(ch);
        } else {
            AppendUtf16(encoded, code, encoding == EInputEncoding::kUtf16BE);
        }
    }
    const auto lines = static_cast<std::uint64_t>(std::count(whole.begin(), whole.end(), '\n'));
    for (const std::string& fault : faults) {
        std::uint64_t line = std::stoull(fault.substr(fault.find('@') + 1));
        if (line < 1 || line > lines + 1) return "a fault on line " + std::to_string(line);
    }
    if (faults.empty() && encoded != input) return "decoded without a fault, but encodes otherwise";

    if (encoding == EInputEncoding::kUtf8) {
        CUtf8Scan scan;
        for (std::size_t at = 0; at < input.size(); at += step)
            scan.Scan(input.substr(at, step));
        scan.Finish();
        bool invalid = std::any_of(faults.begin(), faults.end(), [](const std::string& fault) {
            return fault[0] == '0' + CDecodingFault::kInvalidUtf8;
        });
        if (scan.Invalid() != invalid) return "the UTF-8 scan and the decoder disagree";
        bool high = std::any_of(input.begin(), input.end(),
                                [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; });
        if (!invalid && scan.FoundMultibyte() != high)
            return "the UTF-8 scan misses a multibyte sequence";
    }
    return "";
}

}  // namespace halvic::fuzz
