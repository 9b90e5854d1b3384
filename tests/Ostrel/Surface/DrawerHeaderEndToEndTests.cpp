// The real binary on a private X server, without and with a compositor: the open rail drawer's
// header starts at the rail's inset, a resting pointer shows an opaque tip over a cut title,
// scrolled cards stay below the header band, the header's three menus open readable just below
// their control, and the undo toast leaves the last row's titles clear.
#include "OstrelCore/Display/DisplayLayout.h"
#include "support/NoisePicture.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QRect screen(0, 0, 1920, 1080);

// The rail drawer on a screen of `size` logical pixels, in Qt's coordinates.
QRect drawerRect(QSize size = screen.size()) {
    const QRectF frame(QPointF(0, 0), QSizeF(size));
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::fromRawValue(QStringLiteral("notch")).value(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    return QRectF(r.x(), size.height() - (r.y() + r.height()), r.width(), r.height())
        .toAlignedRect();
}

QPoint hotZone() {
    return QPoint(screen.width() / 2, 2);
}

int count(const QImage& image, const QRect& patch, const std::function<bool(QColor)>& wanted) {
    int n = 0;
    for (int y = patch.top(); y <= patch.bottom(); ++y) {
        for (int x = patch.left(); x <= patch.right(); ++x) {
            n += wanted(image.pixelColor(x, y)) ? 1 : 0;
        }
    }
    return n;
}

// A picture's noise; text, black and greys are not colourful.
bool colourful(QColor c) {
    return std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60;
}

bool light(QColor c) {
    return !colourful(c) && qGray(c.rgb()) > 180;
}

bool dark(QColor c) {
    return qGray(c.rgb()) < 100;
}

// Thirteen pictures in the scratchpad, the one with the long name the newest, so that it takes
// the first cell; returns once the application added them all.
void stagePictures(XServer& x, const QString& pad) {
    const QDateTime base = QDateTime::currentDateTime().addSecs(-600);
    for (int i = 0; i < 13; ++i) {
        const QString name =
            i == 12 ? QStringLiteral("a-rather-long-name-for-the-training-loss-curve.png")
                    : QStringLiteral("chart-%1.png").arg(i);
        const QString staged = x.home().file(name);
        ASSERT_TRUE(noisePicture(200, 150, 7 + i).save(staged));
        QFile file(staged);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(base.addSecs(i), QFileDevice::FileModificationTime);
        file.close();
        ASSERT_TRUE(QFile::rename(staged, pad + QLatin1Char('/') + name));
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added ")) >= 13; }, 20))
        << x.appLog().toStdString();
}

class DrawerHeaderEndToEnd : public testing::TestWithParam<bool> {};

} // namespace

TEST_P(DrawerHeaderEndToEnd, MenusTipsScrollingAndTheToastReadAsTheyShould) {
    XServer::Options options;
    options.compositor = GetParam();
    XServer x(options);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    // Slow enough that the undo toast stays for two seconds.
    QProcessEnvironment env;
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("0.4"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env)) << x.appLog().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));

    ASSERT_NO_FATAL_FAILURE(stagePictures(x, pad));

    const QRect drawer = drawerRect();
    const QRect grid(drawer.x() + 207, drawer.y() + 36, 496, 272);
    const QRect firstCard(grid.x(), grid.y() + 21, 160, 120);
    x.moveTo(hotZone());
    ASSERT_TRUE(waitUntil([&] { return count(x.capture(), firstCard, colourful) > 1000; }, 20))
        << x.appLog().toStdString();

    // The rail's header starts 22 points in, whatever edge the drawer hangs from; looked at once
    // the opening has settled.
    QImage shot = x.steadyCapture();
    int textLeft = -1;
    for (int col = drawer.x(); col < drawer.x() + 60 && textLeft < 0; ++col) {
        if (count(shot, QRect(col, drawer.y() + 6, 1, 20), light) > 0) {
            textLeft = col - drawer.x();
        }
    }
    EXPECT_NEAR(textLeft, 22, 1);

    // Resting on the cut title shows the whole of it in an opaque tip laid over the label.
    x.moveTo(QPoint(firstCard.x() + 40, firstCard.bottom() - 14));
    pump(0.1);
    x.moveTo(QPoint(firstCard.x() + 42, firstCard.bottom() - 14));
    const QRect overLabel(firstCard.x() + 8, firstCard.bottom() - 40, 140, 36);
    const auto tipBackground = [](QColor c) { return c == QColor(28, 28, 31); };
    EXPECT_TRUE(waitUntil([&] { return count(x.capture(), overLabel, tipBackground) > 1000; }));
    x.saveCapture(GetParam() ? QStringLiteral("drawer-tip-composited")
                             : QStringLiteral("drawer-tip"));

    // Wheel-scrolled to the end, the cards pass under the header band and none shows in it.
    x.moveTo(grid.center());
    for (int i = 0; i < 30; ++i) {
        x.click(5);
    }
    const QRect band(grid.x(), drawer.y() + 1, 420, 32);
    shot = x.steadyCapture();
    EXPECT_EQ(count(shot, band, colourful), 0);
    EXPECT_GT(count(shot, grid, colourful), 10000);

    // Each menu opens just below its control, light with dark text; a press on the header leaves
    // the cards it covers alone.
    const QImage scrolled = shot.copy(grid);
    for (const int controlLeft : {22, 644, 680}) {
        const QPoint press(drawer.x() + controlLeft + 12, drawer.y() + 16);
        x.moveTo(press);
        pump(0.2);
        // Where the menu will drop, below the button and its hover ring, as it is without it.
        const QRect under(press.x() - 8, drawer.y() + 32, 90, 60);
        const QImage bare = x.capture(under);
        // A hand's click: the menu is up before the button comes back.
        x.press(1);
        pump(0.1);
        x.release(1);
        // The menu's top edge, looked for once the menu has come and stands still.
        const auto menuTop = [&] {
            for (int y = drawer.y() + 20; y < drawer.y() + 60; ++y) {
                if (light(shot.pixelColor(press.x() + 10, y))) {
                    return y - drawer.y();
                }
            }
            return -1;
        };
        ASSERT_TRUE(waitUntil([&] {
            shot = x.capture();
            return menuTop() >= 0;
        })) << controlLeft;
        shot = x.steadyCapture();
        const int top = menuTop();
        x.saveCapture(QStringLiteral("drawer-menu-%1%2")
                          .arg(controlLeft)
                          .arg(GetParam() ? QStringLiteral("-composited") : QString()));
        EXPECT_GE(top, 30) << controlLeft;
        EXPECT_LE(top, 36) << controlLeft;
        const QRect inside(press.x() - 8, drawer.y() + top + 4, 90, 40);
        EXPECT_GT(count(shot, inside, light), inside.width() * inside.height() / 2) << controlLeft;
        EXPECT_GT(count(shot, inside, dark), 10) << controlLeft;
        x.key(QStringLiteral("Escape"));
        // Gone from the screen, the menu has let go of the pointer, which the next press needs.
        EXPECT_TRUE(waitUntil([&] { return x.capture(under) == bare; })) << controlLeft;
        EXPECT_TRUE(waitUntil([&] { return x.capture(grid) == scrolled; })) << controlLeft;
    }

    // Hiding a card from its context menu brings the toast; the last row's titles stay clear of
    // it.
    x.moveTo(QPoint(grid.x() + 80, grid.y() + 80));
    pump(0.1);
    x.click(3);
    pump(0.5);
    for (int i = 0; i < 6; ++i) {
        x.key(QStringLiteral("Down")); // to "Hide from Shelf"
    }
    x.key(QStringLiteral("Return"));
    const auto toastFill = [](QColor c) { return c == QColor(38, 38, 38); };
    const QRect below(drawer.x(), drawer.bottom(), drawer.width(), 40);
    ASSERT_TRUE(waitUntil([&] {
        shot = x.capture();
        return count(shot, below, toastFill) > 1000;
    })) << x.appLog().toStdString();
    shot.save(QCoreApplication::applicationDirPath() + QStringLiteral("/captures/drawer-toast") +
              (GetParam() ? QStringLiteral("-composited.png") : QStringLiteral(".png")));
    const QRect lastTitles(grid.x(), grid.bottom() - 26, grid.width(), 24);
    // A stray pixel of a title's shade over a grey picture may match the toast's grey; the toast
    // itself would cover hundreds.
    EXPECT_LT(count(shot, lastTitles, toastFill), 10);
    EXPECT_GT(count(shot, lastTitles, light), 30);
    EXPECT_EQ(x.stopApp(), 0);
}

// At a display scale the pointer, the panel's input shape and the screen are in device pixels
// and the drawer in logical ones. Both screens are 1280 x 800 logical pixels, so the drawer lies
// alike: a resting pointer shows the tip over a cut title, the "…" menu opens below its button, a
// click selects a card and Space previews it beside the drawer.
namespace {

struct Scale {
    double factor;
    QSize screen;
};

class DrawerScaledEndToEnd : public testing::TestWithParam<Scale> {};

} // namespace

TEST_P(DrawerScaledEndToEnd, TipsMenusClicksAndThePreviewFollowTheScaledPointer) {
    const Scale scale = GetParam();
    XServer::Options options;
    options.size = scale.screen;
    XServer x(options);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    QProcessEnvironment env;
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale.factor));
    // Tips wait their full half second: a pointer at rest mistaken for moving never rests that
    // long.
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("1"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env)) << x.appLog().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));
    ASSERT_NO_FATAL_FAILURE(stagePictures(x, pad));

    const auto device = [&](const QRectF& r) {
        return QRectF(r.topLeft() * scale.factor, r.size() * scale.factor).toAlignedRect();
    };
    const auto devicePoint = [&](const QPointF& p) { return (p * scale.factor).toPoint(); };
    const QRect logical = drawerRect(QSize(1280, 800));
    const QRect drawer = device(logical);
    const QRectF grid(logical.x() + 207, logical.y() + 36, 496, 272);
    const QRectF firstCard(grid.x(), grid.y() + 21, 160, 120);
    x.moveTo(QPoint(scale.screen.width() / 2, 2));
    ASSERT_TRUE(
        waitUntil([&] { return count(x.capture(), device(firstCard), colourful) > 1000; }, 20))
        << x.appLog().toStdString();
    pump(0.5);

    const QString name = QStringLiteral("drawer-scaled-%1").arg(scale.factor);
    x.moveTo(devicePoint(QPointF(firstCard.x() + 40, firstCard.bottom() - 14)));
    pump(0.1);
    x.moveTo(devicePoint(QPointF(firstCard.x() + 42, firstCard.bottom() - 14)));
    const QRect overLabel = device(QRectF(firstCard.x() + 8, firstCard.bottom() - 40, 140, 36));
    const auto tipBackground = [](QColor c) { return c == QColor(28, 28, 31); };
    EXPECT_TRUE(waitUntil([&] { return count(x.capture(), overLabel, tipBackground) > 1000; }))
        << x.appLog().toStdString();
    x.saveCapture(name + QStringLiteral("-tip"));

    const QPoint button = devicePoint(QPointF(logical.x() + 680 + 14, logical.y() + 16));
    x.moveTo(button);
    pump(0.2);
    // Where the menu will drop, below the button and its hover ring, as it is without it.
    const QRect under(button.x() + 20, drawer.y() + int(32 * scale.factor), 1, 100);
    const QImage bare = x.capture(under);
    x.press(1);
    pump(0.1);
    x.release(1);
    // The menu's top edge, looked for once the menu has come and stands still.
    QImage shot;
    const auto menuTop = [&] {
        for (int y = drawer.y() + 20; y < drawer.y() + 120; ++y) {
            if (light(shot.pixelColor(button.x() + 20, y))) {
                return y - drawer.y();
            }
        }
        return -1;
    };
    ASSERT_TRUE(waitUntil([&] {
        shot = x.capture();
        return menuTop() >= 0;
    }));
    shot = x.steadyCapture();
    x.saveCapture(name + QStringLiteral("-menu"));
    const int top = menuTop();
    EXPECT_NEAR(top, 34 * scale.factor, 4);
    x.key(QStringLiteral("Escape"));
    // Gone from the screen, the menu has let go of the pointer, which the click below needs.
    EXPECT_TRUE(waitUntil([&] { return x.capture(under) == bare; }));

    // A click selects the card under it (the second), and Space previews that one beside the
    // drawer.
    x.moveTo(devicePoint(firstCard.center() + QPointF(firstCard.width() + 22, 0)));
    pump(0.2);
    x.click(1);
    pump(0.3);
    x.key(QStringLiteral("space"));
    ASSERT_TRUE(waitUntil([&] { return x.shownWindows().size() == 1; }, 10))
        << x.appLog().toStdString();
    const XServer::Window preview = x.shownWindows().first();
    EXPECT_TRUE(
        x.xprop({QStringLiteral("-id"), QString::number(preview.id), QStringLiteral("WM_NAME")})
            .contains(QStringLiteral("chart-11.png")));
    EXPECT_TRUE(QRect(QPoint(0, 0), scale.screen).contains(preview.geometry));
    EXPECT_FALSE(preview.geometry.intersects(drawer));
    pump(0.5);
    x.saveCapture(name + QStringLiteral("-preview"));
    EXPECT_EQ(x.stopApp(), 0);
}

INSTANTIATE_TEST_SUITE_P(Scales, DrawerScaledEndToEnd,
                         testing::Values(Scale{2, QSize(2560, 1600)},
                                         Scale{1.5, QSize(1920, 1200)}),
                         [](const testing::TestParamInfo<Scale>& info) {
                             return info.param.factor == 2 ? "Twice" : "OneAndAHalf";
                         });

INSTANTIATE_TEST_SUITE_P(Compositor, DrawerHeaderEndToEnd, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Composited" : "Plain";
                         });
