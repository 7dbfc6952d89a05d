// A tag reader that follows the reading rules literally, one byte at a time, with a fixed
// 512-byte chunk. Slow and plain on purpose: the fast reader must give exactly its pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace halvic::testing {

class CPlainTagReader {
  public:
    explicit CPlainTagReader(std::string_view bytes) : m_bytes(bytes) {}

    // The tag's whole text (up to its first zero byte) and the content.
    bool ReadTag(std::string& tag, std::string& content);
    std::uint64_t TagLine() const { return m_nTagLine; }

    int m_bPushedBack = 0;

  private:
    bool ReadByte(unsigned char& byte);

    std::string_view m_bytes;
    std::size_t m_nPos = 0;
    std::uint64_t m_nLine = 1;
    unsigned char m_lastByte = 0;

    std::string m_strTag;
    bool m_bTagEnded = false;
    std::uint64_t m_nTagLen = 0;
    std::uint64_t m_nTagLine = 1;
    char m_szChunk[512] = {};
    int m_nChunkLen = 0;
};

// Reads `input` with the fast reader and the plain one side by side: the fast one in blocks of
// `blockSize` from a source that hands out `step` bytes at a time (lent when `lends`), both asked
// for a pushback before pair i when `pushBack(i, tag of pair i - 1)` says so (never twice in a
// row, as the conversion never does). "" when they hand out the same pairs, cut the same tags and
// count the same tag lines; otherwise what differs first.
std::string ReaderDifference(std::string_view input, std::size_t blockSize, std::size_t step,
                             bool lends,
                             const std::function<bool(std::size_t, std::string_view)>& pushBack);

}  // namespace halvic::testing
