#include "Ostrel/Views/DragScroller.h"

#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QGraphicsRectItem>
#include <QGraphicsScene>
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

    explicit Strip(double length) {
        ViewContext context;
        context.clock = clock;
        strip = new DragScroller(context, Qt::Horizontal);
        scene.addItem(strip);
        auto* board = new QGraphicsRectItem(0, 0, length, 100, strip->content());
        board->setBrush(fill);
        board->setPen(Qt::NoPen);
        strip->setSize(QSizeF(600, 100));
        strip->setContentLength(length);
    }

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
