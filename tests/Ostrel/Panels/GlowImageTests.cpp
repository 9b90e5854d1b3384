#include "Ostrel/Panels/GlowImage.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QPainterPath rounded(const QRectF& r, double radius) {
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

} // namespace

TEST(GlowGeometry, BloomStretchesAcrossTheShapeAndSpreadIsEven) {
    const QRectF lit(0, 0, 200, 32);
    EXPECT_EQ(GlowGeometry::bloomOval(lit, 10), QRectF(-5, -15, 210, 62));
    EXPECT_EQ(GlowGeometry::bloomOval(QRectF(0, 0, 32, 200), 10), QRectF(-15, -5, 62, 210));
    EXPECT_EQ(GlowGeometry::bloomOval(lit, -3), lit);

    EXPECT_EQ(GlowGeometry::spreadScale(1, lit, 10), QSizeF(1, 1));
    const QSizeF s = GlowGeometry::spreadScale(2, lit, 10);
    EXPECT_GT(s.height(), s.width());
    EXPECT_GT(s.width(), 1);
    EXPECT_EQ(GlowGeometry::spreadScale(2, QRectF(), 0), QSizeF(2, 2));
}

TEST(GlowImage, FrameLeavesThreeRadiiOfRoomAndFollowsTheScale) {
    const QRectF lit(0, 0, 200, 32);
    const auto glow = GlowImage::render(rounded(lit, 10), lit, 10, 2, Qt::cyan);
    ASSERT_TRUE(glow.has_value());
    // The union is the bloom oval (-5, -15, 210, 62); 30 points of room on every side.
    EXPECT_EQ(glow->frame, QRectF(-35, -45, 270, 122));
    EXPECT_EQ(glow->image.size(), QSize(540, 244));
    EXPECT_EQ(glow->image.devicePixelRatio(), 2.0);

    // Radius 0: exactly the rounded-out union, drawn without blur.
    const auto sharp = GlowImage::render(rounded(QRectF(0.5, 0.25, 100, 20), 4),
                                         QRectF(0.5, 0.25, 100, 20), 0, 1, Qt::red);
    ASSERT_TRUE(sharp.has_value());
    EXPECT_EQ(sharp->frame, QRectF(0, 0, 101, 21));
    EXPECT_EQ(QColor(sharp->image.pixel(50, 10)), QColor(Qt::red));

    EXPECT_FALSE(GlowImage::render(rounded(lit, 10), lit, 10, 0, Qt::cyan).has_value());
    EXPECT_FALSE(GlowImage::render(QPainterPath(), QRectF(), 0, 1, Qt::cyan).has_value());
}

TEST(GlowImage, GlowIsBrightestAtTheShapeAndFadesToNothingAtTheRim) {
    const QRectF lit(0, 0, 200, 32);
    const auto glow = GlowImage::render(rounded(lit, 10), lit, 22, 1, QColor(80, 160, 255));
    ASSERT_TRUE(glow.has_value());
    const QImage& img = glow->image;
    img.save(QCoreApplication::applicationDirPath() + QStringLiteral("/glow-200x32-r22.png"));
    auto alphaAt = [&](const QPointF& p) {
        const QPoint px = (p - glow->frame.topLeft()).toPoint();
        return qAlpha(img.pixel(px));
    };
    const int centre = alphaAt(lit.center());
    EXPECT_GT(centre, 150);
    EXPECT_LT(alphaAt(QPointF(100, 60)), centre);
    EXPECT_GT(alphaAt(QPointF(100, 60)), 0);
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
    // Left and right mirror each other.
    EXPECT_NEAR(alphaAt(QPointF(-20, 16)), alphaAt(QPointF(219, 16)), 3);
    // Premultiplied: no channel exceeds alpha.
    const QRgb c = img.pixel((lit.center() - glow->frame.topLeft()).toPoint());
    EXPECT_LE(qBlue(c), qAlpha(c));
}

TEST(GaussianBlur, KeepsFlatAreasAndTheTotalAndSpreadsAnEdge) {
    QImage img(200, 40, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    for (int y = 0; y < 40; ++y) {
        for (int x = 50; x < 150; ++x) {
            img.setPixel(x, y, qRgba(0, 0, 200, 200));
        }
    }
    auto total = [](const QImage& i) {
        qint64 sum = 0;
        for (int y = 0; y < i.height(); ++y) {
            for (int x = 0; x < i.width(); ++x) {
                sum += qAlpha(i.pixel(x, y));
            }
        }
        return sum;
    };
    const qint64 before = total(img);
    gaussianBlur(img, 4);
    EXPECT_EQ(qAlpha(img.pixel(100, 20)), 200); // far from the edges nothing changes
    EXPECT_GT(qAlpha(img.pixel(45, 20)), 0);    // the edge spread out
    EXPECT_LT(qAlpha(img.pixel(55, 20)), 200);
    EXPECT_EQ(qAlpha(img.pixel(10, 20)), 0);
    // Top and bottom rows lose alpha to the transparent outside; the middle rows keep theirs.
    EXPECT_LT(total(img), before);
    EXPECT_GT(total(img), before * 8 / 10);
}
