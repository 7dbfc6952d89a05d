// Mapping an input file on POSIX systems.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/mapped_file.h"

namespace halvic::sys {

const char* MapFile(const std::string& path, std::size_t& size) {
    // Not blocking: opening a named pipe would otherwise wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    void* data = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data =
            ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    }
    ::close(fd);  // the mapping keeps the file
    if (data == MAP_FAILED) return nullptr;
    size = static_cast<std::size_t>(info.st_size);
    ::madvise(data, size, MADV_SEQUENTIAL);
    return static_cast<const char*>(data);
}

void UnmapFile(const char* data, std::size_t size) {
    ::munmap(const_cast<char*>(data), size);
}

void GiveBackPages(const char* data, std::size_t size) {
    ::madvise(const_cast<char*>(data), size, MADV_DONTNEED);
}

}  // namespace halvic::sys
