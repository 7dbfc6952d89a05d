// Mapping an input file on Windows. A file that is mapped cannot be cut short there (Windows
// refuses with ERROR_USER_MAPPED_FILE), so no fault past its end needs handling.
#include <windows.h>

#include "engine/io/mapped_file.h"
#include "engine/io/windows_text.h"

namespace halvic {

void InstallBusErrorHandler() {}

namespace sys {

const char* MapFile(const std::string& path, std::size_t& size, CFileHandle& file) {
    HANDLE handle = ::CreateFileW(Utf16(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length{};
    const void* data = nullptr;
    // Pipes, consoles and devices are read as streams.
    if (::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileSizeEx(handle, &length) &&
        length.QuadPart > 0 && static_cast<unsigned long long>(length.QuadPart) <= SIZE_MAX) {
        HANDLE mapping = ::CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping != nullptr) {
            data = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            ::CloseHandle(mapping);  // the view keeps the mapping
        }
    }
    if (data == nullptr) {
        ::CloseHandle(handle);
        return nullptr;
    }
    size = static_cast<std::size_t>(length.QuadPart);
    file = reinterpret_cast<CFileHandle>(handle);
    return static_cast<const char*>(data);
}

void UnmapFile(const char* data, std::size_t, CFileHandle file) {
    ::UnmapViewOfFile(data);
    ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

void GiveBackPages(const char* data, std::size_t size) {
    // Unlocking pages that are not locked takes them out of the working set; the call then
    // reports ERROR_NOT_LOCKED, which is what is expected here.
    ::VirtualUnlock(const_cast<char*>(data), size);
}

int RegisterMapping(const char*, std::size_t) {
    return -1;
}

void UnregisterMapping(int) {}

bool MappingFaulted(int) {
    return false;
}

bool FileShorterThan(CFileHandle file, std::size_t size) {
    LARGE_INTEGER length{};
    return ::GetFileSizeEx(reinterpret_cast<HANDLE>(file), &length) &&
           static_cast<unsigned long long>(length.QuadPart) < size;
}

void TruncateFile(const std::string& path, std::size_t size) {
    HANDLE file = ::CreateFileW(Utf16(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
    ::CloseHandle(file);
}

}  // namespace sys

}  // namespace halvic
