#include "engine/io/mapped_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace halvic {

namespace {

constexpr std::size_t kPageSize = 4096;

}  // namespace

CMappedFile::~CMappedFile() {
    sys::UnregisterMapping(m_nSlot);
    if (m_pData != nullptr) sys::UnmapFile(m_pData, m_nSize, m_file);
}

bool CMappedFile::Map(const std::string& path) {
    InstallBusErrorHandler();
    std::size_t size = 0;
    CFileHandle file = kNoFile;
    const char* data = sys::MapFile(path, size, file);
    if (data == nullptr) return false;
    m_pData = data;
    m_nSize = size;
    m_file = file;
    m_strPath = path;
    m_nSlot = sys::RegisterMapping(m_pData, m_nSize);
    if (const char* cutAt = std::getenv("HALVIC_TEST_TRUNCATE_INPUT")) {
        char* end = nullptr;
        unsigned long long n = std::strtoull(cutAt, &end, 10);
        if (*cutAt != '\0' && *end == '\0') m_nCutAt = static_cast<std::size_t>(n);
    }
    return true;
}

bool CMappedFile::CutShort() const {
    if (m_pData == nullptr) return false;
    if (m_nSlot >= 0 && sys::MappingFaulted(m_nSlot)) return true;
    return sys::FileShorterThan(m_file, m_nSize);
}

CError CMappedFile::CutShortError() const {
    return {m_strPath, 0, kTruncatedReason};
}

void CMappedFile::CheckWhole() const {
    if (CutShort()) throw CFailure(CutShortError());
}

void CMappedFile::ReachedForTesting(std::size_t offset) {
    if (offset < m_nCutAt || m_nCutAt == SIZE_MAX) return;
    sys::TruncateFile(m_strPath, m_nCutAt);
    m_nCutAt = SIZE_MAX;
}

void CMappedFile::Release(std::size_t begin, std::size_t end) const {
    begin = (begin + kPageSize - 1) / kPageSize * kPageSize;
    end = std::min(end, m_nSize) / kPageSize * kPageSize;
    if (begin >= end) return;
    sys::GiveBackPages(m_pData + begin, end - begin);
}

}  // namespace halvic
