// The real binary on a private X server: a picture written into a scratchpad while the shelf is
// closed shows as a card of the rail drawer when hovering opens it, and is seen half a second on.
#include "OstrelCore/Display/DisplayLayout.h"
#include "support/NoisePicture.h"
#include "support/SavedIndex.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

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

// At display scales of 2 and 1.5 a banner's card stays, pixel for pixel, as it stood in the first
// frame it settled in while the drawer's spring comes to rest after each opening: no redraw trades
// its picture for a softer one, nor moves it.
TEST(RailDrawerEndToEnd, ABannersCardStaysAsItFirstSettledAfterEachOpening) {
    // Black rules on white over a band of noise, which makes it count as a picture.
    QImage banner(3000, 500, QImage::Format_RGB32);
    banner.fill(Qt::white);
    {
        QPainter painter(&banner);
        for (int column = 0; column < banner.width(); column += 24) {
            painter.fillRect(QRect(column, 0, 8, 380), Qt::black);
        }
        painter.drawImage(0, 380, noisePicture(3000, 120, 5));
    }
    const QSize logical(1280, 800);
    const QRectF frame(QPointF(0, 0), QSizeF(logical));
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    for (const double scale : {2.0, 1.5}) {
        XServer::Options options;
        options.size = (QSizeF(logical) * scale).toSize();
        XServer x(options);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        const QString pad = x.scratchpad();
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("1"));
        ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env)) << x.appLog().toStdString();
        ASSERT_TRUE(waitUntil([&] { return !x.appWindows().isEmpty(); }, 20));
        ASSERT_TRUE(banner.save(x.home().file(QStringLiteral("banner.png"))));
        ASSERT_TRUE(QFile::rename(x.home().file(QStringLiteral("banner.png")),
                                  pad + QStringLiteral("/banner.png")));
        ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20))
            << x.appLog().toStdString();

        const auto toDevice = [&](const QRectF& r) {
            const QRectF qt(r.x(), logical.height() - (r.y() + r.height()), r.width(), r.height());
            return QRectF(qt.topLeft() * scale, qt.size() * scale).toAlignedRect();
        };
        const QRectF drawer = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
        // The card's rules, clear of its corners, its unread dot and its title.
        const QRect rules =
            toDevice(QRectF(drawer.x() + 207 + 8, drawer.bottom() - (36 + 21 + 16) - 60, 144, 60));
        for (int opening = 0; opening < 2; ++opening) {
            x.moveTo(toDevice(layout.hotZone(0)).center());
            ASSERT_TRUE(waitUntil([&] { return colours(x.capture(), rules) > 1; }, 20))
                << x.appLog().toStdString();
            // Three seconds of frames, the spring's last swings well inside them.
            QList<QImage> frames;
            QList<qint64> taken;
            QElapsedTimer since;
            since.start();
            while (since.elapsed() < 3000) {
                frames << x.capture(rules);
                taken << since.elapsed();
                QThread::msleep(4);
            }
            const QImage settled = x.steadyCapture(rules);
            const auto first = std::find(frames.cbegin(), frames.cend(), settled);
            ASSERT_NE(first, frames.cend()) << scale << " " << opening;
            EXPECT_LT(taken[first - frames.cbegin()], 1500) << scale << " " << opening;
            EXPECT_EQ(std::count(first, frames.cend(), settled), frames.cend() - first)
                << scale << " " << opening;
            int darkest = 255;
            int lightest = 0;
            for (int column = 0; column < settled.width(); ++column) {
                darkest = std::min(darkest, qGray(settled.pixel(column, settled.height() / 2)));
                lightest = std::max(lightest, qGray(settled.pixel(column, settled.height() / 2)));
            }
            EXPECT_GT(lightest - darkest, 200) << scale << " " << opening;
            if (opening == 0) {
                x.saveCapture(QStringLiteral("rail-drawer-banner-%1").arg(scale));
            }
            x.moveTo(QPoint(100, int(700 * scale)));
            ASSERT_TRUE(waitUntil([&] { return colours(x.capture(), rules) <= 1; }, 20));
            pump(0.5);
        }
        EXPECT_EQ(x.stopApp(), 0);
    }
}
