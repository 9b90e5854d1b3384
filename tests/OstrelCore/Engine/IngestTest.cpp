#include "IngestTestSupport.h"

#include "Platform/FileStat.h"
#include "support/FileSizeLimit.h"
#include "support/HostilePictures.h"

#include <QImageReader>
#include <QSet>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::test;

using IngestTest = IngestFixture;

namespace {

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST_F(IngestTest, ActivityTracker) {
    ActivityTracker tracker;
    EXPECT_FALSE(tracker.mostRecent());
    EXPECT_FALSE(tracker.activeSession(Date(0), 60));
    tracker.touch("unsorted", Date(500));
    EXPECT_FALSE(tracker.mostRecent());
    tracker.touch("b", Date(100));
    tracker.touch("a", Date(100));
    EXPECT_EQ(tracker.mostRecent(), QString("a")); // equal dates: the first in iteration order
    tracker.touch("b", Date(150));
    tracker.touch("b", Date(120)); // never moves back
    EXPECT_EQ(tracker.lastActive.at("b"), Date(150));
    EXPECT_EQ(tracker.mostRecent(), QString("b"));
    EXPECT_EQ(tracker.activeSession(Date(210), 60), QString("b"));
    EXPECT_FALSE(tracker.activeSession(Date(210.5), 60));
    EXPECT_EQ(tracker.activeSession(Date(0), 60), QString("b")); // a future date is inside
    EXPECT_EQ(Ingest::retentionCutoff(2, Date(200000)), Date(200000 - 2 * 86400));
}

TEST_F(IngestTest, AScratchpadPngBecomesAnItem) {
    const QByteArray png = TestImages::png(640, 320);
    const QString path = writeFile("shot.png", png);
    const auto outcome = ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 5));
    ASSERT_EQ(outcome, added(digest(png)));
    const ShelfItem it = item(digest(png));
    EXPECT_EQ(it.id.size(), 64);
    EXPECT_EQ(it.kind, ShelfItemKind::image);
    EXPECT_EQ(it.title, "shot.png");
    EXPECT_EQ(it.sourcePath, path);
    EXPECT_EQ(it.sessionID, "s1");
    EXPECT_FALSE(it.promptID);
    EXPECT_EQ(it.sourceKinds, Sources{Source::scratchpad});
    EXPECT_EQ(it.createdAt, Date(launch + 5));
    EXPECT_FALSE(it.seenAt);
    EXPECT_EQ(it.width, 640);
    EXPECT_EQ(it.height, 320);
    EXPECT_FALSE(it.captureID);
    EXPECT_FALSE(it.remoteURL);
    ASSERT_TRUE(it.fileURL);
    EXPECT_EQ(it.fileURL->toLocalFile(), store->itemsDir() + "/" + digest(png) + ".png");
    EXPECT_EQ(readAll(it.fileURL->toLocalFile()), png);
    EXPECT_EQ(modeOf(it.fileURL->toLocalFile()), 0600u);
    const QString thumb = store->thumbURL(it.id).toLocalFile();
    EXPECT_EQ(QImageReader(thumb).size(), QSize(360, 180));
    EXPECT_EQ(modeOf(thumb), 0600u);
    // The session was made and noted.
    ASSERT_TRUE(store->sessions().contains("s1"));
    const Session s = store->sessions().value("s1");
    EXPECT_EQ(s.slug, QString("-u-proj"));
    EXPECT_EQ(s.startedAt, Date(launch + 5));
    EXPECT_EQ(s.lastActive, Date(launch + 5));
    EXPECT_EQ(ingest->activity.lastActive.at("s1"), Date(launch + 5));
    // The user's file is untouched.
    EXPECT_EQ(readAll(path), png);
}

TEST_F(IngestTest, EveryKindTheShelfTakes) {
    struct Case {
        QString name;
        QByteArray bytes;
        ShelfItemKind kind;
        std::optional<QSize> size;
        bool thumb;
    };
    QList<Case> cases = {
        {"a.jpg", TestImages::jpeg(400, 300, 6), ShelfItemKind::image, QSize(300, 400), true},
        {"b.JPEG", TestImages::jpeg(64, 48), ShelfItemKind::image, QSize(64, 48), true},
        {"c.gif", TestImages::gif(50, 40), ShelfItemKind::image, QSize(50, 40), true},
        {"d.webp", TestImages::webp(90, 45), ShelfItemKind::image, QSize(90, 45), true},
        {"e.svg", TestImages::svg(10, 10), ShelfItemKind::image, std::nullopt, false},
        {"f.pdf", QByteArray("%PDF-1.4\n") + TestImages::junk(3000, 3), ShelfItemKind::pdf,
         std::nullopt, false},
        {"g.html", QByteArray("<html><title>x</title>") + QByteArray(600, ' ') + "</html>",
         ShelfItemKind::html, std::nullopt, false},
        {"h.docx", TestImages::junk(900, 4), ShelfItemKind::document, std::nullopt, false},
        {"i.mp4", TestImages::junk(5000, 5), ShelfItemKind::video, std::nullopt, false},
        {"j.flac", TestImages::junk(700, 6), ShelfItemKind::audio, std::nullopt, false},
    };
    if (const auto heic = TestImages::heic(120, 80)) {
        cases.append({"k.heic", *heic, ShelfItemKind::image, QSize(120, 80), true});
    } else {
        ADD_FAILURE() << "libheif has no HEVC encoder here: HEIC untested";
    }
    double t = launch + 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = writeFile(c.name, c.bytes);
        const auto outcome = ingest->ingest(fileCandidate(path, Source::folder, "s1", t += 1));
        ASSERT_EQ(outcome, added(digest(c.bytes)));
        const ShelfItem it = item(outcome.text);
        EXPECT_EQ(it.kind, c.kind);
        EXPECT_EQ(it.title, c.name);
        if (c.size) {
            EXPECT_EQ(it.width, c.size->width());
            EXPECT_EQ(it.height, c.size->height());
        } else {
            EXPECT_FALSE(it.width);
            EXPECT_FALSE(it.height);
        }
        EXPECT_EQ(FileStat::exists(store->thumbURL(it.id).toLocalFile()), c.thumb);
        EXPECT_EQ(readAll(it.fileURL->toLocalFile()), c.bytes);
        EXPECT_TRUE(it.fileURL->toLocalFile().endsWith("." + c.name.section('.', -1).toLower()));
    }
    // Nothing half-copied stays behind in the items folder.
    for (const QString& name : itemFiles()) {
        EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
    }
}

TEST_F(IngestTest, ExtraExtensionsAreFiles) {
    ingest->filter.extraExtensions = {"log"};
    const QByteArray bytes = TestImages::junk(800);
    const QString path = writeFile("run.LOG", bytes);
    const auto outcome = ingest->ingest(fileCandidate(path, Source::folder, "s1", launch + 1));
    ASSERT_EQ(outcome, added(digest(bytes)));
    EXPECT_EQ(item(outcome.text).kind, ShelfItemKind::file);
    ingest->filter.extraExtensions.clear();
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("b.log", TestImages::junk(900, 2)),
                                           Source::folder, "s1", launch + 1)),
              rejected("not a file type the shelf shows"));
}

TEST_F(IngestTest, ACaptureWithoutSessionGoesToTheMostRecentOne) {
    const QByteArray a = TestImages::png(40, 40, 1);
    auto c = fileCandidate(writeFile("a.png", a), Source::folder, std::nullopt, launch + 1);
    // Empty tracker: "unsorted", and the store then holds that session.
    ASSERT_EQ(ingest->ingest(c), added(digest(a)));
    EXPECT_EQ(item(digest(a)).sessionID, "unsorted");
    EXPECT_TRUE(store->sessions().contains("unsorted"));
    EXPECT_TRUE(ingest->activity.lastActive.empty());
    // A session seen two hours ago still takes it.
    ingest->activity.touch("old", Date(launch - 7200));
    clock = Date(launch + 10);
    const QByteArray b = TestImages::png(40, 40, 2);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("b.png", b), Source::folder, std::nullopt, launch + 10)),
              added(digest(b)));
    EXPECT_EQ(item(digest(b)).sessionID, "old");
}

TEST_F(IngestTest, TheSameBytesFromTwoRoadsMerge) {
    const QByteArray png = TestImages::png(80, 80);
    const QString first = writeFile("scratch/shot.png", png);
    const QString second = writeFile("watched/copy.png", png);
    ASSERT_EQ(ingest->ingest(fileCandidate(first, Source::scratchpad, "s1", launch + 50)),
              added(digest(png)));
    ASSERT_EQ(ingest->ingest(fileCandidate(second, Source::folder, "s1", launch + 20)),
              merged(digest(png)));
    const ShelfItem it = item(digest(png));
    EXPECT_EQ(it.sourceKinds, (Sources{Source::scratchpad, Source::folder}));
    EXPECT_EQ(it.sourcePath, first);
    EXPECT_EQ(it.createdAt, Date(launch + 20));
    EXPECT_EQ(it.title, "shot.png");
    EXPECT_EQ(store->items().size(), 1);
}

TEST_F(IngestTest, TheSameBytesTwiceFromOneSource) {
    const QByteArray png = TestImages::png(80, 80);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("a.png", png), Source::scratchpad, "s1", launch + 1)),
              added(digest(png)));
    const QStringList before = itemFiles();
    EXPECT_EQ(ingest->ingest(
                  fileCandidate(writeFile("b.png", png), Source::scratchpad, "s2", launch + 2)),
              merged(digest(png)));
    EXPECT_EQ(itemFiles(), before);
    EXPECT_EQ(store->items().size(), 1);
}

TEST_F(IngestTest, AFileFoundAgainToHoldItsItemsBytesIsNotedWithItsDate) {
    const QByteArray png = TestImages::png(80, 80);
    const QString path = writeFile("scratch/shot.png", png);
    const QString copy = writeFile("scratch/copy.png", png);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 10)),
              added(digest(png)));
    // Touched (a new date, the same bytes), and a second file of them: a start after this one
    // reads neither again.
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 40)),
              merged(digest(png)));
    ASSERT_EQ(ingest->ingest(fileCandidate(copy, Source::scratchpad, "s1", launch + 60)),
              merged(digest(png)));
    EXPECT_TRUE(store->hasIngested(path, Date(launch + 40)));
    EXPECT_TRUE(store->hasIngested(copy, Date(launch + 60)));
    EXPECT_FALSE(store->hasIngested(path, Date(launch + 41)));
    // A transcript image read from a file carries the transcript's time, not the file's.
    ASSERT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 90, path)), merged(digest(png)));
    EXPECT_FALSE(store->hasIngested(path, Date(launch + 90)));
}

TEST_F(IngestTest, TranscriptImages) {
    const QByteArray read = TestImages::png(60, 60, 11);
    const QString readPath = writeFile("read/seen.png", read);
    const QByteArray inline1 = TestImages::png(60, 60, 12);
    // A readable "Read" file stands in for the inline bytes.
    auto outcome = ingest->ingest(imageBlock(inline1, "s1", launch + 1, readPath));
    ASSERT_EQ(outcome, added(digest(read)));
    EXPECT_EQ(item(outcome.text).title, "seen.png");
    EXPECT_EQ(item(outcome.text).sourcePath, readPath);
    EXPECT_EQ(item(outcome.text).promptID, QString("p1"));
    EXPECT_EQ(item(outcome.text).sourceKinds, Sources{Source::transcript});
    // A missing "Read" file: the inline bytes.
    outcome = ingest->ingest(imageBlock(inline1, "s1", launch + 2, dir.file("work/gone.png")));
    ASSERT_EQ(outcome, added(digest(inline1)));
    EXPECT_EQ(outcome.text.size(), 64);
    EXPECT_EQ(item(outcome.text).title, "Screenshot.png");
    EXPECT_FALSE(item(outcome.text).sourcePath);
    EXPECT_FALSE(item(outcome.text).captureID);
    // A capture id without a read path: the composite id.
    const QByteArray inline2 = TestImages::png(60, 60, 13);
    outcome = ingest->ingest(imageBlock(inline2, "s1", launch + 3, std::nullopt, "toolu_1#0"));
    ASSERT_EQ(outcome, added(composite(inline2, "toolu_1#0")));
    EXPECT_EQ(outcome.text.size(), 81);
    EXPECT_EQ(item(outcome.text).captureID, QString("toolu_1#0"));
    EXPECT_EQ(item(outcome.text).title, "Screenshot.png");
    // The copy's file name is made safe from the id.
    EXPECT_TRUE(FileStat::exists(item(outcome.text).fileURL->toLocalFile()));
}

TEST_F(IngestTest, AReadPathThatIsALinkIsNotFollowed) {
    const QByteArray secret = TestImages::png(60, 60, 21);
    const QString target = writeFile("private/secret.png", secret);
    const QString link = dir.file("work/link.png");
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()),
              0);
    const QByteArray inlineBytes = TestImages::png(60, 60, 22);
    const auto outcome = ingest->ingest(imageBlock(inlineBytes, "s1", launch + 1, link));
    EXPECT_EQ(outcome, added(digest(inlineBytes)));
    EXPECT_TRUE(store->itemsWithContent(digest(secret)).isEmpty());
}

TEST_F(IngestTest, ATranscriptImageJoinsTheFileItWasMadeFrom) {
    const QByteArray png = TestImages::png(100, 100);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("shot.png", png), Source::scratchpad, "s1", launch + 10)),
              added(digest(png)));
    // 90 seconds later: joins, gaining the source and the capture id.
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 100, std::nullopt, "toolu_9#0")),
              merged(digest(png)));
    const ShelfItem it = item(digest(png));
    EXPECT_EQ(it.sourceKinds, (Sources{Source::scratchpad, Source::transcript}));
    EXPECT_EQ(it.captureID, QString("toolu_9#0"));
    EXPECT_EQ(it.promptID, QString("p1")); // the candidate brought the prompt the item lacked
}

TEST_F(IngestTest, ATranscriptImageTooLateBecomesItsOwnItem) {
    const QByteArray png = TestImages::png(100, 100);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("shot.png", png), Source::scratchpad, "s1", launch + 10)),
              added(digest(png)));
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 160, std::nullopt, "toolu_9#0")),
              added(composite(png, "toolu_9#0")));
    EXPECT_EQ(store->items().size(), 2);
    // Exactly the window's edge (120 s) is outside it too.
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 130, std::nullopt, "toolu_8#0")),
              added(composite(png, "toolu_8#0")));
}

TEST_F(IngestTest, ATranscriptImageWithoutCaptureIDJoinsByContent) {
    const QByteArray png = TestImages::png(100, 100);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("shot.png", png), Source::scratchpad, "s1", launch + 10)),
              added(digest(png)));
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 5000)), merged(digest(png)));
}

TEST_F(IngestTest, EqualBlocksWithDifferentCaptureIDsStayApart) {
    const QByteArray png = TestImages::png(100, 100);
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 1, std::nullopt, "toolu_1#0")),
              added(composite(png, "toolu_1#0")));
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 2, std::nullopt, "toolu_2#0")),
              added(composite(png, "toolu_2#0")));
    // The same block again merges into its own item.
    EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch + 3, std::nullopt, "toolu_1#0")),
              merged(composite(png, "toolu_1#0")));
    EXPECT_EQ(store->items().size(), 2);
}

TEST_F(IngestTest, AnEditedFileReplacesItsEarlierVersionInTheSameSession) {
    const QByteArray v1 = TestImages::png(50, 50, 1);
    const QByteArray v2 = TestImages::png(50, 50, 2);
    const QString path = writeFile("plot.png", v1);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 1)),
              added(digest(v1)));
    const QString oldCopy = item(digest(v1)).fileURL->toLocalFile();
    const QString oldThumb = store->thumbURL(digest(v1)).toLocalFile();
    ASSERT_TRUE(FileStat::exists(oldThumb));
    dir.write("work/plot.png", v2);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 2)),
              added(digest(v2)));
    EXPECT_FALSE(store->items().contains(digest(v1)));
    store->flush(); // removed files go once an index without them is written
    EXPECT_FALSE(FileStat::exists(oldCopy));
    EXPECT_FALSE(FileStat::exists(oldThumb));
    EXPECT_EQ(readAll(path), v2); // the user's file stays
    // In another session both stay.
    const QByteArray v3 = TestImages::png(50, 50, 3);
    dir.write("work/plot.png", v3);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s2", launch + 3)),
              added(digest(v3)));
    EXPECT_TRUE(store->items().contains(digest(v2)));
    EXPECT_EQ(store->items().size(), 2);
}

TEST_F(IngestTest, HtmlAndPublishedArtifacts) {
    const QByteArray page = QByteArray("<html><head><title>Report</title></head><body>") +
                            QByteArray(700, 'x') + "</body></html>";
    const QString path = writeFile("report.html", page);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 1)),
              added(digest(page)));
    // Publishing the page removes its HTML items, whatever their session, and titles it.
    auto outcome = ingest->ingest(artifactCandidate("abc", std::nullopt, path, "s2", launch + 2));
    ASSERT_EQ(outcome, added("artifact:abc"));
    EXPECT_FALSE(store->items().contains(digest(page)));
    ShelfItem art = item("artifact:abc");
    EXPECT_EQ(art.kind, ShelfItemKind::artifact);
    EXPECT_EQ(art.title, "Report");
    EXPECT_EQ(art.sourcePath, path);
    EXPECT_FALSE(art.fileURL);
    EXPECT_EQ(art.remoteURL, QUrl("https://claude.ai/public/artifacts/abc"));
    EXPECT_EQ(art.sessionID, "s2");
    EXPECT_EQ(art.promptID, QString("p1"));
    EXPECT_EQ(art.sourceKinds, Sources{Source::transcript});
    EXPECT_FALSE(art.width);
    // The page seen again is the artifact.
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 3)),
              merged("artifact:abc"));
    // Re-publishing keeps the title when the new one is absent, and takes a new one.
    EXPECT_EQ(
        ingest->ingest(artifactCandidate("abc", std::nullopt, std::nullopt, "s2", launch + 4)),
        Ingest::Outcome::updated("artifact:abc"));
    EXPECT_EQ(item("artifact:abc").title, "Report");
    EXPECT_EQ(item("artifact:abc").sourcePath, path);
    EXPECT_EQ(ingest->ingest(artifactCandidate("abc", "Final", std::nullopt, "s2", launch + 5)),
              Ingest::Outcome::updated("artifact:abc"));
    EXPECT_EQ(item("artifact:abc").title, "Final");
}

TEST_F(IngestTest, ArtifactTitles) {
    EXPECT_EQ(ingest->ingest(artifactCandidate("a1", std::nullopt, std::nullopt, "s1", launch)),
              added("artifact:a1"));
    EXPECT_EQ(item("artifact:a1").title, "Artifact");
    EXPECT_FALSE(item("artifact:a1").sourcePath);
    const QString untitled = writeFile("plain.html", QByteArray(600, 'x'));
    EXPECT_EQ(ingest->ingest(artifactCandidate("a2", std::nullopt, untitled, "s1", launch)),
              added("artifact:a2"));
    EXPECT_EQ(item("artifact:a2").title, "plain.html");
    EXPECT_EQ(ingest->ingest(artifactCandidate("a3", "Given", untitled, "s1", launch)),
              added("artifact:a3"));
    EXPECT_EQ(item("artifact:a3").title, "Given");
    // An artifact id that would climb out of a folder is still only an id.
    EXPECT_EQ(
        ingest->ingest(artifactCandidate("../../x", std::nullopt, std::nullopt, "s1", launch)),
        added("artifact:../../x"));
}

TEST_F(IngestTest, HtmlTitle) {
    const QString page = writeFile(
        "t.html", "<!doctype html><html><head><TITLE lang=\"en\">\n  Sales  &amp; costs \t</TITLE>"
                  "</head><body><title>second</title></body></html>");
    EXPECT_EQ(Ingest::htmlTitle(page), QString("Sales  &amp; costs"));
    EXPECT_FALSE(Ingest::htmlTitle(writeFile("n.html", "<html><title>  </title></html>")));
    EXPECT_FALSE(Ingest::htmlTitle(writeFile("m.html", "<html>no title</html>")));
    EXPECT_FALSE(Ingest::htmlTitle(dir.file("work/missing.html")));
    // Only the first 16384 bytes are read.
    EXPECT_FALSE(
        Ingest::htmlTitle(writeFile("late.html", QByteArray(16384, ' ') + "<title>late</title>")));
    EXPECT_EQ(Ingest::htmlTitle(writeFile("bad.html", QByteArray("<title>a\xff"
                                                                 "b</title>"))),
              QString::fromUtf8("a\xef\xbf\xbd"
                                "b"));
}

TEST_F(IngestTest, HiddenAndDeleted) {
    const QByteArray png = TestImages::png(70, 70);
    const QString path = writeFile("h.png", png);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 1)),
              added(digest(png)));
    store->hide(digest(png));
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::folder, "s1", launch + 2)),
              rejected("hidden from the shelf"));
    ASSERT_TRUE(store->unhide(digest(png)));
    clock = Date(launch + 100);
    ASSERT_EQ(store->deleteItems({digest(png)}), 1);
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 50)),
              rejected("deleted"));
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 150)),
              added(digest(png)));
    // A hidden artifact, a deleted artifact.
    store->hide("artifact:h");
    EXPECT_EQ(ingest->ingest(artifactCandidate("h", "t", std::nullopt, "s1", launch + 150)),
              rejected("hidden from the shelf"));
}

TEST_F(IngestTest, AnHtmlPageWhosePathIsHiddenStaysHidden) {
    const QByteArray v1 = QByteArray("<title>a</title>") + QByteArray(600, '1');
    const QString path = writeFile("p.html", v1);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 1)),
              added(digest(v1)));
    store->hide(digest(v1));
    dir.write("work/p.html", QByteArray("<title>a</title>") + QByteArray(600, '2'));
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 2)),
              rejected("hidden from the shelf"));
}

TEST_F(IngestTest, SvgHasNoSizeAndNoThumbnail) {
    const QByteArray svg = TestImages::svg(20, 20);
    ASSERT_GE(svg.size(), 512);
    const auto outcome = ingest->ingest(
        fileCandidate(writeFile("v.svg", svg), Source::scratchpad, "s1", launch + 1));
    ASSERT_EQ(outcome, added(digest(svg)));
    EXPECT_FALSE(item(outcome.text).width);
    EXPECT_FALSE(FileStat::exists(store->thumbURL(outcome.text).toLocalFile()));
}

TEST_F(IngestTest, WhatPredatesThePreviousRunArrivesSeen) {
    // First run: before the launch.
    const QByteArray a = TestImages::png(40, 40, 1);
    ASSERT_EQ(
        ingest->ingest(fileCandidate(writeFile("a.png", a), Source::folder, "s1", launch - 1)),
        added(digest(a)));
    EXPECT_EQ(item(digest(a)).seenAt, Date(launch - 1));
    // A later run: before the previous run's last write.
    clock = Date(launch + 500);
    store->flush();
    clock = Date(launch + 1000);
    store = Store::make(QUrl::fromLocalFile(dir.file("support")), [this] { return clock; });
    ingest = std::make_unique<Ingest>(store, 30, [this] { return clock; });
    ASSERT_FALSE(store->isFirstRun());
    ASSERT_EQ(store->previousRunAt(), Date(launch + 500));
    const QByteArray b = TestImages::png(40, 40, 2);
    ASSERT_EQ(
        ingest->ingest(fileCandidate(writeFile("b.png", b), Source::folder, "s1", launch + 400)),
        added(digest(b)));
    EXPECT_EQ(item(digest(b)).seenAt, Date(launch + 400));
    const QByteArray c = TestImages::png(40, 40, 3);
    ASSERT_EQ(
        ingest->ingest(fileCandidate(writeFile("c.png", c), Source::folder, "s1", launch + 600)),
        added(digest(c)));
    EXPECT_FALSE(item(digest(c)).seenAt);
}

TEST_F(IngestTest, MergesMoveUnsortedItemsAndTakePrompts) {
    const QByteArray png = TestImages::png(40, 40);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("u.png", png), Source::folder, std::nullopt, launch + 1)),
              added(digest(png)));
    ASSERT_EQ(item(digest(png)).sessionID, "unsorted");
    // With a session and no prompt: an unsorted item moves.
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(writeFile("v.png", png), Source::scratchpad, "s7", launch + 2)),
              merged(digest(png)));
    EXPECT_EQ(item(digest(png)).sessionID, "s7");
    EXPECT_FALSE(item(digest(png)).promptID);
    // With a prompt the item lacks: both change.
    ASSERT_EQ(ingest->ingest(imageBlock(png, "s8", launch + 3)), merged(digest(png)));
    EXPECT_EQ(item(digest(png)).sessionID, "s8");
    EXPECT_EQ(item(digest(png)).promptID, QString("p1"));
    // A filed item with a prompt stays where it is.
    auto again = imageBlock(png, "s9", launch + 4);
    again.promptID = "p2";
    ASSERT_EQ(ingest->ingest(again), merged(digest(png)));
    EXPECT_EQ(item(digest(png)).sessionID, "s8");
    EXPECT_EQ(item(digest(png)).promptID, QString("p1"));
    // Merges touch no session.
    EXPECT_FALSE(store->sessions().contains("s8"));
}

TEST_F(IngestTest, FilterReasonsPassThrough) {
    // Too small, not a kind, turned off, too old, ignored, inside the project folder.
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("tiny.png", TestImages::png(20, 60)),
                                           Source::scratchpad, "s1", launch)),
              rejected("smaller than 32 px"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("a.xyz", TestImages::junk(900)),
                                           Source::scratchpad, "s1", launch)),
              rejected("not a file type the shelf shows"));
    ingest->filter.kinds.erase(ShelfItemKind::video);
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("a.mp4", TestImages::junk(900)),
                                           Source::scratchpad, "s1", launch)),
              rejected("video is turned off in Settings"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("old.png", TestImages::png(40, 40, 5)),
                                           Source::scratchpad, "s1", launch - 31 * 86400)),
              rejected("older than retention"));
    ingest->filter.ignoreGlobs = {"*/skip/*"};
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("skip/a.png", TestImages::png(40, 40, 6)),
                                           Source::scratchpad, "s1", launch)),
              rejected("matches OSTREL_IGNORE_GLOBS */skip/*"));
    Session s("s1", QString("-u-proj"), dir.file("work/proj"), std::nullopt, Date(launch),
              Date(launch));
    store->upsert(s);
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("proj/a.png", TestImages::png(40, 40, 7)),
                                           Source::scratchpad, "s1", launch)),
              rejected("inside the session's project folder"));
    EXPECT_EQ(
        ingest->ingest(fileCandidate(dir.file("work/proj/a.png"), Source::folder, "s1", launch)),
        added(digest(TestImages::png(40, 40, 7))));
    EXPECT_EQ(store->items().size(), 1);
}

TEST_F(IngestTest, BadFilesOnlyShortenTheResult) {
    EXPECT_EQ(ingest->ingest(
                  fileCandidate(dir.file("work/vanished.png"), Source::scratchpad, "s1", launch)),
              rejected("unreadable"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("empty.png", QByteArray()), Source::scratchpad,
                                           "s1", launch)),
              rejected("under 512 bytes"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("junk.png", TestImages::junk(4000)),
                                           Source::scratchpad, "s1", launch)),
              rejected("unreadable image"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("junk.heic", TestImages::junk(4000)),
                                           Source::scratchpad, "s1", launch)),
              rejected("unreadable image"));
    const QByteArray png = TestImages::png(300, 300);
    // A truncated PNG still has its size: it is kept (its thumbnail may fail, which is ignored).
    const auto cut = ingest->ingest(fileCandidate(writeFile("cut.png", png.left(png.size() / 2)),
                                                  Source::scratchpad, "s1", launch));
    EXPECT_EQ(cut, added(digest(png.left(png.size() / 2))));
    // An image that lies about its size is kept without a thumbnail and never decoded whole.
    const QByteArray liar = TestImages::pngClaimingSize(TestImages::png(40, 40), 90000, 90000);
    EXPECT_EQ(ingest->ingest(
                  fileCandidate(writeFile("liar.png", liar), Source::scratchpad, "s1", launch)),
              added(digest(liar)));
    EXPECT_FALSE(FileStat::exists(store->thumbURL(digest(liar)).toLocalFile()));
    // A folder named like a file, a FIFO, a non-file URL.
    QDir().mkpath(dir.file("work/folder.png"));
    EXPECT_EQ(ingest->ingest(
                  fileCandidate(dir.file("work/folder.png"), Source::scratchpad, "s1", launch)),
              rejected("unreadable"));
    const QString fifo = dir.file("work/pipe.pdf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(ingest->ingest(fileCandidate(fifo, Source::scratchpad, "s1", launch)),
              rejected("unreadable"));
    Candidate remote = fileCandidate("/x", Source::folder, "s1", launch);
    remote.payload = Payload::file(QUrl("https://example.com/a.png"));
    EXPECT_EQ(ingest->ingest(remote), rejected("unreadable"));
}

TEST_F(IngestTest, ASymbolicLinkIsNeverCaptured) {
    const QString secret =
        writeFile("private/tax.pdf", QByteArray("%PDF-1.4\n") + TestImages::junk(2000, 9));
    const QString link = dir.file("work/scratch/x.pdf");
    QDir().mkpath(dir.file("work/scratch"));
    ASSERT_EQ(::symlink(QFile::encodeName(secret).constData(), QFile::encodeName(link).constData()),
              0);
    EXPECT_EQ(ingest->ingest(fileCandidate(link, Source::scratchpad, "s1", launch)),
              rejected("unreadable"));
    EXPECT_TRUE(store->items().isEmpty());
    EXPECT_TRUE(itemFiles().isEmpty());
    // A dangling link too.
    const QString dangling = dir.file("work/scratch/y.png");
    ASSERT_EQ(::symlink("/nonexistent/z.png", QFile::encodeName(dangling).constData()), 0);
    EXPECT_EQ(ingest->ingest(fileCandidate(dangling, Source::scratchpad, "s1", launch)),
              rejected("unreadable"));
}

TEST_F(IngestTest, AnImageFileTooLargeToReadWholeIsUnreadable) {
    const QString path = writeFile("huge.png", TestImages::png(64, 64));
    ASSERT_TRUE(QFile::resize(path, ImageProbe::maxImageBytes + 1)); // sparse
    EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch)),
              rejected("unreadable image"));
}

TEST_F(IngestTest, Base64AndBytesPayloads) {
    const QByteArray png = TestImages::png(50, 50);
    Candidate bad = imageBlock(png, "s1", launch);
    bad.payload = Payload::base64(png.toBase64().insert(10, ' '), "png");
    EXPECT_EQ(ingest->ingest(bad), rejected("undecodable image"));
    bad.payload = Payload::base64("QUJD\xc3\xa9", "png");
    EXPECT_EQ(ingest->ingest(bad), rejected("undecodable image"));
    bad.payload = Payload::base64(QByteArray(), "png");
    EXPECT_EQ(ingest->ingest(bad), rejected("under 512 bytes"));
    bad.payload = Payload::base64(TestImages::junk(3000).toBase64(), "png");
    EXPECT_EQ(ingest->ingest(bad), rejected("unreadable image"));
    Candidate raw = imageBlock(png, "s1", launch);
    raw.payload = Payload::bytes(png, "PNG");
    const auto outcome = ingest->ingest(raw);
    ASSERT_EQ(outcome, added(digest(png)));
    EXPECT_TRUE(item(outcome.text).fileURL->toLocalFile().endsWith(".png"));
    EXPECT_EQ(item(outcome.text).title, "Screenshot.png");
}

// Hostile pictures from every road: a drawing naming a private picture under every picture's name,
// as a file and inline, and PNGs whose chunks claim gigabytes. Each is captured once, none is
// lost, and no stored thumbnail shows the private picture.
TEST_F(IngestTest, HostilePicturesUnderEveryNameAreCapturedOnceAndShowNothingPrivate) {
    const QString secret = HostilePictures::writePrivatePicture(dir.file("private.png"), Qt::red);
    const auto drawing = [&](int n) {
        return HostilePictures::drawingNaming(secret).replace(
            "<rect", "<desc>" + QByteArray(400 + n, 'x') + "</desc><rect");
    };
    int n = 0;
    for (const char* ext : {"png", "jpg", "jpeg", "gif", "webp", "heic"}) {
        const QByteArray file = drawing(++n);
        const QString path = writeFile(QStringLiteral("drawing.") + ext, file);
        EXPECT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch)),
                  added(digest(file)))
            << ext;
        const QByteArray inlined = drawing(++n);
        Candidate block =
            imageBlock(inlined, "s1", launch, std::nullopt, QStringLiteral("c%1").arg(n));
        block.payload = Payload::base64(inlined.toBase64(), QString::fromLatin1(ext));
        EXPECT_EQ(ingest->ingest(block), added(composite(inlined, QStringLiteral("c%1").arg(n))))
            << ext;
    }
    for (const ShelfItem& stored : store->items()) {
        const QImage thumb(store->thumbURL(stored.id).toLocalFile());
        ASSERT_FALSE(thumb.isNull());
        EXPECT_EQ(HostilePictures::pixelsNear(thumb, Qt::red), 0);
        EXPECT_GT(HostilePictures::pixelsNear(thumb, QColor(0, 192, 0)), 100);
    }

    // The same claiming PNG from a scratchpad, a watched folder and inline is one item, which
    // keeps the size its header gives.
    for (const auto& [side, interlaced] : {std::pair{200, false}, std::pair{128, true}}) {
        const QByteArray png = HostilePictures::pngClaimingChunk(side, true, interlaced);
        const QString id = digest(png);
        EXPECT_EQ(ingest->ingest(
                      fileCandidate(writeFile(id + ".png", png), Source::scratchpad, "s1", launch)),
                  added(id));
        EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("folder/" + id + ".png", png),
                                               Source::folder, "s1", launch)),
                  merged(id));
        EXPECT_EQ(ingest->ingest(imageBlock(png, "s1", launch, std::nullopt, id)), merged(id));
        EXPECT_EQ(item(id).width, side);
    }
}

TEST_F(IngestTest, ACopyThatCannotBeWrittenIsRejected) {
    // The items folder replaced by a file: no copy can be written.
    ASSERT_TRUE(QDir(store->itemsDir()).removeRecursively());
    dir.write("support/items", "not a folder");
    EXPECT_EQ(ingest->ingest(imageBlock(TestImages::png(40, 40), "s1", launch)),
              rejected("copy failed"));
    EXPECT_EQ(ingest->ingest(fileCandidate(writeFile("a.pdf", TestImages::junk(900)),
                                           Source::folder, "s1", launch)),
              rejected("copy failed"));
    EXPECT_TRUE(store->items().isEmpty());
}

TEST_F(IngestTest, ACaptureKilledBeforeAnyIndexNamedItComesBackWithItsOnlyCopy) {
    const QByteArray png = TestImages::png(64, 48, 7);
    const QString path = writeFile("shot.png", png);
    ASSERT_EQ(ingest->ingest(fileCandidate(path, Source::scratchpad, "s1", launch + 5)),
              added(digest(png)));
    const ShelfItem captured = item(digest(png));
    // Killed: nothing written but what the capture wrote itself; its source goes too.
    ingest.reset();
    store = Store::make(QUrl::fromLocalFile(dir.file("support")), [this] { return clock; });
    QFile::remove(path);
    store = Store::make(QUrl::fromLocalFile(dir.file("support")), [this] { return clock; });
    EXPECT_EQ(item(digest(png)), captured);
    EXPECT_TRUE(store->sessions().contains("s1"));
    EXPECT_EQ(itemFiles(), QStringList{digest(png) + ".png"});
    EXPECT_EQ(readAll(captured.fileURL->toLocalFile()), png);
}

TEST_F(IngestTest, ACaptureWhoseNoteCannotBeWrittenPlacesNoCopy) {
    const QByteArray one = TestImages::junk(600, 1);
    const QByteArray two = TestImages::junk(600, 2);
    const QString first = writeFile("a.pdf", one);
    const QString second = writeFile("b.pdf", two);
    {
        // Room for each copy, not for what the second needs to come back.
        const test::FileSizeLimit full(800);
        EXPECT_EQ(ingest->ingest(fileCandidate(first, Source::folder, "s1", launch)),
                  added(digest(one)));
        EXPECT_EQ(ingest->ingest(fileCandidate(second, Source::folder, "s1", launch)),
                  rejected("copy failed"));
    }
    EXPECT_EQ(itemFiles(), QStringList{digest(one) + ".pdf"});
    EXPECT_EQ(ingest->ingest(fileCandidate(second, Source::folder, "s1", launch)),
              added(digest(two)));
}

TEST_F(IngestTest, StoreStreamedCopy) {
    const QByteArray bytes = TestImages::junk(3 * 1024 * 1024 + 17, 4);
    const QString path = writeFile("big.mp4", bytes);
    // A digest that does not match: nothing stays behind.
    auto result = store->copyInFile(path, "id1", "mp4", QString(64, '0'));
    EXPECT_TRUE(std::holds_alternative<Error>(result));
    EXPECT_TRUE(itemFiles().isEmpty());
    result = store->copyInFile(path, "id1", "mp4", digest(bytes));
    ASSERT_TRUE(std::holds_alternative<QUrl>(result));
    const QString copy = std::get<QUrl>(result).toLocalFile();
    EXPECT_EQ(copy, store->copyURL("id1", "mp4").toLocalFile());
    EXPECT_EQ(readAll(copy), bytes);
    EXPECT_EQ(modeOf(copy), 0600u);
    EXPECT_EQ(itemFiles(), QStringList{"id1.mp4"});
    // An existing copy that holds the content is kept as it is; one that does not (a power loss
    // can leave a copy empty) is written again.
    const auto inode = [](const QString& file) {
        struct stat st {};
        ::stat(QFile::encodeName(file).constData(), &st);
        return st.st_ino;
    };
    const auto before = inode(copy);
    EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyInFile(path, "id1", "mp4", digest(bytes))));
    EXPECT_EQ(inode(copy), before);
    QFile(copy).resize(0);
    EXPECT_TRUE(std::holds_alternative<QUrl>(store->copyInFile(path, "id1", "mp4", digest(bytes))));
    EXPECT_EQ(readAll(copy), bytes);
    // Ids are made safe; links and missing files are refused.
    result = store->copyInFile(path, "../../escape", "mp4", digest(bytes));
    ASSERT_TRUE(std::holds_alternative<QUrl>(result));
    EXPECT_EQ(QFileInfo(std::get<QUrl>(result).toLocalFile()).absolutePath(), store->itemsDir());
    const QString link = dir.file("work/link.mp4");
    ASSERT_EQ(::symlink(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()),
              0);
    EXPECT_TRUE(
        std::holds_alternative<Error>(store->copyInFile(link, "id2", "mp4", digest(bytes))));
    EXPECT_TRUE(std::holds_alternative<Error>(
        store->copyInFile(dir.file("work/none.mp4"), "id3", "mp4", digest(bytes))));
    for (const QString& name : itemFiles()) {
        EXPECT_FALSE(name.startsWith('.')) << name.toStdString();
    }
}

TEST_F(IngestTest, AVideoIsStreamedIntoTheStore) {
    const QByteArray bytes = TestImages::junk(5 * 1024 * 1024, 8);
    const QString path = writeFile("clip.mov", bytes);
    const auto outcome = ingest->ingest(fileCandidate(path, Source::folder, "s1", launch));
    ASSERT_EQ(outcome, added(digest(bytes)));
    EXPECT_EQ(readAll(item(outcome.text).fileURL->toLocalFile()), bytes);
    EXPECT_EQ(item(outcome.text).kind, ShelfItemKind::video);
}

TEST_F(IngestTest, AReadPathImageTooLargeToReadWholeFallsBackToTheInlineBytes) {
    const QString path = writeFile("read/huge.png", TestImages::png(64, 64));
    ASSERT_TRUE(QFile::resize(path, ImageProbe::maxImageBytes + 1)); // sparse
    const QByteArray inlineBytes = TestImages::png(60, 60, 31);
    EXPECT_EQ(ingest->ingest(imageBlock(inlineBytes, "s1", launch + 1, path)),
              added(digest(inlineBytes)));
}

TEST_F(IngestTest, AFileTruncatedWhileItIsReadNeverKillsTheProcess) {
    // A mapped file that its writer truncates raises SIGBUS; plain reads only come up short.
    const QString path = writeFile("growing.mov", TestImages::junk(4 << 20, 3));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const QByteArray full = TestImages::junk(4 << 20, 5);
        while (!stop.load()) {
            QFile f(path);
            if (f.open(QIODevice::ReadWrite)) {
                f.resize(0);
                f.write(full);
            }
        }
    });
    QSet<QString> seen;
    for (int i = 0; i < 30; ++i) {
        const auto outcome = ingest->ingest(fileCandidate(path, Source::folder, "s1", launch + i));
        seen.insert(Ingest::Outcome::rawValue(outcome.kind) +
                    (outcome.isRejected() ? ": " + outcome.text : QString()));
    }
    stop = true;
    writer.join();
    for (const QString& what : seen) {
        EXPECT_TRUE(what == "added" || what == "merged" || what == "rejected: unreadable" ||
                    what == "rejected: under 512 bytes")
            << what.toStdString();
    }
    // Whatever was stored is whole: its copy's bytes hash to its id.
    for (const ShelfItem& it : store->items()) {
        EXPECT_EQ(digest(readAll(it.fileURL->toLocalFile())), it.id);
    }
}
