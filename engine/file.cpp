#include "engine/file.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/error.h"

namespace halvic {

namespace {

// Temporary file names kept where an interrupt handler can reach them without allocating.
constexpr int kSlots = 32;
constexpr std::size_t kPathMax = 4096;
char g_tempPaths[kSlots][kPathMax];
std::atomic<bool> g_slotUsed[kSlots];

int TakeSlot(const std::string& path) {
    if (path.size() >= kPathMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) continue;
        std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
        g_slotUsed[i].store(true);
        return i;
    }
    return -1;
}

void ReleaseSlot(int slot) {
    if (slot >= 0) g_slotUsed[slot].store(false);
}

std::atomic<unsigned> g_nTempCounter{0};

}  // namespace

void RemoveTemporaryFiles() noexcept {
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) sys::RemoveFile(g_tempPaths[i]);
    }
}

CInputFile::~CInputFile() {
    Close();
}

bool CInputFile::Open(const std::string& path, CError& error) {
    Close();
    m_strName = path;
    if (path.empty()) {
        error = {"(empty file name)", 0, SystemReason(sys::NotFoundError())};
        return false;
    }
    int err = 0;
    CFileHandle file = sys::OpenForReading(path, err);
    if (file == kNoFile) {
        error = {path, 0, SystemReason(err)};
        return false;
    }
    m_file = file;
    m_bOwned = true;
    return true;
}

void CInputFile::OpenStandardInput() {
    Close();
    m_strName = "<stdin>";
    m_file = sys::StandardInput();
    m_bOwned = false;
}

std::size_t CInputFile::Read(unsigned char* buffer, std::size_t capacity) {
    int err = 0;
    std::int64_t n = sys::ReadSome(m_file, buffer, capacity, err);
    if (n < 0) throw CFailure({m_strName, 0, SystemReason(err)});
    return static_cast<std::size_t>(n);
}

void CInputFile::Close() {
    int ignored = 0;
    if (m_bOwned && m_file != kNoFile) sys::CloseFile(m_file, ignored);
    m_file = kNoFile;
    m_bOwned = false;
}

CReplacingFile::~CReplacingFile() {
    Discard();
}

bool CReplacingFile::Create(const std::string& target, CError& error) {
    Discard();
    m_strTarget = target;
    // A directory cannot be renamed over. Found only at the renames, it would fail the run with
    // some targets already replaced; found here, it fails the run before any is.
    if (sys::IsDirectory(target)) {
        error = {target, 0, SystemReason(sys::IsDirectoryError())};
        return false;
    }
    std::string::size_type slash = target.find_last_of(sys::kPathSeparators);
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%u", sys::ProcessId(),
                      g_nTempCounter.fetch_add(1));
        std::string temp = dir + "." + base + suffix;
        // Registered before it exists, so that no moment is left in which an interrupt could
        // leave the file behind.
        int slot = TakeSlot(temp);
        int err = 0;
        CFileHandle file = sys::CreateNew(temp, err);
        if (file != kNoFile) {
            m_file = file;
            m_nSlot = slot;
            m_strTemp = temp;
            return true;
        }
        ReleaseSlot(slot);
        if (err != sys::ExistsError()) {
            error = {target, 0, SystemReason(err)};
            return false;
        }
    }
    error = {target, 0, SystemReason(sys::ExistsError())};
    return false;
}

void CReplacingFile::Drain(const unsigned char* data, std::size_t size) {
    while (size > 0) {
        int err = 0;
        std::int64_t n = sys::WriteSome(m_file, data, size, err);
        if (n < 0) throw CFailure({m_strTarget, 0, SystemReason(err)});
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CReplacingFile::Finish() {
    Flush();
    if (m_file != kNoFile) {
        CFileHandle file = m_file;
        m_file = kNoFile;
        int err = 0;
        if (!sys::CloseFile(file, err)) throw CFailure({m_strTarget, 0, SystemReason(err)});
    }
}

bool CReplacingFile::Commit(CError& error) {
    int err = 0;
    if (!sys::RenameOver(m_strTemp, m_strTarget, err)) {
        error = {m_strTarget, 0, SystemReason(err)};
        Discard();
        return false;
    }
    ReleaseSlot(m_nSlot);
    m_nSlot = -1;
    m_strTemp.clear();
    return true;
}

void CReplacingFile::Discard() {
    if (m_file != kNoFile) {
        int ignored = 0;
        sys::CloseFile(m_file, ignored);
        m_file = kNoFile;
    }
    if (!m_strTemp.empty()) {
        sys::RemoveFile(m_strTemp.c_str());
        m_strTemp.clear();
    }
    ReleaseSlot(m_nSlot);
    m_nSlot = -1;
}

}  // namespace halvic
