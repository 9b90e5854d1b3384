// Captures that wait: for room on the disk, for a transcript held back.
#include "EngineFixture.h"
#include "Platform/FileStat.h"
#include "support/FileSizeLimit.h"
#include "support/MountNamespace.h"

#include <optional>

using namespace ostrel;
using namespace ostrel::test;
using namespace ostrel::test::engine_tests;

using EngineCapture = EngineFixture;

// The items folder cannot take copies while a file stands in its place, nor while a link does,
// even one to that folder moved away.
class BlockedItems {
public:
    explicit BlockedItems(const QString& support, bool link = false) : items_(support + "/items") {
        EXPECT_TRUE(QDir().rename(items_, items_ + ".away"));
        if (link) {
            EXPECT_TRUE(QFile::link(items_ + ".away", items_));
            return;
        }
        QFile file(items_);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void release() {
        QFile::remove(items_);
        EXPECT_TRUE(QDir().rename(items_ + ".away", items_));
    }

private:
    QString items_;
};

TEST_F(EngineCapture, CapturesThatFailedForWantOfRoomComeInOnTheirOwnOnceThereIsRoom) {
    timing.retryInterval = 0.2;
    lines::Context c;
    const QString transcript = openSession(c, projects, "s7");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    test::LogCapture log;

    BlockedItems blocked(support);
    const QString shot = scratchFile("shot.png", "s7");
    write(shot, TestImages::png(64, 64, 70));
    const QByteArray firstLine = lines::prompt(c, "take a screenshot", "p-7");
    const QString inlineImage = QString::fromLatin1(TestImages::png(64, 64, 71).toBase64());
    lines::append(
        transcript,
        {firstLine,
         lines::toolResult(c, "toolu_7", QJsonArray{lines::imageBlock(inlineImage, "image/png")})});
    // The transcript's position stays at the line of the image that could not be kept.
    const QString real7 = real(transcript);
    ASSERT_TRUE(waitUntil([&] {
        bool failed = false;
        engine->queue()->sync([&] {
            failed = engine->retryCount() == 1 && engine->store()->offsets().contains(real7);
        });
        return failed;
    }));
    engine->queue()->sync(
        [&] { EXPECT_EQ(engine->store()->offsets().value(real7), quint64(firstLine.size() + 1)); });

    // Room again, and nothing else happens in either folder.
    blocked.release();
    ASSERT_TRUE(waitForItem(real(shot)));
    ASSERT_TRUE(waitUntil([&] {
        return std::any_of(last().items.begin(), last().items.end(), [](const ShelfItem& item) {
            return item.sourceKinds.count(Source::transcript) == 1;
        });
    }));
    engine->queue()->sync([&] {
        EXPECT_EQ(engine->store()->offsets().value(real7), quint64(QFileInfo(transcript).size()));
    });
    EXPECT_TRUE(waitUntil([&] { return log.matching("went through on another try").size() == 1; }));
}

// A page arriving in a watched folder while a link stands in place of the items folder is held,
// with the moment a later start would look back from, and taken once the folder is back; nothing
// is copied through the link meanwhile.
TEST_F(EngineCapture, ACaptureIsHeldWhileALinkStandsInPlaceOfTheItemsFolder) {
    timing.retryInterval = 0.2;
    auto c = config();
    c.watchedFolders = {tmp.file("docs")};
    QDir().mkpath(tmp.file("docs"));
    engine = start(c);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !moment(); }));
    BlockedItems blocked(support, true);
    const QString doc = tmp.file("docs/page.html");
    write(doc, page(91));
    ASSERT_TRUE(waitUntil([&] { return moment().has_value(); }));
    EXPECT_TRUE(QDir(support + "/items.away").entryList(QDir::Files).isEmpty());
    blocked.release();
    EXPECT_TRUE(waitForItem(real(doc)));
}

TEST_F(EngineCapture, AWaitingFileIsTriedAgainSoonAfterAnotherCaptureGoesThrough) {
    timing.retryInterval = 60; // the timer stays out of it
    lines::Context c;
    const QString transcript = openSession(c, projects, "s7");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const auto waiting = [&] {
        qsizetype n = 0;
        engine->queue()->sync([&] { n = engine->retryCount(); });
        return n;
    };

    // Room again, and a screenshot of the session comes in: so does the file of another session.
    BlockedItems blocked(support);
    const QString first = scratchFile("first.png", "s6");
    write(first, TestImages::png(64, 64, 60));
    ASSERT_TRUE(waitUntil([&] { return waiting() == 1; }));
    blocked.release();
    lines::append(transcript, {screenshotLine(c, 61)});
    EXPECT_TRUE(waitForItem(real(first), 5.0));

    // The same after a file of another session's scratchpad goes through.
    BlockedItems again(support);
    const QString second = scratchFile("second.png", "s6");
    write(second, TestImages::png(64, 64, 62));
    ASSERT_TRUE(waitUntil([&] { return waiting() == 1; }));
    again.release();
    write(scratchFile("third.png", "s8"), TestImages::png(64, 64, 63));
    EXPECT_TRUE(waitForItem(real(second), 5.0));
}

TEST_F(EngineCapture, AWaitingFileIsTriedAgainOnChangesInItsFolderButNotOnEach) {
    timing.retryInterval = 60;
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    LogCapture log;
    QLoggingCategory::setFilterRules("app.ostrel.*.debug=true");
    const auto tries = [&] { return log.matching(": copy failed").size(); };
    BlockedItems blocked(support);
    write(scratchFile("shot.png"), TestImages::png(64, 64, 64));
    ASSERT_TRUE(waitUntil([&] { return tries() >= 1; }));

    // The session writes on beside it while there is still no room: tried again, at most once
    // every half second.
    const qsizetype before = tries();
    QElapsedTimer writing;
    writing.start();
    for (int i = 0; i < 20; ++i) {
        write(scratchFile(QString(".note-%1").arg(i)), "notes");
        pump(0.05);
    }
    pump(0.6);
    const qint64 elapsed = writing.elapsed();
    EXPECT_GE(tries() - before, 1);
    EXPECT_LE(tries() - before, elapsed / 500 + 1);
}

TEST_F(EngineCapture, TheRetryWaitDoublesUpToAMinuteAndIsBackToHalfAMinuteOnceNothingWaits) {
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    BlockedItems blocked(support);
    const QString shot = scratchFile("shot.png");
    write(shot, TestImages::png(64, 64, 65));
    ASSERT_TRUE(waitUntil([&] {
        qsizetype n = 0;
        engine->queue()->sync([&] { n = engine->retryCount(); });
        return n == 1;
    }));
    // The timer's passes, one after the other, while there is no room.
    QList<double> waits;
    engine->queue()->sync([&] {
        waits.append(engine->retryDelay());
        for (int i = 0; i < 5; ++i) {
            engine->retryWaiting();
            waits.append(engine->retryDelay());
        }
    });
    EXPECT_EQ(waits, (QList<double>{30, 60, 60, 60, 60, 60}));

    blocked.release();
    engine->queue()->sync([&] {
        engine->retryWaiting();
        EXPECT_EQ(engine->retryCount(), 0);
        EXPECT_EQ(engine->retryDelay(), 30);
    });
}

TEST_F(EngineCapture, CapturesHeldForWantOfRoomComeInOnceTheStoreWritesAFileAgain) {
    timing.retryInterval = 60; // the timer stays out of it
    lines::Context c;
    const QString transcript = openSession(c, projects, "s7");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    BlockedItems blocked(support);
    const QString shot = scratchFile("shot.png", "s7");
    write(shot, TestImages::png(64, 64, 72));
    const QByteArray firstLine = lines::prompt(c, "take a screenshot", "p-7");
    lines::append(transcript, {firstLine, screenshotLine(c, 73)});
    ASSERT_TRUE(waitUntil([&] {
        bool held = false;
        engine->queue()->sync([&] {
            held =
                engine->retryCount() == 1 &&
                engine->store()->offsets().value(real(transcript)) == quint64(firstLine.size() + 1);
        });
        return held;
    }));

    // Room again, and nothing happens in either folder: the index's next write brings both in.
    blocked.release();
    engine->queue()->sync([&] { engine->store()->save(); });
    EXPECT_TRUE(waitForItem(real(shot), 3.0));
    EXPECT_TRUE(waitUntil([&] { return last().items.size() == 2; }, 3.0));

    // A transcript line held alone is woken by a write of the store as well.
    ASSERT_TRUE(waitUntil([&] { return !moment(); }));
    BlockedItems again(support);
    lines::append(transcript, {screenshotLine(c, 74)});
    ASSERT_TRUE(waitUntil([&] { return moment().has_value(); }));
    again.release();
    engine->queue()->sync([&] { engine->store()->save(); });
    EXPECT_TRUE(waitUntil([&] { return last().items.size() == 3; }, 3.0));
}

// A browser screenshot that arrived while the disk was wholly full, taken by no run before a kill
// or a quit, is taken by the next start however long after it comes; then no moment is kept. The
// moment goes into the room its file keeps as soon as the screenshot is held. (Where no file
// system can be mounted, a limit on the size of files stands in for the full disk.)
TEST_F(EngineCapture, AScreenshotHeldForWantOfRoomIsTakenByTheStartAfterAQuit) {
    timing.retryInterval = 60;
    const MountNamespace space;
    if (space.ok()) {
        QDir().mkpath(tmp.file("small"));
        ASSERT_TRUE(space.mountTmpfs(tmp.file("small"), "size=1m"));
        support = space.inside(tmp.file("small/support"));
        env.insert("OSTREL_SUPPORT_DIR", support);
    }
    const QString folder = temp + "/claude-chrome-screenshots-h";
    const QString shot = folder + "/screenshot-held.jpg";
    write(tmp.file("held.jpg"), TestImages::jpeg(80, 60, std::nullopt, 74));
    age(tmp.file("held.jpg"), 1200); // beyond the recent window a start looks back over
    QDir().mkpath(folder);
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return !moment(); }));
    {
        // No room for a copy or the index, nor for a new file where the disk is full.
        std::optional<test::FileSizeLimit> limit;
        if (space.ok()) {
            QFile filler(support + "/filler");
            ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
            const QByteArray block(65536, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        } else {
            limit.emplace(64);
        }
        ASSERT_TRUE(QDir().rename(tmp.file("held.jpg"), shot));
        const Date modified = FileStat::stat(shot)->modified;
        ASSERT_TRUE(waitUntil([&] { return moment() && *moment() <= modified; }));
        engine->stop();
    }
    engine.reset();
    QFile::remove(support + "/filler");

    engine = start(config(), false);
    EXPECT_TRUE(waitForItem(real(shot)));
    EXPECT_TRUE(waitUntil([&] { return !moment(); }));
}

// Once a capture held for want of room has gone through and an index holding it is written, the
// moment kept for it goes: later starts look back over their recent window only.
TEST_F(EngineCapture, TheMomentKeptForAHeldCaptureGoesOnceTheIndexHoldsIt) {
    timing.retryInterval = 60; // the timer stays out of it
    const QString shot = temp + "/claude-chrome-screenshots-g/screenshot-g.jpg";
    QDir().mkpath(QFileInfo(shot).absolutePath());
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !moment(); }));
    BlockedItems blocked(support);
    write(shot, TestImages::jpeg(80, 60, std::nullopt, 75));
    ASSERT_TRUE(waitUntil([&] { return moment().has_value(); }));
    blocked.release();
    engine->queue()->sync([&] { engine->store()->save(); });
    ASSERT_TRUE(waitForItem(real(shot)));
    EXPECT_TRUE(waitUntil([&] { return !moment(); }));
}

// An engine started again (its folders changed) while a capture is held keeps the moment kept for
// it, never one of its own later start: the capture, older than the recent window, is still
// taken by the start after that engine's quit.
TEST_F(EngineCapture, AnEngineStartedAgainWhileACaptureIsHeldKeepsItsMoment) {
    timing.retryInterval = 60;
    const QString shot = temp + "/claude-chrome-screenshots-r/screenshot-r.jpg";
    QDir().mkpath(QFileInfo(shot).absolutePath());
    write(tmp.file("held.jpg"), TestImages::jpeg(80, 60, std::nullopt, 76));
    age(tmp.file("held.jpg"), 1200);
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !moment(); }));
    BlockedItems blocked(support);
    ASSERT_TRUE(QDir().rename(tmp.file("held.jpg"), shot));
    ASSERT_TRUE(waitUntil([&] { return moment().has_value(); }));
    const std::optional<Date> kept = moment();
    engine->stop();
    blocked.release();

    // Blocked again once the new store has its folders: a file in their place at load is set
    // aside.
    std::optional<BlockedItems> again;
    auto c = config();
    c.watchedFolders = {tmp.file("docs")};
    engine = start(c, true, [&](Engine&) { again.emplace(support); });
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    EXPECT_EQ(moment(), kept);
}

TEST_F(EngineCapture, ATranscriptLineHeldForWantOfRoomIsReadByAStartLongAfterAQuit) {
    lines::Context c;
    const QString transcript = openSession(c, projects, "s8");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !moment(); }));
    BlockedItems blocked(support);
    const QByteArray firstLine = lines::prompt(c, "one", "p-8");
    lines::append(transcript, {firstLine, screenshotLine(c, 82)});
    ASSERT_TRUE(waitUntil([&] {
        bool held = false;
        engine->queue()->sync([&] {
            held =
                engine->store()->offsets().value(real(transcript)) == quint64(firstLine.size() + 1);
        });
        return held;
    }));
    engine->stop();
    engine.reset();
    blocked.release();

    // A quarter of an hour later by the engine's clock, the transcript unchanged since.
    clock = [] { return Date::now().adding(900); };
    engine = start(config(), false);
    EXPECT_TRUE(waitUntil([&] { return last().items.size() == 1; }));
}

TEST_F(EngineCapture, TwoCapturesFailingInOneReadHoldTheFirstOnesLine) {
    lines::Context c;
    const QString transcript = openSession(c, projects, "s7");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    BlockedItems blocked(support);
    LogCapture log;
    QLoggingCategory::setFilterRules("app.ostrel.*.debug=true");
    // Written at once, so that one read finds both.
    const QByteArray first = lines::prompt(c, "two screenshots", "p-7");
    lines::appendRaw(transcript,
                     first + '\n' + screenshotLine(c, 66) + '\n' + screenshotLine(c, 67) + '\n');
    ASSERT_TRUE(waitUntil([&] { return log.matching(": copy failed").size() >= 2; }));
    engine->queue()->sync([&] {
        EXPECT_EQ(engine->store()->offsets().value(real(transcript)), quint64(first.size() + 1));
    });
}

// A transcript held at a line whose picture could not be kept: the picture is decoded again in
// each read of it, which notes when.
class EngineHeldTranscript : public EngineFixture {
protected:
    std::mutex lock;
    std::vector<std::chrono::steady_clock::time_point> reads;
    std::atomic<int> slowMs{0};
    lines::Context c;
    QString transcript;
    std::optional<BlockedItems> blocked;

    void SetUp() override {
        EngineFixture::SetUp();
        timing.duringRead = [this](const QString&) {
            {
                std::lock_guard guard(lock);
                reads.push_back(std::chrono::steady_clock::now());
            }
            QThread::msleep(static_cast<unsigned long>(slowMs.load()));
        };
        timing.retryInterval = 60; // only its own changes read it
        transcript = openSession(c, projects, "s9");
        engine = start(config());
        ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
        blocked.emplace(support);
        lines::append(transcript, {screenshotLine(c, 68)});
        // The first read fails and holds the transcript: every read after it is a held read.
        ASSERT_TRUE(waitUntil([&] { return count() >= 1; }));
    }

    std::size_t count() {
        std::lock_guard guard(lock);
        return reads.size();
    }
    // Seconds between each read from the `from`th on and the one before it.
    std::vector<double> gaps(std::size_t from) {
        std::lock_guard guard(lock);
        std::vector<double> out;
        for (std::size_t i = std::max<std::size_t>(from, 1); i < reads.size(); ++i) {
            out.push_back(std::chrono::duration<double>(reads[i] - reads[i - 1]).count());
        }
        return out;
    }
    // The session writes on, a line every few hundredths of a second.
    bool writeOn(const std::function<bool()>& until, int most = 400) {
        for (int i = 0; i < most && !until(); ++i) {
            lines::append(transcript, {lines::assistantText(c, QString("step %1").arg(i))});
            pump(0.03);
        }
        return until();
    }
};

TEST_F(EngineHeldTranscript, IsReadAgainNoSoonerThanHalfASecondOrTwentyTimesItsLastRead) {
    // Quick reads: half a second apart at least, however often the session writes.
    ASSERT_TRUE(writeOn([&] { return count() >= 4; }));
    for (const double gap : gaps(2)) {
        EXPECT_GE(gap, 0.5);
    }
    // Reads of a twentieth of a second: a second apart at least.
    slowMs = 50;
    const std::size_t slow = count();
    ASSERT_TRUE(writeOn([&] { return count() >= slow + 3; }));
    for (const double gap : gaps(slow + 1)) {
        EXPECT_GE(gap, 1.0);
    }
}

TEST_F(EngineHeldTranscript, HasOneTimerHoweverManyChangesArrive) {
    // A burst of changes: one read at once, one when the wait after it ends, however many changes
    // came meanwhile, and then nothing more until the session writes again.
    writeOn([] { return false; }, 10);
    ASSERT_TRUE(waitUntil([&] { return count() >= 2; }));
    pump(2.0);
    const std::size_t settled = count();
    pump(2.0);
    EXPECT_EQ(count(), settled);
}

TEST_F(EngineCapture, AHeldTranscriptIsReadAgainSoonOnItsOwnChangesButNotOnEach) {
    lines::Context c;
    const QString transcript = openSession(c, projects, "s9");
    engine = start(config());
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    const auto screenshot = [&](int seed) {
        return lines::toolResult(
            c, QString("toolu_9_%1").arg(seed),
            QJsonArray{lines::imageBlock(
                QString::fromLatin1(TestImages::png(64, 64, seed).toBase64()), "image/png")});
    };
    const auto transcriptItems = [&] {
        return std::count_if(last().items.begin(), last().items.end(), [](const ShelfItem& item) {
            return item.sourceKinds.count(Source::transcript) == 1;
        });
    };

    BlockedItems blocked(support);
    const QByteArray firstLine = lines::prompt(c, "take screenshots", "p-9");
    lines::append(transcript, {firstLine, screenshot(90)});
    const QString real9 = real(transcript);
    ASSERT_TRUE(waitUntil([&] {
        bool held = false;
        engine->queue()->sync([&] {
            held = engine->store()->offsets().value(real9) == quint64(firstLine.size() + 1);
        });
        return held;
    }));
    // The session goes on writing while the cause lasts: not every line reads it again.
    const auto reads = [&] {
        qint64 n = 0;
        engine->queue()->sync([&] { n = engine->heldReads(); });
        return n;
    };
    QElapsedTimer writing;
    writing.start();
    for (int i = 0; i < 20; ++i) {
        lines::append(transcript, {lines::assistantText(c, QString("step %1").arg(i))});
        pump(0.05);
    }
    const qint64 before = reads();
    EXPECT_LE(before, writing.elapsed() / 500 + 2);
    lines::append(transcript, {lines::assistantText(c, "one more step")});
    ASSERT_TRUE(waitUntil([&] { return reads() > before; }));

    // Room again, just after a read: the next line brings in the held one with it, long before
    // the retry timer.
    blocked.release();
    lines::append(transcript, {screenshot(91)});
    EXPECT_TRUE(waitUntil([&] { return transcriptItems() == 2; }, 3.0));
}

TEST_F(EngineCapture, AScreenshotThatOnlyATranscriptHeldIsCapturedByTheNextStartOnceThereIsRoom) {
    lines::Context c;
    const QString transcript = openSession(c, projects, "s8");
    lines::append(
        transcript,
        {lines::prompt(c, "one", "p-8"),
         lines::toolResult(
             c, "toolu_8",
             QJsonArray{lines::imageBlock(
                 QString::fromLatin1(TestImages::png(64, 64, 80).toBase64()), "image/png")})});
    // Blocked once the store has its folders: a file in their place at load is set aside.
    std::optional<BlockedItems> blocked;
    engine = start(config(), false, [&](Engine&) { blocked.emplace(support); });
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    engine->stop();
    ASSERT_TRUE(last().items.isEmpty());

    blocked->release();
    engine = start(config(), false);
    EXPECT_TRUE(waitUntil([&] { return last().items.size() == 1; }));
}

// A journal of captures with no room for another note (no index could be written for long): a
// new capture is held before a byte of it is read, and comes in once an index is written.
TEST_F(EngineCapture, ACaptureTheJournalHasNoRoomForIsHeldUnreadUntilAnIndexIsWritten) {
    timing.retryInterval = 60; // the timer stays out of it
    write(support + "/captures.jsonl", QByteArray(Store::journalEntryLimit, '\n'));
    const QString docs = tmp.file("docs");
    QDir().mkpath(docs);
    auto c = config();
    c.watchedFolders = {docs};
    engine = start(c);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !engineScans(); }));
    // Last read two days ago: a read would bring its access time to now.
    const QString picture = docs + "/picture.png";
    write(tmp.file("picture.png"), TestImages::png(64, 64, 91));
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[1]);
    times[0] = times[1];
    times[0].tv_sec -= 2 * 86400;
    ::utimensat(AT_FDCWD, QFile::encodeName(tmp.file("picture.png")).constData(), times, 0);
    ASSERT_TRUE(QDir().rename(tmp.file("picture.png"), picture));
    ASSERT_TRUE(waitUntil([&] {
        qsizetype held = 0;
        engine->queue()->sync([&] { held = engine->retryCount(); });
        return held == 1;
    }));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(picture).constData(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
    engine->queue()->sync([&] { engine->store()->save(); });
    EXPECT_TRUE(waitForItem(real(picture)));
}

// A watched folder's file turned away by the retry limit, an hour before room returns, with the
// one file held in its way gone by then. The engine's clock moves a little at every reading.
class EngineLookBack : public EngineFixture {
protected:
    std::atomic<double> later{0};
    std::atomic<int> readings{0};
    QString docs, away;
    Date modified;
    std::optional<BlockedItems> blocked;

    void SetUp() override {
        EngineFixture::SetUp();
        clock = [this] { return Date(Date::now().seconds + later + 0.001 * ++readings); };
        timing.retryInterval = 3600; // the timer stays out of it
        timing.retryLimit = 1;
        docs = tmp.file("docs");
        QDir().mkpath(docs + "/locked");
    }

    // Turns `away` away: its date known (its copy found no room) or not (its folder could not be
    // searched).
    void turnAway(bool dateKnown) {
        auto c = config();
        c.watchedFolders = {docs};
        engine = start(c, false);
        ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !engineScans(); }));
        blocked.emplace(support);
        const QString held = docs + "/held.html";
        write(held, page(130));
        engine->queue()->sync([&] { engine->ingestFile(held, Source::folder, {}, {}, false); });
        ASSERT_TRUE(waitUntil([&] {
            qsizetype n = 0;
            engine->queue()->sync([&] { n = engine->retryCount(); });
            return n == 1;
        }));
        away = docs + (dateKnown ? "/away.html" : "/locked/away.html");
        write(away, page(131));
        modified = FileStat::stat(away)->modified;
        const QByteArray locked = QFile::encodeName(docs + "/locked");
        ::chmod(locked.constData(), dateKnown ? 0700 : 0);
        const LogCapture log;
        engine->queue()->sync([&] { engine->ingestFile(away, Source::folder, {}, {}, false); });
        ASSERT_TRUE(waitUntil([&] { return log.matching("the most kept").size() == 1; }));
        ::chmod(locked.constData(), 0700);
        later = 3600;
        ASSERT_TRUE(QFile::remove(held));
        blocked->release();
    }
};

// The look back reaches the earliest file turned away: from when it was turned away where its
// date was not known, and through a scan of its folder already under way, which widens to the
// look back's reach.
TEST_F(EngineLookBack, FindsTheFileFromWhenItWasTurnedAway) {
    for (const bool dateKnown : {false, true}) {
        SCOPED_TRACE(dateKnown ? "its date known, a scan under way" : "its date not known");
        const test::ModesApply modes;
        turnAway(dateKnown);
        engine->queue()->sync([&] {
            if (dateKnown) {
                engine->scanFolder(real(docs));
            }
            engine->retryWaiting();
        });
        EXPECT_TRUE(waitForItem(real(away)));
        engine->stop();
        engine.reset();
        QDir(support).removeRecursively();
        QDir(docs).removeRecursively();
        QDir().mkpath(docs + "/locked");
        later = 0;
    }
}

// A quit while the look back's scans are under way leaves the moment it looks back from for the
// next start.
TEST_F(EngineLookBack, KeepsItsMomentUntilItsScansAreThrough) {
    turnAway(true);
    engine->queue()->sync([&] {
        engine->retryWaiting();
        engine->stop();
    });
    ASSERT_TRUE(moment());
    EXPECT_LE(*moment(), modified);
}

// Past the limit of files kept for another try, the others are kept only as a moment to look back
// to, on their roads: the store keeps it for a start after a quit, and once room returns a look
// over their folders takes them in the same run, however old they are; then the moment goes. The
// log says it once.
TEST_F(EngineCapture, FilesPastTheRetryLimitAreTakenByALookBackOnceThereIsRoom) {
    timing.retryInterval = 60; // the timer stays out of it
    timing.retryLimit = 2;
    const QString docs = tmp.file("docs");
    QDir().mkpath(docs);
    QDir().mkpath(temp + "/claude-chrome-screenshots-l");
    QDir().mkpath(QFileInfo(scratchFile("away.png")).absolutePath());
    auto c = config();
    c.watchedFolders = {docs};
    engine = start(c);
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty() && !engineScans() && !moment(); }));
    LogCapture log;
    QLoggingCategory::setFilterRules("app.ostrel.*.debug=true");
    const auto held = [&] {
        qsizetype n = 0;
        engine->queue()->sync([&] { n = engine->retryCount(); });
        return n;
    };
    const auto arrive = [&](const QString& at, const QByteArray& bytes, int age) {
        write(tmp.file("arriving"), bytes);
        engine_tests::age(tmp.file("arriving"), age);
        EXPECT_TRUE(QDir().rename(tmp.file("arriving"), at));
        return at;
    };

    BlockedItems blocked(support);
    QStringList files{arrive(docs + "/held-1.png", TestImages::png(64, 64, 120), 0),
                      arrive(docs + "/held-2.png", TestImages::png(64, 64, 121), 0)};
    ASSERT_TRUE(waitUntil([&] { return held() == 2; }));
    // Modified twenty minutes ago, beyond the recent window, one road after the other. The
    // scratch file keeps no moment: a start lists every scratch file.
    files += arrive(scratchFile("away.png"), TestImages::png(64, 64, 122), 1200);
    ASSERT_TRUE(waitUntil([&] { return log.matching("the most kept").size() == 1; }));
    files += arrive(docs + "/away.png", TestImages::png(64, 64, 123), 1200);
    const auto keptFor = [&](const QString& file) {
        const Date modified = FileStat::stat(file)->modified;
        return waitUntil([&] { return moment() && *moment() <= modified; });
    };
    ASSERT_TRUE(keptFor(files.last()));
    files += arrive(temp + "/claude-chrome-screenshots-l/screenshot-away.jpg",
                    TestImages::jpeg(80, 60, std::nullopt, 124), 1300);
    ASSERT_TRUE(keptFor(files.last()));
    EXPECT_EQ(held(), 2);

    blocked.release();
    engine->queue()->sync([&] { engine->store()->save(); });
    for (const QString& file : files) {
        EXPECT_TRUE(waitForItem(real(file))) << file.toStdString();
    }
    EXPECT_TRUE(waitUntil([&] { return !moment(); }));
    EXPECT_EQ(log.matching("the most kept").size(), 1);
}
