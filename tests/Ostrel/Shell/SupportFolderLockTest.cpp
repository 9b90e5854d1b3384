#include "Ostrel/Shell/SupportFolderLock.h"
#include "support/AsUser.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

QStringList setAside(const QString& folder) {
    return QDir(folder).entryList({"index.lock.unusable-*"}, QDir::AllEntries | QDir::System);
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

// Whatever else stands at the lock file's name is set aside, said once, and never written; the
// fresh lock file that replaces it keeps a second launch away.
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
    for (const auto& [kind, make] : entries) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const QString folder = dir.file("Ostrel");
        QDir().mkpath(folder);
        const QString notesPath = dir.write("notes.txt", notes);
        SupportFolderLock lock(folder);
        make(lock.path(), notesPath);

        LogCapture log;
        ASSERT_EQ(lock.claim(":3"), SupportFolderLock::Claim::held) << lock.error().toStdString();
        EXPECT_EQ(dir.read("notes.txt"), notes);
        EXPECT_EQ(setAside(folder).size(), 1);
        EXPECT_EQ(log.matching("not a lock file of ours").size(), 1);
        SupportFolderLock second(folder);
        EXPECT_EQ(second.claim(":4"), SupportFolderLock::Claim::taken);
        EXPECT_EQ(second.holder(), ":3");
    }
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

// Only a file system without locks lets the shelf run unguarded; a lock file that cannot be made
// keeps it from the folder.
TEST(SupportFolderLock, ALockFileThatCannotBeMadeIsARefusal) {
    TempDir dir;
    const QString folder = dir.file("Ostrel");
    QDir().mkpath(folder);
    ::chmod(native(folder).constData(), 0500);
    const ModesApply modes;
    SupportFolderLock lock(folder);
    EXPECT_EQ(lock.claim(":1"), SupportFolderLock::Claim::refused);
    EXPECT_FALSE(lock.error().isEmpty());
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
