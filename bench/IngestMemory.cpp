// Peak memory while ingesting one 1 GB video file: the file is hashed and copied as a stream, so
// the peak resident size must stay flat. A plain program that prints its figures.
//
//   build/bench/bench_IngestMemory [megabytes]
#include "OstrelCore/Engine/Ingest.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/OpenSsl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

using namespace ostrel;

namespace {

long maxRssKB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss; // kilobytes on Linux
}

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    QCoreApplication app(argc, argv);
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
