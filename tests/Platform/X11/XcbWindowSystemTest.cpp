#include "Platform/X11/XcbWindowSystem.h"

#include "support/Wait.h"
#include "support/XServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

using namespace ostrel;
using namespace ostrel::test;
using x11::XcbWindowSystem;

namespace {

XServer::Options twoScreens() {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    return o;
}

// Puts the pointer at `p` as XWarpPointer does (no raw motion), done once this returns.
void warp(XServer& x, QPoint p) {
    xcb_connection_t* c = x.connection();
    xcb_warp_pointer(c, XCB_NONE, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 0, 0,
                     static_cast<int16_t>(p.x()), static_cast<int16_t>(p.y()));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// A property of the root changes (no pointer device is involved).
void changeRoot(XServer& x) {
    xcb_connection_t* c = x.connection();
    const char name[] = "OSTREL_TEST";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    ASSERT_NE(atom, nullptr);
    const uint32_t value = 1;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE,
                        xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, atom->atom,
                        XCB_ATOM_CARDINAL, 32, 1, &value);
    xcb_flush(c);
    std::free(atom);
}

// Requests a second that the window system's connection carries while `run` runs: while the
// pointer moves, the reader's looks at it, one each.
double requestsPerSecond(XcbWindowSystem& ws, const std::function<void()>& run) {
    const unsigned before = xcb_no_operation(ws.connection()).sequence;
    QElapsedTimer span;
    span.start();
    run();
    const unsigned after = xcb_no_operation(ws.connection()).sequence;
    return double(after - before - 1) * 1000 / double(std::max<qint64>(span.elapsed(), 1));
}

} // namespace

TEST(XcbWindowSystem, ReadsMonitorsWithTheirOutputsAndFallbacks) {
    XServer x(twoScreens());
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    ASSERT_TRUE(ws.isConnected());

    const QList<x11::Monitor> monitors = ws.monitors();
    ASSERT_EQ(monitors.size(), 2);
    const auto& left = monitors[0].name == u"LEFT" ? monitors[0] : monitors[1];
    const auto& right = monitors[0].name == u"LEFT" ? monitors[1] : monitors[0];
    EXPECT_EQ(left.name, u"LEFT");
    EXPECT_EQ(right.name, u"RIGHT");
    EXPECT_EQ(left.geometry, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(right.geometry, QRect(1920, 0, 1920, 1080));
    EXPECT_TRUE(left.primary);
    EXPECT_FALSE(right.primary);
    // Xvfb's one output: no EDID, no preferred mode, but a current mode.
    ASSERT_TRUE(left.output.has_value());
    EXPECT_TRUE(left.edid.isEmpty());
    EXPECT_FALSE(left.preferredMode.has_value());
    EXPECT_TRUE(left.currentMode.has_value());
    EXPECT_FALSE(right.output.has_value());
}

TEST(XcbWindowSystem, ReportsRawPointerEventsAndHeldButtons) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    QSignalSpy motion(&ws, &x11::WindowSystem::rawMotion);
    QSignalSpy pressed(&ws, &x11::WindowSystem::rawButtonPress);
    QSignalSpy released(&ws, &x11::WindowSystem::rawButtonRelease);

    // A report carries the place the reader found, so that handling it asks the server nothing
    // more: a warp made meanwhile is not seen there, only by asking.
    std::optional<QPoint> seen;
    QObject::connect(&ws, &x11::WindowSystem::rawMotion, [&] {
        if (!seen) {
            warp(x, QPoint(40, 30));
            seen = ws.pointerPosition();
        }
    });
    x.moveTo(QPoint(300, 200));
    ASSERT_TRUE(waitUntil([&] { return motion.count() > 0; }, 10));
    EXPECT_EQ(seen, QPoint(300, 200));
    EXPECT_EQ(ws.pointer().position, QPoint(40, 30));

    x.press(3);
    ASSERT_TRUE(waitUntil([&] { return pressed.count() > 0; }, 10));
    EXPECT_EQ(pressed.first().first().toInt(), 3);
    EXPECT_EQ(ws.buttons(), 1u << 2);
    x.release(3);
    ASSERT_TRUE(waitUntil([&] { return released.count() > 0; }, 10));
    EXPECT_EQ(ws.buttons(), 0u);

    // A warp moves the pointer without raw motion: while every move is wanted (as by default)
    // the pointer is sampled, and the warp counts as a move.
    motion.clear();
    x.xdotool({QStringLiteral("mousemove"), QStringLiteral("50"), QStringLiteral("60")});
    ASSERT_TRUE(waitUntil([&] { return motion.count() > 0; }, 10));
    EXPECT_EQ(ws.pointer().position, QPoint(50, 60));
}

// The reader's first look at the pointer is no move: there is nothing to compare it with. An event
// wakes the reader, which then looks (every move is wanted by default); a second event, made once
// the first has come, is read after that look, so whatever the look reported is in before it.
TEST(XcbWindowSystem, TheFirstLookAtThePointerIsNoMove) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    QSignalSpy motion(&ws, &x11::WindowSystem::rawMotion);
    int changes = 0;
    QObject::connect(&ws, &XcbWindowSystem::event, [&](const xcb_generic_event_t* e) {
        changes += (e->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
    });

    changeRoot(x);
    ASSERT_TRUE(waitUntil([&] { return changes == 1; }, 10));
    changeRoot(x);
    ASSERT_TRUE(waitUntil([&] { return changes == 2; }, 10));
    EXPECT_EQ(motion.count(), 0);
}

// Asked for every move, the reader starts looking at the pointer at once, with no event to wake
// it: warps, which make none, are reported.
TEST(XcbWindowSystem, WantingEveryMoveStartsTheLooksAtOnce) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    QSignalSpy motion(&ws, &x11::WindowSystem::rawMotion);
    ws.watchPointer({{}, false, {}});
    ws.watchPointer({{}, true, {}});
    int step = 0;
    EXPECT_TRUE(waitUntil(
        [&] {
            warp(x, QPoint(100 + ++step % 500, 100));
            return motion.count() > 0;
        },
        10));
}

// A pointer that never stops: far from the watched zone none of its moves reach the main thread,
// while a press among them does; in the zone they come at most once a frame, and leaving it
// is reported once. On its way to the zone it is looked at more often than far away, unreported.
TEST(XcbWindowSystem, ReportsMotionOnlyInOrLeavingTheWatchedZonesAtMostOnceAFrame) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    QSignalSpy motion(&ws, &x11::WindowSystem::rawMotion);
    QSignalSpy pressed(&ws, &x11::WindowSystem::rawButtonPress);
    ws.watchPointer({{QRect(0, 0, 200, 100)}, false, {QRect(0, 0, 400, 300)}});
    pump(0.1); // what the default watch reported is in
    motion.clear();
    const auto sweep = [&](QPoint from) {
        for (int i = 0; i < 300; ++i) {
            x.moveTo(from + QPoint(i % 100, 0));
            pump(0.001);
        }
    };

    // Taken in turns, so that a load that comes and goes weighs on both alike.
    double far = 0;
    double approaching = 0;
    for (int round = 0; round < 3; ++round) {
        far += requestsPerSecond(ws, [&] { sweep(QPoint(600, 600)); });
        approaching += requestsPerSecond(ws, [&] { sweep(QPoint(250, 150)); });
    }
    EXPECT_GT(approaching, far * 1.15) << approaching << " looks against " << far;
    x.press(1);
    x.release(1);
    sweep(QPoint(600, 600));
    ASSERT_TRUE(waitUntil([&] { return pressed.count() == 1; }, 10));
    EXPECT_EQ(motion.count(), 0);

    QElapsedTimer span;
    span.start();
    sweep(QPoint(50, 50));
    pump(0.1);
    EXPECT_GE(motion.count(), 1);
    EXPECT_LE(motion.count(), span.elapsed() * 60 / 1000 + 2);

    motion.clear();
    x.moveTo(QPoint(600, 600));
    ASSERT_TRUE(waitUntil([&] { return motion.count() == 1; }, 10));
    x.moveTo(QPoint(700, 600));
    pump(0.2);
    EXPECT_EQ(motion.count(), 1);
}

TEST(XcbWindowSystem, InputShapeLetsPointerAndClicksThroughOutsideItsRectangles) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    const quint32 below = x.createWindow(QRect(0, 0, 800, 600), Qt::blue);
    const quint32 above = x.createWindow(QRect(100, 100, 400, 300), Qt::red);
    ws.setInputShape(above, {QRect(0, 0, 100, 50)});
    ws.pointer(); // a round trip: the shape is in place

    x.moveTo(QPoint(120, 120)); // inside the shape
    ASSERT_TRUE(waitUntil([&] { return ws.pointer().position == QPoint(120, 120); }, 10));
    EXPECT_EQ(ws.pointer().window, above);
    x.click(1);
    x.moveTo(QPoint(300, 300)); // drawn, but outside the shape
    ASSERT_TRUE(waitUntil([&] { return ws.pointer().position == QPoint(300, 300); }, 10));
    EXPECT_EQ(ws.pointer().window, below);
    x.click(1);
    EXPECT_TRUE(waitUntil([&] { return x.pressesOn(below) == 1; }, 10));
    EXPECT_EQ(x.pressesOn(above), 1);
    // The window still draws where it lets clicks through.
    EXPECT_EQ(QColor(x.capture().pixel(300, 300)), QColor(Qt::red));

    ws.clearInputShape(above);
    EXPECT_EQ(ws.pointer().window, above);
}

TEST(XcbWindowSystem, WithoutWindowManagerListsNothingAndKeepsWindowsAbove) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    EXPECT_FALSE(ws.hasWindowManager());
    EXPECT_TRUE(ws.clientWindows().isEmpty());
    EXPECT_FALSE(ws.activeWindow().has_value());
    EXPECT_FALSE(ws.compositorRunning());

    const quint32 kept = x.createWindow(QRect(0, 0, 200, 200), Qt::green);
    ws.setKeptAbove({kept});
    pump(0.1);
    x.createWindow(QRect(50, 50, 200, 200), Qt::magenta); // maps above `kept`
    EXPECT_TRUE(
        waitUntil([&] { return QColor(x.capture().pixel(100, 100)) == QColor(Qt::green); }, 10));
}

// One window stands above the kept ones with or without a window manager (which keeps its frames
// below every unmanaged window), and a manager tells the size of its frames before a window maps.
TEST(XcbWindowSystem, KeepsOneWindowAboveTheKeptOnesAndAsksForFrameSizes) {
    for (const bool manager : {false, true}) {
        SCOPED_TRACE(manager ? "openbox" : "no window manager");
        XServer::Options o;
        o.windowManager = manager;
        XServer x(o);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        XcbWindowSystem ws(x.display().toLatin1());
        const quint32 kept = x.createWindow(QRect(0, 0, 1920, 1080), Qt::green);
        ws.setKeptAbove({kept});
        const quint32 top = x.createWindow(QRect(200, 100, 400, 300), Qt::blue, manager);
        ws.setKeptOnTop(top);
        EXPECT_TRUE(waitUntil(
            [&] {
                ws.setKeptOnTop(top);
                return QColor(x.capture().pixel(x.window(top)->geometry.center())) ==
                       QColor(Qt::blue);
            },
            10))
            << x.window(top)->geometry.x() << "," << x.window(top)->geometry.y() << " "
            << QColor(x.capture().pixel(x.window(top)->geometry.center())).name().toStdString();

        xcb_connection_t* c = x.connection();
        const xcb_window_t unmapped = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, unmapped,
                          xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(c);
        const auto extents = ws.frameExtents(unmapped);
        ASSERT_TRUE(extents.has_value());
        EXPECT_EQ(extents->top() > 0, manager) << extents->top();
        if (manager) {
            // A manager that does not run for a moment, as on a loaded machine, still answers.
            const auto pid = static_cast<pid_t>(x.windowManagerPid());
            ASSERT_EQ(::kill(pid, SIGSTOP), 0);
            std::thread resume([pid] {
                QThread::msleep(150);
                ::kill(pid, SIGCONT);
            });
            const auto late = ws.frameExtents(unmapped);
            resume.join();
            ASSERT_TRUE(late.has_value());
            EXPECT_GT(late->top(), 0);
        }
    }
}

TEST(XcbWindowSystem, FollowsTheWindowManagersListsAndFullScreenFlags) {
    XServer::Options o;
    o.windowManager = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    EXPECT_TRUE(ws.hasWindowManager());
    EXPECT_TRUE(ws.currentDesktop().has_value());
    QSignalSpy listed(&ws, &x11::WindowSystem::clientListChanged);

    const quint32 w = x.createWindow(QRect(10, 10, 300, 200), Qt::yellow, true);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto list = ws.clientWindows();
            return !list.isEmpty() && list.first().id == w;
        },
        10));
    EXPECT_TRUE(waitUntil([&] { return listed.count() > 0; }, 10));
    const x11::ClientWindow client = ws.clientWindows().first();
    EXPECT_EQ(client.pid, static_cast<qint32>(QCoreApplication::applicationPid()));
    EXPECT_FALSE(client.fullscreen);

    x.setFullscreen(w, true);
    EXPECT_TRUE(waitUntil(
        [&] {
            const x11::ClientWindow c = ws.clientWindows().first();
            return c.fullscreen && c.bounds == QRect(0, 0, 1920, 1080);
        },
        10));
}

TEST(XcbWindowSystem, GrabsKeysReportsTakenCombinationsAndFirstPressesOnly) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    XcbWindowSystem ws(x.display().toLatin1());
    XcbWindowSystem other(x.display().toLatin1());
    ASSERT_TRUE(ws.isConnected() && other.isConnected());
    const quint32 space = 65;
    const quint16 alt = 0x08;
    EXPECT_TRUE(ws.hasKey(space));
    EXPECT_FALSE(ws.hasKey(300));
    const quint16 numLock = ws.numLockMask();
    EXPECT_EQ(numLock, 0x10) << "Xvfb's default map puts NumLock on Mod2";

    for (const quint16 lock : {quint16(0), quint16(0x02), numLock, quint16(numLock | 0x02)}) {
        EXPECT_EQ(ws.grabKey(space, alt | lock), x11::WindowSystem::GrabResult::grabbed);
    }
    EXPECT_EQ(other.grabKey(space, alt), x11::WindowSystem::GrabResult::taken);

    QSignalSpy pressed(&ws, &x11::WindowSystem::grabbedKeyPressed);
    x.xdotool({QStringLiteral("key"), QStringLiteral("alt+space")});
    ASSERT_TRUE(waitUntil([&] { return pressed.count() > 0; }, 10));
    EXPECT_EQ(pressed.first().at(0).toUInt(), space);
    EXPECT_EQ(pressed.first().at(1).toUInt() & 0xff, alt);

    // A held key repeats; it counts once until it is released.
    x.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")});
    pump(0.9);
    x.xdotool({QStringLiteral("keyup"), QStringLiteral("alt+space")});
    ASSERT_TRUE(waitUntil([&] { return pressed.count() >= 2; }, 10));
    pump(0.2);
    EXPECT_EQ(pressed.count(), 2);

    x.xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});
    x.xdotool({QStringLiteral("key"), QStringLiteral("alt+space")});
    ASSERT_TRUE(waitUntil([&] { return pressed.count() >= 3; }, 10));
    EXPECT_EQ(pressed.last().at(1).toUInt() & numLock, numLock);
    x.xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")});

    // Released, the combination is free for another client.
    for (const quint16 lock : {quint16(0), quint16(0x02), numLock, quint16(numLock | 0x02)}) {
        ws.ungrabKey(space, alt | lock);
    }
    EXPECT_EQ(other.grabKey(space, alt), x11::WindowSystem::GrabResult::grabbed);
}
