#include "engine/text/tag_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace halvic {

using namespace tag_file_detail;

CTagFile::CTagFile(CByteSource& source, std::string name, std::size_t blockSize)
    : m_source(source),
      m_strName(std::move(name)),
      m_nBlockSize(blockSize == 0 ? 1 : blockSize),
      m_bLends(source.Lends()) {
    if (!m_bLends) m_block.reset(new unsigned char[m_nBlockSize]);
}

bool CTagFile::Fill() {
    if (m_bEof) return false;
    std::size_t n = 0;
    if (m_bLends) {
        std::string_view block = m_source.Lend();
        m_pNext = reinterpret_cast<const unsigned char*>(block.data());
        n = block.size();
    } else {
        n = m_source.Read(m_block.get(), m_nBlockSize);
        m_pNext = m_block.get();
    }
    if (n == 0) {
        // Sticky: a terminal would otherwise wait for a second end of input.
        m_bEof = true;
        m_pNext = m_pEnd = nullptr;
        return false;
    }
    m_pEnd = m_pNext + n;
    return true;
}

// Reads the tag's bytes up to its '>' (consumed). Tags are short, so a plain loop beats a call
// to memchr. Returns false at the end of the input.
bool CTagFile::ReadTagText() {
    for (;;) {
        const unsigned char* p = m_pNext;
        const unsigned char* end = m_pEnd;
        while (p != end) {
            unsigned char byte = *p++;
            if (byte == '>') {
                m_pNext = p;
                return true;
            }
            ++m_nTagLen;
            if (byte == '\n') ++m_nLine;
            // The tag's text ends at its first zero byte.
            if (byte == 0) m_bTagTextEnded = true;
            if (m_bTagTextEnded) continue;
            if (m_nTagTextLen < kTagKept) {
                m_szTag[m_nTagTextLen++] = static_cast<char>(byte);
            } else {
                m_bTagCut = true;
            }
        }
        m_pNext = p;
        if (!Fill()) return false;
    }
}

// The common case: a content that lies in the block whole, is shorter than a chunk and holds no
// control byte but those before its closing '<'. It is handed out as a view of the block, which
// stays valid until the next ReadTag (a pushed-back pair reads nothing), or for good when the
// source lent it. Returns false, having consumed nothing, for every other content.
bool CTagFile::FinishInBlock(std::string_view& content) {
    const unsigned char* begin = m_pNext;
    const unsigned char* stop = FindContentStop(begin, m_pEnd);
    auto length = static_cast<std::size_t>(stop - begin);
    // A chunk of 510 bytes is flushed by the next byte, a line break included.
    if (length >= kChunkFlush) return false;
    std::uint64_t lines = 0;
    const unsigned char* p = SkipControlBytes(stop, m_pEnd, lines);
    if (p == m_pEnd || *p != '<') return false;
    m_nLine += lines;
    m_pNext = p + 1;
    m_content = std::string_view(reinterpret_cast<const char*>(begin), length);
    m_bContentLent = m_bLends;
    m_nChunkLen = length;
    content = TrimSpaces(m_content);
    return true;
}

// Stores a run of bytes that are neither control bytes nor '<', as if one at a time: before each
// byte a chunk of kChunkFlush or more bytes is flushed, and the first byte may first receive the
// space that stands for the control bytes before it.
void CTagFile::AddContentRun(const unsigned char* begin, const unsigned char* end) {
    if (m_nChunkLen >= kChunkFlush) m_nChunkLen = 0;
    if (m_bPendingSpace) {
        m_bPendingSpace = false;
        // The test looks at the chunk only: right after a flush a line break adds no space.
        if (m_nChunkLen > 0 && m_strContent.back() != '-') {
            m_strContent.push_back(' ');
            ++m_nChunkLen;
        }
    }
    m_strContent.append(reinterpret_cast<const char*>(begin),
                        static_cast<std::size_t>(end - begin));
    std::size_t rest = static_cast<std::size_t>(end - begin) - 1;
    std::size_t len = m_nChunkLen + 1;
    if (rest == 0) {
        m_nChunkLen = len;
        return;
    }
    if (len < kChunkFlush) {
        if (len + rest <= kChunkFlush) {
            m_nChunkLen = len + rest;
            return;
        }
        rest -= kChunkFlush - len;
    }
    // Each byte that finds the chunk full flushes it and starts the next one.
    m_nChunkLen = (rest - 1) % kChunkFlush + 1;
}

void CTagFile::TakeContent(std::string& text) {
    std::string_view content = TrimSpaces(m_content);
    if (m_content.data() != m_strContent.data() || m_strContent.empty()) {
        text.assign(content);
        return;
    }
    auto begin = static_cast<std::size_t>(content.data() - m_strContent.data());
    m_strContent.resize(begin + content.size());
    m_strContent.erase(0, begin);
    text.swap(m_strContent);
    m_strContent.clear();
    m_strContent.shrink_to_fit();
    m_content = {};
    m_nChunkLen = 0;
}

bool CTagFile::Finish(std::string_view& tag, std::string_view& content) {
    m_tag = std::string_view(m_szTag, m_nTagTextLen);
    tag = m_tag;
    m_content = m_strContent;
    content = TrimSpaces(m_content);
    return true;
}

bool CTagFile::ReadTagSlowly(std::string_view& tag, std::string_view& content) {
    content = {};
    if (m_bPushedBack) {
        m_bPushedBack = 0;
        tag = m_tag;
        content = ContentAsPushedBack();
        return true;
    }
    m_nTagLen = 0;
    m_nTagTextLen = 0;
    m_bTagTextEnded = false;
    m_bTagCut = false;
    m_bTagUnclosed = false;
    m_strContent.clear();
    m_content = {};
    m_bContentLent = false;
    m_nChunkLen = 0;
    m_bPendingSpace = false;

    // The opening '<' is optional, and any number of them may stand before a tag.
    for (;;) {
        if (m_pNext == m_pEnd && !Fill()) goto end_of_input;
        if (*m_pNext != '<') break;
        ++m_pNext;
    }
    m_nTagLine = m_nLine;
    if (!ReadTagText()) {
        m_bTagUnclosed = true;
        goto end_of_input;
    }
    // Only the '>' bytes right after the tag are skipped; a later '>' is content.
    for (;;) {
        if (m_pNext == m_pEnd && !Fill()) goto end_of_input;
        if (*m_pNext != '>') break;
        ++m_pNext;
    }
    if (FinishInBlock(content)) {
        m_tag = std::string_view(m_szTag, m_nTagTextLen);
        tag = m_tag;
        return true;
    }
    for (;;) {
        if (m_pNext == m_pEnd && !Fill()) goto end_of_input;
        const unsigned char* stop = FindContentStop(m_pNext, m_pEnd);
        if (stop != m_pNext) AddContentRun(m_pNext, stop);
        m_pNext = stop;
        // A run of control bytes: each flushes a full chunk, and together they stand for one
        // space at most.
        while (m_pNext != m_pEnd && *m_pNext < 0x20) {
            if (m_nChunkLen >= kChunkFlush) m_nChunkLen = 0;
            m_bPendingSpace = true;
            if (*m_pNext++ == '\n') ++m_nLine;
        }
        if (m_pNext != m_pEnd && *m_pNext == '<') {
            ++m_pNext;
            return Finish(tag, content);
        }
    }

end_of_input:
    // Whatever the tag holds so far makes a pair; with no tag byte at all there is none.
    if (m_nTagLen == 0) {
        tag = {};
        m_nTagTextLen = 0;
        m_tag = {};
        return false;
    }
    return Finish(tag, content);
}

std::size_t FindPartStart(std::string_view input, std::size_t from) {
    // A reader is inside a content exactly when the last '<' or '>' it has read is a '>' (a '>'
    // ends a tag or belongs to a content; a '<' starts a tag or belongs to one). Looked for only
    // this far back: a part start is wanted near, not at, a given offset.
    constexpr std::size_t kLookBack = 4096;
    for (std::size_t p = from;; ++p) {
        p = input.find("<@>", p);
        if (p == std::string_view::npos) return input.size();
        std::size_t stop = p > kLookBack ? p - kLookBack : 0;
        std::size_t last = p;
        while (last > stop && input[last - 1] != '<' && input[last - 1] != '>')
            --last;
        if (last == stop || input[last - 1] != '>') continue;
        // The pair before must have a tag: a reader that meets the end of its input after an
        // empty tag hands out no pair, where one that goes on hands out the empty tag, which
        // stops the conversion. The last '<' starts that tag or lies inside it.
        while (last > stop && input[last - 1] != '<')
            --last;
        if (last == stop || input[last] == '>') continue;
        // A pushed-back pair hands out the last chunk of its content only, a reader that starts
        // here the whole of it: the same when it is shorter than a chunk.
        std::size_t next = input.find('<', p + 3);
        if (next == std::string_view::npos || next - (p + 3) >= CTagFile::kChunkFlush) continue;
        return p;
    }
}

}  // namespace halvic
