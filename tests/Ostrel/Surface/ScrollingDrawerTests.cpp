// What a wheel notch over the open rail drawer costs its panel, counted through the panel: the
// pixels repainted, the pixels looked at one by one to flatten a frame without a compositor, and
// the requests that set the window's shape.
#include "DrawerRig.h"

#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/TurnGrid.h"
#include "support/GeometryPrinters.h"

#include <QPaintEvent>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// 60 seen pictures in one turn of one session.
Snapshot oneLongTurn() {
    Snapshot s;
    s.sessions = {
        Session("alpha", std::nullopt, "/work/ostrel", "main", Date(799990000), Date(799990100))};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Many pictures"}};
    for (int i = 0; i < 60; ++i) {
        ShelfItem item;
        item.id = QStringLiteral("i%1").arg(i, 2, 10, QLatin1Char('0'));
        item.title = item.id;
        item.sessionID = "alpha";
        item.promptID = "p1";
        item.createdAt = Date(799990300 - i);
        item.seenAt = Date(799990400);
        s.items.append(item);
    }
    return s;
}

// The rig's model shown as the application shows it: its shelf view in a shelf panel, the drawer
// open and at rest, every paint's region noted.
struct OpenPanel : QObject {
    DrawerRig rig;
    NotchPanel panel;
    ShelfView* view;
    QList<QRegion> paints;

    explicit OpenPanel(bool compositing) {
        rig.view.hide();
        rig.publish(oneLongTurn());
        view = ShelfView::create(*rig.model, DrawerRig::display);
        panel.setRootItem(view);
        panel.setGeometry(rig.model->layouts().at(DrawerRig::display).panelFrame().toRect());
        panel.setCompositing(compositing);
        view->setCompositing(compositing);
        panel.viewport()->installEventFilter(this);
        panel.show();
        rig.open();
        rig.clock->advance(5);
        view->tick();
        settle();
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paints.append(static_cast<QPaintEvent*>(event)->region());
        }
        return false;
    }

    // Waits until no frame has been painted for a while.
    void settle() {
        qsizetype seen = -1;
        while (seen != paints.size()) {
            seen = paints.size();
            QTest::qWait(100);
        }
    }

    SessionRailView* rail() const {
        auto* content = qobject_cast<DrawerContent*>(view->content());
        return content ? content->rail() : nullptr;
    }
    TurnGrid* grid() const { return rail()->grid(); }

    // The grid's viewport in the panel's pixels.
    QRect gridInPanel() const {
        ScrollArea* area = grid()->scrollArea();
        return panel.mapFromScene(area->mapRectToScene(area->boundingRect())).boundingRect();
    }

    // One notch toward the end over the grid, and the region its frame repainted.
    QRegion notch() {
        const qsizetype before = paints.size();
        const QPointF at = gridInPanel().center();
        QWheelEvent event(at, panel.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(panel.viewport(), &event);
        EXPECT_TRUE(QTest::qWaitFor([&] { return paints.size() > before; }));
        QRegion painted;
        for (qsizetype i = before; i < paints.size(); ++i) {
            painted += paints[i];
        }
        return painted;
    }
};

} // namespace

// Only the grid moves: its viewport (with the margin kept for smooth edges) is repainted, not the
// panel around it. (The first notch after the drawer opened repaints the drawer once.)
TEST(ScrollingDrawer, ANotchRepaintsTheGridAlone) {
    OpenPanel open(true);
    ASSERT_TRUE(open.rail());
    open.notch();
    open.settle();
    for (int i = 0; i < 3; ++i) {
        const double before = open.grid()->scrollArea()->offset();
        const QRegion painted = open.notch();
        EXPECT_GT(open.grid()->scrollArea()->offset(), before);
        EXPECT_TRUE(open.gridInPanel().adjusted(-2, -2, 2, 2).contains(painted.boundingRect()))
            << ::testing::PrintToString(QRectF(painted.boundingRect())) << " outside "
            << ::testing::PrintToString(QRectF(open.gridInPanel()));
    }
}

// Without a compositor the repainted grid is opaque throughout: it is flattened without a look at
// each pixel, and the window keeps its shape. The frames are painted as the X backing store holds
// them (premultiplied pixels; the offscreen platform's store has none to flatten).
TEST(ScrollingDrawer, WithoutACompositorANotchLeavesTheShapeAsItWas) {
    OpenPanel open(false);
    QImage store(open.panel.size(), QImage::Format_ARGB32_Premultiplied);
    store.fill(Qt::transparent);
    QWidget& window = open.panel;
    window.render(&store);
    const auto frame = [&](const QRegion& painted) {
        window.render(&store, painted.boundingRect().topLeft(), painted);
    };
    frame(open.notch());
    const QRegion shape = open.panel.flatFrame().shape();
    const int requests = open.panel.shapeRequests();
    EXPECT_FALSE(shape.isEmpty());
    EXPECT_GT(open.panel.flatFrame().examined(), 0);
    for (int i = 0; i < 3; ++i) {
        frame(open.notch());
        EXPECT_EQ(open.panel.flatFrame().examined(), 0);
    }
    EXPECT_EQ(open.panel.flatFrame().shape(), shape);
    EXPECT_EQ(open.panel.shapeRequests(), requests);
}
