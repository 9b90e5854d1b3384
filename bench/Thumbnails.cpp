// Card pictures: decoding stored thumbnails and item files at side 320, a banner's card and the
// cards of a screenshot and a photo whose stored thumbnails are a little short, rendering PDF first
// pages (and finding them on disk the second time), and one large photo made into a thumbnail by a
// whole process of ours beside vipsthumbnail. Prints its figures.
//
//   bench_Thumbnails                 all three
//   bench_Thumbnails --cards         the cards of short stored thumbnails alone
//   bench_Thumbnails --single IN OUT one photo to a 320-pixel JPEG (the process being measured)
#include "Ostrel/Views/Thumbnailer.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Engine/ImageProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ostrel;

namespace {

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<size_t>(
        std::clamp(p * (values.size() - 1), 0.0, static_cast<double>(values.size() - 1)));
    return values[index];
}

// Something like a photo: smooth gradients with grain, which JPEG compresses as it would a picture.
QImage photo(int width, int height, quint32 seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = static_cast<int>(random.bounded(24));
            line[x] = qRgb((x * 255 / width + grain) & 0xff, (y * 255 / height + grain) & 0xff,
                           ((x + y) * 127 / (width + height) + 64 + grain) & 0xff);
        }
    }
    return image;
}

ShelfItem item(const QString& id, ShelfItemKind kind, const QString& file) {
    ShelfItem out;
    out.id = id;
    out.kind = kind;
    out.fileURL = QUrl::fromLocalFile(file);
    return out;
}

// 200 loads at side 320: from the stored 360-pixel JPEGs ingest writes (`stored`), or from the
// items' own 1600 × 1200 files when there is none.
void decodes(const QTemporaryDir& dir, bool stored) {
    constexpr int count = 200;
    const QImage source = photo(1600, 1200, 7);
    const QImage small = source.scaled(360, 270, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QList<ShelfItem> items;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("photo-%1.jpg").arg(i));
        source.save(path, "JPEG", 85);
        small.save(dir.filePath(QStringLiteral("p%1.jpg").arg(i)), "JPEG", 80);
        items << item(QStringLiteral("p%1").arg(i), ShelfItemKind::image, path);
    }
    const QUrl noThumb = QUrl::fromLocalFile(dir.filePath(QStringLiteral("none.jpg")));
    const auto thumbOf = [&](const ShelfItem& it) {
        return stored ? QUrl::fromLocalFile(dir.filePath(it.id + QStringLiteral(".jpg"))) : noThumb;
    };

    std::vector<double> each;
    for (const ShelfItem& it : items) {
        QElapsedTimer timer;
        timer.start();
        const auto picture = Thumbnailer::loadNow(it, thumbOf(it), 320);
        each.push_back(timer.nsecsElapsed() / 1e6);
        if (!picture) {
            std::printf("decode failed\n");
        }
    }
    Thumbnailer::cache().clear();

    int answered = 0;
    QElapsedTimer all;
    all.start();
    for (const ShelfItem& it : items) {
        Thumbnailer::load(it, thumbOf(it), 320, qApp, [&answered](auto) { ++answered; });
    }
    while (answered < count) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const double wall = all.nsecsElapsed() / 1e6;
    std::printf("200 JPEG decodes at side 320 from %s: p50 %.2f ms, p95 %.2f ms each; "
                "all through the pool %.0f ms\n",
                stored ? "stored 360x270 thumbnails" : "1600x1200 item files",
                percentile(each, 0.5), percentile(each, 0.95), wall);
    Thumbnailer::cache().clear();
}

// A 3000 x 500 banner's card (160 x 120 points at a pixel ratio of 2), loaded 50 times each way,
// alternated: as its stored 360 x 60 JPEG, enlarged on the card, and as its own PNG decoded to
// cover the card and cut to it. What the sharp card costs once, before the cache holds it.
void banners(const QTemporaryDir& dir) {
    constexpr int count = 50;
    QImage banner(3000, 500, QImage::Format_RGB32);
    banner.fill(QColor(250, 250, 250));
    {
        QPainter painter(&banner);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 24));
        for (int y = 40; y < 500; y += 45) {
            for (int x = 10; x < 3000; x += 300) {
                painter.drawText(x, y, QStringLiteral("Label %1").arg(x + y));
            }
        }
    }
    const QString path = dir.filePath(QStringLiteral("banner.png"));
    banner.save(path, "PNG");
    const QUrl thumb = QUrl::fromLocalFile(dir.filePath(QStringLiteral("banner.jpg")));
    ImageProbe::writeThumbnail(*ImageProbe::source(QUrl::fromLocalFile(path)), thumb);
    const Thumbnailer::Fill card{QSizeF(160, 120), 2};
    std::vector<double> stored;
    std::vector<double> covering;
    QSize sizes[2];
    for (int i = 0; i < 2 * count; ++i) {
        const bool fill = i % 2 == 1;
        const ShelfItem it = item(QStringLiteral("b%1").arg(i), ShelfItemKind::image, path);
        QElapsedTimer timer;
        timer.start();
        const auto picture = fill ? Thumbnailer::loadNow(it, thumb, 320, card)
                                  : Thumbnailer::loadNow(it, thumb, 320);
        (fill ? covering : stored).push_back(timer.nsecsElapsed() / 1e6);
        sizes[fill ? 1 : 0] = picture ? picture->size() : QSize();
    }
    std::printf("3000x500 banner's card at ratio 2: stored JPEG %dx%d p50 %.2f ms; own PNG cut to "
                "the card %dx%d p50 %.2f ms, p95 %.2f ms (%.0f KiB in the cache)\n",
                sizes[0].width(), sizes[0].height(), percentile(stored, 0.5), sizes[1].width(),
                sizes[1].height(), percentile(covering, 0.5), percentile(covering, 0.95),
                Thumbnailer::cost(320, QImage(sizes[1], QImage::Format_RGB32)) / 1024.0);
    Thumbnailer::cache().clear();
}

// Cards at a pixel ratio of 2 of a 3840 x 2160 screenshot (PNG) and a 1536 x 2048 portrait photo
// (JPEG), on the rail's card and on the vertical turn stacks' card, the largest, whose stored
// 360-pixel JPEGs must be enlarged 1.18 to 1.27 times to cover them: each loaded 50 times, first
// without the cache, as a card loads it.
void shortStoredThumbnails(const QTemporaryDir& dir) {
    constexpr int count = 50;
    struct Shape {
        const char* name;
        QSize size;
        const char* format;
    };
    struct Card {
        const char* name;
        QSizeF size;
    };
    for (const Card card : {Card{"rail", ShelfMetrics::railCard},
                            Card{"vertical stacks", ShelfMetrics::columnCard()}}) {
        const Thumbnailer::Fill fill{card.size, 2};
        for (const Shape shape :
             {Shape{"screenshot", {3840, 2160}, "PNG"}, Shape{"portrait", {1536, 2048}, "JPEG"}}) {
            const QString path = dir.filePath(QString::fromLatin1(shape.name)) + u'.' +
                                 QString::fromLatin1(shape.format).toLower();
            if (!QFile::exists(path)) {
                photo(shape.size.width(), shape.size.height(), 5).save(path, shape.format, 90);
            }
            const QUrl thumb = QUrl::fromLocalFile(path + QStringLiteral(".thumb.jpg"));
            ImageProbe::writeThumbnail(*ImageProbe::source(QUrl::fromLocalFile(path)), thumb);
            const double side = Thumbnailer::side(card.size);
            std::vector<double> each;
            QSize size;
            for (int i = 0; i < count; ++i) {
                const ShelfItem it = item(QStringLiteral("s%1").arg(i), ShelfItemKind::image, path);
                QElapsedTimer timer;
                timer.start();
                const auto picture = Thumbnailer::loadNow(it, thumb, side, fill);
                each.push_back(timer.nsecsElapsed() / 1e6);
                size = picture ? picture->size() : QSize();
            }
            const QSize pixels = fill.pixels();
            std::printf("%dx%d %s on the %s card (%dx%d pixels) at ratio 2: %dx%d p50 %.2f ms, "
                        "p95 %.2f ms\n",
                        shape.size.width(), shape.size.height(), shape.name, card.name,
                        pixels.width(), pixels.height(), size.width(), size.height(),
                        percentile(each, 0.5), percentile(each, 0.95));
            Thumbnailer::cache().clear();
        }
    }
}

class Counting : public ThumbnailGenerator {
public:
    std::optional<QImage> generate(const ThumbnailRequest& request) override {
        ++calls;
        QElapsedTimer timer;
        timer.start();
        auto out = inner.generate(request);
        times.push_back(timer.nsecsElapsed() / 1e6);
        return out;
    }
    DesktopThumbnailGenerator inner{DesktopThumbnailGenerator::Config{}};
    int calls = 0;
    std::vector<double> times;
};

void pdfs(const QTemporaryDir& dir) {
    constexpr int count = 100;
    auto generator = std::make_shared<Counting>();
    Thumbnailer::setGenerator(generator);
    QList<ShelfItem> items;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("doc-%1.pdf").arg(i));
        QPdfWriter writer(path);
        QPainter painter(&writer);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
        for (int line = 0; line < 40; ++line) {
            painter.drawText(
                200, 300 + line * 250,
                QStringLiteral("Report %1, line %2: the quick brown fox").arg(i).arg(line));
        }
        painter.fillRect(QRect(200, 11000, 4000, 2000), QColor(40, 90, 200));
        painter.end();
        items << item(QStringLiteral("d%1").arg(i), ShelfItemKind::pdf, path);
    }
    const auto thumb = [&](const ShelfItem& it) {
        return QUrl::fromLocalFile(dir.filePath(it.id + QStringLiteral(".jpg")));
    };
    for (const ShelfItem& it : items) {
        Thumbnailer::loadNow(it, thumb(it), 320);
    }
    Thumbnailer::waitForIdle();
    const int firstCalls = generator->calls;
    Thumbnailer::cache().clear();
    std::vector<double> second;
    for (const ShelfItem& it : items) {
        QElapsedTimer timer;
        timer.start();
        Thumbnailer::loadNow(it, thumb(it), 320);
        second.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("100 PDF first pages at side 320: render p50 %.2f ms, p95 %.2f ms; %d renders; "
                "second pass %d renders, stored JPEG p50 %.2f ms\n",
                percentile(generator->times, 0.5), percentile(generator->times, 0.95), firstCalls,
                generator->calls - firstCalls, percentile(second, 0.5));
    Thumbnailer::setGenerator(nullptr);
    Thumbnailer::cache().clear();
}

struct ProcessCost {
    double ms = 0;
    long maxRssKb = 0;
};

// Runs the measured programs. A child's peak memory includes what its parent held when it forked
// (exec keeps the high-water mark), so the children come from a small helper forked before this
// process grew.
class Spawner {
public:
    void start() {
        int toHelper[2];
        int fromHelper[2];
        if (pipe(toHelper) != 0 || pipe(fromHelper) != 0) {
            return;
        }
        if (fork() == 0) {
            close(toHelper[1]);
            close(fromHelper[0]);
            serve(toHelper[0], fromHelper[1]);
            _exit(0);
        }
        close(toHelper[0]);
        close(fromHelper[1]);
        out_ = toHelper[1];
        in_ = fromHelper[0];
    }

    // Arguments joined by NUL, the command ended by an empty argument.
    ProcessCost run(const std::vector<std::string>& args) {
        std::string message;
        for (const auto& a : args) {
            message += a;
            message.push_back('\0');
        }
        message.push_back('\0');
        if (write(out_, message.data(), message.size()) != static_cast<ssize_t>(message.size())) {
            return {};
        }
        ProcessCost cost;
        if (read(in_, &cost, sizeof cost) != sizeof cost) {
            return {};
        }
        return cost;
    }

private:
    static void serve(int in, int out) {
        std::string buffer;
        char chunk[4096];
        for (;;) {
            const auto end = buffer.find(std::string("\0\0", 2));
            if (end == std::string::npos) {
                const ssize_t n = read(in, chunk, sizeof chunk);
                if (n <= 0) {
                    return;
                }
                buffer.append(chunk, static_cast<size_t>(n));
                continue;
            }
            std::vector<std::string> args;
            size_t at = 0;
            while (at <= end) {
                const size_t stop = buffer.find('\0', at);
                args.push_back(buffer.substr(at, stop - at));
                at = stop + 1;
            }
            buffer.erase(0, end + 2);
            timespec begin{};
            clock_gettime(CLOCK_MONOTONIC, &begin);
            const pid_t pid = fork();
            if (pid == 0) {
                std::vector<char*> argv;
                for (auto& a : args) {
                    argv.push_back(a.data());
                }
                argv.push_back(nullptr);
                execv(argv[0], argv.data());
                _exit(127);
            }
            int status = 0;
            rusage usage{};
            wait4(pid, &status, 0, &usage);
            timespec done{};
            clock_gettime(CLOCK_MONOTONIC, &done);
            ProcessCost cost{(done.tv_sec - begin.tv_sec) * 1e3 +
                                 (done.tv_nsec - begin.tv_nsec) / 1e6,
                             usage.ru_maxrss};
            if (write(out, &cost, sizeof cost) != sizeof cost) {
                return;
            }
        }
    }

    int out_ = -1;
    int in_ = -1;
};

Spawner spawner;

ProcessCost runProcess(const std::vector<std::string>& args) {
    return spawner.run(args);
}

void largePhoto(const QTemporaryDir& dir, const char* self) {
    const QString path = dir.filePath(QStringLiteral("large.jpg"));
    photo(6048, 4032, 11).save(path, "JPEG", 90);
    const std::string in = path.toStdString();
    const std::string ours = dir.filePath(QStringLiteral("ours.jpg")).toStdString();
    const std::string theirs = dir.filePath(QStringLiteral("vips.jpg")).toStdString();
    std::vector<double> oursMs, vipsMs;
    long oursKb = 0, vipsKb = 0;
    for (int round = 0; round < 5; ++round) {
        const auto a = runProcess({self, "--single", in, ours});
        const auto b = runProcess({"/usr/bin/vipsthumbnail", in, "-s", "320", "-o", theirs});
        oursMs.push_back(a.ms);
        vipsMs.push_back(b.ms);
        oursKb = std::max(oursKb, a.maxRssKb);
        vipsKb = std::max(vipsKb, b.maxRssKb);
    }
    const double a = percentile(oursMs, 0.5);
    const double b = percentile(vipsMs, 0.5);
    std::printf(
        "6048x4032 JPEG to side 320, whole process (median of 5): ours %.0f ms, %ld MB peak; "
        "vipsthumbnail %.0f ms, %ld MB peak; time ratio %.2f, memory ratio %.2f\n",
        a, oursKb / 1024, b, vipsKb / 1024, a / b,
        static_cast<double>(oursKb) / std::max(1L, vipsKb));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--single") {
        const auto picture =
            Thumbnailer::image(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])), 320, 0);
        return picture && ImageProbe::writeJPEG(
                              *picture, QUrl::fromLocalFile(QString::fromLocal8Bit(argv[3])))
                   ? 0
                   : 1;
    }
    spawner.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    std::printf("pool threads: up to %d\n", std::clamp(QThread::idealThreadCount(), 2, 4));
    if (argc == 2 && std::string(argv[1]) == "--cards") {
        shortStoredThumbnails(dir);
        return 0;
    }
    decodes(dir, true);
    decodes(dir, false);
    banners(dir);
    shortStoredThumbnails(dir);
    pdfs(dir);
    largePhoto(dir, argv[0]);
    return 0;
}
