// What the files of a conversion do alike on every system.
#include "engine/io/file.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace halvic {

namespace {

// Temporary file names kept where an interrupt handler can reach them without allocating.
constexpr int kSlots = 32;
constexpr std::size_t kPathMax = 4096;
char g_tempPaths[kSlots][kPathMax];
std::atomic<bool> g_slotUsed[kSlots];
std::atomic<bool> g_lineShown{false};

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    // One the directory ends with is not doubled.
    if (std::strchr(kPathSeparators, dir.back()) != nullptr) return dir + name;
    std::string::size_type last = dir.find_last_of(kPathSeparators);
    return dir + (last != std::string::npos && dir[last] == '/' ? '/' : kPathSeparator) + name;
}

int RegisterTemporaryFile(const std::string& path) {
    if (path.size() >= kPathMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) continue;
        std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
        g_slotUsed[i].store(true);
        return i;
    }
    return -1;
}

void UnregisterTemporaryFile(int slot) {
    if (slot >= 0) g_slotUsed[slot].store(false);
}

void SetLineShown(bool shown) noexcept {
    g_lineShown = shown;
}

bool LineShown() noexcept {
    return g_lineShown;
}

void RemoveTemporaryFiles() noexcept {
    for (int i = 0; i < kSlots; ++i) {
        if (g_slotUsed[i].load()) RemoveFileNow(g_tempPaths[i]);
    }
}

const char* const kTruncatedReason = "the file was truncated while it was being read";

CInputFile::~CInputFile() {
    Close();
}

void CInputFile::NoteSize(const std::string& seamPath) {
    m_nRead = 0;
    m_nCutAt = UINT64_MAX;
    m_bRegular = RegularFileSize(m_file, m_nSize);
    if (!m_bRegular) return;
    m_strSeamPath = seamPath;
    if (const char* cutAt = std::getenv("HALVIC_TEST_TRUNCATE_INPUT")) {
        char* end = nullptr;
        unsigned long long n = std::strtoull(cutAt, &end, 10);
        if (*cutAt != '\0' && *end == '\0') m_nCutAt = n;
    }
}

std::size_t CInputFile::Read(unsigned char* buffer, std::size_t capacity) {
    if (m_nRead >= m_nCutAt) {
        TruncateFile(m_strSeamPath, m_nCutAt);
        m_nCutAt = UINT64_MAX;
    }
    std::size_t n = ReadFromFile(m_file, buffer, capacity, m_strName);
    m_nRead += n;
    // A regular file reads to its end, which lies at least where it lay when it was opened,
    // whatever another program appends meanwhile.
    if (n == 0 && m_bRegular && FilePosition(m_file) < m_nSize)
        throw CFailure({m_strName, 0, kTruncatedReason});
    return n;
}

CReplacingFile::~CReplacingFile() {
    Discard();
}

void CReplacingFile::Release() {
    UnregisterTemporaryFile(m_nSlot);
    m_nSlot = -1;
    m_strTemp.clear();
}

CFileLock::~CFileLock() {
    Release();
}

bool CFileLock::GiveUp(const std::string& path, CError& error) {
    m_bTimedOut = true;
    error = {path, 0, "the lock is held by another process"};
    return false;
}

int CFileLock::Retry(const std::function<int(bool block)>& attempt,
                     const std::function<void()>& onWait, int waitSeconds) {
    auto start = std::chrono::steady_clock::now();
    bool told = false;
    for (;;) {
        // Once said, an endless wait is left to the system; a limited one is asked on.
        const bool block = told && waitSeconds < 0;
        int result = attempt(block);
        if (result != kBusy) return result;
        auto waited = std::chrono::steady_clock::now() - start;
        if (waitSeconds >= 0 && waited >= std::chrono::seconds(waitSeconds)) return kTimedOutCode;
        if (!told && waited >= std::chrono::seconds(1)) {
            told = true;
            if (onWait) onWait();
        } else if (!block) {
            std::this_thread::sleep_for(std::chrono::milliseconds(told ? 50 : 10));
        }
    }
}

}  // namespace halvic
