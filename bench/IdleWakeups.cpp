// What the running application costs while nobody touches it, and how soon hover still opens the
// shelf: the real binary on a private Xvfb, measured from outside. A plain program that prints
// its figures.
//
//   build/bench/bench_IdleWakeups [seconds [binary]]       default 60, the build's ostrel
//
// The application gets a temporary folder of its own. Wake-ups are the process's context
// switches (every thread, voluntary or not) per second over the idle span, with the threads that
// had them; CPU is user plus system time over the same span.
// Hover: the pointer moves into the hot zone by XTest motion (a real device's events, with raw
// motion), and the time until the opening drawer covers a probe pixel is taken, ten times, beside
// the dwell the shelf waits for.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Records/Preferences.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Context switches of every thread of `pid`, by thread name and id.
QMap<QString, qint64> switches(qint64 pid) {
    QMap<QString, qint64> byThread;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + u'/' + tid + QStringLiteral("/comm"));
        QFile status(tasks + u'/' + tid + QStringLiteral("/status"));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QString name = QString::fromUtf8(comm.readAll()).trimmed() + u'/' + tid;
        qint64 n = 0;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:")) {
                n += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            }
        }
        byThread[name] += n;
    }
    return byThread;
}

// User plus system time of the whole process, in seconds.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces: utime and stime are the 12th and
    // 13th of them.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return 0;
    }
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

QRect toX(const QRectF& r) {
    return QRectF(r.x(), 1080 - (r.y() + r.height()), r.width(), r.height()).toAlignedRect();
}

bool dark(xcb_connection_t* c, const QPoint& p) {
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP,
                      xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                      static_cast<int16_t>(p.x()), static_cast<int16_t>(p.y()), 1, 1, ~0u),
        nullptr);
    if (!image) {
        return false;
    }
    quint32 pixel = 0;
    if (xcb_get_image_data_length(image) >= 4) {
        std::memcpy(&pixel, xcb_get_image_data(image), 4);
    }
    std::free(image);
    const QColor color(QRgb(pixel | 0xff000000u));
    return color.red() < 60 && color.green() < 60 && color.blue() < 60;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds =
        argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 60;
    const QString binary =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(OSTREL_BINARY);

    XServer x;
    // A temporary folder of its own: the machine's /tmp churns with other programs' files, which
    // the application rightly looks at (screenshot folders appear there).
    QProcessEnvironment env;
    env.insert(QStringLiteral("TMPDIR"), x.home().file(QStringLiteral("tmp")));
    QDir().mkpath(x.home().file(QStringLiteral("tmp")));
    // Claude Code's folders exist (a missing one is watched through its parents, up to /tmp).
    QDir().mkpath(x.home().file(QStringLiteral("claude/projects")));
    x.scratchpad();
    if (!x.ok() || !x.startApp(binary, {}, env)) {
        std::fprintf(stderr, "no X server or no application: %s\n", qPrintable(x.error()));
        return 1;
    }
    const qint64 pid = x.appPid();
    x.moveTo(QPoint(960, 700));
    // Start-up: the first scan, the panels, the first paint.
    pump(5);

    const auto before = switches(pid);
    const double cpuBefore = cpuSeconds(pid);
    QElapsedTimer span;
    span.start();
    // The pointer rests; this process only sleeps.
    while (span.elapsed() < qint64(seconds * 1000)) {
        QThread::msleep(200);
        x.appLog(); // keeps the log pipe from filling
    }
    const double elapsed = span.elapsed() / 1000.0;
    const auto after = switches(pid);
    const double cpu = cpuSeconds(pid) - cpuBefore;
    qint64 total = 0;
    QStringList busiest;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const qint64 n = it.value() - before.value(it.key());
        total += n;
        if (n > 0) {
            busiest << QStringLiteral("%1 %2").arg(it.key()).arg(n);
        }
    }
    std::printf("idle %.0f s: %.2f wake-ups/s (%lld context switches: %s), CPU %.3f %% of a core "
                "(%.0f ms)\n",
                elapsed, double(total) / elapsed, static_cast<long long>(total),
                qPrintable(busiest.join(QStringLiteral(", "))), 100.0 * cpu / elapsed, cpu * 1000);

    const QRectF frame(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRect open = toX(layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0));
    const QPoint probe(open.x() + open.width() / 5, open.y() + open.height() * 4 / 5);
    const QPoint hot = toX(layout.hotZone(0)).center();
    std::vector<double> latencies;
    for (int trial = 0; trial < 10; ++trial) {
        x.moveTo(QPoint(960, 900));
        waitUntil([&] { return !dark(x.connection(), probe); }, 10);
        pump(0.6);
        QElapsedTimer clock;
        x.moveTo(hot);
        clock.start();
        if (!waitUntil([&] { return dark(x.connection(), probe); }, 10)) {
            std::fprintf(stderr, "the shelf did not open\n");
            return 1;
        }
        latencies.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("hover: the drawer shows %.0f ms (median of %zu; %.0f-%.0f) after the pointer "
                "enters the hot zone; the dwell is %.0f ms\n",
                median(latencies), latencies.size(),
                *std::min_element(latencies.begin(), latencies.end()),
                *std::max_element(latencies.begin(), latencies.end()),
                1000 * Motion::hoverDwell(layout.style(), Preferences().hoverDwellMs));
    x.stopApp();
    return 0;
}
