#include "engine/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace halvic {

namespace {

constexpr std::size_t kPageSize = 4096;

}  // namespace

CMappedFile::~CMappedFile() {
    if (m_pData != nullptr) ::munmap(const_cast<char*>(m_pData), m_nSize);
}

bool CMappedFile::Map(const std::string& path) {
    // Not blocking: opening a named pipe would otherwise wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data =
            ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    ::close(fd);  // the mapping keeps the file
    if (data == MAP_FAILED) return false;
    ::madvise(data, static_cast<std::size_t>(info.st_size), MADV_SEQUENTIAL);
    m_pData = static_cast<const char*>(data);
    m_nSize = static_cast<std::size_t>(info.st_size);
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
    ::madvise(const_cast<char*>(m_pData) + begin, end - begin, MADV_DONTNEED);
}

void CMappedFile::GiveBack(std::size_t end) {
    end -= end % kPageSize;
    if (end <= m_nGivenBack) return;
    ::madvise(const_cast<char*>(m_pData) + m_nGivenBack, end - m_nGivenBack, MADV_DONTNEED);
    m_nGivenBack = end;
}

}  // namespace halvic
