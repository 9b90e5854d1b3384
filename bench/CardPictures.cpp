// What the cards' pictures cost the whole application on a long shelf at a display scale of 2:
// the real binary on a private Xvfb of 3840 x 2160, its rail holding 500 pictures (250 screenshots
// of 1440 x 900, 125 banners of 3000 x 500 and 125 pages of 1440 x 4000, each with the thumbnail
// the store keeps), scrolled end to end three times by the wheel. Its peak memory, and the CPU and
// bytes read of each pass, beside the same figures of a reference binary (another build of
// Ostrel), the two run in turn, each a process on an X server of its own. A plain program that
// prints its figures.
//
//   build/bench/bench_CardPictures REFERENCE [rounds [seconds a pass]]    default 3 rounds, 20 s
//
// A pass turns the wheel 60 notches a second (24 points each) for its seconds, then waits a second
// for the loads it started; the first pass meets every picture for the first time, the two after
// it (back up, then down again) find what the picture cache kept.
#include "BenchImages.h"
#include "DrawerBench.h"
#include "Median.h"
#include "ProcessTimes.h"
#include "ShelfProcess.h"
#include "WheelTurns.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Engine/ImageProbe.h"
#include "OstrelCore/Records/Store.h"
#include "support/OpenDrawer.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>
#include <vector>

using namespace ostrel;
using namespace ostrel::test;

namespace {

constexpr int itemCount = 500;
constexpr int turnCount = 50;
constexpr double scale = 2;
constexpr int notchesPerSecond = 60;
// Each kind in a few pictures of its own, linked under the items' names.
constexpr int variants = 4;

enum class Shape { screenshot, banner, page };

Shape shapeOf(int item) {
    switch (item % 4) {
    case 2:
        return Shape::banner;
    case 3:
        return Shape::page;
    default:
        return Shape::screenshot;
    }
}

QSize sizeOf(Shape shape) {
    switch (shape) {
    case Shape::banner:
        return {3000, 500};
    case Shape::page:
        return {1440, 4000};
    case Shape::screenshot:
        break;
    }
    return {1440, 900};
}

QString nameOf(Shape shape, int variant) {
    static const char* names[] = {"screenshot", "banner", "page"};
    return QStringLiteral("%1-%2").arg(QLatin1String(names[int(shape)])).arg(variant);
}

// Something like a screenshot of a window or a page: a light ground, coloured bands, rules and
// lines of text, which PNG compresses as it would the real thing.
QImage picture(Shape shape, int variant) {
    const QSize size = sizeOf(shape);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(246, 246, 244));
    QPainter painter(&image);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 15));
    const QColor band = QColor::fromHsv((variant * 67 + int(shape) * 110) % 360, 120, 200);
    for (int y = 0; y < size.height(); y += 180) {
        painter.fillRect(QRect(0, y, size.width(), 36), band);
        for (int line = 0; line < 6; ++line) {
            const int at = y + 60 + line * 20;
            painter.setPen(QColor(30, 30, 30));
            for (int x = 20; x < size.width(); x += 460) {
                painter.drawText(QPointF(x, at),
                                 QStringLiteral("Row %1 of the report, column %2: value %3")
                                     .arg(at)
                                     .arg(x)
                                     .arg(variant * 1000 + at + x));
            }
        }
        painter.setPen(QColor(120, 120, 120));
        painter.drawLine(0, y + 175, size.width(), y + 175);
    }
    return image;
}

// The pictures and the thumbnails the store would keep of them, in `folder`.
void writePictures(const QString& folder) {
    for (const Shape shape : {Shape::screenshot, Shape::banner, Shape::page}) {
        for (int v = 0; v < variants; ++v) {
            const QString own = folder + u'/' + nameOf(shape, v) + QStringLiteral(".png");
            picture(shape, v).save(own, "PNG");
            const auto source = ImageProbe::source(QUrl::fromLocalFile(own));
            if (!source || !ImageProbe::writeThumbnail(
                               *source, QUrl::fromLocalFile(folder + u'/' + nameOf(shape, v) +
                                                            QStringLiteral(".jpg")))) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(own));
            }
        }
    }
}

// One session of seen pictures in `turnCount` turns, the shapes taking turns within each.
void writeShelf(const QString& support, const QString& pictures) {
    auto store = Store::make(QUrl::fromLocalFile(support), [] { return Date::now(); });
    const Snapshot shelf =
        bench::drawerShelf(itemCount, turnCount, 0, turnCount, Date::now().seconds - 100000);
    for (const Session& session : shelf.sessions) {
        store->upsert(session);
    }
    for (const Prompt& prompt : shelf.prompts) {
        store->upsert(prompt);
    }
    int k = 0;
    for (ShelfItem item : shelf.items) {
        const Shape shape = shapeOf(k);
        const QString name = pictures + u'/' + nameOf(shape, (k / 4) % variants);
        ++k;
        item.sourceKinds = {Source::scratchpad};
        item.width = sizeOf(shape).width();
        item.height = sizeOf(shape).height();
        item.fileURL = store->copyURL(item.id, QStringLiteral("png"));
        bench::linkOrCopy(name + QStringLiteral(".png"), item.fileURL->toLocalFile());
        bench::linkOrCopy(name + QStringLiteral(".jpg"), store->thumbURL(item.id).toLocalFile());
        store->upsert(item);
    }
    store->flush();
}

// A figure of /proc/<pid>/status (in KiB), or of /proc/<pid>/io (in bytes).
double procField(qint64 pid, const char* file, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':')) {
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toDouble();
        }
    }
    return 0;
}

struct Run {
    bool ok = false;
    double peakMiB = 0;
    std::vector<double> passCpu;
    std::vector<double> passReadMB;
    std::vector<double> residentMiB;
};

Run run(const QString& binary, const QString& pictures, double seconds, const QString& capture) {
    Run out;
    XServer::Options options;
    options.size = QSize(3840, 2160);
    XServer x(options);
    if (!x.ok()) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(x.error()));
        return out;
    }
    writeShelf(x.home().file(QStringLiteral("data/Ostrel")), pictures);
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    if (!bench::startShelfProcess(x, binary, env, itemCount)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(binary));
        return out;
    }
    const qint64 pid = x.appPid();
    x.moveTo(QPoint(1920, 1800));
    pump(4);

    // The drawer's place in logical pixels, the pointer's in the screen's.
    const QRectF screen(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(screen, 0, std::nullopt, std::nullopt), screen);
    const auto device = [](QPointF p) { return (p * scale).toPoint(); };
    const QRectF hot = layout.hotZone(0);
    x.moveTo(device(QPointF(hot.center().x(), 1080 - hot.center().y())));
    const QRect drawer = openDrawer();
    const QPoint probe = device(drawerProbe(drawer));
    if (!waitUntil([&] { return dark(x.capture(QRect(probe, QSize(1, 1))), QPoint(0, 0)); }, 20)) {
        std::fprintf(stderr, "the drawer did not open\n%s\n", qPrintable(x.appLog()));
        return out;
    }
    // Over the turn grid, right of the session list.
    x.moveTo(device(QPointF(drawer.x() + 207 + 250, drawer.center().y())));
    pump(2);

    for (int pass = 0; pass < 3; ++pass) {
        const auto cpu = bench::threadSeconds(pid);
        const double read = procField(pid, "io", "rchar");
        std::thread wheel(
            [&] { bench::turnWheel(x.display(), seconds, notchesPerSecond, pass != 1); });
        pump(seconds);
        wheel.join();
        pump(1);
        out.passCpu.push_back(bench::cpuSpent(cpu, bench::threadSeconds(pid)));
        out.passReadMB.push_back((procField(pid, "io", "rchar") - read) / 1e6);
        out.residentMiB.push_back(procField(pid, "status", "VmRSS") / 1024);
    }
    out.peakMiB = procField(pid, "status", "VmHWM") / 1024;
    if (!capture.isEmpty()) {
        x.saveCapture(capture);
    }
    out.ok = x.stopApp().has_value();
    return out;
}

void print(const char* who, const Run& r) {
    std::printf("  %-9s peak %5.0f MiB; CPU a pass %5.2f %5.2f %5.2f s; read %6.1f %6.1f %6.1f MB; "
                "resident after each %4.0f %4.0f %4.0f MiB\n",
                who, r.peakMiB, r.passCpu[0], r.passCpu[1], r.passCpu[2], r.passReadMB[0],
                r.passReadMB[1], r.passReadMB[2], r.residentMiB[0], r.residentMiB[1],
                r.residentMiB[2]);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s REFERENCE [rounds [seconds a pass]]\n", argv[0]);
        return 2;
    }
    const QString reference = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;
    const double seconds =
        argc > 3 ? std::max(2.0, QString::fromLocal8Bit(argv[3]).toDouble()) : 20;
    QTemporaryDir pictures;
    writePictures(pictures.path());

    std::vector<double> peak[2], first[2], warm[2], read[2];
    for (int round = 0; round < rounds; ++round) {
        std::printf("round %d\n", round + 1);
        // Each goes first in every other round.
        for (int i = 0; i < 2; ++i) {
            const int which = (i + round) % 2;
            const QString binary = which == 0 ? QStringLiteral(OSTREL_BINARY) : reference;
            const QString capture =
                round == 0
                    ? QStringLiteral("card-pictures-%1").arg(which == 0 ? "this" : "reference")
                    : QString();
            const Run r = run(binary, pictures.path(), seconds, capture);
            if (!r.ok || r.passCpu.size() != 3) {
                std::fprintf(stderr, "the run of %s failed\n", qPrintable(binary));
                return 1;
            }
            print(which == 0 ? "this" : "reference", r);
            peak[which].push_back(r.peakMiB);
            first[which].push_back(r.passCpu[0]);
            warm[which].push_back(r.passCpu[1]);
            warm[which].push_back(r.passCpu[2]);
            read[which].push_back(r.passReadMB[1]);
            read[which].push_back(r.passReadMB[2]);
        }
    }
    std::printf("medians over %d rounds:\n", rounds);
    for (int which = 0; which < 2; ++which) {
        std::printf(
            "  %-9s peak %5.0f MiB, first pass %5.2f s of CPU, a warm pass %5.2f s, reading "
            "%.1f MB\n",
            which == 0 ? "this" : "reference", bench::median(peak[which]),
            bench::median(first[which]), bench::median(warm[which]), bench::median(read[which]));
    }
    std::printf("  this against the reference: peak memory x %.2f, warm pass CPU x %.2f\n",
                bench::median(peak[0]) / std::max(1.0, bench::median(peak[1])),
                bench::median(warm[0]) / std::max(1e-9, bench::median(warm[1])));
    return 0;
}
