#include "engine/conversion/part.h"

#include <algorithm>

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
        : m_reader(reader), m_part(part), m_records(part.m_strRecords) {}

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
            // A view while the content lasts (the part's own bytes): a text is copied once, into
            // the records.
            if (m_reader.ContentLasts()) {
                m_text = content;
            } else {
                m_strText.assign(content);
                m_text = m_strText;
            }
        }
    }
    void End() {
        m_part.m_textCounts.push_back(m_nTexts);
        m_nTexts = 0;
        if (m_nSet == kAllCarried) {
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

}  // namespace

void CPart::Clear() {
    m_strRecords.clear();
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
