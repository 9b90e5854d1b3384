// A start's look through the store's folders, over 50,000 held items with their copies and
// thumbnails: what loading the store costs the thread that starts the engine, and what tidying
// the folders (what other processes left half written) costs the index writer and the engine's
// queue, each start a process of its own.
// A plain program that prints its figures.
//
//   build/bench/bench_StoreSweep [items [rounds]]     makes the store once under
//                                                     /tmp/ostrel-sweep-<items>, then starts
//                                                     over it `rounds` times (default 5)
//   build/bench/bench_StoreSweep --start <support>    one start, one line of figures
//
// To compare two builds, run their --start in turn over the same folder (each start leaves the
// folder as it found it), and count the folder reads of each with
// `strace -f -c -e trace=getdents64`.
#include "Median.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/OpenSsl.h"
#include "Platform/SerialQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

namespace {

double threadCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void writeSmall(const QString& path, const QByteArray& bytes) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
        ::close(fd);
    }
}

// A store of `count` held items, each with a copy and a thumbnail dated a day back, as an earlier
// run leaves it.
void makeStore(const QString& support, int count) {
    const auto store = Store::make(QUrl::fromLocalFile(support), &Date::now);
    const Date now = Date::now();
    const time_t back = ::time(nullptr) - 86400;
    const timespec times[2] = {{back, 0}, {back, 0}};
    for (int i = 0; i < count; ++i) {
        ShelfItem item;
        item.id = QString::number(quint64(i) * 2654435761u, 16).rightJustified(64, u'0');
        item.kind = ShelfItemKind::image;
        item.title = QStringLiteral("shot-%1.png").arg(i);
        item.sessionID = QStringLiteral("session-%1").arg(i % 500);
        item.createdAt = now.adding(-double(i));
        item.fileURL = store->copyURL(item.id, QStringLiteral("png"));
        const QString copy = item.fileURL->toLocalFile();
        const QString thumb = store->thumbURL(item.id).toLocalFile();
        writeSmall(copy, "copy of " + item.id.toLatin1());
        writeSmall(thumb, "thumbnail of " + item.id.toLatin1());
        for (const QString& path : {copy, thumb}) {
            ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        }
        store->upsert(item);
    }
    store->flush();
}

// One start: the store loaded on this thread, then its folders tidied beside the queue, as the
// engine does after its first pass.
int startOnce(const QString& support) {
    const double cpuBefore = processCpuMs();
    QElapsedTimer wall;
    wall.start();
    const auto queue = SerialQueue::make(QStringLiteral("bench.engine"));
    const auto writer = SerialQueue::make(QStringLiteral("bench.index"));
    // As the shell runs it, holding the folder's lock: the folders are listed for leftovers.
    Store::setFolderHeld([](const QString&) { return true; });
    const double loadCpuBefore = threadCpuMs();
    auto store = Store::make(QUrl::fromLocalFile(support), &Date::now, queue);
    const double loadCpu = threadCpuMs() - loadCpuBefore;
    const double loadMs = double(wall.nsecsElapsed()) / 1e6;
    store->setWriter(writer);
    const qsizetype items = store->items().size();
    QElapsedTimer sweepWall;
    sweepWall.start();
    queue->sync([&] { store->tidyFolders(); });
    bool sweeping = true;
    while (sweeping) {
        QThread::usleep(200);
        queue->sync([&] { sweeping = store->isTidying(); });
    }
    const double sweepMs = double(sweepWall.nsecsElapsed()) / 1e6;
    double writerCpu = 0;
    double queueCpu = 0;
    writer->sync([&] { writerCpu = threadCpuMs(); });
    queue->sync([&] {
        queueCpu = threadCpuMs();
        store.reset();
    });
    std::printf("items %lld load %.1f ms (cpu %.1f) sweep %.1f ms writer-cpu %.1f queue-cpu %.1f "
                "process-cpu %.1f\n",
                static_cast<long long>(items), loadMs, loadCpu, sweepMs, writerCpu, queueCpu,
                processCpuMs() - cpuBefore);
    return items > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    OpenSsl::init();
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args.first() == QStringLiteral("--start")) {
        return startOnce(args.at(1));
    }
    const int count = args.isEmpty() ? 50000 : args.at(0).toInt();
    const int rounds = args.size() > 1 ? args.at(1).toInt() : 5;
    const QString support = QStringLiteral("/tmp/ostrel-sweep-%1/support").arg(count);
    if (!QFile::exists(support + QStringLiteral("/index.json"))) {
        QDir(support).removeRecursively();
        makeStore(support, count);
    }
    for (int round = 0; round < rounds; ++round) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {QStringLiteral("--start"), support});
        child.waitForFinished(-1);
    }
    return 0;
}
