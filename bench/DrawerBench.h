#pragma once

// The open drawer as the application builds it (`ShelfView::create` in a shelf panel, its cards
// drawing stored JPEG thumbnails from disk), over a model holding a generated shelf, and what it
// costs: the first frame, and the frames while the wheel scrolls it continuously.
#include "BenchImages.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Surface/ShelfView.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Thumbnailer.h"
#include "Platform/MainClock.h"
#include "Platform/RecordingDesktop.h"
#include "tests/support/FakeShelfEngine.h"
#include "tests/support/ShellFakes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace ostrel::bench {

inline constexpr quint32 drawerDisplay = 1;

// Seconds of CPU time used so far by the calling thread, or by the whole process.
inline double cpuSeconds(clockid_t which) {
    timespec t{};
    clock_gettime(which, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The calling thread's CPU seconds in user space and in the kernel.
inline std::pair<double, double> threadUserSystem() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// `items` items in `turns` turns (as evenly as they go), `turnsPerSession` turns to a session,
// pictures with a stored thumbnail; the newest `unread` of them unread (all when negative), the
// others seen. The first session starts at `startedAt`, each later one 100,000 s after it, each
// turn 10 s after the one before.
inline Snapshot drawerShelf(int items, int turns, int unread = -1, int turnsPerSession = 200,
                            double startedAt = 7.0e8) {
    Snapshot s;
    const int sessions = std::max(1, turns / std::max(1, turnsPerSession));
    for (int t = 0; t < turns; ++t) {
        const int session = t % sessions;
        const QString sessionID =
            QStringLiteral("session-%1").arg(session, 4, 10, QLatin1Char('0'));
        const double started = startedAt + session * 100000.0;
        if (t < sessions) {
            Session record(sessionID, std::nullopt,
                           QStringLiteral("/home/me/project-%1").arg(session),
                           QStringLiteral("main"), Date(started), Date(started + 90000));
            record.customTitle = QStringLiteral("Session %1 of the benchmark").arg(session);
            s.sessions.append(record);
        }
        const QString promptID = QStringLiteral("%1-p%2").arg(sessionID).arg(t);
        const double asked = started + 10.0 * t;
        s.prompts.append(
            Prompt{promptID, sessionID, Date(asked),
                   QStringLiteral("Prompt %1: draw the next screen of the app").arg(t)});
        const int first = int(qint64(items) * t / turns);
        const int end = int(qint64(items) * (t + 1) / turns);
        for (int k = first; k < end; ++k) {
            ShelfItem item;
            item.id = QStringLiteral("item-%1").arg(k, 5, 10, QLatin1Char('0'));
            item.kind = ShelfItemKind::image;
            item.title = QStringLiteral("screenshot-%1.png").arg(k);
            item.sessionID = sessionID;
            item.promptID = promptID;
            item.createdAt = Date(asked + 1 + (k - first));
            if (unread >= 0 && k < items - unread) {
                item.seenAt = Date(asked + 60);
            }
            s.items.append(item);
        }
    }
    return s;
}

// A picture like a screenshot thumbnail as the store writes it (360 pixels on its longer side,
// JPEG), written once and linked under every item's name.
inline void writeThumbnails(const QString& folder, const Snapshot& shelf) {
    QDir().mkpath(folder);
    const QString source = folder + QStringLiteral("/source.jpg");
    screenshotThumbnail().save(source, "JPG", 80);
    for (const ShelfItem& item : shelf.items) {
        linkOrCopy(source, folder + QLatin1Char('/') + item.id + QStringLiteral(".jpg"));
    }
}

// The application's clock, which the benchmark can move ahead to skip an animation.
class SkippingClock final : public MainClock {
public:
    double now() const override { return base_->now() + skipped_; }
    Handle after(double seconds, const QObject* context, std::function<void()> step) override {
        return base_->after(seconds, context, std::move(step));
    }
    void skip(double seconds) { skipped_ += seconds; }

private:
    std::shared_ptr<MainClock> base_ = MainClock::system();
    double skipped_ = 0;
};

// The panel, timing each paint on the main thread and counting the pixels it repaints.
class TimedPanel final : public NotchPanel {
public:
    std::vector<double> paintMs;
    std::vector<double> paintCpuMs;
    double paintedPixels = 0;

protected:
    void paintEvent(QPaintEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const double cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        for (const QRect& r : event->region()) {
            paintedPixels += double(r.width()) * r.height();
        }
        NotchPanel::paintEvent(event);
        paintCpuMs.push_back((cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu) * 1000);
        paintMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
};

struct Percentiles {
    double p50 = 0;
    double p95 = 0;
    double worst = 0;
};

inline Percentiles percentiles(std::vector<double> ms) {
    Percentiles p;
    if (ms.empty()) {
        return p;
    }
    std::sort(ms.begin(), ms.end());
    p.p50 = ms[ms.size() / 2];
    p.p95 = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.95))];
    p.worst = ms.back();
    return p;
}

// Runs the event loop, asleep while nothing is due.
inline void waitFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One model over a fake engine holding a shelf whose items all have a stored thumbnail, on a
// hover-notch display of 1512 x 982, every service a test double; the drawer benchmarks all start
// from it.
struct ShelfFixture {
    QTemporaryDir dir;
    std::shared_ptr<test::FakeShelfEngine::Log> log =
        std::make_shared<test::FakeShelfEngine::Log>();
    std::shared_ptr<SkippingClock> clock = std::make_shared<SkippingClock>();
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<ShelfModel> model;
    DisplayLayout display{DisplayStyle::hoverNotch(), QRectF(0, 0, 1512, 982),
                          QRectF(0, 0, 1512, 950), std::nullopt};

    explicit ShelfFixture(const Snapshot& shelf, LayoutChoice layout = LayoutChoice::rail) {
        log->thumbsFolder = dir.filePath(QStringLiteral("thumbs"));
        writeThumbnails(log->thumbsFolder, shelf);
        Thumbnailer::cache().clear();
        auto defaults = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        Preferences prefs;
        prefs.layout = layout;
        prefs.save(*defaults);
        settings = std::make_unique<AppSettings>(defaults);
        Environment environment;
        environment.insert(QStringLiteral("OSTREL_SUPPORT_DIR"), dir.filePath("support"));
        environment.insert(QStringLiteral("OSTREL_CLAUDE_HOME"), dir.filePath("claude"));
        environment.insert(QStringLiteral("OSTREL_SCRATCH_ROOT"), dir.filePath("scratch"));
        ShelfModel::Services services;
        services.makeEngine = test::FakeShelfEngine::factory(log);
        services.clock = clock;
        services.environment = [environment] { return environment; };
        services.motionScale = 1.0;
        services.desktop = std::make_shared<RecordingDesktop>();
        services.preview = std::make_unique<test::FakePreview>();
        services.tips = std::make_unique<ShelfTips>(clock, 1.0);
        services.dragOut = std::make_unique<test::FakeDragOut>();
        services.menus = std::make_unique<test::FakeMenuRunner>();
        services.pointer = [] { return QPointF(-100, -100); };
        model = std::make_unique<ShelfModel>(*settings, std::move(services));
        model->setLayouts({{drawerDisplay, display}});
        model->start();
        log->current().publish(shelf);
    }

    ~ShelfFixture() {
        model.reset();
        Thumbnailer::waitForIdle();
    }

    // What the drawer's views are built with on the benchmark's display.
    ViewContext context() const { return ShelfView::drawerContext(*model, drawerDisplay); }
};

// The shelf panel showing the fixture's drawer in the chosen arrangement.
struct DrawerBench : ShelfFixture {
    std::unique_ptr<TimedPanel> panel;
    ShelfView* view = nullptr;

    // `flattened`: the panel as it draws where no compositor runs (its glows left out). The
    // offscreen platform's frames are opaque, so nothing is flattened: bench_ScrollingProcess
    // measures that on an X server.
    DrawerBench(const Snapshot& shelf, LayoutChoice layout, bool flattened = false)
        : ShelfFixture(shelf, layout) {
        panel = std::make_unique<TimedPanel>();
        panel->onScrollWheel = [this](QWheelEvent* event) {
            return model->scrollWheel(*event, drawerDisplay);
        };
        view = ShelfView::create(*model, drawerDisplay);
        panel->setRootItem(view);
        panel->setGeometry(display.panelFrame().toRect());
        panel->show();
        panel->setCompositing(!flattened);
        view->setCompositing(!flattened);
        waitFor(50);
    }

    ~DrawerBench() { panel.reset(); }

    // Opens the drawer, skips its opening, and paints: the time from the command to the first
    // frame that shows the drawer whole, as build and paint.
    std::pair<double, double> firstFrame() {
        QElapsedTimer timer;
        timer.start();
        model->setOpenScreen(drawerDisplay);
        clock->skip(5);
        view->tick();
        const double built = double(timer.nsecsElapsed()) / 1e6;
        panel->viewport()->repaint();
        return {built, double(timer.nsecsElapsed()) / 1e6 - built};
    }

    struct Scroll {
        int notches = 0;
        qsizetype paints = 0;
        double pixelsPerPaint = 0;
        double seconds = 0;
        double mainCpu = 0;
        double mainUser = 0;
        double mainSystem = 0;
        double processCpu = 0;
        Percentiles paint;
        Percentiles paintCpu;
    };

    // The wheel turned `notchesPerSecond` notches a second for `seconds` over the drawer's middle,
    // toward the end of the content, or back toward its start.
    Scroll scroll(double seconds, int notchesPerSecond, bool towardEnd = true) {
        Thumbnailer::waitForIdle();
        waitFor(300);
        panel->paintMs.clear();
        panel->paintCpuMs.clear();
        panel->paintedPixels = 0;
        const QPointF at(panel->width() / 2.0, panel->height() / 2.0);
        Scroll out;
        // Each notch at its due time, whatever the timer's granularity.
        QTimer wheel;
        wheel.setTimerType(Qt::PreciseTimer);
        wheel.setSingleShot(true);
        QElapsedTimer timer;
        const auto due = [&] {
            return qint64(std::llround(1000.0 * (out.notches + 1) / notchesPerSecond));
        };
        QObject::connect(&wheel, &QTimer::timeout, panel.get(), [&] {
            QWheelEvent event(at, panel->mapToGlobal(at), QPoint(),
                              QPoint(0, towardEnd ? -120 : 120), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(panel->viewport(), &event);
            ++out.notches;
            if (timer.elapsed() < qint64(seconds * 1000)) {
                wheel.start(int(std::max<qint64>(0, due() - timer.elapsed())));
            }
        });
        const double main = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto [user, system] = threadUserSystem();
        const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        timer.start();
        wheel.start(int(due()));
        waitFor(int(seconds * 1000));
        wheel.stop();
        out.seconds = double(timer.nsecsElapsed()) / 1e9;
        out.mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main;
        out.mainUser = threadUserSystem().first - user;
        out.mainSystem = threadUserSystem().second - system;
        out.processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process;
        out.paints = qsizetype(panel->paintMs.size());
        out.pixelsPerPaint = out.paints ? panel->paintedPixels / double(out.paints) : 0;
        out.paint = percentiles(panel->paintMs);
        out.paintCpu = percentiles(panel->paintCpuMs);
        return out;
    }
};

inline void reportScroll(const char* over, const DrawerBench::Scroll& s) {
    std::printf("  scrolling %s, %.1f s at %.0f notches/s: %lld paints of %.0f px, %.2f per notch; "
                "main thread %.1f %% of a core (user %.1f, kernel %.1f), process %.1f %%\n",
                over, s.seconds, s.notches / s.seconds, static_cast<long long>(s.paints),
                s.pixelsPerPaint, s.notches ? double(s.paints) / s.notches : 0.0,
                100 * s.mainCpu / s.seconds, 100 * s.mainUser / s.seconds,
                100 * s.mainSystem / s.seconds, 100 * s.processCpu / s.seconds);
    std::printf("    frame (paint) time p50 %.2f ms, p95 %.2f ms, worst %.2f ms; its CPU p50 %.2f "
                "ms, p95 %.2f ms\n",
                s.paint.p50, s.paint.p95, s.paint.worst, s.paintCpu.p50, s.paintCpu.p95);
}

// The first frame, then 3 s of the wheel at 60 notches a second over cards never drawn before
// (their pictures read from disk), and as long back over the same cards (their pictures cached).
inline void reportDrawer(const char* name, const Snapshot& shelf, LayoutChoice layout,
                         bool flattened = false) {
    DrawerBench bench(shelf, layout, flattened);
    const auto [built, painted] = bench.firstFrame();
    std::printf("%s: first frame %.1f ms (build %.1f, paint %.1f)\n", name, built + painted, built,
                painted);
    reportScroll("over new cards", bench.scroll(3.0, 60));
    reportScroll("back over drawn cards", bench.scroll(3.0, 60, false));
}

inline void reportDrawer(const char* name, int items, int turns, LayoutChoice layout,
                         bool flattened = false) {
    const QByteArray title = QStringLiteral("%1, %2 items in %3 turns")
                                 .arg(QString::fromUtf8(name))
                                 .arg(items)
                                 .arg(turns)
                                 .toUtf8();
    reportDrawer(title.constData(), drawerShelf(items, turns), layout, flattened);
}

} // namespace ostrel::bench
