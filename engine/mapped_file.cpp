#include "engine/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/file.h"

namespace halvic {

namespace {

constexpr std::size_t kPageSize = 4096;

// The mappings of inputs, where the SIGBUS handler can find them without taking a lock.
struct CMapSlot {
    std::atomic<std::uintptr_t> m_nBegin{0};  // 0: free
    std::atomic<std::size_t> m_nSize{0};
    std::atomic<bool> m_bCut{false};  // a page past the file's end was touched
};
constexpr int kMapSlots = 16;
CMapSlot g_maps[kMapSlots];
std::atomic<bool> g_slotTaken[kMapSlots];
std::size_t g_nSystemPage = kPageSize;

int RegisterMapping(const char* data, std::size_t size) {
    for (int i = 0; i < kMapSlots; ++i) {
        bool expected = false;
        if (!g_slotTaken[i].compare_exchange_strong(expected, true)) continue;
        g_maps[i].m_bCut.store(false);
        g_maps[i].m_nSize.store(size);
        g_maps[i].m_nBegin.store(reinterpret_cast<std::uintptr_t>(data));
        return i;
    }
    return -1;  // not registered: a fault on it ends the program as any SIGBUS does
}

void UnregisterMapping(int slot) {
    if (slot < 0) return;
    g_maps[slot].m_nBegin.store(0);
    g_slotTaken[slot].store(false);
}

extern "C" void OnBusError(int signal, siginfo_t* info, void*) {
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (CMapSlot& map : g_maps) {
        std::uintptr_t begin = map.m_nBegin.load();
        std::size_t size = map.m_nSize.load();
        if (begin == 0 || address < begin || address - begin >= size) continue;
        // The file was cut short under the mapping: the rest of the mapping becomes zeros, the
        // access is made again and reads one, and the reading goes on to be failed afterwards.
        std::uintptr_t page = address - address % g_nSystemPage;
        void* zeros = ::mmap(reinterpret_cast<void*>(page), begin + size - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
        if (zeros == MAP_FAILED) break;
        map.m_bCut.store(true);
        return;
    }
    RemoveTemporaryFiles();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    // Delivered once the handler returns; a fault made again meets the default action too.
    ::raise(signal);
}

}  // namespace

void InstallBusErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0) g_nSystemPage = static_cast<std::size_t>(page);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, nullptr);
    });
}

CMappedFile::~CMappedFile() {
    UnregisterMapping(m_nSlot);
    if (m_pData != nullptr) ::munmap(const_cast<char*>(m_pData), m_nSize);
    if (m_fd >= 0) ::close(m_fd);
}

bool CMappedFile::Map(const std::string& path) {
    InstallBusErrorHandler();
    // Not blocking: opening a named pipe would otherwise wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data =
            ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    if (data == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    ::madvise(data, static_cast<std::size_t>(info.st_size), MADV_SEQUENTIAL);
    m_pData = static_cast<const char*>(data);
    m_nSize = static_cast<std::size_t>(info.st_size);
    m_fd = fd;
    m_strPath = path;
    m_nSlot = RegisterMapping(m_pData, m_nSize);
    if (const char* cutAt = std::getenv("HALVIC_TEST_TRUNCATE_INPUT")) {
        char* end = nullptr;
        unsigned long long n = std::strtoull(cutAt, &end, 10);
        if (*cutAt != '\0' && *end == '\0') m_nCutAt = static_cast<std::size_t>(n);
    }
    return true;
}

bool CMappedFile::CutShort() const {
    if (m_pData == nullptr) return false;
    if (m_nSlot >= 0 && g_maps[m_nSlot].m_bCut.load()) return true;
    struct stat info {};
    return ::fstat(m_fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) < m_nSize;
}

CError CMappedFile::CutShortError() const {
    return {m_strPath, 0, "the file was truncated while it was being read"};
}

void CMappedFile::CheckWhole() const {
    if (CutShort()) throw CFailure(CutShortError());
}

void CMappedFile::ReachedForTesting(std::size_t offset) {
    if (offset < m_nCutAt || m_nCutAt == SIZE_MAX) return;
    (void)::truncate(m_strPath.c_str(), static_cast<off_t>(m_nCutAt));
    m_nCutAt = SIZE_MAX;
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
    if (m_nSlot >= 0 && g_maps[m_nSlot].m_bCut.load()) throw CFailure(CutShortError());
    std::size_t begin = m_nNext;
    ReachedForTesting(begin);
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
