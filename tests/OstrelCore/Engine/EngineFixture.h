#pragma once

// The engine over a temporary tree of its own, shared by the engine's test files.
#include "OstrelCore/Engine/Engine.h"
#include "TestImages.h"
#include "TranscriptLines.h"
#include "support/AsUser.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/Wait.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace ostrel::test {

// Everything the engine reads and writes, in one temporary tree: Claude Code's home, the scratch
// root, the temporary folder (the screenshot root) and the support folder, given to the engine
// through the environment it is configured with, never the process's.
class EngineFixture : public ::testing::Test {
protected:
    TempDir tmp;
    QString claude, projects, scratch, temp, support;
    Environment env;
    EngineTiming timing;
    Clock clock = &Date::now;
    std::vector<std::pair<Snapshot, Engine::Generation>> snapshots;
    std::shared_ptr<Engine> engine;

    void SetUp() override {
        claude = tmp.file("claude");
        projects = claude + "/projects";
        scratch = tmp.file("scratch");
        temp = tmp.file("tmp");
        support = tmp.file("support");
        QDir().mkpath(projects);
        QDir().mkpath(scratch);
        QDir().mkpath(temp);
        env = {{"OSTREL_CLAUDE_HOME", claude},
               {"OSTREL_SCRATCH_ROOT", scratch},
               {"OSTREL_SUPPORT_DIR", support},
               {"TMPDIR", temp}};
        // The engine's own delays, shortened so that each test takes a fraction of a second.
        timing.settleInterval = 0.1;
        timing.settleMaxDelay = 0.3;
        timing.rescanWait = 0.2;
        timing.publishDelay = 0.02;
        timing.rootLatency = 0.02;
        timing.chromeLatency = 0.05;
    }

    void TearDown() override {
        if (engine) {
            engine->stop();
        }
    }

    Engine::Config config() const {
        auto config = Engine::Config::make(Preferences(), env);
        // The folder resolution reads the temporary folder from the process; the test's own is
        // set here instead.
        config.paths.chromeRoot = OstrelPaths::folderURL(temp);
        config.chromeHold = 0.3;
        return config;
    }

    // `beforeStart` may put jobs on the queue ahead of the engine's own start-up.
    std::shared_ptr<Engine> start(const Engine::Config& c, bool watch = true,
                                  const std::function<void(Engine&)>& beforeStart = {}) {
        snapshots.clear();
        auto made = Engine::make(c, clock, nullptr, timing);
        made->setOnSnapshot([this](const Snapshot& snapshot, Engine::Generation generation) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            snapshots.emplace_back(snapshot, generation);
        });
        if (beforeStart) {
            beforeStart(*made);
        }
        made->start(watch);
        return made;
    }

    const Snapshot& last() const {
        static const Snapshot none;
        return snapshots.empty() ? none : snapshots.back().first;
    }

    std::optional<ShelfItem> itemFrom(const QString& sourcePath) const {
        for (const ShelfItem& item : last().items) {
            if (item.sourcePath == sourcePath) {
                return item;
            }
        }
        return std::nullopt;
    }

    // Whether the engine scans, asked on its queue.
    bool engineScans() const {
        bool busy = true;
        engine->queue()->sync([&] { busy = engine->isScanning(); });
        return busy;
    }

    bool waitForItem(const QString& sourcePath, double seconds = 5.0) {
        return waitUntil([&] { return itemFrom(sourcePath).has_value(); }, seconds);
    }

    // Where a session's scratch file lives.
    QString scratchFile(const QString& name, const QString& session = "s1",
                        const QString& slug = "-work-proj") const {
        return scratch + "/" + slug + "/" + session + "/scratchpad/" + name;
    }

    static QString real(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

    static void write(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    // A page big enough for the filter's floor, different for every seed.
    static QByteArray page(int seed, int size = 800) {
        QByteArray bytes =
            "<html><head><title>Page " + QByteArray::number(seed) + "</title></head><body>";
        while (bytes.size() < size) {
            bytes += QByteArray::number(seed) + " ";
        }
        return bytes + "</body></html>";
    }

    QJsonObject index() const {
        QFile file(support + "/index.json");
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    // The moment the support folder keeps for the next start to look back from, if any.
    std::optional<Date> moment() const {
        QFile file(support + "/unfinished-start.json");
        return file.open(QIODevice::ReadOnly) ? Store::decodeUnfinishedStart(file.readAll())
                                              : std::nullopt;
    }

    QStringList indexSources() const {
        QStringList out;
        for (const QJsonValue& item : index().value("items").toArray()) {
            out.append(item.toObject().value("sourcePath").toString());
        }
        return out;
    }
};

// Helpers of the engine's tests.
namespace engine_tests {

inline QString isoNow(double offsetSeconds = 0) {
    return QDateTime::currentDateTimeUtc()
        .addMSecs(static_cast<qint64>(offsetSeconds * 1000))
        .toString(Qt::ISODateWithMs);
}

// Lines of `session` from now on; the path of its transcript, whose folder is made.
inline QString openSession(lines::Context& c, const QString& projects, const QString& session) {
    c.sessionID = session;
    c.timestamp = isoNow();
    const QString transcript = projects + "/-work-proj/" + session + ".jsonl";
    QDir().mkpath(QFileInfo(transcript).absolutePath());
    return transcript;
}

// A tool result that returned a screenshot of random pixels.
inline QByteArray screenshotLine(const lines::Context& c, int seed) {
    return lines::toolResult(
        c, QString("toolu_%1").arg(seed),
        QJsonArray{lines::imageBlock(QString::fromLatin1(TestImages::png(64, 64, seed).toBase64()),
                                     "image/png")});
}

// Gives a file the modification time of `seconds` ago.
inline void age(const QString& path, int seconds) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

} // namespace engine_tests

} // namespace ostrel::test
