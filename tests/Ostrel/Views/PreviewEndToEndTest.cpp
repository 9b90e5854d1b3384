// The real binary on a private X server: Space previews the selected card beside the open shelf.
#include "Ostrel/Views/PreviewPlacement.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"
#include "support/ClientWindows.h"
#include "support/HostilePictures.h"
#include "support/NoisePicture.h"
#include "support/TestScreen.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

bool orange(QRgb c) {
    return qRed(c) > 200 && qGreen(c) > 100 && qGreen(c) < 160 && qBlue(c) < 60;
}

// Whether the picture's orange band shows anywhere in `shot`, looked for at every fourth pixel.
// A shelf may take the keys before it holds the item: a test selects the card once it shows.
bool showsOrange(const QImage& shot) {
    for (int row = 0; row < shot.height(); row += 4) {
        for (int column = 0; column < shot.width(); column += 4) {
            if (orange(shot.pixel(column, row))) {
                return true;
            }
        }
    }
    return false;
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
    // The open shelf takes the keys.
    ASSERT_TRUE(waitUntil([&] { return x.panelHasFocus(); })) << x.appLog().toStdString();
    ASSERT_TRUE(waitUntil([&] { return showsOrange(x.capture(QRect(600, 0, 720, 320))); }));
    x.xdotool({QStringLiteral("key"), QStringLiteral("Right")});
    pump(0.3);
    EXPECT_TRUE(x.shownWindows().isEmpty());
    x.xdotool({QStringLiteral("key"), QStringLiteral("space")});
    ASSERT_TRUE(waitUntil([&] { return x.shownWindows().size() == 1; }, 10))
        << x.appLog().toStdString();
    const XServer::Window preview = x.shownWindows().first();
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
        [&] { return orange(x.capture().pixel(preview.geometry.center() - QPoint(0, 60))); }, 10));
    x.saveCapture(QStringLiteral("preview-end-to-end"));

    // The shelf keeps the keys: Space again closes the preview.
    x.xdotool({QStringLiteral("key"), QStringLiteral("space")});
    EXPECT_TRUE(waitUntil([&] { return x.shownWindows().isEmpty(); }, 10));
    EXPECT_EQ(x.stopApp(), 0);
}

namespace {

// The bounding box of the orange bands in `area`: the rows and columns with a run of orange
// pixels (the noise below a band has a stray one here and there).
QRect orangeBox(const QImage& shot, const QRect& area) {
    const QRect r = area.intersected(shot.rect());
    QList<int> rows(r.height()), columns(r.width());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (orange(shot.pixel(x, y))) {
                ++rows[y - r.top()];
                ++columns[x - r.left()];
            }
        }
    }
    const auto span = [](const QList<int>& counts) {
        const auto run = [](int n) { return n > 20; };
        const auto first = std::find_if(counts.begin(), counts.end(), run);
        const auto last = std::find_if(counts.rbegin(), counts.rend(), run);
        return first == counts.end()
                   ? std::pair(0, -1)
                   : std::pair(int(first - counts.begin()), int(counts.rend() - last) - 1);
    };
    const auto [top, bottom] = span(rows);
    const auto [left, right] = span(columns);
    return QRect(QPoint(r.left() + left, r.top() + top),
                 QPoint(r.left() + right, r.top() + bottom));
}

// The open notch drawer on a screen of `logical` size, in device pixels.
QRect notchDrawer(QSize logical, int scale) {
    const QRectF frame(QPointF(0, 0), QSizeF(logical));
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF d = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    return QRectF(d.x() * scale, (logical.height() - d.bottom()) * scale, d.width() * scale,
                  d.height() * scale)
        .toAlignedRect();
}

// The open drawer of the bottom pill on a screen of `logical` size less `panels`, in device pixels.
QRect bottomPillDrawer(QSize logical, const QMargins& panels, int scale) {
    const QRectF frame(QPointF(0, 0), QSizeF(logical));
    const QRect v = QRect(QPoint(0, 0), logical).marginsRemoved(panels / scale);
    const QRectF visible(v.x(), logical.height() - v.y() - v.height(), v.width(), v.height());
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::fromRawValue(QStringLiteral("pill-bottom")).value(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), visible);
    const QRectF d = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    return QRectF(d.x() * scale, (logical.height() - d.bottom()) * scale, d.width() * scale,
                  d.height() * scale)
        .toAlignedRect();
}

void writePictures(XServer& x) {
    const QString pad = x.scratchpad();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            noisePicture(400, 300, 11 + i, true).save(pad + QStringLiteral("/plot%1.png").arg(i)));
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added")) >= 3; }, 20))
        << x.appLog().toStdString();
}

// The drawer opens under the pointer resting on the notch (or at `rest`) and takes the keys once
// the pointer is over it; then the first card is selected.
void openDrawerAndSelect(XServer& x, const QRect& drawer, std::optional<QPoint> rest = {}) {
    x.moveTo(rest.value_or(QPoint(drawer.center().x(), 2)));
    ASSERT_TRUE(waitUntil(
        [&] {
            const QColor c(x.capture().pixel(drawer.x() + drawer.width() / 5, drawer.bottom() - 8));
            return c.red() < 30 && c.green() < 30 && c.blue() < 30;
        },
        20))
        << x.appLog().toStdString();
    // Over the drawer, the panel takes the keys.
    x.moveTo(drawer.center());
    ASSERT_TRUE(waitUntil([&] { return x.panelHasFocus(); })) << x.appLog().toStdString();
    x.key(QStringLiteral("Right"));
    pump(0.3);
}

} // namespace

class PreviewPlacedEndToEnd : public testing::TestWithParam<TestScreen> {};

// The preview keeps clear of the drawer where the screen has room for its smallest size and stands
// above it where it has not; the card's picture moves alone and lands where the window then
// shows it.
TEST_P(PreviewPlacedEndToEnd, OpensClearOfOrAboveTheDrawerAndItsPictureLandsInPlace) {
    const TestScreen screen = GetParam();
    XServer x(screen.options());
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.reservePanels(screen.panels);
    if (screen.bottomPill) {
        x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                       R"({"displayStyle": "pill-bottom"})");
    }
    QProcessEnvironment env = screen.environment();
    // Slow enough to watch the picture on its way.
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("2"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    writePictures(x);
    const int s = int(screen.scale);
    const QRect drawer = screen.bottomPill ? bottomPillDrawer(screen.size / s, screen.panels, s)
                                           : notchDrawer(screen.size / s, s);
    openDrawerAndSelect(x, drawer,
                        screen.bottomPill
                            ? std::optional(QPoint(drawer.center().x(), screen.size.height() - 2))
                            : std::nullopt);
    // Each card's picture comes in once it is decoded, after the drawer has opened: the cards
    // are measured once they are there and the screen has stood still.
    ASSERT_TRUE(waitUntil([&] { return !orangeBox(x.capture(), drawer).isEmpty(); }));
    const QImage settled = x.steadyCapture();
    ASSERT_FALSE(settled.isNull());
    const QRect cards = orangeBox(settled, drawer);
    // The selected card, the first: its picture's orange band.
    const QRect selected =
        orangeBox(settled, QRect(cards.topLeft(), QSize(160 * s, drawer.bottom() - cards.top())));
    QList<quint32> before;
    for (const XServer::Window& w : x.appWindows()) {
        before.append(w.id);
    }

    x.watchGeometries();
    x.key(QStringLiteral("space"));
    quint32 client = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            client = x.xdotool({QStringLiteral("search"), QStringLiteral("--name"),
                                QStringLiteral("^plot2.png$")})
                         .trimmed()
                         .toUInt();
            return client != 0;
        },
        10));
    // Until the picture lands the window stays off screen; then nothing moves but the window.
    QList<QPair<bool, std::optional<QRect>>> samples;
    quint32 picture = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            // The window first: whatever the picture did before it mapped has reached the server.
            const bool shown = x.window(client) && x.window(client)->viewable;
            std::optional<QRect> zoom;
            for (const XServer::Window& w : x.appWindows()) {
                if (w.overrideRedirect && w.viewable && !before.contains(w.id)) {
                    zoom = w.geometry;
                    picture = w.id;
                }
            }
            samples.append({shown, zoom});
            return shown && !zoom;
        },
        10));
    // Where the picture last stood, from the server's own account: the looks above may all
    // have come before its last step.
    const QList<QRect> steps = x.geometries(picture);
    const QRect landed = steps.isEmpty() ? QRect() : steps.last();
    EXPECT_EQ(
        std::count_if(samples.begin(), samples.end(),
                      [&](const auto& s) { return s.first && s.second && *s.second != landed; }),
        0);
    pump(0.3);
    const QImage shot = x.capture();
    x.saveCapture(QStringLiteral("preview-placed-") + QLatin1String(screen.name));
    const QRect band = orangeBox(shot, x.window(client)->geometry);
    ASSERT_TRUE(landed.isValid());
    EXPECT_NEAR(band.x(), landed.x(), 2);
    EXPECT_NEAR(band.y(), landed.y(), 2);
    EXPECT_NEAR(band.width(), landed.width(), 2);
    EXPECT_NEAR(band.height() * 2, landed.height(), 4);

    const QRect frame = outerFrame(x, client);
    const int gap = PreviewPlacement::gap * s;
    if (!screen.bottomPill) {
        // Smaller where it must be, but clear of the drawer.
        EXPECT_FALSE(frame.intersects(drawer.adjusted(-gap, -gap, gap, gap)))
            << frame.y() << " " << drawer.bottom();
    } else {
        // No room beside the drawer even for the smallest preview: over it, above it, and off
        // its header band and the selected card.
        const QRect covered = frame.intersected(drawer);
        ASSERT_FALSE(covered.isEmpty());
        EXPECT_FALSE(frame.intersects(selected));
        const QRect hover = drawer.adjusted(-10 * s, -10 * s, 10 * s, 10 * s);
        EXPECT_FALSE(frame.intersects(
            QRect(hover.topLeft(), QSize(hover.width(), PreviewPlacement::headerDepth * s))));
        const QColor c(shot.pixel(covered.left() + 8, covered.center().y()));
        EXPECT_EQ(c, QColor(38, 38, 40)) << c.name().toStdString();
    }
    EXPECT_TRUE(QRect(QPoint(0, 0), screen.size).marginsRemoved(screen.panels).contains(frame));
    EXPECT_EQ(x.stopApp(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, PreviewPlacedEndToEnd,
    testing::Values(TestScreen{"1280x800", {1280, 800}},
                    TestScreen{"2560x1600-scale2-openbox", {2560, 1600}, 2, {}, true},
                    TestScreen{"1024x600-openbox-xcompmgr", {1024, 600}, 1, {}, true, true},
                    // A 1920 x 1080 laptop at twice the scale, a bar at the top, the bottom pill.
                    TestScreen{"1920x1080-scale2-bar-bottom-pill",
                               {1920, 1080},
                               2,
                               QMargins(0, 64, 0, 0),
                               false,
                               false,
                               true},
                    TestScreen{"1920x1080-scale2-bar-bottom-pill-openbox",
                               {1920, 1080},
                               2,
                               QMargins(0, 64, 0, 0),
                               true,
                               false,
                               true}),
    TestScreen::testName);

// A display unplugged while the picture is on its way to it: nothing of the preview is left
// where no screen shows it, and the application goes on.
TEST(PreviewEndToEnd, ADisplayUnpluggedWhileThePictureMovesLeavesNothingOffScreen) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    QProcessEnvironment env;
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("4"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    writePictures(x);
    openDrawerAndSelect(x, notchDrawer({1920, 1080}, 1).translated(1920, 0));
    x.key(QStringLiteral("space"));
    pump(0.5);
    ASSERT_TRUE(x.removeMonitor(QStringLiteral("RIGHT")));
    const QRect left(0, 0, 1920, 1080);
    const auto allOnLeft = [&] {
        const QList<XServer::Window> windows = x.appWindows();
        return std::all_of(windows.begin(), windows.end(), [&](const XServer::Window& w) {
            return !w.viewable || left.contains(w.geometry);
        });
    };
    // The unplugged display's shelf goes; then nothing shows off screen while what the moving
    // picture set off plays out.
    EXPECT_TRUE(waitUntil(allOnLeft, 10));
    for (QDeadlineTimer until(2500); !until.hasExpired(); pump(0.02)) {
        ASSERT_TRUE(allOnLeft());
    }
    EXPECT_EQ(x.app()->state(), QProcess::Running);
    EXPECT_EQ(x.stopApp(), 0);
}

// What the preview shows, on the real application: a drawing saved as "diagram.png" that names a
// private picture and paints beyond its viewport, a web page and a long log, one after another
// while the arrow keys walk the shelf.
TEST(PreviewEndToEnd, ADrawingAWebPageAndALongLogShowAsTheyAre) {
    XServer::Options o;
    o.size = QSize(1280, 800);
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    // Logs are files of no kind of their own, shown once the user names their extension.
    x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                   R"({"fileTypes": ["image", "html", "file"], "extraExtensions": ["log"]})");
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    const QString pad = x.scratchpad();
    const QString secret =
        HostilePictures::writePrivatePicture(x.home().file("private.png"), Qt::red);
    const QByteArray skewed =
        "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
        "viewBox='0 0 100 50'><desc>" +
        QByteArray(300, '-') +
        "</desc><rect width='100' "
        "height='50' fill='#00c000'/><polygon points='10,10 60,10 300,200 -200,200' "
        "fill='#ff8000' transform='skewX(30)'/><image xlink:href='" +
        secret.toUtf8() + "' x='60' y='5' width='30' height='30'/></svg>";
    QByteArray page = "<html><head><title>Report</title></head><body>";
    QByteArray log;
    for (int i = 0; i < 400; ++i) {
        page += "<p>row " + QByteArray::number(i) + "</p>";
        log += "step " + QByteArray::number(i) + " of the build finished\n";
    }
    for (const auto& [name, bytes] :
         {std::pair{"diagram.png", skewed}, std::pair{"report.html", page + "</body></html>"},
          std::pair{"build.log", log}}) {
        QFile file(pad + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added")) >= 3; }, 20))
        << x.appLog().toStdString();
    openDrawerAndSelect(x, notchDrawer({1280, 800}, 1));
    x.key(QStringLiteral("space"));

    QSet<QString> seen;
    for (int step = 0; step < 3; ++step) {
        quint32 client = 0;
        QString title;
        ASSERT_TRUE(waitUntil(
            [&] {
                for (const char* name : {"diagram.png", "report.html", "build.log"}) {
                    client = x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"),
                                        QStringLiteral("^%1$").arg(QLatin1String(name))})
                                 .trimmed()
                                 .toUInt();
                    if (client != 0 && !seen.contains(QLatin1String(name))) {
                        title = QLatin1String(name);
                        return true;
                    }
                }
                return false;
            },
            10))
            << x.appLog().toStdString();
        seen.insert(title);
        // Once the picture has landed and what the window shows stands still.
        x.steadyCapture();
        const QRect frame = x.window(client)->geometry;
        const QImage window = x.capture(frame);
        x.saveCapture(QStringLiteral("preview-of-") + title);
        const QColor ground(38, 38, 40);
        if (title == QLatin1String("diagram.png")) {
            EXPECT_EQ(HostilePictures::pixelsNear(window, Qt::red), 0);
            EXPECT_GT(HostilePictures::pixelsNear(window, QColor(0, 192, 0)), 1000);
            // The drawing's viewport in the window's proportions: its margin stays the ground.
            const QRect fitted =
                QRectF(QPointF(), QSizeF(100, 50).scaled(QSizeF(frame.size()) - QSizeF(32, 32),
                                                         Qt::KeepAspectRatio))
                    .toAlignedRect();
            const int margin = (frame.height() - fitted.height()) / 2;
            EXPECT_EQ(HostilePictures::pixelsNear(
                          window.copy(0, window.height() - margin + 4, window.width(), margin - 4),
                          QColor(255, 128, 0)),
                      0);
        } else if (title == QLatin1String("report.html")) {
            EXPECT_GT(HostilePictures::pixelsNear(window, QColor(200, 200, 204), 30), 300);
        } else {
            const QImage bar = window.copy(window.width() - 12, 0, 12, window.height());
            EXPECT_EQ(HostilePictures::pixelsNear(bar, Qt::white, 40), 0);
        }
        x.key(QStringLiteral("Right"));
    }
    EXPECT_EQ(seen.size(), 3);
    EXPECT_EQ(x.stopApp(), 0);
}

// A screen smaller than the preview's least size: the preview shows what fits, and the
// application goes on.
TEST(PreviewEndToEnd, AScreenSmallerThanThePreviewLeavesTheApplicationRunning) {
    XServer::Options o;
    o.size = QSize(200, 150);
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(noisePicture(400, 300, 11, true).save(x.scratchpad() + "/plot.png"));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20))
        << x.appLog().toStdString();
    x.moveTo(QPoint(100, 100));
    x.key(QStringLiteral("alt+space"));
    ASSERT_TRUE(waitUntil([&] { return x.panelHasFocus(); })) << x.appLog().toStdString();
    // The card itself lies below this screen's edge; its session's grey row tells that the shelf
    // holds it, which a loaded machine may make come after the keys.
    ASSERT_TRUE(waitUntil([&] {
        const QColor c(x.capture().pixel(100, 60));
        return c.red() > 20 && c.red() < 40 && c.red() == c.green() && c.green() == c.blue();
    })) << x.saveCapture(QStringLiteral("preview-small-screen-drawer")).toStdString();
    x.key(QStringLiteral("Right"));
    pump(0.3);
    x.key(QStringLiteral("space"));
    ASSERT_TRUE(waitUntil(
        [&] {
            return !x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), QStringLiteral("^plot.png$")})
                        .trimmed()
                        .isEmpty();
        },
        10))
        << x.appLog().toStdString();
    pump(0.5);
    x.saveCapture(QStringLiteral("preview-small-screen"));
    EXPECT_EQ(x.app()->state(), QProcess::Running);
    EXPECT_EQ(x.stopApp(), 0);
}

namespace {

// The shown windows of the application that were not there before, while `done` does not
// hold: the moving picture and the preview itself.
struct Flight {
    QList<QRect> zoom; // the moving picture: where it was made, then each step the server saw
    QString preview;   // the preview window's name, once it shows
};

// Presses `key`, then asks `done` at each sample with the flight so far, whether the preview
// shows and whether a picture moves. The picture's steps are the server's account, which a
// loaded machine's late samples cannot thin out or cut short.
Flight watchFlight(XServer& x, const QString& key,
                   const std::function<bool(const Flight&, bool, bool)>& done) {
    QList<quint32> before;
    for (const XServer::Window& w : x.appWindows()) {
        before.append(w.id);
    }
    x.watchGeometries();
    x.key(key);
    Flight f;
    quint32 picture = 0;
    waitUntil(
        [&] {
            bool panel = false;
            bool moving = false;
            for (const XServer::Window& w : x.appWindows()) {
                if (!w.viewable || before.contains(w.id)) {
                    continue;
                }
                if (w.overrideRedirect) {
                    moving = true;
                    picture = w.id;
                    f.zoom = x.geometries(picture);
                } else {
                    panel = true;
                    f.preview = x.xdotool({QStringLiteral("getwindowname"), QString::number(w.id)})
                                    .trimmed();
                }
            }
            return done(f, panel, moving);
        },
        10);
    if (picture != 0) {
        f.zoom = x.geometries(picture);
    }
    return f;
}

} // namespace

// Every preview comes out of its card and goes back into it, whatever the file holds: the stored
// thumbnail moves where there is one (a picture, a PDF whose render was kept), the drawing the
// preview shows where there is none, and the preview itself, fitted to the card, for a file with
// no picture at all. Nothing pops up or vanishes in one frame.
TEST(PreviewEndToEnd, EveryKindZoomsFromItsCardAndBack) {
    XServer::Options o;
    o.size = QSize(1280, 800);
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                   R"({"fileTypes": ["image", "pdf", "file"], "extraExtensions": ["log"]})");
    QProcessEnvironment env;
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("2"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    const QString pad = x.scratchpad();
    QByteArray log;
    for (int i = 0; i < 400; ++i) {
        log += "step " + QByteArray::number(i) + "\n";
    }
    const QByteArray svg = "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 100 50'><desc>" +
                           QByteArray(600, '-') +
                           "</desc><rect width='100' height='50' fill='#00c000'/></svg>";
    for (const auto& [name, bytes] : {std::pair{"a.log", log}, std::pair{"b.svg", svg}}) {
        QFile file(pad + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        pump(0.3);
    }
    ASSERT_TRUE(noisePicture(400, 300, 11, true).save(pad + QStringLiteral("/c.png")));
    pump(0.3);
    {
        QPdfWriter writer(pad + QStringLiteral("/d.pdf"));
        QPainter(&writer).fillRect(QRect(0, 0, writer.width(), writer.height() / 3),
                                   QColor(20, 60, 200));
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added")) >= 4; }, 20))
        << x.appLog().toStdString();
    const QRect drawer = notchDrawer({1280, 800}, 1);
    openDrawerAndSelect(x, drawer);
    // The PDF's render is written back as its stored thumbnail once its card has shown.
    pump(1.0);

    QSet<QString> seen;
    for (int step = 0; step < 4; ++step) {
        const Flight in =
            watchFlight(x, QStringLiteral("space"), [](const Flight& f, bool panel, bool moving) {
                return panel && !moving && !f.preview.isEmpty();
            });
        SCOPED_TRACE(in.preview.toStdString());
        seen.insert(in.preview);
        ASSERT_GE(in.zoom.size(), 3) << "moved, not popped up";
        EXPECT_TRUE(drawer.contains(in.zoom.first())) << in.zoom.first().y();
        EXPECT_GT(in.zoom.first().width(), 20);
        pump(0.3);

        const Flight out =
            watchFlight(x, QStringLiteral("space"), [](const Flight& f, bool panel, bool moving) {
                return !panel && !moving && !f.zoom.isEmpty();
            });
        ASSERT_GE(out.zoom.size(), 3) << "moved, not gone at once";
        EXPECT_TRUE(drawer.contains(out.zoom.last())) << out.zoom.last().y();
        EXPECT_GT(out.zoom.last().width(), 20);
        x.key(QStringLiteral("Right"));
        pump(0.3);
    }
    EXPECT_EQ(seen.size(), 4);
    EXPECT_EQ(x.stopApp(), 0);
}

// Bad timing around a preview: the desktop's scale doubles while the picture moves, the card
// scrolls away under a preview and Space comes while the drawer closes. Nothing of the preview is
// ever off screen, and nothing of it is left once the shelf is closed.
TEST(PreviewEndToEnd, BadTimingLeavesNothingOffScreenOrStranded) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.setDisplayScale(1);
    QProcessEnvironment env;
    // The picture takes 1.4 s on its way.
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("4"));
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    const QString pad = x.scratchpad();
    // More cards than the drawer shows: its grid scrolls.
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(noisePicture(400, 300, 11 + i).save(pad + QStringLiteral("/p%1.png").arg(i)));
    }
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(QStringLiteral("added")) >= 12; }, 20))
        << x.appLog().toStdString();
    const QRect screen(0, 0, 1920, 1080);
    const auto onScreen = [&] {
        const QList<XServer::Window> windows = x.appWindows();
        return std::all_of(windows.begin(), windows.end(), [&](const XServer::Window& w) {
            return !w.viewable || screen.contains(w.geometry);
        });
    };
    // Nothing of the application is off screen for `seconds`, and until `done` holds.
    const auto watch = [&](
                           double seconds,
                           const std::function<bool()>& done = [] { return true; }) {
        QElapsedTimer clock;
        clock.start();
        for (QDeadlineTimer limit(20000); clock.elapsed() < seconds * 1000 || !done(); pump(0.02)) {
            if (!onScreen() || limit.hasExpired()) {
                return false;
            }
        }
        return true;
    };
    const auto previewShown = [&] { return x.shownWindows().size() == 1; };
    const auto previewGone = [&] { return x.shownWindows().isEmpty(); };
    const QRect drawer = notchDrawer({1920, 1080}, 1);
    openDrawerAndSelect(x, drawer);

    x.key(QStringLiteral("space"));
    pump(0.3);
    x.setDisplayScale(2);
    EXPECT_TRUE(watch(3.0, previewShown)) << "scale changed mid-zoom";
    EXPECT_EQ(x.shownWindows().size(), 1);
    x.setDisplayScale(1);
    EXPECT_TRUE(watch(1.0));
    x.key(QStringLiteral("space"));
    EXPECT_TRUE(watch(2.0, previewGone));
    EXPECT_TRUE(x.shownWindows().isEmpty());

    // The card scrolls out of view under its preview: the preview goes back into its middle.
    x.moveTo(drawer.center());
    pump(0.3);
    x.key(QStringLiteral("space"));
    pump(0.3);
    for (int i = 0; i < 8; ++i) {
        x.click(5);
        pump(0.05);
    }
    EXPECT_TRUE(watch(2.0)) << "card scrolled away";
    x.key(QStringLiteral("space"));
    EXPECT_TRUE(watch(2.0, previewGone));
    EXPECT_TRUE(x.shownWindows().isEmpty());

    // Space while the drawer closes: no preview stays over the closed shelf.
    x.key(QStringLiteral("space"));
    ASSERT_TRUE(waitUntil(previewShown));
    x.key(QStringLiteral("alt+space"));
    pump(0.05);
    x.key(QStringLiteral("space"));
    EXPECT_TRUE(watch(3.0, previewGone)) << "asked for while closing";
    EXPECT_TRUE(x.shownWindows().isEmpty());
    EXPECT_EQ(x.app()->state(), QProcess::Running);
    EXPECT_EQ(x.stopApp(), 0);
}
