// An input file mapped into memory and lent to the reader piece by piece, so that its bytes are
// never copied.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/byte_stream.h"

namespace halvic {

// The calls to the system that mapping needs, one implementation per system
// (mapped_file_posix.cpp, mapped_file_windows.cpp). Paths are UTF-8.
namespace sys {

// Maps the regular file at `path` read-only for reading from start to end and sets `size`;
// nullptr when it is not a regular file, is empty, or cannot be opened or mapped.
const char* MapFile(const std::string& path, std::size_t& size);
void UnmapFile(const char* data, std::size_t size);
// Gives back the pages from `data` (page-aligned) for `size` bytes; should they be touched
// again, they are read back from the file.
void GiveBackPages(const char* data, std::size_t size);

}  // namespace sys

// A regular file mapped read-only. Every byte stays addressable while the object lives, but the
// pages already read are given back as the reading moves on, so memory stays bounded whatever the
// file's size.
class CMappedFile : public CByteSource {
  public:
    // Bytes per piece lent; the pages more than a piece behind the one lent last are given back.
    static constexpr std::size_t kPiece = std::size_t{1} << 21;

    CMappedFile() = default;
    ~CMappedFile() override;
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    // Maps the file at `path`. Returns false when it is not a regular file, is empty, or cannot be
    // opened or mapped: the caller then reads it as a stream, which reports any error.
    bool Map(const std::string& path);

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
    bool Lends() const override { return true; }
    std::string_view Lend() override;

    // The whole file, for a reader that takes it in its own order instead of piece by piece; it
    // gives back what it has done with.
    std::string_view Bytes() const { return std::string_view(m_pData, m_nSize); }
    // Gives back the pages that hold only bytes from `begin` to `end`. Should they be touched
    // again, they are read back from the file.
    void Release(std::size_t begin, std::size_t end) const;

  private:
    void GiveBack(std::size_t end);

    const char* m_pData = nullptr;
    std::size_t m_nSize = 0;
    std::size_t m_nNext = 0;       // the first byte not yet handed out
    std::size_t m_nGivenBack = 0;  // the pages before this offset were given back
};

}  // namespace halvic
