#include "engine/conversion/join.h"

#include <algorithm>
#include <array>
#include <utility>

#include "engine/format/record_format.h"

namespace halvic {

namespace {

// Contents longer than this are moved out of the reader rather than copied: a text of many
// megabytes is then held once.
constexpr std::size_t kLongContent = 4096;

// The tags of a part that select no field, as ConvertPart reads them, noted with lines counted on
// from `lineOffset`.
class CUnknownTagGroups {
  public:
    CUnknownTagGroups(CTagFile& reader, std::uint64_t lineOffset, CTagNotes& notes)
        : m_reader(reader), m_nLineOffset(lineOffset), m_notes(notes) {}
    void Stop(std::string_view) {}
    void Start(std::string_view) {}
    void Field(std::string_view tag, std::string_view) {
        if (ChooseField(tag).m_eKind == CFieldChoice::kNone)
            m_notes.Note(tag, m_reader.TagCut(), m_nLineOffset + m_reader.TagLine());
    }
    void End() {}

  private:
    CTagFile& m_reader;
    std::uint64_t m_nLineOffset;
    CTagNotes& m_notes;
};

}  // namespace

// The plain loop's groups: each applied to the record as it is read, and written at its end.
class CJoinedConversion::CPlainGroups {
  public:
    CPlainGroups(CJoinedConversion& joined, CTagFile& reader)
        : m_joined(joined), m_reader(reader), m_record(joined.m_record) {}

    void Stop(std::string_view tag) {
        m_joined.m_stop = {true, std::string(tag), m_reader.TagCut(), Line(),
                           m_reader.TagUnclosed()};
    }
    void Start(std::string_view content) {
        StartRecord(content, Line(), m_record, m_joined.m_notes.m_values);
        m_joined.m_numbers.See(m_record.m_nNumber, Line(), m_joined.m_notes.m_values);
    }
    void Field(std::string_view tag, std::string_view content) {
        const CFieldChoice choice =
            ApplyField(tag, content, m_reader, m_joined.m_nLines, m_record, m_joined.m_notes);
        if (choice.m_eKind == CFieldChoice::kTable) {
            std::uint16_t id = m_joined.m_tables[choice.m_nTable].Intern(content);
            if (id == 0) throw TableFullFailure(m_joined.m_strName, Line(), choice.m_nTable);
            m_record.m_tableIds[choice.m_nTable] = id;
        } else if (choice.m_eKind == CFieldChoice::kText) {
            if (content.size() > kLongContent) {
                m_reader.TakeContent(m_record.m_strText);
            } else {
                m_record.m_strText.assign(content);
            }
        }
    }
    void End() {
        m_record.Write(m_joined.m_records);
        ++m_joined.m_nRecords;
    }

  private:
    std::uint64_t Line() const { return m_joined.m_nLines + m_reader.TagLine(); }

    CJoinedConversion& m_joined;
    CTagFile& m_reader;
    CRecord& m_record;
};

void CJoinedConversion::ConvertRest(CTagFile& reader) {
    CPlainGroups groups(*this, reader);
    ReadGroups(reader, groups);
    m_nLines += reader.LinesRead();
}

void CJoinedConversion::Join(CPart& part) {
    if (part.m_failure) std::rethrow_exception(part.m_failure);
    std::uint64_t lineOffset = m_nLines;

    // The table texts take their identifiers in order, each record's before the record is
    // written; a text that finds its table full fails the conversion where it would have.
    std::array<std::uint16_t, kTableCount> ids = m_record.m_tableIds;
    // Held in locals: the look-ups write memory, so the vector's own fields would be read again
    // at every text.
    const CTableText* const texts = part.m_texts.data();
    const std::size_t textCount = part.m_texts.size();
    const char* const kept = part.m_strKept.data();
    const char* const bytes = part.m_bytes.data();
    // The memory of look-ups ahead is fetched in two steps: the index slot, then, once that has
    // arrived, the text it points to.
    constexpr std::size_t kSlotAhead = 16;
    constexpr std::size_t kTextAhead = 8;
    for (std::size_t k = 0; k < kSlotAhead && k < textCount; ++k)
        m_tables[texts[k].m_nTable].PrefetchSlot(texts[k].m_nHash);
    for (std::size_t k = 0; k < kTextAhead && k < textCount; ++k)
        m_tables[texts[k].m_nTable].PrefetchText(texts[k].m_nHash);
    std::size_t next = 0;
    auto TakeIds = [&](std::uint32_t count) {
        for (std::size_t end = next + count; next < end; ++next) {
            if (next + kSlotAhead < textCount) {
                const CTableText& ahead = texts[next + kSlotAhead];
                m_tables[ahead.m_nTable].PrefetchSlot(ahead.m_nHash);
            }
            if (next + kTextAhead < textCount) {
                const CTableText& ahead = texts[next + kTextAhead];
                m_tables[ahead.m_nTable].PrefetchText(ahead.m_nHash);
            }
            const CTableText& text = texts[next];
            const char* base = text.m_bKept ? kept : bytes;
            std::uint16_t id = m_tables[text.m_nTable].Intern(
                std::string_view(base + text.m_nWhere, text.m_nLength), text.m_nHash);
            if (id == 0)
                throw TableFullFailure(m_strName, lineOffset + text.m_nLine, text.m_nTable);
            ids[text.m_nTable] = id;
        }
    };

    std::size_t record = 0;
    // The records that keep fields from the record before the part take them now.
    for (CPendingRecord& waiting : part.m_pending) {
        TakeIds(part.m_textCounts[record++]);
        CRecord& pending = waiting.m_record;
        CarryFields(m_record, waiting.m_nSet, pending);
        pending.m_tableIds = ids;
        pending.Write(m_records);
        m_record = std::move(pending);
    }
    // The others were encoded with the part; only their identifiers are put in.
    unsigned char* records = part.m_records.Data();
    for (std::size_t at : part.m_idOffsets) {
        TakeIds(part.m_textCounts[record++]);
        PutTableIds(records + at, ids);
    }
    m_records.Hand(part.m_records);
    if (!part.m_idOffsets.empty()) {
        m_record = std::move(part.m_last);
        m_record.m_tableIds = ids;
    }

    JoinNotes(part, lineOffset);
    m_utf8.Join(part.m_utf8, lineOffset);
    m_nRecords += part.m_nRecords;
    if (part.m_stop.m_bStopped) {
        m_stop = part.m_stop;
        m_stop.m_nLine += lineOffset;
    }
    m_nLines += part.m_nLines;
}

void CJoinedConversion::JoinNotes(const CPart& part, std::uint64_t lineOffset) {
    const CTagNotes& tags = part.m_notes.m_tags;
    if (tags.MoreUses() == 0) {
        for (const CUnknownTag& unknown : tags.Tags())
            m_notes.m_tags.Note(unknown.m_strTag, unknown.m_bCut, lineOffset + unknown.m_nLine,
                                unknown.m_nUses);
    } else {
        // The part met more distinct tags than it keeps: which of its uses are counted rather
        // than listed depends on the tags listed before it, so they are noted again in order.
        CMemorySource source(part.m_bytes, SIZE_MAX, true);
        CTagFile reader(source, m_strName);
        CUnknownTagGroups groups(reader, lineOffset, m_notes.m_tags);
        ReadGroups(reader, groups);
    }
    m_notes.m_values.Append(part.m_notes.m_values, lineOffset);
    for (const auto& [number, line] : part.m_numbers)
        m_numbers.See(number, lineOffset + line, m_notes.m_values);
}

CConvertSummary CJoinedConversion::Finish(std::vector<CWarning>& warnings) const {
    std::vector<CWarning> found;
    m_notes.m_tags.AddWarnings(m_strName, found);
    m_notes.m_values.AddWarnings(m_strName, found);
    if (m_stop.m_bStopped)
        found.push_back({m_strName, m_stop.m_nLine, StopWarning(m_stop, m_nRecords)});
    if (m_utf8.m_bFound && !m_utf8.m_bInvalid)
        found.push_back({m_strName, m_utf8.m_nLine, Utf8LookAlikeWarning(m_utf8.m_strText)});
    // In line order, so that a person can go through the input from the top.
    std::stable_sort(found.begin(), found.end(),
                     [](const CWarning& a, const CWarning& b) { return a.m_nLine < b.m_nLine; });
    warnings.insert(warnings.end(), found.begin(), found.end());
    CConvertSummary summary;
    summary.m_nRecords = m_nRecords;
    for (std::size_t i = 0; i < kTableCount; ++i)
        summary.m_distinctTexts[i] = m_tables[i].Count();
    return summary;
}

CConvertSummary ConvertTags(CTagFile& reader, CByteSink& records, CValueTables& tables,
                            std::vector<CWarning>& warnings) {
    CJoinedConversion joined(reader.Name(), records, tables);
    joined.ConvertRest(reader);
    return joined.Finish(warnings);
}

}  // namespace halvic
