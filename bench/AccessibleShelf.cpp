// What a screen reader costs the open drawer over a full shelf: 5,000 items in 2,000 turns of 40
// sessions, in the rail and in the turn stacks strip. Prints, beside a drawn frame of the same
// drawer and the 16.7 ms frame budget, a full walk of the accessible tree as an AT-SPI client
// makes it (every node's name, role, state and rectangle, gathered afresh each time), and the
// number of nodes it finds.
#include "DrawerBench.h"

#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Surface/DrawerContent.h"
#include "Ostrel/Surface/ShelfPanelAccessible.h"
#include "Platform/OpenSsl.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ostrel;

namespace {

constexpr quint32 display = bench::drawerDisplay;

Snapshot shelf() {
    Snapshot s;
    for (int session = 0; session < 40; ++session) {
        const QString sid = QStringLiteral("s%1").arg(session);
        const double started = 7.0e8 + session * 1000.0;
        s.sessions.append(Session(sid, std::nullopt, QStringLiteral("/home/me/p%1").arg(session),
                                  QStringLiteral("main"), Date(started), Date(started + 900)));
        for (int turn = 0; turn < 50; ++turn) {
            const QString pid = sid + QStringLiteral("-t%1").arg(turn);
            s.prompts.append(
                Prompt{pid, sid, Date(started + turn), QStringLiteral("Prompt %1").arg(turn)});
            for (int i = 0; i < (turn % 2 ? 3 : 2); ++i) {
                ShelfItem item;
                item.id = pid + QStringLiteral("-%1").arg(i);
                item.kind = ShelfItemKind::image;
                item.title = item.id + QStringLiteral(".png");
                item.sessionID = sid;
                item.promptID = pid;
                item.createdAt = Date(started + turn + i * 0.01);
                s.items.append(item);
            }
        }
    }
    return s;
}

struct Figures {
    double p50 = 0;
    double p95 = 0;
    double worst = 0;
};

Figures measure(std::vector<double> ms) {
    Figures f;
    std::sort(ms.begin(), ms.end());
    f.p50 = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, static_cast<size_t>(ms.size() * 0.95))];
    f.worst = ms.back();
    return f;
}

void report(const char* what, const Figures& f) {
    std::printf("  %-34s p50 %6.2f ms  p95 %6.2f ms  worst %6.2f ms\n", what, f.p50, f.p95,
                f.worst);
}

// Reads every node below `node` as a client walking the tree does; returns how many there were.
int walk(QAccessibleInterface* node) {
    int count = 1;
    volatile qsizetype sink = node->text(QAccessible::Name).size() + int(node->role()) +
                              node->rect().width() + int(node->state().selected);
    (void)sink;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i)) {
            count += walk(child);
        }
    }
    return count;
}

void run(ShelfLayoutKind kind, QSizeF size, double band) {
    bench::ShelfFixture fixture(shelf());
    ShelfModel& model = *fixture.model;
    model.setOpenScreen(display);
    const ViewContext context = fixture.context();
    NotchPanel panel;
    panel.resize(QSize(int(size.width()) + 208, int(size.height()) + band + 64));
    auto* drawer = new DrawerContent(context, kind);
    panel.setRootItem(drawer);
    drawer->setPos(104, 0);
    drawer->setPlan({display, kind, size, 0, band, 0, false});
    panel.show();
    QApplication::processEvents();

    QImage frame(panel.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> draws;
    std::vector<double> walks;
    int nodes = 0;
    for (int i = 0; i < 40; ++i) {
        QElapsedTimer timer;
        timer.start();
        frame.fill(Qt::black);
        QPainter painter(&frame);
        panel.shelfScene()->render(&painter);
        painter.end();
        draws.push_back(double(timer.nsecsElapsed()) / 1e6);
        // The tree is gathered afresh once the event loop has turned.
        QApplication::processEvents();
        timer.restart();
        nodes = walk(QAccessible::queryAccessibleInterface(&panel));
        walks.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("%s, %lld items: %d accessible nodes in view\n",
                kind == ShelfLayoutKind::rail ? "rail" : "turn stacks strip",
                static_cast<long long>(model.visibleSnapshot().items.size()), nodes);
    report("drawn frame (reference)", measure(draws));
    report("full accessible tree walk", measure(walks));
    std::printf("  %-34s %6.2f ms\n", "frame budget", 1000.0 / 60.0);
}

} // namespace

int main(int argc, char** argv) {
    OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans")));
    ShelfPanelAccessible::install();
    run(ShelfLayoutKind::rail, QSizeF(720, 320), 32);
    run(ShelfLayoutKind::stacks, QSizeF(880, 176), 32);
    return 0;
}
