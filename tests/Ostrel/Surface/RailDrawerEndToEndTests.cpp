// The real binary on a private X server: a picture written into a scratchpad while the shelf is
// closed shows as a card of the rail drawer when hovering opens it, and is seen half a second on.
#include "OstrelCore/Display/DisplayLayout.h"
#include "support/NoisePicture.h"
#include "support/SavedIndex.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QRect screen(0, 0, 1920, 1080);

QRect toQt(const QRectF& r) {
    return QRectF(r.x(), screen.height() - (r.y() + r.height()), r.width(), r.height())
        .toAlignedRect();
}

DisplayLayout notchLayout() {
    const QRectF frame(0, 0, screen.width(), screen.height());
    return DisplayLayout::make(DisplayStyleChoice::fromRawValue(QStringLiteral("notch")).value(),
                               NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
}

// How many colours a patch of the capture holds: a picture has many, the bare card one or two.
int colours(const QImage& image, const QRect& patch) {
    QSet<QRgb> seen;
    for (int y = patch.top(); y <= patch.bottom(); ++y) {
        for (int x = patch.left(); x <= patch.right(); ++x) {
            seen.insert(image.pixel(x, y));
        }
    }
    return int(seen.size());
}

} // namespace

TEST(RailDrawerEndToEnd, AScratchpadPictureShowsAsACardAndIsSeenHalfASecondLater) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY))) << x.appLog().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));

    // Written while the shelf is closed: noise, so that it counts as a picture.
    ASSERT_TRUE(noisePicture(400, 300, 11).save(pad + QStringLiteral("/plot.png")));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20))
        << x.appLog().toStdString();

    // The pointer rests on the hot zone: the drawer opens with the session's one card in the
    // first cell of its grid (the session selected, its earlier turn first).
    const DisplayLayout layout = notchLayout();
    x.moveTo(toQt(layout.hotZone(0)).center());
    const QRect drawer = toQt(layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0));
    const QRect cell(drawer.x() + 207 + 30, drawer.y() + 60 + 20, 100, 60);
    ASSERT_TRUE(waitUntil([&] { return colours(x.capture(), cell) > 100; }, 20))
        << x.appLog().toStdString();
    x.saveCapture(QStringLiteral("rail-drawer-card"));
    x.moveTo(drawer.center());

    // Shown a while, the card counts as seen, which the index says a moment later.
    QJsonArray items;
    const auto seen = [&] {
        items = savedIndexItems(x);
        for (const auto& value : items) {
            const QJsonObject item = value.toObject();
            if (item.value(QStringLiteral("title")).toString().contains(QStringLiteral("plot"))) {
                return item.contains(QStringLiteral("seenAt"));
            }
        }
        return false;
    };
    EXPECT_TRUE(waitUntil(seen)) << QJsonDocument(items).toJson().left(2000).toStdString();
    EXPECT_EQ(x.stopApp(), 0);
    EXPECT_TRUE(seen()) << QJsonDocument(items).toJson().left(2000).toStdString();
}
