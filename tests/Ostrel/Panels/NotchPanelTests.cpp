#include "Ostrel/Panels/NotchPanel.h"

#include <QCoreApplication>
#include <QGraphicsRectItem>
#include <QGraphicsSceneWheelEvent>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

// A rectangle that takes vertical wheel notches and counts how often its shape is tested.
class Sink : public QGraphicsRectItem {
public:
    using QGraphicsRectItem::QGraphicsRectItem;
    int notches = 0;
    mutable int shapeTests = 0;
    bool collidesWithPath(const QPainterPath& path, Qt::ItemSelectionMode mode) const override {
        ++shapeTests;
        return QGraphicsRectItem::collidesWithPath(path, mode);
    }

protected:
    void wheelEvent(QGraphicsSceneWheelEvent* event) override {
        if (event->orientation() != Qt::Vertical) {
            event->ignore();
            return;
        }
        notches += event->delta() / 120;
        event->accept();
    }
};

void notch(NotchPanel& panel, QPointF at, QPoint angle) {
    QWheelEvent event(at, panel.mapToGlobal(at), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(panel.viewport(), &event);
}

} // namespace

// A notch goes to the item under the pointer that takes it, found without testing the shapes of
// the items there against the clips of their ancestors (path intersections at every notch);
// an ancestor's clip still holds: outside it, its children are not offered the notch.
TEST(NotchPanel, AWheelNotchReachesTheItemUnderThePointerWithoutTestingShapes) {
    NotchPanel panel;
    auto* clip = new QGraphicsRectItem(0, 0, 200, 100);
    clip->setFlag(QGraphicsItem::ItemClipsChildrenToShape);
    auto* sink = new Sink(0, 0, 200, 300, clip);
    auto* above = new Sink(0, 0, 40, 40, sink);
    above->setPos(10, 10);
    panel.setRootItem(clip);
    panel.resize(300, 300);

    notch(panel, QPointF(100, 50), QPoint(0, 120));
    EXPECT_EQ(sink->notches, 1);
    notch(panel, QPointF(20, 20), QPoint(0, -240));
    EXPECT_EQ(above->notches, -2);
    EXPECT_EQ(sink->notches, 1);
    // A sideways notch is taken by neither.
    notch(panel, QPointF(20, 20), QPoint(120, 0));
    EXPECT_EQ(above->notches + sink->notches, -1);
    // Below the clip the sink's rectangle goes on, clipped away.
    notch(panel, QPointF(100, 200), QPoint(0, 120));
    EXPECT_EQ(sink->notches, 1);
    EXPECT_EQ(sink->shapeTests + above->shapeTests, 0);
}
