// Peak memory of ingest. A plain program that prints its figures.
//
//   build/bench/bench_IngestMemory [megabytes]          one video file of that size (default 1024):
//                                                       hashed and copied as a stream, so the
//                                                       peak resident size must stay flat
//   build/bench/bench_IngestMemory pictures [n [side]]  a first start over n PNGs of side x side
//                                                       pixels (default 12, 5600) on every core:
//                                                       the peak (VmHWM) and how long it took
#include "OstrelCore/Engine/Engine.h"
#include "OstrelCore/Engine/Ingest.h"
#include "OstrelCore/Records/Store.h"
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
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/resource.h>

using namespace ostrel;

namespace {

long maxRssKB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // kilobytes on Linux
}

// A large picture as a camera or a design tool leaves it: flat areas, gradients and some noise.
QByteArray bigPng(int side, quint32 seed) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, side, side);
    gradient.setColorAt(0, QColor::fromHsv(int(rng.bounded(360)), 120, 230));
    gradient.setColorAt(1, QColor::fromHsv(int(rng.bounded(360)), 160, 90));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 40; ++i) {
        painter.fillRect(int(rng.bounded(side)), int(rng.bounded(side)), side / 6, side / 9,
                         QColor::fromHsv(int(rng.bounded(360)), 90, 210));
    }
    painter.end();
    for (int y = 0; y < side / 5; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side / 5; ++x) {
            line[x] = 0xff000000u | (rng.generate() & 0x00ffffffu);
        }
    }
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return out;
}

int pictures(int count, int side) {
    QTemporaryDir tmp;
    const QString scratch = tmp.filePath("scratch");
    const QString pad = scratch + "/-u-proj/s1/scratchpad";
    QDir().mkpath(pad);
    QDir().mkpath(tmp.filePath("claude/projects"));
    QFile::setPermissions(scratch, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qint64 bytes = 0;
    {
        std::mutex mutex;
        WorkerPool pool(4);
        pool.forEach(count, [&](int i) {
            const QByteArray png = bigPng(side, static_cast<quint32>(i + 1));
            QFile file(pad + QStringLiteral("/big-%1.png").arg(i));
            file.open(QIODevice::WriteOnly);
            file.write(png);
            file.close();
            const std::lock_guard lock(mutex);
            bytes += png.size();
        });
    }
    QThread::sleep(1); // settled
    const Environment env{{"OSTREL_CLAUDE_HOME", tmp.filePath("claude")},
                          {"OSTREL_SCRATCH_ROOT", scratch},
                          {"OSTREL_SUPPORT_DIR", tmp.filePath("support")}};
    auto config = Engine::Config::make(Preferences(), env);
    config.paths.chromeRoot = OstrelPaths::folderURL(tmp.filePath("no-chrome"));
    test::resetPeak();
    const double before = test::statusMiB("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    qsizetype items = 0;
    bool shown = false;
    auto engine = Engine::make(config);
    engine->setOnSnapshot([&](const Snapshot& snapshot, Engine::Generation) {
        shown = true;
        items = snapshot.items.size();
    });
    engine->start(false);
    while (!shown) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    engine->stop();
    const double seconds = timer.nsecsElapsed() / 1e9;
    engine.reset();
    std::printf("%d PNGs of %d x %d pixels (%.0f MB in all), %d cores: %lld items in %.2f s\n",
                count, side, side, static_cast<double>(bytes) / 1e6, WorkerPool::cores(),
                static_cast<long long>(items), seconds);
    std::printf("peak resident size (VmHWM): %.0f MiB, %.0f MiB before the start (aim < 200)\n",
                test::statusMiB("VmHWM:"), before);
    return items == count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    MallocArenas::limit();
    ostrel::OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "pictures") {
        return pictures(argc > 2 ? std::max(1, std::atoi(argv[2])) : 12,
                        argc > 3 ? std::max(64, std::atoi(argv[3])) : 5600);
    }
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024;
    QTemporaryDir tmp;
    const QString path = tmp.filePath("clip.mp4");
    {
        // Real blocks with varying content (not a sparse file), written 1 MB at a time.
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, '\0');
        for (qint64 i = 0; i < megabytes; ++i) {
            std::memcpy(block.data(), &i, sizeof i);
            f.write(block);
        }
    }
    Date clock = Date::now();
    auto store = Store::make(QUrl::fromLocalFile(tmp.filePath("support")), [&] { return clock; });
    Ingest ingest(store, 30, [&] { return clock; });
    Candidate c;
    c.source = Source::folder;
    c.payload = Payload::file(QUrl::fromLocalFile(path));
    c.sessionID = QStringLiteral("s1");
    c.createdAt = clock;

    const long before = maxRssKB();
    QElapsedTimer timer;
    timer.start();
    const Ingest::Outcome outcome = ingest.ingest(c);
    const double seconds = timer.nsecsElapsed() / 1e9;
    const long after = maxRssKB();

    std::printf("video: %lld MB; outcome: %s %s\n", static_cast<long long>(megabytes),
                qPrintable(Ingest::Outcome::rawValue(outcome.kind)), qPrintable(outcome.text));
    std::printf("ingest (stream hash, then stream copy + fdatasync): %.2f s, %.0f MB/s\n", seconds,
                megabytes / seconds);
    std::printf("peak RSS before: %ld KB, after: %ld KB, growth: %ld KB\n", before, after,
                after - before);
    return outcome.kind == Ingest::Outcome::Kind::added ? 0 : 1;
}
