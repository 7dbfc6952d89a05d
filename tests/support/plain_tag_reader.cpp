#include "tests/support/plain_tag_reader.h"

#include "engine/io/byte_stream.h"
#include "engine/text/tag_file.h"

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

std::string ReaderDifference(std::string_view input, std::size_t blockSize, std::size_t step,
                             bool lends,
                             const std::function<bool(std::size_t, std::string_view)>& pushBack) {
    CMemorySource source(input, step, lends);
    CTagFile fast(source, "fast", blockSize);
    CPlainTagReader plain(input);
    std::string plainTag;
    std::string plainContent;
    bool lastWasPushback = false;
    // A pair that is not a pushback takes at least one byte.
    const std::size_t maxPairs = 2 * input.size() + 4;
    for (std::size_t pair = 0; pair <= maxPairs; ++pair) {
        auto at = [pair](const std::string& what) {
            return "pair " + std::to_string(pair) + ": " + what;
        };
        bool push = !lastWasPushback && pushBack(pair, plainTag);
        lastWasPushback = push;
        if (push) fast.m_bPushedBack = plain.m_bPushedBack = 1;
        std::string_view fastTag;
        std::string_view fastContent;
        bool fastOk = fast.ReadTag(fastTag, fastContent);
        bool plainOk = plain.ReadTag(plainTag, plainContent);
        if (fastOk != plainOk) return at("one reader ended, the other did not");
        if (fastTag != std::string_view(plainTag).substr(0, CTagFile::kTagKept)) {
            return at("tags differ: \"" + std::string(fastTag) + "\" and \"" + plainTag + "\"");
        }
        if (fast.TagCut() != (plainTag.size() > CTagFile::kTagKept)) {
            return at("the tag was cut by one reader only");
        }
        if (!fastOk) return "";
        if (fastContent != plainContent) {
            return at("contents differ: \"" + std::string(fastContent) + "\" and \"" +
                      plainContent + "\"");
        }
        if (fast.TagLine() != plain.TagLine()) {
            return at("tag lines differ: " + std::to_string(fast.TagLine()) + " and " +
                      std::to_string(plain.TagLine()));
        }
    }
    return "the readers never reach the end of the input";
}

}  // namespace halvic::testing
