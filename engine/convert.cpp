#include "engine/convert.h"

#include <new>

#include "engine/decoders.h"
#include "engine/file.h"
#include "engine/mapped_file.h"

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

namespace {

// Reads groups ahead of their records and applies them in batches, so that the table look-ups of
// many records wait for memory at the same time instead of one after another. Batching changes
// when things happen, never what: the pairs are applied in input order, and a read failure is
// raised only after everything read before it has been applied (a full table found there is
// reported first, as it would have been).
class CBatchedConversion {
  public:
    CBatchedConversion(CTagFile& reader, CByteSink& records, CValueTables& tables)
        : m_reader(reader), m_records(records), m_tables(tables) {}

    CConvertSummary Run(std::vector<CWarning>& warnings);

  private:
    enum EKind : std::uint8_t { kStart, kField, kEnd };
    struct CEvent {
        EKind m_eKind = kStart;
        CFieldChoice m_choice;
        bool m_bCut = false;
        std::uint16_t m_nNumber = 0;  // kStart
        std::size_t m_nOffset = 0;    // the content in m_strBytes, then an unknown tag's text
        std::size_t m_nLength = 0;
        std::size_t m_nTagLength = 0;
        std::uint64_t m_nLine = 0;
        std::uint64_t m_nHash = 0;  // a table's text
    };

    // Applied at once instead of copied: long contents, whose copy would cost more memory
    // than it saves time.
    static constexpr std::size_t kLongContent = 4096;
    static constexpr std::size_t kMaxEvents = 1024;
    static constexpr std::size_t kMaxBytes = 1 << 16;

    bool Read(std::string_view& tag, std::string_view& content);
    void AddField(std::string_view tag, std::string_view content);
    void ApplyTable(std::size_t table, std::string_view content, std::uint64_t hash,
                    std::uint64_t line);
    void Apply();
    std::string_view Bytes(std::size_t offset, std::size_t length) const {
        return std::string_view(m_strBytes).substr(offset, length);
    }

    CTagFile& m_reader;
    CByteSink& m_records;
    CValueTables& m_tables;
    CRecord m_record;
    CTagNotes m_notes;
    std::uint64_t m_nRecords = 0;
    std::vector<CEvent> m_events;
    std::string m_strBytes;
};

bool CBatchedConversion::Read(std::string_view& tag, std::string_view& content) {
    try {
        return m_reader.ReadTag(tag, content);
    } catch (const CFailure&) {
        Apply();
        throw;
    }
}

void CBatchedConversion::AddField(std::string_view tag, std::string_view content) {
    CFieldChoice choice = ChooseField(tag);
    if (content.size() > kLongContent) {
        Apply();
        if (choice.m_eKind == CFieldChoice::kTable) {
            ApplyTable(choice.m_nTable, content, CValueTable::Hash(content), m_reader.TagLine());
        } else if (choice.m_eKind == CFieldChoice::kNone) {
            m_notes.Note(tag, m_reader.TagCut(), m_reader.TagLine());
        } else {
            m_record.SetField(choice, content);
        }
        return;
    }
    CEvent& event = m_events.emplace_back();
    event.m_eKind = kField;
    event.m_choice = choice;
    event.m_bCut = m_reader.TagCut();
    event.m_nLine = m_reader.TagLine();
    event.m_nOffset = m_strBytes.size();
    event.m_nLength = content.size();
    m_strBytes.append(content);
    if (choice.m_eKind == CFieldChoice::kNone) {
        event.m_nTagLength = tag.size();
        m_strBytes.append(tag);
    }
}

void CBatchedConversion::ApplyTable(std::size_t table, std::string_view content, std::uint64_t hash,
                                    std::uint64_t line) {
    std::uint16_t id = m_tables[table].Intern(content, hash);
    if (id == 0) throw TableFullFailure(m_reader.Name(), line, table);
    m_record.tableIds[table] = id;
}

void CBatchedConversion::Apply() {
    for (CEvent& event : m_events) {
        if (event.m_eKind == kField && event.m_choice.m_eKind == CFieldChoice::kTable) {
            event.m_nHash = CValueTable::Hash(Bytes(event.m_nOffset, event.m_nLength));
            m_tables[event.m_choice.m_nTable].PrefetchSlot(event.m_nHash);
        }
    }
    for (const CEvent& event : m_events) {
        if (event.m_eKind == kField && event.m_choice.m_eKind == CFieldChoice::kTable)
            m_tables[event.m_choice.m_nTable].PrefetchText(event.m_nHash);
    }
    // Events are taken off the batch as they are applied, so that a failure part of the way
    // through leaves none to be applied twice.
    std::vector<CEvent> events;
    events.swap(m_events);
    // The record's text stays a view into the batch until the batch is done: one copy fewer.
    std::string_view text = m_record.text;
    bool textInBatch = false;
    for (const CEvent& event : events) {
        std::string_view content = Bytes(event.m_nOffset, event.m_nLength);
        if (event.m_eKind == kStart) {
            m_record.number = event.m_nNumber;
        } else if (event.m_eKind == kEnd) {
            m_record.Write(m_records, text);
            ++m_nRecords;
        } else if (event.m_choice.m_eKind == CFieldChoice::kText) {
            text = content;
            textInBatch = true;
        } else if (event.m_choice.m_eKind == CFieldChoice::kTable) {
            ApplyTable(event.m_choice.m_nTable, content, event.m_nHash, event.m_nLine);
        } else if (event.m_choice.m_eKind == CFieldChoice::kNone) {
            m_notes.Note(Bytes(event.m_nOffset + event.m_nLength, event.m_nTagLength), event.m_bCut,
                         event.m_nLine);
        } else {
            m_record.SetField(event.m_choice, content);
        }
    }
    if (textInBatch) m_record.text.assign(text);
    events.clear();
    events.swap(m_events);  // keeps the capacity for the next batch
    m_strBytes.clear();
}

CConvertSummary CBatchedConversion::Run(std::vector<CWarning>& warnings) {
    std::string_view tag;
    std::string_view content;
    bool stopped = false;  // by a tag other than "@" where a group should start
    std::string stopTag;
    bool stopCut = false;
    std::uint64_t stopLine = 0;
    while (Read(tag, content)) {
        if (tag != "@") {
            // A group ends at "@", at an empty tag or at the end of the input, so a tag other
            // than "@" here either starts the file or follows an empty tag.
            stopped = true;
            stopTag.assign(tag);
            stopCut = m_reader.TagCut();
            stopLine = m_reader.TagLine();
            break;
        }
        CEvent& start = m_events.emplace_back();
        start.m_eKind = kStart;
        start.m_nNumber = static_cast<std::uint16_t>(ParseDigits(content));
        // The group's pairs, up to the next "@" (handed back to the reader), an empty tag or the
        // end of the input, where the tag is empty too.
        Read(tag, content);
        while (tag != "@" && !tag.empty()) {
            AddField(tag, content);
            // A long group is applied part by part: memory stays bounded whatever its length, and
            // a full table stops the reading at once.
            if (m_events.size() >= kMaxEvents || m_strBytes.size() >= kMaxBytes) Apply();
            Read(tag, content);
        }
        if (tag == "@") m_reader.m_bPushedBack = 1;
        m_events.emplace_back().m_eKind = kEnd;
        if (m_events.size() >= kMaxEvents || m_strBytes.size() >= kMaxBytes) Apply();
    }
    Apply();

    if (stopped) {
        std::string shown = ShowTag(stopTag, stopCut);
        warnings.push_back({m_reader.Name(), stopLine,
                            m_nRecords == 0
                                ? "the first tag is " + shown + ", not <@>; nothing was converted"
                                : "tag " + shown +
                                      " follows an empty tag <> but is not <@>; the rest of the "
                                      "input was ignored"});
    }
    for (const CUnknownTag& unknown : m_notes.Tags()) {
        warnings.push_back(
            {m_reader.Name(), unknown.m_nLine,
             "tag " + ShowTag(unknown.m_strTag, unknown.m_bCut) + " selects no field; ignored"});
    }
    CConvertSummary summary;
    summary.m_nRecords = m_nRecords;
    for (std::size_t i = 0; i < kTableCount; ++i)
        summary.m_distinctTexts[i] = m_tables[i].Count();
    return summary;
}

}  // namespace

CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings) {
    return CBatchedConversion(reader, records, tables).Run(warnings);
}

CConvertResult ConvertFile(const std::string& path, const CConvertOptions& options) {
    CConvertResult result;
    CInputFile input;
    // A regular file is mapped rather than read; anything else (standard input, a pipe, a file
    // that cannot be mapped) is read as a stream.
    CMappedFile mapped;
    CByteSource* source = &mapped;
    if (options.m_bDashMeansStdin && path == "-") {
        input.OpenStandardInput();
        source = &input;
    } else if (!mapped.Map(path)) {
        if (!input.Open(path, result.m_error)) return result;
        source = &input;
    }
    const std::string& inputName = source == &input ? input.Name() : path;

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
        CTagFile reader(*source, inputName);
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
        result.m_error = {inputName, 0, "out of memory"};
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
