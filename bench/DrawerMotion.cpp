// The open drawer while it animates, as the application builds it in a shelf panel: a burst of
// 500 arrivals in one second (in the engine's coalesced snapshots, and one snapshot each), a turn
// (or, in the stacks, a session) folded and unfolded ten times a second, and the arrangement
// switched back and forth while new turns drop in. For each: the time the main thread spends
// handling each change and painting each frame, against the frame budget of 1/60 s, beside the same
// drawer's frames while the wheel scrolls it (the drawer benchmarks' figures) in the same run.
#include "DrawerBench.h"

#include "Platform/OpenSsl.h"

#include <QApplication>
#include <QFont>

#include <functional>

using namespace ostrel;
using namespace ostrel::bench;

namespace {

struct Run {
    int changes = 0;
    double seconds = 0;
    double mainCpu = 0;
    std::vector<double> changeMs;
};

// Runs `change` `perSecond` times a second for `seconds` with the event loop turning (the drawer
// animating and painting as it would), timing each change on the main thread. A tick that comes
// late catches up, so the count holds however long each change takes.
Run drive(DrawerBench& bench, double seconds, int perSecond,
          const std::function<void(int)>& change) {
    Thumbnailer::waitForIdle();
    waitFor(300);
    bench.panel->paintMs.clear();
    bench.panel->paintCpuMs.clear();
    Run run;
    QElapsedTimer wall;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, bench.panel.get(), [&] {
        const int due = std::min(int(perSecond * seconds),
                                 int(double(wall.nsecsElapsed()) / 1e9 * perSecond) + 1);
        while (run.changes < due) {
            QElapsedTimer took;
            took.start();
            change(run.changes++);
            run.changeMs.push_back(double(took.nsecsElapsed()) / 1e6);
        }
    });
    const double cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    wall.start();
    timer.start(std::max(1, 1000 / perSecond));
    waitFor(int(seconds * 1000));
    timer.stop();
    // The last changes settle.
    waitFor(600);
    run.seconds = double(wall.nsecsElapsed()) / 1e9;
    run.mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu;
    return run;
}

void report(const char* what, const DrawerBench& bench, const Run& run) {
    const Percentiles change = percentiles(run.changeMs);
    const Percentiles paint = percentiles(bench.panel->paintMs);
    const Percentiles paintCpu = percentiles(bench.panel->paintCpuMs);
    std::printf("  %-34s %4d changes, each p50 %5.2f p95 %5.2f worst %6.2f ms; %4zu paints p50 "
                "%5.2f p95 %5.2f worst %6.2f ms (CPU p95 %5.2f); main thread %5.1f %% of a "
                "core\n",
                what, run.changes, change.p50, change.p95, change.worst,
                bench.panel->paintMs.size(), paint.p50, paint.p95, paint.worst, paintCpu.p95,
                100 * run.mainCpu / run.seconds);
}

void scrollReference(DrawerBench& bench) {
    const auto s = bench.scroll(2.0, 40);
    std::printf("  %-34s %4d notches; %4lld paints p50 %5.2f p95 %5.2f worst %6.2f ms (CPU p95 "
                "%5.2f); main thread %5.1f %% of a core\n",
                "reference: scrolling (40 notches/s)", s.notches, static_cast<long long>(s.paints),
                s.paint.p50, s.paint.p95, s.paint.worst, s.paintCpu.p95,
                100 * s.mainCpu / s.seconds);
}

// One more unread picture in a new turn of the first session, newest of all.
void arrive(Snapshot& shelf, int n) {
    const Session& session = shelf.sessions.first();
    const QString prompt = QStringLiteral("burst-p%1").arg(n / 5);
    const double at = 8.0e8 + n;
    if (n % 5 == 0) {
        shelf.prompts.append(
            Prompt{prompt, session.id, Date(at), QStringLiteral("Burst %1").arg(n)});
    }
    ShelfItem item;
    item.id = QStringLiteral("burst-%1").arg(n, 4, 10, QLatin1Char('0'));
    item.kind = ShelfItemKind::image;
    item.title = QStringLiteral("burst-%1.png").arg(n);
    item.sessionID = session.id;
    item.promptID = prompt;
    item.createdAt = Date(at + 0.5);
    shelf.items.append(item);
}

void motions(const char* name, LayoutChoice layout) {
    std::printf("%s, 1,000 items in 200 turns:\n", name);
    {
        Snapshot shelf = drawerShelf(1000, 200);
        DrawerBench bench(shelf, layout);
        bench.firstFrame();
        scrollReference(bench);
    }
    {
        Snapshot shelf = drawerShelf(1000, 200);
        DrawerBench bench(shelf, layout);
        bench.firstFrame();
        // As the engine hands them over: a snapshot at most every 50 ms.
        const Run run = drive(bench, 1.0, 20, [&](int n) {
            for (int k = 0; k < 25; ++k) {
                arrive(shelf, n * 25 + k);
            }
            bench.log->current().publish(shelf);
        });
        report("500 arrivals, 20 snapshots", bench, run);
    }
    {
        Snapshot shelf = drawerShelf(1000, 200);
        DrawerBench bench(shelf, layout);
        bench.firstFrame();
        const Run run = drive(bench, 1.0, 500, [&](int n) {
            arrive(shelf, n);
            bench.log->current().publish(shelf);
        });
        report("500 arrivals, a snapshot each", bench, run);
    }
    {
        const Snapshot shelf = drawerShelf(1000, 200);
        DrawerBench bench(shelf, layout);
        bench.firstFrame();
        const QString id = layout == LayoutChoice::rail
                               ? bench.model->groups().first().turns.first().id
                               : bench.model->groups().first().id();
        const Run run = drive(bench, 2.0, 10, [&](int) { bench.model->toggleCollapsed(id); });
        report(layout == LayoutChoice::rail ? "a turn folded 10 times a second"
                                            : "a session folded 10 times a second",
               bench, run);
    }
    {
        Snapshot shelf = drawerShelf(1000, 200);
        DrawerBench bench(shelf, layout);
        bench.firstFrame();
        const Run run = drive(bench, 2.0, 7, [&](int n) {
            arrive(shelf, n * 5);
            bench.log->current().publish(shelf);
            Preferences prefs = bench.settings->prefs();
            prefs.layout =
                prefs.layout == LayoutChoice::rail ? LayoutChoice::stacks : LayoutChoice::rail;
            bench.settings->setPrefs(prefs);
            bench.model->applyPreferences(prefs, std::nullopt);
        });
        report("arrangement switched mid drop-in", bench, run);
    }
}

} // namespace

int main(int argc, char** argv) {
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    std::printf("frame budget %.2f ms\n", 1000.0 / 60);
    motions("rail", LayoutChoice::rail);
    motions("stacks", LayoutChoice::stacks);
    return 0;
}
