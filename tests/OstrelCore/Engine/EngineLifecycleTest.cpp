// Starting, commanding and stopping the engine.
#include "EngineFixture.h"

using namespace ostrel;
using namespace ostrel::test;
using namespace ostrel::test::engine_tests;

using EngineLifecycle = EngineFixture;

TEST_F(EngineLifecycle, CommandsChangeTheStoreAndPublishCoalesced) {
    for (const char* name : {"a.html", "b.html", "c.html"}) {
        write(scratchFile(name), page(name[0]));
    }
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 3; }));
    const QString a = itemFrom(real(scratchFile("a.html")))->id;
    const QString b = itemFrom(real(scratchFile("b.html")))->id;
    const QString c = itemFrom(real(scratchFile("c.html")))->id;

    // Two commands within the publish delay: one snapshot.
    const std::size_t before = snapshots.size();
    engine->hide({a});
    engine->unhide({"no-such-id"});
    ASSERT_TRUE(waitUntil([&] { return last().hidden.size() == 1; }));
    pump(0.1);
    EXPECT_EQ(snapshots.size(), before + 1);
    EXPECT_EQ(last().items.size(), 2);

    // A command that changes nothing publishes nothing (b predates the first run: seen).
    ASSERT_TRUE(itemFrom(real(scratchFile("b.html")))->seenAt.has_value());
    engine->markSeen({b});
    pump(0.1);
    EXPECT_EQ(snapshots.size(), before + 1);

    engine->unhide({a});
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 3; }));

    // Delete-all of what the user saw spares what they could not have seen.
    engine->deleteAll({b}, {a, b});
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 2; }));
    EXPECT_FALSE(itemFrom(real(scratchFile("a.html"))).has_value());
    engine->deleteItems({b});
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 1; }));
    engine->hide({c});
    engine->deleteAll({});
    ASSERT_TRUE(waitUntil([&] { return last().items.isEmpty() && last().hidden.isEmpty(); }));

    // Deleted items are not captured again at the next start.
    engine->stop();
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    pump(0.3);
    EXPECT_TRUE(last().items.isEmpty());
}

TEST_F(EngineLifecycle, AStartAfterATouchedOneReadsTheTouchedFilesNoMore) {
    const QString path = scratchFile("a.html");
    write(path, page(1));
    const auto dateFile = [&](time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    };
    const time_t now = ::time(nullptr);
    const auto restart = [&] {
        if (engine) {
            engine->stop();
        }
        engine = start(config(), false);
        return waitUntil([&] { return !snapshots.empty(); });
    };
    dateFile(now - 60);
    ASSERT_TRUE(restart());
    ASSERT_EQ(last().items.size(), 1);
    const QString id = last().items.first().id;

    // Touched: the same bytes at a later date, read once by the next start.
    dateFile(now - 30);
    ASSERT_TRUE(restart());
    ASSERT_EQ(last().items.size(), 1);
    EXPECT_EQ(last().items.first().id, id);

    // Not by the one after it: other bytes of the same size behind the same date go unseen.
    write(path, page(2));
    dateFile(now - 30);
    ASSERT_TRUE(restart());
    ASSERT_EQ(last().items.size(), 1);
    EXPECT_EQ(last().items.first().id, id);
}

TEST_F(EngineLifecycle, AStartOverMoreFilesThanASliceCapturesEachOnce) {
    timing.batchSlice = 4;
    const qsizetype count = timing.batchSlice * 2 + 3;
    for (qsizetype i = 0; i < count; ++i) {
        write(scratchFile(QStringLiteral("p%1.html").arg(i), i % 2 == 0 ? "s1" : "s2"),
              page(int(i)));
    }
    // Settled already: the files are offered as the start lists them.
    for (const char* session : {"s1", "s2"}) {
        const QString pad = scratch + "/-work-proj/" + QString::fromLatin1(session) + "/scratchpad";
        for (const QString& name : QDir(pad).entryList(QDir::Files)) {
            const timespec times[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
            ::utimensat(AT_FDCWD, QFile::encodeName(pad + "/" + name).constData(), times, 0);
        }
    }
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }, 30.0));
    engine->stop();
    const QStringList sources = indexSources();
    EXPECT_EQ(sources.size(), count);
    EXPECT_EQ(QSet<QString>(sources.begin(), sources.end()).size(), count);
}

TEST_F(EngineLifecycle, NothingReachesTheOwnerAfterStop) {
    write(scratchFile("a.html"), page(1));
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 1; }));
    const Engine::Generation generation = snapshots.back().second;
    EXPECT_NE(generation, 0u);

    // A snapshot handed to the main thread, not yet delivered, when the owner stops the engine.
    const std::size_t before = snapshots.size();
    engine->hide({last().items.first().id});
    QThread::msleep(100);
    engine->queue()->sync([] {});
    engine->stop();
    pump(0.1);
    EXPECT_EQ(snapshots.size(), before);

    // Commands after stop do nothing; the index was written by stop.
    engine->unhide({"x"});
    engine->deleteAll({});
    pump(0.1);
    EXPECT_EQ(snapshots.size(), before);
    EXPECT_FALSE(index().isEmpty());

    auto next = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    EXPECT_GT(snapshots.back().second, generation);
    next->stop();
}

TEST_F(EngineLifecycle, AStopDuringALongFirstStartWaitsForOneBatchAndTheNextStartTakesTheRest) {
    // Ten thousand files: in memory, so that a loaded disk costs the test no minutes.
    QTemporaryDir shm((QDir("/dev/shm").exists() ? QString("/dev/shm") : QDir::tempPath()) +
                      "/ostrel-test-XXXXXX");
    scratch = shm.filePath("scratch");
    support = shm.filePath("support");
    env["OSTREL_SCRATCH_ROOT"] = scratch;
    env["OSTREL_SUPPORT_DIR"] = support;
    const int count = 10000;
    for (int i = 0; i < count; ++i) {
        const QString path =
            scratchFile(QString("page-%1.html").arg(i), QString("s%1").arg(i % 10));
        write(path, page(i, 600));
        age(path, 30);
    }
    ::chmod(QFile::encodeName(scratch).constData(), 0700);
    // Read before the scratchpads, screenshots of transcripts; after them, browser screenshots.
    // Both only within the recent window of a start.
    const int shots = 400;
    lines::Context c;
    for (int t = 0; t < 8; ++t) {
        const QString transcript = openSession(c, projects, QString("t%1").arg(t));
        QByteArrayList transcriptLines{lines::prompt(c, "look", QString("p-%1").arg(t))};
        for (int i = t; i < shots; i += 8) {
            transcriptLines.append(screenshotLine(c, 1000 + i));
        }
        lines::append(transcript, transcriptLines);
    }
    const int browserShots = 30;
    for (int i = 0; i < browserShots; ++i) {
        const QString shot =
            temp + QString("/claude-chrome-screenshots-t/screenshot-%1.jpg").arg(i);
        write(shot, TestImages::jpeg(80, 60, std::nullopt, 7000 + quint32(i)));
        age(shot, 30);
    }
    const int total = count + shots + browserShots;
    LogCapture log;
    const auto added = [&] { return log.matching("added ").size(); };
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return added() >= 20; }));
    const qsizetype before = added();
    engine->stop();
    // What was under way when it was asked to stop, not the thousands still waiting.
    const qsizetype stored = added();
    EXPECT_LE(stored - before, count / 20);
    EXPECT_EQ(index().value("items").toArray().size(), stored);

    // The next start comes a day later: by then every file is far older than the recent window,
    // yet it takes all the stopped start was yet to take, and nothing twice.
    clock = [] { return Date::now().adding(86400); };
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }, 30.0));
    engine->stop();
    engine.reset();
    EXPECT_EQ(index().value("items").toArray().size(), total);

    // Through at last: the start after it looks back over the recent window only, also when
    // what the support folder keeps says a start began tomorrow.
    const QString browser = temp + "/claude-chrome-screenshots-t/screenshot-";
    write(browser + "old.jpg", TestImages::jpeg(80, 60, std::nullopt, 9998));
    age(browser + "old.jpg", 30);
    write(browser + "new.jpg", TestImages::jpeg(80, 60, std::nullopt, 9999));
    age(browser + "new.jpg", 30 - 86400);
    write(support + "/unfinished-start.json",
          QByteArray("{\"startedAt\":") +
              QByteArray::number(Date::now().adding(2 * 86400).seconds, 'f', 3) + "}");
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }, 30.0));
    engine->stop();
    engine.reset();
    const QStringList sources = indexSources();
    EXPECT_EQ(sources.size(), total + 1);
    EXPECT_TRUE(sources.contains(real(browser + "new.jpg")));
}

TEST_F(EngineLifecycle, AStopDuringAPurgeLeavesTheRestToTheNextStartsSweep) {
    // Three hundred items long past retention, with their copies and thumbnails.
    {
        const auto store = Store::make(QUrl::fromLocalFile(support), &Date::now);
        for (int i = 0; i < 300; ++i) {
            ShelfItem item;
            item.id = QString("old%1").arg(i);
            item.kind = ShelfItemKind::image;
            item.title = item.id;
            item.sessionID = "s1";
            item.createdAt = Date::now().adding(-400 * 86400.0);
            item.fileURL =
                std::get<QUrl>(store->copyIn("bytes of " + item.id.toUtf8(), item.id, "png"));
            store->writeThumbnail(item.id, "thumb");
            store->upsert(item);
        }
        store->flush();
    }
    const auto files = [&] {
        return QDir(support + "/items").entryList(QDir::Files).size() +
               QDir(support + "/thumbs").entryList(QDir::Files).size();
    };
    engine = start(config(), false);
    engine->stop();
    engine.reset();
    // The purge and the removal both end within a batch; every item the index still names keeps
    // its copy. The index records the files it was to remove: the next start removes the rest.
    for (const QJsonValue& item : index().value("items").toArray()) {
        EXPECT_TRUE(QFile::exists(QUrl(item["fileURL"].toString()).toLocalFile()));
    }
    const qsizetype left = files();
    EXPECT_GE(left, 600 - Store::removalBatch);
    EXPECT_LT(left, 600);

    engine = start(config(), false);
    EXPECT_TRUE(waitUntil([&] { return files() == 0; }, 10.0));
    engine->stop();
    EXPECT_TRUE(index().value("items").toArray().isEmpty());
}

// Two starts a day apart, each stopped during the first scan of a watched folder: the start after
// them looks back to the beginning of the earlier one and takes all the folder holds, and, once
// through, keeps no moment for the next start.
TEST_F(EngineLifecycle, StartsCutShortDuringAFolderScanLeaveItsRestToTheNextFromTheEarliestOfThem) {
    const QString docs = tmp.file("docs");
    const int count = 12;
    for (int i = 0; i < count; ++i) {
        write(docs + QString("/shot-%1.png").arg(i), TestImages::png(64, 64, 300 + quint32(i)));
        age(docs + QString("/shot-%1.png").arg(i), 30);
    }
    // Reads of pictures wait while `held` is set, a few seconds at most.
    std::atomic<bool> held{false};
    std::atomic<int> reads{0};
    timing.duringRead = [&](const QString&) {
        ++reads;
        for (int i = 0; i < 1000 && held.load(); ++i) {
            QThread::msleep(5);
        }
    };
    auto c = config();
    c.watchedFolders = {docs};
    const auto startOnDay = [&](int day, bool cut) {
        clock = [day] { return Date::now().adding(day * 86400.0); };
        held = cut;
        reads = 0;
        engine = start(c, false);
        EXPECT_TRUE(waitUntil([&] { return reads.load() > 0; }));
        if (!cut) {
            EXPECT_TRUE(waitUntil([&] { return !snapshots.empty() && !engineScans(); }));
        }
        engine->stop();
        held = false;
        engine.reset();
    };
    startOnDay(0, true);
    startOnDay(1, true);
    startOnDay(2, false);
    EXPECT_EQ(indexSources().size(), count);
    EXPECT_FALSE(moment());
}

// A start after one cut short long ago looks back no further than the retention period keeps.
TEST_F(EngineLifecycle, ALookBackToALongAgoStartStopsAtTheRetentionPeriod) {
    lines::Context c;
    QStringList transcripts;
    for (const int days : {20, 40}) {
        const QString transcript = openSession(c, projects, QString("d%1").arg(days));
        lines::append(transcript, {lines::prompt(c, "look", QString("p-%1").arg(days))});
        age(transcript, days * 86400);
        transcripts.append(real(transcript));
    }
    write(support + "/unfinished-start.json",
          QByteArray("{\"startedAt\":") +
              QByteArray::number(Date::now().adding(-60 * 86400).seconds, 'f', 3) + "}");
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    engine->queue()->sync([&] {
        EXPECT_TRUE(engine->store()->offsets().contains(transcripts[0]));
        EXPECT_FALSE(engine->store()->offsets().contains(transcripts[1]));
    });
}

TEST_F(EngineLifecycle, TheLastReferenceIsDroppedOnTheMainThreadWhoeverHeldIt) {
    // The clock is shared by the engine and everything it owns: its end is theirs.
    struct Probe {
        std::atomic<QThread*>* endedOn;
        ~Probe() { endedOn->store(QThread::currentThread()); }
    };
    std::atomic<QThread*> endedOn{nullptr};
    auto probe = std::make_shared<Probe>(Probe{&endedOn});
    std::shared_ptr<Engine> held = Engine::make(
        config(), [probe] { return Date::now(); }, nullptr, timing);
    probe.reset();
    endedOn.store(nullptr); // the temporary the probe was made from has ended
    held->start(false);
    held->stop();
    const std::shared_ptr<SerialQueue> queue = held->queue();
    // One of the engine's own jobs drops the last reference.
    queue->async([&held] { held.reset(); });
    queue->sync([] {});
    EXPECT_EQ(endedOn.load(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return endedOn.load() != nullptr; }));
    EXPECT_EQ(endedOn.load(), QCoreApplication::instance()->thread());
}

TEST(EngineSettle, DelaysStayFlatThenDoubleUpToTheCapForAnyNumberOfAttempts) {
    const std::vector<double> expected{0.3, 0.3, 0.3, 0.3, 0.3, 0.6, 1.2, 2.4, 4.8, 5.0, 5.0};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_DOUBLE_EQ(Engine::settleDelay(static_cast<qint64>(i + 1)), expected[i]) << i + 1;
    }
    for (qint64 attempt :
         {qint64(64), qint64(65), qint64(1000), std::numeric_limits<qint64>::max()}) {
        EXPECT_EQ(Engine::settleDelay(attempt), 5.0) << attempt;
    }
    EXPECT_EQ(Engine::settleDelay(0), 0.3);
    EXPECT_EQ(Engine::settleDelay(-5), 0.3);
}
