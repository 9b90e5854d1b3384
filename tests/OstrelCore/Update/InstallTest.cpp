#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Update/InstallScript.h"
#include "OstrelCore/Update/UpdateInstaller.h"
#include "Platform/Trash.h"

#include "ReleaseMaker.h"
#include "support/AsUser.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

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
    int run() {
        QProcess sh;
        sh.setWorkingDirectory(tmp.path());
        sh.start("/bin/sh", {"-c", "sleep 0.3 & exec /bin/sh \"$0\" \"$!\" \"$@\"", script,
                             stagedCopy, target, trash.filesPath});
        EXPECT_TRUE(sh.waitForFinished(20000));
        return sh.exitCode();
    }

    QByteArray launched() {
        test::waitUntil([&] { return !readAll(marker()).isEmpty(); }, 10);
        return readAll(marker()).trimmed();
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
    Trash::Reservation trash;
};

TEST_F(InstallScriptTest, ReplacesTrashesAndRelaunches) {
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(build(target).contains("\"2\""));
    EXPECT_TRUE(build(trash.filesPath).contains("\"1\""));
    EXPECT_TRUE(readAll(trash.infoPath).startsWith("[Trash Info]\nPath="));
    EXPECT_FALSE(QFileInfo::exists(base + "/work/staging-2"));
    EXPECT_TRUE(QFileInfo::exists(script));
    EXPECT_EQ(launched(), "2");
    EXPECT_FALSE(QFileInfo::exists(tmp.file("pwned")));
    EXPECT_FALSE(QFileInfo::exists(base + "/pwned"));
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

    int installAsUser() {
        const UpdateInstaller installer(tmp.file("support/Updates"), false);
        const QString copy = tmp.file("support/Updates/staging-2/Ostrel");
        const QString target = tmp.file("apps/Ostrel");
        return test::runUnprivileged({}, [&] {
            const auto failure = installer.install(copy, target, ::getpid());
            if (!failure) {
                return 0;
            }
            return failure->kind == UpdateInstaller::Failure::Kind::notWritable &&
                           failure->detail == copy
                       ? 10
                       : 11;
        });
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
};

TEST_F(InstallTest, HandsOverToTheScriptAndTheNewCopyStarts) {
    ASSERT_EQ(installAsUser(), 0);
    ASSERT_TRUE(test::waitUntil([&] { return !tmp.read("launched").isEmpty(); }, 20));
    EXPECT_EQ(tmp.read("launched").trimmed(), "2");
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
