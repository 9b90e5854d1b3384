// What scrolling the open rail drawer costs the whole application: the real binary on a private
// Xvfb with 5,000 items in its index, the wheel turned by XTest, its CPU read from /proc and the
// frames it really sends to the X server counted there (Damage reports on its panel window).
// Beside it, in the same run and in turn with it, a reference: a plain Qt window of the panel's
// size repainting whole at 60 Hz (this program started again with --reference). A plain program
// that prints its figures.
//
//   build/bench/bench_ScrollingProcess [seconds [rounds [binary]]]    default 3 s, 3 rounds
//
// OSTREL_BENCH_SETUP=bare or =composited runs only the one.
// Each round scrolls for `seconds` at 60 notches a second toward the end over cards never drawn,
// back over them, and down over them again; the reference runs for as long after each of the
// three. Then a wheel turned at 600 notches a second, in four spans: the frames still sent, the
// CPU, and the memory after each span. All of it without a compositor (the panel cut to its shape)
// and under openbox with xcompmgr.
#include "BenchImages.h"
#include "DrawerBench.h"
#include "Median.h"
#include "ProcessTimes.h"
#include "ShelfProcess.h"
#include "WheelTurns.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Records/Store.h"
#include "support/OpenDrawer.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

constexpr int itemCount = 5000;
constexpr int turnCount = 1000;

// --- The reference: a plain window repainting whole at 60 Hz -------------------------------------

class HelloWindow final : public QWidget {
public:
    HelloWindow() {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            // Each frame at its due time: 60 a second, not the 62.5 a 16-ms interval gives. A
            // frame missed (the process was stopped) is not made up for.
            frame_ = std::max<qint64>(frame_ + 1, clock_.elapsed() * 60 / 1000);
            update();
            const qint64 due = (frame_ + 1) * 1000 / 60;
            timer_.start(int(std::max<qint64>(0, due - clock_.elapsed())));
        });
        clock_.start();
        timer_.start(1000 / 60);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(28, 28, 30));
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Hello, frame %1").arg(frame_));
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 frame_ = 0;
};

int runReference(int argc, char** argv) {
    QApplication app(argc, argv);
    HelloWindow window;
    window.setGeometry(QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt(),
                       QString::fromLatin1(argv[4]).toInt(), QString::fromLatin1(argv[5]).toInt());
    window.show();
    return app.exec();
}

// --- The shelf the application finds at start --------------------------------------------------

// One session of `itemCount` seen pictures in `turnCount` turns, the last of them over a day ago,
// each with a stored thumbnail like a screenshot's and its copy.
void writeShelf(const QString& support) {
    auto store = Store::make(QUrl::fromLocalFile(support), [] { return Date::now(); });
    const QString source = support + QStringLiteral("/source.jpg");
    bench::screenshotThumbnail().save(source, "JPG", 80);
    const Snapshot shelf =
        bench::drawerShelf(itemCount, turnCount, 0, turnCount, Date::now().seconds - 100000);
    for (const Session& session : shelf.sessions) {
        store->upsert(session);
    }
    for (const Prompt& prompt : shelf.prompts) {
        store->upsert(prompt);
    }
    for (ShelfItem item : shelf.items) {
        item.sourceKinds = {Source::scratchpad};
        item.width = 1440;
        item.height = 900;
        item.fileURL = store->copyURL(item.id, QStringLiteral("jpg"));
        bench::linkOrCopy(source, item.fileURL->toLocalFile());
        bench::linkOrCopy(source, store->thumbURL(item.id).toLocalFile());
        store->upsert(item);
    }
    store->flush();
}

// --- Measuring from outside ----------------------------------------------------------------------

double residentMiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
        }
    }
    return 0;
}

// The Damage extension, spoken by hand (no xcb binding for it here): every rectangle drawn into a
// watched window is reported with the server's time. Rectangles within a few milliseconds of a
// frame's first one belong to that frame: a client presents a frame as a burst of puts or copies,
// and frames at 60 Hz lie 16 ms apart.
class FrameCounter {
public:
    struct Count {
        qint64 frames = 0;
        qint64 rectangles = 0;
        double pixels = 0;
    };

    explicit FrameCounter(const QString& display) {
        c_ = xcb_connect(display.toLatin1().constData(), nullptr);
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c_, &damage_);
        if (!ext || !ext->present) {
            return;
        }
        firstEvent_ = ext->first_event;
        // The version must be asked before any other request.
        quint32 body[3] = {0, 1, 1};
        const unsigned sequence = send(0, body, sizeof body, false);
        xcb_generic_error_t* error = nullptr;
        std::free(xcb_wait_for_reply(c_, sequence, &error));
        std::free(error);
        ok_ = error == nullptr;
        reader_ = std::thread([this] { read(); });
    }

    ~FrameCounter() {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        xcb_disconnect(c_);
    }

    bool ok() const { return ok_; }

    void watch(quint32 window) {
        const quint32 id = xcb_generate_id(c_);
        {
            std::lock_guard lock(mutex_);
            windows_[id] = Window{};
        }
        // Damage id, drawable, level 0 (every rectangle).
        quint32 body[4] = {0, id, window, 0};
        send(1, body, sizeof body, true);
        xcb_flush(c_);
        ids_[window] = id;
    }

    Count count(quint32 window) {
        std::lock_guard lock(mutex_);
        return windows_[ids_[window]].count;
    }

private:
    struct Window {
        Count count;
        quint32 frameStart = 0;
        bool any = false;
    };

    unsigned send(quint8 minor, quint32* body, size_t bytes, bool isVoid) {
        iovec parts[3];
        parts[2].iov_base = body;
        parts[2].iov_len = bytes;
        xcb_protocol_request_t request{1, &damage_, minor, isVoid ? quint8(1) : quint8(0)};
        return xcb_send_request(c_, isVoid ? 0 : XCB_REQUEST_CHECKED, parts + 2, &request);
    }

    void read() {
        pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
        while (!stop_) {
            ::poll(&fd, 1, 50);
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                if ((e->response_type & 0x7f) == firstEvent_) {
                    const auto* raw = reinterpret_cast<const quint8*>(e);
                    quint32 damage = 0;
                    quint32 time = 0;
                    quint16 w = 0;
                    quint16 h = 0;
                    std::memcpy(&damage, raw + 8, 4);
                    std::memcpy(&time, raw + 12, 4);
                    std::memcpy(&w, raw + 20, 2);
                    std::memcpy(&h, raw + 22, 2);
                    std::lock_guard lock(mutex_);
                    Window& window = windows_[damage];
                    if (!window.any || time - window.frameStart > 5) {
                        window.any = true;
                        window.frameStart = time;
                        ++window.count.frames;
                    }
                    ++window.count.rectangles;
                    window.count.pixels += double(w) * double(h);
                }
                std::free(e);
            }
            if (xcb_connection_has_error(c_)) {
                return;
            }
        }
    }

    xcb_extension_t damage_{"DAMAGE", 0};
    xcb_connection_t* c_ = nullptr;
    quint8 firstEvent_ = 0;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::map<quint32, Window> windows_;
    std::map<quint32, quint32> ids_;
};

struct Span {
    double seconds = 0;
    double cpu = 0;
    // Of it, the main thread's (painting and the scene): the rest decodes and loads pictures.
    double mainCpu = 0;
    double serverCpu = 0;
    FrameCounter::Count frames;

    double percent() const { return 100 * cpu / seconds; }
    double mainPercent() const { return 100 * mainCpu / seconds; }
    double serverPercent() const { return 100 * serverCpu / seconds; }
    double rate() const { return double(frames.frames) / seconds; }
    double pixelsPerFrame() const {
        return frames.frames ? frames.pixels / double(frames.frames) : 0;
    }
};

// Runs `during` (which returns when the span is over) and takes what `pid` and the X server spent.
template <typename F>
Span measure(XServer& x, FrameCounter& counter, quint32 window, qint64 pid, F during) {
    const auto framesBefore = counter.count(window);
    const auto cpu = bench::threadSeconds(pid);
    const auto server = bench::threadSeconds(x.serverPid());
    QElapsedTimer clock;
    clock.start();
    during();
    // The frame of the last notch, and its report, belong to the span.
    pump(0.05);
    Span s;
    s.seconds = double(clock.nsecsElapsed()) / 1e9;
    const auto cpuAfter = bench::threadSeconds(pid);
    s.cpu = bench::cpuSpent(cpu, cpuAfter);
    const QString mainThread = QString::number(pid);
    s.mainCpu = cpuAfter.value(mainThread) - cpu.value(mainThread);
    s.serverCpu = bench::cpuSpent(server, bench::threadSeconds(x.serverPid()));
    const auto framesAfter = counter.count(window);
    s.frames.frames = framesAfter.frames - framesBefore.frames;
    s.frames.rectangles = framesAfter.rectangles - framesBefore.rectangles;
    s.frames.pixels = framesAfter.pixels - framesBefore.pixels;
    return s;
}

void report(const char* what, const std::vector<Span>& app, const std::vector<Span>& reference) {
    std::vector<double> cpu, mainCpu, rate, pixels, server, refCpu, refRate, refServer;
    for (const Span& s : app) {
        cpu.push_back(s.percent());
        mainCpu.push_back(s.mainPercent());
        rate.push_back(s.rate());
        pixels.push_back(s.pixelsPerFrame());
        server.push_back(s.serverPercent());
    }
    for (const Span& s : reference) {
        refCpu.push_back(s.percent());
        refRate.push_back(s.rate());
        refServer.push_back(s.serverPercent());
    }
    QStringList each;
    for (const double v : cpu) {
        each << QString::number(v, 'f', 1);
    }
    std::printf("  %-30s app %5.1f %% of a core (%s; main thread %.1f), %4.1f frames/s of %6.0f "
                "px, X server %4.1f %%\n",
                what, bench::median(cpu), qPrintable(each.join(u' ')), bench::median(mainCpu),
                bench::median(rate), bench::median(pixels), bench::median(server));
    std::printf("  %-30s reference %5.1f %% of a core, %4.1f frames/s, X server %4.1f %%\n", "",
                bench::median(refCpu), bench::median(refRate), bench::median(refServer));
}

int run(const QString& self, double seconds, int rounds, const QString& binary, bool composited) {
    XServer::Options options;
    options.windowManager = composited;
    options.compositor = composited;
    XServer x(options);
    if (!x.ok()) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(x.error()));
        return 1;
    }
    writeShelf(x.home().file(QStringLiteral("data/Ostrel")));
    QProcessEnvironment env;
    if (!bench::startShelfProcess(x, binary, env, itemCount)) {
        std::fprintf(stderr, "the application did not start\n");
        return 1;
    }
    const qint64 pid = x.appPid();
    x.moveTo(QPoint(960, 900));
    pump(4);

    const QRectF screen(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(screen, 0, std::nullopt, std::nullopt), screen);
    const QRectF hot = layout.hotZone(0);
    x.moveTo(QPoint(int(hot.center().x()), int(1080 - hot.center().y())));
    if (!waitUntil([&] { return drawerOpen(x); }, 20)) {
        std::fprintf(stderr, "the drawer did not open\n%s\n", qPrintable(x.appLog()));
        return 1;
    }
    const QRect drawer = openDrawer();
    const QPoint probe = drawerProbe(drawer);
    // Over the turn grid, right of the session list.
    x.moveTo(QPoint(drawer.x() + 207 + 250, drawer.center().y()));
    pump(1.5);

    quint32 panel = 0;
    QRect panelRect;
    for (const XServer::Window& w : x.appWindows()) {
        if (w.overrideRedirect && w.viewable && w.geometry.contains(probe)) {
            panel = w.id;
            panelRect = w.geometry;
        }
    }
    if (panel == 0) {
        std::fprintf(stderr, "no panel window\n");
        return 1;
    }

    QProcess reference;
    reference.setProcessEnvironment(x.environment());
    reference.start(self,
                    {QStringLiteral("--reference"), QString::number(0),
                     QString::number(1080 - panelRect.height()), QString::number(panelRect.width()),
                     QString::number(panelRect.height())});
    if (!reference.waitForStarted(10000)) {
        std::fprintf(stderr, "the reference did not start\n");
        return 1;
    }
    const qint64 refPid = reference.processId();
    quint32 refWindow = 0;
    waitUntil([&] { return dark(x.capture(), QPoint(10, 1079)); }, 20);
    {
        // The reference's window: the top-level at its place.
        xcb_connection_t* c = x.connection();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const auto w = x.window(children[i]);
            if (w && w->viewable && w->geometry.contains(QPoint(10, 1079)) &&
                w->geometry.height() == panelRect.height()) {
                refWindow = children[i];
            }
        }
        std::free(tree);
    }
    ::kill(pid_t(refPid), SIGSTOP);

    FrameCounter counter(x.display());
    if (!counter.ok() || refWindow == 0) {
        std::fprintf(stderr, "no Damage extension or no reference window\n");
        return 1;
    }
    counter.watch(panel);
    counter.watch(refWindow);
    pump(0.3);

    std::printf("%s: application pid %lld, panel %dx%d; reference pid %lld\n",
                composited ? "openbox and xcompmgr" : "no window manager, no compositor",
                static_cast<long long>(pid), panelRect.width(), panelRect.height(),
                static_cast<long long>(refPid));
    const auto referenceSpan = [&] {
        ::kill(pid_t(refPid), SIGCONT);
        pump(0.3);
        const Span s = measure(x, counter, refWindow, refPid, [&] { pump(seconds); });
        ::kill(pid_t(refPid), SIGSTOP);
        pump(0.2);
        return s;
    };
    const auto scroll = [&](double s, int rate, bool down) {
        return measure(x, counter, panel, pid, [&] {
            std::thread wheel([&] { bench::turnWheel(x.display(), s, rate, down); });
            pump(s);
            wheel.join();
        });
    };

    std::vector<Span> fresh, drawn, refFresh, refDrawn;
    for (int round = 0; round < rounds; ++round) {
        fresh.push_back(scroll(seconds, 60, true));
        refFresh.push_back(referenceSpan());
        drawn.push_back(scroll(seconds, 60, false));
        refDrawn.push_back(referenceSpan());
        drawn.push_back(scroll(seconds, 60, true));
        refDrawn.push_back(referenceSpan());
        x.appLog();
    }
    report("over new cards, 60 notches/s", fresh, refFresh);
    report("over drawn cards, 60 notches/s", drawn, refDrawn);
    // What the drawer shows where the wheel stopped, for a look.
    pump(1);
    std::printf("  the drawer after scrolling: %s\n",
                qPrintable(x.saveCapture(composited ? QStringLiteral("scrolled-composited")
                                                    : QStringLiteral("scrolled-bare"))));

    // A wheel spun far faster than anyone turns one: the frames must keep coming and the memory
    // must level off. Four spans of it, the resident size after each.
    QStringList resident{QString::number(residentMiB(pid), 'f', 1)};
    std::vector<Span> fast;
    for (int i = 0; i < 4; ++i) {
        fast.push_back(scroll(std::max(2.0, seconds), 600, true));
        resident << QString::number(residentMiB(pid), 'f', 1);
    }
    pump(1);
    std::vector<double> fastCpu, fastRate;
    for (const Span& s : fast) {
        fastCpu.push_back(s.percent());
        fastRate.push_back(s.rate());
    }
    std::printf("  wheel at 600 notches/s, 4 x %.1f s: app %.1f %% of a core, %.1f frames/s "
                "(median); resident MiB %s, %.1f a second after\n",
                fast.front().seconds, bench::median(fastCpu), bench::median(fastRate),
                qPrintable(resident.join(QStringLiteral(" -> "))), residentMiB(pid));

    ::kill(pid_t(refPid), SIGCONT);
    reference.terminate();
    reference.waitForFinished(5000);
    x.stopApp();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 5 && qstrcmp(argv[1], "--reference") == 0) {
        return runReference(argc, argv);
    }
    // The benchmark itself draws only the stored pictures, offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QGuiApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 3;
    const int rounds = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;
    const QString binary =
        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral(OSTREL_BINARY);
    const QString self = QCoreApplication::applicationFilePath();
    const QByteArray only = qgetenv("OSTREL_BENCH_SETUP");
    for (const bool composited : {false, true}) {
        if (!only.isEmpty() && only != (composited ? "composited" : "bare")) {
            continue;
        }
        if (const int rc = run(self, seconds, rounds, binary, composited); rc != 0) {
            return rc;
        }
    }
    return 0;
}
