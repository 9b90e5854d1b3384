// Captures from every kind of root, and what a capture survives.
#include "EngineFixture.h"

#include <sys/resource.h>

using namespace ostrel;
using namespace ostrel::test;
using namespace ostrel::test::engine_tests;

using EngineCapture = EngineFixture;

TEST_F(EngineCapture, AdmitsAFileWrittenInOneGoAndAFolderMadeAndWrittenAtOnce) {
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));

    const QString first = scratchFile("one.png");
    write(first, TestImages::png(64, 64, 1));
    ASSERT_TRUE(waitForItem(real(first)));
    EXPECT_EQ(itemFrom(real(first))->sessionID, "s1");
    EXPECT_TRUE(itemFrom(real(first))->sourceKinds.contains(Source::scratchpad));

    // A new session folder, made and written into before any event about it is read.
    const QString second = scratchFile("two.png", "s2");
    write(second, TestImages::png(64, 64, 2));
    ASSERT_TRUE(waitForItem(real(second)));
    EXPECT_EQ(itemFrom(real(second))->sessionID, "s2");

    engine->stop();
    EXPECT_TRUE(indexSources().contains(real(first)));
    EXPECT_TRUE(indexSources().contains(real(second)));
}

TEST_F(EngineCapture, AdmitsAGrowingFileOnceAfterItSettlesWithItsFinalContent) {
    // Longer than the pauses a loaded machine makes in the writing below, most of the time.
    timing.settleInterval = 0.5;
    timing.settleMaxDelay = 1.0;
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    // Written a chunk every 40 ms for about 1.2 s, each chunk flushed before the next. A pause
    // of the writing as long as the settle interval lets the file settle while it grows, as a
    // loaded machine may make it: such a round tells nothing, and another file is written, with
    // content of its own so that it is not taken for the one before.
    QString path;
    QByteArray content;
    for (int round = 0; round < 5 && path.isEmpty(); ++round) {
        content = page(7 + round, 4000);
        const QString name = scratchFile(QStringLiteral("report-%1.html").arg(round));
        QDir().mkpath(QFileInfo(name).absolutePath());
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        bool early = false;
        qint64 longestPause = 0;
        QElapsedTimer sinceWrite;
        sinceWrite.start();
        for (qsizetype at = 0; at < content.size(); at += 130) {
            file.write(content.mid(at, 130));
            file.flush();
            longestPause = std::max(longestPause, sinceWrite.restart());
            pump(0.04);
            early = early || itemFrom(real(name)).has_value();
        }
        file.close();
        if (longestPause < timing.settleInterval * 1000) {
            EXPECT_FALSE(early) << "admitted while still growing";
            path = name;
        }
    }
    ASSERT_FALSE(path.isEmpty()) << "no round was written without a pause";
    ASSERT_TRUE(waitForItem(real(path)));
    const ShelfItem item = *itemFrom(real(path));
    QFile copy(item.fileURL->toLocalFile());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), content);
    int fromPath = 0;
    engine->queue()->sync([&] {
        for (const ShelfItem& stored : engine->store()->items()) {
            fromPath += stored.sourcePath == real(path) ? 1 : 0;
        }
    });
    EXPECT_EQ(fromPath, 1);
}

TEST_F(EngineCapture, ACaptureSeenWhileBeingWrittenIsTakenOnceQuietForTheIntervalByItsDate) {
    engine = start(config(), false);
    const QString path = scratchFile("shot.png");
    std::vector<std::pair<double, std::function<void()>>> looks;
    const auto setAge = [&](double seconds) {
        timespec times[2];
        ::clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_nsec -= static_cast<long>(seconds * 1e9);
        while (times[0].tv_nsec < 0) {
            times[0].tv_nsec += 1000000000L;
            --times[0].tv_sec;
        }
        times[1] = times[0];
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    };
    engine->queue()->sync([&] {
        engine->setScheduleSettle(
            [&](double delay, std::function<void()> job) { looks.emplace_back(delay, job); });
        // The first event comes as the file is made, before its bytes are in.
        write(path, QByteArray());
        engine->handleEvents({path});
        ASSERT_EQ(looks.size(), 1u);
        // Its bytes came 80 ms ago: 20 ms of the 100 ms interval are left at the next look.
        write(path, TestImages::png(64, 64, 3));
        setAge(0.08);
        looks.at(0).second();
        ASSERT_EQ(looks.size(), 2u);
        EXPECT_LT(looks.at(1).first, 0.05);
        EXPECT_GE(looks.at(1).first, 0.01);
        looks.at(1).second();
        EXPECT_EQ(engine->store()->items(real(path)).size(), 1);
    });
}

TEST_F(EngineCapture, WatchesARootThatAppearsAfterStart) {
    QDir(scratch).removeRecursively();
    QDir(projects).removeRecursively();
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));

    const QString path = scratchFile("late.png");
    write(path, TestImages::png(48, 48, 3));
    ASSERT_TRUE(waitForItem(real(path)));

    // The projects folder too: a transcript in a folder made after start is followed.
    lines::Context c;
    c.sessionID = "s9";
    c.timestamp = isoNow(-5);
    const QString transcript = projects + "/-work-proj/s9.jsonl";
    QDir().mkpath(QFileInfo(transcript).absolutePath());
    lines::append(transcript, {lines::prompt(c, "draw it", "p9")});
    ASSERT_TRUE(waitUntil([&] {
        for (const Session& s : last().sessions) {
            if (s.id == "s9") {
                return true;
            }
        }
        return false;
    }));
}

TEST_F(EngineCapture, HoldsAChromeScreenshotBeforeAdmittingItOnce) {
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const QString folder = temp + "/claude-chrome-screenshots-abc";
    const QString shot = folder + "/screenshot-1.jpg";
    QElapsedTimer clock;
    clock.start();
    write(shot, TestImages::jpeg(80, 60));
    // Reported again while held: still one hold, one item.
    pump(0.05);
    ::utimensat(AT_FDCWD, QFile::encodeName(shot).constData(), nullptr, 0);
    write(temp + "/unrelated.png", TestImages::png(40, 40, 4));
    ASSERT_TRUE(waitForItem(real(shot)));
    EXPECT_GE(clock.elapsed(), 300) << "admitted before its hold ended";
    EXPECT_TRUE(itemFrom(real(shot))->sourceKinds.contains(Source::chrome));
    EXPECT_FALSE(itemFrom(real(temp + "/unrelated.png")).has_value());
    engine->stop();
    EXPECT_EQ(indexSources().count(real(shot)), 1);
}

TEST_F(EngineCapture, AttributesAScratchImageToThePromptTheTranscriptJustGave) {
    lines::Context c;
    c.sessionID = "s5";
    c.cwd = tmp.file("project");
    const QString transcript = projects + "/-work-proj/s5.jsonl";
    QDir().mkpath(QFileInfo(transcript).absolutePath());
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));

    // Appended line by line, as the session runs.
    c.timestamp = isoNow(-3);
    lines::append(transcript, {lines::prompt(c, "an older prompt", "p-old")});
    pump(0.05);
    c.timestamp = isoNow(-2);
    lines::append(transcript, {lines::assistantText(c, "sure")});
    pump(0.05);
    c.timestamp = isoNow(-1);
    lines::append(transcript, {lines::prompt(c, "make a chart", "p-chart")});
    ASSERT_TRUE(waitUntil([&] {
        for (const Session& s : last().sessions) {
            if (s.id == "s5") {
                return true;
            }
        }
        return false;
    }));

    const QString image = scratchFile("chart.png", "s5");
    write(image, TestImages::png(64, 64, 5));
    ASSERT_TRUE(waitForItem(real(image)));
    EXPECT_EQ(itemFrom(real(image))->sessionID, "s5");
    EXPECT_EQ(itemFrom(real(image))->promptID, "p-chart");
}

TEST_F(EngineCapture, TheStartUpPassGivesAnUntitledSessionTheTitleInItsTranscript) {
    {
        auto store = Store::make(OstrelPaths::folderURL(support), &Date::now);
        store->upsert(Session("s1", QString("-work-proj"), std::nullopt, std::nullopt,
                              Date::now().adding(-7200), Date::now().adding(-7200)));
        store->flush();
    }
    // Older than the start-up reads look back: only the titles pass reads it.
    const QString transcript = projects + "/-work-proj/s1.jsonl";
    QDir().mkpath(QFileInfo(transcript).absolutePath());
    lines::append(transcript, {lines::title("s1", "custom-title", "customTitle", "Fix the build")});
    age(transcript, 3600);

    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    ASSERT_EQ(last().sessions.size(), 1);
    EXPECT_EQ(last().sessions.first().customTitle, "Fix the build");
}

// A session working in a folder that holds the scratch root: its scratch files lie in its own
// project, which the shelf leaves alone, and it can know that only once it has read the session's
// transcript.
class EngineProjectAroundScratch : public EngineFixture {
protected:
    // The session's transcript and a settled scratch file of it; the file's path.
    QString writeSession() {
        lines::Context c;
        c.sessionID = "s1";
        c.cwd = tmp.path();
        c.timestamp = isoNow(-60);
        const QString transcript = projects + "/-work-proj/s1.jsonl";
        QDir().mkpath(QFileInfo(transcript).absolutePath());
        lines::append(transcript, {lines::prompt(c, "draw", "p1")});
        const QString shot = scratchFile("shot.png");
        write(shot, TestImages::png(64, 64, 3));
        age(shot, 60);
        return real(shot);
    }
};

TEST_F(EngineProjectAroundScratch, AtStartTranscriptsAreReadBeforeScratchFolders) {
    writeSession();
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    engine->queue()->sync([&] { EXPECT_TRUE(engine->store()->items().isEmpty()); });
}

TEST_F(EngineProjectAroundScratch, ASessionsTranscriptIsReadBeforeItsScratchFiles) {
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const QString shot = writeSession();
    // The scratch file's change alone is reported.
    engine->queue()->sync([&] {
        engine->handleEvents({shot});
        EXPECT_TRUE(engine->store()->items().isEmpty());
    });
}

TEST_F(EngineCapture, ASecondRunCapturesNothingTwiceAndKeepsSeenMarks) {
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    // Written during the run, so both arrive unread.
    const QString seen = scratchFile("seen.png");
    const QString fresh = scratchFile("fresh.png");
    write(seen, TestImages::png(64, 64, 6));
    write(fresh, TestImages::png(64, 64, 7));
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 2; }));
    ASSERT_FALSE(itemFrom(real(seen))->seenAt.has_value());
    const QString seenID = itemFrom(real(seen))->id;
    engine->markSeen({seenID});
    ASSERT_TRUE(waitUntil([&] { return itemFrom(real(seen))->seenAt.has_value(); }));
    engine->stop();
    const QJsonObject firstIndex = index();

    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 2; }));
    pump(0.3);
    EXPECT_EQ(last().items.size(), 2);
    EXPECT_TRUE(itemFrom(real(seen))->seenAt.has_value());
    EXPECT_FALSE(itemFrom(real(fresh))->seenAt.has_value());
    engine->stop();
    EXPECT_EQ(index().value("items").toArray().size(), 2);
    EXPECT_EQ(index().value("items"), firstIndex.value("items"));
}

TEST_F(EngineCapture, ADamagedIndexIsSetAsideAndTheShelfFilledAgain) {
    const QString path = scratchFile("kept.png");
    write(path, TestImages::png(64, 64, 8));
    // An image that exists only inside a transcript line.
    lines::Context c;
    c.sessionID = "s1";
    c.cwd = tmp.file("project");
    c.timestamp = isoNow(-2);
    const QString transcript = projects + "/-work-proj/s1.jsonl";
    QDir().mkpath(QFileInfo(transcript).absolutePath());
    const QString data = QString::fromLatin1(TestImages::png(64, 64, 18).toBase64());
    lines::append(
        transcript,
        {lines::prompt(c, "draw", "p1"),
         lines::toolResult(c, "toolu_1", QJsonArray{lines::imageBlock(data, "image/png")})});
    const auto fromTranscript = [&] {
        return std::count_if(last().items.begin(), last().items.end(),
                             [](const ShelfItem& item) { return !item.sourcePath; });
    };
    engine = start(config());
    ASSERT_TRUE(waitForItem(real(path)));
    ASSERT_TRUE(waitUntil([&] { return fromTranscript() == 1; }));
    engine->stop();

    write(support + "/index.json", "{\"items\": [tr");
    engine = start(config());
    ASSERT_TRUE(waitForItem(real(path)));
    EXPECT_TRUE(waitUntil([&] { return fromTranscript() == 1; }));
    engine->stop();
    EXPECT_FALSE(QDir(support).entryList({"index.unreadable-*"}).isEmpty());
    EXPECT_TRUE(indexSources().contains(real(path)));
}

TEST_F(EngineCapture, RescansAfterLostEventsAndStillCapturesEveryFile) {
    LogCapture log;
    // A delivery gathers for half a second, and gives up past ten paths.
    timing.rootLatency = 0.5;
    timing.eventBatchLimit = 10;
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const int count = 150;
    for (int i = 0; i < count; ++i) {
        write(scratchFile(QString("page-%1.html").arg(i), "burst"), page(1000 + i));
    }
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == count; }, 15.0))
        << last().items.size();
    EXPECT_TRUE(log.contains("events dropped, rescanning "));
    qint64 rescans = 0;
    engine->queue()->sync([&] { rescans = engine->rescans(); });
    EXPECT_GE(rescans, 1);
}

TEST_F(EngineCapture, TheStampsOfHandledFilesAreForgottenAboveFiveThousand) {
    // Pages under the size floor: turned away at once, their stamps kept all the same.
    for (int i = 0; i < 5000; ++i) {
        write(scratchFile(QString("tiny-%1.html").arg(i)), "<p>");
        age(scratchFile(QString("tiny-%1.html").arg(i)), 60);
    }
    engine = start(config(), false);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const QString one = scratchFile("one-more.html");
    write(one, "<p>");
    age(one, 60);
    engine->queue()->sync([&] {
        ASSERT_EQ(engine->stampCount(), 5000);
        engine->applyRetention();
        EXPECT_EQ(engine->stampCount(), 5000);
        engine->ingestFile(real(one), Source::scratchpad, QString("s1"), QString("-work-proj"),
                           false);
        engine->applyRetention();
        EXPECT_EQ(engine->stampCount(), 0);
    });
}

TEST_F(EngineCapture, CapturesInWatchedFoldersAndTakesUpdates) {
    const QString docs = tmp.file("docs");
    const QString later = tmp.file("later");
    write(docs + "/old.pdf", page(20));
    write(later + "/already.pdf", page(21));
    auto c = config();
    c.watchedFolders = {docs};
    engine = start(c);
    ASSERT_TRUE(waitForItem(real(docs + "/old.pdf")));

    write(docs + "/sub/new.html", page(22));
    write(docs + "/.hidden.html", page(23));
    ASSERT_TRUE(waitForItem(real(docs + "/sub/new.html")));
    EXPECT_FALSE(itemFrom(real(docs + "/.hidden.html")).has_value());

    // A folder added by an update is scanned once; a smaller limit alone publishes again.
    c.watchedFolders = {docs, later};
    c.maxItems = 2;
    c.paths.supportDir = OstrelPaths::folderURL(tmp.file("ignored"));
    engine->update(c);
    ASSERT_TRUE(waitUntil([&] { return last().items.size() == 2; }));
    c.maxItems = 10;
    engine->update(c);
    ASSERT_TRUE(waitForItem(real(later + "/already.pdf")));
    EXPECT_EQ(last().items.size(), 3);
    engine->queue()->sync(
        [&] { EXPECT_EQ(engine->config().paths.supportDir, OstrelPaths::folderURL(support)); });
    write(later + "/watched.pdf", page(24));
    ASSERT_TRUE(waitForItem(real(later + "/watched.pdf")));
}

TEST_F(EngineCapture, AFileWrittenIntoAScannedFolderBeforeItsWatchIsAddedIsCaptured) {
    // Each watched folder's watches wait until the test has written into a folder that its scan
    // has already listed.
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        int arming = 0;
        int opened = 0;
    };
    const auto gate = std::make_shared<Gate>();
    timing.beforeFolderArming = [gate] {
        std::unique_lock hold(gate->lock);
        const int mine = gate->arming++;
        gate->changed.wait_for(hold, std::chrono::seconds(20), [&] { return gate->opened > mine; });
    };
    const auto open = [gate] {
        const std::lock_guard hold(gate->lock);
        ++gate->opened;
        gate->changed.notify_all();
    };
    const QString docs = tmp.file("docs");
    const QString later = tmp.file("later");
    write(docs + "/sub/old.pdf", page(40));
    write(later + "/sub/old.pdf", page(41));
    auto c = config();
    c.watchedFolders = {docs};
    engine = start(c);
    ASSERT_TRUE(waitForItem(real(docs + "/sub/old.pdf")));
    write(docs + "/sub/new.pdf", page(42));
    // Past the slack for coarse file times: only the moment the scan began lets it through.
    QThread::msleep(static_cast<unsigned long>((FileEventStream::changeTimeSlack + 0.2) * 1000));
    open();
    EXPECT_TRUE(waitForItem(real(docs + "/sub/new.pdf")));

    // A folder added in Settings.
    c.watchedFolders = {docs, later};
    engine->update(c);
    ASSERT_TRUE(waitForItem(real(later + "/sub/old.pdf")));
    write(later + "/sub/new.pdf", page(43));
    open();
    EXPECT_TRUE(waitForItem(real(later + "/sub/new.pdf")));
}

TEST_F(EngineCapture, BadInputCostsOneCaptureNeverTheEngine) {
    const QString outside = tmp.write("outside/secret.png", TestImages::png(64, 64, 30));
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));

    // A file that vanishes at once, a link into another folder, a dot-file, and a session
    // folder that is a file.
    const QString vanishing = scratchFile("gone.png");
    write(vanishing, TestImages::png(64, 64, 31));
    QFile::remove(vanishing);
    QFile::link(outside, scratchFile("link.png"));
    write(scratchFile(".hidden.png"), TestImages::png(64, 64, 32));
    write(scratch + "/-work-proj/s-file", "not a folder");
    // An unreadable scratchpad.
    write(scratchFile("locked.png", "s-locked"), TestImages::png(64, 64, 33));
    ::chmod(QFile::encodeName(QFileInfo(scratchFile("x", "s-locked")).absolutePath()).constData(),
            0);

    const QString good = scratchFile("good.png");
    write(good, TestImages::png(64, 64, 34));
    ASSERT_TRUE(waitForItem(real(good)));
    pump(0.2);
    for (const ShelfItem& item : last().items) {
        EXPECT_TRUE(item.sourcePath == real(good) ||
                    (::geteuid() == 0 && item.sourcePath->endsWith("locked.png")))
            << item.sourcePath->toStdString();
    }
    ::chmod(QFile::encodeName(QFileInfo(scratchFile("x", "s-locked")).absolutePath()).constData(),
            0700);
}

// A process at its limit of open files fails every open alike, each failure too small to log on
// its own: the log says it once, however many captures it costs.
TEST_F(EngineCapture, RunningOutOfFileDescriptorsIsSaidOnce) {
#ifdef OSTREL_UNDEFINED_BEHAVIOUR_CHECKS
    // The checker looks at an object's memory through a pipe of its own: with no descriptor left
    // it takes every object it checks for a broken one. The plain suite runs this.
    GTEST_SKIP() << "the undefined-behaviour checker needs descriptors of its own";
#endif
    const LogCapture log;
    QDir().mkpath(QFileInfo(scratchFile("x")).absolutePath());
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    // Written beforehand, and moved in by name, which takes no descriptor.
    const QString first = tmp.write("ready/first.png", TestImages::png(64, 64, 50));
    const QString second = tmp.write("ready/second.png", TestImages::png(64, 64, 51));
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    struct rlimit none = saved;
    none.rlim_cur = rlim_t(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    const auto said = [&] { return log.matching("files cannot be opened").size(); };
    ::rename(QFile::encodeName(first).constData(),
             QFile::encodeName(scratchFile("first.png")).constData());
    const bool saidOnce = waitUntil([&] { return said() > 0; }, 5);
    ::rename(QFile::encodeName(second).constData(),
             QFile::encodeName(scratchFile("second.png")).constData());
    pump(0.6);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_TRUE(saidOnce);
    EXPECT_EQ(said(), 1) << log.messages().join('\n').toStdString();
}

TEST_F(EngineCapture, AFileThatBecomesReadableOrCopyableIsCapturedWithoutARestart) {
    const QString docs = tmp.file("docs");
    QDir().mkpath(docs);
    auto c = config();
    c.watchedFolders = {docs};
    // Threads started from here on honour the modes of the files they read.
    test::ModesApply modes;
    engine = start(c);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));

    // Unreadable when it settles, then made readable: only an attribute event follows.
    const QString locked = scratchFile("locked.png");
    write(locked, TestImages::png(64, 64, 40));
    ::chmod(QFile::encodeName(locked).constData(), 0);
    pump(0.6);
    ASSERT_FALSE(itemFrom(real(locked)));
    ::chmod(QFile::encodeName(locked).constData(), 0600);
    EXPECT_TRUE(waitForItem(real(locked)));

    // A copy that cannot be written (the items folder is gone), then can: the next event in the
    // file's folder brings it in.
    const QString items = support + "/items";
    ASSERT_TRUE(QDir().rename(items, items + ".away"));
    write(items, "in the way");
    const QString blocked = docs + "/blocked.html";
    write(blocked, page(41));
    ASSERT_TRUE(waitUntil([&] {
        bool tried = false;
        engine->queue()->sync([&] { tried = engine->retryCount() == 1; });
        return tried;
    }));
    QFile::remove(items);
    ASSERT_TRUE(QDir().rename(items + ".away", items));
    write(docs + "/neighbour.txt", "an unrelated change in the same folder");
    EXPECT_TRUE(waitForItem(real(blocked)));
    engine->queue()->sync([&] { EXPECT_EQ(engine->retryCount(), 0); });
    engine->stop();
    engine.reset();
}

TEST_F(EngineCapture, AWatchedSubfolderThatBecomesReadableIsCapturedWithoutARestart) {
    const QString docs = tmp.file("docs");
    const QByteArray locked = QFile::encodeName(docs + "/locked");
    write(docs + "/locked/old.html", page(49));
    ::chmod(locked.constData(), 0);
    auto c = config();
    c.watchedFolders = {docs};
    test::ModesApply modes;
    engine = start(c);
    // The folder's watches are added on a thread of their own: once a file written beside it
    // is captured, they are in place.
    ASSERT_TRUE(waitUntil([&, n = 0]() mutable {
        write(docs + QString("/beside-%1.html").arg(n), page(100 + n));
        return waitForItem(real(docs) + QString("/beside-%1.html").arg(n++), 0.5);
    }));
    const qsizetype before = last().items.size();

    // Flipping between readable and not ten times a second while files arrive.
    QStringList expected{real(docs) + "/locked/old.html"};
    for (int i = 0; i < 10; ++i) {
        ::chmod(locked.constData(), i % 2 == 0 ? 0700 : 0);
        if (i % 2 == 0) {
            write(docs + QString("/locked/new-%1.html").arg(i), page(51 + i));
            expected.append(real(docs) + QString("/locked/new-%1.html").arg(i));
        }
        pump(0.1);
    }
    ::chmod(locked.constData(), 0700);

    // Reported while its folder was readable, looked at once it no longer was: it comes in once
    // the folder is readable again.
    std::atomic<bool> held{true};
    engine->queue()->async([&held] {
        while (held.load()) {
            QThread::msleep(1);
        }
    });
    write(docs + "/locked/late.html", page(70));
    expected.append(real(docs) + "/locked/late.html");
    pump(0.3);
    ::chmod(locked.constData(), 0);
    held = false;
    pump(0.3);
    ::chmod(locked.constData(), 0700);
    for (const QString& path : expected) {
        EXPECT_TRUE(waitForItem(path)) << path.toStdString();
    }
    pump(0.3);
    EXPECT_EQ(last().items.size(), before + expected.size());
    engine->stop();
    engine.reset();
}
