// The real binary on a private X server: panel placement, hover, clicks, full screen, shutdown.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "support/OpenDrawer.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// The user's display style, as the settings store keeps it.
void chooseStyle(const XServer& x, const QString& style) {
    x.home().write(QStringLiteral("config/Ostrel/defaults.json"),
                   QJsonDocument(QJsonObject{{QStringLiteral("displayStyle"), style}}).toJson());
}

// The shelf's rules on one screen whose Qt rectangle is `screen`, primary screen `primary`.
DisplayLayout layoutFor(const QString& style, const QRect& screen, const QRect& primary) {
    const double bottom = primary.y() + primary.height();
    const QRectF frame(screen.x(), bottom - (screen.y() + screen.height()), screen.width(),
                       screen.height());
    const auto choice = DisplayStyleChoice::fromRawValue(style).value();
    return DisplayLayout::make(choice, NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt),
                               frame);
}

QRect toQt(const QRectF& r, const QRect& primary) {
    const double bottom = primary.y() + primary.height();
    return QRectF(r.x(), bottom - (r.y() + r.height()), r.width(), r.height()).toAlignedRect();
}

// The application's shown panels, left to right.
QList<XServer::Window> shownPanels(XServer& x) {
    QList<XServer::Window> shown;
    for (const XServer::Window& w : x.appWindows()) {
        if (w.viewable && w.overrideRedirect) {
            shown.append(w);
        }
    }
    std::sort(shown.begin(), shown.end(),
              [](const auto& a, const auto& b) { return a.geometry.x() < b.geometry.x(); });
    return shown;
}

bool startShelf(XServer& x, int panels = 1, const QProcessEnvironment& env = {}) {
    if (!x.startApp(QStringLiteral(OSTREL_BINARY), {}, env)) {
        return false;
    }
    return waitUntil([&] { return shownPanels(x).size() == panels; }, 20);
}

const QRect screen1080(0, 0, 1920, 1080);

// The middle of the open default drawer, in Qt coordinates.
QPoint drawerMiddle() {
    const DisplayLayout layout = layoutFor(QStringLiteral("notch"), screen1080, screen1080);
    const QRectF open = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    return toQt(open, screen1080).center();
}

QPoint hotPoint() {
    const DisplayLayout layout = layoutFor(QStringLiteral("notch"), screen1080, screen1080);
    return toQt(layout.hotZone(0), screen1080).center();
}

} // namespace

TEST(ShelfPanels, EachStyleStandsWhereItsLayoutSays) {
    for (const QString& style : {QStringLiteral("notch"), QStringLiteral("pill-left"),
                                 QStringLiteral("pill-bottom"), QStringLiteral("pill-right")}) {
        XServer x;
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        chooseStyle(x, style);
        ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
        const DisplayLayout layout = layoutFor(style, screen1080, screen1080);
        EXPECT_EQ(shownPanels(x).first().geometry, toQt(layout.panelFrame(), screen1080))
            << style.toStdString();
        pump(0.3);
        x.saveCapture(QStringLiteral("shelf-") + style);
        EXPECT_EQ(x.stopApp(), 0);
    }
}

TEST(ShelfPanels, TwoMonitorsGetOnePanelEachAtTheirTopCentre) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(startShelf(x, 2)) << x.appLog().toStdString();
    const QList<XServer::Window> panels = shownPanels(x);
    const QRect left(0, 0, 1920, 1080);
    const QRect right(1920, 0, 1920, 1080);
    EXPECT_EQ(panels[0].geometry,
              toQt(layoutFor(QStringLiteral("notch"), left, left).panelFrame(), left));
    EXPECT_EQ(panels[1].geometry,
              toQt(layoutFor(QStringLiteral("notch"), right, left).panelFrame(), left));
    EXPECT_EQ(panels[1].geometry.x() + panels[1].geometry.width() / 2, 1920 + 960);
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, LimitedToTheActiveDisplayTheShelfFollowsTheFrontWindow) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    o.windowManager = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.home().write(
        QStringLiteral("config/Ostrel/defaults.json"),
        QJsonDocument(QJsonObject{{QStringLiteral("activeDisplayOnly"), true}}).toJson());
    ASSERT_TRUE(startShelf(x, 1)) << x.appLog().toStdString();
    EXPECT_LT(shownPanels(x).first().geometry.x(), 1920); // the primary screen at first

    // Another application's window comes forward on the right-hand screen.
    const quint32 editor = x.createWindow(QRect(2200, 200, 800, 600), Qt::darkCyan, true);
    x.xdotool({QStringLiteral("windowmove"), QString::number(editor), QStringLiteral("2200"),
               QStringLiteral("200")});
    x.xdotool({QStringLiteral("windowactivate"), QString::number(editor)});
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto shown = shownPanels(x);
            return shown.size() == 1 && shown.first().geometry.x() >= 1920;
        },
        10))
        << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, OpensAfterThePointerRestsAndClosesAfterItLeaves) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    EXPECT_FALSE(drawerOpen(x));
    // Without a window manager a window mapped later covers the panel until it is raised again.
    x.createWindow(QRect(0, 0, 1920, 600), QColor(255, 230, 200));

    // The dwell is 0.2 s: a look at 0.1 s finds the drawer shut. A round whose look came too
    // late to tell is done again.
    std::optional<bool> openEarly;
    for (int round = 0; round < 10 && !openEarly; ++round) {
        x.moveTo(QPoint(960, 900));
        ASSERT_TRUE(waitUntil([&] { return !drawerOpen(x); }));
        QElapsedTimer clock;
        clock.start();
        x.moveTo(hotPoint());
        pump(0.1);
        openEarly = lookWithin(clock, 0.18, [&] { return drawerOpen(x); });
        ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }));
        EXPECT_GE(clock.elapsed(), 180);
    }
    ASSERT_TRUE(openEarly.has_value()) << "no look came within the dwell";
    EXPECT_FALSE(*openEarly);
    x.saveCapture(QStringLiteral("shelf-notch-open"));

    // Inside the open drawer it stays open.
    x.moveTo(drawerMiddle());
    pump(0.4);
    EXPECT_TRUE(drawerOpen(x));

    // 0.2 s of grace after the pointer leaves: a look at 0.08 s finds the drawer still open.
    std::optional<bool> openInGrace;
    for (int round = 0; round < 10 && !openInGrace; ++round) {
        x.moveTo(hotPoint());
        ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }));
        x.moveTo(drawerMiddle());
        QElapsedTimer clock;
        clock.start();
        x.moveTo(QPoint(960, 900));
        pump(0.08);
        openInGrace = lookWithin(clock, 0.18, [&] { return drawerOpen(x); });
        ASSERT_TRUE(waitUntil([&] { return !drawerOpen(x); }));
        EXPECT_GE(clock.elapsed(), 180);
    }
    ASSERT_TRUE(openInGrace.has_value()) << "no look came within the grace time";
    EXPECT_TRUE(*openInGrace);
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, HotZoneEdgesAreExact) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    const DisplayLayout layout = layoutFor(QStringLiteral("notch"), screen1080, screen1080);
    // In the shelf's coordinates the zone is half-open; in pixels its last row and column are
    // the ones before its maximum edges.
    const QRectF zone = layout.hotZone(0);
    const int left = static_cast<int>(zone.x());
    const int right = static_cast<int>(zone.x() + zone.width()) - 1;
    const int lowest = static_cast<int>(1080 - zone.y()); // the zone's minimum edge is inside

    x.moveTo(QPoint(left - 1, 0));
    pump(0.5);
    EXPECT_FALSE(drawerOpen(x));
    x.moveTo(QPoint(right + 1, 3));
    pump(0.5);
    EXPECT_FALSE(drawerOpen(x));
    x.moveTo(QPoint(960, lowest + 1));
    pump(0.5);
    EXPECT_FALSE(drawerOpen(x));

    x.moveTo(QPoint(right, lowest));
    EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    x.moveTo(QPoint(960, 900));
    ASSERT_TRUE(waitUntil([&] { return !drawerOpen(x); }, 10));
    x.moveTo(QPoint(left, 0));
    EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, ClicksPassThroughTheClosedPanelButNotTheOpenDrawer) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const quint32 below = x.createWindow(QRect(0, 0, 1920, 1080), QColor(200, 200, 255));
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    const QRect panel = shownPanels(x).first().geometry;

    // Inside the closed panel's window but away from the hot zone.
    const QPoint besideZone(panel.x() + 30, panel.y() + panel.height() - 30);
    x.moveTo(besideZone);
    pump(0.2);
    x.click(1);
    EXPECT_TRUE(waitUntil([&] { return x.pressesOn(below) == 1; }, 10));

    // Open, then click inside the drawer: the drawer takes it and stays open.
    x.moveTo(hotPoint());
    ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    x.moveTo(drawerMiddle());
    pump(0.2);
    x.click(1);
    pump(0.4);
    EXPECT_EQ(x.pressesOn(below), 1);
    EXPECT_TRUE(drawerOpen(x));

    // The pointer pushed against the top edge over the drawer, beside the hot zone, is inside.
    x.moveTo(QPoint(drawerMiddle().x() + 300, 0));
    pump(0.5);
    EXPECT_TRUE(drawerOpen(x));
    x.moveTo(drawerMiddle());
    pump(0.2);

    // A middle click outside leaves it open; a right click outside closes it. The pointer comes
    // back inside well within the grace time, so that only the click can close the drawer; a
    // round in which it took longer tells nothing and is done again.
    const auto clickOutside = [&](int button) {
        x.moveTo(hotPoint());
        EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }));
        x.moveTo(drawerMiddle());
        QElapsedTimer clock;
        clock.start();
        x.moveTo(QPoint(100, 900));
        x.click(button);
        pump(0.08);
        x.moveTo(drawerMiddle());
        return clock.elapsed() < 180;
    };
    for (int rounds = 1; !clickOutside(2); ++rounds) {
        ASSERT_LT(rounds, 10) << "the pointer never came back within the grace time";
    }
    pump(0.5);
    EXPECT_TRUE(drawerOpen(x));
    for (int rounds = 1; !clickOutside(3); ++rounds) {
        ASSERT_LT(rounds, 10) << "the pointer never came back within the grace time";
    }
    EXPECT_TRUE(waitUntil([&] { return !drawerOpen(x); }));
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, AFullScreenWindowMarksItsDisplay) {
    XServer::Options o;
    o.windowManager = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    const quint32 w = x.createWindow(QRect(100, 100, 600, 400), Qt::darkGreen, true);
    pump(0.3);
    EXPECT_FALSE(x.appLog().contains(QStringLiteral("full-screen displays: 6")));
    x.setFullscreen(w, true);
    const QRegularExpression marked(QStringLiteral("full-screen displays: \\d+"));
    EXPECT_TRUE(waitUntil([&] { return marked.match(x.appLog()).hasMatch(); }, 10))
        << x.appLog().toStdString();
    // The panel stays above the full-screen window.
    EXPECT_TRUE(shownPanels(x).size() == 1);
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, TerminationSoonAfterACaptureKeepsTheItem) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    const QString scratch = x.home().file(QStringLiteral("scratch"));
    QDir().mkpath(scratch + QStringLiteral("/-work-demo/abc-123/scratchpad"));
    QFile::setPermissions(scratch,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();

    // Noise, so that the file is large enough to count as a picture.
    QImage picture(200, 150, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int row = 0; row < picture.height(); ++row) {
        for (int col = 0; col < picture.width(); ++col) {
            seed = seed * 1664525u + 1013904223u;
            picture.setPixel(col, row, seed >> 8);
        }
    }
    ASSERT_TRUE(picture.save(scratch + QStringLiteral("/-work-demo/abc-123/scratchpad/plot.png")));
    ASSERT_TRUE(waitUntil([&] { return x.appLog().contains(QStringLiteral("added")); }, 20))
        << x.appLog().toStdString();
    pump(0.5);
    EXPECT_EQ(x.stopApp(), 0);
    QFile index(x.home().file(QStringLiteral("data/Ostrel/index.json")));
    ASSERT_TRUE(index.open(QIODevice::ReadOnly));
    EXPECT_TRUE(index.readAll().contains("plot.png"));
}

TEST(ShelfPanels, AScreenUnpluggedWhileItsShelfIsOpenTakesItsPanelAlong) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(startShelf(x, 2)) << x.appLog().toStdString();
    const QRect right = shownPanels(x)[1].geometry;
    const QPoint hot(right.x() + right.width() / 2, 2);
    x.moveTo(hot);
    const QPoint middle(right.x() + right.width() / 2, drawerMiddle().y());
    const QPoint probe = drawerProbe(openDrawer().translated(1920, 0));
    ASSERT_TRUE(waitUntil([&] { return dark(x.capture(QRect(probe, QSize(1, 1))), QPoint()); }));
    x.moveTo(middle);
    ASSERT_TRUE(x.removeMonitor(QStringLiteral("RIGHT")));
    EXPECT_TRUE(waitUntil([&] { return shownPanels(x).size() == 1; }, 10));
    pump(0.3);
    EXPECT_EQ(x.app()->state(), QProcess::Running);
    EXPECT_EQ(x.stopApp(), 0);
}

// The desktop's scale doubles while the drawer is open: the panel is laid out again in device
// pixels twice as large, the drawer still closes when the pointer leaves, and the hot zone, now
// in logical pixels of half the screen, opens it again.
TEST(ShelfPanels, AScaleChangeWhileTheDrawerIsOpenLeavesAShelfThatStillOpens) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.setDisplayScale(1);
    ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
    x.moveTo(hotPoint());
    ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    x.moveTo(drawerMiddle());
    pump(0.3);

    x.setDisplayScale(2);
    const QRect half(0, 0, 960, 540);
    const DisplayLayout scaled = layoutFor(QStringLiteral("notch"), half, half);
    const QRect frame = toQt(scaled.panelFrame(), half);
    const QRect expected(frame.topLeft() * 2, frame.size() * 2);
    ASSERT_TRUE(waitUntil(
        [&] {
            const QList<XServer::Window> panels = shownPanels(x);
            return panels.size() == 1 && panels.first().geometry == expected;
        },
        10))
        << x.appLog().toStdString();

    x.moveTo(QPoint(960, 1000));
    const QRect drawer = toQt(scaled.drawerRect(scaled.drawerSize(ShelfLayoutKind::rail), 0), half);
    const QPoint probe(2 * (drawer.x() + drawer.width() / 5),
                       2 * (drawer.y() + drawer.height() * 4 / 5));
    EXPECT_TRUE(waitUntil([&] { return !dark(x.capture(), probe); }, 10));
    pump(0.3);
    x.moveTo(2 * toQt(scaled.hotZone(0), half).center());
    EXPECT_TRUE(waitUntil([&] { return dark(x.capture(), probe); }, 10))
        << x.appLog().toStdString();
    x.saveCapture(QStringLiteral("shelf-rescaled-open"));
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, OnAWaylandSessionItRunsThroughX) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    QProcessEnvironment env;
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-absent"));
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    ASSERT_TRUE(startShelf(x, 1, env)) << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(ShelfPanels, BadDisplaysAreSurvivedOrReportedInOneLine) {
    {
        // No RandR at all: the screen still gets a panel.
        XServer::Options o;
        o.serverArguments = {QStringLiteral("-extension"), QStringLiteral("RANDR")};
        XServer x(o);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(startShelf(x)) << x.appLog().toStdString();
        x.moveTo(hotPoint());
        EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
        EXPECT_EQ(x.stopApp(), 0);
    }
    {
        XServer::Options o;
        o.size = QSize(40, 40);
        XServer x(o);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
        x.moveTo(QPoint(20, 0));
        pump(0.8);
        EXPECT_EQ(x.stopApp(), 0) << x.appLog().toStdString();
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(OSTREL_BINARY), {});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_NE(p.exitCode(), 0);
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    EXPECT_EQ(err.count(QLatin1Char('\n')), 0) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("DISPLAY"))) << err.toStdString();
}
