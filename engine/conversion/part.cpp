#include "engine/conversion/part.h"

#include <algorithm>
#include <cstring>

#include "engine/format/record_format.h"
#include "engine/format/value_table.h"
#include "engine/io/byte_stream.h"

namespace halvic {

namespace {

// The groups of a part: records that set every carried field within the part are encoded at once,
// with their identifiers left to the join; the others wait for the record before the part.
class CPartGroups {
  public:
    CPartGroups(CTagFile& reader, CPart& part)
        : m_reader(reader), m_part(part), m_records(part.m_records) {}

    void Stop(std::string_view tag) {
        m_part.m_stop = {true, std::string(tag), m_reader.TagCut(), m_reader.TagLine(),
                         m_reader.TagUnclosed()};
    }
    void Start(std::string_view content) {
        auto line = static_cast<std::uint32_t>(m_reader.TagLine());
        StartRecord(content, line, m_record, m_part.m_notes.m_values);
        m_part.m_numbers.emplace_back(m_record.m_nNumber, line);
    }
    void Field(std::string_view tag, std::string_view content) {
        const CFieldChoice choice = ApplyField(tag, content, m_reader, 0, m_record, m_part.m_notes);
        m_nSet |= CarriedBit(choice.m_eKind);
        if (choice.m_eKind == CFieldChoice::kTable) {
            // Parts are at most CPart::kLargest bytes: offsets and lines fit 32 bits. Filled in
            // place: a copy of a text put together on the stack waits for the stores of its fields.
            CTableText& text = m_part.m_texts.emplace_back();
            text.m_nHash = CValueTable::Hash(content);
            text.m_nLength = static_cast<std::uint32_t>(content.size());
            text.m_nLine = static_cast<std::uint32_t>(m_reader.TagLine());
            text.m_nTable = choice.m_nTable;
            text.m_bKept = !m_reader.ContentLasts();
            if (text.m_bKept) {
                text.m_nWhere = static_cast<std::uint32_t>(m_part.m_strKept.size());
                m_part.m_strKept.append(content);
            } else {
                text.m_nWhere = static_cast<std::uint32_t>(content.data() - m_part.m_bytes.data());
            }
            ++m_nTexts;
        } else if (choice.m_eKind == CFieldChoice::kText) {
            SetText(content);
        }
    }
    void End() {
        m_part.m_textCounts.push_back(m_nTexts);
        m_nTexts = 0;
        if (m_nSet == kAllCarried) {
            unsigned char* end = nullptr;
            if (TextInPlace()) {
                end = PutRecordTail(Records() + m_nTextAt + m_nTextLength, m_record, true);
            } else {
                Reserve(kRecordBytesBesidesText + Text().size());
                end = PutRecord(Records() + m_nUsed, m_record, Text());
            }
            m_nUsed = static_cast<std::size_t>(end - Records());
            m_part.m_idOffsets.push_back(static_cast<std::uint32_t>(m_nUsed - kIdsFromRecordEnd));
        } else {
            m_part.m_pending.push_back({m_record, m_nSet});
            m_part.m_pending.back().m_record.m_strText.assign(Text());
            // A text put in place lies where the next record goes: the records after keep a copy.
            if (TextInPlace()) {
                m_strText.assign(Text());
                m_text = m_strText;
                m_nTextAt = kNowhere;
            }
        }
        ++m_part.m_nRecords;
    }
    void Finish() {
        m_record.m_strText.assign(Text());
        m_records.Resize(m_nUsed);
        m_part.m_last = std::move(m_record);
    }

  private:
    static constexpr std::size_t kNowhere = SIZE_MAX;

    // A text the reader gathered (folded from several lines) lasts only until it reads on, so it
    // is put at once where the record's text goes, after the fields before it: copied once.
    // A view of the part's own bytes lasts, and is copied when the record is put.
    void SetText(std::string_view content) {
        m_nTextAt = kNowhere;
        m_text = content;
        if (m_reader.ContentLasts() || content.empty()) return;
        Reserve(kRecordBytesBesidesText + content.size());
        unsigned char* at = PutRecordHead(Records() + m_nUsed, m_record, true);
        std::memcpy(at, content.data(), content.size());
        m_nTextAt = static_cast<std::size_t>(at - Records());
        m_nTextLength = content.size();
    }
    // Whether the text was put in place for the record being read: it lies past the records put.
    bool TextInPlace() const { return m_nTextAt != kNowhere && m_nTextAt >= m_nUsed; }
    // The record's text: in the records, or a view.
    std::string_view Text() const {
        if (m_nTextAt == kNowhere) return m_text;
        return m_records.View().substr(m_nTextAt, m_nTextLength);
    }
    unsigned char* Records() { return m_records.Data(); }
    // Makes room for `most` more bytes after the records, which are put straight into the
    // part's buffer.
    void Reserve(std::size_t most) {
        if (m_records.Size() - m_nUsed < most) m_records.Resize(m_nUsed + most);
    }

    CTagFile& m_reader;
    CPart& m_part;
    COwnedBytes& m_records;  // the part's; its first m_nUsed bytes are records
    std::size_t m_nUsed = 0;
    CRecord m_record;  // all but its text
    // The text: m_nTextLength bytes at m_nTextAt in the records, or else m_text.
    std::string_view m_text;
    std::size_t m_nTextAt = kNowhere;
    std::size_t m_nTextLength = 0;
    std::string m_strText;  // a text that outlives the reader's view and the records
    unsigned m_nSet = 0;
    std::uint32_t m_nTexts = 0;
};

}  // namespace

void CPart::Clear() {
    m_records.Clear();
    m_idOffsets.clear();
    m_pending.clear();
    m_texts.clear();
    m_textCounts.clear();
    m_strKept.clear();
    m_notes = CGroupNotes();
    m_numbers.clear();
    m_last = CRecord();
    m_nRecords = 0;
    m_nLines = 0;
    m_stop = CStop();
    m_utf8 = CUtf8Seen();
    m_failure = nullptr;
}

void ConvertPart(std::string_view bytes, const std::string& name, CPart& part) {
    part.m_bytes = bytes;
    // The records take fewer bytes than their input but for inputs of tiny fields: grown from
    // nothing they would be copied a dozen times over.
    part.m_records.Reserve(bytes.size() + kRecordBytesBesidesText);
    CMemorySource source(bytes, SIZE_MAX, true);
    CTagFile reader(source, name);
    CPartGroups groups(reader, part);
    ReadGroups(reader, groups);
    groups.Finish();
    part.m_nLines = reader.LinesRead();
}

void CUtf8Seen::Join(const CUtf8Seen& next, std::uint64_t lineOffset) {
    if (m_bInvalid) return;
    m_bInvalid = next.m_bInvalid;
    if (m_bFound || !next.m_bFound) return;
    m_bFound = true;
    m_strText = next.m_strText;
    m_nLine = lineOffset + next.m_nLine;
}

void CUtf8Seen::Found(std::string_view bytes, std::size_t at, std::uint64_t linesBefore) {
    m_bFound = true;
    m_strText = ContentAround(bytes, at);
    m_nLine = linesBefore + 1 +
              static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.begin() + at, '\n'));
}

void ScanForUtf8(std::string_view bytes, CUtf8Seen& seen) {
    CUtf8Scan scan;
    std::size_t at = scan.Scan(bytes);
    scan.Finish();
    seen.m_bInvalid = scan.Invalid();
    // Of a part that is not UTF-8 nothing more is needed: the input is not UTF-8.
    if (at != SIZE_MAX && !seen.m_bInvalid) seen.Found(bytes, at, 0);
}

}  // namespace halvic
