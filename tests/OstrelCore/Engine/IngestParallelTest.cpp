// Ingest on the workers must give what ingest one candidate at a time gives: the same outcomes,
// records and files, whatever order the workers finish in.
#include "IngestTestSupport.h"

#include "Platform/WorkerPool.h"
#include "support/Wait.h"

#include <QImageReader>

#include <atomic>
#include <future>

namespace ostrel::test {
namespace {

class IngestParallel : public IngestFixture {
protected:
    // A mix of every road: pictures (some equal, one from two sources, one hidden), a transcript
    // image joining the file it was made from and one of its own, a Read file standing in, bad
    // Base64, an unreadable file, a page, an artifact, a picture too small for the filter.
    QList<Candidate> candidates() {
        QList<Candidate> out;
        const QByteArray shared = TestImages::png(320, 200, 7);
        for (int i = 0; i < 12; ++i) {
            const QString path = writeFile(QStringLiteral("shot-%1.png").arg(i),
                                           TestImages::png(300 + i, 240, i + 1));
            out.append(fileCandidate(path, Source::scratchpad, QStringLiteral("s%1").arg(i % 2),
                                     launch - 500 + i));
        }
        const QString one = writeFile("shared-a.png", shared);
        const QString two = writeFile("shared-b.png", shared);
        out.append(fileCandidate(one, Source::scratchpad, QStringLiteral("s1"), launch - 300));
        out.append(fileCandidate(two, Source::folder, std::nullopt, launch - 290));
        out.append(imageBlock(shared, QStringLiteral("s1"), launch - 250, std::nullopt,
                              QStringLiteral("toolu_near")));
        out.append(imageBlock(TestImages::png(280, 200, 99), QStringLiteral("s2"), launch - 200,
                              std::nullopt, QStringLiteral("toolu_own")));
        out.append(imageBlock(TestImages::png(10, 10, 5), QStringLiteral("s2"), launch - 190,
                              writeFile("read.png", TestImages::png(310, 210, 55))));
        Candidate bad = imageBlock("x", QStringLiteral("s2"), launch - 180);
        bad.payload = Payload::base64("not base64!", QStringLiteral("png"));
        out.append(bad);
        out.append(fileCandidate(dir.file("work/missing.png"), Source::folder, std::nullopt,
                                 launch - 170));
        out.append(fileCandidate(
            writeFile("page.html", "<html><title>A page</title>" + QByteArray(3000, 'p')),
            Source::scratchpad, QStringLiteral("s1"), launch - 160));
        out.append(artifactCandidate("a1", QStringLiteral("Art"), std::nullopt,
                                     QStringLiteral("s1"), launch - 150));
        out.append(fileCandidate(writeFile("tiny.png", TestImages::png(8, 8, 3)),
                                 Source::scratchpad, QStringLiteral("s1"), launch - 140));
        out.append(fileCandidate(writeFile("hidden.png", TestImages::png(330, 220, 77)),
                                 Source::scratchpad, QStringLiteral("s1"), launch - 130));
        return out;
    }

    // What ingest() gives for each in turn, on a second store beside the first.
    QList<Ingest::Outcome> oneByOne(const QList<Candidate>& all, const QString& hiddenID) {
        serialStore =
            Store::make(QUrl::fromLocalFile(dir.file("serial")), [this] { return clock; });
        Ingest serial(serialStore, 30, [this] { return clock; });
        serialStore->hide(hiddenID);
        QList<Ingest::Outcome> expected;
        for (const Candidate& candidate : all) {
            expected.append(serial.ingest(candidate));
        }
        return expected;
    }
    std::shared_ptr<Store> serialStore;

    static QByteArray bytesOf(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(IngestParallel, WorkersGiveTheOutcomesRecordsAndFilesOfOneByOne) {
    const QList<Candidate> all = candidates();
    const QString hiddenID = digest(TestImages::png(330, 220, 77));

    const QList<Ingest::Outcome> expected = oneByOne(all, hiddenID);

    store->hide(hiddenID);
    ingest->workers = std::make_shared<WorkerPool>(4);
    const QList<Ingest::Outcome> outcomes = ingest->ingestAll(all);
    EXPECT_EQ(outcomes, expected);
    // The mix reached every kind of outcome.
    QSet<int> kinds;
    for (const auto& outcome : outcomes) {
        kinds.insert(static_cast<int>(outcome.kind));
    }
    EXPECT_EQ(kinds.size(), 3); // added, merged, rejected (an artifact is added)

    ASSERT_EQ(store->items().size(), serialStore->items().size());
    for (const ShelfItem& mine : store->items()) {
        ASSERT_TRUE(serialStore->items().contains(mine.id)) << qPrintable(mine.id);
        ShelfItem theirs = serialStore->items().value(mine.id);
        if (theirs.fileURL) {
            EXPECT_EQ(bytesOf(mine.fileURL->toLocalFile()), bytesOf(theirs.fileURL->toLocalFile()));
            theirs.fileURL = mine.fileURL;
        }
        EXPECT_EQ(mine, theirs);
        EXPECT_EQ(bytesOf(store->thumbURL(mine.id).toLocalFile()),
                  bytesOf(serialStore->thumbURL(mine.id).toLocalFile()));
    }
    EXPECT_EQ(store->sessions(), serialStore->sessions());
    EXPECT_EQ(store->revision(), serialStore->revision());
    EXPECT_EQ(QDir(store->thumbsDir()).entryList(QDir::Files),
              QDir(serialStore->thumbsDir()).entryList(QDir::Files));
    // Copies and thumbnails the workers wrote ahead for pictures that were merged, hidden or
    // turned away are gone.
    for (const QString& folder : {store->itemsDir(), store->thumbsDir()}) {
        EXPECT_EQ(QDir(folder).entryList({".incoming-*"}, QDir::Files | QDir::Hidden),
                  QStringList());
    }

    // Nothing is durable yet; a save syncs the copies and thumbnails first, then writes the index.
    EXPECT_GT(store->unsyncedCount(), 0);
    store->flush();
    EXPECT_EQ(store->unsyncedCount(), 0);
    EXPECT_TRUE(QFile::exists(dir.file("support/index.json")));
}

// Started ahead, candidates are prepared while the caller goes on, and stored in the order they
// were started as they become ready, with the outcomes of one by one.
TEST_F(IngestParallel, StartedAheadTheyAreStoredInOrderWithoutWaitingForAWorker) {
    const QList<Candidate> all = candidates();
    const QString hiddenID = digest(TestImages::png(330, 220, 77));
    const QList<Ingest::Outcome> expected = oneByOne(all, hiddenID);
    store->hide(hiddenID);
    ingest->workers = std::make_shared<WorkerPool>(1);
    std::promise<void> release;
    (void)ingest->workers->submit([gate = release.get_future().share()] { gate.wait(); });
    std::atomic<int> ready{0};
    const auto start = [&](qsizetype from, qsizetype count) {
        ingest->startAhead(all.mid(from, count), [&ready] { ++ready; });
        return from + count;
    };
    // The one worker is busy: nothing is ready, the window is full, and asking costs no wait.
    qsizetype next = start(0, ingest->aheadRoom());
    EXPECT_GT(next, 1);
    EXPECT_FALSE(ingest->aheadReady());
    EXPECT_EQ(ingest->aheadRoom(), 0);
    EXPECT_EQ(ready.load(), 0);
    release.set_value();
    QList<Ingest::Outcome> outcomes;
    while (ingest->aheadCount() > 0) {
        ASSERT_TRUE(waitUntil([&] { return ingest->aheadReady(); }));
        outcomes.append(*ingest->finishAhead(true));
        next = start(next, std::min(ingest->aheadRoom(), all.size() - next));
    }
    EXPECT_EQ(outcomes, expected);
    EXPECT_EQ(ready.load(), all.size());
}

// Bytes already held are recognised by their digest and never decoded ahead. Should the item
// they belong to go within the same batch (an edited file replacing it), they still become a
// whole item: copy, size and thumbnail.
TEST_F(IngestParallel, KnownBytesWhoseItemWentMeanwhileStillBecomeAWholeItem) {
    const QByteArray first = TestImages::png(320, 200, 1);
    const QString edited = writeFile("edited.png", first);
    ASSERT_EQ(ingest->ingest(
                  fileCandidate(edited, Source::scratchpad, QStringLiteral("s1"), launch - 100)),
              added(digest(first)));
    const QString copy = writeFile("copy.png", first);
    QFile file(edited);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(TestImages::png(330, 210, 2));
    file.close();

    ingest->workers = std::make_shared<WorkerPool>(2);
    const QList<Ingest::Outcome> outcomes = ingest->ingestAll(
        {fileCandidate(edited, Source::scratchpad, QStringLiteral("s1"), launch - 50),
         fileCandidate(copy, Source::scratchpad, QStringLiteral("s2"), launch - 40)});
    EXPECT_EQ(outcomes.at(0), added(digest(TestImages::png(330, 210, 2))));
    ASSERT_EQ(outcomes.at(1), added(digest(first)));
    const ShelfItem again = item(digest(first));
    EXPECT_EQ(again.sourcePath, copy);
    EXPECT_EQ(again.width, 320);
    EXPECT_EQ(bytesOf(again.fileURL->toLocalFile()), first);
    EXPECT_EQ(QImageReader(store->thumbURL(digest(first)).toLocalFile()).size(), QSize(320, 200));
}

TEST_F(IngestParallel, ACommitThatCannotSyncWritesNoIndexAndIsTriedAgainWhole) {
    const QString path = writeFile("one.png", TestImages::png(300, 200, 1));
    ASSERT_EQ(
        ingest->ingest(fileCandidate(path, Source::scratchpad, QStringLiteral("s1"), launch - 60))
            .kind,
        Ingest::Outcome::Kind::added);
    // A noted file that cannot be opened for its sync stands for a disk that refuses it.
    const QString locked = dir.file("support/items/locked");
    QFile(locked).open(QIODevice::WriteOnly);
    QFile::setPermissions(locked, QFileDevice::Permissions());
    store->noteUnsynced(locked);
    store->flush();
    if (::geteuid() != 0) {
        EXPECT_FALSE(QFile::exists(dir.file("support/index.json")));
        EXPECT_GT(store->unsyncedCount(), 0);
    }
    // Once the file can be synced, the next save commits everything, the first copy included.
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    store->flush();
    EXPECT_EQ(store->unsyncedCount(), 0);
    ASSERT_TRUE(QFile::exists(dir.file("support/index.json")));
    const auto index = Store::Index::decode(dir.read("support/index.json"));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->items.size(), 1);
}

} // namespace
} // namespace ostrel::test
