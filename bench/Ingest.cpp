// Ingest throughput: 1,000 scratchpad PNGs of about 50 KB each, beside the floor of reading and
// hashing the same files with sha256sum. A plain program that prints its figures.
//
//   build/bench/bench_Ingest [count]
#include "OstrelCore/Engine/Ingest.h"
#include "BenchImages.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/OpenSsl.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace ostrel;

namespace {

using bench::noisyPng;

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    QTemporaryDir tmp;
    const QString scratch = tmp.filePath("claude-1000/-u-proj/s1/scratchpad");
    QDir().mkpath(scratch);

    QStringList paths;
    qint64 totalBytes = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray png = noisyPng(128, static_cast<quint32>(i + 1)); // ~49 KB, incompressible
        const QString path = scratch + QStringLiteral("/shot-%1.png").arg(i, 4, 10, QChar('0'));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(png);
        totalBytes += png.size();
        paths.append(path);
    }

    // The floor: read and hash the same (page-cached) files with sha256sum.
    QElapsedTimer timer;
    timer.start();
    QProcess sum;
    sum.setStandardOutputFile(QProcess::nullDevice());
    sum.start(QStringLiteral("sha256sum"), paths);
    sum.waitForFinished(-1);
    const double sumSeconds = timer.nsecsElapsed() / 1e9;

    Date clock = Date::now();
    auto store = Store::make(QUrl::fromLocalFile(tmp.filePath("support")), [&] { return clock; });
    Ingest ingest(store, 30, [&] { return clock; });
    // Ingests every file as a scratchpad capture of one session; gives how many were added.
    const auto ingestAll = [&] {
        int added = 0;
        for (const QString& path : paths) {
            Candidate c;
            c.source = Source::scratchpad;
            c.payload = Payload::file(QUrl::fromLocalFile(path));
            c.sessionID = QStringLiteral("s1");
            c.slug = QStringLiteral("-u-proj");
            c.createdAt = clock;
            if (ingest.ingest(c).kind == Ingest::Outcome::Kind::added) {
                ++added;
            }
        }
        return added;
    };
    timer.restart();
    const int addedCount = ingestAll();
    const double ingestSeconds = timer.nsecsElapsed() / 1e9;

    // The same files again: every one merges (read, probe, hash; no copy, no thumbnail).
    timer.restart();
    ingestAll();
    const double mergeSeconds = timer.nsecsElapsed() / 1e9;

    std::printf("files: %d PNGs, %.1f KB each on average, %.1f MB in all\n", count,
                totalBytes / 1024.0 / count, totalBytes / 1048576.0);
    std::printf("sha256sum (read + hash floor): %.3f s, %.0f files/s, %.0f MB/s (exit %d)\n",
                sumSeconds, count / sumSeconds, totalBytes / 1048576.0 / sumSeconds,
                sum.exitCode());
    std::printf("ingest, new items (read, probe, hash, copy + fdatasync, 360 px JPEG thumbnail + "
                "fdatasync): %.3f s, %.0f items/s, %d added\n",
                ingestSeconds, count / ingestSeconds, addedCount);
    std::printf("ingest, the same files again (merged): %.3f s, %.0f items/s\n", mergeSeconds,
                count / mergeSeconds);
    return addedCount == count ? 0 : 1;
}
