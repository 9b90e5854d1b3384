// An engine process killed at any moment of its first start: the index it leaves must parse and
// name only copies that are there and hold their content, and later starts must finish the job
// with every file captured exactly once.
#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/Store.h"
#include "TestImages.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

class EngineCrash : public ::testing::Test {
protected:
    TempDir tmp;
    QString claude = tmp.file("claude");
    QString scratch = tmp.file("scratch");
    QString support = tmp.file("support");
    QString chrome = tmp.file("tmp");
    QStringList files;

    // Files still to come, dealt out a few per start.
    QList<std::pair<QString, QByteArray>> pending;

    void SetUp() override {
        QDir().mkpath(claude + "/projects");
        QDir().mkpath(chrome);
        QDir().mkpath(scratch);
        ::chmod(QFile::encodeName(scratch).constData(), 0700);
        // Pictures that take real decoding, one with the bytes of another in a second session
        // (a merge), and pages that are copied as streams.
        for (int i = 0; i < 48; ++i) {
            const QString folder = scratch + QStringLiteral("/-u-proj/s%1/scratchpad/").arg(i % 3);
            if (i % 12 == 11) {
                QByteArray page = "<html><head><title>page</title></head><body>";
                page += QByteArray(4000 + i, char('a' + i % 20));
                pending.append({folder + QStringLiteral("page-%1.html").arg(i), page});
            } else if (i == 30) {
                pending.append({folder + "again.png", TestImages::png(400, 300, 1)});
            } else {
                pending.append({folder + QStringLiteral("shot-%1.png").arg(i),
                                TestImages::png(400 + i, 300, static_cast<quint32>(i + 1))});
            }
        }
        deal(8);
    }

    void deal(int count) {
        for (int i = 0; i < count && !pending.isEmpty(); ++i) {
            const auto [path, bytes] = pending.takeFirst();
            write(path, bytes);
        }
    }

    void write(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        // Older than the settle interval, so the first start admits it at once.
        timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec -= 30;
        times[1] = times[0];
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        files.append(path);
    }

    QProcess* launch() {
        auto* process = new QProcess;
        process->setProgram(QStringLiteral(OSTREL_ENGINE_RUN));
        process->setArguments({claude, scratch, support, chrome});
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start();
        process->waitForStarted();
        return process;
    }

    struct Run {
        QProcess::ExitStatus status = QProcess::CrashExit;
        int code = -1;
        QString log;
    };
    // One start to its end; with a file name, it crashes as it reads a picture of that name.
    Run run(const QStringList& crashOn = {}) {
        QProcess process;
        process.setProgram(QStringLiteral(OSTREL_ENGINE_RUN));
        process.setArguments(QStringList{claude, scratch, support, chrome} + crashOn);
        process.start();
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus(), process.exitCode(),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QStringList indexed() {
        bool parsed = false;
        QStringList sources;
        for (const ShelfItem& item : index(&parsed).value_or(Store::Index()).items) {
            sources.append(item.sourcePath.value_or(QString()));
        }
        return sources;
    }

    // What the index on disk says; a missing index names nothing.
    std::optional<Store::Index> index(bool* parsed) {
        *parsed = true;
        QFile file(support + "/index.json");
        if (!file.exists()) {
            return std::nullopt;
        }
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        auto decoded = Store::Index::decode(file.readAll());
        *parsed = decoded.has_value();
        return decoded;
    }

    int nonEmptyIndexes = 0;

    // Every item the index names has its copy, holding the bytes its id was made from.
    void expectSoundIndex(const QString& when) {
        bool parsed = false;
        const auto decoded = index(&parsed);
        ASSERT_TRUE(parsed) << qPrintable(when);
        if (!decoded) {
            return;
        }
        nonEmptyIndexes += decoded->items.isEmpty() ? 0 : 1;
        for (const ShelfItem& item : decoded->items) {
            ASSERT_TRUE(item.fileURL.has_value()) << qPrintable(when);
            QFile copy(item.fileURL->toLocalFile());
            ASSERT_TRUE(copy.open(QIODevice::ReadOnly))
                << qPrintable(when) << " " << qPrintable(copy.fileName());
            EXPECT_EQ(Hex::sha256(copy.readAll()), Store::contentKey(item.id)) << qPrintable(when);
        }
    }
};

TEST_F(EngineCrash, KilledAnywhereInTheFirstStartLeavesASoundIndexAndLosesNothing) {
    // How long one start takes here, to spread the kills over it.
    QElapsedTimer timer;
    timer.start();
    {
        std::unique_ptr<QProcess> whole(launch());
        ASSERT_TRUE(whole->waitForFinished(60000));
        ASSERT_EQ(whole->exitCode(), 0);
    }
    qint64 span = std::max<qint64>(timer.elapsed(), 50);
    expectSoundIndex("after a whole start");

    // Each start finds a few new files beside those an earlier start stored (or was killed
    // storing), and is killed at a random moment: while it reads, copies, syncs or writes. A
    // start that ends before its moment tells how long one takes now, on a machine whose load
    // comes and goes: the later moments are spread over that.
    QRandomGenerator random(QRandomGenerator::global()->generate());
    int killedMidway = 0;
    for (int round = 0; round < 24; ++round) {
        deal(2);
        std::unique_ptr<QProcess> process(launch());
        // Taken at once: after the child ends the process id reads 0, and kill(0) would take
        // this whole process group down.
        const auto pid = static_cast<pid_t>(process->processId());
        ASSERT_GT(pid, 0);
        QElapsedTimer running;
        running.start();
        const bool ended = process->waitForFinished(static_cast<int>(random.bounded(span)));
        if (ended) {
            span = std::max<qint64>(running.elapsed(), 50);
        }
        const bool stillRunning = !ended && process->state() == QProcess::Running;
        if (stillRunning) {
            ::kill(pid, SIGKILL);
            ASSERT_TRUE(process->waitForFinished(10000));
        }
        killedMidway += stillRunning ? 1 : 0;
        if (!stillRunning) {
            // That start was timed while the machine was busier: the next kills come sooner.
            span = std::max<qint64>(span * 3 / 4, 50);
        }
        expectSoundIndex(QStringLiteral("after kill %1").arg(round));
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_GT(killedMidway, 8);
    EXPECT_GT(nonEmptyIndexes, 12);

    // A start left alone finishes the job: every file once, nothing twice.
    std::unique_ptr<QProcess> last(launch());
    ASSERT_TRUE(last->waitForFinished(60000));
    ASSERT_EQ(last->exitCode(), 0);
    expectSoundIndex("at the end");
    bool parsed = false;
    const auto decoded = index(&parsed);
    ASSERT_TRUE(decoded);
    QStringList sources;
    for (const ShelfItem& item : decoded->items) {
        ASSERT_TRUE(item.sourcePath.has_value());
        sources.append(*item.sourcePath);
    }
    // "again.png" holds the bytes of "shot-0.png": one item for the two files.
    QSet<QString> expected;
    for (const QString& file : files) {
        expected.insert(QFileInfo(file).canonicalFilePath());
    }
    const QSet<QString> unique(sources.begin(), sources.end());
    EXPECT_EQ(unique.size(), sources.size());
    EXPECT_EQ(sources.size(), files.size() - 1);
    EXPECT_TRUE(expected.contains(unique));
    // No copy is left over beside the ones the index names.
    const QStringList copies = QDir(support + "/items").entryList(QDir::Files);
    EXPECT_EQ(copies.size(), decoded->items.size()) << qPrintable(copies.join(", "));
}

} // namespace
} // namespace ostrel::test

namespace ostrel::test {
namespace {

TEST_F(EngineCrash, AFileWhoseReadCrashedTheProcessIsSetAsideByTheNextStartAndOnlyIt) {
    QStringList others;
    for (const QString& file : files) {
        others.append(QFileInfo(file).canonicalFilePath());
    }
    const QString planted = scratch + "/-u-proj/s1/scratchpad/planted.png";
    write(planted, TestImages::png(320, 200, 99));
    const QString real = QFileInfo(planted).canonicalFilePath();

    // Sent a crash signal by another process as it reads the picture, the process still ends
    // (by the signal, or by a sanitizer's exit), and the picture was not what brought it down:
    // the next start reads it again.
    const Run killed = run({"planted.png", "killed"});
    ASSERT_TRUE(killed.status == QProcess::CrashExit || killed.code != 0)
        << killed.log.toStdString();

    // The planted picture brings the process down, whatever else it was reading meanwhile.
    ASSERT_EQ(run({"planted.png"}).status, QProcess::CrashExit);

    // The next start never reads it (it would crash again), says so once, and takes the rest.
    const Run next = run({"planted.png"});
    ASSERT_EQ(next.status, QProcess::NormalExit) << next.log.toStdString();
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(next.log.count("set aside"), 1) << next.log.toStdString();
    EXPECT_TRUE(next.log.contains("set aside " + real)) << next.log.toStdString();
    QStringList stored = indexed();
    stored.sort();
    others.sort();
    EXPECT_EQ(stored, others);
    const Run later = run({"planted.png"});
    EXPECT_EQ(later.status, QProcess::NormalExit);
    EXPECT_FALSE(later.log.contains("set aside")) << later.log.toStdString();

    // Changed, it is another file, and is read again.
    write(planted, TestImages::png(320, 200, 100));
    EXPECT_EQ(run().status, QProcess::NormalExit);
    EXPECT_TRUE(indexed().contains(real));
}

} // namespace
} // namespace ostrel::test
