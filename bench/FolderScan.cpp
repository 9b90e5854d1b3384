// The engine over a huge watched folder: how soon scratchpad captures still arrive while the
// folder's backlog is ingested, how much memory the process takes at its peak (VmHWM), how long
// the backlog takes and how long stop() takes in the middle of it. A plain program that prints
// its figures.
//
//   build/bench/bench_FolderScan [files]             a generated folder of recent media, made
//                                                    afresh each run (default 24000 files)
//   build/bench/bench_FolderScan /path [seconds]     a real folder instead ("/" is what a user
//                                                    watching everything sees); at most `seconds`
//                                                    (default 60) for its backlog
//
// Everything the run writes lies under /tmp/ostrel-folderscan-<pid> and goes at its end; what an
// interrupted run left behind is removed when the next one starts.
#include "BenchImages.h"
#include "Median.h"
#include "OstrelCore/Engine/Engine.h"
#include "Platform/MallocArenas.h"
#include "Platform/OpenSsl.h"
#include "Platform/WorkerPool.h"
#include "tests/support/PeakMemory.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace ostrel;

namespace {

constexpr double settleSeconds = 0.3;

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// The folders of runs that ended without tidying up: those of processes that are gone, and the
// temporary folders of earlier versions of this program.
void removeLeftovers() {
    QDir tmp(QStringLiteral("/tmp"));
    for (const QString& name : tmp.entryList({"ostrel-folderscan-*", "bench_FolderScan-*"},
                                             QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.startsWith(QStringLiteral("ostrel-folderscan-"))) {
            const qint64 pid = name.mid(18).toLongLong();
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0) {
                continue; // another run under way
            }
        }
        std::printf("removing what an earlier run left: /tmp/%s\n", qPrintable(name));
        QDir(tmp.filePath(name)).removeRecursively();
    }
}

void setAge(const QString& path, double seconds) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= static_cast<time_t>(seconds);
    times[1] = times[0];
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

QByteArray encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return out;
}

// A picture of flat panels and a little noise, like a screenshot or a chart.
QImage panels(QSize size, quint32 seed, int noiseSide) {
    QRandomGenerator rng(seed);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(rng.bounded(360)), 25, 240));
    QPainter painter(&image);
    for (int i = 0; i < 8; ++i) {
        painter.fillRect(int(rng.bounded(size.width())), int(rng.bounded(size.height())),
                         size.width() / 4, size.height() / 5,
                         QColor::fromHsv(int(rng.bounded(360)), 90, 210));
    }
    painter.end();
    noiseSide = std::min({noiseSide, size.width(), size.height()});
    for (int y = 0; y < noiseSide; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < noiseSide; ++x) {
            line[x] = 0xff000000u | (rng.generate() & 0x00ffffffu);
        }
    }
    return image;
}

// One file of the workload: mostly small pictures (icons, thumbnails), then screenshots, photos,
// pages and files the shelf does not take, and now and then a large picture.
std::pair<QString, QByteArray> workloadFile(int i) {
    const quint32 seed = static_cast<quint32>(i + 1);
    if (i % 2000 == 1999) {
        return {QStringLiteral("poster-%1.png").arg(i),
                encode(panels({4000, 3000}, seed, 600), "png")};
    }
    const int slot = i % 100;
    if (slot < 70) {
        return {QStringLiteral("icon-%1.png").arg(i), bench::noisyPng(40 + (i * 37) % 90, seed)};
    }
    if (slot < 82) {
        return {QStringLiteral("screen-%1.png").arg(i),
                encode(panels({1280, 800}, seed, 180), "png")};
    }
    if (slot < 90) {
        return {QStringLiteral("photo-%1.jpg").arg(i),
                encode(panels({1600, 1200}, seed, 500), "jpeg", 85)};
    }
    if (slot < 95) {
        QByteArray page = "<html><head><title>Page " + QByteArray::number(i) + "</title></head>";
        while (page.size() < 3000) {
            page += "<p>" + QByteArray::number(i * 7919) + " lorem ipsum</p>";
        }
        return {QStringLiteral("page-%1.html").arg(i), page};
    }
    return {QStringLiteral("data-%1.json").arg(i),
            "{\"n\": " + QByteArray::number(i) + ", \"pad\": \"" + QByteArray(4000, 'x') + "\"}"};
}

// `count` files in folders of about 200, all modified a minute ago; returns their bytes.
qint64 makeWorkload(const QString& root, int count) {
    std::atomic<qint64> bytes{0};
    WorkerPool pool;
    pool.forEach(count, [&](int i) {
        const QString folder = root + QStringLiteral("/d%1/e%2").arg(i / 4000).arg(i / 200 % 20);
        QDir().mkpath(folder);
        const auto [name, content] = workloadFile(i);
        const QString path = folder + u'/' + name;
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(content);
            file.close();
            setAge(path, 60);
            bytes += content.size();
        }
    });
    return bytes.load();
}

struct Tree {
    QString base;
    QString scratch;
    QString pad;

    explicit Tree(const QString& folder) : base(folder) {
        scratch = base + "/scratch";
        pad = scratch + "/-work-proj/s1/scratchpad";
        QDir().mkpath(pad);
        QDir().mkpath(base + "/claude/projects");
        QDir().mkpath(base + "/tmp");
        QFile::setPermissions(scratch, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    Engine::Config config(const QString& watched, const QString& support) const {
        const Environment env{{"OSTREL_CLAUDE_HOME", base + "/claude"},
                              {"OSTREL_SCRATCH_ROOT", scratch},
                              {"OSTREL_SUPPORT_DIR", support}};
        auto config = Engine::Config::make(Preferences(), env);
        config.paths.chromeRoot = OstrelPaths::folderURL(base + "/tmp");
        config.watchedFolders = {watched};
        return config;
    }
};

} // namespace

int main(int argc, char** argv) {
    MallocArenas::limit();
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*.debug=false\n"
                                                    "app.ostrel.*.info=false"));
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool real = first.startsWith(u'/');
    const int files = !real && !first.isEmpty() ? std::max(1, first.toInt()) : 24000;
    const int seconds = real && argc > 2 ? std::max(1, std::atoi(argv[2])) : 600;

    removeLeftovers();
    const QString base =
        QStringLiteral("/tmp/ostrel-folderscan-%1").arg(QCoreApplication::applicationPid());
    QDir(base).removeRecursively();
    const Tree tree(base);
    QString folder = first;
    if (!real) {
        folder = base + "/media";
        QElapsedTimer making;
        making.start();
        const qint64 bytes = makeWorkload(folder, files);
        std::printf("workload: %d files, %.0f MB (%.1f s to make)\n", files,
                    static_cast<double>(bytes) / 1e6, making.elapsed() / 1000.0);
    }

    pumpFor(100);
    // What making the workload took is not the engine's.
    test::resetPeak();
    const double rssBefore = test::statusMiB("VmRSS:");
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    std::shared_ptr<Engine> engine =
        Engine::make(tree.config(folder, base + "/support"), &Date::now, nullptr);
    // Captures written into the scratchpad while the backlog is ingested, and when each was
    // written (ms on `clock`) and seen in a snapshot.
    std::map<QString, std::pair<qint64, qint64>> captures;
    qsizetype items = 0;
    engine->setOnSnapshot([&](const Snapshot& snapshot, Engine::Generation) {
        items = snapshot.items.size();
        for (const ShelfItem& item : snapshot.items) {
            const auto it = captures.find(item.sourcePath.value_or(QString()));
            if (it != captures.end() && it->second.second < 0) {
                it->second.second = clock.elapsed();
            }
        }
    });
    engine->start(true);

    qint64 drained = -1;
    std::atomic<bool> asked{false};
    std::atomic<qint64> idleAt{-1};
    qint64 nextCapture = 200;
    int made = 0;
    while (clock.elapsed() < seconds * 1000 && (drained < 0 || made < 3)) {
        pumpFor(20);
        if (clock.elapsed() >= nextCapture && made < 40) {
            const QString path = tree.pad + QStringLiteral("/capture-%1.png").arg(made);
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(bench::noisyPng(64, static_cast<quint32>(9000 + made)));
            file.close();
            captures[QFileInfo(path).canonicalFilePath()] = {clock.elapsed(), -1};
            ++made;
            nextCapture = clock.elapsed() + 700;
        }
        // Asked without waiting: the captures must go on being written whatever the queue does.
        if (drained < 0 && asked.exchange(true) == false) {
            engine->queue()->async([&, weak = std::weak_ptr<Engine>(engine)] {
                if (const auto self = weak.lock(); self && !self->isScanning()) {
                    idleAt = clock.elapsed();
                }
                asked = false;
            });
        }
        if (drained < 0 && idleAt.load() >= 0) {
            drained = idleAt.load();
        }
    }
    pumpFor(1000); // the last capture's snapshot
    const double cpu = cpuSeconds() - cpuBefore;
    qsizetype stored = 0;
    engine->queue()->sync([&] { stored = engine->store()->items().size(); });
    QElapsedTimer stopping;
    stopping.start();
    engine->stop();
    const qint64 stopped = stopping.elapsed();
    engine.reset();
    const double peak = test::statusMiB("VmHWM:");
    const double rssAfter = test::statusMiB("VmRSS:");

    std::vector<double> delays;
    int missed = 0;
    for (const auto& [path, times] : captures) {
        if (times.second < 0) {
            ++missed;
        } else {
            delays.push_back(static_cast<double>(times.second - times.first) -
                             settleSeconds * 1000);
        }
    }
    const double worst = delays.empty() ? 0 : *std::max_element(delays.begin(), delays.end());

    // A second engine stopped while its backlog and its watches over the folder are well under
    // way, which is where a user quitting would find it.
    engine = Engine::make(tree.config(folder, base + "/support-2"));
    engine->start(true);
    pumpFor(500);
    bool midScan = false;
    engine->queue()->sync([&] { midScan = engine->isScanning(); });
    stopping.restart();
    engine->stop();
    const qint64 stoppedMidScan = stopping.elapsed();
    engine.reset();
    const qint64 released = stopping.elapsed();

    std::printf("folder %s\n", qPrintable(folder));
    std::printf("captures while the backlog is ingested: %zu, %d never seen; beyond the %.1f s "
                "settle time: median %.0f ms, worst %.0f ms (aim <= 300)\n",
                captures.size(), missed, settleSeconds, bench::median(delays), worst);
    std::printf("backlog of the folder        %s; %lld items stored, %lld in the last snapshot\n",
                drained < 0 ? qPrintable(QStringLiteral("not done in %1 s").arg(seconds))
                            : qPrintable(QString::number(drained) + " ms"),
                static_cast<long long>(stored), static_cast<long long>(items));
    std::printf("CPU                          %.1f s\n", cpu);
    std::printf("resident memory              %.0f MiB before, peak (VmHWM) %.0f MiB, %.0f MiB "
                "after (aim: peak < 150)\n",
                rssBefore, peak, rssAfter);
    std::printf("stop() after the backlog     %lld ms\n", static_cast<long long>(stopped));
    std::printf("stop() 0.5 s into a backlog  %lld ms (%s), engine gone after %lld ms\n",
                static_cast<long long>(stoppedMidScan),
                midScan ? "backlog under way" : "backlog already done",
                static_cast<long long>(released));
    QDir(base).removeRecursively();
    return missed > 0 ? 1 : 0;
}
