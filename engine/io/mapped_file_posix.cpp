// Mapping an input file on POSIX systems, and the SIGBUS handler for one cut short meanwhile.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/io/file.h"
#include "engine/io/mapped_file.h"

namespace halvic {

namespace {

// The mappings of inputs, where the SIGBUS handler can find them without taking a lock.
struct CMapSlot {
    std::atomic<std::uintptr_t> m_nBegin{0};  // 0: free
    std::atomic<std::size_t> m_nSize{0};
    std::atomic<bool> m_bCut{false};  // a page past the file's end was touched
};
constexpr int kMapSlots = 16;
CMapSlot g_maps[kMapSlots];
std::atomic<bool> g_slotTaken[kMapSlots];
std::size_t g_nSystemPage = 4096;

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

namespace sys {

const char* MapFile(const std::string& path, std::size_t& size, CFileHandle& file) {
    // Only a regular file is opened here: opening a named pipe, even without blocking, would pair
    // with a writer that then writes into a pipe this closes again, and the stream opened after
    // it would wait for another writer for ever.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return nullptr;
    // Not blocking: should a named pipe have taken the file's place, it waits for no writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data =
            ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    if (data == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::size_t>(info.st_size);
    ::madvise(data, size, MADV_SEQUENTIAL);
    file = fd;
    return static_cast<const char*>(data);
}

void UnmapFile(const char* data, std::size_t size, CFileHandle file) {
    ::munmap(const_cast<char*>(data), size);
    ::close(static_cast<int>(file));
}

void GiveBackPages(const char* data, std::size_t size) {
    ::madvise(const_cast<char*>(data), size, MADV_DONTNEED);
}

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

bool MappingFaulted(int slot) {
    return g_maps[slot].m_bCut.load();
}

bool FileShorterThan(CFileHandle file, std::size_t size) {
    struct stat info {};
    return ::fstat(static_cast<int>(file), &info) == 0 &&
           static_cast<std::uint64_t>(info.st_size) < size;
}

void TruncateFile(const std::string& path, std::size_t size) {
    (void)::truncate(path.c_str(), static_cast<off_t>(size));
}

}  // namespace sys

}  // namespace halvic
