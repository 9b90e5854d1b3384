// The first start over a realistic history, beside vipsthumbnail on all cores over the same
// PNGs, in one run (these machines are noisy: only ratios measured side by side mean much).
// A plain program that prints its figures.
//
//   build/bench/bench_ColdStart [kind] [pngs [transcripts [MB]]]   then restarts over what it
//                                                                   stored
//   build/bench/bench_ColdStart [kind] thumbs [count]               ways to a 360-pixel thumbnail
//   build/bench/bench_ColdStart [kind] restarts                     only the restarts
//
// Kinds: large (the default: 2000 PNGs of 30-350 KB drawn like screenshots, 50 transcripts of
// 5 MB), small (10,000 small screenshots of 3-25 KB, transcripts of 1 MB), and two histories
// no one should have, for the peak memory of one start and of a restart over what it stored:
// tiny (100,000 icons) and huge (12 pictures of 16384 x 16384 pixels). The corpus is made once
// under /tmp/ostrel-coldstart-[kind-]<pngs>-<transcripts>-<MB> and reused. Every start is a process
// of its own (this program with --start), measured from outside; each gets a new support folder: on
// the disk (next to the corpus) and in memory (/dev/shm).
#include "Median.h"
#include "OstrelCore/Engine/Engine.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "Platform/BoxScaler.h"
#include "Platform/MallocArenas.h"
#include "Platform/OpenSsl.h"
#include "Platform/PngImage.h"
#include "Platform/Sha256.h"
#include "Platform/WorkerPool.h"
#include "ProcessCost.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

namespace {

// What the scratchpads hold: screenshots of screen size ("large", 30-350 KB), of small windows
// and clippings ("small", 3-25 KB), icons ("tiny", under 2 KB, for a history of 100,000), or
// pictures of 16384 x 16384 pixels ("huge").
struct Corpus {
    QString kind = QStringLiteral("large");
    int pngs = 2000;
    int transcripts = 50;
    int megabytes = 5;
    QString root;

    QString scratch() const { return root + "/scratch"; }
    QString runs() const { return root + "/runs"; }
    QString claude() const { return root + "/claude"; }
    QString slug(int session) const { return QStringLiteral("-home-ada-src-p%1").arg(session); }
    QString sessionID(int session) const {
        return QStringLiteral("5b7e0c7e-1f8a-4a55-9a3e-%1").arg(session, 12, 10, QChar('0'));
    }
    QString scratchpad(int session) const {
        return scratch() + "/" + slug(session) + "/" + sessionID(session) + "/scratchpad";
    }
    QString transcript(int session) const {
        return claude() + "/projects/" + slug(session) + "/" + sessionID(session) + ".jsonl";
    }
    QStringList pngPaths() const {
        QStringList out;
        for (int i = 0; i < pngs; ++i) {
            out.append(scratchpad(i % transcripts) +
                       QStringLiteral("/shot-%1.png").arg(i, 5, 10, QChar('0')));
        }
        return out;
    }
};

void setAge(const QString& path, double seconds) {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= static_cast<time_t>(seconds);
    times[1] = times[0];
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

QByteArray encodePng(const QImage& image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return out;
}

// The picture as a PNG of about `targetBytes`: a square of noise at its right, below `top`, is
// sized for it by what the picture costs without (noise costs about 3 bytes a pixel).
QByteArray withNoise(QImage image, int top, qint64 targetBytes, QRandomGenerator& rng) {
    const qint64 base = encodePng(image).size();
    const int side =
        std::min<int>(image.height() - top - 2,
                      static_cast<int>(std::sqrt(
                          static_cast<double>(std::max<qint64>(0, targetBytes - base)) / 3.05)));
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y + top));
        for (int x = 0; x < side; ++x) {
            line[x + image.width() - side] = 0xff000000u | (rng.generate() & 0x00ffffffu);
        }
    }
    return encodePng(image);
}

// A screenshot-like picture: window chrome, a few text lines and flat panels, and noise for the
// rest of `targetBytes`.
QByteArray screenshot(int index, qint64 targetBytes) {
    QRandomGenerator rng(static_cast<quint32>(index * 7919 + 1));
    static const QSize sizes[] = {{1280, 800},  {1440, 900},  {1920, 1080},
                                  {2560, 1440}, {1680, 1050}, {1024, 768}};
    const QSize size = sizes[index % 6];
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(rng.bounded(360)), 20, 245));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width(), 36, QColor(40, 44, 52));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 11));
    for (int y = 60; y < size.height() / 4; y += 22) {
        painter.setPen(QColor::fromHsv(int(rng.bounded(360)), 160, 90));
        painter.drawText(24, y,
                         QStringLiteral("const auto result%1 = compute(value, %2);")
                             .arg(index)
                             .arg(rng.bounded(100000)));
    }
    for (int i = 0; i < 6; ++i) {
        painter.fillRect(int(rng.bounded(size.width() - 200)),
                         int(rng.bounded(size.height() - 150)), 200, 150,
                         QColor::fromHsv(int(rng.bounded(360)), 90, 220));
    }
    painter.end();
    return withNoise(image, 38, targetBytes, rng);
}

QJsonObject envelope(const Corpus& corpus, int session, const QString& type, int i) {
    return QJsonObject{
        {"parentUuid", QJsonValue::Null},
        {"isSidechain", false},
        {"userType", "external"},
        {"cwd", QStringLiteral("/home/ada/src/p%1").arg(session)},
        {"sessionId", corpus.sessionID(session)},
        {"version", "1.0.71"},
        {"gitBranch", "main"},
        {"type", type},
        {"uuid", QStringLiteral("0c1d8f3e-aaaa-4bbb-8ccc-%1").arg(i, 12, 10, QChar('0'))},
        {"timestamp", "2025-06-01T10:00:00.123Z"}};
}

void writeTranscript(const Corpus& corpus, int session) {
    QFile file(corpus.transcript(session));
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    QRandomGenerator rng(static_cast<quint32>(session + 1));
    static const QStringList pieces{
        "    if (value == nullptr) {\n        return \"none\";\n    }\n",
        "// Reads the \"settings\" file and returns C:\\path\\to\\it\n",
        "  1→#include <QString>\n  2→\n  3→namespace ostrel {\n",
        "error: expected ';' after expression\t[-Werror]\n"};
    const qint64 total = qint64(corpus.megabytes) * 1024 * 1024;
    qint64 written = 0;
    for (int i = 0; written < total; ++i) {
        QJsonObject o;
        if (i % 5 == 0) {
            o = envelope(corpus, session, "user", i);
            o.insert("message",
                     QJsonObject{{"role", "user"},
                                 {"content", QStringLiteral("Please fix test %1").arg(i)}});
            o.insert("promptId", QStringLiteral("prompt-%1-%2").arg(session).arg(i));
        } else {
            QString text;
            while (text.size() < (i % 5 == 1 ? 30000 : 1500)) {
                text += pieces.at(int(rng.bounded(pieces.size())));
            }
            o = envelope(corpus, session, i % 5 == 1 ? "user" : "assistant", i);
            o.insert("message", QJsonObject{{"role", i % 5 == 1 ? "user" : "assistant"},
                                            {"content", QJsonArray{QJsonObject{{"type", "text"},
                                                                               {"text", text}}}}});
        }
        const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
        file.write(line);
        written += line.size();
    }
}

// A small screenshot: a window or a clipping, a few text lines and panels.
QByteArray smallShot(int index, qint64 targetBytes) {
    QRandomGenerator rng(static_cast<quint32>(index * 7919 + 3));
    static const QSize sizes[] = {{320, 200}, {400, 300}, {480, 300},
                                  {640, 400}, {800, 500}, {360, 640}};
    const QSize size = sizes[index % 6];
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(rng.bounded(360)), 20, 245));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width(), 24, QColor(40, 44, 52));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    for (int y = 40; y < size.height() / 2; y += 16) {
        painter.setPen(QColor::fromHsv(int(rng.bounded(360)), 160, 90));
        painter.drawText(12, y, QStringLiteral("value %1 = %2").arg(index).arg(rng.bounded(1000)));
    }
    painter.end();
    return withNoise(image, 26, targetBytes, rng);
}

// An icon of 48 x 48 pixels, just above the filter's floor of 512 bytes.
QByteArray tinyShot(int index) {
    QRandomGenerator rng(static_cast<quint32>(index + 11));
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(int(rng.bounded(360)), 120, 200));
    for (int y = 0; y < 12; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < 12; ++x) {
            line[x] = 0xff000000u | (rng.generate() & 0x00ffffffu);
        }
    }
    return encodePng(image);
}

// A picture of side x side pixels, written row by row (it would take a gigabyte whole): flat
// bands, lines like text, and a square of noise a sixth of its side.
qint64 writeHugePng(const QString& path, int side, int index) {
    FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (out == nullptr) {
        return 0;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        std::fclose(out);
        return 0;
    }
    png_init_io(png, out);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(side), png_uint_32(side), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    QRandomGenerator rng(static_cast<quint32>(index + 5));
    std::vector<uchar> row(size_t(side) * 3);
    const int noise = side / 6;
    for (int y = 0; y < side; ++y) {
        const uchar shade = uchar(200 + (y / 512) % 40);
        std::fill(row.begin(), row.end(), shade);
        if (y % 32 < 12) {
            for (int x = 64; x < side / 2; x += 7) {
                row[size_t(x) * 3] = row[size_t(x) * 3 + 1] = 40;
            }
        }
        if (y < noise) {
            for (int x = 0; x < noise * 3; ++x) {
                row[size_t(x)] = uchar(rng.generate());
            }
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return QFileInfo(path).size();
}

// Makes the corpus unless a complete one is there; brings every file's date to the last minute so
// that the transcripts count as recent and the pictures as settled.
void prepare(Corpus& corpus, WorkerPool& pool) {
    const QString done = corpus.root + "/complete";
    if (!QFile::exists(done)) {
        QDir(corpus.root).removeRecursively();
        for (int s = 0; s < corpus.transcripts; ++s) {
            QDir().mkpath(corpus.scratchpad(s));
            QDir().mkpath(QFileInfo(corpus.transcript(s)).absolutePath());
        }
        ::chmod(QFile::encodeName(corpus.scratch()).constData(), 0700);
        const QStringList paths = corpus.pngPaths();
        qint64 bytes = 0;
        std::mutex mutex;
        pool.forEach(static_cast<int>(paths.size()), [&](int i) {
            QRandomGenerator rng(static_cast<quint32>(i));
            qint64 made = 0;
            if (corpus.kind == QStringLiteral("huge")) {
                made = writeHugePng(paths.at(i), 16384, i);
            } else {
                const QByteArray png = corpus.kind == QStringLiteral("small")
                                           ? smallShot(i, 3000 + rng.bounded(22000))
                                       : corpus.kind == QStringLiteral("tiny")
                                           ? tinyShot(i)
                                           : screenshot(i, 30000 + rng.bounded(320000));
                QFile file(paths.at(i));
                file.open(QIODevice::WriteOnly);
                file.write(png);
                made = png.size();
            }
            const std::lock_guard lock(mutex);
            bytes += made;
        });
        pool.forEach(corpus.transcripts, [&](int s) { writeTranscript(corpus, s); });
        std::printf("corpus made: %d PNGs, %.1f MB; %d transcripts of %d MB\n", corpus.pngs,
                    static_cast<double>(bytes) / 1e6, corpus.transcripts, corpus.megabytes);
        QFile(done).open(QIODevice::WriteOnly);
    }
    for (const QString& path : corpus.pngPaths()) {
        setAge(path, 60);
    }
    for (int s = 0; s < corpus.transcripts; ++s) {
        setAge(corpus.transcript(s), 60);
    }
}

double seconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// A folder on the disk for one run's output, new every time. Thousands of files removed just
// before would make each file created next slower than on a user's disk (ext4 passes over
// recently freed inodes when it picks one), so what the runs write is removed only at the end.
QString freshFolder(const Corpus& corpus, const QString& what) {
    static int made = 0;
    return corpus.runs() + QStringLiteral("/%1-%2").arg(what).arg(++made);
}

// vipsthumbnail over every PNG on all cores, JPEG of quality 80 out, as ingest writes: xargs
// and the vipsthumbnail processes it reaps, as one whole.
bench::ProcessCost vips(const Corpus& corpus) {
    const QString out = freshFolder(corpus, QStringLiteral("vips"));
    QDir().mkpath(out);
    const QString list = corpus.runs() + QStringLiteral("/png-list");
    {
        QFile file(list);
        file.open(QIODevice::WriteOnly);
        file.write(corpus.pngPaths().join(QChar(0)).toLocal8Bit());
    }
    const bench::ProcessCost cost = bench::runProcess(
        {"xargs", "-0", "-a", list.toStdString(), "-n", "16",
         QStringLiteral("-P%1").arg(WorkerPool::cores()).toStdString(), "vipsthumbnail", "-s",
         "360", "-o", (out + "/%s.jpg[Q=80]").toStdString()});
    const qsizetype made = QDir(out).entryList(QDir::Files).size();
    if (made != corpus.pngs) {
        std::printf("  vipsthumbnail made %lld of %d thumbnails\n", static_cast<long long>(made),
                    corpus.pngs);
    }
    return cost;
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of the engine's own thread so far: the part of a start that runs one thing at a
// time, and bounds it however many cores there are.
double engineThreadSeconds() {
    const QString tasks = QStringLiteral("/proc/self/task");
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + tid + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith("p.ostrel.engine")) {
            continue;
        }
        QFile stat(tasks + "/" + tid + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) {
            return 0;
        }
        // Fields 14 and 15 (user and system ticks) follow the parenthesised name.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12
                   ? static_cast<double>(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
                         static_cast<double>(::sysconf(_SC_CLK_TCK))
                   : 0;
    }
    return 0;
}

struct StartFigures {
    double shown = 0;   // spawn to the first snapshot
    double durable = 0; // spawn to the exit: the index written, everything synced
    double cpu = 0;     // CPU seconds of the whole process
    double engine = 0;  // of them, on the engine's thread
    double peakMiB = 0; // its peak resident size
    qsizetype items = 0;
};

// The child: one start of the engine over the corpus with the support folder as it is, as a
// process of its own, which prints when its first snapshot came (monotonicNs()), the number of
// items in it and the CPU seconds of the engine's thread.
int startOnly(const QString& root, const QString& support) {
    Corpus corpus;
    corpus.root = root;
    const Environment env{{"OSTREL_CLAUDE_HOME", corpus.claude()},
                          {"OSTREL_SCRATCH_ROOT", corpus.scratch()},
                          {"OSTREL_SUPPORT_DIR", support}};
    auto config = Engine::Config::make(Preferences(), env);
    config.paths.chromeRoot = OstrelPaths::folderURL(corpus.root + "/no-chrome");
    config.maxItems = Engine::Config::maxItemsRange.upper;
    qint64 shownAt = 0;
    qsizetype items = 0;
    // The main thread waits in its event loop, as the application's does: a loop that polled
    // would add its own CPU to the start's.
    QEventLoop waiting;
    auto engine = Engine::make(config);
    engine->setOnSnapshot([&](const Snapshot& snapshot, Engine::Generation) {
        if (shownAt == 0) {
            shownAt = bench::monotonicNs();
            items = snapshot.items.size();
            waiting.quit();
        }
    });
    engine->start(false);
    if (shownAt == 0) {
        waiting.exec();
    }
    engine->stop();
    const double engineSeconds = engineThreadSeconds();
    engine.reset();
    std::printf("%lld %lld %.3f\n", static_cast<long long>(shownAt), static_cast<long long>(items),
                engineSeconds);
    return 0;
}

// One start of the engine over the corpus, measured from outside as a whole process.
StartFigures start(const Corpus& corpus, const QString& support) {
    const bench::ProcessCost cost =
        bench::runProcess({QCoreApplication::applicationFilePath().toStdString(), "--start",
                           corpus.root.toStdString(), support.toStdString()});
    const QList<QByteArray> fields = cost.output.split(' ');
    StartFigures out;
    if (!cost.ok || fields.size() != 3) {
        std::printf("  a start failed: %s\n", cost.output.constData());
        return out;
    }
    out.shown = double(fields.at(0).toLongLong() - cost.spawnedAt) / 1e9;
    out.items = fields.at(1).toLongLong();
    out.engine = fields.at(2).toDouble();
    out.durable = cost.wall;
    out.cpu = cost.cpu;
    out.peakMiB = cost.peakMiB;
    return out;
}

StartFigures firstStart(const Corpus& corpus, const QString& support) {
    const StartFigures out = start(corpus, support);
    if (!support.startsWith(corpus.runs())) {
        QDir(support).removeRecursively(); // memory is scarcer than disk
    }
    return out;
}

// Restarts over what a first start stored, nothing new on disk, each a process of its own: with
// the files' times as they were, with every file touched (same bytes, a new time, as after a
// checkout or a copy), and once more after that, with nothing changed since the touched one.
void restarts(const Corpus& corpus) {
    const QString support = freshFolder(corpus, QStringLiteral("support"));
    start(corpus, support);
    // The times the items were stored with, given back before each restart "unchanged".
    QStringList paths = corpus.pngPaths();
    for (int s = 0; s < corpus.transcripts; ++s) {
        paths.append(corpus.transcript(s));
    }
    std::vector<timespec> stored;
    for (const QString& path : paths) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        stored.push_back(st.st_mtim);
    }
    struct Row {
        explicit Row(const char* name) : name(name) {}
        const char* name;
        std::vector<double> shown, done, cpu, engine;
        void add(const StartFigures& f) {
            shown.push_back(f.shown);
            done.push_back(f.durable);
            cpu.push_back(f.cpu);
            engine.push_back(f.engine);
        }
    };
    Row same("times unchanged"), touched("times touched"), after("again, after it");
    qsizetype items = 0;
    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const timespec times[2] = {stored[size_t(i)], stored[size_t(i)]};
            ::utimensat(AT_FDCWD, QFile::encodeName(paths.at(i)).constData(), times, 0);
        }
        same.add(start(corpus, support));
        for (const QString& path : paths) {
            setAge(path, 30 - round);
        }
        const StartFigures t = start(corpus, support);
        touched.add(t);
        items = t.items;
        after.add(start(corpus, support));
    }
    // Touched files are recognised by their digest: reading and hashing their bytes once, on one
    // thread, is the floor of that restart's CPU.
    const double floorBefore = cpuSeconds();
    std::vector<char> chunk(256 * 1024);
    qint64 hashedBytes = 0;
    for (const QString& path : corpus.pngPaths()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        Sha256 hasher;
        for (qint64 n = 0; (n = file.read(chunk.data(), qint64(chunk.size()))) > 0;) {
            hasher.update(QByteArrayView(chunk.data(), n));
            hashedBytes += n;
        }
        hasher.finish();
    }
    const double floorCpu = cpuSeconds() - floorBefore;
    using bench::median;
    std::printf(
        "restarts with nothing new, %lld items, whole processes (medians of %d, in turn):\n",
        static_cast<long long>(items), rounds);
    std::printf("  %-16s %9s %9s %7s %8s %12s\n", "", "shown ms", "exit ms", "CPU-s", "engine s",
                "CPU - floor");
    for (const Row* row : {&same, &touched, &after}) {
        std::printf("  %-16s %9.0f %9.0f %7.2f %8.2f %12.2f\n", row->name,
                    median(row->shown) * 1000, median(row->done) * 1000, median(row->cpu),
                    median(row->engine), median(row->cpu) - floorCpu);
    }
    std::printf("  aims: touched <= 150 ms shown and <= floor + 0.15 CPU-s; again after it as "
                "unchanged\n");
    std::printf("  floor: reading and hashing the %.0f MB of pictures once, one thread, %5.2f "
                "CPU-s\n",
                static_cast<double>(hashedBytes) / 1e6, floorCpu);
}

// libpng's rows, widened to four bytes, into the box filter: how the PNGs were thumbnailed before
// they were inflated and unfiltered by our own code. 8-bit RGB only, as in the corpus.
struct LibpngRows {
    const QByteArray* bytes = nullptr;
    QSize to;
    qsizetype at = 8;
    std::vector<QRgb> row;
    std::unique_ptr<BoxScaler> scaler;
};

// Holds nothing of its own: libpng may jump back into it.
void readLibpngRows(png_structp png, png_infop info, LibpngRows* decode) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        decode->scaler.reset();
        return;
    }
    png_set_read_fn(png, decode, [](png_structp p, png_bytep into, png_size_t count) {
        auto* d = static_cast<LibpngRows*>(png_get_io_ptr(p));
        if (d->at + static_cast<qsizetype>(count) > d->bytes->size()) {
            png_error(p, "truncated");
        }
        std::memcpy(into, d->bytes->constData() + d->at, count);
        d->at += static_cast<qsizetype>(count);
    });
    png_set_sig_bytes(png, 8);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    decode->row.resize(width);
    decode->scaler = std::make_unique<BoxScaler>(QSize(int(width), int(height)), decode->to);
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(png, reinterpret_cast<png_bytep>(decode->row.data()), nullptr);
        decode->scaler->addRow(decode->row.data());
    }
}

QImage libpngRows(const QByteArray& bytes, QSize to) {
    LibpngRows decode;
    decode.bytes = &bytes;
    decode.to = to;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    readLibpngRows(png, info, &decode);
    png_destroy_read_struct(&png, &info, nullptr);
    return decode.scaler ? decode.scaler->take() : QImage();
}

// Single-thread cost of the ways to a 360-pixel thumbnail of the corpus's PNGs.
void thumbs(const Corpus& corpus, int count) {
    QStringList paths = corpus.pngPaths();
    paths = paths.mid(0, std::min<qsizetype>(count, paths.size()));
    std::vector<QByteArray> files;
    for (const QString& path : paths) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        files.push_back(file.readAll());
    }
    const auto bounded = [](QSize size) {
        return size.scaled(QSize(360, 360), Qt::KeepAspectRatio);
    };
    const std::vector<std::pair<const char*, std::function<QImage(const QByteArray&)>>> ways{
        {"scaled read (QImageReader::setScaledSize)",
         [&](const QByteArray& bytes) {
             QBuffer buffer;
             buffer.setData(bytes);
             buffer.open(QIODevice::ReadOnly);
             QImageReader reader(&buffer, "png");
             reader.setScaledSize(bounded(reader.size()));
             return reader.read();
         }},
        {"full decode, one smooth scale",
         [&](const QByteArray& bytes) {
             QImage image = QImage::fromData(bytes, "png");
             return image.scaled(bounded(image.size()), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
         }},
        {"full decode as RGB32, one smooth scale",
         [&](const QByteArray& bytes) {
             QImage image = QImage::fromData(bytes, "png");
             image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                     : QImage::Format_RGB32);
             return image.scaled(bounded(image.size()), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
         }},
        {"libpng's rows straight into a box filter",
         [&](const QByteArray& bytes) {
             const auto source = ImageProbe::source(bytes);
             return libpngRows(bytes, bounded(*ImageProbe::pixelSize(*source)));
         }},
        {"our unfiltering, streamed through zlib",
         [&](const QByteArray& bytes) {
             const auto source = ImageProbe::source(bytes);
             return PngImage::thumbnail(bytes, bounded(*ImageProbe::pixelSize(*source)));
         }},
        {"ours, inflated whole by libdeflate (PngImage::thumbnail)",
         [&](const QByteArray& bytes) {
             const auto source = ImageProbe::source(bytes);
             return PngImage::thumbnail(bytes, bounded(*ImageProbe::pixelSize(*source)),
                                        &ImageProbe::decodeBudget());
         }},
        {"ImageProbe::thumbnailJPEG (what ingest does, JPEG included)",
         [&](const QByteArray& bytes) {
             const auto source = ImageProbe::source(bytes);
             return source ? QImage::fromData(*ImageProbe::thumbnailJPEG(*source)) : QImage();
         }},
    };
    std::printf("\n360-pixel thumbnails of %d PNGs, one thread:\n", static_cast<int>(paths.size()));
    std::vector<QImage> first;
    for (const auto& [name, way] : ways) {
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = cpuSeconds();
        std::vector<QImage> made;
        for (const QByteArray& bytes : files) {
            made.push_back(way(bytes));
        }
        const double ms = seconds(timer) * 1000 / static_cast<double>(files.size());
        // Qt's smooth scaling of a large picture runs on Qt's own threads: the CPU tells.
        const double cpuMs = (cpuSeconds() - cpuBefore) * 1000 / static_cast<double>(files.size());
        // How far the result lies from the first way's, in mean absolute difference per channel.
        double difference = 0;
        if (!first.empty()) {
            qint64 sum = 0;
            qint64 n = 0;
            for (size_t i = 0; i < made.size(); ++i) {
                const QImage a = first[i].convertToFormat(QImage::Format_RGB32);
                const QImage b = made[i].convertToFormat(QImage::Format_RGB32);
                if (a.size() != b.size()) {
                    continue;
                }
                for (int y = 0; y < a.height(); ++y) {
                    const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
                    const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
                    for (int x = 0; x < a.width(); ++x) {
                        sum += std::abs(qRed(pa[x]) - qRed(pb[x])) +
                               std::abs(qGreen(pa[x]) - qGreen(pb[x])) +
                               std::abs(qBlue(pa[x]) - qBlue(pb[x]));
                        n += 3;
                    }
                }
            }
            difference = n > 0 ? static_cast<double>(sum) / static_cast<double>(n) : 0;
        } else {
            first = made;
        }
        std::printf("  %-62s %6.2f ms each, %6.2f ms CPU   (difference %.2f)\n", name, ms, cpuMs,
                    difference);
    }
}

} // namespace

int main(int argc, char** argv) {
    MallocArenas::limit();
    OpenSsl::init();
    if (argc == 4 && QByteArray(argv[1]) == "--start") {
        QCoreApplication app(argc, argv);
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
        return startOnly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    Corpus corpus;
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && QStringList{"large", "small", "tiny", "huge"}.contains(args.first())) {
        corpus.kind = args.takeFirst();
        if (corpus.kind == QStringLiteral("small")) {
            corpus.pngs = 10000;
            corpus.megabytes = 1;
        } else if (corpus.kind == QStringLiteral("tiny")) {
            corpus.pngs = 100000;
            corpus.megabytes = 1;
        } else if (corpus.kind == QStringLiteral("huge")) {
            corpus.pngs = 12;
            corpus.transcripts = 1;
            corpus.megabytes = 1;
        }
    }
    const bool thumbsOnly = !args.isEmpty() && args.first() == QStringLiteral("thumbs");
    const bool restartsOnly = !args.isEmpty() && args.first() == QStringLiteral("restarts");
    const QStringList numbers = thumbsOnly || restartsOnly ? args.mid(1) : args;
    if (!numbers.isEmpty()) {
        corpus.pngs = std::max(1, numbers.at(0).toInt());
    }
    if (numbers.size() > 1) {
        corpus.transcripts = std::max(1, numbers.at(1).toInt());
    }
    if (numbers.size() > 2) {
        corpus.megabytes = std::max(1, numbers.at(2).toInt());
    }
    corpus.root = QStringLiteral("/tmp/ostrel-coldstart-%1%2-%3-%4")
                      .arg(corpus.kind == QStringLiteral("large") ? QString() : corpus.kind + u'-')
                      .arg(corpus.pngs)
                      .arg(corpus.transcripts)
                      .arg(corpus.megabytes);
    // What an interrupted run wrote; the first figures of this run may suffer for it.
    QDir(corpus.runs()).removeRecursively();
    {
        WorkerPool pool;
        prepare(corpus, pool);
    }
    QDir().mkpath(corpus.runs());
    if (thumbsOnly) {
        thumbs(corpus, args.size() > 1 ? args.at(1).toInt() : 100);
        return 0;
    }
    if (corpus.kind == QStringLiteral("tiny") || corpus.kind == QStringLiteral("huge")) {
        // Histories no one should have: what matters is that memory stays bounded.
        const QString support = freshFolder(corpus, QStringLiteral("support"));
        const StartFigures disk = firstStart(corpus, support);
        std::printf("first start over %d %s PNGs: %lld items, shown after %.2f s, done after %.2f "
                    "s, %.2f CPU-s, peak resident %.0f MB\n",
                    corpus.pngs, qPrintable(corpus.kind), static_cast<long long>(disk.items),
                    disk.shown, disk.durable, disk.cpu, disk.peakMiB);
        // A restart holds every stored record, read back from the index.
        const StartFigures again = start(corpus, support);
        std::printf("restart over what it stored: shown after %.2f s, done after %.2f s, %.2f "
                    "CPU-s, peak resident %.0f MB\n",
                    again.shown, again.durable, again.cpu, again.peakMiB);
        QDir(corpus.runs()).removeRecursively();
        return 0;
    }
    if (restartsOnly) {
        restarts(corpus);
        QDir(corpus.runs()).removeRecursively();
        return 0;
    }

    const QString inMemory = QStringLiteral("/dev/shm/ostrel-coldstart-support-%1")
                                 .arg(QCoreApplication::applicationPid());
    std::printf("first start: %d %s PNGs, %d transcripts of %d MB, %d cores; whole processes\n",
                corpus.pngs, qPrintable(corpus.kind), corpus.transcripts, corpus.megabytes,
                WorkerPool::cores());
    std::printf("%-6s %8s %8s %8s %8s %8s %8s %8s %7s %8s %8s\n", "round", "vips s", "vips CPU",
                "shown s", "done s", "CPU-s", "engine", "peak MB", "items", "memory s", "mem CPU");
    std::vector<double> ratioTime, ratioCpu, ratioMemory;
    const int rounds = 3;
    for (int round = 1; round <= rounds; ++round) {
        const bench::ProcessCost v = vips(corpus);
        const StartFigures disk =
            firstStart(corpus, freshFolder(corpus, QStringLiteral("support")));
        const StartFigures memory = firstStart(corpus, inMemory);
        std::printf("%-6d %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %8.0f %7lld %8.2f %8.2f\n", round,
                    v.wall, v.cpu, disk.shown, disk.durable, disk.cpu, disk.engine, disk.peakMiB,
                    static_cast<long long>(disk.items), memory.durable, memory.cpu);
        ratioTime.push_back(disk.durable / v.wall);
        ratioCpu.push_back(disk.cpu / v.cpu);
        ratioMemory.push_back(disk.durable / memory.durable);
    }
    const auto list = [](const std::vector<double>& values) {
        QStringList out;
        for (const double v : values) {
            out.append(QString::number(v, 'f', 2));
        }
        return out.join(QStringLiteral(", ")).toStdString();
    };
    std::printf("first start on disk / vipsthumbnail, time: %s, median %.2f (aim <= 0.3)\n",
                list(ratioTime).c_str(), bench::median(ratioTime));
    std::printf("first start on disk / vipsthumbnail, CPU:  %s, median %.2f\n",
                list(ratioCpu).c_str(), bench::median(ratioCpu));
    std::printf("first start on disk / in memory, time:     %s, median %.2f (aim <= 1.3)\n",
                list(ratioMemory).c_str(), bench::median(ratioMemory));
    restarts(corpus);
    QDir(corpus.runs()).removeRecursively();
    return 0;
}
