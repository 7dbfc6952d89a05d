// Mapping an input file on Windows.
#include <windows.h>

#include "engine/mapped_file.h"
#include "engine/windows_text.h"

namespace halvic::sys {

const char* MapFile(const std::string& path, std::size_t& size) {
    HANDLE file = ::CreateFileW(Utf16(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length{};
    const void* data = nullptr;
    // Pipes, consoles and devices are read as streams.
    if (::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &length) &&
        length.QuadPart > 0 && static_cast<unsigned long long>(length.QuadPart) <= SIZE_MAX) {
        HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping != nullptr) {
            data = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            ::CloseHandle(mapping);  // the view keeps the mapping
        }
    }
    ::CloseHandle(file);
    if (data == nullptr) return nullptr;
    size = static_cast<std::size_t>(length.QuadPart);
    return static_cast<const char*>(data);
}

void UnmapFile(const char* data, std::size_t) {
    ::UnmapViewOfFile(data);
}

void GiveBackPages(const char* data, std::size_t size) {
    // Unlocking pages that are not locked takes them out of the working set; the call then
    // reports ERROR_NOT_LOCKED, which is what is expected here.
    ::VirtualUnlock(const_cast<char*>(data), size);
}

}  // namespace halvic::sys
