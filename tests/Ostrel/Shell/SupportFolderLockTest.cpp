#include "Ostrel/Shell/SupportFolderLock.h"
#include "Platform/MountWatch.h"
#include "support/AsUser.h"
#include "support/LogCapture.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QProcess>

#include <map>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

QStringList setAside(const QString& folder) {
    return QDir(folder).entryList({"index.*.unusable-*"}, QDir::AllEntries | QDir::System);
}

// flock(2) on a file system without locks: NFS without its lock service, or some FUSE and
// network mounts, which answer that locks are not supported.
template <int error = ENOLCK> int noLocks(int, int) {
    errno = error;
    return -1;
}

// link(2) over NFS when the answer to a link that was made is lost: the retry finds the name.
int linkAnswerLost(const char* from, const char* to) {
    ::link(from, to);
    errno = EEXIST;
    return -1;
}

// Runs `body` in a child process; its answer.
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SupportFolderLock, OneHolderAtATimeNamedByItsDisplayAndNoChildKeepsIt) {
    TempDir dir;
    const QString folder = dir.file("data/Ostrel");
    auto first = std::make_unique<SupportFolderLock>(folder);
    ASSERT_EQ(first->claim(":7"), SupportFolderLock::Claim::held);

    // A program started meanwhile (a viewer, the updater's script) does not inherit the lock.
    QProcess child;
    child.start("sleep", {"30"});
    ASSERT_TRUE(child.waitForStarted());

    SupportFolderLock second(folder);
    EXPECT_EQ(second.claim(":9"), SupportFolderLock::Claim::taken);
    EXPECT_EQ(second.holder(), ":7");
    EXPECT_TRUE(second.holderHost().isEmpty());

    first.reset();
    SupportFolderLock third(folder);
    EXPECT_EQ(third.claim(":9"), SupportFolderLock::Claim::held);
    child.kill();
    child.waitForFinished();
}

// Where nothing can be locked, that is no holder: a claim file keeps the folder for the first
// while it lives (known by its start, however its memory changes), goes with it, and one left by
// an ended process of this machine is taken over. A link whose answer was lost is ours.
TEST(SupportFolderLock, WithoutLocksAClaimFileKeepsOneShelfPerFolder) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    for (const auto& [lockCall, linkCall] :
         {std::pair{&noLocks<ENOLCK>, SupportFolderLock::LinkCall{}},
          std::pair{&noLocks<EOPNOTSUPP>, SupportFolderLock::LinkCall{}},
          std::pair{&noLocks<ENOLCK>, &linkAnswerLost}}) {
        auto first = std::make_unique<SupportFolderLock>(folder, lockCall, linkCall);
        ASSERT_EQ(first->claim(":7"), SupportFolderLock::Claim::held)
            << first->error().toStdString();
        // The holder grows as it runs.
        const size_t grown = 64 << 20;
        void* memory =
            ::mmap(nullptr, grown, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(memory, MAP_FAILED);
        std::memset(memory, 1, grown);
        EXPECT_EQ(inChild([&] {
                      SupportFolderLock second(folder, noLocks);
                      return second.claim(":9") == SupportFolderLock::Claim::taken &&
                                     second.holder() == ":7" && second.holderHost().isEmpty()
                                 ? 0
                                 : 1;
                  }),
                  0);
        ::munmap(memory, grown);
        first.reset();
        EXPECT_FALSE(QFileInfo::exists(folder + "/index.claim"));
    }

    // Killed, its claim stays: the next start takes it over.
    EXPECT_EQ(inChild([&]() -> int {
                  SupportFolderLock killed(folder, noLocks);
                  ::_exit(killed.claim(":8") == SupportFolderLock::Claim::held ? 0 : 1);
              }),
              0);
    ASSERT_TRUE(QFileInfo::exists(folder + "/index.claim"));
    SupportFolderLock next(folder, noLocks);
    EXPECT_EQ(next.claim(":9"), SupportFolderLock::Claim::held) << next.error().toStdString();
    next.release();

    // A number that runs again, as another process (one started since, or before a reboot), is
    // no holder. A holder on another machine, even one of the same name, cannot be seen ended
    // and keeps the folder.
    QFile machineId("/etc/machine-id");
    const QByteArray machine =
        machineId.open(QIODevice::ReadOnly) ? machineId.readAll().trimmed() : QByteArray();
    const auto claimBy = [&](const QByteArray& machineName) {
        dir.write("Ostrel/index.claim", ":4\n1\n" + SupportFolderLock::hostName().toUtf8() + "\n" +
                                            machineName + " some-boot 12\n");
    };
    claimBy(machine.isEmpty() ? "-" : machine);
    SupportFolderLock again(folder, noLocks);
    EXPECT_EQ(again.claim(":9"), SupportFolderLock::Claim::held) << again.error().toStdString();
    again.release();
    if (!machine.isEmpty()) {
        claimBy("another-machine");
        SupportFolderLock far(folder, noLocks);
        EXPECT_EQ(far.claim(":9"), SupportFolderLock::Claim::taken);
        EXPECT_EQ(far.holder(), ":4");
        EXPECT_TRUE(far.claimFromElsewhere());
    }
}

// A process killed while it made its claim, or removed an ended one, leaves a file under a name
// of its own: the next start removes those of processes of this machine that no longer run,
// whole or cut short, and never one of a process that runs or of another machine.
TEST(SupportFolderLock, ClaimFilesLeftByEndedProcessesGoAtAStart) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    QDir().mkpath(folder);
    const QByteArray host = SupportFolderLock::hostName().toUtf8().replace('/', '_');
    QFile machineId("/etc/machine-id");
    const QByteArray machine =
        machineId.open(QIODevice::ReadOnly) ? machineId.readAll().trimmed() : QByteArray("-");
    const auto endedProcess = [] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit(0);
        }
        ::waitpid(pid, nullptr, 0);
        return QByteArray::number(pid);
    };
    QProcess running;
    running.start("sleep", {"30"});
    ASSERT_TRUE(running.waitForStarted());
    const QByteArray live = QByteArray::number(running.processId());
    const QByteArray dead = endedProcess();
    const QByteArray claim = ":4\n" + dead + "\n" + host + "\n" + machine + " some-boot 12\n";
    const std::map<QString, QByteArray> leftovers = {
        {"index.claim." + host + "." + dead, claim},
        {"index.claim." + host + "." + endedProcess(), ":4\n"},
        {"index.claim.ended." + dead, claim},
    };
    const std::map<QString, QByteArray> kept = {
        {"index.claim." + host + "." + live, ":4\n"},
        {"index.claim.ended." + live, claim},
        {"index.claim.far-away." + dead, claim},
    };
    for (const auto& [name, text] : leftovers) {
        dir.write("Ostrel/" + name, text);
    }
    for (const auto& [name, text] : kept) {
        dir.write("Ostrel/" + name, text);
    }
    QStringList expected;
    for (const auto& entry : kept) {
        expected.append(entry.first);
    }
    expected.sort();
    SupportFolderLock lock(folder, noLocks);
    ASSERT_EQ(lock.claim(":1"), SupportFolderLock::Claim::held) << lock.error().toStdString();
    lock.release();
    EXPECT_EQ(QDir(folder).entryList({"index.claim*"}, QDir::Files, QDir::Name), expected);
    running.kill();
    running.waitForFinished();
}

// Whatever else stands at the lock file's name, or at the claim file's where nothing can be
// locked, is set aside, said once, and never written; the fresh file that replaces it keeps a
// second launch away.
TEST(SupportFolderLock, WrongEntriesAtItsNameAreSetAsideUntouched) {
    const QByteArray notes(200, 'n');
    const std::vector<std::pair<const char*, std::function<void(const QString&, const QString&)>>>
        entries = {
            {"link",
             [](const QString& lock, const QString& notesPath) { QFile::link(notesPath, lock); }},
            {"hard link",
             [](const QString& lock, const QString& notesPath) {
                 ::link(native(notesPath).constData(), native(lock).constData());
             }},
            {"folder",
             [](const QString& lock, const QString&) { QDir().mkpath(lock + "/inside"); }},
            // Opened for reading only, a pipe would wait for a writer.
            {"pipe",
             [](const QString& lock, const QString&) { ::mkfifo(native(lock).constData(), 0400); }},
        };
    const ModesApply modes;
    for (const SupportFolderLock::LockCall lockCall : {SupportFolderLock::LockCall{}, &noLocks}) {
        for (const auto& [kind, make] : entries) {
            SCOPED_TRACE(std::string(kind) + (lockCall ? " at the claim" : " at the lock"));
            TempDir dir;
            const QString folder = dir.file("Ostrel");
            QDir().mkpath(folder);
            const QString notesPath = dir.write("notes.txt", notes);
            SupportFolderLock lock(folder, lockCall);
            make(lockCall ? lock.claimPath() : lock.path(), notesPath);

            LogCapture log;
            ASSERT_EQ(lock.claim(":3"), SupportFolderLock::Claim::held)
                << lock.error().toStdString();
            EXPECT_EQ(dir.read("notes.txt"), notes);
            EXPECT_EQ(setAside(folder).size(), 1);
            EXPECT_EQ(log.matching("not a lock file of ours").size(), 1);
            SupportFolderLock second(folder, lockCall);
            EXPECT_EQ(second.claim(":4"), SupportFolderLock::Claim::taken);
            EXPECT_EQ(second.holder(), ":3");
        }
    }
}

// A second wrong entry goes aside under a name of its own, never over the first one's.
TEST(SupportFolderLock, ASecondWrongEntryNeverReplacesTheFirstSetAside) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    QDir().mkpath(folder);
    for (const char* notes : {"first notes", "second notes"}) {
        const QString notesPath = dir.write(notes, notes);
        SupportFolderLock lock(folder);
        QFile::remove(lock.path());
        ASSERT_EQ(::link(native(notesPath).constData(), native(lock.path()).constData()), 0);
        ASSERT_EQ(lock.claim(":1"), SupportFolderLock::Claim::held);
    }
    QStringList contents;
    for (const QString& name : setAside(folder)) {
        contents.append(QString::fromUtf8(dir.read("Ostrel/" + name)));
    }
    contents.sort();
    EXPECT_EQ(contents, (QStringList{"first notes", "second notes"}));
}

// A lock needs no write permission: a held lock file whose permissions were taken away still
// keeps the second launch out, and is not replaced by one it could hold.
TEST(SupportFolderLock, AHeldLockFileWithoutPermissionsIsStillHeld) {
    for (const mode_t mode : {0000, 0400}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const QString folder = dir.file("Ostrel");
        SupportFolderLock first(folder);
        ASSERT_EQ(first.claim(":1"), SupportFolderLock::Claim::held);
        ::chmod(native(first.path()).constData(), mode);

        const ModesApply modes;
        SupportFolderLock second(folder);
        EXPECT_EQ(second.claim(":2"), SupportFolderLock::Claim::taken)
            << second.error().toStdString();
        EXPECT_EQ(second.holder(), ":1");
        EXPECT_TRUE(setAside(folder).isEmpty());
    }
}

// Only another live holder keeps the shelf from its folder. A folder that cannot be used runs
// unguarded, and says truly why, naming the folder; one out of blocks but not inodes still holds.
TEST(SupportFolderLock, AFolderThatCannotBeUsedIsSaidTrulyAndRunsUnguarded) {
    const auto expectUnguarded = [](const QString& folder, const QString& why) {
        SupportFolderLock lock(folder);
        EXPECT_EQ(lock.claim(":1"), SupportFolderLock::Claim::unguarded);
        EXPECT_EQ(lock.error(), folder + ' ' + why) << lock.error().toStdString();
    };
    TempDir dir;
    {
        SCOPED_TRACE("a file in its place");
        dir.write("plain", "notes");
        expectUnguarded(dir.file("plain"), "is not a folder, or lies in what is not one (Not a "
                                           "directory)");
        EXPECT_EQ(dir.read("plain"), "notes");
    }
    {
        SCOPED_TRACE("a parent without write permission");
        QDir().mkpath(dir.file("closed"));
        ::chmod(native(dir.file("closed")).constData(), 0500);
        const ModesApply modes;
        expectUnguarded(dir.file("closed/Ostrel"), "cannot be made (Permission denied)");
    }
    {
        SCOPED_TRACE("another user's folder");
        QDir().mkpath(dir.file("theirs"));
        ::chmod(native(dir.path()).constData(), 0755);
        ::chmod(native(dir.file("theirs")).constData(), 0755);
        const QString folder = dir.file("theirs");
        EXPECT_EQ(runUnprivileged({},
                                  [&] {
                                      SupportFolderLock lock(folder);
                                      return lock.claim(":1") ==
                                                         SupportFolderLock::Claim::unguarded &&
                                                     lock.error() ==
                                                         folder + " is not writable (Permission "
                                                                  "denied)"
                                                 ? 0
                                                 : 1;
                                  }),
                  0);
    }
    // A disk out of inodes, or out of blocks: a small file system of its own, mounted where only
    // a child sees it.
    for (const bool inodes : {true, false}) {
        SCOPED_TRACE(inodes ? "no inodes left" : "no blocks left");
        const QString mount = dir.file(inodes ? "noinodes" : "noblocks");
        QDir().mkpath(mount);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const QByteArray options = inodes ? "size=1m,nr_inodes=2" : "size=4k";
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", native(mount).constData(), "tmpfs", 0, options.constData()) != 0) {
                ::_exit(77);
            }
            // The folder, then filling what is left.
            ::mkdir(native(mount + "/Ostrel").constData(), 0700);
            QFile fill(mount + "/Ostrel/fill");
            if (!inodes && fill.open(QIODevice::WriteOnly)) {
                while (fill.write(QByteArray(4096, 'f')) > 0 && fill.flush()) {
                }
            }
            SupportFolderLock lock(mount + "/Ostrel");
            const auto claim = lock.claim(":1");
            ::_exit(inodes ? (claim == SupportFolderLock::Claim::unguarded &&
                                      lock.error() == mount + "/Ostrel is full (No space left "
                                                              "on device)"
                                  ? 0
                                  : 1)
                           : (claim == SupportFolderLock::Claim::held ? 0 : 2));
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            GTEST_SKIP() << "no file system of our own can be mounted here";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// A folder on a read-only file system is said to be one: held where the lock file was left there
// before (a lock needs no writing), unguarded where none can be made.
TEST(SupportFolderLock, AFolderOnAReadOnlyFileSystemIsSaidToBeOne) {
    TempDir dir;
    const QString mount = dir.file("readonly");
    QDir().mkpath(mount);
    for (const bool lockFileLeft : {true, false}) {
        SCOPED_TRACE(lockFileLeft ? "a lock file left" : "no lock file");
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", native(mount).constData(), "tmpfs", 0, "size=1m") != 0) {
                ::_exit(77);
            }
            const QString folder = mount + "/Ostrel";
            if (lockFileLeft) {
                SupportFolderLock(folder).claim(":1");
            } else {
                QDir().mkpath(folder);
            }
            if (::mount(nullptr, native(mount).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                        nullptr) != 0) {
                ::_exit(77);
            }
            SupportFolderLock lock(folder);
            const auto claim = lock.claim(":2");
            ::_exit(claim == (lockFileLeft ? SupportFolderLock::Claim::held
                                           : SupportFolderLock::Claim::unguarded) &&
                            !lock.writable() &&
                            lock.error() == folder + " is read-only (Read-only file system)"
                        ? 0
                        : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            GTEST_SKIP() << "no file system of our own can be mounted here";
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// A file system mounted over the held folder puts another at its path: the claim asked for again,
// as the mount watch asks it at each change of the mount table (and never at rest), takes that
// one's lock (or claim file) too, so that no second shelf starts there, and once the mount goes
// the first folder is held as it was. The lock of one no longer at the path is let go: a drive
// mounted and unmounted over and over in one run keeps no descriptor of its own, and one covered
// by another mount is claimed anew once it is uncovered.
TEST(SupportFolderLock, AFolderMountedOverTheHeldOneIsClaimedTooAndTheFirstIsKept) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    TempDir dir;
    const QString drive = dir.file("drive");
    QDir().mkpath(drive);
    const QString folder = space.inside(drive + "/Ostrel");
    const auto descriptors = [] {
        return QDir(QStringLiteral("/proc/self/fd"))
            .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
            .size();
    };
    for (const SupportFolderLock::LockCall lockCall :
         {SupportFolderLock::LockCall{}, &noLocks<ENOLCK>}) {
        SCOPED_TRACE(lockCall == nullptr ? "locks" : "claim files");
        SupportFolderLock lock(folder, lockCall);
        ASSERT_EQ(lock.claim(":7"), SupportFolderLock::Claim::held);
        int changes = 0;
        const MountWatch watch(
            [&] {
                ++changes;
                lock.claim(":7");
            },
            space.mountTable());
        pump(0.3);
        EXPECT_EQ(changes, 0);
        const auto change = [&](bool mount) {
            const int seen = changes;
            return (mount ? space.mountTmpfs(drive, "size=1m") : space.unmount(drive)) &&
                   waitUntil([&] { return changes > seen; }, 5);
        };
        const auto open = descriptors();
        for (int i = 0; i < 150; ++i) {
            ASSERT_TRUE(change(true));
            ASSERT_TRUE(change(false));
        }
        ASSERT_TRUE(change(true));
        ASSERT_TRUE(change(true)); // over the one just mounted
        EXPECT_LE(descriptors(), open + 1);
        SupportFolderLock second(folder, lockCall);
        EXPECT_EQ(second.claim(":9"), SupportFolderLock::Claim::taken);
        EXPECT_EQ(second.holder(), ":7");
        // The run's own folder, covered there, is seen as it is from outside the namespace.
        SupportFolderLock beneath(drive + "/Ostrel", lockCall);
        EXPECT_EQ(beneath.claim(":9"), SupportFolderLock::Claim::taken);

        ASSERT_TRUE(change(false));
        SupportFolderLock uncovered(folder, lockCall);
        EXPECT_EQ(uncovered.claim(":9"), SupportFolderLock::Claim::taken);
        ASSERT_TRUE(change(false));
        SupportFolderLock third(folder, lockCall);
        EXPECT_EQ(third.claim(":9"), SupportFolderLock::Claim::taken);
    }
}

// The run's own folder's lock, taken back each time a file system mounted over it goes, is kept
// aside again by the next mount: however many drives came and went, the folder beneath one is
// still held.
TEST(SupportFolderLock, TheOwnFolderStaysHeldBeneathEachMountOverIt) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    TempDir dir;
    const QString drive = dir.file("drive");
    QDir().mkpath(drive);
    SupportFolderLock lock(space.inside(drive + "/Ostrel"));
    ASSERT_EQ(lock.claim(":7"), SupportFolderLock::Claim::held);
    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(space.mountTmpfs(drive, "size=1m"));
        lock.claim(":7");
        SupportFolderLock beneath(drive + "/Ostrel");
        EXPECT_EQ(beneath.claim(":9"), SupportFolderLock::Claim::taken);
        ASSERT_TRUE(space.unmount(drive));
        EXPECT_EQ(lock.claim(":7"), SupportFolderLock::Claim::held);
    }
}

// A home folder shared between machines: the holder is named with its machine.
TEST(SupportFolderLock, AHolderOnAnotherMachineIsNamedWithIt) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    QDir().mkpath(folder);
    dir.write("Ostrel/index.lock", ":4\n123\nfar-away\n");
    const int held = ::open(native(dir.file("Ostrel/index.lock")).constData(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    SupportFolderLock lock(folder);
    EXPECT_EQ(lock.claim(":1"), SupportFolderLock::Claim::taken);
    EXPECT_EQ(lock.holder(), ":4");
    EXPECT_EQ(lock.holderHost(), "far-away");
    ::close(held);
}

// A link at the lock file's name that leads nowhere yet would otherwise have the file made where
// it points.
TEST(SupportFolderLock, TheLockFileIsOpenedWithoutFollowingLinks) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    QDir().mkpath(folder);
    SupportFolderLock lock(folder);
    QFile::link(dir.file("planted"), lock.path());
    EXPECT_EQ(lock.claim(":1"), SupportFolderLock::Claim::held);
    EXPECT_FALSE(QFileInfo::exists(dir.file("planted")));
}

} // namespace
