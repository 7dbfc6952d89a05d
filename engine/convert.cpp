#include "engine/convert.h"

#include <new>

#include "engine/decoders.h"
#include "engine/file.h"

namespace halvic {

std::string ShowTag(std::string_view tag, bool cut) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown = "<";
    for (char ch : tag) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown.push_back(ch);
        } else {
            shown += "\\x";
            shown.push_back(kHex[byte >> 4]);
            shown.push_back(kHex[byte & 15]);
        }
    }
    if (cut) shown += "...";
    shown += ">";
    return shown;
}

std::string OutputPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings) {
    CConvertSummary summary;
    CRecord record;
    CTagNotes notes;
    std::string_view tag;
    std::string_view content;
    while (reader.ReadTag(tag, content)) {
        if (tag != "@") {
            // A group ends at "@", at an empty tag or at the end of the input, so a tag other
            // than "@" here either starts the file or follows an empty tag.
            std::string shown = ShowTag(tag, reader.TagCut());
            warnings.push_back(
                {reader.Name(), reader.TagLine(),
                 summary.m_nRecords == 0
                     ? "the first tag is " + shown + ", not <@>; nothing was converted"
                     : "tag " + shown +
                           " follows an empty tag <> but is not <@>; the rest of the input "
                           "was ignored"});
            break;
        }
        record.ReadFields(ParseDigits(content), reader, tables, notes);
        record.Write(records);
        ++summary.m_nRecords;
    }
    for (const CUnknownTag& unknown : notes.Tags()) {
        warnings.push_back(
            {reader.Name(), unknown.m_nLine,
             "tag " + ShowTag(unknown.m_strTag, unknown.m_bCut) + " selects no field; ignored"});
    }
    for (std::size_t i = 0; i < kTableCount; ++i)
        summary.m_distinctTexts[i] = tables[i].Count();
    return summary;
}

CConvertResult ConvertFile(const std::string& path, const CConvertOptions& options) {
    CConvertResult result;
    CInputFile input;
    if (options.m_bDashMeansStdin && path == "-") {
        input.OpenStandardInput();
    } else if (!input.Open(path, result.m_error)) {
        return result;
    }

    // Created before reading, so that a missing or read-only output directory is reported at
    // once; the targets are replaced only at the very end.
    std::array<CReplacingFile, 1 + kTableCount> outputs;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        std::string name = i == 0 ? kRecordFileName : TableFileName(i - 1);
        if (!outputs[i].Create(OutputPath(options.m_strOutputDir, name), result.m_error)) {
            return result;
        }
    }
    try {
        CTagFile reader(input, input.Name());
        CValueTables tables;
        result.m_summary = ConvertTags(reader, outputs[0], tables, result.m_warnings);
        std::array<CByteSink*, kTableCount> sinks;
        for (std::size_t i = 0; i < kTableCount; ++i)
            sinks[i] = &outputs[i + 1];
        WriteTables(tables, sinks);
        for (CReplacingFile& output : outputs) {
            output.Finish();
            result.m_summary.m_nBytesWritten += output.BytesWritten();
        }
    } catch (const CFailure& failure) {
        result.m_error = failure.Error();
        return result;
    } catch (const std::bad_alloc&) {
        result.m_error = {input.Name(), 0, "out of memory"};
        return result;
    }
    CInterruptsHeld held;  // interrupted, the targets are all new or all as they were
    for (CReplacingFile& output : outputs) {
        if (!output.Commit(result.m_error)) return result;
    }
    result.m_bOk = true;
    return result;
}

}  // namespace halvic
