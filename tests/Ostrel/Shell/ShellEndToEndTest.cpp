// The real binary on a private X server: the first-run greeting, a second launch, one shelf per
// support folder, autostart, the install script, and the X server going away.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/AutostartEntry.h"
#include "Platform/CodeSignature.h"
#include "support/MountNamespace.h"
#include "support/NoisePicture.h"
#include "support/SavedIndex.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Whether a shown window of ours has this exact title.
bool showsWindow(XServer& x, const QString& title) {
    return !x.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).trimmed().isEmpty();
}

TEST(ShellEndToEnd, GreetsOnceAndASecondLaunchOpensSettings) {
    XServer::Options options;
    options.windowManager = true;
    XServer x(options);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.greeted = false;
    // Launch at login was on, but the desktop has no entry: the desktop's state wins.
    x.home().write("config/Ostrel/defaults.json",
                   QJsonDocument(QJsonObject{{"launchAtLogin", true}}).toJson());
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Welcome to Ostrel"); }, 30))
        << x.appLog().toStdString();
    const auto stored = [&] {
        return QJsonDocument::fromJson(x.home().read("config/Ostrel/defaults.json")).object();
    };
    EXPECT_TRUE(stored().value("shownWelcome").toBool());
    EXPECT_FALSE(stored().value("launchAtLogin").toBool());

    QProcess second;
    QProcessEnvironment env = x.environment();
    second.setProcessEnvironment(env);
    second.start(OSTREL_BINARY, {});
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Settings"); }, 20))
        << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);

    // Greeted once, never again; with Claude Code's projects folder missing, the folders pane
    // opens instead, once.
    x.greeted = false;
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    EXPECT_TRUE(waitUntil([&] { return showsWindow(x, "Settings"); }, 30))
        << x.appLog().toStdString();
    EXPECT_FALSE(showsWindow(x, "Welcome to Ostrel"));
    EXPECT_TRUE(stored().value("shownMissingClaudeFolder").toBool());
    EXPECT_EQ(x.stopApp(), 0);
}

// The first card of the open rail drawer at the top of a 1920 x 1080 screen, in X coordinates.
QRect firstCard() {
    const QRectF frame(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    const QPoint drawer(qRound(r.x()), qRound(1080 - (r.y() + r.height())));
    return QRect(drawer.x() + 207, drawer.y() + 57, 160, 120);
}

bool colourful(QColor c) {
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60;
}

int viewableWindows(XServer& x) {
    int n = 0;
    for (const XServer::Window& w : x.appWindows()) {
        n += w.viewable ? 1 : 0;
    }
    return n;
}

bool cardShows(XServer& x) {
    const QImage shot = x.capture(firstCard());
    int n = 0;
    for (int y = 0; y < shot.height(); y += 4) {
        for (int x = 0; x < shot.width(); x += 4) {
            n += colourful(shot.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return n > 300;
}

// The drawer opened on hover with the first card in view, and the pointer on that card.
bool pointAtTheFirstCard(XServer& x) {
    x.moveTo(QPoint(960, 2));
    if (!waitUntil([&] { return cardShows(x); }, 20)) {
        return false;
    }
    x.moveTo(firstCard().center());
    pump(0.1);
    return true;
}

bool rightClickTheFirstCard(XServer& x) {
    if (!pointAtTheFirstCard(x)) {
        return false;
    }
    const int shown = viewableWindows(x);
    x.click(3);
    return waitUntil([&] { return viewableWindows(x) > shown; }, 10);
}

// Two displays of one user share the support folder, and so the index: a launch on the second
// says where the shelf runs and ends, so that it never writes back the index it read over a
// deletion made on the first.
TEST(ShellEndToEnd, ALaunchOnAnotherDisplayOverTheSameIndexEnds) {
    XServer first;
    XServer second;
    ASSERT_TRUE(first.ok() && second.ok()) << first.error().toStdString();
    ASSERT_TRUE(noisePicture(200, 150, 5).save(first.scratchpad() + "/chart.png"));
    ASSERT_TRUE(first.startApp(OSTREL_BINARY));
    const auto index = [&] {
        return QJsonDocument::fromJson(first.home().read("data/Ostrel/index.json")).object();
    };
    const auto deleted = [&] {
        return index().value("items").toArray().isEmpty() &&
               index().value("deleted").toObject().size() == 1;
    };
    ASSERT_TRUE(waitUntil([&] { return index().value("items").toArray().size() == 1; }, 30))
        << first.appLog().toStdString();

    QProcessEnvironment shared;
    shared.insert("XDG_RUNTIME_DIR", first.home().file("runtime"));
    shared.insert("XDG_DATA_HOME", first.home().file("data"));
    ASSERT_TRUE(second.startApp(OSTREL_BINARY, {}, shared));
    waitUntil([&] { return second.app()->state() == QProcess::NotRunning; }, 10);

    // Deleted from the card's menu on the first display; the held deletion is committed as it
    // ends.
    ASSERT_TRUE(rightClickTheFirstCard(first)) << first.appLog().toStdString();
    for (int i = 0; i < 7; ++i) {
        first.key(QStringLiteral("Down")); // to "Delete"
    }
    first.key(QStringLiteral("Return"));
    // The card goes as the deletion is held; only then may the application be ended.
    EXPECT_TRUE(waitUntil([&] { return !cardShows(first); })) << first.appLog().toStdString();
    EXPECT_EQ(first.stopApp(), 0);
    EXPECT_TRUE(deleted());
    EXPECT_FALSE(showsWindow(first, "Settings"));

    EXPECT_EQ(second.stopApp(), 1);
    EXPECT_TRUE(second.appLog().contains("the shelf already runs on display " + first.display() +
                                         " with the same support folder"))
        << second.appLog().toStdString();
    EXPECT_TRUE(deleted());

    // Once the first has ended, the second display keeps the shelf, without the deleted item.
    ASSERT_TRUE(second.startApp(OSTREL_BINARY, {}, shared));
    EXPECT_TRUE(waitUntil([&] { return !second.appWindows().isEmpty(); }, 20))
        << second.appLog().toStdString();
    EXPECT_EQ(second.stopApp(), 0);
    EXPECT_TRUE(deleted());
}

// Starts `binary` with an autostart entry for it in place; true once the application has read
// the entry as its own (Launch at login on), which it does only for the binary that runs.
bool startsWithLoginItemOn(XServer& x, const QString& binary) {
    x.home().write("config/autostart/ostrel.desktop", AutostartEntry::contents(binary));
    if (!x.startApp(binary)) {
        return false;
    }
    return waitUntil(
        [&] {
            return QJsonDocument::fromJson(x.home().read("config/Ostrel/defaults.json"))
                .object()
                .value("launchAtLogin")
                .toBool();
        },
        30);
}

TEST(ShellEndToEnd, AutostartEntryOnAtLaunchFollowsTheDesktop) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString path = x.home().file("config/autostart/ostrel.desktop");
    // An entry the user (or an earlier run) left for this binary turns the preference on.
    EXPECT_TRUE(startsWithLoginItemOn(x, OSTREL_BINARY)) << x.appLog().toStdString();
    EXPECT_TRUE(AutostartEntry(path, OSTREL_BINARY).enabled());
    EXPECT_EQ(x.stopApp(), 0);
}

// --- scripts/install over this build folder, as a user runs it.

struct Install {
    int status = -1;
    QString said;
};

// Runs scripts/install with `arguments` for the user whose home is `home` (data and settings
// under its data/ and config/, as the X server's environment has them).
Install runInstall(const TempDir& home, const QStringList& arguments,
                   const QProcessEnvironment& extra = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.file("data"));
    env.insert("XDG_CONFIG_HOME", home.file("config"));
    env.insert("OSTREL_BUILD_DIR", OSTREL_BUILD_FOLDER);
    env.remove("SUDO_USER");
    env.remove("OSTREL_SUPPORT_DIR");
    for (const QString& key : extra.keys()) {
        env.insert(key, extra.value(key));
    }
    p.setProcessEnvironment(env);
    p.start(OSTREL_SOURCE_FOLDER "/scripts/install", arguments);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
        return {};
    }
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
}

// The value of `key` in the [Desktop Entry] group of `entry`.
QString entryValue(const QByteArray& entry, const QString& key) {
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith(key.toUtf8() + '=')) {
            return QString::fromUtf8(line.mid(key.size() + 1));
        }
    }
    return {};
}

TEST(InstallEndToEnd, TheMenuEntryStartsTheInstalledCopyWhoseWindowsMatchIt) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    // A name the Exec line must quote.
    const QString folder = x.home().file("apps/my $ostrel 100%");
    const Install install = runInstall(x.home(), {folder});
    ASSERT_EQ(install.status, 0) << install.said.toStdString();

    const QString entryPath = x.home().file("data/applications/ostrel.desktop");
    QProcess validate;
    validate.start("desktop-file-validate", {entryPath});
    ASSERT_TRUE(validate.waitForFinished(20000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ(validate.readAll(), QByteArray());
    const QByteArray entry = x.home().read("data/applications/ostrel.desktop");
    const auto exec = AutostartEntry::parseExec(entryValue(entry, "Exec"));
    ASSERT_TRUE(exec && exec->size() == 1) << entry.toStdString();
    const QString binary = exec->first();
    EXPECT_EQ(binary, folder + "/bin/ostrel");
    EXPECT_EQ(QImage(x.home().file("data/icons/hicolor/256x256/apps/ostrel.png")).size(),
              QSize(256, 256));
    EXPECT_EQ(entryValue(entry, "Icon"), "ostrel");

    // Launch at login names the binary that runs: an entry for the installed one reads as on.
    EXPECT_TRUE(startsWithLoginItemOn(x, binary)) << x.appLog().toStdString();

    // The desktop finds the entry of a window by its class: the instance is the entry's file
    // name without ".desktop", the class its StartupWMClass.
    const QString windowClass =
        QStringLiteral("WM_CLASS(STRING) = \"%1\", \"%2\"")
            .arg(QFileInfo(entryPath).completeBaseName(), entryValue(entry, "StartupWMClass"));
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 30));
    for (const XServer::Window& w : x.appWindows()) {
        EXPECT_EQ(x.xprop({"-id", QString::number(w.id), "WM_CLASS"}).trimmed(), windowClass);
    }
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(InstallEndToEnd, OnlyAFolderOfItsOwnAndUninstallKeepsTheUsersData) {
    TempDir home;
    home.write(".local/bin/other", "another program");
    ASSERT_TRUE(QFile::link(home.file(".local"), home.file("link")));
    home.write("data/Ostrel/index.json", "{}");
    home.write("config/Ostrel/defaults.json", "{}");
    home.write("data/applications/other.desktop", "[Desktop Entry]\n");
    // Refused before anything is built or written.
    for (const QString& shared : {home.file(".local"), home.path(), home.file("link"),
                                  home.file("data"), QStringLiteral("/")}) {
        const Install refused = runInstall(home, {shared});
        EXPECT_EQ(refused.status, 3) << shared.toStdString() << refused.said.toStdString();
    }
    // An empty place that would hold the support folder once Ostrel runs.
    QProcessEnvironment later;
    later.insert("XDG_DATA_HOME", home.file("new/share"));
    EXPECT_EQ(runInstall(home, {home.file("new")}, later).status, 3);
    EXPECT_FALSE(QFileInfo::exists(home.file("new")));
    EXPECT_FALSE(QFileInfo::exists(home.file("data/applications/ostrel.desktop")));

    const QString folder = home.file("opt/ostrel");
    ASSERT_EQ(runInstall(home, {folder}).status, 0);
    // Again over that install, signed this time.
    QProcess keygen;
    keygen.start(OSTREL_BUILD_FOLDER "/tools/sign-release", {"keygen", home.file("release.key")});
    ASSERT_TRUE(keygen.waitForFinished(20000) && keygen.exitCode() == 0);
    QProcessEnvironment signing;
    signing.insert("OSTREL_SIGNING_KEY", home.file("release.key"));
    const Install signed_ = runInstall(home, {folder}, signing);
    ASSERT_EQ(signed_.status, 0) << signed_.said.toStdString();
    EXPECT_TRUE(CodeSignature::identity(folder, true).valid);

    EXPECT_EQ(runInstall(home, {"--uninstall", home.file(".local")}).status, 3);
    EXPECT_TRUE(QFileInfo::exists(home.file(".local/bin/other")));
    const Install removed = runInstall(home, {"--uninstall", folder});
    ASSERT_EQ(removed.status, 0) << removed.said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(QDir(home.file("opt")).isEmpty()); // nothing left aside
    EXPECT_FALSE(QFileInfo::exists(home.file("data/applications/ostrel.desktop")));
    EXPECT_FALSE(QFileInfo::exists(home.file("data/icons/hicolor/48x48/apps/ostrel.png")));
    EXPECT_EQ(home.read("data/Ostrel/index.json"), "{}");
    EXPECT_EQ(home.read("config/Ostrel/defaults.json"), "{}");
    EXPECT_TRUE(QFileInfo::exists(home.file("data/applications/other.desktop")));
}

// --- The X server going away (a session ending, a crash): the application ends with status 1,
// and nothing it had is lost.

int storedItems(const XServer& x) {
    return static_cast<int>(savedIndexItems(x).size());
}

int captures(XServer& x) {
    return static_cast<int>(x.appLog().count("app.ostrel.ingest: added"));
}

// Adds a picture to the scratchpad and waits until the application has it.
bool capture(XServer& x, const QString& name, quint32 seed) {
    const int before = captures(x);
    return noisePicture(200, 150, seed).save(x.scratchpad() + '/' + name) &&
           waitUntil([&] { return captures(x) > before; }, 30);
}

// True once the application has ended by itself with status 1 (not by a signal).
bool endedWithStatusOne(XServer& x) {
    QProcess* app = x.app();
    return waitUntil([&] { return app->state() == QProcess::NotRunning; }, 30) &&
           app->exitStatus() == QProcess::NormalExit && app->exitCode() == 1;
}

// Whether some process holds a lock on the file at `path`: read from /proc/locks, so that
// looking takes no lock that the holder could find taken.
bool lockHeld(const QString& path) {
    struct stat st {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !locks.open(QIODevice::ReadOnly)) {
        return false;
    }
    return locks.readAll().contains(QString::asprintf(" %02x:%02x:%llu ", major(st.st_dev),
                                                      minor(st.st_dev),
                                                      static_cast<unsigned long long>(st.st_ino))
                                        .toLatin1());
}

bool started(XServer& x, const QProcessEnvironment& extra = {}) {
    return x.startApp(OSTREL_BINARY, {}, extra) &&
           waitUntil([&] { return x.appLog().contains("the shortcut is registered"); }, 30);
}

// A support folder that cannot be used keeps no shelf away: it runs, and the one line about the
// folder says what is wrong with it, not repeated for each file that is then not saved. Once it
// can be used, a picture that comes is kept there, and the folder is this shelf's: a launch on
// another display ends.
TEST(ShellEndToEnd, ASupportFolderThatIsAFileLetsTheShelfRunAndIsUsedOnceItCanBe) {
    XServer x;
    XServer other;
    ASSERT_TRUE(x.ok() && other.ok()) << x.error().toStdString();
    x.home().write("data/Ostrel", "the user's notes");
    ASSERT_TRUE(started(x)) << x.appLog().toStdString();
    ASSERT_TRUE(noisePicture(200, 150, 4).save(x.scratchpad() + "/early.png"));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains("copy failed"); }, 30))
        << x.appLog().toStdString();
    EXPECT_EQ(x.home().read("data/Ostrel"), "the user's notes");

    QFile::remove(x.home().file("data/Ostrel"));
    pump(1.1); // the folder is looked at again once a second at most
    ASSERT_TRUE(capture(x, "chart.png", 5)) << x.appLog().toStdString();
    EXPECT_TRUE(waitUntil([&] { return storedItems(x) == 2; }, 30)) << x.appLog().toStdString();
    QProcessEnvironment shared;
    shared.insert("XDG_DATA_HOME", x.home().file("data"));
    ASSERT_TRUE(other.startApp(OSTREL_BINARY, {}, shared));
    waitUntil([&] { return other.app()->state() == QProcess::NotRunning; }, 10);
    EXPECT_EQ(other.stopApp(), 1) << other.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
    const QString log = x.appLog();
    EXPECT_EQ(log.count("the support folder"), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(x.home().file("data/Ostrel") + " is not a folder"))
        << log.toStdString();
    EXPECT_FALSE(log.contains("not saved")) << log.toStdString();
    EXPECT_FALSE(log.contains("set aside")) << log.toStdString();
    EXPECT_TRUE(log.contains("can be written again")) << log.toStdString();
}

// A support folder that comes to be usable while a shelf started since on another display keeps
// it is left to that shelf: nothing of this one is written there, and it says why.
TEST(ShellEndToEnd, ASupportFolderThatCameToBeUsableIsLeftToTheShelfThatKeepsIt) {
    XServer x;
    XServer other;
    ASSERT_TRUE(x.ok() && other.ok()) << x.error().toStdString();
    x.home().write("data/Ostrel", "the user's notes");
    ASSERT_TRUE(started(x)) << x.appLog().toStdString();
    // Its start looks at the folder once more: the folder comes to be usable only after that.
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains("watching "); }, 30))
        << x.appLog().toStdString();
    QFile::remove(x.home().file("data/Ostrel"));
    QProcessEnvironment shared;
    shared.insert("XDG_DATA_HOME", x.home().file("data"));
    ASSERT_TRUE(started(other, shared)) << other.appLog().toStdString();

    pump(1.1); // the folder is looked at again once a second at most
    ASSERT_TRUE(noisePicture(200, 150, 5).save(x.scratchpad() + "/chart.png"));
    EXPECT_TRUE(waitUntil([&] { return x.appLog().contains("copy failed"); }, 30))
        << x.appLog().toStdString();
    // Once that shelf has ended, its index is not this one's to replace either.
    EXPECT_EQ(other.stopApp(), 0);
    EXPECT_EQ(x.stopApp(), 0);
    EXPECT_TRUE(x.appLog().contains(" is kept by the shelf on display " + other.display()))
        << x.appLog().toStdString();
    EXPECT_EQ(storedItems(x), 0);
}

// A support folder on a drive mounted after the shelf started, holding the folder of another
// time (312 items): the shelf neither replaces its index nor removes any of its files, keeps it
// from a second shelf started on another display from the moment it comes, and says so once. Once
// the drive goes, what came meanwhile is saved in the shelf's own folder.
TEST(ShellEndToEnd, ADriveMountedOverTheSupportFolderKeepsItsIndexAndFiles) {
    const MountNamespace space;
    if (!space.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    XServer x;
    XServer other;
    ASSERT_TRUE(x.ok() && other.ok()) << x.error().toStdString();
    const QString drive = x.home().file("drive");
    QDir().mkpath(drive);
    QProcessEnvironment onDrive;
    onDrive.insert("OSTREL_SUPPORT_DIR", drive + "/Ostrel");
    x.launcher = space.launcher();
    other.launcher = space.launcher();
    ASSERT_TRUE(started(x, onDrive)) << x.appLog().toStdString();
    // Once the start's index is written, the shelf has nothing more to write: it idles.
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(drive + "/Ostrel/index.json"); }, 30));

    ASSERT_TRUE(space.mountTmpfs(drive, "size=16m"));
    const QString found = space.inside(drive + "/Ostrel");
    // Claimed as it comes, though the shelf idles.
    EXPECT_TRUE(waitUntil([&] { return lockHeld(found + "/index.lock"); }, 5));
    {
        const auto earlier = Store::make(QUrl::fromLocalFile(found), &Date::now);
        for (int i = 0; i < 312; ++i) {
            ShelfItem item;
            item.id = QStringLiteral("earlier%1").arg(i);
            item.kind = ShelfItemKind::image;
            item.title = item.id;
            item.sessionID = QStringLiteral("s1");
            item.createdAt = Date::now();
            item.fileURL = std::get<QUrl>(earlier->copyIn(item.id.toUtf8(), item.id, "png"));
            earlier->writeThumbnail(item.id, "thumbnail");
            earlier->upsert(item);
        }
        earlier->flush();
    }
    const auto readFound = [&] {
        QFile file(found + "/index.json");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto files = [&] {
        return QDir(found + "/items").entryList(QDir::Files).size() +
               QDir(found + "/thumbs").entryList(QDir::Files).size();
    };
    const QByteArray index = readFound();
    ASSERT_EQ(files(), 624);

    pump(1.1); // the folder is looked at again once a second at most
    ASSERT_TRUE(noisePicture(200, 150, 6).save(x.scratchpad() + "/during.png"));
    ASSERT_TRUE(waitUntil([&] { return captures(x) > 0 || x.appLog().contains("copy into"); }, 30))
        << x.appLog().toStdString();
    pump(3); // an index write would have come by now
    EXPECT_EQ(QJsonDocument::fromJson(readFound()).object().value("items").toArray().size(), 312);
    EXPECT_TRUE(readFound() == index);
    EXPECT_EQ(files(), 624);
    ASSERT_TRUE(other.startApp(OSTREL_BINARY, {}, onDrive));
    waitUntil([&] { return other.app()->state() == QProcess::NotRunning; }, 10);
    EXPECT_EQ(other.stopApp(), 1) << other.appLog().toStdString();
    EXPECT_TRUE(other.appLog().contains("the shelf already runs on display " + x.display()))
        << other.appLog().toStdString();

    ASSERT_TRUE(space.unmount(drive));
    pump(1.1);
    ASSERT_TRUE(noisePicture(200, 150, 7).save(x.scratchpad() + "/after.png"));
    const auto saved = [&] {
        return QJsonDocument::fromJson(x.home().read("drive/Ostrel/index.json"))
            .object()
            .value("items")
            .toArray()
            .size();
    };
    EXPECT_TRUE(waitUntil([&] { return saved() == 2; }, 30)) << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
    EXPECT_EQ(x.appLog().count("is not the folder this shelf read"), 1) << x.appLog().toStdString();
}

// A capture waits 2 s for the index to be written: the X server goes well before that.
TEST(ShellEndToEnd, ACaptureJustMadeIsInTheIndexWhenTheXServerGoes) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(started(x)) << x.appLog().toStdString();
    ASSERT_TRUE(capture(x, "chart.png", 5)) << x.appLog().toStdString();
    x.killServer();
    EXPECT_TRUE(endedWithStatusOne(x)) << x.appLog().toStdString();
    EXPECT_EQ(storedItems(x), 1);
}

// A deletion is held for undo while the shelf is open (4 s at the normal pace): it reaches the
// index all the same.
TEST(ShellEndToEnd, ADeletionHeldForUndoIsInTheIndexWhenTheXServerGoes) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    QProcessEnvironment pace;
    pace.insert("OSTREL_MOTION_SCALE", "1");
    ASSERT_TRUE(started(x, pace)) << x.appLog().toStdString();
    ASSERT_TRUE(capture(x, "chart.png", 5));
    ASSERT_TRUE(waitUntil([&] { return storedItems(x) == 1; }, 30));

    ASSERT_TRUE(rightClickTheFirstCard(x)) << x.appLog().toStdString();
    for (int i = 0; i < 7; ++i) {
        x.key(QStringLiteral("Down")); // to "Delete"
    }
    x.key(QStringLiteral("Return"));
    ASSERT_TRUE(waitUntil([&] { return !cardShows(x); }, 10));
    x.killServer();
    EXPECT_TRUE(endedWithStatusOne(x)) << x.appLog().toStdString();
    const QJsonObject index =
        QJsonDocument::fromJson(x.home().read("data/Ostrel/index.json")).object();
    EXPECT_TRUE(index.value("items").toArray().isEmpty());
    EXPECT_EQ(index.value("deleted").toObject().size(), 1);
}

// The X server goes while a menu, a preview or a drag holds the application in a loop of its
// own: no crash, and the capture made meanwhile is kept.
TEST(ShellEndToEnd, TheXServerGoingDuringAMenuAPreviewOrADragLosesNothing) {
    const std::vector<std::pair<const char*, std::function<bool(XServer&)>>> moments = {
        {"menu", rightClickTheFirstCard},
        {"preview",
         [](XServer& x) {
             x.moveTo(QPoint(960, 900));
             x.key(QStringLiteral("alt+space"));
             if (!waitUntil([&] { return cardShows(x); }, 20)) {
                 return false;
             }
             x.key(QStringLiteral("Right"));
             pump(0.2);
             x.key(QStringLiteral("space"));
             return waitUntil([&] { return x.shownWindows().size() == 1; }, 10);
         }},
        {"drag",
         [](XServer& x) {
             if (!pointAtTheFirstCard(x)) {
                 return false;
             }
             // The dragged card is a window of its own under the pointer.
             const int shown = viewableWindows(x);
             const QPoint from = firstCard().center();
             x.press(1);
             int step = 0;
             return waitUntil(
                 [&] {
                     ++step;
                     x.moveTo(from + QPoint(step, step * 20));
                     pump(0.05);
                     return viewableWindows(x) > shown;
                 },
                 10);
         }},
    };
    for (const auto& [moment, reach] : moments) {
        SCOPED_TRACE(moment);
        XServer x;
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(started(x)) << x.appLog().toStdString();
        ASSERT_TRUE(capture(x, "first.png", 5));
        ASSERT_TRUE(reach(x)) << x.appLog().toStdString();
        ASSERT_TRUE(capture(x, "second.png", 6));
        x.killServer();
        EXPECT_TRUE(endedWithStatusOne(x)) << x.appLog().toStdString();
        EXPECT_EQ(storedItems(x), 2);
    }
}

// Either of our two connections to the X server may break alone: ours (the pointer, the hot key)
// or Qt's, which has Qt end the process from within while ours is whole and its reader waits on
// it. The application ends as when the server goes, by itself and with the index written.
TEST(ShellEndToEnd, LosingEitherXConnectionEndsTheApplicationWithTheIndexWritten) {
    for (const bool ours : {true, false}) {
        SCOPED_TRACE(ours ? "our own connection" : "Qt's connection");
        XServer x;
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(started(x)) << x.appLog().toStdString();
        ASSERT_TRUE(capture(x, "chart.png", 5));

        // Our connection's one window: input only, 1 x 1 at (-1, -1); any other is Qt's.
        xcb_connection_t* c = x.connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        ASSERT_TRUE(tree);
        xcb_window_t target = XCB_NONE;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            xcb_get_geometry_reply_t* g =
                xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
            xcb_get_window_attributes_reply_t* a = xcb_get_window_attributes_reply(
                c, xcb_get_window_attributes(c, children[i]), nullptr);
            const bool own = g && a && g->x == -1 && g->y == -1 && g->width == 1 &&
                             g->height == 1 && a->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
            if (g && a && own == ours) {
                target = children[i];
            }
            std::free(g);
            std::free(a);
        }
        std::free(tree);
        ASSERT_NE(target, XCB_NONE);
        xcb_kill_client(c, target);
        xcb_flush(c);

        EXPECT_TRUE(endedWithStatusOne(x)) << x.appLog().toStdString();
        EXPECT_EQ(x.appLog().contains("the X connection closed"), ours);
        EXPECT_EQ(storedItems(x), 1);
    }
}

} // namespace
