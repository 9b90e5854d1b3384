// What the running application costs while nobody touches it, and how soon hover still opens the
// shelf: the real binary on a private Xvfb, measured from outside. A plain program that prints
// its figures.
//
//   build/bench/bench_IdleWakeups [seconds [binary]]       default 60, the build's ostrel
//   build/bench/bench_IdleWakeups --hello x y w h           the reference window on $DISPLAY
//
// The application gets a temporary folder of its own. Wake-ups are the process's context
// switches (every thread, voluntary or not) per second over the idle span, the main thread's
// apart, with the threads that had them; CPU is the time its threads spent on a CPU over the
// same span.
// A moving pointer: a helper thread moves the pointer by XTest in a circle far from the shelf at
// 60, 250 and 1,000 Hz (a plain mouse, a gaming mouse, a 1,000-Hz one) for a tenth of the idle
// span each (at least 5 s), and the same figures are taken. Then the pointer zigzags just below
// the hot zone (inside the margin where the shelf follows it, the drawer closed), alternated with
// a reference: a plain Qt window (this program started again with --hello) with the pointer
// moving over it at the same rate; and once at 8,000 Hz near the shelf, which must stay bounded.
// Hover: the pointer moves into the hot zone by XTest motion (a real device's events, with raw
// motion), and the time until the opening drawer covers a probe pixel is taken, ten times, beside
// the dwell the shelf waits for.
#include "ProcessTimes.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Records/Preferences.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMap>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

using namespace ostrel;
using namespace ostrel::test;
using ostrel::bench::cpuSpent;
using ostrel::bench::threadSeconds;

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

// Wake-ups (context switches of every thread) and CPU of `pid` over `seconds`, as one line.
QString measure(XServer& x, qint64 pid, double seconds) {
    const auto before = switches(pid);
    const auto cpuBefore = threadSeconds(pid);
    QElapsedTimer span;
    span.start();
    while (span.elapsed() < qint64(seconds * 1000)) {
        QThread::msleep(200);
        x.appLog(); // keeps the log pipe from filling
    }
    const double elapsed = span.elapsed() / 1000.0;
    const auto after = switches(pid);
    const double cpu = cpuSpent(cpuBefore, threadSeconds(pid));
    qint64 total = 0;
    qint64 main = 0;
    QStringList busiest;
    const QString mainSuffix = u'/' + QString::number(pid);
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const qint64 n = it.value() - before.value(it.key());
        total += n;
        if (it.key().endsWith(mainSuffix)) {
            main = n;
        }
        if (n > 0) {
            busiest << QStringLiteral("%1 %2").arg(it.key()).arg(n);
        }
    }
    return QStringLiteral("%1 s: main thread %7 wake-ups/s, whole process %2/s (%3 context "
                          "switches: %4), CPU %5 % of a core (%6 ms)")
        .arg(elapsed, 0, 'f', 0)
        .arg(double(total) / elapsed, 0, 'f', 2)
        .arg(total)
        .arg(busiest.join(QStringLiteral(", ")))
        .arg(100.0 * cpu / elapsed, 0, 'f', 3)
        .arg(cpu * 1000, 0, 'f', 0)
        .arg(double(main) / elapsed, 0, 'f', 1);
}

// The pointer's place at its i-th step.
using Path = std::function<QPoint(long)>;

Path circle(QPoint centre, int radius) {
    return [centre, radius](long i) {
        const double angle = double(i) * 0.01;
        return centre + QPoint(int(std::lround(radius * std::cos(angle))),
                               int(std::lround(radius * std::sin(angle))));
    };
}

// Back and forth along `area`, two pixels a step, a pixel up or down each step: every step moves.
Path zigzag(QRect area) {
    return [area](long i) {
        const long span = std::max(1, area.width() / 2);
        const long across = i % (2 * span);
        const long x = across < span ? across : 2 * span - across;
        const long rows = std::max(1, area.height() - 1);
        const long down = i % (2 * rows);
        const long y = down < rows ? down : 2 * rows - down;
        return area.topLeft() + QPoint(int(2 * x), int(y));
    };
}

// Moves the pointer along `path`, `hertz` times a second, through a connection of its own, until
// it goes away.
class MovingPointer {
public:
    MovingPointer(const QString& display, Path path, int hertz) {
        thread_ = std::thread([this, name = display.toLatin1(), path = std::move(path), hertz] {
            xcb_connection_t* c = xcb_connect(name.constData(), nullptr);
            const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
            timespec next{};
            clock_gettime(CLOCK_MONOTONIC, &next);
            const long step = 1000000000L / hertz;
            for (long i = 0; !stop_; ++i) {
                const QPoint at = path(i);
                xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                                    static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()), 0);
                xcb_flush(c);
                next.tv_nsec += step;
                if (next.tv_nsec >= 1000000000L) {
                    next.tv_nsec -= 1000000000L;
                    ++next.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            }
            xcb_disconnect(c);
        });
    }
    ~MovingPointer() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The reference: a plain Qt window saying hello, nothing else.
int hello(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Hello"));
    label.setAlignment(Qt::AlignCenter);
    label.setWindowFlag(Qt::BypassWindowManagerHint);
    label.setGeometry(QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt(),
                      QString::fromLatin1(argv[4]).toInt(), QString::fromLatin1(argv[5]).toInt());
    label.show();
    return app.exec();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--hello") == 0) {
        return hello(argc, argv);
    }
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

    std::printf("idle %s\n", qPrintable(measure(x, pid, seconds)));
    for (const int hertz : {60, 250, 1000}) {
        MovingPointer moving(x.display(), circle(QPoint(960, 700), 200), hertz);
        pump(0.5);
        std::printf("pointer moving far from the shelf at %d Hz, %s\n", hertz,
                    qPrintable(measure(x, pid, std::max(5.0, seconds / 10))));
    }

    const QRectF frame(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);

    // Just below the hot zone, well inside the margin the shelf follows (48 points): the drawer
    // stays closed.
    const QRect zone = toX(layout.hotZone(0));
    const QRect near(zone.x() + zone.width() / 4, zone.bottom() + 8, zone.width() / 2, 24);
    const QRect reference(760, 450, 400, 400);
    QProcess hello;
    hello.setProcessEnvironment(x.environment());
    hello.setStandardOutputFile(QProcess::nullDevice());
    hello.setStandardErrorFile(QProcess::nullDevice());
    hello.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--hello"), QString::number(reference.x()),
                 QString::number(reference.y()), QString::number(reference.width()),
                 QString::number(reference.height())});
    if (!hello.waitForStarted()) {
        std::fprintf(stderr, "the reference window did not start\n");
        return 1;
    }
    pump(2);
    const double span = std::max(3.0, seconds / 20);
    for (const int hertz : {60, 250, 1000}) {
        for (int round = 0; round < 2; ++round) {
            {
                MovingPointer moving(x.display(), zigzag(near), hertz);
                pump(0.5);
                std::printf("pointer moving near the hot zone at %d Hz, %s\n", hertz,
                            qPrintable(measure(x, pid, span)));
            }
            {
                MovingPointer moving(x.display(), circle(reference.center(), 150), hertz);
                pump(0.5);
                std::printf("  reference: a Qt window under the pointer at %d Hz, %s\n", hertz,
                            qPrintable(measure(x, hello.processId(), span)));
            }
        }
    }
    {
        MovingPointer moving(x.display(), zigzag(near), 8000);
        pump(0.5);
        std::printf("pointer moving near the hot zone at 8000 Hz, %s\n",
                    qPrintable(measure(x, pid, span)));
    }
    hello.kill();
    hello.waitForFinished();
    x.moveTo(QPoint(960, 900));
    pump(1);
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
