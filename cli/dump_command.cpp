#include "cli/dump_command.h"

#include <new>
#include <ostream>
#include <vector>

#include "cli/text_encoding.h"
#include "engine/format/field_text.h"
#include "engine/format/output_reader.h"
#include "engine/format/tagged_writer.h"
#include "engine/set/output_set.h"
#include "engine/set/set_reader.h"

namespace halvic::cli {

namespace {

const char kHex[] = "0123456789ABCDEF";

// How texts' bytes are read, and how many were not valid in the encoding.
struct CDecoding {
    EEncoding m_encoding = EEncoding::kLatin1;
    bool m_bChosen = false;  // --encoding was given
    std::uint64_t m_nInvalid = 0;
};

void AppendHex(std::string& line, std::string_view bytes) {
    for (char ch : bytes) {
        auto byte = static_cast<unsigned char>(ch);
        line += "\\x";
        line.push_back(kHex[byte >> 4]);
        line.push_back(kHex[byte & 15]);
    }
}

// Control characters, C1 ones included.
bool IsControl(std::int32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

// Printable ASCII as it is and every other byte as \xHH, or, with an encoding chosen, every
// character that is no control character in UTF-8 and every other byte as \xHH; the backslash and
// the quote are escaped too, so that the quoted text can be read back byte for byte.
void AppendEscaped(std::string& line, std::string_view text, const CDecoding& decoding) {
    line.push_back('"');
    for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
        std::int32_t code = DecodeAt(text, pos, decoding.m_encoding, length);
        if (code == '\\' || code == '"') {
            line.push_back('\\');
            line.push_back(static_cast<char>(code));
        } else if (code == kInvalidByte || IsControl(code) ||
                   (!decoding.m_bChosen && code > 0x7E)) {
            AppendHex(line, text.substr(pos, length));
        } else {
            AppendUtf8(line, static_cast<std::uint32_t>(code));
        }
    }
    line.push_back('"');
}

// The character at `pos` for jsonl and csv: a byte that is not valid becomes U+FFFD, counted.
std::uint32_t CharacterAt(std::string_view text, std::size_t pos, CDecoding& decoding,
                          std::size_t& length) {
    std::int32_t code = DecodeAt(text, pos, decoding.m_encoding, length);
    if (code != kInvalidByte) return static_cast<std::uint32_t>(code);
    ++decoding.m_nInvalid;
    return 0xFFFD;
}

void AppendJsonString(std::string& line, std::string_view text, CDecoding& decoding) {
    line.push_back('"');
    for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
        std::uint32_t code = CharacterAt(text, pos, decoding, length);
        switch (code) {
            case '"':
                line += "\\\"";
                break;
            case '\\':
                line += "\\\\";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\t':
                line += "\\t";
                break;
            default:
                // Control characters as escapes: valid JSON and visible.
                if (IsControl(static_cast<std::int32_t>(code))) {
                    line += "\\u00";
                    line.push_back(kHex[code >> 4]);
                    line.push_back(kHex[code & 15]);
                } else {
                    AppendUtf8(line, code);
                }
        }
    }
    line.push_back('"');
}

void AppendCsvField(std::string& line, std::string_view text, CDecoding& decoding) {
    bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quote) line.push_back('"');
    for (std::size_t pos = 0, length = 0; pos < text.size(); pos += length) {
        std::uint32_t code = CharacterAt(text, pos, decoding, length);
        if (code == '"') line.push_back('"');
        AppendUtf8(line, code);
    }
    if (quote) line.push_back('"');
}

// The grid reference of a record's point: none for a point outside the letter grid, nor for 0, 0,
// which is what a record holds that never had a grid reference.
bool HasGridReference(const CRecord& r, std::string& grid) {
    return (r.m_nEasting != 0 || r.m_nNorthing != 0) &&
           GridReference(r.m_nEasting, r.m_nNorthing, grid);
}

struct CDumpLine {
    std::uint64_t m_nIndex;  // 1-based
    const CRecord& m_record;
    const COutputTables& m_tables;
    CDecoding& m_decoding;

    bool HasText(std::size_t table) const { return m_record.m_tableIds[table] != 0; }
    const std::string& Text(std::size_t table) const {
        return m_tables[table][m_record.m_tableIds[table] - 1u];
    }
};

void AppendText(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += "record " + std::to_string(d.m_nIndex) + ": number " + std::to_string(r.m_nNumber) +
            ", text ";
    AppendEscaped(line, r.m_strText, d.m_decoding);
    line += ", bValue " + std::to_string(r.m_nBValue) + ", weight " + std::to_string(r.m_nWeight) +
            " lb (" + WeightInCwt(r.m_nWeight) + "), easting " + std::to_string(r.m_nEasting) +
            ", northing " + std::to_string(r.m_nNorthing);
    std::string grid;
    if (r.m_nEasting == 0 && r.m_nNorthing == 0) {
        line += " (no grid reference)";
    } else if (GridReference(r.m_nEasting, r.m_nNorthing, grid)) {
        line += " (" + grid + ")";
    }
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += ", ";
        line.push_back(kTableLetters[i]);
        line += " " + std::to_string(r.m_tableIds[i]);
        if (d.HasText(i)) {
            line.push_back(' ');
            AppendEscaped(line, d.Text(i), d.m_decoding);
        }
    }
    line.push_back('\n');
}

void AppendJson(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += "{\"record\":" + std::to_string(d.m_nIndex) +
            ",\"number\":" + std::to_string(r.m_nNumber) + ",\"text\":";
    AppendJsonString(line, r.m_strText, d.m_decoding);
    line += ",\"bValue\":" + std::to_string(r.m_nBValue) +
            ",\"weight\":" + std::to_string(r.m_nWeight) + ",\"weightCwt\":\"" +
            WeightInCwt(r.m_nWeight) + "\",\"easting\":" + std::to_string(r.m_nEasting) +
            ",\"northing\":" + std::to_string(r.m_nNorthing) + ",\"gridRef\":";
    std::string grid;
    line += HasGridReference(r, grid) ? "\"" + grid + "\"" : "null";
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += ",\"";
        line.push_back(kTableLetters[i]);
        line += "\":" + std::to_string(r.m_tableIds[i]) + ",\"";
        line.push_back(kTableLetters[i]);
        line += "Text\":";
        if (d.HasText(i)) {
            AppendJsonString(line, d.Text(i), d.m_decoding);
        } else {
            line += "null";
        }
    }
    line += "}\n";
}

const char* const kCsvHeader =
    "record,number,text,bValue,weight,weightCwt,easting,northing,gridRef,m,mText,a,aText,n,nText,"
    "i,iText,c,cText,s,sText\r\n";

void AppendCsv(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += std::to_string(d.m_nIndex) + "," + std::to_string(r.m_nNumber) + ",";
    AppendCsvField(line, r.m_strText, d.m_decoding);
    line += "," + std::to_string(r.m_nBValue) + "," + std::to_string(r.m_nWeight) + "," +
            WeightInCwt(r.m_nWeight) + "," + std::to_string(r.m_nEasting) + "," +
            std::to_string(r.m_nNorthing) + ",";
    std::string grid;
    if (HasGridReference(r, grid)) line += grid;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += "," + std::to_string(r.m_tableIds[i]) + ",";
        if (d.HasText(i)) AppendCsvField(line, d.Text(i), d.m_decoding);
    }
    line += "\r\n";
}

// Prints the records before the fault, then the fault.
EExitCode Fail(CByteSink& out, std::ostream& err, const CError& error) {
    try {
        out.Flush();
    } catch (const CFailure& failure) {
        err << "halvic: error: " << failure.Error().Message() << '\n';
    }
    err << "halvic: error: " << error.Message() << '\n';
    return kExitFailed;
}

EExitCode Dump(const CDumpCommand& command, CByteSink& out, std::ostream& err) {
    CError error;
    COutputSetReader reader;
    std::vector<CError> notes;
    bool opened = reader.Open(
        command.m_strDir,
        [&err, &command] { err << "halvic: " << WaitingMessage(command.m_strDir) << std::endl; },
        error, notes);
    for (const CError& note : notes)
        err << "halvic: warning: " << note.Message() << '\n';
    if (!opened) return Fail(out, err, error);
    const COutputTables& tables = reader.Tables();
    const std::string& recordFile = reader.RecordFileName();
    if (command.m_format == EDumpFormat::kCsv) {
        if (command.m_bByteOrderMark) out.Write(std::string_view("\xEF\xBB\xBF"));
        out.Write(std::string_view(kCsvHeader));
    }
    CTaggedWriter tagged(tables, out, recordFile);
    CDecoding decoding{command.m_encoding, command.m_bEncodingChosen};
    std::string line;
    CRecord record;
    std::uint64_t count = 0;
    std::uint64_t shown = 0;
    // Every record is read, also after the one asked for, so that a fault anywhere is reported.
    while (reader.Next(record)) {
        ++count;
        if (command.m_nRecord != 0 && count != command.m_nRecord) continue;
        if (command.m_nNumber >= 0 && record.m_nNumber != command.m_nNumber) continue;
        ++shown;
        line.clear();
        CDumpLine dumpLine{count, record, tables, decoding};
        switch (command.m_format) {
            case EDumpFormat::kText:
                AppendText(line, dumpLine);
                break;
            case EDumpFormat::kJsonl:
                AppendJson(line, dumpLine);
                break;
            case EDumpFormat::kCsv:
                AppendCsv(line, dumpLine);
                break;
            case EDumpFormat::kTagged:
                if (!tagged.Write(record, count, error)) return Fail(out, err, error);
                break;
        }
        out.Write(line);
    }
    if (reader.Failed()) return Fail(out, err, reader.Error());
    if (command.m_format == EDumpFormat::kTagged && !tagged.Finish(error)) {
        return Fail(out, err, error);
    }
    if (command.m_nRecord > count) {
        return Fail(
            out, err,
            {recordFile, 0,
             "there is no record " + std::to_string(command.m_nRecord) + ": the file holds " +
                 (count == 1 ? std::string("1 record") : std::to_string(count) + " records")});
    }
    if (command.m_nNumber >= 0 && shown == 0) {
        return Fail(out, err,
                    {recordFile, 0, "no record has number " + std::to_string(command.m_nNumber)});
    }
    out.Flush();
    if (decoding.m_nInvalid > 0) {
        static const char* const kNames[] = {"Latin-1", "cp1252", "UTF-8", "UTF-16"};
        err << "halvic: warning: " << decoding.m_nInvalid
            << (decoding.m_nInvalid == 1 ? " byte of the texts is" : " bytes of the texts are")
            << " not valid " << kNames[static_cast<int>(decoding.m_encoding)]
            << " and became U+FFFD; --encoding latin1 keeps every byte, and --format text shows "
               "such bytes as \\xHH\n";
    }
    return kExitOk;
}

// The directory a DIR names: one of the seven files stands for the directory that holds it.
std::string SetDirectory(const std::string& named) {
    std::string::size_type slash = named.find_last_of(kPathSeparators);
    std::string base = slash == std::string::npos ? named : named.substr(slash + 1);
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        if (base == OutputFileName(i) && StatusOf(named).m_kind == EFileKind::kRegular)
            return slash == std::string::npos ? "" : named.substr(0, slash == 0 ? 1 : slash);
    }
    return named;
}

}  // namespace

void CDescriptorSink::Drain(const unsigned char* data, std::size_t size) {
    WriteToFile(m_file, data, size, m_strName);
}

EExitCode RunDump(const CDumpCommand& given, CByteSink& out, std::ostream& err) {
    CDumpCommand command = given;
    command.m_strDir = SetDirectory(given.m_strDir);
    try {
        if (command.m_format == EDumpFormat::kTagged && command.m_bEncodingChosen &&
            (command.m_encoding == EEncoding::kUtf8 || command.m_encoding == EEncoding::kUtf16)) {
            // Tagged text in UTF-8 or UTF-16 that a conversion reads back by its byte-order mark.
            CEncodedTextSink encoded(out, command.m_encoding == EEncoding::kUtf8
                                              ? EInputEncoding::kUtf8
                                              : EInputEncoding::kUtf16LE);
            EExitCode code = Dump(command, encoded, err);
            out.Flush();
            return code;
        }
        return Dump(command, out, err);
    } catch (const CFailure& failure) {
        // Only the output fails by throwing: a fault of the files read is a value.
        err << "halvic: error: " << failure.Error().Message() << '\n';
        return kExitFailed;
    } catch (const std::bad_alloc&) {
        // The reader reports memory that runs out while it reads; here it ran out while the
        // lines of the record file's records were made.
        return Fail(out, err, {JoinPath(command.m_strDir, kRecordFileName), 0, "out of memory"});
    }
}

}  // namespace halvic::cli
