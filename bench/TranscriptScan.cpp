// Transcript scanning speed on a realistic 200 MB transcript, read from offset 0, beside
// `grep -c` over the same file as the floor. Like is compared with like: two whole processes,
// each started, reading the file, scanning it and exiting, timed from before the start to after
// the exit, with the CPU time the kernel counted for each. Ours reads the transcript as the
// engine does, with the tailer's window and chunk. The sides alternate, several samples each,
// and the medians are compared; the read inside this process is printed for reference.
//
//   build/bench/bench_TranscriptScan [megabytes [samples]]       defaults: 200, 9
#include "Median.h"
#include "OstrelCore/Engine/TranscriptTailer.h"
#include "Platform/OpenSsl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace ostrel;
using bench::median;

namespace {

QJsonObject envelope(const QString& type, int i) {
    return QJsonObject{
        {"parentUuid", QJsonValue::Null},
        {"isSidechain", false},
        {"userType", "external"},
        {"cwd", "/home/ada/src/ostrel"},
        {"sessionId", "5b7e0c7e-1f8a-4a55-9a3e-3c2f4b1d9e01"},
        {"version", "1.0.71"},
        {"gitBranch", "main"},
        {"type", type},
        {"uuid", QStringLiteral("0c1d8f3e-aaaa-4bbb-8ccc-%1").arg(i, 12, 10, QChar('0'))},
        {"timestamp", "2025-06-01T10:00:00.123Z"}};
}

// Source-code-like text with quotes, backslashes and line breaks, as tool results carry.
QString codeText(QRandomGenerator& rng, int bytes) {
    static const QStringList pieces{
        "    if (value == nullptr) {\n        return \"none\";\n    }\n",
        "// Reads the \"settings\" file and returns C:\\path\\to\\it\n",
        "  1→#include <QString>\n  2→\n  3→namespace ostrel {\n",
        "error: expected ';' after expression\t[-Werror]\n",
        "const auto result = compute(a, b, \"text with \\\"quotes\\\"\");\n"};
    QString text;
    while (text.size() < bytes) {
        text += pieces.at(int(rng.bounded(pieces.size())));
    }
    return text;
}

QByteArray line(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// About `total` bytes: most inside tool results, some large base64 images, assistant text and
// tool calls between them.
void generate(const QString& path, qint64 total) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    QRandomGenerator rng(42);
    QByteArray imageBytes(1 << 20, Qt::Uninitialized);
    for (auto& b : imageBytes) {
        b = char(rng.bounded(256));
    }
    const QString image = QString::fromLatin1(imageBytes.toBase64());
    qint64 written = 0;
    for (int i = 0; written < total; ++i) {
        QByteArray out;
        QJsonObject o;
        const QString toolID = QStringLiteral("toolu_%1").arg(i);
        switch (i % 10) {
        case 0: {
            o = envelope("user", i);
            o.insert("message", QJsonObject{{"role", "user"}, {"content", "Please fix the tests"}});
            o.insert("promptId", QStringLiteral("prompt-%1").arg(i));
            break;
        }
        case 1:
        case 2:
        case 3: {
            o = envelope("assistant", i);
            o.insert(
                "message",
                QJsonObject{{"role", "assistant"},
                            {"content", QJsonArray{QJsonObject{{"type", "text"},
                                                               {"text", codeText(rng, 2000)}}}}});
            break;
        }
        case 4:
        case 6: {
            o = envelope("assistant", i);
            o.insert("message",
                     QJsonObject{{"role", "assistant"},
                                 {"content",
                                  QJsonArray{QJsonObject{
                                      {"type", "tool_use"},
                                      {"id", toolID},
                                      {"name", i % 20 == 4 ? "Read" : "Bash"},
                                      {"input", QJsonObject{{"file_path", "/home/ada/a.png"}}}}}}});
            break;
        }
        case 5:
        case 7:
        case 8: {
            o = envelope("user", i);
            o.insert("message",
                     QJsonObject{
                         {"role", "user"},
                         {"content", QJsonArray{QJsonObject{{"tool_use_id", toolID},
                                                            {"type", "tool_result"},
                                                            {"content", codeText(rng, 60000)}}}}});
            break;
        }
        case 9: {
            o = envelope("user", i);
            QJsonArray blocks{QJsonObject{{"type", "text"}, {"text", "screenshot taken"}}};
            if (i % 40 == 9) {
                blocks.append(QJsonObject{{"type", "image"},
                                          {"source", QJsonObject{{"type", "base64"},
                                                                 {"media_type", "image/png"},
                                                                 {"data", image}}}});
            }
            o.insert("message",
                     QJsonObject{{"role", "user"},
                                 {"content", QJsonArray{QJsonObject{{"tool_use_id", toolID},
                                                                    {"type", "tool_result"},
                                                                    {"content", blocks}}}}});
            break;
        }
        }
        out = line(o);
        file.write(out);
        written += out.size();
    }
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

struct ProcessCost {
    double wall = 0;
    double cpu = 0;
};

// Runs a program to its end with posix_spawn, its output read from a pipe (grep stops at the
// first match when it writes to /dev/null), and reaps it with wait4: its wall time from before
// the spawn to after the reap, and the user and system time it used.
ProcessCost runProcess(const std::vector<std::string>& arguments, QByteArray* output) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; rc == 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            out.append(buffer, n);
        }
    }
    ::close(pipeFds[0]);
    rusage usage{};
    int status = 0;
    if (rc != 0 || ::wait4(pid, &status, 0, &usage) < 0) {
        return {};
    }
    const double wall = secondsOf(timer);
    if (output != nullptr) {
        *output = out.trimmed();
    }
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return {wall, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    if (argc == 3 && QByteArray(argv[1]) == "--scan-only") {
        return scanOnly(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    const qint64 total = argc > 1 ? QByteArray(argv[1]).toLongLong() << 20 : qint64(200) << 20;
    const int samples = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 9;
    QTemporaryDir dir;
    const QString path = dir.filePath("-home-ada-src-ostrel/5b7e0c7e.jsonl");
    QDir().mkpath(dir.filePath("-home-ada-src-ostrel"));
    generate(path, total);
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
                const ProcessCost grep = runProcess(grepArguments, &grepCount);
                grepWall.push_back(grep.wall);
                grepCpu.push_back(grep.cpu);
            } else {
                const ProcessCost ours = runProcess(ourArguments, &childCount);
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
    std::printf("file: %.1f MB, %lld batches, %lld prompts, %lld candidates; %d samples a side, "
                "alternating\n",
                mb, qlonglong(batches), qlonglong(prompts), qlonglong(candidates), samples);
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
