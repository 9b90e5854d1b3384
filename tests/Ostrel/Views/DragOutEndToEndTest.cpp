// The real binary on a private X server: a card pulled out of the open shelf leaves as a drag.
#include "OstrelCore/Display/DisplayLayout.h"
#include "support/NoisePicture.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <optional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

bool orange(QColor c) {
    return c.red() > 200 && c.green() > 100 && c.green() < 160 && c.blue() < 60;
}

// The middle of the card's orange band in the top 300 rows of the screen.
std::optional<QPoint> findCard(const QImage& screen) {
    QRect band;
    for (int y = 0; y < 300; y += 2) {
        for (int x = 0; x < screen.width(); x += 2) {
            if (orange(QColor(screen.pixel(x, y)))) {
                band = band.united(QRect(x, y, 1, 1));
            }
        }
    }
    if (band.width() < 20) {
        return std::nullopt;
    }
    return band.center();
}

QPoint hotPoint() {
    const QRectF frame(0, 0, 1920, 1080);
    const auto choice = DisplayStyleChoice::fromRawValue(QStringLiteral("notch")).value();
    const DisplayLayout layout = DisplayLayout::make(
        choice, NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.hotZone(0);
    return QRectF(r.x(), 1080 - (r.y() + r.height()), r.width(), r.height())
        .toAlignedRect()
        .center();
}

} // namespace

TEST(DragOutEndToEnd, ACardPulledOutOfTheShelfIsDraggedAndComesBackAfterTheDrop) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(waitUntil(
        [&] { return x.appLog().contains(QStringLiteral("the shortcut is registered")); }, 20))
        << x.appLog().toStdString();
    ASSERT_TRUE(noisePicture(400, 300, 5, true).save(pad + QStringLiteral("/plot.png")));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20));

    x.moveTo(hotPoint());
    std::optional<QPoint> card;
    ASSERT_TRUE(waitUntil([&] { return findCard(x.capture()).has_value(); }));
    // Where it stands once the drawer's opening has settled.
    card = findCard(x.steadyCapture());
    ASSERT_TRUE(card.has_value());

    x.moveTo(*card);
    pump(0.3);
    x.press(1);
    pump(0.1);
    for (int step = 1; step <= 12; ++step) {
        x.moveTo(*card + QPoint(step, step * 25));
        pump(0.05);
    }
    // While the drag runs the card on the shelf is dimmed (the shelf stays open), and the lifted
    // card rides under the pointer, held where it was grabbed.
    const QPoint pointer = *card + QPoint(12, 300);
    EXPECT_TRUE(waitUntil([&] {
        const QImage screen = x.capture();
        const QColor dim(screen.pixel(*card));
        return dim.red() > 60 && dim.red() < 140 && dim.green() > 25 && dim.green() < 80 &&
               orange(QColor(screen.pixel(pointer)));
    }));
    x.saveCapture(QStringLiteral("drag-out-end-to-end"));
    x.release(1);
    EXPECT_TRUE(waitUntil([&] { return orange(QColor(x.capture().pixel(*card))); }));
    EXPECT_EQ(x.stopApp(), 0);
}
