// Reads tagged text, "<tag>content<tag>content...", one (tag, content) pair at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "engine/io/byte_stream.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace halvic {

// Hands out the pairs of a tagged text. While it gathers a content it folds each run of control
// bytes into one space (none after a '-', so a word split at a line end is joined again), and
// trims spaces from both ends. Contents are gathered in chunks of about 510 bytes; the chunking is
// visible in two places, which the record file depends on: a line break right at a chunk boundary
// adds no space, and a pushed-back pair gives only the last chunk of its content.
class CTagFile {
  public:
    // Bytes of a tag's text kept; only the first few can select a field, so a longer tag is kept
    // cut (TagCut) and never matches anything.
    static constexpr std::size_t kTagKept = 32;
    // A chunk is flushed when it holds this many bytes and another byte arrives.
    static constexpr std::size_t kChunkFlush = 510;

    // `name` names the input in messages.
    explicit CTagFile(CByteSource& source, std::string name = "<input>",
                      std::size_t blockSize = 1 << 18);
    CTagFile(const CTagFile&) = delete;
    CTagFile& operator=(const CTagFile&) = delete;

    // Reads the next pair. Returns false at the end of the input (tag then empty). The views stay
    // valid until the next call. Throws CFailure when the input cannot be read.
    bool ReadTag(std::string_view& tag, std::string_view& content) {
        // The common pair in one call; a pushed-back pair and every other take the general steps.
        if (m_bPushedBack == 0 && ReadPairInBlock(tag, content)) return true;
        return ReadTagSlowly(tag, content);
    }
    // Moves the last content (as ReadTag handed it out) into `text` instead of copying it: for a
    // content too long to hold twice. The pair can then no longer be pushed back.
    void TakeContent(std::string& text);
    // The content that ReadTag would hand out again were the last pair pushed back: its last
    // chunk, trimmed. For a loop that acts on a pair at once instead of pushing it back.
    std::string_view ContentAsPushedBack() const;
    // Whether the last content is a view of bytes the source lent, valid for as long as the
    // source lives rather than until the next call.
    bool ContentLasts() const { return m_bContentLent; }

    const std::string& Name() const { return m_strName; }
    // The line (counted by LF bytes, from 1) on which the last tag began.
    std::uint64_t TagLine() const { return m_nTagLine; }
    // The LF bytes read so far.
    std::uint64_t LinesRead() const { return m_nLine - 1; }
    // Whether the last tag's text was longer than kTagKept bytes.
    bool TagCut() const { return m_bTagCut; }
    // Whether the last tag ran to the end of the input, with no '>' to close it.
    bool TagUnclosed() const { return m_bTagUnclosed; }

    // Nonzero: the next ReadTag hands out the last pair again, reading nothing.
    int m_bPushedBack = 0;

  private:
    bool ReadTagSlowly(std::string_view& tag, std::string_view& content);
    bool ReadPairInBlock(std::string_view& tag, std::string_view& content);
    bool Fill();
    bool ReadTagText();
    bool FinishInBlock(std::string_view& content);
    void AddContentRun(const unsigned char* begin, const unsigned char* end);
    bool Finish(std::string_view& tag, std::string_view& content);

    CByteSource& m_source;
    std::string m_strName;
    std::unique_ptr<unsigned char[]> m_block;
    std::size_t m_nBlockSize;
    bool m_bLends;  // the source lends its bytes: no block, no copy
    const unsigned char* m_pNext = nullptr;
    const unsigned char* m_pEnd = nullptr;
    bool m_bEof = false;

    char m_szTag[kTagKept + 1] = {};  // the tag's text as gathered by the general steps
    std::string_view m_tag;           // the last tag as handed out: of m_szTag or of the block
    std::uint64_t m_nTagLen = 0;      // bytes between '<' and '>', zero bytes and all
    std::size_t m_nTagTextLen = 0;
    bool m_bTagTextEnded = false;  // a zero byte ended the tag's text
    bool m_bTagCut = false;
    bool m_bTagUnclosed = false;

    // The content as gathered, before trimming: a view of the block when the content lies in it
    // whole with nothing to fold, otherwise of m_szFolded or m_strContent.
    std::string_view m_content;
    bool m_bContentLent = false;  // m_content is a view of lent bytes
    std::string m_strContent;     // the chunks gathered so far, back to back
    // A content of a few lines folded by ReadPairInBlock: never a full chunk, and the space
    // for one more run copied 16 bytes at a time.
    char m_szFolded[kChunkFlush + 16];
    std::size_t m_nChunkLen = 0;  // bytes of the current chunk: the tail of m_content
    bool m_bPendingSpace = false;

    std::uint64_t m_nLine = 1;
    std::uint64_t m_nTagLine = 1;
};

// The offset of the first "<@>" at or after `from` at which a reader of the whole input surely
// starts a pair whose content is a single chunk, so that a reader that starts there hands out the
// same pairs from there on: where an input may be cut into parts. input.size() when there is
// none. It looks back at most a few kilobytes, and never before the start of `input`.
std::size_t FindPartStart(std::string_view input, std::size_t from);

// The reading of the common pair, inline: a loop over the pairs then holds it whole, with the
// tag and the content in registers rather than passed back through memory.
namespace tag_file_detail {

// How far ahead of the pair being read its input is fetched.
constexpr std::size_t kPrefetchAhead = 512;

inline bool IsContentStop(unsigned char byte) {
    return byte < 0x20 || byte == '<';
}

#ifdef __SSE2__
// The content stops among 16 bytes, a bit each.
inline unsigned StopMask(__m128i bytes) {
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i controlMax = _mm_set1_epi8(0x1F);
    // byte <= 0x1F (unsigned) exactly when max(byte, 0x1F) == 0x1F.
    __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(bytes, controlMax), controlMax);
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(bytes, lt))));
}
#endif

// The first byte in [p, end) that ends a run of stored content bytes: '<' or a control byte.
inline const unsigned char* FindContentStop(const unsigned char* p, const unsigned char* end) {
#ifdef __SSE2__
    while (end - p >= 32) {
        unsigned mask = StopMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) |
                        StopMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))) << 16;
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 32;
    }
    while (end - p >= 16) {
        unsigned mask = StopMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    while (p < end && !IsContentStop(*p))
        ++p;
    return p;
}

// The same, copying the run to `to` while it looks for its end, 16 bytes at a time: up to 15 bytes
// more are written, where there is room before `toEnd`. nullptr when the run does not fit
// before toEnd - 16.
inline const unsigned char* CopyContentRun(const unsigned char* p, const unsigned char* end,
                                           char* to, const char* toEnd) {
#ifdef __SSE2__
    while (end - p >= 16) {
        if (toEnd - to < 16) return nullptr;
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
        unsigned mask = StopMask(bytes);
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
        to += 16;
    }
#endif
    for (; p < end && !IsContentStop(*p); ++p) {
        if (to == toEnd) return nullptr;
        *to++ = static_cast<char>(*p);
    }
    return p;
}

// The first byte in [p, end) after the control bytes at p, counting the line feeds among them.
inline const unsigned char* SkipControlBytes(const unsigned char* p, const unsigned char* end,
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
inline void CopyRun(char* to, const unsigned char* from, std::size_t n, const unsigned char* end) {
    if (static_cast<std::size_t>(end - from) < n + 16) {
        std::memcpy(to, from, n);
        return;
    }
    for (std::size_t i = 0; i < n; i += 16)
        std::memcpy(to + i, from + i, 16);
}

inline std::string_view TrimSpaces(std::string_view text) {
    if (text.empty() || (text.front() != ' ' && text.back() != ' ')) return text;
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

}  // namespace tag_file_detail

inline std::string_view CTagFile::ContentAsPushedBack() const {
    return tag_file_detail::TrimSpaces(m_content.substr(m_content.size() - m_nChunkLen));
}

// The common pair, read in one go: it lies in the block whole, its tag is short and holds no
// control byte, and its content never fills a chunk (folded, it may span a few lines). Returns
// false, having changed nothing, for every other pair; the general steps then read it. Contents
// of one line are views of the block; longer ones are folded into m_szFolded.
inline bool CTagFile::ReadPairInBlock(std::string_view& tag, std::string_view& content) {
    using namespace tag_file_detail;
    const unsigned char* p = m_pNext;
    const unsigned char* const end = m_pEnd;
    // The processor is asked for the input a few hundred bytes ahead, a line at a time, as its
    // own prefetching stops at every page.
    __builtin_prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + kPrefetchAhead));
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
            m_szFolded[length] = ' ';
            length += length > 0 && m_szFolded[length - 1] != '-';
            stop = CopyContentRun(run, end, m_szFolded + length, m_szFolded + sizeof m_szFolded);
            if (stop == nullptr) return false;
            length += static_cast<std::size_t>(stop - run);
            if (length >= kChunkFlush) return false;
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
    // m_nTagLen, m_bTagTextEnded and m_bPendingSpace belong to the general steps, which set them
    // afresh.
    m_tag = tagText;
    m_bTagCut = false;
    m_bTagUnclosed = false;
    m_nTagLine = m_nLine;
    m_nLine += lines;
    m_pNext = p + 1;
    const std::string_view gathered(text, length);
    m_content = gathered;
    m_bContentLent = lent;
    m_nChunkLen = length;
    tag = tagText;
    content = TrimSpaces(gathered);
    return true;
}

}  // namespace halvic
