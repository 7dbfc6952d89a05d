// Reads tagged text, "<tag>content<tag>content...", one (tag, content) pair at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/io/byte_stream.h"

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

}  // namespace halvic
