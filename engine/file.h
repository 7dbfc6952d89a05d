// The files of a conversion: an input read in large blocks, and outputs that replace their targets
// only when the whole conversion has succeeded.
#pragma once

#include <signal.h>

#include <string>

#include "engine/byte_stream.h"
#include "engine/error.h"

namespace halvic {

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
    int m_fd = -1;
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
    int m_fd = -1;
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
    sigset_t m_saved;
};

// Removes every temporary output file still open. Safe to call from a signal handler: an
// interrupted conversion leaves no temporary file behind and every target as it was.
void RemoveTemporaryFiles() noexcept;

// For a program's start: SIGINT, SIGTERM and SIGHUP then remove the temporary files before they
// end the program as they would have (a signal the caller ignores, as under nohup, stays
// ignored), and SIGXFSZ is ignored, so that a write past a file size limit fails with "File too
// large" and is cleaned up instead of killing the program. SIGBUS on a mapped input cut short
// while it is read is turned into a failed conversion (InstallBusErrorHandler).
void CleanUpOnInterrupt();

}  // namespace halvic
