#include "engine/conversion/conversion.h"

#include <algorithm>
#include <array>
#include <utility>

#include "engine/format/decoders.h"
#include "engine/format/field_text.h"
#include "engine/format/record_format.h"

namespace halvic {

CError NothingConverted(const std::string& inputName, const CStop& stop) {
    if (!stop.m_bStopped) {
        return {inputName, 0,
                "no record was converted, since the file holds no tag, and no file was replaced"};
    }
    const std::string& tag = stop.m_strTag;
    // The first tag is every byte before the first ">", so its start says what came first.
    std::string cause;
    if (tag.rfind("\xEF\xBB\xBF", 0) == 0) {
        cause = "the file begins with a byte-order mark (EF BB BF): save it without one";
    } else if (!tag.empty() && (tag[0] == '\r' || tag[0] == '\n')) {
        cause = "the file begins with a blank line: it must begin with <@>";
    } else if (!tag.empty() && (tag[0] == ' ' || tag[0] == '\t')) {
        cause = "the file begins with a space: it must begin with <@>";
    } else if (tag.find('<') != std::string::npos) {
        cause = "text comes before the first <@>: the file must begin with <@>";
    } else {
        cause = "every record begins with <@>, and so must the file";
    }
    return {inputName, stop.m_nLine,
            "the first tag is " + ShowTag(tag, stop.m_bCut) +
                ", not <@>, so no record was converted and no file was replaced; " + cause};
}
void CValueNotes::Add(EWarningKind kind, std::uint64_t line, std::string warning) {
    CKind& noted = m_kinds[static_cast<std::size_t>(kind)];
    if (noted.m_shown.size() < kShownPerKind) {
        noted.m_shown.push_back({line, std::move(warning)});
    } else {
        Count(kind, line, 1);
    }
}

void CValueNotes::Count(EWarningKind kind, std::uint64_t line, std::uint64_t count) {
    CKind& noted = m_kinds[static_cast<std::size_t>(kind)];
    if (noted.m_nMore == 0) noted.m_nMoreLine = line;
    noted.m_nMore += count;
}

void CValueNotes::Note(EWarningKind kind, std::uint64_t line, std::string_view content,
                       std::string (*warning)(std::string_view)) {
    std::string text = warning(content);
    if (!text.empty()) Add(kind, line, std::move(text));
}

void CValueNotes::NoteNumber(EWarningKind kind, std::uint64_t line, std::string_view content,
                             std::string (*warning)(std::string_view)) {
    if (m_kinds[static_cast<std::size_t>(kind)].m_shown.size() < kShownPerKind) {
        Note(kind, line, content, warning);
    } else {
        Count(kind, line, 1);
    }
}

void CValueNotes::NoteRepeated(std::uint64_t line, std::uint16_t number, std::uint64_t firstLine) {
    CKind& noted = m_kinds[static_cast<std::size_t>(EWarningKind::kRepeatedNumber)];
    if (noted.m_shown.size() < kShownPerKind) {
        noted.m_shown.push_back({line, RepeatedNumberWarning(number, firstLine)});
    } else {
        Count(EWarningKind::kRepeatedNumber, line, 1);
    }
}

void CValueNotes::Append(const CValueNotes& part, std::uint64_t lineOffset) {
    for (std::size_t k = 0; k < m_kinds.size(); ++k) {
        auto kind = static_cast<EWarningKind>(k);
        for (const CShown& shown : part.m_kinds[k].m_shown)
            Add(kind, lineOffset + shown.m_nLine, shown.m_strWarning);
        if (part.m_kinds[k].m_nMore != 0)
            Count(kind, lineOffset + part.m_kinds[k].m_nMoreLine, part.m_kinds[k].m_nMore);
    }
}

void CValueNotes::AddWarnings(const std::string& inputName, std::vector<CWarning>& warnings) const {
    for (std::size_t k = 0; k < m_kinds.size(); ++k) {
        for (const CShown& shown : m_kinds[k].m_shown)
            warnings.push_back({inputName, shown.m_nLine, shown.m_strWarning});
        if (m_kinds[k].m_nMore != 0) {
            warnings.push_back({inputName, m_kinds[k].m_nMoreLine,
                                MoreWarnings(static_cast<EWarningKind>(k), m_kinds[k].m_nMore)});
        }
    }
}

namespace {

// The fields a record can set but its table identifiers, as bits, and the bit of each choice.
constexpr unsigned kTextSet = 1;
constexpr unsigned kBValueSet = 2;
constexpr unsigned kWeightSet = 4;
constexpr unsigned kGridSet = 8;
constexpr unsigned kAllSet = 15;
constexpr unsigned SetBit(CFieldChoice::EKind kind) {
    switch (kind) {
        case CFieldChoice::kText:
            return kTextSet;
        case CFieldChoice::kBValue:
            return kBValueSet;
        case CFieldChoice::kWeight:
            return kWeightSet;
        case CFieldChoice::kGridRef:
            return kGridSet;
        default:
            return 0;
    }
}

// Contents longer than this are moved out of the reader rather than copied: a text of many
// megabytes is then held once.
constexpr std::size_t kLongContent = 4096;

// Notes the content of an "@" pair when its record number is stored otherwise than written.
void CheckNumber(std::string_view content, std::uint64_t line, CValueNotes& notes) {
    if (!RecordNumberAsWritten(content))
        notes.NoteNumber(EWarningKind::kRecordNumber, line, content, RecordNumberWarning);
}

// Notes the content of a field of `kind` when it is stored otherwise than written.
void CheckContent(CFieldChoice::EKind kind, std::string_view content, std::uint64_t line,
                  CValueNotes& notes) {
    switch (kind) {
        case CFieldChoice::kGridRef:
            if (!GridRefAsWritten(content))
                notes.Note(EWarningKind::kGridRef, line, content, GridRefWarning);
            break;
        case CFieldChoice::kWeight:
            if (!WeightAsWritten(content))
                notes.Note(EWarningKind::kWeight, line, content, WeightWarning);
            break;
        case CFieldChoice::kBValue:
            if (!ByteValueAsWritten(content))
                notes.NoteNumber(EWarningKind::kByteValue, line, content, ByteValueWarning);
            break;
        default:
            break;
    }
}

void PutId(std::string& bytes, std::size_t at, std::uint16_t id) {
    bytes[at] = static_cast<char>(id & 0xFF);
    bytes[at + 1] = static_cast<char>(id >> 8);
}

// The groups of a part: records that set every field but the tables within the part are written
// at once, with their identifiers left to the join; the others wait for the record before the part.
class CPartGroups {
  public:
    CPartGroups(CTagFile& reader, CPart& part)
        : m_reader(reader), m_part(part), m_records(part.m_strRecords) {}

    void Stop(std::string_view tag) {
        m_part.m_stop = {true, std::string(tag), m_reader.TagCut(), m_reader.TagLine()};
    }
    void Start(std::string_view content) {
        m_record.m_nNumber = static_cast<std::uint16_t>(ParseDigits(content));
        auto line = static_cast<std::uint32_t>(m_reader.TagLine());
        CheckNumber(content, line, m_part.m_values);
        m_part.m_numbers.emplace_back(m_record.m_nNumber, line);
    }
    void Field(std::string_view tag, std::string_view content) {
        CFieldChoice choice = ChooseField(tag);
        switch (choice.m_eKind) {
            case CFieldChoice::kTable: {
                // Parts are at most CPart::kLargest bytes: offsets and lines fit 32 bits.
                CTableText text{CValueTable::Hash(content),
                                0,
                                static_cast<std::uint32_t>(content.size()),
                                static_cast<std::uint32_t>(m_reader.TagLine()),
                                choice.m_nTable,
                                !m_reader.ContentLasts()};
                if (text.m_bKept) {
                    text.m_nWhere = static_cast<std::uint32_t>(m_part.m_strKept.size());
                    m_part.m_strKept.append(content);
                } else {
                    text.m_nWhere =
                        static_cast<std::uint32_t>(content.data() - m_part.m_bytes.data());
                }
                m_part.m_texts.push_back(text);
                ++m_nTexts;
                break;
            }
            case CFieldChoice::kNone:
                m_part.m_notes.Note(tag, m_reader.TagCut(), m_reader.TagLine());
                break;
            case CFieldChoice::kText:
                // A view while the content lasts (the part's own bytes): a text is copied once,
                // into the records.
                m_nSet |= kTextSet;
                if (m_reader.ContentLasts()) {
                    m_text = content;
                } else {
                    m_strText.assign(content);
                    m_text = m_strText;
                }
                break;
            default:
                m_nSet |= SetBit(choice.m_eKind);
                m_record.SetField(choice, content);
                CheckContent(choice.m_eKind, content, m_reader.TagLine(), m_part.m_values);
                break;
        }
    }
    void End() {
        m_part.m_textCounts.push_back(m_nTexts);
        m_nTexts = 0;
        if (m_nSet == kAllSet) {
            std::size_t most = kRecordBytesBesidesText + m_text.size();
            if (m_records.size() - m_nUsed < most) Grow(most);
            unsigned char* out = reinterpret_cast<unsigned char*>(&m_records[0]);
            m_nUsed = static_cast<std::size_t>(PutRecord(out + m_nUsed, m_record, m_text) - out);
            m_part.m_idOffsets.push_back(static_cast<std::uint32_t>(m_nUsed - kIdsFromRecordEnd));
        } else {
            m_part.m_pending.push_back({m_record, m_nSet});
            m_part.m_pending.back().m_record.m_strText.assign(m_text);
        }
        ++m_part.m_nRecords;
    }
    void Finish() {
        m_records.resize(m_nUsed);
        m_record.m_strText.assign(m_text);
        m_part.m_last = std::move(m_record);
    }

  private:
    // Makes room for `most` more bytes. The records are put straight into the part's string,
    // which grows a step ahead of them: the zeros of a step are overwritten while still cached.
    void Grow(std::size_t most) {
        constexpr std::size_t kStep = 1 << 14;
        m_records.resize(std::max(m_records.size() + kStep, m_nUsed + most));
    }

    CTagFile& m_reader;
    CPart& m_part;
    std::string& m_records;  // the part's; its first m_nUsed bytes are records
    std::size_t m_nUsed = 0;
    CRecord m_record;  // all but its text
    std::string_view m_text;
    std::string m_strText;  // the text, when the reader's view of it does not last
    unsigned m_nSet = 0;
    std::uint32_t m_nTexts = 0;
};

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

void CPart::Clear() {
    m_strRecords.clear();
    m_idOffsets.clear();
    m_pending.clear();
    m_texts.clear();
    m_textCounts.clear();
    m_strKept.clear();
    m_notes = CTagNotes();
    m_values = CValueNotes();
    m_numbers.clear();
    m_last = CRecord();
    m_nRecords = 0;
    m_nLines = 0;
    m_stop = CStop();
    m_failure = nullptr;
}

void ConvertPart(std::string_view bytes, const std::string& name, CPart& part) {
    part.m_bytes = bytes;
    CMemorySource source(bytes, SIZE_MAX, true);
    CTagFile reader(source, name);
    CPartGroups groups(reader, part);
    ReadGroups(reader, groups);
    groups.Finish();
    part.m_nLines = reader.LinesRead();
}

// The plain loop's groups: each applied to the record as it is read, and written at its end.
class CJoinedConversion::CPlainGroups {
  public:
    CPlainGroups(CJoinedConversion& joined, CTagFile& reader)
        : m_joined(joined), m_reader(reader), m_record(joined.m_record) {}

    void Stop(std::string_view tag) {
        m_joined.m_stop = {true, std::string(tag), m_reader.TagCut(), Line()};
    }
    void Start(std::string_view content) {
        m_record.m_nNumber = static_cast<std::uint16_t>(ParseDigits(content));
        CheckNumber(content, Line(), m_joined.m_values);
        m_joined.m_numbers.See(m_record.m_nNumber, Line(), m_joined.m_values);
    }
    void Field(std::string_view tag, std::string_view content) {
        CFieldChoice choice = ChooseField(tag);
        switch (choice.m_eKind) {
            case CFieldChoice::kTable: {
                std::uint16_t id = m_joined.m_tables[choice.m_nTable].Intern(content);
                if (id == 0) throw TableFullFailure(m_joined.m_strName, Line(), choice.m_nTable);
                m_record.m_tableIds[choice.m_nTable] = id;
                break;
            }
            case CFieldChoice::kNone:
                m_joined.m_notes.Note(tag, m_reader.TagCut(), Line());
                break;
            case CFieldChoice::kText:
                if (content.size() > kLongContent) {
                    m_reader.TakeContent(m_record.m_strText);
                } else {
                    m_record.m_strText.assign(content);
                }
                break;
            default:
                m_record.SetField(choice, content);
                CheckContent(choice.m_eKind, content, Line(), m_joined.m_values);
                break;
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
    const std::vector<CTableText>& texts = part.m_texts;
    constexpr std::size_t kAhead = 8;  // look-ups whose memory is fetched ahead
    for (std::size_t k = 0; k < kAhead && k < texts.size(); ++k)
        m_tables[texts[k].m_nTable].PrefetchSlot(texts[k].m_nHash);
    std::size_t next = 0;
    auto TakeIds = [&](std::uint32_t count) {
        for (std::size_t end = next + count; next < end; ++next) {
            if (next + kAhead < texts.size()) {
                const CTableText& ahead = texts[next + kAhead];
                m_tables[ahead.m_nTable].PrefetchSlot(ahead.m_nHash);
            }
            const CTableText& text = texts[next];
            const char* base = text.m_bKept ? part.m_strKept.data() : part.m_bytes.data();
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
        unsigned set = waiting.m_nSet;
        if ((set & kTextSet) == 0) pending.m_strText = m_record.m_strText;
        if ((set & kBValueSet) == 0) pending.m_nBValue = m_record.m_nBValue;
        if ((set & kWeightSet) == 0) pending.m_nWeight = m_record.m_nWeight;
        if ((set & kGridSet) == 0) {
            pending.m_nEasting = m_record.m_nEasting;
            pending.m_nNorthing = m_record.m_nNorthing;
        }
        pending.m_tableIds = ids;
        pending.Write(m_records);
        m_record = std::move(pending);
    }
    for (std::size_t at : part.m_idOffsets) {
        TakeIds(part.m_textCounts[record++]);
        for (std::size_t t = 0; t < kTableCount; ++t)
            PutId(part.m_strRecords, at + 2 * t, ids[t]);
    }
    m_records.Hand(part.m_strRecords);
    if (!part.m_idOffsets.empty()) {
        m_record = std::move(part.m_last);
        m_record.m_tableIds = ids;
    }

    if (part.m_notes.MoreUses() == 0) {
        for (const CUnknownTag& unknown : part.m_notes.Tags())
            m_notes.Note(unknown.m_strTag, unknown.m_bCut, lineOffset + unknown.m_nLine,
                         unknown.m_nUses);
    } else {
        // The part met more distinct tags than it keeps: which of its uses are counted rather
        // than listed depends on the tags listed before it, so they are noted again in order.
        CMemorySource source(part.m_bytes, SIZE_MAX, true);
        CTagFile reader(source, m_strName);
        CUnknownTagGroups groups(reader, lineOffset, m_notes);
        ReadGroups(reader, groups);
    }
    m_values.Append(part.m_values, lineOffset);
    for (const auto& [number, line] : part.m_numbers)
        m_numbers.See(number, lineOffset + line, m_values);
    m_nRecords += part.m_nRecords;
    if (part.m_stop.m_bStopped) {
        m_stop = part.m_stop;
        m_stop.m_nLine += lineOffset;
    }
    m_nLines += part.m_nLines;
}

CConvertSummary CJoinedConversion::Finish(std::vector<CWarning>& warnings) const {
    std::vector<CWarning> found;
    for (const CUnknownTag& unknown : m_notes.Tags())
        found.push_back(
            {m_strName, unknown.m_nLine, UnknownTagWarning(unknown.m_strTag, unknown.m_bCut)});
    if (m_notes.MoreUses() != 0) {
        found.push_back({m_strName, m_notes.MoreLine(),
                         MoreWarnings(EWarningKind::kUnknownTag, m_notes.MoreUses())});
    }
    m_values.AddWarnings(m_strName, found);
    if (m_stop.m_bStopped) {
        std::string shown = ShowTag(m_stop.m_strTag, m_stop.m_bCut);
        found.push_back({m_strName, m_stop.m_nLine,
                         m_nRecords == 0
                             ? "the first tag is " + shown + ", not <@>; nothing was converted"
                             : "tag " + shown +
                                   " follows an empty tag <> but is not <@>; the rest of the "
                                   "input was ignored"});
    }
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
