#include "engine/text/tag_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace halvic {

namespace {

inline bool IsContentStop(unsigned char byte) {
    return byte < 0x20 || byte == '<';
}

// The first byte in [p, end) that ends a run of stored content bytes: '<' or a control byte.
const unsigned char* FindContentStop(const unsigned char* p, const unsigned char* end) {
#ifdef __SSE2__
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i controlMax = _mm_set1_epi8(0x1F);
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // byte <= 0x1F (unsigned) exactly when max(byte, 0x1F) == 0x1F.
        __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, controlMax), controlMax);
        __m128i hits = _mm_or_si128(control, _mm_cmpeq_epi8(v, lt));
        int mask = _mm_movemask_epi8(hits);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p < end && !IsContentStop(*p))
        ++p;
    return p;
}

// The first byte in [p, end) after the control bytes at p, counting the line feeds among them.
const unsigned char* SkipControlBytes(const unsigned char* p, const unsigned char* end,
                                      std::uint64_t& lines) {
    // Most runs are a single line break, LF or CR LF.
    if (end - p >= 3) {
        if (p[0] == '\n' && p[1] >= 0x20) {
            ++lines;
            return p + 1;
        }
        if (p[0] == '\r' && p[1] == '\n' && p[2] >= 0x20) {
            ++lines;
            return p + 2;
        }
    }
    while (p != end && *p < 0x20)
        lines += *p++ == '\n';
    return p;
}

// Copies a run of `n` bytes of a line into a folded content 16 bytes at a time rather than by a
// call: up to 15 bytes more are read, where the block has them, and written, where the folded
// content has room for them.
void CopyRun(char* to, const unsigned char* from, std::size_t n, const unsigned char* end) {
    if (static_cast<std::size_t>(end - from) < n + 16) {
        std::memcpy(to, from, n);
        return;
    }
    for (std::size_t i = 0; i < n; i += 16)
        std::memcpy(to + i, from + i, 16);
}

std::string_view TrimSpaces(std::string_view text) {
    if (text.empty() || (text.front() != ' ' && text.back() != ' ')) return text;
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

}  // namespace

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

// The common pair, read in one go: it lies in the block whole, its tag is short and holds no
// control byte, and its content never fills a chunk (folded, it may span a few lines). Returns
// false, having changed nothing, for every other pair; the general steps then read it. Contents
// of one line are views of the block; longer ones are folded into m_szFolded.
bool CTagFile::ReadPairInBlock(std::string_view& tag, std::string_view& content) {
    const unsigned char* p = m_pNext;
    const unsigned char* const end = m_pEnd;
    while (p != end && *p == '<')
        ++p;
    const unsigned char* tagBegin = p;
    if (end - p >= 2 && p[1] == '>' && p[0] >= 0x20 && p[0] != '>') {
        // Almost every tag is one letter.
        ++p;
    } else {
        for (;;) {
            if (p == end) return false;
            unsigned char byte = *p;
            if (byte == '>') break;
            // Zero bytes, line breaks and long tags take the general steps.
            if (byte < 0x20 || static_cast<std::size_t>(p - tagBegin) == kTagKept) return false;
            ++p;
        }
    }
    auto tagLength = static_cast<std::size_t>(p - tagBegin);
    do {
        ++p;
    } while (p != end && *p == '>');

    const unsigned char* begin = p;
    const unsigned char* stop = FindContentStop(p, end);
    auto length = static_cast<std::size_t>(stop - begin);
    if (length >= kChunkFlush) return false;
    std::uint64_t lines = 0;
    p = SkipControlBytes(stop, end, lines);
    if (p == end) return false;
    const char* text = reinterpret_cast<const char*>(begin);
    bool lent = m_bLends;
    if (*p != '<') {
        // Another line: the runs are stored with one space for each run of control bytes
        // between them, none after a '-'.
        CopyRun(m_szFolded, begin, length, end);
        do {
            const unsigned char* run = p;
            stop = FindContentStop(run, end);
            auto runLength = static_cast<std::size_t>(stop - run);
            bool space = length > 0 && m_szFolded[length - 1] != '-';
            if (length + space + runLength >= kChunkFlush) return false;
            m_szFolded[length] = ' ';
            length += space;
            CopyRun(m_szFolded + length, run, runLength, end);
            length += runLength;
            p = SkipControlBytes(stop, end, lines);
            if (p == end) return false;
        } while (*p != '<');
        text = m_szFolded;
        lent = false;
    }

    // The tag is handed out as a view of the block, as the content is: it stays valid as long.
    // Both views are handed out from the values at hand, not read back from the members just
    // stored: a load of what a store has just written in two halves waits for the store.
    const std::string_view tagText(reinterpret_cast<const char*>(tagBegin), tagLength);
    m_tag = tagText;
    m_nTagLen = tagLength;
    m_bTagTextEnded = false;
    m_bTagCut = false;
    m_bTagUnclosed = false;
    m_nTagLine = m_nLine;
    m_nLine += lines;
    m_pNext = p + 1;
    const std::string_view gathered(text, length);
    m_content = gathered;
    m_bContentLent = lent;
    m_nChunkLen = length;
    m_bPendingSpace = false;
    tag = tagText;
    content = TrimSpaces(gathered);
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
        content = TrimSpaces(m_content.substr(m_content.size() - m_nChunkLen));
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
