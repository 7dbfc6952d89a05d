// An input file mapped into memory, so that its bytes are read where they lie, never copied.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/io/error.h"
#include "engine/io/file.h"

namespace halvic {

// The calls to the system that mapping needs, one implementation per system
// (mapped_file_posix.cpp, mapped_file_windows.cpp). Paths are UTF-8.
namespace sys {

// Maps the regular file at `path` read-only for reading from start to end; sets `size`, and `file`
// to the file, kept open to tell whether it is cut short. nullptr when it is not a regular file,
// is empty, or cannot be opened or mapped.
const char* MapFile(const std::string& path, std::size_t& size, CFileHandle& file);
void UnmapFile(const char* data, std::size_t size, CFileHandle file);
// Gives back the pages from `data` (page-aligned) for `size` bytes; should they be touched
// again, they are read back from the file.
void GiveBackPages(const char* data, std::size_t size);
// Registers a mapping with the handler that turns a fault past its file's new end into zeros;
// -1: not registered (or no such fault on this system).
int RegisterMapping(const char* data, std::size_t size);
void UnregisterMapping(int slot);
// Whether a page past the file's end was touched in the mapping registered at `slot`.
bool MappingFaulted(int slot);
// Whether `file` now holds fewer than `size` bytes.
bool FileShorterThan(CFileHandle file, std::size_t size);
// Cuts the file at `path` to `size` bytes (the test seam; Windows refuses it for a mapped file).
void TruncateFile(const std::string& path, std::size_t size);

}  // namespace sys

// A regular file mapped read-only. Every byte stays addressable while the object lives; the pages
// the reading is done with are given back (Release), so memory stays bounded whatever the file's
// size.
class CMappedFile {
  public:
    CMappedFile() = default;
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    // Maps the file at `path`. Returns false when it is not a regular file, is empty, or cannot be
    // opened or mapped: the caller then reads it as a stream, which reports any error.
    bool Map(const std::string& path);

    // Whether the file has become shorter than its mapping since it was mapped. The pages past
    // its new end then read as zeros instead of ending the program with SIGBUS, so what was read
    // is not the file: the caller must fail (CheckWhole).
    bool CutShort() const;
    // Throws CFailure ("PATH: the file was truncated while it was being read") when CutShort.
    void CheckWhole() const;
    // The failure CheckWhole throws.
    CError CutShortError() const;

    // The whole file.
    std::string_view Bytes() const { return std::string_view(m_pData, m_nSize); }
    // Gives back the pages that hold only bytes from `begin` to `end`. Should they be touched
    // again, they are read back from the file.
    void Release(std::size_t begin, std::size_t end) const;

    // The test seam: with HALVIC_TEST_TRUNCATE_INPUT=N in the environment, the file is cut to
    // N bytes as soon as the reader says it has got past byte N.
    void ReachedForTesting(std::size_t offset);

  private:
    std::string m_strPath;
    CFileHandle m_file = kNoFile;     // kept open to see whether the file is cut short
    int m_nSlot = -1;                 // where the mapping is registered for the SIGBUS handler
    std::size_t m_nCutAt = SIZE_MAX;  // the test seam's N
    const char* m_pData = nullptr;
    std::size_t m_nSize = 0;
};

// Installs the SIGBUS handler that turns a fault on a mapped input cut short into zero bytes (once;
// Map does it too). A SIGBUS anywhere else removes the temporary output files and ends the
// program by the signal. Nothing to do on Windows, which refuses to cut a mapped file short.
void InstallBusErrorHandler();

}  // namespace halvic
