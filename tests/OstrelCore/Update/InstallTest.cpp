#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Update/InstallScript.h"
#include "OstrelCore/Update/UpdateInstaller.h"
#include "Platform/Trash.h"

#include "ReleaseMaker.h"
#include "support/AsUser.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrel {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A tree of an installed v1, a staged v2 and a trash, under a folder whose name is as hostile to
// a shell as a path can be.
class InstallScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = tmp.file("-a 'b' \"c\" $(touch pwned) `touch pwned` x");
        maker.root = base;
        QDir().mkpath(base + "/work");
        target = base + "/apps/Ostrel";
        QDir().mkpath(base + "/apps");
        QDir().rename(maker.installFolder("v1", 1, marker()), target);
        stagedCopy = base + "/work/staging-2/Ostrel";
        QDir().mkpath(base + "/work/staging-2");
        QDir().rename(maker.installFolder("v2", 2, marker()), stagedCopy);
        script = base + "/work/install.sh";
        test::ReleaseMaker::write(script, InstallScript::text());
        const auto reserved = Trash::reserve(target, "Ostrel 123", base + "/trash");
        ASSERT_TRUE(reserved);
        trash = *reserved;
    }

    QString marker() const { return base + "/launched"; }

    // Runs the script as the updater would, with a short-lived process standing in for the
    // application. The process is the script shell's own child, so the shell reaps it.
    // What the script and the copies it starts write on standard error land in `said`.
    int run(const char* quitsAfter = "0.3") {
        if (checked.isEmpty()) {
            checked = identity(target);
        }
        QProcess sh;
        sh.setWorkingDirectory(tmp.path());
        sh.setStandardErrorFile(said);
        sh.start("/bin/sh",
                 {"-c",
                  QStringLiteral("sleep %1 & exec /bin/sh \"$0\" \"$!\" \"$@\"").arg(quitsAfter),
                  script, stagedCopy, target, trash.filesPath, checked});
        EXPECT_TRUE(sh.waitForFinished(30000));
        return sh.exitCode();
    }

    QByteArray launched() {
        test::waitUntil([&] { return !readAll(marker()).isEmpty(); }, 10);
        return readAll(marker()).trimmed();
    }

    // The folder's device and inode as the updater hands them to the script.
    static QString identity(const QString& folder) {
        struct stat st {};
        ::lstat(QFile::encodeName(folder).constData(), &st);
        return QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
    }

    QByteArray build(const QString& folder) const {
        return readAll(folder + "/share/ostrel/Info.json");
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
    QString base;
    QString target;
    QString stagedCopy;
    QString script;
    QString checked;
    Trash::Reservation trash;
    QString said = tmp.file("said");
};

TEST_F(InstallScriptTest, ReplacesTrashesAndRelaunches) {
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(build(target).contains("\"2\""));
    EXPECT_TRUE(build(trash.filesPath).contains("\"1\""));
    EXPECT_TRUE(readAll(trash.infoPath).startsWith("[Trash Info]\nPath="));
    EXPECT_FALSE(QFileInfo::exists(base + "/work/staging-2"));
    EXPECT_TRUE(QFileInfo::exists(script));
    EXPECT_EQ(launched(), "2");
    // The new copy logs where the script, started by the old one, does.
    EXPECT_TRUE(test::waitUntil([&] { return tmp.read("said") == "ostrel 2 started\n"; }, 10));
    EXPECT_FALSE(QFileInfo::exists(tmp.file("pwned")));
    EXPECT_FALSE(QFileInfo::exists(base + "/pwned"));
}

// Moving a folder of a running program is harmless, but the copy started must not meet the old
// one still quitting, which would turn it away as a second instance.
TEST_F(InstallScriptTest, StartsTheNewCopyOnlyOnceTheOldOneHasQuit) {
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(run("12"), 0);
    EXPECT_GE(elapsed.elapsed(), 12000);
    EXPECT_EQ(launched(), "2");
}

TEST_F(InstallScriptTest, LeavesAloneWhatIsNoLongerTheFolderChecked) {
    checked = identity(target);
    QDir().rename(target, base + "/apps/moved");
    QDir().mkpath(base + "/shared/other");
    QFile::link(base + "/shared", target);
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(QFileInfo(target).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(base + "/shared/other"));
    EXPECT_FALSE(QFileInfo::exists(trash.filesPath));
    EXPECT_FALSE(QFileInfo::exists(trash.infoPath));
    EXPECT_TRUE(tmp.read("said").contains("no longer the folder that was checked"));
}

TEST_F(InstallScriptTest, InstallsWhereNothingIsInstalled) {
    QDir(target).removeRecursively();
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(build(target).contains("\"2\""));
    EXPECT_FALSE(QFileInfo::exists(trash.infoPath));
    EXPECT_EQ(launched(), "2");
}

TEST_F(InstallScriptTest, AFailedCopyPutsTheOldCopyBack) {
    QDir(stagedCopy).removeRecursively();
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(build(target).contains("\"1\""));
    EXPECT_FALSE(QFileInfo::exists(trash.filesPath));
    EXPECT_FALSE(QFileInfo::exists(trash.infoPath));
    EXPECT_EQ(launched(), "1");
    EXPECT_TRUE(tmp.read("said").contains("the old copy was put back"));
    // The copy started again finds the reason to show beside the script, and only its user may
    // read it.
    const QString note = base + "/work/install-failed.txt";
    EXPECT_EQ(readAll(note), "the new copy couldn't be put in place; the old copy was put back\n");
    struct stat st {};
    ::stat(QFile::encodeName(note).constData(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(QDir(base + "/work").entryList(QDir::Files),
              QStringList({"install-failed.txt", "install.sh"}));
}

TEST_F(InstallScriptTest, AnOccupiedTrashNameNeverNestsTheFolder) {
    // Reserved names skip what is taken.
    const auto second = Trash::reserve(target, "Ostrel 123", base + "/trash");
    ASSERT_TRUE(second);
    EXPECT_NE(second->filesPath, trash.filesPath);
    // Should the name be taken all the same, the move fails instead of moving into it.
    QDir().mkpath(trash.filesPath + "/occupied");
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(build(target).contains("\"1\""));
    EXPECT_FALSE(QFileInfo::exists(trash.filesPath + "/Ostrel"));
    EXPECT_TRUE(QFileInfo::exists(stagedCopy));
    // The old copy, never moved, starts again.
    EXPECT_EQ(launched(), "1");
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        maker.root = tmp.path();
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file("data")));
        QDir().mkpath(tmp.file("apps"));
        QDir().rename(maker.installFolder("v1", 1, tmp.file("launched")), tmp.file("apps/Ostrel"));
        QDir().mkpath(tmp.file("support/Updates/staging-2"));
        QDir().rename(maker.installFolder("v2", 2, tmp.file("launched")),
                      tmp.file("support/Updates/staging-2/Ostrel"));
        ::chmod(QFile::encodeName(tmp.file("support/Updates")).constData(), 0700);
        if (::geteuid() == 0) {
            QProcess::execute("/bin/chown", {"-R", "65534:65534", tmp.path()});
        }
    }
    void TearDown() override { qunsetenv("XDG_DATA_HOME"); }

    // Installs over `target` as an unprivileged user, with standard error sent to `stderrFile`
    // (when given) meanwhile.
    int installAsUser(const QString& stderrFile = {},
                      const QString& target = QStringLiteral("apps/Ostrel")) {
        const UpdateInstaller installer(tmp.file("support/Updates"), false);
        const QString copy = tmp.file("support/Updates/staging-2/Ostrel");
        // The application that quits: a process that ends soon, which init reaps.
        QProcess spawn;
        spawn.start("/bin/sh", {"-c", "sleep 0.3 </dev/null >/dev/null 2>&1 & echo $!"});
        spawn.waitForFinished();
        const qint64 quitting = spawn.readAllStandardOutput().trimmed().toLongLong();
        return test::runUnprivileged({}, [&] {
            const int saved = ::dup(STDERR_FILENO);
            if (!stderrFile.isEmpty()) {
                const int fd = ::open(QFile::encodeName(stderrFile).constData(),
                                      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
                ::dup2(fd, STDERR_FILENO);
                ::close(fd);
            }
            const auto failure = installer.install(copy, tmp.file(target), quitting);
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
            if (!failure) {
                return 0;
            }
            if (failure->kind == UpdateInstaller::Failure::Kind::notOwnFolder) {
                return 12;
            }
            return failure->kind == UpdateInstaller::Failure::Kind::notWritable &&
                           failure->detail == copy
                       ? 10
                       : 11;
        });
    }

    // What checkFolder() says of `folder` to an unprivileged user: 0 when it may be replaced,
    // else the failure's kind plus one.
    int checkAsUser(const QString& folder,
                    const QString& workDir = QStringLiteral("support/Updates")) {
        if (::geteuid() == 0) {
            QProcess::execute("/bin/chown", {"-hR", "65534:65534", tmp.path()});
        }
        const UpdateInstaller installer(tmp.file(workDir), false);
        return test::runUnprivileged({}, [&] {
            const auto checked = installer.checkFolder(tmp.file(folder));
            const auto* failure = std::get_if<UpdateInstaller::Failure>(&checked);
            return failure ? int(failure->kind) + 1 : 0;
        });
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
};

TEST_F(InstallTest, HandsOverToTheScriptAndTheNewCopyStarts) {
    // Our standard error is a file: the new copy writes into it too.
    ASSERT_EQ(installAsUser(tmp.file("stderr")), 0);
    ASSERT_TRUE(test::waitUntil([&] { return !tmp.read("launched").isEmpty(); }, 20));
    EXPECT_EQ(tmp.read("launched").trimmed(), "2");
    EXPECT_TRUE(test::waitUntil([&] { return tmp.read("stderr") == "ostrel 2 started\n"; }, 10));
    EXPECT_TRUE(tmp.read("apps/Ostrel/share/ostrel/Info.json").contains("\"2\""));
    const QStringList trashed = QDir(tmp.file("data/Trash/info")).entryList(QDir::Files);
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_TRUE(trashed.first().startsWith("Ostrel "));
    EXPECT_FALSE(QFileInfo::exists(tmp.file("support/Updates/staging-2")));
}

TEST_F(InstallTest, RefusesAFolderItCannotReplace) {
    ::chmod(QFile::encodeName(tmp.file("apps")).constData(), 0555);
    EXPECT_EQ(installAsUser(), 10);
    EXPECT_FALSE(QFileInfo::exists(tmp.file("support/Updates/install.sh")));
    EXPECT_TRUE(QDir(tmp.file("data/Trash/info")).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(tmp.file("support/Updates/staging-2/Ostrel")));
}

TEST_F(InstallTest, ReplacesOnlyAFolderThatHoldsExactlyItsSignedCopy) {
    using Kind = UpdateInstaller::Failure::Kind;
    const int notOwn = int(Kind::notOwnFolder) + 1;
    EXPECT_EQ(checkAsUser("apps/Ostrel"), 0);

    // A signed copy laid into a shared prefix, as `cp -a Ostrel/. ~/.local/` does, and a link to
    // it.
    QDir().mkpath(tmp.file("prefix/other"));
    tmp.write("prefix/other/data", "another program's");
    QProcess::execute("/bin/cp", {"-a", tmp.file("apps/Ostrel") + "/.", tmp.file("prefix")});
    QFile::link(tmp.file("prefix"), tmp.file("link"));
    EXPECT_EQ(checkAsUser("prefix"), notOwn);
    EXPECT_EQ(checkAsUser("link"), notOwn);
    EXPECT_EQ(installAsUser({}, "prefix"), 12);
    EXPECT_EQ(tmp.read("prefix/other/data"), "another program's");
    EXPECT_TRUE(QDir(tmp.file("data/Trash/info")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(tmp.file("support/Updates/install.sh")));

    // Half installed, or not signed at all.
    QProcess::execute("/bin/cp", {"-a", tmp.file("apps/Ostrel"), tmp.file("half")});
    QFile::remove(tmp.file("half/lib/libostrel.so.1"));
    EXPECT_EQ(checkAsUser("half"), notOwn);
    maker.installFolder("unsigned", 1, {}, false);
    EXPECT_EQ(checkAsUser("unsigned/Ostrel"), int(Kind::developmentCopy) + 1);

    // The Trash or the work folder within, even before either is made; the home folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file("apps/Ostrel/share/data")));
    EXPECT_EQ(checkAsUser("apps/Ostrel"), notOwn);
    qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file("data")));
    EXPECT_EQ(checkAsUser("apps/Ostrel", "apps/Ostrel/share/Updates"), notOwn);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(tmp.file("apps/Ostrel")));
    EXPECT_EQ(checkAsUser("apps/Ostrel"), notOwn);
    qputenv("HOME", home);

    // A Trash on another disk.
    struct stat shm {};
    struct stat here {};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(QFile::encodeName(tmp.path()), &here) == 0 &&
        shm.st_dev != here.st_dev) {
        qputenv("XDG_DATA_HOME", "/dev/shm/ostrel-test-data");
        EXPECT_EQ(checkAsUser("apps/Ostrel"), int(Kind::trashElsewhere) + 1);
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.file("data")));
    }
}

// The install script is written into the support folder's own Updates folder, from which it is
// run: never into one of that name on a file system mounted over the support folder since the
// start. In a child of our own, mounting in a namespace of its own before it gives up root.
TEST_F(InstallTest, WritesNoScriptIntoAFolderMountedOverTheRunsOwn) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount";
    }
    const QString support = tmp.file("support");
    const QString copy = tmp.file("staged/Ostrel");
    QDir().mkpath(tmp.file("staged"));
    ASSERT_TRUE(QDir().rename(tmp.file("support/Updates/staging-2/Ostrel"), copy));
    const pid_t pid = ::fork();
    if (pid == 0) {
        const QByteArray root = QFile::encodeName(support);
        const QByteArray updates = QFile::encodeName(support + "/Updates");
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            ::_exit(77);
        }
        OwnFolder::startRun(support);
        if (::mount("tmpfs", root.constData(), "tmpfs", 0, "size=1m") != 0) {
            ::_exit(77);
        }
        // A folder fit to take the script in every other way: a real folder of ours, 0700.
        if (::mkdir(updates.constData(), 0700) != 0 ||
            ::chown(updates.constData(), 65534, 65534) != 0 || ::setgid(65534) != 0 ||
            ::setuid(65534) != 0) {
            ::_exit(78);
        }
        const UpdateInstaller installer(support + "/Updates", false);
        const auto failure = installer.install(copy, tmp.file("apps/Ostrel"), ::getpid());
        ::_exit(failure && !QFileInfo::exists(support + "/Updates/install.sh") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(QDir(tmp.file("data/Trash/info")).isEmpty());
    EXPECT_TRUE(tmp.read("apps/Ostrel/share/ostrel/Info.json").contains("\"1\""));
}

TEST_F(InstallTest, RootNeverInstalls) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const UpdateInstaller installer(tmp.file("support/Updates"), false);
    const auto failure = installer.install(tmp.file("support/Updates/staging-2/Ostrel"),
                                           tmp.file("apps/Ostrel"), ::getpid());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, UpdateInstaller::Failure::Kind::notWritable);
}

} // namespace
} // namespace ostrel
