// Loading and saving an index of 20,000 items (5,000 of them hidden), 2,000 sessions, 20,000
// prompts and 15,000 source checks, measured beside Python's json.load of the same file in one
// run, rounds interleaved, since only the ratio means anything on a shared machine. Prints the
// median of each round's best, and the decoding of the same index without its source checks.
//   bench_IndexLoad [rounds, default 7]
//   bench_IndexLoad --load-only N   only loads, N times (for a profiler)
#include "HeavyIndex.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/OpenSsl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ostrel;
using namespace ostrel::bench;

namespace {

constexpr int triesPerRound = 3;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of the best of a few calls; what a call returns is freed outside the clock, as
// Python's result is.
template <typename F> double best(F f) {
    double fastest = 1e300;
    for (int i = 0; i < triesPerRound; ++i) {
        QElapsedTimer timer;
        timer.start();
        [[maybe_unused]] auto result = f();
        fastest = std::min(fastest, timer.nsecsElapsed() / 1e6);
    }
    return fastest;
}

// Python times its own loads, so that starting the interpreter is not counted.
double pythonBest(const QString& python, const QString& file) {
    QProcess process;
    const QString script = QStringLiteral("import json, sys, time\n"
                                          "best = 1e300\n"
                                          "for _ in range(%1):\n"
                                          "    t = time.perf_counter()\n"
                                          "    with open(sys.argv[1], 'rb') as f:\n"
                                          "        index = json.load(f)\n"
                                          "    best = min(best, time.perf_counter() - t)\n"
                                          "    del index\n"
                                          "print(best * 1000)\n")
                               .arg(triesPerRound);
    process.start(python, {QStringLiteral("-c"), script, file});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        std::fprintf(stderr, "python failed: %s\n", process.readAllStandardError().constData());
        std::exit(1);
    }
    return process.readAllStandardOutput().trimmed().toDouble();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    OpenSsl::init();
    const bool loadOnly = argc > 2 && qstrcmp(argv[1], "--load-only") == 0;
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[loadOnly ? 2 : 1])) : 7;
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        std::fprintf(stderr, "python3 not found\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString rootPath = dir.filePath(QStringLiteral("support"));
    const QUrl root = QUrl::fromLocalFile(rootPath);
    {
        auto store = Store::make(root, [] { return Date(now); });
        fillHeavyIndex(*store, rootPath);
        store->flush();
    }
    const QString indexPath = rootPath + QStringLiteral("/index.json");
    QFile file(indexPath);
    if (!file.open(QIODevice::ReadOnly)) {
        return 1;
    }
    const QByteArray bytes = file.readAll();
    // The same index without its source checks, for what they cost.
    auto decoded = Store::Index::decode(bytes);
    if (!decoded || !decoded->sourceChecks) {
        std::fprintf(stderr, "index did not decode\n");
        return 1;
    }
    const qsizetype checkCount = decoded->sourceChecks->size();
    decoded->sourceChecks.reset();
    const QByteArray withoutChecks = decoded->encode();
    decoded.reset();

    if (loadOnly) {
        for (int i = 0; i < rounds; ++i) {
            (void)Store::make(root, [] { return Date(now); });
        }
        return 0;
    }

    std::vector<double> load, decode, bare, py, save;
    for (int round = 0; round < rounds; ++round) {
        load.push_back(best([&] {
            auto store = Store::make(root, [] { return Date(now); });
            if (store->items().size() != itemCount - hiddenCount) {
                std::fprintf(stderr, "index did not load whole\n");
                std::exit(1);
            }
            return store;
        }));
        decode.push_back(best([&] { return Store::Index::decode(bytes); }));
        bare.push_back(best([&] { return Store::Index::decode(withoutChecks); }));
        py.push_back(pythonBest(python, indexPath));
        auto store = Store::make(root, [] { return Date(now); });
        save.push_back(best([&] {
            store->flush();
            return 0;
        }));
    }

    const double ours = median(load);
    const double theirs = median(py);
    std::printf("index.json: %.1f MB, %d items, %d hidden, %d sessions, %d prompts, %lld source "
                "checks\n",
                bytes.size() / 1e6, itemCount, hiddenCount, sessionCount, promptCount,
                static_cast<long long>(checkCount));
    std::printf("store load (index, offsets, lookups): %7.1f ms\n", ours);
    std::printf("index decode alone:                   %7.1f ms\n", median(decode));
    std::printf("decode without the source checks:     %7.1f ms\n", median(bare));
    std::printf("python json.load:                     %7.1f ms\n", theirs);
    std::printf("load / python:                        %7.2f\n", ours / theirs);
    std::printf("save (index and offsets, synced):     %7.1f ms\n", median(save));
    return 0;
}
