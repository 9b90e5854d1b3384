#include "Ostrel/Update/UpdateController.h"
#include "Ostrel/Update/UpdateWindow.h"
#include "Platform/UserDefaults.h"

#include "OstrelCore/Update/LoopbackServer.h"
#include "OstrelCore/Update/ReleaseMaker.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

} // namespace
} // namespace ostrel
