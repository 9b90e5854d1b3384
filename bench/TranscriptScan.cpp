// Transcript scanning speed on a realistic 200 MB transcript (TranscriptCorpus.h: prompts,
// thinking, long assistant texts, tool calls and their results, screenshots as base64, in the
// proportions of a long session), read from offset 0, beside `grep -c` over the same file as the
// floor. Like is compared with like: two whole processes, each started, reading the file,
// scanning it and exiting, timed from before the start to after the exit, with the CPU time the
// kernel counted for each. Ours reads the transcript as the engine does, with the tailer's window
// and chunk. The sides alternate, several samples each, and the medians are compared; the read
// inside this process is printed for reference.
//
//   build/bench/bench_TranscriptScan [megabytes [samples]]       defaults: 200, 9
//   build/bench/bench_TranscriptScan oneline [megabytes]         one line of that size (200):
//                                                                 the peak resident size
#include "Median.h"
#include "OstrelCore/Engine/TranscriptTailer.h"
#include "Platform/MallocArenas.h"
#include "Platform/OpenSsl.h"
#include "ProcessCost.h"
#include "TranscriptCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace ostrel;
using bench::median;
using bench::ProcessCost;
using bench::runProcess;

namespace {

// About `total` bytes of whole turns.
bench::TranscriptCorpus::Counts generate(const QString& path, qint64 total) {
    QFile file(path);
    bench::TranscriptCorpus corpus;
    if (!file.open(QIODevice::WriteOnly)) {
        return corpus.counts();
    }
    QByteArray out;
    while (corpus.counts().bytes < total) {
        corpus.turn(out);
        if (out.size() > (1 << 22)) {
            file.write(out);
            out.clear();
        }
    }
    file.write(out);
    return corpus.counts();
}

// The child of the whole-process figure: reads the transcript once and prints what it found.
int scanOnly(const QString& path) {
    TranscriptTailer tailer(QUrl::fromLocalFile(path), 0, TranscriptTailer::defaultWindow,
                            TranscriptTailer::defaultChunk);
    qsizetype candidates = 0;
    tailer.read([&](const TranscriptBatch& batch) { candidates += batch.candidates.size(); });
    std::printf("%lld\n", static_cast<long long>(candidates));
    return 0;
}

double secondsOf(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

// A transcript of one line of `total` bytes, such as a runaway writer might leave: the scan
// skips it, and must not gather it first.
int oneLine(qint64 total) {
    QTemporaryDir dir;
    const QString path = dir.filePath("-home-ada-src-ostrel/5b7e0c7e.jsonl");
    QDir().mkpath(dir.filePath("-home-ada-src-ostrel"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            return 1;
        }
        QByteArray head = R"({"type":"user","message":{"role":"user","content":")";
        file.write(head);
        const QByteArray block(1 << 20, 'a');
        for (qint64 written = head.size(); written < total; written += block.size()) {
            file.write(block);
        }
        file.write("\"}}\n");
    }
    const std::vector<std::string> ours{QCoreApplication::applicationFilePath().toStdString(),
                                        "--scan-only", path.toStdString()};
    const ProcessCost cost = runProcess(ours);
    std::printf("one line of %.0f MB: %.3f s wall, %.3f s CPU, peak resident %.0f MB, %s "
                "candidates\n",
                double(QFile(path).size()) / 1e6, cost.wall, cost.cpu, cost.peakMiB,
                cost.output.constData());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // As the application's process starts.
    ostrel::MallocArenas::limit();
    ostrel::OpenSsl::init();
    if (argc == 3 && QByteArray(argv[1]) == "--scan-only") {
        return scanOnly(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    if (argc >= 2 && QByteArray(argv[1]) == "oneline") {
        return oneLine((argc > 2 ? QByteArray(argv[2]).toLongLong() : 200) << 20);
    }
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() << 20 : qint64(200) << 20;
    const int samples = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 9;
    QTemporaryDir dir;
    if (qEnvironmentVariableIsSet("OSTREL_BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("transcript kept in %s\n", qPrintable(dir.path()));
    }
    const QString path = dir.filePath("-home-ada-src-ostrel/5b7e0c7e.jsonl");
    QDir().mkpath(dir.filePath("-home-ada-src-ostrel"));
    const bench::TranscriptCorpus::Counts made = generate(path, total);
    const double mb = double(QFile(path).size()) / (1024.0 * 1024.0);

    // Warm the page cache for both readers alike.
    {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            while (!f.read(1 << 22).isEmpty()) {
            }
        }
    }

    const std::string file = path.toStdString();
    const std::vector<std::string> grepArguments{"grep", "-c", "\"type\":\"user\"", file};
    const std::vector<std::string> ourArguments{
        QCoreApplication::applicationFilePath().toStdString(), "--scan-only", file};
    std::vector<double> inProcess, oursWall, oursCpu, grepWall, grepCpu;
    qsizetype candidates = 0, prompts = 0, batches = 0;
    QByteArray grepCount;
    QByteArray childCount;
    for (int sample = 0; sample < samples; ++sample) {
        {
            TranscriptTailer tailer(QUrl::fromLocalFile(path), 0, TranscriptTailer::defaultWindow,
                                    TranscriptTailer::defaultChunk);
            candidates = prompts = batches = 0;
            QElapsedTimer timer;
            timer.start();
            tailer.read([&](const TranscriptBatch& batch) {
                ++batches;
                candidates += batch.candidates.size();
                prompts += batch.prompts.size();
            });
            inProcess.push_back(secondsOf(timer));
        }
        // Which side goes first alternates too.
        for (int side = 0; side < 2; ++side) {
            if ((side + sample) % 2 == 0) {
                const ProcessCost grep = runProcess(grepArguments);
                grepCount = grep.output;
                grepWall.push_back(grep.wall);
                grepCpu.push_back(grep.cpu);
            } else {
                const ProcessCost ours = runProcess(ourArguments);
                childCount = ours.output;
                oursWall.push_back(ours.wall);
                oursCpu.push_back(ours.cpu);
            }
        }
    }

    const double tailer = median(inProcess);
    const double wall = median(oursWall);
    const double cpu = median(oursCpu);
    const double floorWall = median(grepWall);
    const double floorCpu = median(grepCpu);
    std::printf("file: %.1f MB, %lld lines, %lld prompts, %lld tool results, %lld screenshots\n",
                mb, qlonglong(made.lines), qlonglong(made.prompts), qlonglong(made.toolResults),
                qlonglong(made.images));
    std::printf("read: %lld batches, %lld prompts, %lld candidates; %d samples a side, "
                "alternating\n",
                qlonglong(batches), qlonglong(prompts), qlonglong(candidates), samples);
    std::printf("TranscriptTailer::read in this process  median %.3f s  %.0f MB/s\n", tailer,
                mb / tailer);
    std::printf("our process: start, read, scan, exit   median %.3f s wall  %.3f s CPU  "
                "(%s candidates)\n",
                wall, cpu, childCount.constData());
    std::printf("grep -c process (floor)                 median %.3f s wall  %.3f s CPU  "
                "(%s lines)\n",
                floorWall, floorCpu, grepCount.constData());
    std::printf("ratio whole process: %.2fx the floor's wall time (aim <= 3), %.2fx its CPU time\n",
                wall / floorWall, cpu / floorCpu);
    return 0;
}
