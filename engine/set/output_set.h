// The seven output files as one set. The record file's identifiers mean something only with the
// table files written by the same conversion, so the seven are replaced together or not at all:
// - one conversion at a time per directory: an advisory lock on the lock file ".halvic.lock",
//   exclusive for a conversion, shared for a reader;
// - the commit: the new files are written to temporaries beside their targets; then a commit
//   record ".halvic.commit" lists each temporary, its target and the second name (a backup)
//   that the old target gets; then each target is replaced; then the record is removed, and with
//   it the backups. The commit is done when the record is gone;
// - a commit that does not end (a failed rename, a crash, a kill, a power cut) is undone: by the
//   conversion itself when it can, otherwise by the next conversion or reader that takes the lock.
//   Undoing puts the backups back, so the set is the old one, whole;
// - what dead conversions left behind (temporaries, backups) is removed by the next one.
// A commit record is acted on only as far as it names files of this directory, of the names
// halvic gives its own files, owned by the user who runs it. Where another user's record takes
// the usual name and may not be replaced (a sticky directory), a conversion writes its record
// under a name of its own, ".halvic.commit.record.PID.N".
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/format/record_format.h"
#include "engine/format/value_table.h"
#include "engine/io/error.h"
#include "engine/io/file.h"

namespace halvic {

inline constexpr const char* kLockFileName = ".halvic.lock";
inline constexpr const char* kCommitRecordName = ".halvic.commit";

// What to tell a person while the lock of `dir` is waited for.
std::string WaitingMessage(const std::string& dir);
// The failure of a lock of `dir` not taken within `seconds`.
CError WaitedInVain(const std::string& dir, int seconds);

// Makes the output directory `dir` with the directories above it that are missing, as a build
// tool makes its output directory; `made` tells whether there was any to make.
bool MakeOutputDirectory(const std::string& dir, bool& made, CError& error);
// Whether a conversion into `dir` could take it, asked without writing or locking anything: `dir`
// is a directory or can be made, files may be created in it and its lock file is usable.
// Otherwise fills `error` as the conversion would.
bool CheckOutputDirectory(const std::string& dir, CError& error);

// The steps of a commit, in order; kBackUp, kReplace and kRemoveBackups come once per file that
// has them.
enum class ECommitStep { kWriteRecord, kBackUp, kReplace, kRemoveRecord, kRemoveBackups };

struct COutputSetOptions {
    // Flush the new files, and the directory after the renames, to the disk before the commit is
    // reported done.
    bool m_bSync = false;
    // Called once when the lock has been waited for a second.
    std::function<void()> m_onWait;
    // How long to wait for the lock before giving up; negative: as long as it takes.
    int m_nWaitSeconds = -1;
    // For tests: called before each step of the commit with the step and the output file's
    // index; a reason returned makes the step fail as if the system had refused it.
    std::function<std::string(ECommitStep, std::size_t)> m_commitHook;
};

class COutputSet {
  public:
    COutputSet() = default;
    // Removes the temporaries that were not committed and lets go of the lock; the lock file
    // too, unless it was there before or the set was committed.
    ~COutputSet();
    COutputSet(const COutputSet&) = delete;
    COutputSet& operator=(const COutputSet&) = delete;

    // Takes the lock of `dir` ("" is the current working directory), waiting for a conversion
    // that holds it; undoes a commit that a crash cut short and removes what dead conversions
    // left; creates the seven temporaries. What it found to say goes to `warnings`. On failure
    // returns false and fills `error`.
    bool Open(const std::string& dir, const COutputSetOptions& options, CError& error,
              std::vector<CError>& warnings);
    CReplacingFile& File(std::size_t i) { return m_files[i]; }
    // Finishes the seven temporaries (throws CFailure); returns the bytes they hold.
    std::uint64_t Finish();
    // Puts the seven files in place of their targets, all of them or, on failure, none: the old
    // set is then restored and `error` names the file and the reason. An old file that cannot be
    // removed after the commit goes to `warnings`. Past the commit (the record removed) nothing
    // is undone: a directory that cannot be flushed then (with m_bSync) fails the call with the
    // new files in place, which `error` says.
    bool Commit(CError& error, std::vector<CError>& warnings);

  private:
    std::string m_strDir;
    COutputSetOptions m_options;
    CFileLock m_lock;
    std::array<CReplacingFile, kOutputCount> m_files;
    unsigned m_nNames = 0;  // numbers the names of this set's temporaries and backups
    bool m_bCommitted = false;
};

// Holds the lock of a directory's set for reading: while it lives no conversion replaces the
// files. A commit that a crash cut short is undone first, and what dead conversions left is
// removed. A directory where no lock file can be created (read-only, or someone else's) is read
// without the lock. The set is refused (Take fails) when it may be a mix: a commit record that
// this user may not undo (another user's, unless a sticky directory kept that user from every
// target), or a lock file that is there but cannot be opened.
class COutputSetReadLock {
  public:
    // Waits for the lock at most `waitSeconds` when that is not negative.
    bool Take(const std::string& dir, const std::function<void()>& onWait, CError& error,
              std::vector<CError>& warnings, int waitSeconds = -1);

  private:
    // After the lock could not be taken for want of permission (`error` says so): whether the
    // set may be read without it; otherwise `error` says why not and what to do.
    static bool MayReadUnlocked(const std::string& dir, CError& error);

    CFileLock m_lock;
};

}  // namespace halvic
