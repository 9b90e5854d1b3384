// The capture engine from end to end, in a temporary tree. A plain program that prints figures.
//
//   build/bench/bench_EngineBench bootstrap [count...]  cold and warm start over scratch files,
//                                                       beside sha256sum over the same bytes
//   build/bench/bench_EngineBench latency [rounds]      file event to snapshot
//   build/bench/bench_EngineBench churn [seconds]       CPU while unrelated files come and go in
//                                                       the temporary folder
//   build/bench/bench_EngineBench burst [count [limit]] a burst of files into one scratchpad, with
//                                                       an optional lower batch limit of the
//                                                       watchers (to see lost events answered)
//   build/bench/bench_EngineBench held [MB...]          a transcript held at a screenshot that
//                                                       could not be kept, with MB written after
//                                                       it: its reads and CPU while the session
//                                                       writes on, and how soon its next line
//                                                       brings both in once the cause has gone
#include "BenchImages.h"
#include "OstrelCore/Engine/Engine.h"
#include "Platform/OpenSsl.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ostrel;

namespace {

using bench::noisyPng;

QByteArray page(int seed) {
    QByteArray bytes = "<html><head><title>" + QByteArray::number(seed) + "</title></head><body>";
    while (bytes.size() < 700) {
        bytes += QByteArray::number(seed) + ' ';
    }
    return bytes + "</body></html>";
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void setAge(const QString& path, double seconds) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= static_cast<time_t>(seconds);
    times[1] = times[0];
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return true;
}

// One temporary tree: Claude Code's home, the scratch root, the temporary folder, the support
// folder.
struct Tree {
    QTemporaryDir dir;
    QString scratch = dir.filePath("scratch");
    QString temp = dir.filePath("tmp");
    QString support = dir.filePath("support");

    Tree() {
        QDir().mkpath(dir.filePath("claude/projects"));
        QDir().mkpath(scratch);
        QDir().mkpath(temp);
    }

    Engine::Config config() const {
        const Environment env{{"OSTREL_CLAUDE_HOME", dir.filePath("claude")},
                              {"OSTREL_SCRATCH_ROOT", scratch},
                              {"OSTREL_SUPPORT_DIR", support}};
        auto config = Engine::Config::make(Preferences(), env);
        config.paths.chromeRoot = OstrelPaths::folderURL(temp);
        config.maxItems = Engine::Config::maxItemsRange.upper;
        return config;
    }

    QString scratchpad(int session) const {
        return scratch + QStringLiteral("/-u-proj/s%1/scratchpad").arg(session);
    }
};

// A running engine and the snapshots it delivered.
struct Run {
    std::shared_ptr<Engine> engine;
    std::vector<std::pair<double, Snapshot>> snapshots;
    QElapsedTimer clock;

    explicit Run(const Engine::Config& config, bool watch = true,
                 EngineTiming timing = EngineTiming()) {
        clock.start();
        engine = Engine::make(config, &Date::now, nullptr, timing);
        engine->setOnSnapshot([this](const Snapshot& snapshot, Engine::Generation) {
            snapshots.emplace_back(clock.nsecsElapsed() / 1e6, snapshot);
        });
        engine->start(watch);
    }
    ~Run() { engine->stop(); }

    qsizetype stored() {
        qsizetype n = 0;
        engine->queue()->sync([&] { n = engine->store()->items().size(); });
        return n;
    }
};

void bootstrap(const QList<int>& counts) {
    for (const int count : counts) {
        Tree tree;
        QStringList paths;
        qint64 bytes = 0;
        for (int i = 0; i < count; ++i) {
            const QString folder = tree.scratchpad(i / 100);
            QDir().mkpath(folder);
            const QString path = folder + QStringLiteral("/shot-%1.png").arg(i, 5, 10, QChar('0'));
            const QByteArray png = noisyPng(64, static_cast<quint32>(i + 1));
            writeFile(path, png);
            setAge(path, 120);
            bytes += png.size();
            paths.append(path);
        }

        QElapsedTimer floor;
        floor.start();
        QProcess sha;
        sha.setProgram("xargs");
        sha.setArguments({"-0", "sha256sum"});
        sha.start();
        sha.write(paths.join(QChar(0)).toLocal8Bit());
        sha.closeWriteChannel();
        sha.waitForFinished(-1);
        const double floorMs = static_cast<double>(floor.nsecsElapsed()) / 1e6;

        double coldMs = 0;
        {
            Run run(tree.config());
            if (!pumpUntil([&] { return !run.snapshots.empty(); }, 600)) {
                std::printf("cold bootstrap of %d files: no snapshot\n", count);
                return;
            }
            coldMs = run.snapshots.front().first;
            const qsizetype stored = run.stored();
            std::printf("cold bootstrap, %5d files (%.1f MB): first snapshot %8.1f ms "
                        "(%lld items stored, %lld in the snapshot); sha256sum floor %7.1f ms\n",
                        count, static_cast<double>(bytes) / 1e6, coldMs,
                        static_cast<long long>(stored),
                        static_cast<long long>(run.snapshots.front().second.items.size()), floorMs);
        }
        {
            Run run(tree.config());
            pumpUntil([&] { return !run.snapshots.empty(); }, 600);
            std::printf("warm restart,   %5d files: first snapshot %8.1f ms\n", count,
                        run.snapshots.front().first);
        }
    }
}

void latency(int rounds) {
    Tree tree;
    Run run(tree.config());
    pumpUntil([&] { return !run.snapshots.empty(); }, 10);
    const QString folder = tree.scratchpad(1);
    QDir().mkpath(folder);
    const QString staging = tree.dir.filePath("staging");
    QDir().mkpath(staging);
    pumpUntil([] { return false; }, 0.5);

    for (const bool rename : {false, true}) {
        std::vector<double> beyond;
        for (int i = 0; i < rounds; ++i) {
            const QString path = folder + QStringLiteral("/r%1-%2.html").arg(rename).arg(i);
            const std::size_t before = run.snapshots.size();
            QElapsedTimer timer;
            if (rename) {
                // Written elsewhere and moved in: the file is complete when its event arrives.
                const QString side = staging + QStringLiteral("/%1.html").arg(i);
                writeFile(side, page(i * 2 + rename));
                timer.start();
                QDir().rename(side, path);
            } else {
                timer.start();
                writeFile(path, page(i * 2 + rename));
            }
            const bool seen = pumpUntil(
                [&] {
                    for (std::size_t s = before; s < run.snapshots.size(); ++s) {
                        for (const ShelfItem& item : run.snapshots[s].second.items) {
                            if (item.sourcePath &&
                                item.sourcePath->endsWith(QFileInfo(path).fileName())) {
                                return true;
                            }
                        }
                    }
                    return false;
                },
                10);
            if (seen) {
                beyond.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6 -
                                 Engine::settleInterval * 1000);
            }
            pumpUntil([] { return false; }, 0.4);
        }
        std::sort(beyond.begin(), beyond.end());
        if (beyond.empty()) {
            continue;
        }
        std::printf("event to snapshot beyond the %.0f ms settle wait, %s: median %.1f ms, "
                    "p90 %.1f ms, min %.1f ms, max %.1f ms (%zu rounds)\n",
                    Engine::settleInterval * 1000, rename ? "moved into place" : "written in place",
                    beyond[beyond.size() / 2], beyond[beyond.size() * 9 / 10], beyond.front(),
                    beyond.back(), beyond.size());
    }
}

void churn(double seconds) {
    Tree tree;
    Run run(tree.config());
    pumpUntil([&] { return !run.snapshots.empty(); }, 10);
    pumpUntil([] { return false; }, 0.5);

    const QByteArray base = QFile::encodeName(tree.temp);
    const pid_t child = ::fork();
    if (child == 0) {
        // 1,000 unrelated files a second, each written and removed again.
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (long i = 0;; ++i) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double elapsed = static_cast<double>(now.tv_sec - start.tv_sec) +
                                   static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
            if (elapsed > seconds) {
                ::_exit(0);
            }
            const double due = static_cast<double>(i) / 1000.0;
            if (due > elapsed) {
                ::usleep(static_cast<useconds_t>((due - elapsed) * 1e6));
            }
            char name[512];
            std::snprintf(name, sizeof name, "%s/unrelated-%ld.tmp", base.constData(), i);
            const int fd = ::open(name, O_CREAT | O_WRONLY | O_TRUNC, 0600);
            if (fd >= 0) {
                [[maybe_unused]] const ssize_t w = ::write(fd, "some bytes", 10);
                ::close(fd);
            }
            if (i >= 10) {
                std::snprintf(name, sizeof name, "%s/unrelated-%ld.tmp", base.constData(), i - 10);
                ::unlink(name);
            }
        }
    }
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    // The main thread only waits: nothing of the churn should reach it.
    int status = 0;
    ::waitpid(child, &status, 0);
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    std::printf("engine CPU while 1,000 unrelated files a second come and go in the temporary "
                "folder: %.3f s over %.1f s (%.2f%% of one core)\n",
                cpu, elapsed, 100.0 * cpu / elapsed);

    const std::size_t before = run.snapshots.size();
    pumpUntil([] { return false; }, 0.2);
    std::printf("snapshots published meanwhile: %zu\n", run.snapshots.size() - before);
}

std::atomic<int> dropped{0};
QtMessageHandler previousHandler = nullptr;

void countDrops(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("events dropped, rescanning"))) {
        ++dropped;
        std::printf("  log: %s\n", qPrintable(message));
    } else if (type != QtInfoMsg && type != QtDebugMsg && previousHandler) {
        previousHandler(type, context, message);
    }
}

void burst(int count, qsizetype batchLimit) {
    Tree tree;
    EngineTiming timing;
    timing.eventBatchLimit = batchLimit;
    Run run(tree.config(), true, timing);
    pumpUntil([&] { return !run.snapshots.empty(); }, 10);
    const QString folder = tree.scratchpad(7);
    QDir().mkpath(folder);
    pumpUntil([] { return false; }, 0.5);

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        writeFile(folder + QStringLiteral("/page-%1.html").arg(i, 5, 10, QChar('0')), page(i));
    }
    const double written = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const bool all = pumpUntil([&] { return run.stored() >= count; }, 900);
    const double captured = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    qint64 rescans = 0;
    run.engine->queue()->sync([&] { rescans = run.engine->rescans(); });
    std::printf("burst of %d files (watcher batch limit %lld): written in %.0f ms, %s %lld stored "
                "after %.0f ms; "
                "%lld rescans, %d \"events dropped\" messages\n",
                count, static_cast<long long>(batchLimit), written, all ? "all" : "only",
                static_cast<long long>(run.stored()), captured, static_cast<long long>(rescans),
                dropped.load());
}

// A line of session "s1" as Claude Code writes it: a tool result holding `text`, or a screenshot
// when `picture` is not empty.
QByteArray sessionLine(int i, const QString& text, const QByteArray& picture = {}) {
    QJsonArray content{QJsonObject{{"type", "text"}, {"text", text}}};
    if (!picture.isEmpty()) {
        content.append(QJsonObject{
            {"type", "image"},
            {"source", QJsonObject{{"type", "base64"},
                                   {"media_type", "image/png"},
                                   {"data", QString::fromLatin1(picture.toBase64())}}}});
    }
    const QJsonObject line{
        {"type", "user"},
        {"sessionId", "s1"},
        {"cwd", "/home/ada/proj"},
        {"timestamp", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {"uuid", QStringLiteral("u-%1").arg(i)},
        {"message", QJsonObject{{"role", "user"},
                                {"content", QJsonArray{QJsonObject{
                                                {"tool_use_id", QStringLiteral("t-%1").arg(i)},
                                                {"type", "tool_result"},
                                                {"content", content}}}}}}};
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

void held(const QList<int>& megabytes) {
    for (const int mb : megabytes) {
        Tree tree;
        Run run(tree.config());
        pumpUntil([&] { return !run.snapshots.empty(); }, 10);
        const QString transcript = tree.dir.filePath("claude/projects/-u-proj/s1.jsonl");
        QDir().mkpath(QFileInfo(transcript).absolutePath());
        const auto append = [&](const QByteArray& bytes) {
            QFile file(transcript);
            return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
        };
        const auto reads = [&] {
            qint64 n = 0;
            run.engine->queue()->sync([&] { n = run.engine->heldReads(); });
            return n;
        };
        const auto shots = [&] {
            qsizetype n = 0;
            run.engine->queue()->sync([&] {
                for (const ShelfItem& item : run.engine->store()->items()) {
                    n += item.sourceKinds.count(Source::transcript);
                }
            });
            return n;
        };

        // No room for copies: the items folder is a file.
        const QString items = tree.support + QStringLiteral("/items");
        QDir().rename(items, items + QStringLiteral(".away"));
        writeFile(items, "in the way");
        append(sessionLine(0, QStringLiteral("screenshot taken"), noisyPng(64, 1)));
        pumpUntil([] { return false; }, 0.5);
        // What the session wrote after the held line, in one go.
        QByteArray after;
        const QString text(60000, QChar(u'x'));
        for (int i = 1; after.size() < qint64(mb) * 1024 * 1024; ++i) {
            after += sessionLine(i, text);
        }
        append(after);
        const qint64 first = reads();
        pumpUntil([&] { return reads() > first; }, 60);
        QElapsedTimer one;
        one.start();
        run.engine->queue()->sync([&] { run.engine->readTranscript(transcript); });
        const double oneRead = static_cast<double>(one.nsecsElapsed()) / 1e6;

        // The session writes on, a line every 0.1 s for 10 s.
        const qint64 before = reads();
        const auto engineCpu = [&] {
            timespec t{};
            run.engine->queue()->sync([&] { clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t); });
            return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
        };
        const double cpu = engineCpu();
        QElapsedTimer outage;
        outage.start();
        for (int i = 0; i < 100; ++i) {
            append(sessionLine(100000 + i, QStringLiteral("step")));
            pumpUntil([] { return false; }, 0.1);
        }
        const double outageSeconds = static_cast<double>(outage.nsecsElapsed()) / 1e9;
        const double outageCpu = engineCpu() - cpu;
        const qint64 during = reads() - before;

        // Room again: the next line brings in the held screenshot and its own.
        QFile::remove(items);
        QDir().rename(items + QStringLiteral(".away"), items);
        QElapsedTimer back;
        back.start();
        append(sessionLine(200000, QStringLiteral("screenshot taken"), noisyPng(64, 2)));
        const bool both = pumpUntil([&] { return shots() == 2; }, 60);
        std::printf(
            "held line with %d MB after it: one read over them %.0f ms; 100 lines in %.1f s "
            "read it %lld times (each line would be 100, %.1f s of reads), engine thread CPU "
            "%.2f s; once there is room, the next line %s %.0f ms later (retry timer "
            "alone: %.0f s)\n",
            mb, oneRead, outageSeconds, static_cast<long long>(during), oneRead * 100 / 1000,
            outageCpu, both ? "brought both in" : "had not brought both in",
            static_cast<double>(back.nsecsElapsed()) / 1e6, EngineTiming().retryInterval);
    }
}

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.ingest.debug=false\n"
                                                    "app.ostrel.ingest.info=true"));
    previousHandler = qInstallMessageHandler(countDrops);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("bootstrap");
    const auto number = [&](int fallback) { return argc > 2 ? std::atoi(argv[2]) : fallback; };
    if (mode == QLatin1String("bootstrap")) {
        QList<int> counts;
        for (int i = 2; i < argc; ++i) {
            counts.append(std::atoi(argv[i]));
        }
        bootstrap(counts.isEmpty() ? QList<int>{1000, 10000} : counts);
    } else if (mode == QLatin1String("latency")) {
        latency(number(20));
    } else if (mode == QLatin1String("churn")) {
        churn(number(5));
    } else if (mode == QLatin1String("burst")) {
        burst(number(20000), argc > 3 ? std::atoi(argv[3]) : EngineTiming().eventBatchLimit);
    } else if (mode == QLatin1String("held")) {
        QList<int> sizes;
        for (int i = 2; i < argc; ++i) {
            sizes.append(std::atoi(argv[i]));
        }
        held(sizes.isEmpty() ? QList<int>{0, 64} : sizes);
    } else {
        std::fprintf(stderr, "usage: %s bootstrap|latency|churn|burst|held [n]\n", argv[0]);
        return 2;
    }
    return 0;
}
