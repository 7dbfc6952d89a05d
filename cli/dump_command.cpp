#include "cli/dump_command.h"

#include <algorithm>
#include <new>
#include <ostream>
#include <utility>
#include <vector>

#include "cli/record_lines.h"
#include "cli/text_encoding.h"
#include "engine/format/field_text.h"
#include "engine/format/output_reader.h"
#include "engine/format/tagged_writer.h"
#include "engine/set/output_set.h"
#include "engine/set/set_reader.h"

namespace halvic::cli {

namespace {

void AppendCsvField(std::string& line, std::string_view text, CDecoding& decoding,
                    CByteSink* spill) {
    bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quote) line.push_back('"');
    // In pieces, each written on once made: a long text is never held formatted whole.
    for (std::size_t pos = 0, length = 0; pos < text.size();) {
        for (const std::size_t stop = std::min(text.size(), pos + kSpillBytes); pos < stop;
             pos += length) {
            std::uint32_t code = CharacterAt(text, pos, decoding, length);
            if (code == '"') line.push_back('"');
            AppendUtf8(line, code);
        }
        Spill(line, spill);
    }
    if (quote) line.push_back('"');
}

const char* const kCsvHeader =
    "record,number,text,bValue,weight,weightCwt,easting,northing,gridRef,m,mText,a,aText,n,nText,"
    "i,iText,c,cText,s,sText\r\n";

void AppendCsv(std::string& line, const CDumpLine& d) {
    const CRecord& r = d.m_record;
    line += std::to_string(d.m_nIndex) + "," + std::to_string(r.m_nNumber) + ",";
    AppendCsvField(line, r.m_strText, d.m_decoding, d.m_pSpill);
    line += "," + std::to_string(r.m_nBValue) + "," + std::to_string(r.m_nWeight) + "," +
            WeightInCwt(r.m_nWeight) + "," + std::to_string(r.m_nEasting) + "," +
            std::to_string(r.m_nNorthing) + ",";
    std::string grid;
    if (HasGridReference(r, grid)) line += grid;
    for (std::size_t i = 0; i < kTableCount; ++i) {
        line += "," + std::to_string(r.m_tableIds[i]) + ",";
        if (d.HasText(i)) AppendCsvField(line, d.Text(i), d.m_decoding, d.m_pSpill);
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
        error, notes, command.m_nWaitSeconds);
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
        CDumpLine dumpLine{count, record, tables, decoding, &out};
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
                // The reader gives the next record a new text anyway.
                if (!tagged.Write(std::move(record), count, error)) return Fail(out, err, error);
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
    WarnOfInvalidBytes(decoding, err);
    return kExitOk;
}

}  // namespace

std::string SetDirectory(const std::string& named) {
    std::string::size_type slash = named.find_last_of(kPathSeparators);
    std::string base = slash == std::string::npos ? named : named.substr(slash + 1);
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        if (base == OutputFileName(i) && StatusOf(named).m_kind == EFileKind::kRegular)
            return slash == std::string::npos ? "" : named.substr(0, slash == 0 ? 1 : slash);
    }
    return named;
}

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
