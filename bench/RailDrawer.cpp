// The rail drawer as the application builds it, its cards drawing stored thumbnails. First, in a
// shelf panel: the first frame of a drawer holding 5,000 items in 2,000 turns and the frames while
// the wheel scrolls it at 60 notches a second over new cards and back over drawn ones, beside the
// same figures for 50 items and for the panel as it draws without a compositor (its glows left
// out; the offscreen platform's frames are opaque and are not flattened: bench_ScrollingProcess
// measures the real binary on an X server), there also over one turn of 5,000 seen items, and
// with the wheel at 200 notches a second. Then, drawn by hand over a full shelf of 5,000 items in
// 500 sessions: the cold first frame, warm frames, frames while scrolling the sidebar, while
// walking the selection through every session and while scrolling one turn of 5,000 items, the
// cards alive at the end and the memory the process holds.
#include "DrawerBench.h"

#include "Ostrel/Surface/DrawerContent.h"
#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/Thumbnailer.h"
#include "Ostrel/Views/TurnGrid.h"
#include "Platform/OpenSsl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ostrel;

namespace {

Snapshot shelf(int sessions, int perSession, int turnsPerSession) {
    Snapshot s;
    for (int i = 0; i < sessions; ++i) {
        const QString id = QStringLiteral("session-%1").arg(i, 4, 10, QLatin1Char('0'));
        const double started = 7.0e8 + i * 1000.0;
        Session session(id, std::nullopt, QStringLiteral("/home/me/project-%1").arg(i % 40),
                        QStringLiteral("main"), Date(started), Date(started + 900));
        session.customTitle = QStringLiteral("Session %1 of the benchmark").arg(i);
        s.sessions.prepend(session);
        for (int t = 0; t < turnsPerSession; ++t) {
            s.prompts.append(Prompt{QStringLiteral("%1-p%2").arg(id).arg(t), id,
                                    Date(started + t * 10.0),
                                    QStringLiteral("Prompt %1 of session %2").arg(t).arg(i)});
        }
        for (int k = 0; k < perSession; ++k) {
            ShelfItem item;
            item.id = QStringLiteral("%1-i%2").arg(id).arg(k);
            item.kind = ShelfItemKind::image;
            item.title = QStringLiteral("screenshot-%1.png").arg(k);
            item.sessionID = id;
            item.promptID = QStringLiteral("%1-p%2").arg(id).arg(k % turnsPerSession);
            item.createdAt = Date(started + 100 + k);
            s.items.prepend(item);
        }
    }
    return s;
}

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * 4096.0 / (1024.0 * 1024.0) : 0;
}

struct Figures {
    double p50 = 0;
    double p95 = 0;
    double worst = 0;
    size_t frames = 0;
};

Figures measure(std::vector<double> ms) {
    Figures f;
    if (ms.empty()) {
        return f;
    }
    std::sort(ms.begin(), ms.end());
    f.p50 = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, static_cast<size_t>(ms.size() * 0.95))];
    f.worst = ms.back();
    f.frames = ms.size();
    return f;
}

void report(const char* what, const Figures& f) {
    std::printf("%-44s p50 %6.2f ms  p95 %6.2f ms  worst %6.2f ms  (%zu frames)\n", what, f.p50,
                f.p95, f.worst, f.frames);
}

// The fixture's model with its drawer open, and the rail drawer of a 928 x 384 panel.
struct Rig : bench::ShelfFixture {
    QGraphicsScene scene{0, 0, 928, 384};
    QGraphicsView view{&scene};
    QImage frame{928, 384, QImage::Format_ARGB32_Premultiplied};
    ViewContext views;

    explicit Rig(const Snapshot& snapshot) : ShelfFixture(snapshot) {
        model->setOpenScreen(bench::drawerDisplay);
        views = context();
        view.setGeometry(0, 0, 928, 384);
        scene.setItemIndexMethod(QGraphicsScene::NoIndex);
    }

    double draw() {
        QElapsedTimer timer;
        timer.start();
        frame.fill(Qt::black);
        QPainter painter(&frame);
        scene.render(&painter);
        painter.end();
        return double(timer.nsecsElapsed()) / 1e6;
    }
};

// What arrived since the last frame (pictures loaded off the main thread, items to delete) is
// handed over, as the event loop does between frames.
void between() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));

    bench::reportDrawer("rail", 5000, 2000, LayoutChoice::rail);
    bench::reportDrawer("rail", 50, 20, LayoutChoice::rail);
    bench::reportDrawer("rail without a compositor", 5000, 2000, LayoutChoice::rail, true);
    bench::reportDrawer("rail without a compositor, 5000 items all seen in one turn",
                        bench::drawerShelf(5000, 1, 0), LayoutChoice::rail, true);

    {
        // A wheel that never stops, at 200 notches a second over new cards: the CPU it takes, the
        // memory the process holds, and the decoding left when it stops.
        bench::DrawerBench fast(bench::drawerShelf(5000, 1, 0), LayoutChoice::rail, true);
        fast.firstFrame();
        const double before = residentMiB();
        const auto s = fast.scroll(3.0, 200);
        QElapsedTimer drain;
        drain.start();
        Thumbnailer::waitForIdle();
        std::printf("rail without a compositor, wheel at 200 notches/s over 5000 items in one "
                    "turn:\n");
        bench::reportScroll("over new cards", s);
        std::printf("    resident %.1f MiB before, %.1f MiB after; decoding done %.1f ms after the "
                    "wheel stopped\n",
                    before, residentMiB(), double(drain.nsecsElapsed()) / 1e6);
    }

    const double startMiB = residentMiB();
    Rig rig(shelf(500, 10, 3));
    std::printf("shelf of %lld items in %lld sessions, model ready: %.1f MiB resident\n",
                static_cast<long long>(rig.model->visibleSnapshot().items.size()),
                static_cast<long long>(rig.model->groups().size()), residentMiB());

    // Cold: the drawer content is built for the open drawer and drawn once.
    QElapsedTimer cold;
    cold.start();
    auto* drawer = new DrawerContent(rig.views, ShelfLayoutKind::rail);
    rig.scene.addItem(drawer);
    drawer->setPos(104, 0);
    drawer->setPlan(
        {bench::drawerDisplay, ShelfLayoutKind::rail, QSizeF(720, 320), 0, 32, 0, false});
    rig.draw();
    const double coldMs = double(cold.nsecsElapsed()) / 1e6;
    // The warm frames draw the pictures the first frame asked for.
    Thumbnailer::waitForIdle();
    QCoreApplication::processEvents();
    TurnGrid* grid = drawer->rail()->grid();
    SessionSidebar* sidebar = drawer->rail()->sidebar();
    std::printf("cold first frame %.2f ms: %lld cards and %lld sidebar rows built\n", coldMs,
                static_cast<long long>(grid->cards().size()),
                static_cast<long long>(sidebar->rows().size()));

    std::vector<double> warm;
    for (int i = 0; i < 60; ++i) {
        between();
        warm.push_back(rig.draw());
    }
    report("warm frame", measure(warm));

    // The sidebar scrolled a notch at a time from its top to its end.
    std::vector<double> scroll;
    while (sidebar->scrollArea()->offset() < sidebar->scrollArea()->extent().maxOffset()) {
        between();
        QElapsedTimer timer;
        timer.start();
        sidebar->scrollArea()->wheel(-120);
        rig.draw();
        scroll.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    report("sidebar scroll frame", measure(scroll));

    // Every session selected in turn: the grid is replaced and drawn.
    std::vector<double> walk;
    for (const SessionGroup& group : QList<SessionGroup>(rig.model->groups())) {
        between();
        QElapsedTimer timer;
        timer.start();
        rig.model->setSelectedSessionID(group.id());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        rig.draw();
        walk.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    report("session switch frame", measure(walk));
    std::printf("after all sessions: %lld cards alive, %.1f MiB resident (%.1f at start)\n",
                static_cast<long long>(drawer->rail()->grid()->cards().size()), residentMiB(),
                startMiB);
    delete drawer;

    // One session of 5,000 items in one turn, scrolled through to its end.
    Thumbnailer::waitForIdle();
    between();
    Rig big(shelf(1, 5000, 1));
    QElapsedTimer bigCold;
    bigCold.start();
    auto* bigDrawer = new DrawerContent(big.views, ShelfLayoutKind::rail);
    big.scene.addItem(bigDrawer);
    bigDrawer->setPos(104, 0);
    bigDrawer->setPlan(
        {bench::drawerDisplay, ShelfLayoutKind::rail, QSizeF(720, 320), 0, 32, 0, false});
    big.draw();
    std::printf("one turn of 5,000 items, cold first frame %.2f ms\n",
                double(bigCold.nsecsElapsed()) / 1e6);
    TurnGrid* bigGrid = bigDrawer->rail()->grid();
    std::vector<double> gridScroll;
    qsizetype mostCards = 0;
    while (bigGrid->scrollArea()->offset() < bigGrid->scrollArea()->extent().maxOffset()) {
        between();
        QElapsedTimer timer;
        timer.start();
        bigGrid->scrollArea()->wheel(-120);
        big.draw();
        gridScroll.push_back(double(timer.nsecsElapsed()) / 1e6);
        mostCards = std::max(mostCards, bigGrid->cards().size());
    }
    report("grid scroll frame (5,000 items)", measure(gridScroll));
    std::printf("at the end: %lld cards alive (at most %lld at once), %.1f MiB resident\n",
                static_cast<long long>(bigGrid->cards().size()), static_cast<long long>(mostCards),
                residentMiB());
    delete bigDrawer;
    return 0;
}
