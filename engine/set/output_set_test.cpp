#include "engine/set/output_set.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::CFileList;
using testing::ListFiles;
using testing::ReadFile;
using testing::WriteFile;

class OutputSetTest : public ::testing::Test {
  protected:
    OutputSetTest() : m_scratch("halvic-output-set"), m_dir(m_scratch.Path() / "out") {
        fs::create_directories(m_dir);
        WriteFile(m_scratch.Path() / "outside", "not halvic's");
    }

    std::string Dir() const { return m_dir.string(); }
    // A conversion waits while another process holds the lock in its way, says so once, and
    // converts once it lets go.
    void WaitForTheLock(bool byteRange);

    // "old NAME" in each of the first `count` output files.
    void PutOldSet(std::size_t count = kOutputCount) {
        for (std::size_t i = 0; i < count; ++i)
            WriteFile(m_dir / OutputFileName(i), "old " + OutputFileName(i));
    }
    // What the directory holds after a conversion that wrote "new NAME" into every file.
    static CFileList NewSet() {
        CFileList files;
        for (std::size_t i = 0; i < kOutputCount; ++i)
            files.emplace_back(OutputFileName(i), "new " + OutputFileName(i));
        std::sort(files.begin(), files.end());
        return files;
    }

    // Opens the set, writes "new NAME" into each file and commits.
    bool Convert(const COutputSetOptions& options, CError& error, std::vector<CError>& warnings) {
        COutputSet set;
        if (!set.Open(Dir(), options, error, warnings)) return false;
        for (std::size_t i = 0; i < kOutputCount; ++i)
            set.File(i).Write("new " + OutputFileName(i));
        set.Finish();
        return set.Commit(error, warnings);
    }
    bool Convert(CError& error) {
        std::vector<CError> warnings;
        bool ok = Convert({}, error, warnings);
        EXPECT_TRUE(warnings.empty());
        return ok;
    }

    // Every warning as its message, with the scratch directory left out.
    std::vector<std::string> Messages(const std::vector<CError>& warnings) const {
        std::vector<std::string> messages;
        for (const CError& warning : warnings) {
            std::string message = warning.Message();
            std::string prefix = (m_scratch.Path() / "").string();
            if (message.rfind(prefix, 0) == 0) message.erase(0, prefix.size());
            messages.push_back(message);
        }
        return messages;
    }

    testing::CScratchDir m_scratch;
    fs::path m_dir;
};

TEST_F(OutputSetTest, ReplacesTheSetAndLeavesOnlyTheLockFile) {
    for (std::size_t old : {std::size_t{0}, std::size_t{3}, kOutputCount}) {
        PutOldSet(old);
        CError error;
        ASSERT_TRUE(Convert(error)) << error.Message();
        EXPECT_EQ(ListFiles(m_dir), NewSet()) << old << " old files";
        EXPECT_TRUE(fs::exists(m_dir / kLockFileName));
    }
}

TEST_F(OutputSetTest, AFailedStepPutsTheOldSetBack) {
    const struct {
        ECommitStep step;
        std::size_t file;
        std::size_t oldFiles;  // the first ones have an old file, the others are new
        std::string message;
        // The old target was moved aside to make its backup, as on a file system without hard
        // links, before the step failed.
        bool movedAside = false;
    } kCases[] = {
        {ECommitStep::kWriteRecord, 0, kOutputCount, "out/.halvic.commit: Permission denied"},
        {ECommitStep::kBackUp, 0, kOutputCount, "out/qxase.qxd: Permission denied"},
        {ECommitStep::kReplace, 0, kOutputCount, "out/qxase.qxd: Permission denied"},
        {ECommitStep::kBackUp, 4, kOutputCount, "out/qxi.qxd: Permission denied"},
        {ECommitStep::kReplace, 6, kOutputCount, "out/qxs.qxd: Permission denied"},
        {ECommitStep::kReplace, 5, 2, "out/qxc.qxd: Permission denied"},
        {ECommitStep::kReplace, 3, 0, "out/qxn.qxd: Permission denied"},
        {ECommitStep::kRemoveRecord, 0, 4, "out/.halvic.commit: Permission denied"},
        {ECommitStep::kReplace, 0, kOutputCount, "out/qxase.qxd: Permission denied", true},
        {ECommitStep::kReplace, 3, kOutputCount, "out/qxn.qxd: Permission denied", true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.message + ", " + std::to_string(c.oldFiles) + " old files" +
                     (c.movedAside ? ", moved aside" : ""));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        PutOldSet(c.oldFiles);
        CFileList old = ListFiles(m_dir);
        COutputSetOptions options;
        options.m_commitHook = [this, &c](ECommitStep step, std::size_t file) {
            if (step != c.step || file != c.file) return "";
            // Only the backup's name is left of the old file.
            if (c.movedAside) fs::remove(m_dir / OutputFileName(file));
            return "Permission denied";
        };
        CError error;
        std::vector<CError> warnings;
        EXPECT_FALSE(Convert(options, error, warnings));
        EXPECT_EQ(Messages({error}), std::vector<std::string>{c.message});
        EXPECT_EQ(ListFiles(m_dir), old);
    }
}

TEST_F(OutputSetTest, KeepsThePermissionsOfTheFilesItReplaces) {
    const bool root = ::geteuid() == 0;
    // A group this process is not in: only root may give a file to it.
    const gid_t otherGroup = 4242;
    const struct {
        mode_t mode;
        bool otherGroupToo;
    } kCases[] = {{0600, false}, {0640, false}, {0644, false}, {0664, false},
                  {0664, true},  {0640, true},  {0666, false}, {0400, false}};
    mode_t oldMask = ::umask(022);
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.mode) + (c.otherGroupToo ? " other group" : ""));
        PutOldSet();
        fs::path records = m_dir / kRecordFileName;
        if (c.otherGroupToo && ::chown(records.c_str(), static_cast<uid_t>(-1), otherGroup) != 0) {
            ASSERT_FALSE(root);
        }
        ASSERT_EQ(::chmod(records.c_str(), c.mode), 0);
        struct stat old;
        ASSERT_EQ(::stat(records.c_str(), &old), 0);
        CError error;
        ASSERT_TRUE(Convert(error)) << error.Message();
        struct stat now;
        ASSERT_EQ(::stat(records.c_str(), &now), 0);
        EXPECT_EQ(ReadFile(records), std::string("new ") + kRecordFileName);
        if (old.st_gid == now.st_gid) {
            EXPECT_EQ(now.st_mode & 07777, c.mode);
        } else {
            // A group that could not be kept gets nothing.
            EXPECT_FALSE(root);
            EXPECT_EQ(now.st_mode & 07777, c.mode & ~070u);
        }
    }
    // A file that did not exist gets the usual mode.
    fs::remove(m_dir / kRecordFileName);
    CError error;
    ASSERT_TRUE(Convert(error)) << error.Message();
    struct stat fresh;
    ASSERT_EQ(::stat((m_dir / kRecordFileName).c_str(), &fresh), 0);
    EXPECT_EQ(fresh.st_mode & 07777, 0644u);
    ::umask(oldMask);
}

TEST_F(OutputSetTest, RootKeepsTheOwnerOfAReplacedFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
    PutOldSet();
    fs::path table = m_dir / OutputFileName(2);
    // The directory's owner's file: root converts on that user's behalf.
    ASSERT_EQ(::chown(m_dir.c_str(), 4243, 4244), 0);
    ASSERT_EQ(::chown(table.c_str(), 4243, 4244), 0);
    ASSERT_EQ(::chmod(table.c_str(), 0600), 0);
    CError error;
    ASSERT_TRUE(Convert(error)) << error.Message();
    struct stat now;
    ASSERT_EQ(::stat(table.c_str(), &now), 0);
    EXPECT_EQ(now.st_uid, 4243u);
    EXPECT_EQ(now.st_gid, 4244u);
    EXPECT_EQ(now.st_mode & 07777, 0600u);
}

// A target that someone else may have put there (a link, or as root a file of a user other than
// the directory's owner) gives the new file neither its owner nor a wider mode; the file a link
// leads to stays as it was, and the link is replaced by the new file.
TEST_F(OutputSetTest, ALinkOrAStrangersFileAtATargetPassesNoPermissionsOn) {
    const bool root = ::geteuid() == 0;
    const uid_t stranger = 4246;
    const fs::path outside = m_scratch.Path() / "outside";
    const struct {
        const char* name;
        bool link;       // a link to `outside`, otherwise a file at the target
        mode_t mode;     // of `outside` or of the file
        bool strangers;  // owned by another user (root only)
        mode_t expected;
    } kCases[] = {
        {"link to a 0666 file", true, 0666, false, 0644},
        {"link to a 0600 file", true, 0600, false, 0644},
        {"link to a stranger's 0666 file", true, 0666, true, 0644},
        {"stranger's 0666 file", false, 0666, true, 0644},
        {"stranger's 0640 file", false, 0640, true, 0640},
    };
    mode_t oldMask = ::umask(022);
    for (const auto& c : kCases) {
        if (c.strangers && !root) continue;  // only root can make a file another user's
        SCOPED_TRACE(c.name);
        PutOldSet();
        const fs::path target = m_dir / OutputFileName(3);
        const fs::path file = c.link ? outside : target;
        WriteFile(outside, "not halvic's");
        if (c.link) {
            fs::remove(target);
            fs::create_symlink(outside, target);
        }
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        if (c.strangers) {
            ASSERT_EQ(::chown(file.c_str(), stranger, stranger), 0);
        }
        CError error;
        ASSERT_TRUE(Convert(error)) << error.Message();
        struct stat now;
        ASSERT_EQ(::lstat(target.c_str(), &now), 0);
        EXPECT_TRUE(S_ISREG(now.st_mode));
        EXPECT_EQ(now.st_uid, ::geteuid());
        EXPECT_EQ(now.st_mode & 07777, c.expected);
        EXPECT_EQ(ReadFile(target), "new " + OutputFileName(3));
        struct stat left;
        ASSERT_EQ(::stat(outside.c_str(), &left), 0);
        EXPECT_EQ(ReadFile(outside), "not halvic's");
        if (c.link) {
            EXPECT_EQ(left.st_mode & 07777, c.mode);
        }
    }
    ::umask(oldMask);
}

TEST_F(OutputSetTest, ALockFileThatIsNoFileStopsTheConversion) {
    const fs::path lock = m_dir / kLockFileName;
    const fs::path outside = m_scratch.Path() / "outside";
    const struct {
        std::function<void()> plant;
        std::string message;
    } kCases[] = {
        {[&] { fs::create_symlink(outside, lock); },
         "out/.halvic.lock: is a symbolic link where halvic keeps its lock file; remove it and "
         "try again"},
        {[&] { fs::create_symlink(m_scratch.Path() / "nowhere", lock); },
         "out/.halvic.lock: is a symbolic link where halvic keeps its lock file; remove it and "
         "try again"},
        {[&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0666), 0); },
         "out/.halvic.lock: is a named pipe where halvic keeps its lock file; remove it and try "
         "again"},
        {[&] { fs::create_directory(lock); },
         "out/.halvic.lock: is a directory where halvic keeps its lock file; remove it and try "
         "again"},
    };
    PutOldSet();
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.message);
        fs::remove_all(lock);
        c.plant();
        CFileList old = ListFiles(m_dir);
        CError error;
        EXPECT_FALSE(Convert(error));
        EXPECT_EQ(Messages({error}), std::vector<std::string>{c.message});
        EXPECT_EQ(ListFiles(m_dir), old);
        EXPECT_EQ(ReadFile(outside), "not halvic's");
        EXPECT_FALSE(fs::exists(m_scratch.Path() / "nowhere"));
    }
}

// Names a conversion of this process would give its files, taken by someone else's link or
// directory: they are skipped, never followed, and a directory is left as it is.
TEST_F(OutputSetTest, TakenNamesOfItsOwnFilesAreSkipped) {
    std::vector<std::string> bases = {kCommitRecordName + 1};
    for (std::size_t i = 0; i < kOutputCount; ++i)
        bases.push_back(OutputFileName(i));
    for (bool directories : {false, true}) {
        SCOPED_TRACE(directories ? "directories" : "links");
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        PutOldSet();
        std::vector<fs::path> planted;
        for (const std::string& base : bases) {
            for (const char* tag : {".tmp.", ".old."}) {
                // Few at the output files' temporaries, whose names come first and take numbers
                // from the same count: the others then meet theirs taken.
                const bool first = tag[1] == 't' && base != kCommitRecordName + 1;
                for (int n = 0; n < (first ? 3 : 30); ++n) {
                    planted.push_back(m_dir / ("." + base + tag + std::to_string(::getpid()) + "." +
                                               std::to_string(n)));
                    if (directories) {
                        fs::create_directory(planted.back());
                    } else {
                        fs::create_symlink(m_scratch.Path() / "outside", planted.back());
                    }
                }
            }
        }
        CError error;
        std::vector<CError> warnings;
        ASSERT_TRUE(Convert({}, error, warnings)) << error.Message();
        EXPECT_EQ(ReadFile(m_scratch.Path() / "outside"), "not halvic's");
        for (std::size_t i = 0; i < kOutputCount; ++i)
            EXPECT_EQ(ReadFile(m_dir / OutputFileName(i)), "new " + OutputFileName(i));
        for (const fs::path& name : planted) {
            // A link at a backup's name is a backup's second name, which may be removed.
            if (directories || name.string().find(".tmp.") != std::string::npos) {
                EXPECT_TRUE(directories ? fs::is_directory(name) : fs::is_symlink(name)) << name;
            }
        }
    }
}

TEST_F(OutputSetTest, ACommitRecordIsFollowedOnlyWithinItsOwnNames) {
    const std::string header = "halvic commit record 1\n";
    const fs::path outside = m_scratch.Path() / "outside";
    const std::string ignored =
        "out/.halvic.commit: is not a commit record halvic can read; ignored";
    const struct {
        std::string record;
        std::string warning;
    } kCases[] = {
        {header + "qxase.qxd ../outside -\n", ignored},
        {header + "qxase.qxd .qxase.qxd.tmp.1.1 ../outside\n", ignored},
        {header + "qxase.qxd .qxase.qxd.tmp.1.1 " + outside.string() + "\n", ignored},
        {header + "../outside .qxase.qxd.tmp.1.1 -\n", ignored},
        {header + "qxase.qxd notes.txt -\n", ignored},
        {header + "qxase.qxd .qxm.qxd.tmp.1.1 .qxm.qxd.old.1.1\n", ignored},
        {header + "qxase.qxd .qxase.qxd.tmp.1.1 -\nqxase.qxd .qxase.qxd.tmp.1.2 -\n", ignored},
        {header + "qxase.qxd .qxase.qxd.tmp.1.1 .qxase.qxd.old.1.", ignored},
        {header.substr(0, 10), ignored},
        {header, ignored},
        {std::string("\x7f"
                     "ELF\0\0\x01\xff",
                     8),
         ignored},
        {std::string(5000, 'x'), ignored},
    };
    PutOldSet();
    // Files with names a record could point at: none of them is halvic's to touch.
    WriteFile(m_dir / "notes.txt", "notes");
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.record);
        WriteFile(m_dir / kCommitRecordName, c.record);
        CFileList old = ListFiles(m_dir);
        CError error;
        std::vector<CError> warnings;
        COutputSetReadLock reader;
        ASSERT_TRUE(reader.Take(Dir(), {}, error, warnings)) << error.Message();
        EXPECT_EQ(Messages(warnings), std::vector<std::string>{c.warning});
        EXPECT_EQ(ListFiles(m_dir), old);
        EXPECT_EQ(ReadFile(outside), "not halvic's");
    }
    // A conversion says so too, and its commit replaces the record.
    CError error;
    std::vector<CError> warnings;
    ASSERT_TRUE(Convert({}, error, warnings)) << error.Message();
    EXPECT_EQ(Messages(warnings), std::vector<std::string>{ignored});
    CFileList expected = NewSet();
    expected.emplace_back("notes.txt", "notes");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFiles(m_dir), expected);
}

TEST_F(OutputSetTest, ACommitRecordThatIsALinkOrAnotherUsersIsIgnored) {
    PutOldSet();
    WriteFile(m_dir / ".qxase.qxd.old.1.1", "planted");
    const std::string record =
        "halvic commit record 1\nqxase.qxd .qxase.qxd.tmp.1.1 .qxase.qxd.old.1.1\n";
    WriteFile(m_scratch.Path() / "record", record);
    fs::create_symlink(m_scratch.Path() / "record", m_dir / kCommitRecordName);
    CError error;
    std::vector<CError> warnings;
    {
        COutputSetReadLock reader;  // let go before the next one is taken
        ASSERT_TRUE(reader.Take(Dir(), {}, error, warnings)) << error.Message();
    }
    EXPECT_EQ(Messages(warnings),
              std::vector<std::string>{"out/.halvic.commit: is not a file halvic wrote; ignored"});
    EXPECT_EQ(ReadFile(m_dir / kRecordFileName), "old qxase.qxd");
    EXPECT_EQ(ReadFile(m_scratch.Path() / "record"), record);

    if (::geteuid() != 0) return;  // only root can make a file another user's
    fs::remove(m_dir / kCommitRecordName);
    WriteFile(m_dir / kCommitRecordName, record);
    WriteFile(m_dir / ".qxase.qxd.old.1.1", "planted");
    ASSERT_EQ(::chown((m_dir / kCommitRecordName).c_str(), 4245, 4245), 0);
    ASSERT_EQ(::chown((m_dir / ".qxase.qxd.old.1.1").c_str(), 4245, 4245), 0);
    // A reader may not undo it and refuses the set, which may be a mix; a conversion writes a
    // whole set of its own.
    {
        COutputSetReadLock second;
        warnings.clear();
        EXPECT_FALSE(second.Take(Dir(), {}, error, warnings));
        EXPECT_EQ(Messages({error}).front().substr(0, 50),
                  "out: a conversion into this directory was cut off ");
    }
    EXPECT_EQ(ReadFile(m_dir / kRecordFileName), "old qxase.qxd");
    warnings.clear();
    EXPECT_TRUE(Convert({}, error, warnings)) << error.Message();
    EXPECT_EQ(Messages(warnings),
              std::vector<std::string>{"out/.halvic.commit: belongs to another user; ignored"});
    EXPECT_EQ(ReadFile(m_dir / ".qxase.qxd.old.1.1"), "planted") << "another user's backup";
}

// Held as an earlier release holds it (flock) or as the Windows build does through Wine or Samba
// (a lock on the first byte).
TEST_F(OutputSetTest, WaitsForTheLockAndSaysSoOnce) {
    for (bool byteRange : {false, true}) {
        SCOPED_TRACE(byteRange ? "a lock on the first byte" : "flock");
        WaitForTheLock(byteRange);
    }
}

void OutputSetTest::WaitForTheLock(bool byteRange) {
    PutOldSet();
    int fd = ::open((m_dir / kLockFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    ASSERT_EQ(byteRange ? ::fcntl(fd, F_OFD_SETLK, &range) : ::flock(fd, LOCK_EX), 0);
    std::atomic<int> told = 0;
    std::promise<void> waiting;
    bool done = false;
    CError error;
    std::thread conversion([&] {
        COutputSetOptions options;
        options.m_onWait = [&] {
            if (++told == 1) waiting.set_value();
        };
        std::vector<CError> warnings;
        done = Convert(options, error, warnings);
    });
    // The lock goes once the conversion says that it waits, and not before.
    EXPECT_EQ(waiting.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "it never said that it waits";
    EXPECT_EQ(ReadFile(m_dir / kRecordFileName), "old qxase.qxd") << "it did not wait";
    ::close(fd);  // lets go of the lock
    conversion.join();
    EXPECT_TRUE(done) << error.Message();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(ListFiles(m_dir), NewSet());
}

// A set that is not committed removes the lock file it created; one that waited for that lock
// meanwhile takes it again on a lock file under the name, so that the two never both hold it.
TEST_F(OutputSetTest, AFailedSetRemovesTheLockFileItCreated) {
    const fs::path lockPath = m_dir / kLockFileName;
    auto first = std::make_unique<COutputSet>();
    CError error;
    std::vector<CError> warnings;
    ASSERT_TRUE(first->Open(m_dir.string(), {}, error, warnings)) << error.Message();
    ASSERT_TRUE(fs::exists(lockPath));
    std::promise<void> waiting;
    std::promise<void> opened;
    std::promise<void> finish;
    std::thread second([&] {
        COutputSetOptions options;
        options.m_onWait = [&] { waiting.set_value(); };
        COutputSet set;
        CError secondError;
        std::vector<CError> secondWarnings;
        EXPECT_TRUE(set.Open(m_dir.string(), options, secondError, secondWarnings))
            << secondError.Message();
        opened.set_value();
        finish.get_future().wait();
    });
    ASSERT_EQ(waiting.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    first.reset();
    ASSERT_EQ(opened.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    // The lock held is the one of the file under the name.
    int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
    finish.set_value();
    second.join();
    EXPECT_FALSE(fs::exists(lockPath));
    // One that was there before stays.
    WriteFile(lockPath, "");
    {
        COutputSet set;
        ASSERT_TRUE(set.Open(m_dir.string(), {}, error, warnings)) << error.Message();
    }
    EXPECT_TRUE(fs::exists(lockPath));
}

// After the commit an old file that cannot be removed is only left over: a warning names it, and
// the next conversion removes it.
TEST_F(OutputSetTest, AnOldFileThatCannotBeRemovedAfterTheCommitIsAWarning) {
    PutOldSet();
    COutputSetOptions options;
    options.m_commitHook = [](ECommitStep step, std::size_t file) {
        return step == ECommitStep::kRemoveBackups && file == 2 ? "Input/output error" : "";
    };
    CError error;
    std::vector<CError> warnings;
    ASSERT_TRUE(Convert(options, error, warnings)) << error.Message();
    ASSERT_EQ(warnings.size(), 1u);
    const std::string backup = fs::path(warnings[0].m_strFile).filename().string();
    EXPECT_EQ(backup.rfind(".qxa.qxd.old.", 0), 0u) << backup;
    EXPECT_EQ(warnings[0].m_strReason,
              "Input/output error; the replaced file is left under this name, for the next "
              "conversion into this directory to remove");
    CFileList expected = NewSet();
    expected.emplace_back(backup, "old qxa.qxd");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFiles(m_dir), expected);
    EXPECT_TRUE(Convert(error)) << error.Message();
    EXPECT_EQ(ListFiles(m_dir), NewSet());
}

// A backup's name taken between its choice and its making: the message names it, and why.
TEST_F(OutputSetTest, ABackupNameTakenMeanwhileIsNamedInTheMessage) {
    PutOldSet();
    CFileList old = ListFiles(m_dir);
    // The seven temporaries take numbers 0 to 6, the first backup 7.
    const std::string backup = ".qxase.qxd.old." + std::to_string(::getpid()) + ".7";
    COutputSetOptions options;
    options.m_commitHook = [this, &backup](ECommitStep step, std::size_t file) {
        if (step == ECommitStep::kBackUp && file == 0) fs::create_directory(m_dir / backup);
        return "";
    };
    CError error;
    std::vector<CError> warnings;
    EXPECT_FALSE(Convert(options, error, warnings));
    EXPECT_EQ(error.Message(), (m_dir / backup).string() + ": Is a directory (while keeping " +
                                   (m_dir / kRecordFileName).string() + " under this name)");
    fs::remove(m_dir / backup);
    EXPECT_EQ(ListFiles(m_dir), old);
}

// Whoever may read the set may take its lock shared, whatever the umask of its owner.
TEST_F(OutputSetTest, TheLockFileIsReadableByAll) {
    const fs::path lock = m_dir / kLockFileName;
    const fs::perms readable =
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    mode_t umask = ::umask(077);
    CError error;
    EXPECT_TRUE(Convert(error)) << error.Message();
    EXPECT_EQ(fs::status(lock).permissions() & fs::perms::all, readable | fs::perms::owner_write);
    // One made private before is widened by its owner's next reading.
    fs::permissions(lock, fs::perms::owner_read);
    {
        COutputSetReadLock reader;
        std::vector<CError> warnings;
        EXPECT_TRUE(reader.Take(Dir(), {}, error, warnings)) << error.Message();
    }
    EXPECT_EQ(fs::status(lock).permissions() & fs::perms::all, readable);
    ::umask(umask);
}

TEST_F(OutputSetTest, AReadOnlyDirectoryIsReadWithoutTheLock) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write every directory";
    PutOldSet();
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    CError error;
    std::vector<CError> warnings;
    COutputSetReadLock reader;
    EXPECT_TRUE(reader.Take(Dir(), {}, error, warnings)) << error.Message();
    EXPECT_FALSE(Convert(error));
    EXPECT_EQ(Messages({error}), std::vector<std::string>{"out: Permission denied"});
    // A commit record there can be undone by nobody without the lock: the set may be a mix.
    fs::permissions(m_dir, fs::perms::owner_all);
    WriteFile(m_dir / kCommitRecordName, "halvic commit record 1\n");
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    COutputSetReadLock refused;
    EXPECT_FALSE(refused.Take(Dir(), {}, error, warnings));
    EXPECT_EQ(Messages({error}).front().substr(0, 50),
              "out: a conversion into this directory was cut off ");
    fs::permissions(m_dir, fs::perms::owner_all);
}

}  // namespace
}  // namespace halvic
