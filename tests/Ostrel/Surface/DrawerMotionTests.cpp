#include "Ostrel/Surface/DrawerMotion.h"

#include "OstrelCore/Display/DisplayLayout.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using namespace ostrel;

namespace {

const QRectF screen(0, 0, 1920, 1080);
const QRectF visible(0, 0, 1920, 1050);

DisplayLayout notchLayout() {
    return DisplayLayout(DisplayStyle::notch(), QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 945),
                         QRectF(656, 945, 200, 37));
}

DisplayLayout pillLayout(PillSide side) {
    return DisplayLayout(DisplayStyle::pill(side), screen, visible, std::nullopt);
}

DisplayLayout hoverLayout() {
    return DisplayLayout(DisplayStyle::hoverNotch(), screen, visible, std::nullopt);
}

DrawerMotion motion(const DisplayLayout& layout, double progress) {
    DrawerMotion m;
    m.layout = layout;
    m.progress = progress;
    m.base = layout.drawerSize(ShelfLayoutKind::rail);
    m.strength = Motion::glowLook(GlowStrength::balanced);
    return m;
}

bool same(const QRectF& a, const QRectF& b) {
    return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9 &&
           std::abs(a.width() - b.width()) < 1e-9 && std::abs(a.height() - b.height()) < 1e-9;
}

// A paint device that only notes what is drawn on it: paths, and rectangles with their area.
class Recorder final : public QPaintDevice {
public:
    struct Engine final : QPaintEngine {
        int paths = 0;
        double rectArea = 0;
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawPath(const QPainterPath&) override { ++paths; }
        void drawRects(const QRectF* rects, int count) override {
            for (int i = 0; i < count; ++i) {
                rectArea += rects[i].width() * rects[i].height();
            }
        }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++paths; }
        Type type() const override { return User; }
    };
    mutable Engine engine;
    QPaintEngine* paintEngine() const override { return &engine; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 2000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        case PdmDepth:
            return 32;
        default:
            return 0;
        }
    }
};

} // namespace

TEST(DrawerMotion, ContentIsScaledIntoTheRestShapeAndTakesHitsOnlyWhenRevealed) {
    for (const auto& layout : {notchLayout(), hoverLayout(), pillLayout(PillSide::left)}) {
        const auto closed = motion(layout, 0).compose();
        EXPECT_GE(closed.contentScale, 0.01);
        EXPECT_LT(closed.contentScale, 0.5);
        EXPECT_FALSE(closed.contentHits);
        EXPECT_FALSE(closed.contentAccessible);
        EXPECT_EQ(closed.contentOpacity, 0);

        const auto open = motion(layout, 1).compose();
        const QRectF drawer = DrawerMotion::toPanel(
            layout.panelFrame(), layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0));
        EXPECT_TRUE(same(open.contentFrame, drawer));
        EXPECT_DOUBLE_EQ(open.contentScale, 1);
        EXPECT_TRUE(open.contentHits);
        // The content's own rectangle lands exactly on the open drawer.
        EXPECT_TRUE(
            same(open.contentTransform.mapRect(QRectF(QPointF(), open.contentSize)), drawer));
    }
}

TEST(DrawerMotion, ContentGrowsFromTheEdgeAndTheMessageBandAddsRoom) {
    auto m = motion(notchLayout(), 0.5);
    m.message = 40;
    const auto f = m.compose();
    EXPECT_DOUBLE_EQ(f.contentSize.height(), m.base.height() + 40);
    // Scaled about the top edge's centre: the content's top centre is the frame's top centre.
    const QPointF top = f.contentTransform.map(QPointF(f.contentSize.width() / 2, 0));
    EXPECT_NEAR(top.x(), f.contentFrame.center().x(), 1e-9);
    EXPECT_NEAR(top.y(), f.contentFrame.top(), 1e-9);

    auto left = motion(pillLayout(PillSide::left), 0.5).compose();
    const QPointF lead = left.contentTransform.map(QPointF(0, left.contentSize.height() / 2));
    EXPECT_NEAR(lead.x(), left.contentFrame.left(), 1e-9);
    EXPECT_NEAR(lead.y(), left.contentFrame.center().y(), 1e-9);
}

TEST(DrawerMotion, SpringOvershootPassesThroughToTheNotchFrame) {
    const auto open = motion(notchLayout(), 1).compose();
    const auto over = motion(notchLayout(), 1.04).compose();
    EXPECT_GT(over.contentFrame.width(), open.contentFrame.width());
    EXPECT_GT(over.contentFrame.height(), open.contentFrame.height());
    // The content itself never grows beyond its open size.
    EXPECT_DOUBLE_EQ(over.contentScale, 1);
    // Swinging back a hair short of open (no point of the content would move a quarter of a
    // point), the content stays where it stands open; further short, it is scaled.
    const auto hair = motion(notchLayout(), 0.9995).compose();
    EXPECT_LT(hair.contentFrame.width(), open.contentFrame.width());
    EXPECT_DOUBLE_EQ(hair.contentScale, 1);
    const QRectF content(QPointF(), open.contentSize);
    EXPECT_TRUE(
        same(hair.contentTransform.mapRect(content), open.contentTransform.mapRect(content)));
    EXPECT_LT(motion(notchLayout(), 0.999).compose().contentScale, 1);
}

TEST(DrawerMotion, CountBadgeShowsBesideTheNotchWithTheCountSignal) {
    auto m = motion(notchLayout(), 0);
    m.halo = false;
    m.trailing = 38;
    m.count = 100;
    auto f = m.compose();
    EXPECT_EQ(f.badgeText, "99+");
    EXPECT_DOUBLE_EQ(f.badgeOpacity, 1);
    const QRectF rest = f.geometry.rest;
    EXPECT_TRUE(same(f.badgeRect, QRectF(rest.right() - 38 - 3, rest.y(), 38, rest.height())));

    m.count = 0;
    EXPECT_EQ(m.compose().badgeOpacity, 0);
    // The glow signal and the pills never show the badge.
    m.count = 3;
    m.halo = true;
    EXPECT_EQ(m.compose().badgeOpacity, 0);
    // While the drawer opens the badge fades with the rest signal.
    m.halo = false;
    m.progress = 0.3;
    EXPECT_LT(m.compose().badgeOpacity, 1);
}

TEST(DrawerMotion, PillTintFollowsTheUnreadCountWhileGrowing) {
    auto m = motion(pillLayout(PillSide::bottom), 0.05);
    m.count = 1;
    auto f = m.compose();
    EXPECT_EQ(f.tint, QColor::fromRgbF(0.851f, 0.467f, 0.341f));
    EXPECT_GT(f.tintOpacity, 0);
    EXPECT_DOUBLE_EQ(f.blackOpacity, 1);
    m.count = 0;
    EXPECT_EQ(m.compose().tint, QColor(Qt::white));
    m.progress = 0;
    f = m.compose();
    EXPECT_EQ(f.tintOpacity, 0);
    EXPECT_EQ(f.blackOpacity, 0);
    EXPECT_DOUBLE_EQ(f.pillLineOpacity, 1);
    // Fading in place under reduce motion the drawer goes straight to its black, no tint between.
    m.count = 1;
    m.progress = 0.4;
    m.reduceMotion = true;
    f = m.compose();
    EXPECT_EQ(f.tintOpacity, 0);
    EXPECT_DOUBLE_EQ(f.blackOpacity, 0.4);
}

TEST(DrawerMotion, PeekCardTucksBehindTheEdgeUntilItPeeks) {
    const auto layout = pillLayout(PillSide::bottom);
    auto m = motion(layout, 0);
    auto f = m.compose();
    const double depth = f.card.height();
    const double expected =
        std::isinf(layout.peekTuckRoom()) ? 0.8 : std::min(0.8, layout.peekTuckRoom() / depth);
    EXPECT_DOUBLE_EQ(f.tuck, expected);
    EXPECT_NEAR(f.pileRect.y(), f.card.y() + expected * depth, 1e-9);
    EXPECT_FALSE(f.cardHitArea.has_value());

    m.reduceMotion = true;
    EXPECT_EQ(m.compose().tuck, 0);
    m.reduceMotion = false;

    m.peeking = 1;
    m.peekActive = true;
    m.cardDrag = 12;
    f = m.compose();
    EXPECT_TRUE(same(f.pileRect, f.card.translated(0, 12)));
    ASSERT_TRUE(f.cardHitArea.has_value());
    EXPECT_TRUE(same(*f.cardHitArea, f.card.translated(0, 12)));
    m.hidesAtRest = true;
    EXPECT_FALSE(m.compose().cardHitArea.has_value());
}

TEST(DrawerMotion, SinkingHidesTheSignalsAndSlidesTowardsTheEdge) {
    auto pill = motion(pillLayout(PillSide::right), 0);
    pill.glow = 0.75;
    pill.count = 2;
    pill.sunk = 1;
    auto f = pill.compose();
    EXPECT_EQ(f.pillGroupOpacity, 0);
    EXPECT_EQ(f.sinkOffset, QPointF(10, 0));
    pill.reduceMotion = true;
    EXPECT_EQ(pill.compose().sinkOffset, QPointF(0, 0));

    auto notch = motion(notchLayout(), 0);
    notch.glow = 0.75;
    notch.sunk = 1;
    EXPECT_EQ(notch.compose().notchHaloOpacity, 0);
    notch.sunk = 0;
    EXPECT_DOUBLE_EQ(notch.compose().notchHaloOpacity, 0.75);

    auto hover = motion(hoverLayout(), 0);
    hover.glow = 0.75;
    hover.sunk = 1;
    f = hover.compose();
    EXPECT_EQ(f.lineGroupOpacity, 0);
    EXPECT_EQ(f.sinkOffset, QPointF(0, -10));
}

TEST(DrawerMotion, PulseSwellsTheGlowAboveItsRest) {
    auto m = motion(notchLayout(), 0);
    m.restLevel = 0.75;
    m.glow = 0.75;
    EXPECT_DOUBLE_EQ(m.compose().swell, 1);
    m.glow = 1;
    EXPECT_DOUBLE_EQ(m.compose().swell, 1.35);
    m.glow = 0;
    m.highlight = 0.5;
    EXPECT_DOUBLE_EQ(m.compose().swell, 1 + 0.35 * 0.5);
}

// Repainting a part of the open drawer inside its surface (its content scrolling) fills that part
// as a rectangle; a part reaching over the outline fills the outline.
TEST(DrawerMotion, ARepaintInsideTheSurfaceFillsItsRectangle) {
    const auto f = motion(hoverLayout(), 1).compose();
    const QRectF inside = f.contentFrame.adjusted(200, 40, -20, -20);
    Recorder within;
    {
        QPainter painter(&within);
        motion(hoverLayout(), 1).paintBehind(painter, f, 1, false, inside);
    }
    EXPECT_EQ(within.engine.paths, 0);
    EXPECT_DOUBLE_EQ(within.engine.rectArea, inside.width() * inside.height());

    Recorder across;
    {
        QPainter painter(&across);
        motion(hoverLayout(), 1).paintBehind(painter, f, 1, false, f.contentFrame);
    }
    EXPECT_EQ(across.engine.paths, 1);
}

// At a fractional scale a repainted part's edges fall inside device pixels; the repaint cleared
// those pixels whole, so the ground covers them whole, or a line of the desktop shows through.
TEST(DrawerMotion, ARepaintAtAFractionalScaleCoversEveryPixelItTouches) {
    const auto m = motion(hoverLayout(), 1);
    const auto f = m.compose();
    const QRectF part(f.contentFrame.toAlignedRect().adjusted(201, 41, -21, -23));
    for (const double ratio : {1.25, 1.5, 1.75}) {
        SCOPED_TRACE(ratio);
        QImage image((f.panel * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        m.paintBehind(painter, f, ratio, false, part);
        painter.end();
        const QRect pixels = QTransform::fromScale(ratio, ratio).mapRect(part).toAlignedRect();
        for (const QPoint at :
             {pixels.topLeft(), pixels.topRight(), pixels.bottomLeft(), pixels.bottomRight()}) {
            EXPECT_EQ(image.pixelColor(at).alpha(), 255) << at.x() << "," << at.y();
        }
    }
}

// Filled as a rectangle or as the outline, a repainted part looks the same: inside the surface and
// over a corner of its outline.
TEST(DrawerMotion, ARepaintLooksAsTheWholeOutlineDid) {
    const auto m = motion(hoverLayout(), 1);
    const auto f = m.compose();
    const auto painted = [&](const QRect& part, bool told) {
        QImage image(f.panel.toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setClipRect(part);
        m.paintBehind(painter, f, 1, false, told ? QRectF(part) : QRectF());
        painter.end();
        return image;
    };
    const QRect inside = f.contentFrame.adjusted(200, 40, -20, -20).toAlignedRect();
    const QRect corner = f.shape.boundingRect().toAlignedRect();
    for (const QRect& part : {inside, corner}) {
        EXPECT_EQ(painted(part, true), painted(part, false)) << part.x() << "," << part.y();
    }
}
