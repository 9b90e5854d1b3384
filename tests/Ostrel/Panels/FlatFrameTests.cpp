#include "Ostrel/Panels/FlatFrame.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

QImage clear(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void paintOpaque(QImage& image, const QRect& rect) {
    QPainter(&image).fillRect(rect, QColor(30, 60, 90));
}

} // namespace

// Where the drawer scrolls, each frame paints opaque pixels over opaque ones: they are kept whole
// without a second look, at the window's own scale and at twice it.
TEST(FlatFrame, AnOpaqueFrameIsKeptWholeWithoutALookAtEachPixel) {
    for (const double ratio : {1.0, 2.0}) {
        FlatFrame flat;
        QImage image = clear(QSize(80, 60));
        flat.flatten(image, {}, {}, ratio);
        EXPECT_TRUE(flat.shape().isEmpty());
        EXPECT_EQ(flat.examined(), qsizetype(80 * 60 / (ratio * ratio)));

        paintOpaque(image, QRect(8, 8, 20, 12));
        flat.flatten(image, QRegion(8, 8, 20, 12), {}, ratio);
        EXPECT_EQ(flat.shape(),
                  QRegion(QRectF(8 / ratio, 8 / ratio, 20 / ratio, 12 / ratio).toRect()))
            << ratio;
        EXPECT_EQ(flat.examined(), 0) << ratio;
    }
}

// At a scale of 1.5 a painted rect of 4 x 4 image pixels reaches into 3 x 3 logical pixels, the
// last of which lies half over pixels the frame did not paint (clear ones): it is dropped.
TEST(FlatFrame, ALogicalPixelReachingPastAnOpaqueFrameIsKeptOnlyWhereAllItsPixelsAre) {
    FlatFrame flat;
    QImage image = clear(QSize(30, 30));
    flat.flatten(image, {}, {}, 1.5);
    paintOpaque(image, QRect(0, 0, 4, 4));
    flat.flatten(image, QRegion(0, 0, 4, 4), {}, 1.5);
    EXPECT_EQ(flat.shape(), QRegion(0, 0, 2, 2));
    EXPECT_GT(flat.examined(), 0);
}

// A faint edge is dropped, a half-covered one kept at full strength, in the shape and the pixels,
// also where a row is opaque but for its last few pixels.
TEST(FlatFrame, PartlyCoveredPixelsAreDroppedOrMadeWhole) {
    FlatFrame flat;
    QImage image = clear(QSize(11, 1));
    paintOpaque(image, QRect(0, 0, 11, 1));
    image.setPixel(8, 0, qRgba(20, 10, 0, 100));
    image.setPixel(9, 0, qRgba(100, 50, 0, 200));
    flat.flatten(image, {});
    EXPECT_EQ(image.pixel(8, 0), 0u);
    EXPECT_EQ(image.pixel(9, 0), qRgba(128, 64, 0, 255));
    EXPECT_EQ(flat.shape(), QRegion(0, 0, 8, 1) + QRegion(9, 0, 2, 1));
}
