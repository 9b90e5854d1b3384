#include "Ostrel/Update/UpdateController.h"
#include "Ostrel/Update/UpdateWindow.h"
#include "Platform/UserDefaults.h"

#include "OstrelCore/Update/LoopbackServer.h"
#include "OstrelCore/Update/ReleaseMaker.h"
#include "support/ClientWindows.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QAbstractButton>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSslCertificate>
#include <QSslKey>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {
namespace {

using Kind = UpdateController::Phase::Kind;

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        maker.root = tmp.file("material");
        QDir().mkpath(maker.root);
        QDir().mkpath(tmp.file("apps"));
        running = tmp.file("apps/Ostrel");
        QDir().rename(maker.installFolder("running", 1, {}, false), running);
        const QString folder = QFileInfo(maker.installFolder("new", 2)).path();
        archive = maker.zip(folder, {"Ostrel"});
        server.route("/Ostrel.zip", test::LoopbackServer::answer(200, archive));
        serveFeed(maker.feed(archive, 2, server.url("/Ostrel.zip")));
    }

    void serveFeed(const QByteArray& feed) {
        server.route("/feed", test::LoopbackServer::answer(200, feed));
    }

    std::unique_ptr<UpdateController> make(bool configured = true) {
        UpdateConfig config;
        if (configured) {
            config.feedURL = QUrl(server.url("/feed"));
            config.publicKey = maker.key.publicKey;
            config.allowInsecureLocal = true;
        }
        UpdateController::Environment env;
        env.defaults = &defaults;
        env.runningBuild = 1;
        env.appVersion = "1.0";
        env.system = {2, 36, 0};
        env.runningFolder = running;
        env.website = QUrl("https://ostrel.example/");
        env.now = [this] { return now; };
        env.openUrl = [this](const QUrl& url) { opened.append(url); };
        env.reveal = [this](const QString& path) { revealed.append(path); };
        env.terminate = [this] { ++terminated; };
        auto controller = std::make_unique<UpdateController>(tmp.file("support"), config, env);
        controller->installer().limits.archiveDeadlineMs = 1500;
        return controller;
    }

    static bool settle(UpdateController& c) {
        return test::waitUntil([&] { return !c.isWorking(); });
    }
    static std::optional<Kind> kind(const UpdateController& c) {
        return c.phase() ? std::optional<Kind>(c.phase()->kind) : std::nullopt;
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
    test::LoopbackServer server;
    UserDefaults defaults{tmp.file("config"), "defaults"};
    QString running;
    QByteArray archive;
    Date now{800000000};
    QList<QUrl> opened;
    QStringList revealed;
    int terminated = 0;
};

TEST_F(UpdateControllerTest, AutomaticChecksShowOnlyAnAvailableUpdate) {
    auto c = make();
    // Skipped build: silent, but the check counts.
    defaults.set(UpdateController::skippedBuildKey, 2);
    c->checkIfDue(true);
    ASSERT_TRUE(settle(*c));
    EXPECT_FALSE(c->phase());
    EXPECT_FALSE(c->window());
    EXPECT_EQ(defaults.value(UpdateController::lastCheckKey).toDouble(), now.seconds);

    // Not due again within the day; due again a day later.
    const int hits = server.hits("/feed");
    now = now.adding(86399);
    c->checkIfDue(true);
    EXPECT_FALSE(c->isWorking());
    EXPECT_EQ(server.hits("/feed"), hits);

    // A failure is silent and leaves the last check alone.
    now = now.adding(1);
    server.route("/feed", test::LoopbackServer::answer(500, "down"));
    c->checkIfDue(true);
    ASSERT_TRUE(settle(*c));
    EXPECT_FALSE(c->phase());
    EXPECT_EQ(defaults.value(UpdateController::lastCheckKey).toDouble(), now.seconds - 86400);

    // A newer build needing a newer system: silent.
    QByteArray feed = maker.feed(archive, 2, server.url("/Ostrel.zip"));
    serveFeed(feed.replace("\"2.17\"", "\"9.0\""));
    c->checkIfDue(true);
    ASSERT_TRUE(settle(*c));
    EXPECT_FALSE(c->phase());

    // Available: the window opens.
    defaults.remove(UpdateController::skippedBuildKey);
    serveFeed(maker.feed(archive, 2, server.url("/Ostrel.zip")));
    now = now.adding(86400);
    c->checkIfDue(true);
    ASSERT_TRUE(settle(*c));
    EXPECT_EQ(kind(*c), Kind::available);
    ASSERT_TRUE(c->window());
    EXPECT_TRUE(c->window()->isVisible());

    // Off, or without a feed, it never checks.
    c->dismiss();
    now = now.adding(5 * 86400);
    c->checkIfDue(false);
    EXPECT_FALSE(c->isWorking());
    auto bare = make(false);
    bare->checkIfDue(true);
    EXPECT_FALSE(bare->isWorking());
}

TEST_F(UpdateControllerTest, ManualChecksWalkThroughCheckingToAnOutcome) {
    auto c = make();
    defaults.set(UpdateController::skippedBuildKey, 2);
    c->checkNow();
    EXPECT_EQ(kind(*c), Kind::checking);
    // Asking again while the check runs does nothing.
    const UpdateWindow* window = c->window();
    c->checkNow();
    c->checkIfDue(true);
    EXPECT_EQ(c->window(), window);
    ASSERT_TRUE(settle(*c));
    EXPECT_EQ(kind(*c), Kind::available); // a manual check ignores the skipped build
    EXPECT_EQ(server.hits("/feed"), 1);

    serveFeed(maker.feed(archive, 1, server.url("/Ostrel.zip")));
    c->checkNow();
    ASSERT_TRUE(settle(*c));
    EXPECT_EQ(kind(*c), Kind::upToDate);

    server.route("/feed", test::LoopbackServer::answer(404, "gone"));
    c->checkNow();
    ASSERT_TRUE(settle(*c));
    ASSERT_EQ(kind(*c), Kind::failed);
    EXPECT_EQ(c->phase()->title, "Ostrel couldn't check for updates");
    EXPECT_EQ(c->phase()->message, "The update information couldn't be read. Try again later.");

    // Without a feed the website opens instead and no window appears.
    auto bare = make(false);
    EXPECT_TRUE(bare->usesWebsite());
    bare->checkNow();
    EXPECT_FALSE(bare->phase());
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://ostrel.example/")});
}

TEST_F(UpdateControllerTest, SkipStoresTheOfferedBuildOnly) {
    auto c = make();
    c->skipThisVersion();
    EXPECT_FALSE(defaults.contains(UpdateController::skippedBuildKey));
    c->checkNow();
    ASSERT_TRUE(settle(*c));
    ASSERT_EQ(kind(*c), Kind::available);
    c->skipThisVersion();
    EXPECT_EQ(defaults.value(UpdateController::skippedBuildKey).toInt(), 2);
    EXPECT_FALSE(c->phase());
    EXPECT_FALSE(c->window());
}

TEST_F(UpdateControllerTest, InstallSaysBeforeTheDownloadWhyNoUpdateCanBeAccepted) {
    auto c = make();
    c->install(); // nothing offered yet
    EXPECT_FALSE(c->phase());
    const auto refusedBeforeTheDownload = [&](const QString& message) {
        c->dismiss();
        c->checkNow();
        EXPECT_TRUE(settle(*c));
        c->install();
        EXPECT_EQ(kind(*c), Kind::downloading);
        EXPECT_TRUE(test::waitUntil([&] { return kind(*c) == Kind::failed; }));
        EXPECT_EQ(c->phase()->title, "Ostrel couldn't install the update");
        EXPECT_EQ(c->phase()->message, message);
        EXPECT_EQ(server.hits("/Ostrel.zip"), 0);
    };
    // The running copy is unsigned: no update could ever be accepted.
    refusedBeforeTheDownload("This copy of Ostrel isn't a signed release, so it can't update "
                             "itself.");
    maker.signFolder(running);
    const QString unpacker = c->installer().unpacker;
    c->installer().unpacker = tmp.file("no/bsdtar");
    refusedBeforeTheDownload("Updates are unpacked with bsdtar, which isn't installed. Install "
                             "the libarchive-tools package and try again.");
    c->installer().unpacker = unpacker;
    // The folder it would replace cannot be written (nor is any replaced by root).
    ::chmod(QFile::encodeName(tmp.file("apps")).constData(), 0555);
    refusedBeforeTheDownload("Ostrel's folder isn't writable, so an update can't replace it. "
                             "Install Ostrel in a folder of its own, such as ~/.local/opt/ostrel "
                             "(scripts/install does this).");
    ::chmod(QFile::encodeName(tmp.file("apps")).constData(), 0755);
    EXPECT_TRUE(revealed.isEmpty());
    EXPECT_EQ(terminated, 0);
}

// The install script, failing, starts the old copy again and leaves it the reason beside itself.
TEST_F(UpdateControllerTest, ACopyStartedAgainSaysOnceWhyTheUpdateFailed) {
    const QString note = tmp.file("support/Updates/install-failed.txt");
    const auto leave = [&](const QByteArray& text) {
        QDir().mkpath(QFileInfo(note).path());
        test::ReleaseMaker::write(note, text);
    };
    leave("the new copy couldn't be put in place; the old copy was put back\n");
    auto c = make();
    ASSERT_EQ(kind(*c), Kind::failed);
    EXPECT_EQ(c->phase()->title, "Ostrel couldn't install the update");
    EXPECT_EQ(c->phase()->message,
              "The new copy couldn't be put in place; the old copy was put back.");
    ASSERT_TRUE(c->window());
    EXPECT_TRUE(c->window()->isVisible());
    EXPECT_FALSE(QFileInfo::exists(note));
    EXPECT_FALSE(make()->phase());
    // Anything but one printable line of UTF-8 is not shown as it is.
    leave("put back\n\xe2\x80\xae and more\n");
    EXPECT_EQ(make()->phase()->message, "The update wasn't installed.");
}

TEST_F(UpdateControllerTest, ADismissedDownloadIsDropped) {
    maker.signFolder(running);
    auto c = make();
    c->checkNow();
    ASSERT_TRUE(settle(*c));
    server.route("/Ostrel.zip", test::LoopbackServer::trickling(archive, 200));
    c->install();
    EXPECT_EQ(kind(*c), Kind::downloading);
    c->dismiss();
    EXPECT_FALSE(c->phase());
    EXPECT_FALSE(c->isWorking());
    test::pump(2.0);
    EXPECT_FALSE(c->phase());
    EXPECT_FALSE(c->window());
}

// The road a user takes, on the real binary. A signed install folder of build N, run as an
// ordinary user under an X server of its own, finds N+1 on an https feed of its own machine (the
// certificate trusted only in the test's own namespace, whose network holds nothing else),
// installs it on "Install": the old folder goes to the Trash, N+1 starts from the install folder.
// Then the same release copied into a shared prefix beside other files is refused, and nothing in
// the prefix moves.
class UpdateRoad : public ::testing::Test {
protected:
    static constexpr uid_t user = 65534;
    // The private half of the key the feed build trusts.
    static constexpr char releaseKey[] = "hvH4LlEh17QEuPG48umlbpoLwmCLUOu/LV+yPymHBmQ=";

    // An install folder of this build as the install command lays it out, with the binary that
    // knows the test's feed, stripped as the install strips, and signed.
    void layOut(const QString& folder) {
        QProcess install;
        install.setStandardOutputFile(QProcess::nullDevice());
        install.start(OSTREL_CMAKE,
                      {"--install", OSTREL_BUILD_FOLDER, "--prefix", folder, "--strip"});
        ASSERT_TRUE(install.waitForFinished(60000));
        ASSERT_EQ(install.exitCode(), 0);
        QFile::remove(folder + "/bin/ostrel");
        ASSERT_EQ(QProcess::execute(OSTREL_STRIP,
                                    {"-o", folder + "/bin/ostrel", OSTREL_LOCAL_FEED_BINARY}),
                  0);
        sign(folder);
    }
    void sign(const QString& folder) {
        ASSERT_EQ(QProcess::execute(OSTREL_SIGN_RELEASE, {"folder", folder, keyFile}), 0);
    }

    // The processes whose binary is `path`.
    static QList<pid_t> runningFrom(const QString& path) {
        QList<pid_t> found;
        for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t pid = entry.toInt(&number);
            if (number && QFileInfo("/proc/" + entry + "/exe").symLinkTarget() == path) {
                found.append(pid);
            }
        }
        return found;
    }

    static QStringList tree(const QString& folder) {
        QStringList names;
        QDirIterator it(folder,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            names.append(it.next());
        }
        names.sort();
        return names;
    }

    // Preferences of a user who turned automatic checks on.
    void writeDefaults(const QString& configHome) {
        x.home().write(QDir(x.home().path()).relativeFilePath(configHome) + "/Ostrel/defaults.json",
                       R"({"shownWelcome":true,"shownMissingClaudeFolder":true,)"
                       R"("autoCheckUpdates":true})");
    }

    test::TempDir tmp;
    test::XServer x;
    QString keyFile;
};

TEST_F(UpdateRoad, InstallReplacesTheInstallFolderButNeverASharedPrefix) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the application unpacks with a fork from a process with threads";
#endif
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root for namespaces and to start the application as another user";
    }
    const test::MountNamespace space(true);
    if (!space.ok()) {
        GTEST_SKIP() << "no namespace of our own here";
    }
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    keyFile = tmp.write("release.key", releaseKey);

    // A certificate for 127.0.0.1, the only one trusted inside: Qt and OpenSSL read /etc/ssl/certs,
    // the bundle and the hashed names.
    ASSERT_EQ(QProcess::execute("openssl",
                                {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                 "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                                 "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                                 "-keyout", tmp.file("key.pem"), "-out", tmp.file("cert.pem")}),
              0);
    QProcess hash;
    hash.start("openssl", {"x509", "-hash", "-noout", "-in", tmp.file("cert.pem")});
    ASSERT_TRUE(hash.waitForFinished());
    const QByteArray certificate = tmp.read("cert.pem");
    ASSERT_TRUE(space.mountTmpfs("/etc/ssl/certs", "size=64k"));
    for (const QString& name :
         {QString("ca-certificates.crt"), QString::fromLatin1(hash.readAll().trimmed()) + ".0"}) {
        test::ReleaseMaker::write(space.inside("/etc/ssl/certs/" + name), certificate);
    }

    // Build N installed; N+1 the same build with its number raised, signed again and zipped.
    const QString home = x.home().path();
    const QString installed = home + "/apps/Ostrel";
    ASSERT_NO_FATAL_FAILURE(layOut(installed));
    const QJsonObject info =
        QJsonDocument::fromJson(x.home().read("apps/Ostrel/share/ostrel/Info.json")).object();
    const qint64 n = info.value("CFBundleVersion").toString().toLongLong();
    ASSERT_GT(n, 0);
    test::ReleaseMaker maker;
    maker.root = tmp.path();
    maker.key.privateKey = QByteArray::fromBase64(releaseKey);
    QDir().mkpath(tmp.file("next"));
    ASSERT_EQ(QProcess::execute("/bin/cp", {"-a", "--", installed, tmp.file("next/Ostrel")}), 0);
    QJsonObject next = info;
    next.insert("CFBundleVersion", QString::number(n + 1));
    next.insert("CFBundleShortVersionString", "2." + QString::number(n + 1));
    test::ReleaseMaker::write(tmp.file("next/Ostrel/share/ostrel/Info.json"),
                              QJsonDocument(next).toJson());
    ASSERT_NO_FATAL_FAILURE(sign(tmp.file("next/Ostrel")));
    const QByteArray archive = maker.zip(tmp.file("next"), {"Ostrel"});
    ASSERT_FALSE(archive.isEmpty());

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certificate));
    tls.setPrivateKey(QSslKey(tmp.read("key.pem"), QSsl::Ec));
    const int listening = space.listen(443);
    ASSERT_GE(listening, 0);
    test::LoopbackServer server(tls, listening);
    server.route("/Ostrel.zip", test::LoopbackServer::answer(200, archive));
    server.route("/feed", test::LoopbackServer::answer(
                              200, maker.feed(archive, n + 1, "https://127.0.0.1/Ostrel.zip")));

    // The same release copied into a prefix that holds other programs' files.
    const QString prefix = home + "/.local";
    QDir().mkpath(prefix);
    ASSERT_EQ(QProcess::execute("/bin/cp", {"-a", "--", installed + "/.", prefix}), 0);
    x.home().write(".local/bin/other-tool", "#!/bin/sh\n");
    x.home().write(".local/share/other-app/notes.txt", "keep me");

    writeDefaults(home + "/config");
    writeDefaults(home + "/config-prefix");
    ASSERT_EQ(QProcess::execute("/bin/chown", {"-R", QStringLiteral("%1:%1").arg(user), home}), 0);
    x.greeted = false;
    x.launcher = space.launcher(user);
    // A sanitized build reads its suppressions as the user.
    QProcessEnvironment env;
    if (const QString leaks = qEnvironmentVariable("LSAN_OPTIONS");
        leaks.startsWith("suppressions=")) {
        QFile::copy(leaks.mid(13), x.home().file("lsan.supp"));
        ::chmod(QFile::encodeName(x.home().file("lsan.supp")).constData(), 0644);
        env.insert("LSAN_OPTIONS", "suppressions=" + x.home().file("lsan.supp"));
    }

    // Whatever started from the folders is stopped at the end, however the test ends.
    const auto stopCopies = qScopeGuard([&] {
        for (const QString& folder : {installed, prefix}) {
            for (const pid_t pid : runningFrom(folder + "/bin/ostrel")) {
                ::kill(pid, SIGKILL);
            }
        }
    });

    // The automatic check offers N+1; "Install" is the window's default button.
    ASSERT_TRUE(x.startApp(installed + "/bin/ostrel", {}, env));
    const qint64 old = x.appPid();
    quint32 window = 0;
    ASSERT_TRUE(
        test::waitUntil([&] { return (window = windowNamed(x, "Software Update")) != 0; }, 60))
        << x.appLog().toStdString();
    // The hourly check's timer is connected too: Qt logs a connection it refuses.
    EXPECT_FALSE(x.appLog().contains("QObject::connect")) << x.appLog().toStdString();
    x.xdotool({"windowfocus", "--sync", QString::number(window)});
    x.key("Return");
    // The feed is served from this thread: the wait keeps it going.
    ASSERT_TRUE(test::waitUntil([&] { return x.app()->state() == QProcess::NotRunning; }, 60))
        << x.appLog().toStdString();
    EXPECT_EQ(server.hits("/Ostrel.zip"), 1);
    pid_t updated = 0;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const QList<pid_t> pids = runningFrom(installed + "/bin/ostrel");
            updated = pids.size() == 1 && pids.first() != old ? pids.first() : 0;
            return updated != 0;
        },
        30))
        << x.appLog().toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(x.home().read("apps/Ostrel/share/ostrel/Info.json"))
                  .object()
                  .value("CFBundleVersion"),
              QString::number(n + 1));
    const QStringList trashed =
        QDir(home + "/data/Trash/files").entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_TRUE(x.home()
                    .read("data/Trash/files/" + trashed.first() + "/share/ostrel/Info.json")
                    .contains("\"" + QByteArray::number(n) + "\""));
    EXPECT_TRUE(
        x.home()
            .read("data/Trash/info/" + trashed.first() + ".trashinfo")
            .startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(installed, "/") + "\n"));
    // N+1 holds the running copy's claim (its lock names it) and answers a second launch: it
    // brings Settings up. (Launched before N+1 holds the claim, the second would be the running
    // one.)
    ASSERT_TRUE(test::waitUntil(
        [&] {
            return x.home()
                       .read("runtime/ostrel-display-" + x.display().mid(1) + ".lock")
                       .split('\n')
                       .value(0) == QByteArray::number(updated);
        },
        30));
    QProcess again;
    again.setProcessEnvironment(x.environment());
    again.start(x.launcher.first(), x.launcher.mid(1) + QStringList{installed + "/bin/ostrel"});
    EXPECT_TRUE(test::waitUntil([&] { return again.state() == QProcess::NotRunning; }, 30));
    EXPECT_TRUE(test::waitUntil(
        [&] {
            return !x.xdotool({"search", "--onlyvisible", "--pid", QString::number(updated),
                               "--name", "^Settings$"})
                        .trimmed()
                        .isEmpty();
        },
        20));
    ::kill(updated, SIGTERM);
    ASSERT_TRUE(
        test::waitUntil([&] { return runningFrom(installed + "/bin/ostrel").isEmpty(); }, 20));

    // From the prefix: refused before the download, with where to install instead; nothing in
    // the prefix moves.
    const QStringList before = tree(prefix);
    env.insert("XDG_CONFIG_HOME", home + "/config-prefix");
    ASSERT_TRUE(x.startApp(prefix + "/bin/ostrel", {}, env));
    ASSERT_TRUE(
        test::waitUntil([&] { return (window = windowNamed(x, "Software Update")) != 0; }, 60))
        << x.appLog().toStdString();
    x.xdotool({"windowfocus", "--sync", QString::number(window)});
    x.key("Return");
    EXPECT_TRUE(test::waitUntil(
        [&] { return x.appLog().contains("in a folder of its own, such as ~/.local/opt/ostrel"); },
        30))
        << x.appLog().toStdString();
    EXPECT_EQ(server.hits("/Ostrel.zip"), 1);
    EXPECT_EQ(tree(prefix), before);
    EXPECT_EQ(QDir(home + "/data/Trash/files").entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              trashed);
    EXPECT_EQ(x.stopApp(), 0) << x.appLog().toStdString();
}

} // namespace
} // namespace ostrel
