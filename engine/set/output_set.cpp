#include "engine/set/output_set.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace halvic {

std::string OutputFileName(std::size_t i) {
    return i == 0 ? kRecordFileName : TableFileName(i - 1);
}

std::string WaitingMessage(const std::string& dir) {
    return "waiting for another conversion into " + (dir.empty() ? std::string(".") : dir);
}

CError WaitedInVain(const std::string& dir, int seconds) {
    return {dir.empty() ? "." : dir, 0,
            "another conversion into this directory still holds it after " +
                std::to_string(seconds) + (seconds == 1 ? " second" : " seconds") +
                " of waiting; gave up"};
}

namespace {

// The names halvic gives its own files beside the targets: ".NAME.tmp.PID.N" for a file being
// written (NAME is an output file or the commit record) and ".NAME.old.PID.N" for the backup of
// an old target. The process number and a counter keep the names of two processes apart.
const char* const kTempTag = ".tmp.";
const char* const kBackupTag = ".old.";
// A commit record of its own, ".halvic.commit.record.PID.N", is written where the usual name
// holds another user's record that this user may not replace (in a sticky directory).
const char* const kRecordTag = ".record.";
const char* const kRecordBase = kCommitRecordName + 1;

std::string OwnName(const std::string& name, const char* tag, unsigned& counter) {
    return "." + name + tag + std::to_string(ProcessId()) + "." + std::to_string(counter++);
}

// The first of OwnName's names that nothing in `dir` has: a dead process with the same number, or
// anyone else, may have left a file, a link or a directory under one.
std::string FreeName(const std::string& dir, const std::string& name, const char* tag,
                     unsigned& counter) {
    std::string free;
    do {
        free = OwnName(name, tag, counter);
    } while (StatusOf(JoinPath(dir, free)).m_kind != EFileKind::kMissing);
    return free;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether `name` is one of halvic's own names for `base` with `tag`.
bool IsOwnName(std::string_view name, const std::string& base, std::string_view tag) {
    std::string prefix = "." + base + std::string(tag);
    if (name.substr(0, prefix.size()) != prefix) return false;
    std::string_view rest = name.substr(prefix.size());
    std::string_view::size_type dot = rest.find('.');
    return dot != std::string_view::npos && AllDigits(rest.substr(0, dot)) &&
           AllDigits(rest.substr(dot + 1));
}

// What a conversion leaves behind only when it dies: a temporary (of an output file, or of a
// commit record that was being written), a backup of an old output file, or a commit record
// under a name of its own.
enum class ELeftOver { kNone, kTemp, kBackup, kRecord };

ELeftOver LeftOver(std::string_view name) {
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        if (IsOwnName(name, OutputFileName(i), kTempTag)) return ELeftOver::kTemp;
        if (IsOwnName(name, OutputFileName(i), kBackupTag)) return ELeftOver::kBackup;
    }
    if (IsOwnName(name, kRecordBase, kRecordTag)) return ELeftOver::kRecord;
    return IsOwnName(name, kRecordBase, kTempTag) ? ELeftOver::kTemp : ELeftOver::kNone;
}

// One line of a commit record: an output file, the temporary that replaces it, and the backup
// that the old file gets (none when there was no old file).
struct CCommitEntry {
    std::string m_strTarget;
    std::string m_strTemp;
    std::string m_strBackup;  // empty: none
};

const char* const kRecordHeader = "halvic commit record 1\n";
constexpr std::size_t kRecordLimit = 4096;

std::string FormatRecord(const std::vector<CCommitEntry>& entries) {
    std::string text = kRecordHeader;
    for (const CCommitEntry& entry : entries) {
        text += entry.m_strTarget + " " + entry.m_strTemp + " " +
                (entry.m_strBackup.empty() ? "-" : entry.m_strBackup) + "\n";
    }
    return text;
}

// The entries of a record as FormatRecord writes them, or nothing: every name must be one of
// the names halvic gives its own files, for an output file named once.
std::optional<std::vector<CCommitEntry>> ParseRecord(std::string_view text) {
    std::string_view header = kRecordHeader;
    if (text.substr(0, header.size()) != header) return std::nullopt;
    text.remove_prefix(header.size());
    std::vector<CCommitEntry> entries;
    std::array<bool, kOutputCount> seen = {};
    while (!text.empty()) {
        std::string_view::size_type end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        std::string_view::size_type first = line.find(' ');
        std::string_view::size_type second =
            first == std::string_view::npos ? first : line.find(' ', first + 1);
        if (second == std::string_view::npos) return std::nullopt;
        CCommitEntry entry{std::string(line.substr(0, first)),
                           std::string(line.substr(first + 1, second - first - 1)),
                           std::string(line.substr(second + 1))};
        if (entry.m_strBackup == "-") entry.m_strBackup.clear();
        std::size_t i = 0;
        while (i < kOutputCount && entry.m_strTarget != OutputFileName(i))
            ++i;
        if (i == kOutputCount || seen[i] ||
            !IsOwnName(entry.m_strTemp, entry.m_strTarget, kTempTag) ||
            !(entry.m_strBackup.empty() ||
              IsOwnName(entry.m_strBackup, entry.m_strTarget, kBackupTag))) {
            return std::nullopt;
        }
        seen[i] = true;
        entries.push_back(std::move(entry));
    }
    if (entries.empty()) return std::nullopt;
    return entries;
}

bool IsOwnFile(const CFileStatus& status) {
    return status.m_kind == EFileKind::kRegular && status.m_bOurs;
}

// A backup is a second name of the old target, which may have been a link.
bool IsOwnBackup(const CFileStatus& status) {
    return (status.m_kind == EFileKind::kRegular || status.m_kind == EFileKind::kLink) &&
           status.m_bOurs;
}

// Undoes the commit of `entries` in `dir` as far as it went, whatever step it was cut off at:
// a temporary still there was not put in place, so its target is the old file; a temporary gone
// was, so the backup goes back (or, with none, the new file goes). Safe to repeat after a crash
// in the middle of it.
bool UndoCommit(const std::string& dir, const std::vector<CCommitEntry>& entries, CError& error) {
    bool ok = true;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        std::string target = JoinPath(dir, entry->m_strTarget);
        std::string temp = JoinPath(dir, entry->m_strTemp);
        std::string backup = entry->m_strBackup.empty() ? "" : JoinPath(dir, entry->m_strBackup);
        CError ignored;
        if (StatusOf(temp).m_kind != EFileKind::kMissing) {
            if (IsOwnFile(StatusOf(temp))) RemoveFile(temp, ignored);
            if (backup.empty() || !IsOwnBackup(StatusOf(backup))) continue;
            // A backup is a second name of the target, unless the file system had no such names
            // and the old file was moved aside to make it: then it goes back.
            if (StatusOf(target).m_kind != EFileKind::kMissing) {
                RemoveFile(backup, ignored);
            } else if (!RenameFile(backup, target, error)) {
                ok = false;
            }
            continue;
        }
        if (!backup.empty()) {
            CFileStatus status = StatusOf(backup);
            if (status.m_kind == EFileKind::kMissing) continue;  // put back already
            if (!IsOwnBackup(status)) {
                if (ok) error = {backup, 0, "not a backup that halvic made; left as it is"};
                ok = false;
            } else if (!RenameFile(backup, target, error)) {
                ok = false;
            }
        } else if (IsOwnFile(StatusOf(target)) && !RemoveFile(target, error)) {
            ok = false;
        }
    }
    return ok;
}

// Removes the commit record `recordPath` that has been dealt with; the directory is flushed
// first, so that the undoing cannot be lost with the record still gone.
bool RemoveRecord(const std::string& dir, const std::string& recordPath, bool sync, CError& error) {
    if (sync && !SyncDirectory(dir, error)) return false;
    if (!RemoveFile(recordPath, error)) return false;
    return !sync || SyncDirectory(dir, error);
}

// Whether `dir` holds a commit record or anything a dead conversion left.
bool NeedsRecovery(const std::string& dir) {
    if (StatusOf(JoinPath(dir, kCommitRecordName)).m_kind != EFileKind::kMissing) return true;
    std::vector<std::string> names;
    CError ignored;
    if (!ListDirectory(dir, names, ignored)) return false;
    for (const std::string& name : names) {
        if (LeftOver(name) != ELeftOver::kNone) return true;
    }
    return false;
}

std::string DirName(const std::string& dir) {
    return dir.empty() ? "." : dir;
}

// Why a reader refuses a set whose commit record it may not act on: the files may be a mix of
// two sets, and only the user who wrote the record may put the old ones back.
CError UnfinishedCommit(const std::string& dir, const std::string& recordPath) {
    return {DirName(dir), 0,
            "a conversion into this directory was cut off while it replaced the files, and "
            "only the user who owns " +
                recordPath +
                " may put the old files back; until that user converts into this directory or "
                "runs halvic dump on it once, the files may be a mix of two sets"};
}

// Whether another user's commit record `recordPath` may have made a mix of the set: unless the
// directory kept that user from replacing every one of the targets.
bool MayHaveMixed(const std::string& dir, const std::string& recordPath) {
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        if (CouldReplace(dir, recordPath, JoinPath(dir, OutputFileName(i)))) return true;
    }
    return false;
}

// Under the exclusive lock: undoes the commit that the record `recordPath` tells of, if it is
// this user's; see Recover.
bool RecoverRecord(const std::string& dir, const std::string& recordPath, bool reading,
                   CError& error, std::vector<CError>& warnings) {
    CFileStatus status = StatusOf(recordPath);
    if (status.m_kind == EFileKind::kMissing) return true;
    std::string text;
    CError unread;
    std::optional<std::vector<CCommitEntry>> entries;
    // Another user's record may be a real one; one of this user's that halvic cannot read was
    // never written by a commit.
    if (reading && status.m_kind == EFileKind::kRegular && !status.m_bOurs &&
        MayHaveMixed(dir, recordPath)) {
        error = UnfinishedCommit(dir, recordPath);
        return false;
    }
    if (!IsOwnFile(status)) {
        warnings.push_back({recordPath, 0,
                            status.m_kind == EFileKind::kRegular
                                ? "belongs to another user; ignored"
                                : "is not a file halvic wrote; ignored"});
    } else if (!ReadSmallFile(recordPath, kRecordLimit, text, unread) ||
               !(entries = ParseRecord(text))) {
        warnings.push_back({recordPath, 0, "is not a commit record halvic can read; ignored"});
    } else {
        if (!UndoCommit(dir, *entries, error) || !RemoveRecord(dir, recordPath, true, error)) {
            error.m_strReason +=
                " (while undoing the interrupted conversion that " + recordPath + " records)";
            return false;
        }
        warnings.push_back({DirName(dir), 0,
                            "a conversion into this directory was cut off while it replaced "
                            "the files; the old files were put back"});
    }
    return true;
}

// Under the exclusive lock: undoes a commit that a crash cut short, then removes what dead
// conversions left. Fails when a commit record could not be undone; for a reader (`reading`)
// also when the record is another user's, which it may not undo: the set may be a mix (unless
// the directory kept that user from replacing any of the files).
bool Recover(const std::string& dir, bool reading, CError& error, std::vector<CError>& warnings) {
    if (!RecoverRecord(dir, JoinPath(dir, kCommitRecordName), reading, error, warnings)) {
        return false;
    }
    std::vector<std::string> names;
    CError ignored;
    if (!ListDirectory(dir, names, ignored)) return true;
    // Records first: undoing needs the backups.
    for (const std::string& name : names) {
        if (LeftOver(name) == ELeftOver::kRecord &&
            !RecoverRecord(dir, JoinPath(dir, name), reading, error, warnings)) {
            return false;
        }
    }
    for (const std::string& name : names) {
        ELeftOver kind = LeftOver(name);
        if (kind != ELeftOver::kTemp && kind != ELeftOver::kBackup) continue;
        std::string path = JoinPath(dir, name);
        CFileStatus left = StatusOf(path);
        if (kind == ELeftOver::kTemp ? IsOwnFile(left) : IsOwnBackup(left)) {
            RemoveFile(path, ignored);
        }
    }
    return true;
}

// The directory above `dir` ("" when `dir` names no directory above it).
std::string ParentDirectory(const std::string& dir) {
    std::string::size_type end = dir.find_last_not_of(kPathSeparators);
    if (end == std::string::npos) return "";
    std::string::size_type slash = dir.find_last_of(kPathSeparators, end);
    if (slash == std::string::npos) return "";
    std::string::size_type last = dir.find_last_not_of(kPathSeparators, slash);
    // A parent of separators only is the root.
    return dir.substr(0, last == std::string::npos ? slash + 1 : last + 1);
}

// The first of the directories of `dir` that are missing, with `dir` itself last; none when it
// exists.
std::vector<std::string> MissingDirectories(const std::string& dir) {
    std::vector<std::string> missing;
    for (std::string at = dir; !at.empty() && StatusOf(at).m_kind == EFileKind::kMissing;
         at = ParentDirectory(at)) {
        missing.insert(missing.begin(), at);
    }
    return missing;
}

// Whether the first of `missing` can be made; a check and a conversion say the same.
bool MayMake(const std::vector<std::string>& missing, CError& error) {
    if (MayWriteInDirectory(ParentDirectory(missing.front()), error)) return true;
    error.m_strFile = missing.front();
    return false;
}

}  // namespace

bool MakeOutputDirectory(const std::string& dir, bool& made, CError& error) {
    made = false;
    std::vector<std::string> missing = MissingDirectories(dir);
    if (missing.empty()) return true;
    if (!MayMake(missing, error)) return false;
    for (const std::string& each : missing) {
        if (!MakeDirectory(each, error)) return false;
        made = true;
    }
    return true;
}

bool CheckOutputDirectory(const std::string& dir, CError& error) {
    std::vector<std::string> missing = MissingDirectories(dir);
    if (missing.empty()) return CFileLock::Check(JoinPath(dir, kLockFileName), error);
    return MayMake(missing, error);
}

COutputSet::~COutputSet() {
    for (CReplacingFile& file : m_files)
        file.Discard();
    if (!m_bCommitted) m_lock.ReleaseRemovingCreated(JoinPath(m_strDir, kLockFileName));
}

bool COutputSet::Open(const std::string& dir, const COutputSetOptions& options, CError& error,
                      std::vector<CError>& warnings) {
    m_strDir = dir;
    m_options = options;
    if (!m_lock.Take(JoinPath(dir, kLockFileName), CFileLock::EMode::kExclusive, options.m_onWait,
                     error, options.m_nWaitSeconds)) {
        if (m_lock.TimedOut()) error = WaitedInVain(dir, options.m_nWaitSeconds);
        return false;
    }
    if (!Recover(dir, false, error, warnings)) return false;
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        std::string name = OutputFileName(i);
        std::string temp = JoinPath(dir, FreeName(dir, name, kTempTag, m_nNames));
        if (!m_files[i].Create(JoinPath(dir, name), temp, error)) return false;
    }
    return true;
}

std::uint64_t COutputSet::Finish() {
    std::uint64_t bytes = 0;
    for (CReplacingFile& file : m_files) {
        file.Finish(m_options.m_bSync);
        bytes += file.BytesWritten();
    }
    return bytes;
}

bool COutputSet::Commit(CError& error, std::vector<CError>& warnings) {
    const bool sync = m_options.m_bSync;
    auto step = [this, &error](ECommitStep what, std::size_t i, const std::string& file) {
        if (!m_options.m_commitHook) return true;
        std::string refusal = m_options.m_commitHook(what, i);
        if (refusal.empty()) return true;
        error = {file, 0, refusal};
        return false;
    };
    std::vector<CCommitEntry> entries;
    for (const CReplacingFile& file : m_files) {
        std::string name = OutputFileName(entries.size());
        bool old = StatusOf(file.Target()).m_kind != EFileKind::kMissing;
        entries.push_back({name, file.Temp().substr(file.Temp().find_last_of(kPathSeparators) + 1),
                           old ? FreeName(m_strDir, name, kBackupTag, m_nNames) : ""});
    }
    std::string recordPath = JoinPath(m_strDir, kCommitRecordName);
    std::string recordTemp =
        JoinPath(m_strDir, FreeName(m_strDir, kRecordBase, kTempTag, m_nNames));
    if (!step(ECommitStep::kWriteRecord, 0, recordPath) ||
        !WriteNewFile(recordTemp, FormatRecord(entries), sync, error)) {
        return false;
    }
    bool recorded = RenameFile(recordTemp, recordPath, error);
    CFileStatus other = StatusOf(recordPath);
    if (!recorded && other.m_kind != EFileKind::kMissing && !other.m_bOurs) {
        // Another user's record that this user may not replace (Recover ignored it): the
        // directory keeps that user from this user's files too. This one takes a name of its own.
        recordPath = JoinPath(m_strDir, FreeName(m_strDir, kRecordBase, kRecordTag, m_nNames));
        recorded = RenameFile(recordTemp, recordPath, error);
    }
    if (!recorded || (sync && !SyncDirectory(m_strDir, error))) {
        CError ignored;
        RemoveFile(recordTemp, ignored);
        return false;
    }

    bool ok = true;
    for (std::size_t i = 0; i < kOutputCount && ok; ++i) {
        const CCommitEntry& entry = entries[i];
        const std::string& target = m_files[i].Target();
        if (!entry.m_strBackup.empty()) {
            // A second name keeps the old file whole while the new one takes its place; where the
            // file system has no such names, the old file is moved aside instead.
            std::string backup = JoinPath(m_strDir, entry.m_strBackup);
            CError unlinked;
            ok = step(ECommitStep::kBackUp, i, target);
            if (ok && !LinkFile(target, backup, unlinked) && !RenameFile(target, backup, error)) {
                // The system's reason may be the backup's name (taken meanwhile) or the target
                // (on Windows, held open by another program): with nothing at the backup's name,
                // the target is the file at fault.
                if (StatusOf(backup).m_kind == EFileKind::kMissing) {
                    error.m_strFile = target;
                } else {
                    error.m_strReason += " (while keeping " + target + " under this name)";
                }
                ok = false;
            }
        }
        ok = ok && step(ECommitStep::kReplace, i, target) &&
             RenameFile(m_files[i].Temp(), target, error);
        if (ok) m_files[i].Release();
    }
    if (ok && sync) ok = SyncDirectory(m_strDir, error);
    ok = ok && step(ECommitStep::kRemoveRecord, 0, recordPath) && RemoveFile(recordPath, error);
    if (!ok) {
        CError undo;
        if (!UndoCommit(m_strDir, entries, undo) ||
            !RemoveRecord(m_strDir, recordPath, sync, undo)) {
            error.m_strReason += "; the old files could not all be put back (" + undo.Message() +
                                 "): the next conversion into this directory tries again";
        }
        for (CReplacingFile& file : m_files)
            file.Release();  // removed by the undoing, or left for the next conversion
        return false;
    }
    // The commit is done: the new set stands, whatever follows.
    m_bCommitted = true;
    if (sync && !SyncDirectory(m_strDir, error)) {
        // The record's removal may not be on the disk yet: a power cut could bring the record
        // back, and undoing it then needs every backup.
        error.m_strReason +=
            " (while flushing the directory after the commit: the new files are in place, but "
            "until the system writes the directory out a power cut may bring the old ones back; "
            "they are kept beside the new ones for the next conversion into this directory to "
            "remove)";
        return false;
    }
    // The old files go last, out of the way of the new ones. One that
    // cannot be removed is only left over: a warning, and the next conversion removes it.
    for (std::size_t i = 0; i < kOutputCount; ++i) {
        if (entries[i].m_strBackup.empty()) continue;
        std::string backup = JoinPath(m_strDir, entries[i].m_strBackup);
        if (!step(ECommitStep::kRemoveBackups, i, backup) || !RemoveFile(backup, error)) {
            error.m_strReason +=
                "; the replaced file is left under this name, for the next "
                "conversion into this directory to remove";
            warnings.push_back(std::move(error));
            error = {};
        }
    }
    return true;
}

bool COutputSetReadLock::MayReadUnlocked(const std::string& dir, CError& error) {
    // A lock file that is there is used by the conversions into `dir`: one may be replacing the
    // files now.
    const std::string path = JoinPath(dir, kLockFileName);
    if (StatusOf(path).m_kind != EFileKind::kMissing) {
        error.m_strReason += "; without the lock, a conversion into " + DirName(dir) +
                             " may be replacing the files while they are read: the owner of " +
                             path +
                             " makes it readable by converting into that directory or running "
                             "halvic dump on it once";
        return false;
    }
    // Nobody may undo it here, without the lock.
    if (StatusOf(JoinPath(dir, kCommitRecordName)).m_kind == EFileKind::kRegular) {
        error = UnfinishedCommit(dir, JoinPath(dir, kCommitRecordName));
        return false;
    }
    return true;
}

bool COutputSetReadLock::Take(const std::string& dir, const std::function<void()>& onWait,
                              CError& error, std::vector<CError>& warnings, int waitSeconds) {
    const std::string path = JoinPath(dir, kLockFileName);
    auto take = [&](CFileLock::EMode mode) {
        if (m_lock.Take(path, mode, onWait, error, waitSeconds)) return true;
        if (m_lock.TimedOut()) error = WaitedInVain(dir, waitSeconds);
        return false;
    };
    if (!take(CFileLock::EMode::kShared)) {
        return m_lock.NotPermitted() && MayReadUnlocked(dir, error);
    }
    if (!NeedsRecovery(dir)) return true;
    // Undoing needs the directory to itself.
    m_lock.Release();
    if (!take(CFileLock::EMode::kExclusive)) {
        return m_lock.NotPermitted() && MayReadUnlocked(dir, error);
    }
    return Recover(dir, true, error, warnings);
}

}  // namespace halvic
