// The real binary ended by a signal in the middle of a long first start: it stops at the next
// batch, keeps what it captured, and later starts take the rest, nothing twice and nothing lost.
#include "support/NoisePicture.h"
#include "support/Wait.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

using namespace ostrel::test;

namespace {

class ShutdownEndToEnd : public ::testing::Test {
protected:
    static constexpr int count = 10000;
    // In memory where the machine has room for it: ten thousand files on a loaded disk would
    // cost the test minutes, none of which says anything about shutting down.
    QTemporaryDir root{(QDir("/dev/shm").exists() ? QString("/dev/shm") : QDir::tempPath()) +
                       "/ostrel-shutdown-XXXXXX"};
    QString support = root.filePath("support");
    std::unique_ptr<QProcess> app;

    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* folder : {"home", "claude/projects", "tmp", "support"}) {
            QDir().mkpath(root.filePath(folder));
        }
        QByteArray picture;
        QBuffer buffer(&picture);
        buffer.open(QIODevice::WriteOnly);
        noisePicture(48, 48, 7).save(&buffer, "PNG");
        // Settled long ago, so that the start admits every file at once.
        timespec old[2];
        clock_gettime(CLOCK_REALTIME, &old[0]);
        old[0].tv_sec -= 60;
        old[1] = old[0];
        for (int i = 0; i < count; ++i) {
            const QString folder =
                root.filePath(QString("scratch/-work-proj/s%1/scratchpad").arg(i % 20));
            QDir().mkpath(folder);
            const QString path = folder + QString("/shot-%1.png").arg(i);
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            // Bytes after the picture's end make each file's content its own.
            file.write(picture + QByteArray::number(i).rightJustified(8, '0'));
            file.close();
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), old, 0);
        }
        ::chmod(QFile::encodeName(root.filePath("scratch")).constData(), 0700);
    }

    void TearDown() override {
        if (app && app->state() != QProcess::NotRunning) {
            app->kill();
            app->waitForFinished(10000);
        }
    }

    void launch() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", root.filePath("home"));
        for (const char* name : {"CONFIG", "DATA", "CACHE", "STATE", "RUNTIME"}) {
            env.insert(QString("XDG_%1_HOME").arg(name), root.filePath(QString("home/") + name));
        }
        env.insert("XDG_RUNTIME_DIR", root.filePath("home/RUNTIME"));
        env.insert("TMPDIR", root.filePath("tmp"));
        env.insert("OSTREL_SUPPORT_DIR", support);
        env.insert("OSTREL_SCRATCH_ROOT", root.filePath("scratch"));
        env.insert("OSTREL_CLAUDE_HOME", root.filePath("claude"));
        app = std::make_unique<QProcess>();
        app->setProcessEnvironment(env);
        // A line for every capture: kept aside, for a failure to be looked into.
        app->setStandardOutputFile(root.filePath("log"), QIODevice::Append);
        app->setStandardErrorFile(root.filePath("log"), QIODevice::Append);
        app->start(OSTREL_BINARY, {});
        ASSERT_TRUE(app->waitForStarted(10000));
        // Until main has blocked them, these signals end the process before any of its code runs,
        // which says nothing about shutting down: wait for the mask, and for a thread of ours
        // (each is started after the mask is set).
        const QString status = QString("/proc/%1/status").arg(app->processId());
        ASSERT_TRUE(waitUntil(
            [&] {
                QFile file(status);
                if (!file.open(QIODevice::ReadOnly)) {
                    return false;
                }
                quint64 blocked = 0;
                int threads = 0;
                for (const QByteArray& line : file.readAll().split('\n')) {
                    if (line.startsWith("SigBlk:")) {
                        blocked = line.mid(7).trimmed().toULongLong(nullptr, 16);
                    } else if (line.startsWith("Threads:")) {
                        threads = line.mid(8).trimmed().toInt();
                    }
                }
                return threads > 1 && (blocked & (1ULL << (SIGTERM - 1))) != 0;
            },
            30));
    }

    // Sends the signal and waits for the process to end; the seconds it took.
    double end(int signal) {
        QElapsedTimer timer;
        timer.start();
        ::kill(static_cast<pid_t>(app->processId()), signal);
        EXPECT_TRUE(app->waitForFinished(60000));
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        EXPECT_EQ(app->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app->exitCode(), 0);
        return seconds;
    }

    qsizetype copies() const { return QDir(support + "/items").entryList(QDir::Files).size(); }

    // The source paths the index on disk names, in its order.
    QStringList indexed() const {
        QFile file(support + "/index.json");
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        QStringList sources;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        EXPECT_TRUE(document.isObject());
        for (const QJsonValue& item : document.object().value("items").toArray()) {
            sources.append(item.toObject().value("sourcePath").toString());
        }
        return sources;
    }

    // A last start left to finish, then ended: every file once, and a copy for each.
    double finish() {
        launch();
        EXPECT_TRUE(waitUntil([&] { return indexed().size() == count; }, 100));
        const double idle = end(SIGTERM);
        const QStringList sources = indexed();
        EXPECT_EQ(sources.size(), count);
        EXPECT_EQ(QSet<QString>(sources.begin(), sources.end()).size(), count);
        EXPECT_EQ(copies(), count);
        return idle;
    }
};

TEST_F(ShutdownEndToEnd, ASignalDuringALongFirstStartEndsItWithinABatch) {
    launch();
    ASSERT_TRUE(waitUntil([&] { return copies() >= 100; }, 60));
    const qsizetype before = copies();
    const double busy = end(SIGTERM);
    // The batch under way is finished and written, the thousands after it are left. Captures
    // go on until the main thread reads the signal, which a loaded machine may hold back for a
    // few tenths of a second: thousands at this pace, never most of the start.
    const qsizetype kept = indexed().size();
    EXPECT_GE(kept, before);
    EXPECT_LE(kept - before, count / 2);
    EXPECT_EQ(copies(), kept);

    // The same process ending with nothing to capture is the measure of the signal's cost.
    const double idle = finish();
    EXPECT_LT(busy, idle + 1.0) << "busy " << busy << " s, idle " << idle << " s";
}

TEST_F(ShutdownEndToEnd, SignalsAtRandomMomentsOfAFirstStartLoseNothingAndTakeNothingTwice) {
    QRandomGenerator random(QRandomGenerator::global()->generate());
    const int endings[] = {SIGTERM, SIGINT, SIGHUP};
    for (int round = 0; round < 6; ++round) {
        launch();
        QThread::usleep(random.bounded(1500000u));
        end(endings[round % 3]);
        const QStringList sources = indexed();
        EXPECT_EQ(QSet<QString>(sources.begin(), sources.end()).size(), sources.size());
        EXPECT_EQ(copies(), sources.size());
        if (HasFailure()) {
            return;
        }
    }
    finish();
}

} // namespace
