#include "engine/format/tagged_writer.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "engine/format/field_text.h"

namespace halvic {

namespace {

const char* const kLineEnd = "\r\n";

}  // namespace

class CTaggedWriter::CLines {
  public:
    CLines& operator+=(std::string_view bytes) {
        m_strBytes += bytes;
        return *this;
    }
    CLines& operator+=(char byte) {
        m_strBytes += byte;
        return *this;
    }
    // A text, which must outlive the lines.
    void AddText(std::string_view text) { m_texts.push_back({m_strBytes.size(), text}); }
    void WriteTo(CByteSink& out) const {
        std::size_t from = 0;
        for (const auto& [at, text] : m_texts) {
            out.Write(std::string_view(m_strBytes).substr(from, at - from));
            out.Write(text);
            from = at;
        }
        out.Write(std::string_view(m_strBytes).substr(from));
    }

  private:
    std::string m_strBytes;
    std::vector<std::pair<std::size_t, std::string_view>> m_texts;  // and where each goes
};

CTaggedWriter::CTaggedWriter(const COutputTables& tables, CByteSink& out, std::string name)
    : m_tables(tables), m_out(out), m_strName(std::move(name)) {}

bool CTaggedWriter::Refuse(CError& error, const std::string& reason) const {
    error = {m_strName, 0, "record " + std::to_string(m_nIndex) + ": " + reason};
    return false;
}

bool CTaggedWriter::AddText(CLines& lines, char tag, std::string_view text, CError& error) const {
    // A content ends at "<", loses its control characters and is trimmed of spaces.
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == '<') {
            char shown[8];
            std::snprintf(shown, sizeof shown, byte == '<' ? "<" : "\\x%02X", byte);
            return Refuse(error, "<" + std::string(1, tag) + "> text holds " + shown +
                                     ", which a tagged text cannot carry");
        }
    }
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) {
        return Refuse(error, "<" + std::string(1, tag) +
                                 "> text begins or ends with a space, which a tagged text "
                                 "cannot carry");
    }
    lines += '<';
    lines += tag;
    lines += '>';
    // The ">" bytes right after a tag belong to the tag; a line break keeps them in the content.
    if (!text.empty() && text.front() == '>') lines += kLineEnd;
    lines.AddText(text);
    lines += kLineEnd;
    return true;
}

bool CTaggedWriter::AddTableTexts(CLines& lines, std::size_t table, std::size_t id,
                                  CError& error) const {
    for (std::size_t next = m_written[table] + 1; next <= id; ++next) {
        if (!AddText(lines, kTableLetters[table], m_tables[table][next - 1], error)) return false;
    }
    return true;
}

bool CTaggedWriter::Write(const CRecord& record, std::uint64_t index, CError& error) {
    if (!WriteLines(record, index, error)) return false;
    m_previous = record;
    return true;
}

bool CTaggedWriter::Write(CRecord&& record, std::uint64_t index, CError& error) {
    if (!WriteLines(record, index, error)) return false;
    m_previous = std::move(record);
    return true;
}

bool CTaggedWriter::WriteLines(const CRecord& record, std::uint64_t index, CError& error) {
    m_nIndex = index;
    CLines lines;
    if (index > 1) lines += kLineEnd;
    lines += "<@>" + std::to_string(record.m_nNumber) + kLineEnd;
    if (record.m_strText != m_previous.m_strText && !AddText(lines, 'l', record.m_strText, error))
        return false;
    if (record.m_nBValue != m_previous.m_nBValue) {
        lines += "<b>" + std::to_string(record.m_nBValue) + kLineEnd;
    }
    if (record.m_nEasting != m_previous.m_nEasting ||
        record.m_nNorthing != m_previous.m_nNorthing) {
        std::string content;
        if (!GridContent(record.m_nEasting, record.m_nNorthing, content)) {
            return Refuse(error, "easting " + std::to_string(record.m_nEasting) + ", northing " +
                                     std::to_string(record.m_nNorthing) +
                                     ": no <g> tag gives this point");
        }
        lines += "<g>" + content + kLineEnd;
    }
    if (record.m_nWeight != m_previous.m_nWeight) {
        std::string content;
        if (!WeightContent(record.m_nWeight, content)) {
            return Refuse(error, "weight " + std::to_string(record.m_nWeight) +
                                     " lb: no <t> tag gives more than 35955 lb");
        }
        lines += "<t>" + content + kLineEnd;
    }
    std::array<std::size_t, kTableCount> written = m_written;
    for (std::size_t table = 0; table < kTableCount; ++table) {
        std::size_t id = record.m_tableIds[table];
        std::size_t before = m_previous.m_tableIds[table];
        if (id == before) continue;
        if (id == 0) {
            return Refuse(error, std::string("table ") + kTableLetters[table] +
                                     " has no text after text " + std::to_string(before) +
                                     ": a table field cannot be cleared");
        }
        if (id > written[table]) {
            // Texts that took their identifiers here, the last of them the one the record keeps.
            if (!AddTableTexts(lines, table, id, error)) return false;
            written[table] = id;
        } else if (!AddText(lines, kTableLetters[table], m_tables[table][id - 1], error)) {
            return false;
        }
    }
    lines.WriteTo(m_out);
    m_written = written;
    return true;
}

bool CTaggedWriter::Finish(CError& error) {
    CLines lines;
    for (std::size_t table = 0; table < kTableCount && m_nIndex == 0; ++table) {
        if (!m_tables[table].empty()) {
            error = {m_strName, 0,
                     std::string("there is no record, but table ") + kTableLetters[table] +
                         " holds texts: only a record gives a table a text"};
            return false;
        }
    }
    for (std::size_t table = 0; table < kTableCount; ++table) {
        if (m_written[table] == m_tables[table].size()) continue;
        std::size_t kept = m_previous.m_tableIds[table];
        if (kept == 0) {
            return Refuse(error, std::string("table ") + kTableLetters[table] + " holds " +
                                     std::to_string(m_tables[table].size()) +
                                     " texts, but no record keeps one");
        }
        // The last record's group takes them, then its own text again.
        if (!AddTableTexts(lines, table, m_tables[table].size(), error)) return false;
        if (!AddText(lines, kTableLetters[table], m_tables[table][kept - 1], error)) return false;
        m_written[table] = m_tables[table].size();
    }
    lines.WriteTo(m_out);
    return true;
}

CEncodedTextSink::CEncodedTextSink(CByteSink& out, EInputEncoding encoding)
    : m_out(out), m_eEncoding(encoding) {
    std::string mark;
    if (m_eEncoding == EInputEncoding::kUtf8) {
        AppendUtf8(mark, 0xFEFF);
    } else {
        AppendUtf16(mark, 0xFEFF, m_eEncoding == EInputEncoding::kUtf16BE);
    }
    m_out.Write(mark);
}

void CEncodedTextSink::Drain(const unsigned char* data, std::size_t size) {
    // In pieces: a long text written whole is encoded a piece at a time.
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    for (std::size_t from = 0; from < size; from += kPiece) {
        m_strEncoded.clear();
        for (std::size_t i = from; i < std::min(size, from + kPiece); ++i) {
            std::uint32_t code = FromWindows1252(data[i]);
            if (m_eEncoding == EInputEncoding::kUtf8) {
                AppendUtf8(m_strEncoded, code);
            } else {
                AppendUtf16(m_strEncoded, code, m_eEncoding == EInputEncoding::kUtf16BE);
            }
        }
        m_out.Write(m_strEncoded);
    }
}

}  // namespace halvic
