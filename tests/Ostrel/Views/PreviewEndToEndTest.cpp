// The real binary on a private X server: Space previews the selected card beside the open shelf.
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
    const QString scratch = x.home().file(QStringLiteral("scratch"));
    const QString pad = scratch + QStringLiteral("/-work-demo/abc-123/scratchpad");
    QDir().mkpath(pad);
    QFile::setPermissions(scratch,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(waitUntil(
        [&] { return x.appLog().contains(QStringLiteral("the shortcut is registered")); }, 20))
        << x.appLog().toStdString();

    // Noise, so that the file is large enough to count as a picture, under an orange band.
    QImage picture(400, 300, QImage::Format_RGB32);
    quint32 seed = 11;
    for (int row = 0; row < picture.height(); ++row) {
        for (int col = 0; col < picture.width(); ++col) {
            seed = seed * 1664525u + 1013904223u;
            picture.setPixel(col, row, row < 150 ? qRgb(240, 130, 20) : (seed >> 8));
        }
    }
    ASSERT_TRUE(picture.save(pad + QStringLiteral("/plot.png")));
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
    // Centred on the screen.
    EXPECT_NEAR(preview.geometry.center().x(), 960, 2);
    EXPECT_NEAR(preview.geometry.center().y(), 540, 2);
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
