// The real binary on a private X server: Space previews the selected card beside the open shelf.
#include "support/NoisePicture.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// The application's shown windows other than its shelf panels.
QList<XServer::Window> shownWindows(XServer& x) {
    QList<XServer::Window> shown;
    for (const XServer::Window& w : x.appWindows()) {
        if (w.viewable && !w.overrideRedirect) {
            shown.append(w);
        }
    }
    return shown;
}

} // namespace

TEST(PreviewEndToEnd, SpaceShowsTheSelectedItemAndSpaceAgainClosesIt) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString pad = x.scratchpad();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(waitUntil(
        [&] { return x.appLog().contains(QStringLiteral("the shortcut is registered")); }, 20))
        << x.appLog().toStdString();

    // Noise, so that the file is large enough to count as a picture, under an orange band.
    ASSERT_TRUE(noisePicture(400, 300, 11, true).save(pad + QStringLiteral("/plot.png")));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20))
        << x.appLog().toStdString();

    x.moveTo(QPoint(960, 900));
    x.xdotool({QStringLiteral("key"), QStringLiteral("alt+space")});
    pump(1.0);
    x.xdotool({QStringLiteral("key"), QStringLiteral("Right")});
    pump(0.3);
    EXPECT_TRUE(shownWindows(x).isEmpty());
    x.xdotool({QStringLiteral("key"), QStringLiteral("space")});
    ASSERT_TRUE(waitUntil([&] { return shownWindows(x).size() == 1; }, 10))
        << x.appLog().toStdString();
    const XServer::Window preview = shownWindows(x).first();
    // Centred across the screen, below the open drawer (rail, 720 x 320 at the top), which it
    // leaves in view.
    EXPECT_NEAR(preview.geometry.center().x(), 960, 2);
    EXPECT_GE(preview.geometry.top(), 320);
    EXPECT_LE(preview.geometry.bottom(), 1079);
    EXPECT_TRUE(waitUntil(
        [&] {
            const QColor c(x.capture().pixel(QPoint(744, 256)));
            return c.red() < 60 && c.green() < 60 && c.blue() < 60;
        },
        10));
    // The picture shows: the orange band in the preview's upper half.
    ASSERT_TRUE(waitUntil(
        [&] {
            const QColor c(x.capture().pixel(preview.geometry.center() - QPoint(0, 60)));
            return c.red() > 200 && c.green() > 100 && c.green() < 160 && c.blue() < 60;
        },
        10));
    x.saveCapture(QStringLiteral("preview-end-to-end"));

    // The shelf keeps the keys: Space again closes the preview.
    x.xdotool({QStringLiteral("key"), QStringLiteral("space")});
    EXPECT_TRUE(waitUntil([&] { return shownWindows(x).isEmpty(); }, 10));
    EXPECT_EQ(x.stopApp(), 0);
}
