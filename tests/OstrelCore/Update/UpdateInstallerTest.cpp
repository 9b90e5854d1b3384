#include "OstrelCore/Update/UpdateInstaller.h"

#include "LoopbackServer.h"
#include "ReleaseMaker.h"
#include "support/LogCapture.h"
#include "support/RunOnADrive.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {
namespace {

using Kind = UpdateInstaller::Failure::Kind;

template <typename T>
std::optional<UpdateInstaller::Failure> failure(const UpdateInstaller::Result<T>& r) {
    if (const auto* f = std::get_if<UpdateInstaller::Failure>(&r)) {
        return *f;
    }
    return std::nullopt;
}

class UpdateInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        maker.root = tmp.file("material");
        QDir().mkpath(maker.root);
        running = maker.installFolder("running", 1);
        installer.runningFolder = running;
        installer.runningBuild = 1;
        installer.userAgent = UpdateInstaller::makeUserAgent("1.0", "2.36");
        installer.limits.feedDeadlineMs = 1500;
        installer.limits.archiveDeadlineMs = 1500;
        installer.limits.archiveBytes = 256 * 1024;
    }

    UpdateInstaller::Result<UpdateFeed> fetch(const QString& url) {
        std::optional<UpdateInstaller::Result<UpdateFeed>> out;
        installer.fetchFeed(QUrl(url), [&](auto r) { out = std::move(r); });
        EXPECT_TRUE(test::waitUntil([&] { return out.has_value(); }));
        return out.value_or(UpdateInstaller::Failure::of(Kind::badFeed));
    }

    UpdateInstaller::Result<QByteArray> download(const QString& url) {
        UpdateFeed feed;
        feed.url = QUrl(url);
        std::optional<UpdateInstaller::Result<QByteArray>> out;
        installer.download(feed, [&](auto r) { out = std::move(r); });
        EXPECT_TRUE(test::waitUntil([&] { return out.has_value(); }));
        return out.value_or(QByteArray());
    }

    // A release of `build` zipped as a whole install folder, and the feed that names it.
    struct Release {
        QByteArray zip;
        UpdateFeed feed;
    };
    Release release(qint64 build, const QString& name = QStringLiteral("new")) {
        const QString folder = maker.installFolder(name, build);
        return announce(maker.zip(QFileInfo(folder).path(), {"Ostrel"}), build);
    }
    Release announce(const QByteArray& zip, qint64 build) {
        const auto feed =
            UpdateFeed::parse(maker.feed(zip, build, "https://example.org/Ostrel.zip"), false);
        EXPECT_TRUE(feed);
        return {zip, feed.value_or(UpdateFeed())};
    }

    std::optional<UpdateInstaller::Failure> prepare(const Release& r) {
        return failure(installer.prepare(r.zip, r.feed, maker.key.publicKey));
    }

    test::TempDir tmp;
    test::ReleaseMaker maker;
    QString running;
    UpdateInstaller installer{tmp.file("support/Updates"), true};
};

TEST_F(UpdateInstallerTest, FeedAnswersAndHostileServers) {
    test::LoopbackServer server;
    const Release r = release(2);
    server.route("/feed", test::LoopbackServer::answer(
                              200, maker.feed(r.zip, 2, server.url("/Ostrel.zip"))));
    const auto good = fetch(server.url("/feed"));
    ASSERT_FALSE(failure(good));
    EXPECT_EQ(std::get<UpdateFeed>(good).build, 2);
    EXPECT_TRUE(server.lastRequest().contains("User-Agent: Ostrel/1.0 (Linux 2.36)"));

    server.route("/404", test::LoopbackServer::answer(404, "no"));
    server.route("/500", test::LoopbackServer::answer(500, "no"));
    server.route("/junk", test::LoopbackServer::answer(200, "{\"version\":1}"));
    const test::LogCapture log;
    for (const char* path : {"/404", "/500", "/junk"}) {
        EXPECT_EQ(failure(fetch(server.url(path))), UpdateInstaller::Failure::of(Kind::badFeed))
            << path;
    }
    // The log says why, which the window does not.
    EXPECT_EQ(log.matching("/404 failed: HTTP status 404").size(), 1);
    EXPECT_EQ(log.matching("/junk failed: the answer isn't an update feed").size(), 1);
    // A body that never ends is cut at the cap instead of filling memory.
    server.route("/endless", test::LoopbackServer::endlessBody(5));
    EXPECT_EQ(failure(fetch(server.url("/endless"))), UpdateInstaller::Failure::of(Kind::badFeed));

    // One byte now and then never trips the silence timeout; the overall deadline ends it.
    server.route("/trickle", test::LoopbackServer::trickling(QByteArray(100, ' '), 300));
    EXPECT_EQ(failure(fetch(server.url("/trickle"))),
              UpdateInstaller::Failure::network(UpdateInstaller::unreachableText()));

    // A redirect may lead to https only.
    server.route("/moved", test::LoopbackServer::redirect(server.url("/feed")));
    const int before = server.hits("/feed");
    EXPECT_EQ(failure(fetch(server.url("/moved"))),
              UpdateInstaller::Failure::network(UpdateInstaller::unreachableText()));
    EXPECT_EQ(server.hits("/feed"), before);

    QString gone;
    {
        test::LoopbackServer closed;
        gone = closed.url("/feed");
    }
    EXPECT_EQ(failure(fetch(gone)),
              UpdateInstaller::Failure::network(UpdateInstaller::unreachableText()));
    EXPECT_EQ(log.matching("failed: Connection refused").size(), 1);
}

TEST_F(UpdateInstallerTest, DownloadAnswersAndHostileServers) {
    test::LoopbackServer server;
    server.route("/ok", test::LoopbackServer::answer(200, "archive"));
    EXPECT_EQ(std::get<QByteArray>(download(server.url("/ok"))), "archive");

    const auto unavailable = UpdateInstaller::Failure::network(UpdateInstaller::unavailableText());
    const auto unfinished = UpdateInstaller::Failure::network(UpdateInstaller::unfinishedText());
    server.route("/404", test::LoopbackServer::answer(404, "no"));
    EXPECT_EQ(failure(download(server.url("/404"))), unavailable);
    // Declared too large: refused before the body is read.
    server.route("/huge", test::LoopbackServer::answer(200, QByteArray(300 * 1024, 'z')));
    EXPECT_EQ(failure(download(server.url("/huge"))), unavailable);
    server.route("/endless", test::LoopbackServer::endlessBody(5));
    EXPECT_EQ(failure(download(server.url("/endless"))), unavailable);
    server.route("/drop", test::LoopbackServer::droppedHalfway(QByteArray(100 * 1024, 'd')));
    EXPECT_EQ(failure(download(server.url("/drop"))), unfinished);
    server.route("/trickle", test::LoopbackServer::trickling(QByteArray(100, 't'), 300));
    EXPECT_EQ(failure(download(server.url("/trickle"))), unfinished);
}

TEST_F(UpdateInstallerTest, PrepareAcceptsTheAnnouncedBuildSignedByTheSameKey) {
    const Release r = release(2);
    const auto result = installer.prepare(r.zip, r.feed, maker.key.publicKey);
    ASSERT_FALSE(failure(result));
    const QString copy = std::get<QString>(result);
    EXPECT_EQ(copy, installer.stagingFolder(2) + "/Ostrel");
    EXPECT_FALSE(QFile::exists(installer.stagingFolder(2) + "/Ostrel.zip"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(installer.stagingFolder(2)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Preparing again starts from an empty folder.
    test::ReleaseMaker::write(installer.stagingFolder(2) + "/stale", "x");
    ASSERT_FALSE(failure(installer.prepare(r.zip, r.feed, maker.key.publicKey)));
    EXPECT_FALSE(QFile::exists(installer.stagingFolder(2) + "/stale"));

    // A read-me beside the copy is fine.
    const QString folder = QFileInfo(maker.installFolder("withReadme", 3)).path();
    test::ReleaseMaker::write(folder + "/README", "read me");
    EXPECT_FALSE(prepare(announce(maker.zip(folder, {"Ostrel", "README"}), 3)));
}

// The work folder lies in the support folder: nothing is unpacked into, nor cleared from, another
// file system mounted over it.
TEST_F(UpdateInstallerTest, PrepareTouchesNothingInAFolderMountedOverTheRunsOwn) {
    const test::RunOnADrive run;
    if (!run.ok()) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    installer.workDir = run.support() + "/Updates";
    const Release r = release(2);
    ASSERT_TRUE(run.mount());
    ASSERT_TRUE(run.write("Updates/staging-2/kept", "the drive's"));
    EXPECT_EQ(prepare(r), UpdateInstaller::Failure::of(Kind::unpack));
    EXPECT_EQ(QDir(run.support() + "/Updates/staging-2").entryList(QDir::Files),
              QStringList{"kept"});
    ASSERT_TRUE(run.unmount());
    EXPECT_FALSE(prepare(r));
}

TEST_F(UpdateInstallerTest, PrepareRefusesTamperedArchivesBeforeTouchingTheDisk) {
    Release r = release(2);
    r.zip[r.zip.size() / 2] = char(r.zip[r.zip.size() / 2] ^ 0x01);
    EXPECT_EQ(prepare(r), UpdateInstaller::Failure::of(Kind::verification));
    EXPECT_FALSE(QFileInfo::exists(installer.workDir));

    // Digest of one archive, signature of another.
    const Release other = release(3, "other");
    Release mixed = release(2);
    mixed.feed.signature = other.feed.signature;
    EXPECT_EQ(prepare(mixed), UpdateInstaller::Failure::of(Kind::verification));
    EXPECT_FALSE(QFileInfo::exists(installer.workDir));
}

TEST_F(UpdateInstallerTest, PrepareRefusesRollbackToAnOlderSignedBuild) {
    // An old release, validly signed, announced under a newer build number.
    const QString folder = QFileInfo(maker.installFolder("old", 1)).path();
    const QByteArray zip = maker.zip(folder, {"Ostrel"});
    EXPECT_EQ(prepare(announce(zip, 5)), UpdateInstaller::Failure::of(Kind::verification));
    // Announced truthfully it is still no newer than the running build.
    EXPECT_EQ(prepare(announce(zip, 1)), UpdateInstaller::Failure::of(Kind::verification));
}

TEST_F(UpdateInstallerTest, PrepareRefusesArchivesThatDoNotHoldExactlyOneCopy) {
    const QString escaped = installer.workDir + "/escaped";
    const auto unpack = UpdateInstaller::Failure::of(Kind::unpack);

    // "../" entries.
    {
        const QString folder = QFileInfo(maker.installFolder("dots", 2)).path();
        test::ReleaseMaker::write(folder + "/escaped", "out");
        const QString zipPath = maker.root + "/dots.zip";
        QProcess tar;
        tar.setWorkingDirectory(folder);
        tar.start("/usr/bin/bsdtar", {"-c", "--format", "zip", "-f", zipPath, "-s",
                                      ",^escaped,../escaped,", "Ostrel", "escaped"});
        tar.waitForFinished();
        QFile file(zipPath);
        file.open(QIODevice::ReadOnly);
        EXPECT_EQ(prepare(announce(file.readAll(), 2)), unpack);
        EXPECT_FALSE(QFileInfo::exists(escaped));
    }
    // Two copies.
    {
        const QString folder = maker.root + "/two";
        maker.installFolder("two", 2);
        QDir().rename(folder + "/Ostrel", folder + "/A");
        maker.installFolder("two", 2);
        EXPECT_EQ(prepare(announce(maker.zip(folder, {"A", "Ostrel"}), 2)), unpack);
    }
    // A copy in a sub-folder.
    {
        const QString folder = maker.root + "/nested";
        maker.installFolder("nested/inner", 2);
        EXPECT_EQ(prepare(announce(maker.zip(folder, {"inner"}), 2)), unpack);
    }
    // A link at the top, beside a real copy.
    {
        const QString folder = QFileInfo(maker.installFolder("toplink", 2)).path();
        QFile::link("/etc", folder + "/etc");
        EXPECT_EQ(prepare(announce(maker.zip(folder, {"Ostrel", "etc"}), 2)), unpack);
    }
    // An entry with the archive's own name.
    {
        const QString folder = QFileInfo(maker.installFolder("selfname", 2)).path();
        test::ReleaseMaker::write(folder + "/Ostrel.zip", "x");
        EXPECT_EQ(prepare(announce(maker.zip(folder, {"Ostrel", "Ostrel.zip"}), 2)), unpack);
    }
    // Not a zip at all.
    EXPECT_EQ(prepare(announce("plainly not an archive", 2)), unpack);
}

// An entry named like the archive would be unpacked over it (bsdtar refuses that too) and escape
// the unpacking bounds, which leave the archive out: the listing alone already refuses it.
TEST(UpdateInstallerListing, AnEntryNamedLikeTheArchiveIsRefused) {
    for (const char* entry : {"Ostrel.zip", "./Ostrel.zip", "Ostrel.zip/", "Ostrel.zip/inner"}) {
        EXPECT_FALSE(UpdateInstaller::listingIsSafe(QByteArray("Ostrel/\n") + entry + "\n"))
            << entry;
    }
    EXPECT_TRUE(UpdateInstaller::listingIsSafe("Ostrel/\nOstrel/Ostrel.zip\nOstrel.zip.txt\n"));
}

TEST_F(UpdateInstallerTest, PrepareUnpacksWithinBoundsAndLeavesNothingOfAFailure) {
    installer.limits.unpackBytes = 4 << 20;
    installer.limits.unpackEntries = 40;
    const auto signedRelease = [&](const QString& name, qint64 build,
                                   const std::function<void(const QString&)>& fill) {
        const QString folder = maker.installFolder(name, build, {}, false);
        fill(folder);
        maker.signFolder(folder);
        return announce(maker.zip(QFileInfo(folder).path(), {"Ostrel"}), build);
    };
    // A signed copy that would unpack to 64 MB from an archive of about 64 KB.
    const Release bomb = signedRelease("bomb", 2, [](const QString& folder) {
        test::ReleaseMaker::write(folder + "/lib/zeros", QByteArray(64 << 20, '\0'));
    });
    ASSERT_LT(bomb.zip.size(), 1 << 20);
    EXPECT_EQ(prepare(bomb), UpdateInstaller::Failure::of(Kind::unpack));
    EXPECT_FALSE(QFileInfo::exists(installer.stagingFolder(2)));
    // Too many entries, each small.
    const Release crowd = signedRelease("crowd", 3, [](const QString& folder) {
        for (int i = 0; i < 50; ++i) {
            test::ReleaseMaker::write(folder + QStringLiteral("/lib/part-%1").arg(i), "x");
        }
    });
    EXPECT_EQ(prepare(crowd), UpdateInstaller::Failure::of(Kind::unpack));
    EXPECT_FALSE(QFileInfo::exists(installer.stagingFolder(3)));
    // A copy unpacked but refused later goes too.
    EXPECT_EQ(
        prepare(announce(
            maker.zip(QFileInfo(maker.installFolder("unsigned", 4, {}, false)).path(), {"Ostrel"}),
            4)),
        UpdateInstaller::Failure::of(Kind::notSigned));
    EXPECT_FALSE(QFileInfo::exists(installer.stagingFolder(4)));
}

TEST_F(UpdateInstallerTest, PrepareNeverFollowsAPlantedStagingLink) {
    const QString outside = tmp.file("outside");
    QDir().mkpath(outside);
    test::ReleaseMaker::write(outside + "/keep", "precious");
    QDir().mkpath(installer.workDir);
    ::chmod(QFile::encodeName(installer.workDir).constData(), 0700);
    QFile::link(outside, installer.stagingFolder(2));

    ASSERT_FALSE(prepare(release(2)));
    EXPECT_EQ(tmp.read("outside/keep"), "precious");
    EXPECT_EQ(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"keep"});
    EXPECT_FALSE(QFileInfo(installer.stagingFolder(2)).isSymLink());
}

TEST_F(UpdateInstallerTest, PrepareChecksTheCopysSignature) {
    const auto zipOf = [&](const QString& name, const std::function<void(const QString&)>& change) {
        const QString folder = maker.installFolder(name, 2);
        change(folder);
        return announce(maker.zip(QFileInfo(folder).path(), {"Ostrel"}), 2);
    };
    const auto notSigned = UpdateInstaller::Failure::of(Kind::notSigned);
    EXPECT_EQ(prepare(zipOf("changed",
                            [](const QString& f) {
                                test::ReleaseMaker::write(f + "/lib/libostrel.so.1", "patched");
                            })),
              notSigned);
    EXPECT_EQ(prepare(zipOf("unlisted",
                            [](const QString& f) {
                                test::ReleaseMaker::write(f + "/bin/extra", "#!/bin/sh\n");
                            })),
              notSigned);
    EXPECT_EQ(prepare(zipOf("linked",
                            [&](const QString& f) {
                                QFile::remove(f + "/lib/libostrel.so");
                                QFile::link("../../../../etc/passwd", f + "/lib/libostrel.so");
                            })),
              notSigned);
    EXPECT_EQ(prepare(zipOf(
                  "unsigned",
                  [](const QString& f) { QFile::remove(f + "/share/ostrel/CodeSignature.json"); })),
              notSigned);
    EXPECT_EQ(prepare(zipOf(
                  "stranger",
                  [&](const QString& f) { maker.signFolder(f, Ed25519::generate().privateKey); })),
              UpdateInstaller::Failure::of(Kind::differentTeam));
}

} // namespace
} // namespace ostrel
