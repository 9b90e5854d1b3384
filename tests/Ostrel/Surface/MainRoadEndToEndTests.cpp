// The main road with the real application on a private X server: a picture that Claude Code
// writes into its scratchpad lights the closed shelf, the pointer resting on the shelf opens the
// drawer with the picture's card, and the item is marked seen and stays so after a restart.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"
#include "OstrelCore/Records/Preferences.h"
#include "support/SavedIndex.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QRect screen(0, 0, 1920, 1080);
const QColor picture(20, 200, 40);

DisplayLayout layoutFor(const QString& style) {
    const QRectF frame(0, 0, screen.width(), screen.height());
    return DisplayLayout::make(DisplayStyleChoice::fromRawValue(style).value(),
                               NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
}

// A screen rectangle (y up) in X coordinates (y down).
QRect toX(const QRectF& r) {
    return QRectF(r.x(), screen.height() - (r.y() + r.height()), r.width(), r.height())
        .toAlignedRect();
}

bool accent(const QColor& c) {
    return c.red() > c.green() + 40 && c.red() > c.blue() + 30;
}

// Any pixel of `area` (X coordinates) close to `color`.
bool shows(const QImage& image, const QRect& area, const QColor& color) {
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); y += 2) {
        for (int x = r.left(); x <= r.right(); x += 2) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - color.red()) < 24 && std::abs(c.green() - color.green()) < 24 &&
                std::abs(c.blue() - color.blue()) < 24) {
                return true;
            }
        }
    }
    return false;
}

bool anyAccent(const QImage& image, const QRect& area) {
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (accent(image.pixelColor(x, y))) {
                return true;
            }
        }
    }
    return false;
}

// The items of the saved index with whether each carries a seen time.
std::map<QString, bool> savedItems(const XServer& x) {
    std::map<QString, bool> items;
    for (const auto& value : savedIndexItems(x)) {
        const QJsonObject item = value.toObject();
        items[item.value(QStringLiteral("id")).toString()] =
            item.contains(QStringLiteral("seenAt"));
    }
    return items;
}

void writePicture(const XServer& x) {
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(picture);
    const QString folder =
        QStringLiteral("scratch/-home-me-project/0b9d2c4e-58a4-4c2e-9d0e-3f1b6e7a2c11/scratchpad");
    x.home().write(folder + QStringLiteral("/.keep"), QByteArray());
    ASSERT_TRUE(image.save(x.home().file(folder + QStringLiteral("/chart.png"))));
}

void mainRoad(const QString& style, LayoutChoice choice = LayoutChoice::rail) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                   QJsonDocument(QJsonObject{{QStringLiteral("displayStyle"), style},
                                             {QStringLiteral("layout"), rawValue(choice)}})
                       .toJson());
    const DisplayLayout layout = layoutFor(style);
    const QString name = style + (choice == LayoutChoice::stacks ? "-stacks" : "");
    const QRect rest = toX(layout.restRect(0));
    const QRect drawer = toX(
        layout.drawerRect(layout.drawerSize(resolveShelfLayoutKind(layout.style(), choice)), 0));
    const QRect around = rest.adjusted(-20, -20, 20, 20);

    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    x.moveTo(QPoint(960, 700));
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));
    pump(0.5);
    EXPECT_FALSE(anyAccent(x.capture(), around)) << "lit before anything arrived";

    writePicture(x);
    // Lit: the hover notch's line or the pill's line (and its peek card) in the accent colour.
    ASSERT_TRUE(waitUntil([&] { return anyAccent(x.capture(), around); }, 20))
        << x.saveCapture(name + QStringLiteral("-not-lit")).toStdString();
    x.saveCapture(name + QStringLiteral("-lit"));

    // The pointer rests in the hot zone: the drawer opens with the picture's card.
    x.moveTo(toX(layout.hotZone(0)).center());
    ASSERT_TRUE(waitUntil([&] { return shows(x.capture(), drawer, picture); }, 20))
        << x.saveCapture(name + QStringLiteral("-no-card")).toStdString();
    x.saveCapture(name + QStringLiteral("-open"));

    // Shown for half a second, the item counts as seen, which the index says a moment later;
    // it keeps that over a restart.
    EXPECT_TRUE(waitUntil([&] {
        const auto items = savedItems(x);
        return items.size() == 1 && items.begin()->second;
    })) << x.appLog().toStdString();
    x.moveTo(QPoint(960, 700));
    ASSERT_EQ(x.stopApp(), 0);
    const auto items = savedItems(x);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items.begin()->second);

    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));
    pump(1.0);
    EXPECT_FALSE(anyAccent(x.capture(), around)) << "still lit after a restart";
    EXPECT_EQ(x.stopApp(), 0);
}

} // namespace

TEST(MainRoad, NotchStyle) {
    mainRoad(QStringLiteral("notch"));
}

TEST(MainRoad, LeftPill) {
    mainRoad(QStringLiteral("pill-left"));
}

TEST(MainRoad, NotchWithTurnStacks) {
    mainRoad(QStringLiteral("notch"), LayoutChoice::stacks);
}
