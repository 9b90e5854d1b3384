// Ingest throughput: 1,000 scratchpad PNGs of about 50 KB each, beside the floor of reading and
// hashing the same files with sha256sum. A plain program that prints its figures.
//
//   build/bench/bench_Ingest [count [rounds]]      defaults: 1000, 5
#include "OstrelCore/Engine/Ingest.h"
#include "BenchImages.h"
#include "Median.h"
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

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ostrel;

namespace {

using bench::median;
using bench::noisyPng;

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
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

    // The sides alternate, so that whatever else the machine does falls on both alike.
    std::vector<double> sumSamples, ingestSamples, mergeSamples;
    int addedCount = 0;
    int exitCode = 0;
    for (int round = 0; round < rounds; ++round) {
        // The floor: read and hash the same (page-cached) files with sha256sum.
        QElapsedTimer timer;
        timer.start();
        QProcess sum;
        sum.setStandardOutputFile(QProcess::nullDevice());
        sum.start(QStringLiteral("sha256sum"), paths);
        sum.waitForFinished(-1);
        sumSamples.push_back(timer.nsecsElapsed() / 1e9);
        exitCode = sum.exitCode();

        Date clock = Date::now();
        const QString support = tmp.filePath(QStringLiteral("support-%1").arg(round));
        auto store = Store::make(QUrl::fromLocalFile(support), [&] { return clock; });
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
        addedCount = ingestAll();
        ingestSamples.push_back(timer.nsecsElapsed() / 1e9);

        // The same files again: every one merges (read, probe, hash; no copy, no thumbnail).
        timer.restart();
        ingestAll();
        mergeSamples.push_back(timer.nsecsElapsed() / 1e9);
        store.reset();
        QDir(support).removeRecursively();
    }
    const double sumSeconds = median(sumSamples);
    const double ingestSeconds = median(ingestSamples);
    const double mergeSeconds = median(mergeSamples);

    std::printf("files: %d PNGs, %.1f KB each on average, %.1f MB in all; medians of %d "
                "alternating rounds\n",
                count, totalBytes / 1024.0 / count, totalBytes / 1048576.0, rounds);
    std::printf("sha256sum (read + hash floor): %.3f s, %.0f files/s, %.0f MB/s (exit %d)\n",
                sumSeconds, count / sumSeconds, totalBytes / 1048576.0 / sumSeconds, exitCode);
    std::printf("ingest, new items (read, probe, hash, copy, 360 px JPEG thumbnail): %.3f s, "
                "%.0f items/s, %d added (%.2fx the floor)\n",
                ingestSeconds, count / ingestSeconds, addedCount, ingestSeconds / sumSeconds);
    std::printf("ingest, the same files again (merged): %.3f s, %.0f items/s (%.2fx the floor)\n",
                mergeSeconds, count / mergeSeconds, mergeSeconds / sumSeconds);
    return addedCount == count ? 0 : 1;
}
