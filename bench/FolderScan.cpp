// The engine over a huge watched folder ("/" by default): how soon a scratchpad capture still
// arrives while the folder is scanned and watched, how much memory the process takes, how long
// the scan runs and how long stop() takes in the middle of it. A plain program that prints figures.
//
//   build/bench/bench_FolderScan [folder [seconds]]    defaults: "/", 60 (the longest it waits
//                                                      for the scan before stopping anyway)
#include "BenchImages.h"
#include "OstrelCore/Engine/Engine.h"
#include "Platform/OpenSsl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>

using namespace ostrel;

namespace {

// A figure of /proc/self/status in MiB ("VmRSS", "VmHWM").
double statusMiB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(static_cast<qsizetype>(std::strlen(key)) + 1)
                       .trimmed()
                       .split(' ')[0]
                       .toDouble() /
                   1024.0;
        }
    }
    return 0;
}

void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    OpenSsl::init();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*.debug=false\n"
                                                    "app.ostrel.*.info=false"));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/");
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;

    QTemporaryDir tmp;
    const QString scratch = tmp.path() + "/scratch";
    const QString pad = scratch + "/-work-proj/s1/scratchpad";
    QDir().mkpath(pad);
    QDir().mkpath(tmp.path() + "/claude/projects");
    QDir().mkpath(tmp.path() + "/tmp");
    QFile::setPermissions(scratch, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const Environment env{{"OSTREL_CLAUDE_HOME", tmp.path() + "/claude"},
                          {"OSTREL_SCRATCH_ROOT", scratch},
                          {"OSTREL_SUPPORT_DIR", tmp.path() + "/support"}};
    auto config = Engine::Config::make(Preferences(), env);
    config.paths.chromeRoot = OstrelPaths::folderURL(tmp.path() + "/tmp");
    config.watchedFolders = {folder};

    const double rssBefore = statusMiB("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    std::shared_ptr<Engine> engine = Engine::make(config);
    qsizetype items = 0;
    engine->setOnSnapshot(
        [&](const Snapshot& snapshot, Engine::Generation) { items = snapshot.items.size(); });
    engine->start(true);

    // A capture made just after start, while the folder is being scanned.
    pumpFor(200);
    const qint64 written = clock.elapsed();
    {
        QFile file(pad + "/capture.png");
        file.open(QIODevice::WriteOnly);
        file.write(bench::noisyPng(64, 1));
    }
    qint64 captured = -1;
    qint64 scanned = -1;
    double peak = 0;
    while (clock.elapsed() < seconds * 1000 && (captured < 0 || scanned < 0)) {
        pumpFor(100);
        peak = std::max(peak, statusMiB("VmRSS:"));
        if (captured < 0 && items > 0) {
            captured = clock.elapsed() - written;
        }
        if (scanned < 0 && captured >= 0) {
            // Asked only once the capture is in, so that the question itself never delays it.
            bool scanning = true;
            engine->queue()->sync([&] { scanning = engine->isScanning(); });
            if (!scanning) {
                scanned = clock.elapsed();
            }
        }
    }
    QElapsedTimer stopping;
    stopping.start();
    engine->stop();
    const qint64 stopped = stopping.elapsed();
    engine.reset();

    // A second engine stopped while its scan and its watches over the folder are well under way,
    // which is where a user quitting would find it.
    config.paths.supportDir = OstrelPaths::folderURL(tmp.path() + "/support-2");
    engine = Engine::make(config);
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
    std::printf("first capture while scanning  %s\n",
                captured < 0 ? "none" : qPrintable(QString::number(captured) + " ms"));
    std::printf("scan of the folder            %s\n",
                scanned < 0 ? qPrintable(QStringLiteral("not done in %1 s").arg(seconds))
                            : qPrintable(QString::number(scanned) + " ms"));
    std::printf("resident memory               %.0f MiB before, %.0f MiB peak (VmHWM %.0f MiB)\n",
                rssBefore, peak, statusMiB("VmHWM:"));
    std::printf("stop() after the scan         %lld ms\n", static_cast<long long>(stopped));
    std::printf("stop() 0.5 s into a scan      %lld ms (%s), engine gone after %lld ms\n",
                static_cast<long long>(stoppedMidScan),
                midScan ? "scan under way" : "scan already done", static_cast<long long>(released));
    return captured < 0 ? 1 : 0;
}
