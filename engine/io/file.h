// The files of a conversion: an input read in large blocks, and outputs that replace their targets
// only when the whole conversion has succeeded. Each system has its own implementation
// (file_posix.cpp, file_windows.cpp); paths are UTF-8 on every system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/io/byte_stream.h"
#include "engine/io/error.h"

namespace halvic {

// A file open at the system: a descriptor on POSIX systems, a HANDLE on Windows.
using CFileHandle = std::intptr_t;
inline constexpr CFileHandle kNoFile = -1;

// The characters that end the directory part of a path: "/", and on Windows "\\" and ":" too.
extern const char* const kPathSeparators;

// The separator that joins a folder and a name: "/", and on Windows "\\".
extern const char kPathSeparator;

// `name` inside `dir` ("" is the current working directory), joined with kPathSeparator, or with
// the '/' that `dir` is written with on Windows, so that a path is never written with both.
std::string JoinPath(const std::string& dir, const std::string& name);

// A number that tells this process from the others writing into the same directory.
long ProcessId();

// Opens `path` for reading when it is a regular file (a link to one is followed). Otherwise
// returns kNoFile and fills `error` with the system's reason, or, for a name that is neither a
// regular file nor a folder, sets `notRegular` instead.
CFileHandle OpenRegularFile(const std::string& path, bool& notRegular, CError& error);
// Reads up to `capacity` bytes of `file`, 0 at its end; throws CFailure naming `name`.
std::size_t ReadFromFile(CFileHandle file, unsigned char* buffer, std::size_t capacity,
                         const std::string& name);
// Writes all of `data` to `file`; throws CFailure naming `name`.
void WriteToFile(CFileHandle file, const unsigned char* data, std::size_t size,
                 const std::string& name);
// Moves the position of `file` to byte `offset`; throws CFailure naming `name`.
void SeekFile(CFileHandle file, std::uint64_t offset, const std::string& name);
// Sets `size` to the size of `file` and returns true when it is a regular file (a disk file on
// Windows); false for a pipe, a device or a console.
bool RegularFileSize(CFileHandle file, std::uint64_t& size);
// The byte `file` reads next; 0 when the system cannot tell.
std::uint64_t FilePosition(CFileHandle file);
// Cuts the file at `path` to `size` bytes, if it can (the test seam of CInputFile).
void TruncateFile(const std::string& path, std::uint64_t size);
void CloseFile(CFileHandle file);
CFileHandle StandardOutput();
CFileHandle StandardError();
// Whether `file` is a terminal (a console on Windows).
bool IsTerminal(CFileHandle file);
// The width of the terminal `file` is, in columns; 0 when it is none.
std::size_t TerminalColumns(CFileHandle file);

// When standard input is a console on Windows, reads one line typed there into `line`, in UTF-8
// without its line end, whatever the console's code page (a name pasted in any script arrives
// whole), and returns kLine, or kEnd for Ctrl+Z or a closed console. Otherwise (a pipe, a file, any
// POSIX system) returns kNotConsole and reads nothing: the caller reads the bytes.
enum class EConsoleLine { kNotConsole, kLine, kEnd };
EConsoleLine ReadConsoleLine(std::string& line);

// Why a file cut short by another program while halvic read it fails.
extern const char* const kTruncatedReason;

// An existing file, or standard input, opened for reading. A regular file that ends before the
// size it had when it was opened was cut short by another program while it was read: Read throws
// CFailure (kTruncatedReason) rather than hand out its first part as if it were the whole.
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
    // Whether it is a regular file, and its size when it was opened.
    bool Regular() const { return m_bRegular; }
    std::uint64_t Size() const { return m_nSize; }

  private:
    // Notes the size of a regular file, and the test seam's cut: with
    // HALVIC_TEST_TRUNCATE_INPUT=N in the environment, the file is cut to N bytes once N bytes
    // have been read.
    void NoteSize(const std::string& seamPath);

    CFileHandle m_file = kNoFile;
    bool m_bOwned = false;
    std::string m_strName;
    bool m_bRegular = false;
    std::uint64_t m_nSize = 0;  // of a regular file, when it was opened
    std::uint64_t m_nRead = 0;
    std::uint64_t m_nCutAt = UINT64_MAX;
    std::string m_strSeamPath;
};

// An output written to a temporary file beside its target, to be put in its place by the caller
// (see output_set.h). A file that is never put in place leaves nothing behind.
class CReplacingFile : public CByteSink {
  public:
    CReplacingFile() = default;
    ~CReplacingFile() override;

    // Creates the temporary file `temp` for `target`. When the target is a file already, the
    // temporary takes its permissions (its permission bits, on Windows its access list) and,
    // where the system allows, its owner and group from the start, so that a replaced file is
    // never readable by more people than the old one. A target that is a link, or on POSIX
    // systems a file of another user (for root: of a user other than the directory's owner),
    // passes on nothing: the new file is the converting user's, with the usual mode (which such
    // a file's bits narrow).
    // On failure returns false and fills `error`, which names the target.
    bool Create(const std::string& target, const std::string& temp, CError& error);
    // Writes what is buffered and closes the temporary file, first flushing it to the disk when
    // `sync` is set (throws CFailure on a failure).
    void Finish(bool sync);
    // The temporary is in the target's place now, or belongs to someone else: it is no longer
    // removed when this object goes.
    void Release();
    // Removes the temporary file, if any.
    void Discard();

    const std::string& Target() const { return m_strTarget; }
    const std::string& Temp() const { return m_strTemp; }

  protected:
    void Drain(const unsigned char* data, std::size_t size) override;

  private:
    CFileHandle m_file = kNoFile;
    int m_nSlot = -1;
    std::string m_strTarget;
    std::string m_strTemp;
};

// What a name in a directory is, without following a symbolic link (a reparse point on Windows,
// and under Wine a link of the host too).
enum class EFileKind { kMissing, kRegular, kLink, kDirectory, kOther };

struct CFileStatus {
    EFileKind m_kind = EFileKind::kMissing;
    bool m_bOurs = false;  // owned by the user this process runs as (on Windows, or its group
                           // of administrators when it runs as one)
};

// The status of `path` itself (a link is not followed); a name that cannot be looked up counts
// as missing.
CFileStatus StatusOf(const std::string& path);
// Whether the owner of `path` could have renamed a file over `target`, or removed it, in directory
// `dir`: not where `dir` lets each user change only their own names (it is sticky, as /tmp is),
// that owner is neither root nor `dir`'s owner, and `target` is missing or not theirs. True where
// the system cannot tell (Windows).
bool CouldReplace(const std::string& dir, const std::string& path, const std::string& target);
// Renames `from` to `to`, replacing `to` when it exists (a link there is replaced, not followed).
// A link at `from` is moved itself, never the file it leads to; where that cannot be told apart
// (a link of the host under Wine, which opens what it leads to), it is left and the rename fails.
bool RenameFile(const std::string& from, const std::string& to, CError& error);
// Gives the file `existing` the second name `name`. Fails on file systems without such links.
bool LinkFile(const std::string& existing, const std::string& name, CError& error);
// Removes the name `path`; a link is removed itself, never the file it leads to, or, as with
// RenameFile, left with a failure.
bool RemoveFile(const std::string& path, CError& error);
// The names in directory `dir` ("" is the current working directory), "." and ".." left out.
// Makes directory `dir`, whose parent exists; on failure fills `error`.
bool MakeDirectory(const std::string& dir, CError& error);
// Whether the user may create files in directory `dir`, asked without writing there (where the
// system cannot tell without writing, true); otherwise fills `error` with the reason.
bool MayWriteInDirectory(const std::string& dir, CError& error);
bool ListDirectory(const std::string& dir, std::vector<std::string>& names, CError& error);
// Flushes the names of `dir` to the disk: renames and removals in it then survive a power cut.
bool SyncDirectory(const std::string& dir, CError& error);
// Creates `path` (never through a link, failing if it exists) holding `bytes`, flushed to the disk
// first when `sync` is set.
bool WriteNewFile(const std::string& path, std::string_view bytes, bool sync, CError& error);
// Reads `path` whole when it is a regular file (not a link) of at most `limit` bytes.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes, CError& error);

// An advisory lock on a lock file, held until Release or the end of the object, and let go by the
// system when the process ends, however it ends.
class CFileLock {
  public:
    CFileLock() = default;
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    enum class EMode { kShared, kExclusive };
    // Opens `path` (creating it empty, never through a link, never truncating or writing it) and
    // takes the lock, waiting as long as another process holds it, or at most `waitSeconds`
    // when that is not negative (then failing with TimedOut() set); `onWait` is called once when
    // it has waited a second. A name that is not a regular file fails with a message that says so.
    bool Take(const std::string& path, EMode mode, const std::function<void()>& onWait,
              CError& error, int waitSeconds = -1);
    // Whether Take could open or create the lock file at `path`, asked without creating, keeping
    // or locking it; otherwise fills `error` as Take would.
    static bool Check(const std::string& path, CError& error);
    void Release();
    // Lets go of the lock, first removing the lock file `path` when Take created it, so that a
    // conversion that failed leaves the directory as it found it (not on Windows, where a process
    // that waits for the lock holds the file open).
    void ReleaseRemovingCreated(const std::string& path);
    // Set when the last Take failed because the lock file could not be opened or created for want
    // of permission (a directory others may read but not write).
    bool NotPermitted() const { return m_bNotPermitted; }
    // Set when the last Take gave up after waiting its `waitSeconds`.
    bool TimedOut() const { return m_bTimedOut; }

  private:
    // Calls `attempt` until it takes the lock: it returns 0 when it has, kBusy while another
    // process holds the lock, or the system's error code. For the first second it is asked not
    // to block and called again shortly; then `onWait` is called once and it may block, unless
    // `waitSeconds` is not negative: then it is asked on until they have passed, and Retry
    // returns kTimedOut.
    static constexpr int kBusy = -1;
    static constexpr int kTimedOutCode = -2;
    static int Retry(const std::function<int(bool block)>& attempt,
                     const std::function<void()>& onWait, int waitSeconds);
    // The failure of a Take whose Retry returned kTimedOutCode.
    bool GiveUp(const std::string& path, CError& error);

    CFileHandle m_file = kNoFile;
    bool m_bNotPermitted = false;
    bool m_bTimedOut = false;
    bool m_bCreated = false;  // the last Take created the lock file
};

// While it lives, SIGINT, SIGTERM and SIGHUP wait (in the calling thread): the renames that replace
// the targets are then never cut off half-way, leaving some files new and others old.
class CInterruptsHeld {
  public:
    CInterruptsHeld();
    ~CInterruptsHeld();
    CInterruptsHeld(const CInterruptsHeld&) = delete;
    CInterruptsHeld& operator=(const CInterruptsHeld&) = delete;

    // Whether an interrupt came meanwhile and waits.
    bool Pending() const;
    // Keeps an interrupt that came waiting past the end of this object, until
    // ReleaseInterrupts: the caller first says what was done.
    void KeepHeld() { m_bKeep = true; }

  private:
    bool m_bKeep = false;
    // What was held before (a signal mask on POSIX systems).
    alignas(8) unsigned char m_saved[128];
};

// Lets an interrupt kept waiting by CInterruptsHeld::KeepHeld take its course.
void ReleaseInterrupts();

// Removes every temporary output file still open. Safe to call from a signal handler: an
// interrupted conversion leaves no temporary file behind and every target as it was.
void RemoveTemporaryFiles() noexcept;
// The temporaries RemoveTemporaryFiles removes (kept by file.cpp): a name is registered before the
// file is created and unregistered once it is gone or in its target's place. -1: no room.
int RegisterTemporaryFile(const std::string& path);
void UnregisterTemporaryFile(int slot);
// Removes the file `path` without allocating memory, as an interrupt handler must.
void RemoveFileNow(const char* path) noexcept;
// Whether a line that is rewritten in place (a progress line) is on standard error: an interrupt
// then clears it, as the end of a conversion does, before the program ends.
void SetLineShown(bool shown) noexcept;
bool LineShown() noexcept;

// For a program's start: Ctrl+C, Ctrl+Break and closing the console on Windows remove the
// temporary files before they end the program. On POSIX systems SIGINT, SIGTERM and SIGHUP then
// remove the temporary files before they end the program as they would have (a signal the caller
// ignores, as under nohup, stays ignored), and SIGXFSZ is ignored, so that a write past a file size
// limit fails with "File too large" and is cleaned up instead of killing the program.
void CleanUpOnInterrupt();

}  // namespace halvic
