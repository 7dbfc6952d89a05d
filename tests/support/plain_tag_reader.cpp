#include "tests/support/plain_tag_reader.h"

namespace halvic::testing {

namespace {

void Trim(std::string& text) {
    while (!text.empty() && text.front() == ' ')
        text.erase(0, 1);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
}

}  // namespace

bool CPlainTagReader::ReadByte(unsigned char& byte) {
    if (m_nPos == m_bytes.size()) return false;
    if (m_lastByte == '\n') ++m_nLine;
    byte = static_cast<unsigned char>(m_bytes[m_nPos++]);
    m_lastByte = byte;
    return true;
}

bool CPlainTagReader::ReadTag(std::string& tag, std::string& content) {
    content.clear();
    if (m_bPushedBack) {
        m_bPushedBack = 0;
        tag = m_strTag;
        content.append(m_szChunk, static_cast<std::size_t>(m_nChunkLen));
        Trim(content);
        return true;
    }
    m_nTagLen = 0;
    m_nChunkLen = 0;
    m_strTag.clear();
    m_bTagEnded = false;
    bool pendingSpace = false;
    unsigned char c = 0;

    if (!ReadByte(c)) goto end_of_input;
    while (c == '<') {
        if (!ReadByte(c)) goto end_of_input;
    }
    m_nTagLine = m_nLine;
    while (c != '>') {
        ++m_nTagLen;
        if (c == 0) m_bTagEnded = true;
        if (!m_bTagEnded) m_strTag.push_back(static_cast<char>(c));
        if (!ReadByte(c)) goto end_of_input;
    }
    if (!ReadByte(c)) goto end_of_input;
    while (c == '>') {
        if (!ReadByte(c)) goto end_of_input;
    }
    while (c != '<') {
        if (m_nChunkLen >= 510) {
            content.append(m_szChunk, static_cast<std::size_t>(m_nChunkLen));
            m_nChunkLen = 0;
        }
        if (c < 0x20) {
            pendingSpace = true;
        } else {
            if (pendingSpace) {
                pendingSpace = false;
                if (m_nChunkLen > 0 && m_szChunk[m_nChunkLen - 1] != '-') {
                    m_szChunk[m_nChunkLen++] = ' ';
                }
            }
            m_szChunk[m_nChunkLen++] = static_cast<char>(c);
        }
        if (!ReadByte(c)) goto end_of_input;
    }
    tag = m_strTag;
    content.append(m_szChunk, static_cast<std::size_t>(m_nChunkLen));
    Trim(content);
    return true;

end_of_input:
    if (m_nTagLen == 0) {
        tag.clear();
        return false;
    }
    tag = m_strTag;
    content.append(m_szChunk, static_cast<std::size_t>(m_nChunkLen));
    Trim(content);
    return true;
}

}  // namespace halvic::testing
