#include "Ostrel/Views/DragScroller.h"

#include "Ostrel/Views/DragLift.h"
#include "support/ShelfModelTestSupport.h"

#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;

namespace {

const QColor fill(200, 40, 40);

// A 600 x 100 strip over a solid content of `length`, on a clock moved by hand.
struct Strip {
    std::shared_ptr<ManualMainClock> clock = std::make_shared<ManualMainClock>();
    QGraphicsScene scene{0, 0, 600, 100};
    DragScroller* strip;

    explicit Strip(double length, ShelfModel* model = nullptr,
                   Qt::Orientation axis = Qt::Horizontal) {
        ViewContext context;
        context.clock = clock;
        context.model = model;
        strip = new DragScroller(context, axis);
        scene.addItem(strip);
        auto* board = new QGraphicsRectItem(0, 0, length, 100, strip->content());
        board->setBrush(fill);
        board->setPen(Qt::NoPen);
        strip->setSize(axis == Qt::Horizontal ? QSizeF(600, 100) : QSizeF(100, 600));
        strip->setContentLength(length);
    }

    void mouse(QEvent::Type type, QPointF at) {
        QGraphicsSceneMouseEvent event(type);
        event.setScenePos(at);
        event.setPos(at);
        event.setButton(type == QEvent::GraphicsSceneMouseMove ? Qt::NoButton : Qt::LeftButton);
        event.setButtons(type == QEvent::GraphicsSceneMouseRelease ? Qt::NoButton : Qt::LeftButton);
        scene.sendEvent(strip, &event);
    }
    void press(QPointF at) { mouse(QEvent::GraphicsSceneMousePress, at); }
    void moveTo(QPointF at) { mouse(QEvent::GraphicsSceneMouseMove, at); }
    void release(QPointF at) { mouse(QEvent::GraphicsSceneMouseRelease, at); }

    QImage render() {
        QImage image(600, 100, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        scene.render(&painter, QRectF(0, 0, 600, 100), QRectF(0, 0, 600, 100));
        return image;
    }
};

} // namespace

TEST(DragScroller, EachEdgeFadesOnlyWhileMoreContentLiesBeyondIt) {
    Strip s(2000);
    EXPECT_EQ(s.strip->maxOffset(), 1400);
    QImage at0 = s.render();
    EXPECT_EQ(at0.pixelColor(1, 50).alpha(), 255);
    EXPECT_LT(at0.pixelColor(598, 50).alpha(), 60);
    EXPECT_EQ(at0.pixelColor(300, 50), fill);

    s.strip->handleWheel(StripScroll::Input::line(700));
    const QImage middle = s.render();
    EXPECT_LT(middle.pixelColor(1, 50).alpha(), 60);
    EXPECT_LT(middle.pixelColor(598, 50).alpha(), 60);
    EXPECT_EQ(s.strip->range(), (DragScroller::Range{700, 1300}));

    // A wheel far past the end stops at it: only the leading edge fades then.
    s.strip->handleWheel(StripScroll::Input::line(5000));
    EXPECT_EQ(s.strip->scroll().offset, 1400);
    const QImage end = s.render();
    EXPECT_LT(end.pixelColor(1, 50).alpha(), 60);
    EXPECT_EQ(end.pixelColor(598, 50).alpha(), 255);

    // Content that fits neither scrolls nor fades.
    Strip fits(500);
    EXPECT_EQ(fits.strip->maxOffset(), 0);
    fits.strip->handleWheel(StripScroll::Input::line(100));
    EXPECT_EQ(fits.strip->scroll().offset, 0);
    const QImage still = fits.render();
    EXPECT_EQ(still.pixelColor(1, 50), fill);
    EXPECT_EQ(still.pixelColor(498, 50), fill);
}

TEST(DragScroller, AGlideEasesToItsTargetAndAShrinkingContentPullsTheStripBack) {
    Strip s(2000);
    s.strip->handleWheel(StripScroll::Input::reveal(300));
    // The range already names the destination; what is shown gets there on the standard curve.
    EXPECT_EQ(s.strip->range(), (DragScroller::Range{300, 900}));
    EXPECT_EQ(s.strip->shownOffset(), 0);
    s.clock->advance(0.1);
    EXPECT_GT(s.strip->shownOffset(), 0);
    EXPECT_LT(s.strip->shownOffset(), 300);
    s.clock->advance(2);
    EXPECT_DOUBLE_EQ(s.strip->shownOffset(), 300);
    EXPECT_EQ(s.strip->content()->pos(), QPointF(-300, 0));

    // The content shrinks below the offset: the strip comes back within its new end.
    s.strip->setContentLength(700);
    s.clock->advance(2);
    EXPECT_EQ(s.strip->scroll().offset, 100);
    EXPECT_DOUBLE_EQ(s.strip->shownOffset(), 100);
    EXPECT_EQ(s.strip->range(), (DragScroller::Range{100, 700}));
}

TEST(DragRule, ADragScrollsWhenItMovesAtLeastAsFarAlongTheAxis) {
    EXPECT_TRUE(DragRule::scrolls(Qt::Horizontal, {10, 10}));
    EXPECT_TRUE(DragRule::scrolls(Qt::Horizontal, {-10, 3}));
    EXPECT_FALSE(DragRule::scrolls(Qt::Horizontal, {3, -10}));
    EXPECT_TRUE(DragRule::scrolls(Qt::Vertical, {3, -10}));
    EXPECT_FALSE(DragRule::scrolls(Qt::Vertical, {10, 3}));
}

namespace {

// A strip in a shelf model whose drag-outs are recorded, with a card of item "c" under the
// pointer, grabbed at (30, 40) inside the card.
struct LiftRig {
    test::ModelRig rig;
    std::unique_ptr<Strip> strip;

    explicit LiftRig(double length, Qt::Orientation axis = Qt::Horizontal) {
        strip = std::make_unique<Strip>(length, rig.model.get(), axis);
        rig.model->setHoveredItem(test::shelfItem(QStringLiteral("c")));
        DragLift::shared().setHover(QStringLiteral("c"), QPointF(30, 40), [](double, bool) {
            return QImage(10, 10, QImage::Format_ARGB32);
        });
    }
    ~LiftRig() {
        DragLift::shared().takePending();
        DragLift::shared().setLiftedID(std::nullopt);
    }
    const QStringList& started() const { return rig.dragOut->started; }
};

} // namespace

TEST(DragScrollerLift, AMoveDownAcrossAHorizontalStripLiftsTheCardUnderThePointer) {
    LiftRig r(2000);
    r.strip->press({100, 50});
    r.strip->moveTo({101, 60}); // mostly down: no scroll, a lift at once
    EXPECT_EQ(r.started(), QStringList{QStringLiteral("c")});
    EXPECT_TRUE(r.rig.model->isDraggingOut());
    ASSERT_TRUE(DragLift::shared().pending());
    EXPECT_EQ(DragLift::shared().pending()->grab, QPointF(30, 40));
    EXPECT_EQ(DragLift::shared().pending()->relative, QPointF(1, 10));
    EXPECT_EQ(r.strip->strip->scroll().offset, 0);

    // The rest of the gesture is ignored once the drag-out runs.
    r.strip->moveTo({300, 70});
    r.strip->release({300, 70});
    EXPECT_EQ(r.started().size(), 1);
    EXPECT_EQ(r.strip->strip->scroll().offset, 0);
}

TEST(DragScrollerLift, AMoveUpOnlyLiftsOnceItLeavesTheStripByTheMargin) {
    LiftRig r(2000);
    r.strip->press({100, 50});
    r.strip->moveTo({100, 40});
    r.strip->moveTo({101, -7}); // within 8 points of the strip
    EXPECT_TRUE(r.started().isEmpty());
    r.strip->moveTo({101, -9});
    EXPECT_EQ(r.started(), QStringList{QStringLiteral("c")});
    EXPECT_EQ(DragLift::shared().pending()->relative, QPointF(1, -59));
}

TEST(DragScrollerLift, AScrollingDragThatLeavesTheStripStopsItAndLiftsTheCard) {
    LiftRig r(2000);
    r.strip->press({300, 50});
    r.strip->moveTo({200, 50}); // scrolls 100 along
    EXPECT_EQ(r.strip->strip->scroll().offset, 100);
    EXPECT_TRUE(r.started().isEmpty());
    r.strip->moveTo({150, 200}); // out of the strip
    EXPECT_EQ(r.started(), QStringList{QStringLiteral("c")});
    // The pointer moved (-150, 150); the strip moved 100 under it since the grab.
    EXPECT_EQ(DragLift::shared().pending()->relative, QPointF(-50, 150));
    // Stopped where it was, with nothing left to settle.
    EXPECT_EQ(r.strip->strip->scroll().offset, 100);
    EXPECT_FALSE(r.strip->strip->scroll().settle);
    r.strip->release({150, 200});
    EXPECT_EQ(r.strip->strip->scroll().offset, 100);

    // Pulled beyond the leading end, the lifted strip settles back into range.
    LiftRig pulled(2000);
    pulled.strip->press({100, 50});
    pulled.strip->moveTo({200, 50});
    EXPECT_LT(pulled.strip->strip->scroll().offset, 0);
    pulled.strip->moveTo({200, 300});
    EXPECT_EQ(pulled.started().size(), 1);
    EXPECT_TRUE(pulled.strip->strip->scroll().settle);
    EXPECT_EQ(pulled.strip->strip->scroll().offset, 0);
}

TEST(DragScrollerLift, WithoutACardUnderThePointerNothingLifts) {
    LiftRig r(2000);
    r.rig.model->setHoveredItem(std::nullopt);
    r.strip->press({300, 50});
    r.strip->moveTo({200, 50});
    r.strip->moveTo({100, 300}); // outside: the strip stops following
    EXPECT_EQ(r.strip->strip->scroll().offset, 100);
    EXPECT_TRUE(r.started().isEmpty());
    r.strip->release({100, 300});
    EXPECT_FALSE(r.rig.model->isDraggingOut());

    // A lift for a card other than the hovered one is disarmed.
    LiftRig other(2000);
    other.rig.model->setHoveredItem(test::shelfItem(QStringLiteral("d")));
    other.strip->press({100, 50});
    other.strip->moveTo({100, 70});
    EXPECT_EQ(other.started(), QStringList{QStringLiteral("d")});
    EXPECT_FALSE(DragLift::shared().pending());
}

TEST(DragScrollerLift, AcrossAVerticalStripADragLiftsAtOnce) {
    LiftRig r(2000, Qt::Vertical);
    r.strip->press({50, 100});
    r.strip->moveTo({40, 101}); // mostly across, and to the left: still a lift
    EXPECT_EQ(r.started(), QStringList{QStringLiteral("c")});
    EXPECT_EQ(r.strip->strip->scroll().offset, 0);
}
