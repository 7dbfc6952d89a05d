#include "engine/mapped_file.h"

#include <algorithm>
#include <cstring>

namespace halvic {

namespace {

constexpr std::size_t kPageSize = 4096;

}  // namespace

CMappedFile::~CMappedFile() {
    if (m_pData != nullptr) sys::UnmapFile(m_pData, m_nSize);
}

bool CMappedFile::Map(const std::string& path) {
    std::size_t size = 0;
    const char* data = sys::MapFile(path, size);
    if (data == nullptr) return false;
    m_pData = data;
    m_nSize = size;
    return true;
}

std::size_t CMappedFile::Read(unsigned char* buffer, std::size_t capacity) {
    std::string_view piece = Lend();
    // Lend hands out at most a piece; Read may want less.
    std::size_t n = std::min(capacity, piece.size());
    std::memcpy(buffer, piece.data(), n);
    m_nNext -= piece.size() - n;
    return n;
}

std::string_view CMappedFile::Lend() {
    std::size_t begin = m_nNext;
    std::size_t n = std::min(kPiece, m_nSize - begin);
    m_nNext += n;
    // The reader may still hold views of the piece before; older pages go. Should they be touched
    // again, they are read back from the file, so a view never goes stale.
    if (begin >= kPiece) GiveBack(begin - kPiece);
    return std::string_view(m_pData + begin, n);
}

void CMappedFile::Release(std::size_t begin, std::size_t end) const {
    begin = (begin + kPageSize - 1) / kPageSize * kPageSize;
    end = std::min(end, m_nSize) / kPageSize * kPageSize;
    if (begin >= end) return;
    sys::GiveBackPages(m_pData + begin, end - begin);
}

void CMappedFile::GiveBack(std::size_t end) {
    end -= end % kPageSize;
    if (end <= m_nGivenBack) return;
    sys::GiveBackPages(m_pData + m_nGivenBack, end - m_nGivenBack);
    m_nGivenBack = end;
}

}  // namespace halvic
