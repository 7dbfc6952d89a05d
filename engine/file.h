// The files of a conversion: an input read in large blocks, and outputs that replace their targets
// only when the whole conversion has succeeded.
#pragma once

#include <cstdint>
#include <string>

#include "engine/byte_stream.h"
#include "engine/error.h"

namespace halvic {

// A file open at the system: a descriptor on POSIX systems, a HANDLE on Windows.
using CFileHandle = std::intptr_t;
inline constexpr CFileHandle kNoFile = -1;

// The calls to the system that the files of a conversion need, one implementation per system
// (file_posix.cpp, file_windows.cpp). Paths are UTF-8; `err` receives the system's error code
// for SystemReason.
namespace sys {

// The characters that end the directory part of a path: "/", and on Windows "\\" and ":" too.
extern const char* const kPathSeparators;
// The code of the error "no such file" (for an empty file name, which names none).
int NotFoundError();
// The code of the error that a directory is not a file.
int IsDirectoryError();
// The code of the error that a file exists.
int ExistsError();
// Whether `path` names a directory itself (not through a symbolic link).
bool IsDirectory(const std::string& path);
CFileHandle OpenForReading(const std::string& path, int& err);
CFileHandle StandardInput();
// Creates `path`, which must not exist yet, for writing.
CFileHandle CreateNew(const std::string& path, int& err);
// Reads up to `capacity` bytes; returns -1 on failure.
std::int64_t ReadSome(CFileHandle file, unsigned char* buffer, std::size_t capacity, int& err);
// Writes up to `size` bytes; returns how many, or -1 on failure.
std::int64_t WriteSome(CFileHandle file, const unsigned char* data, std::size_t size, int& err);
bool CloseFile(CFileHandle file, int& err);
// Replaces `target` with `from` in one step.
bool RenameOver(const std::string& from, const std::string& target, int& err);
// Removes a file; called from interrupt handlers too, so it must not allocate.
void RemoveFile(const char* path) noexcept;
// A number that tells this process from others writing into the same directory.
long ProcessId();

}  // namespace sys

// An existing file, or standard input, opened for reading.
class CInputFile : public CByteSource {
  public:
    CInputFile() = default;
    ~CInputFile() override;
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    // Opens `path` read-only; on failure returns false and fills `error`.
    bool Open(const std::string& path, CError& error);
    // Reads standard input instead of a file.
    void OpenStandardInput();
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override;
    void Close();
    // The name used in messages: the path, or "<stdin>".
    const std::string& Name() const { return m_strName; }

  private:
    CFileHandle m_file = kNoFile;
    bool m_bOwned = false;
    std::string m_strName;
};

// An output written to a temporary file beside its target and renamed over the target by Commit.
// Until then the target is untouched; a file that is never committed leaves nothing behind.
class CReplacingFile : public CByteSink {
  public:
    CReplacingFile() = default;
    ~CReplacingFile() override;

    // Creates the temporary file for `target`; on failure returns false and fills `error`.
    bool Create(const std::string& target, CError& error);
    // Writes what is buffered and closes the temporary file (throws CFailure on a write failure).
    void Finish();
    // Renames the finished temporary file over the target; on failure returns false and fills
    // `error` (the temporary file is then removed).
    bool Commit(CError& error);
    // Removes the temporary file, if any.
    void Discard();

    const std::string& Target() const { return m_strTarget; }

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;

  private:
    CFileHandle m_file = kNoFile;
    int m_nSlot = -1;
    std::string m_strTarget;
    std::string m_strTemp;
};

// While it lives, SIGINT, SIGTERM and SIGHUP wait (in the calling thread): the renames that replace
// the targets are then never cut off half-way, leaving some files new and others old.
class CInterruptsHeld {
  public:
    CInterruptsHeld();
    ~CInterruptsHeld();
    CInterruptsHeld(const CInterruptsHeld&) = delete;
    CInterruptsHeld& operator=(const CInterruptsHeld&) = delete;

  private:
    // What was held before (a signal mask on POSIX systems).
    alignas(8) unsigned char m_saved[128];
};

// Removes every temporary output file still open. Safe to call from a signal handler: an
// interrupted conversion leaves no temporary file behind and every target as it was.
void RemoveTemporaryFiles() noexcept;

// For a program's start: Ctrl+C, Ctrl+Break and closing the console on Windows remove the
// temporary files before they end the program. On POSIX systems SIGINT, SIGTERM and SIGHUP then
// remove the temporary files before they end the program as they would have (a signal the caller
// ignores, as under nohup, stays ignored), and SIGXFSZ is ignored, so that a write past a file size
// limit fails with "File too large" and is cleaned up instead of killing the program. SIGBUS (a
// mapped input cut short while it is read) removes the temporary files too.
void CleanUpOnInterrupt();

}  // namespace halvic
