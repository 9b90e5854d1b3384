// The real binary on a private X server: a card pulled out of the open shelf leaves as a drag.
#include "OstrelCore/Display/DisplayLayout.h"
#include "support/NoisePicture.h"
#include "support/TestScreen.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

bool orange(QColor c) {
    return c.red() > 200 && c.green() > 100 && c.green() < 160 && c.blue() < 60;
}

// The card's orange band (the upper half of its picture) in the top `rows` rows of the screen.
std::optional<QRect> findBand(const QImage& screen, int rows) {
    QRect band;
    for (int y = 0; y < std::min(rows, screen.height()); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            if (orange(QColor(screen.pixel(x, y)))) {
                band = band.united(QRect(x, y, 1, 1));
            }
        }
    }
    if (band.width() < 20) {
        return std::nullopt;
    }
    return band;
}

// The hot zone's middle on a screen of `logical` size, in device pixels.
QPoint hotPoint(QSize logical, double scale) {
    const QRectF frame(QPointF(0, 0), QSizeF(logical));
    const auto choice = DisplayStyleChoice::fromRawValue(QStringLiteral("notch")).value();
    const DisplayLayout layout = DisplayLayout::make(
        choice, NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.hotZone(0);
    return QRectF(r.x() * scale, (logical.height() - (r.y() + r.height())) * scale,
                  r.width() * scale, r.height() * scale)
        .toAlignedRect()
        .center();
}

bool desktop(QRgb c) {
    return c == qRgb(255, 255, 255);
}

} // namespace

class DragOutEndToEnd : public testing::TestWithParam<TestScreen> {};

// Without a compositor, at whole and fractional scales: the card travels as itself (cut to its
// rounded shape, no shadow on a white box), and once it is back nothing of the desktop shows
// through the drawer along its edges.
TEST_P(DragOutEndToEnd, ACardPulledOutOfTheShelfIsDraggedAndComesBackAfterTheDrop) {
    const TestScreen screen = GetParam();
    XServer x(screen.options());
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, screen.environment()));
    ASSERT_TRUE(waitUntil(
        [&] { return x.appLog().contains(QStringLiteral("the shortcut is registered")); }, 20))
        << x.appLog().toStdString();
    ASSERT_TRUE(noisePicture(400, 300, 5, true).save(pad + QStringLiteral("/plot.png")));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20));
    // Where the card is carried, a window of another colour than the desktop: what shows of the
    // drag's window outside the card's shape is told from what lies beneath.
    const double s = screen.scale;
    const int rows = int(300 * s);
    const QColor beneath(40, 90, 200);
    x.createWindow(QRect(0, int(330 * s), screen.size.width(), int(400 * s)), beneath);

    x.moveTo(hotPoint((QSizeF(screen.size) / s).toSize(), s));
    ASSERT_TRUE(waitUntil([&] { return findBand(x.capture(), rows).has_value(); }));
    // Where it stands once the drawer's opening has settled.
    const std::optional<QRect> band = findBand(x.steadyCapture(), rows);
    ASSERT_TRUE(band.has_value());
    const QPoint card = band->center();

    QList<quint32> before;
    for (const XServer::Window& w : x.appWindows()) {
        before.append(w.id);
    }
    x.moveTo(card);
    pump(0.3);
    x.press(1);
    pump(0.1);
    const QPoint travel(12, int(430 * s));
    for (int step = 1; step <= 24; ++step) {
        x.moveTo(card + QPoint(step / 2, travel.y() * step / 24));
        pump(0.05);
    }
    // While the drag runs the card on the shelf is dimmed (the shelf stays open), and the lifted
    // card rides under the pointer, held where it was grabbed.
    const QPoint pointer = card + travel;
    EXPECT_TRUE(waitUntil([&] {
        const QImage shot = x.capture();
        const QColor dim(shot.pixel(card));
        return dim.red() > 60 && dim.red() < 140 && dim.green() > 25 && dim.green() < 80 &&
               orange(QColor(shot.pixel(pointer)));
    }));
    // The drag's window: the card and the margin around it, whose corners lie outside the
    // card's rounded shape and show what is beneath.
    std::optional<QRect> lifted;
    for (const XServer::Window& w : x.appWindows()) {
        if (w.viewable && !before.contains(w.id) && w.geometry.contains(pointer)) {
            lifted = w.geometry;
        }
    }
    ASSERT_TRUE(lifted.has_value());
    const QImage shot = x.capture();
    for (const QPoint corner :
         {lifted->topLeft() + QPoint(2, 2), lifted->topRight() + QPoint(-2, 2),
          lifted->bottomLeft() + QPoint(2, -2), lifted->bottomRight() + QPoint(-2, -2)}) {
        EXPECT_EQ(QColor(shot.pixel(corner)), beneath) << corner.x() << "," << corner.y();
    }
    x.saveCapture(QStringLiteral("drag-out-") + QLatin1String(screen.name));
    x.release(1);
    EXPECT_TRUE(waitUntil([&] { return orange(QColor(x.capture().pixel(card))); }));
    // The pointer back over the drawer, beside the card: it stays open.
    x.moveTo(QPoint(card.x() + int(200 * s), band->top()));
    const QImage after = x.steadyCapture();
    x.saveCapture(QStringLiteral("drag-out-after-") + QLatin1String(screen.name));
    // Along the card's right and bottom edges (the band's width; the picture twice its height),
    // the drawer, never the desktop.
    const int bottom = band->top() + 2 * band->height();
    int slit = 0;
    for (int y = band->top(); y < bottom + int(6 * s); ++y) {
        for (int dx = 0; dx < int(6 * s); ++dx) {
            slit += desktop(after.pixel(band->right() + 1 + dx, y)) ? 1 : 0;
        }
    }
    for (int x0 = band->left(); x0 <= band->right(); ++x0) {
        for (int dy = 0; dy < int(6 * s); ++dy) {
            slit += desktop(after.pixel(x0, bottom + dy)) ? 1 : 0;
        }
    }
    EXPECT_EQ(slit, 0);
    EXPECT_EQ(x.stopApp(), 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, DragOutEndToEnd,
                         testing::Values(TestScreen{"1920x1080", {1920, 1080}},
                                         TestScreen{"1920x1080-scale1.25", {1920, 1080}, 1.25},
                                         TestScreen{"1920x1080-scale1.5", {1920, 1080}, 1.5},
                                         TestScreen{"1920x1080-scale1.75", {1920, 1080}, 1.75}),
                         TestScreen::testName);
