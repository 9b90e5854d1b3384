// The real binary on a private X server, with and without a window manager: which window the
// keys reach, which window lies on top, and where the focus goes back to.
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "support/ClientWindows.h"
#include "support/OpenDrawer.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <xcb/xcb.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QRect screen(0, 0, 1920, 1080);

DisplayLayout notchLayout() {
    const QRectF frame(0, 0, 1920, 1080);
    return DisplayLayout::make(DisplayStyleChoice::notch(),
                               NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
}

QRect toQt(const QRectF& r) {
    return QRectF(r.x(), 1080 - (r.y() + r.height()), r.width(), r.height()).toAlignedRect();
}

QPoint hotPoint() {
    return toQt(notchLayout().hotZone(0)).center();
}

std::optional<XServer::Window> shownPanel(XServer& x) {
    for (const XServer::Window& w : x.appWindows()) {
        if (w.overrideRedirect && w.geometry.width() > 200 && w.geometry.y() == 0) {
            return w;
        }
    }
    return std::nullopt;
}

bool showsWindow(XServer& x, const QString& title) {
    return !x.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}).trimmed().isEmpty();
}

quint32 focusedWindow(XServer& x) {
    return x.xdotool({"getwindowfocus", "-f"}).trimmed().toUInt();
}

} // namespace

// The open shelf holding the keyboard swallows Ctrl combinations; a panel taken off screen
// behind the application's back closes its shelf and comes back.
TEST(KeysAndWindows, TheOpenShelfSwallowsControlKeysAndIsNeverLost) {
    for (const bool manager : {false, true}) {
        SCOPED_TRACE(manager ? "openbox" : "no window manager");
        XServer::Options options;
        options.windowManager = manager;
        XServer x(options);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(x.startApp(OSTREL_BINARY));
        ASSERT_TRUE(waitUntil([&] { return shownPanel(x) && shownPanel(x)->viewable; }, 20))
            << x.appLog().toStdString();
        const quint32 panel = shownPanel(x)->id;

        x.moveTo(hotPoint());
        ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
        // Over the drawer, the panel takes the keyboard.
        x.moveTo(openDrawer().center());
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == panel; }, 10))
            << focusedWindow(x) << " " << panel;
        for (const char* keys : {"ctrl+w", "ctrl+comma", "ctrl+q"}) {
            x.key(QString::fromLatin1(keys));
        }
        pump(0.6);
        EXPECT_TRUE(drawerOpen(x));
        EXPECT_EQ(x.app()->state(), QProcess::Running);
        EXPECT_FALSE(showsWindow(x, "Settings"));

        // Another client unmaps the panel: the shelf closes and the panel is back at once.
        x.xdotool({"windowunmap", QString::number(panel)});
        EXPECT_TRUE(waitUntil([&] { return x.window(panel) && x.window(panel)->viewable; }));
        EXPECT_TRUE(waitUntil([&] { return !drawerOpen(x); }));
        x.moveTo(QPoint(960, 900));
        pump(0.3);
        x.moveTo(hotPoint());
        EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10)) << x.appLog().toStdString();
        EXPECT_EQ(x.stopApp(), 0);
    }
}

// Without a window manager every window mapped later lies on top: Settings over the drawer's
// place must still go under the opening drawer.
TEST(KeysAndWindows, TheOpeningDrawerComesAboveOurOwnWindows) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    ASSERT_TRUE(waitUntil([&] { return shownPanel(x).has_value(); }, 20))
        << x.appLog().toStdString();
    QProcess again;
    again.setProcessEnvironment(x.environment());
    again.start(OSTREL_BINARY, {});
    ASSERT_TRUE(again.waitForFinished(30000));
    ASSERT_TRUE(waitUntil([&] { return showsWindow(x, "Settings"); }, 20));
    pump(0.3);
    ASSERT_FALSE(drawerOpen(x)); // Settings covers the drawer's place

    x.moveTo(hotPoint());
    EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10)) << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}

// With the shelf limited to the active display, a window moved to the other screen while Super
// is held (a desktop's keyboard move) takes the shelf along: the held modifier keeps sampling.
TEST(KeysAndWindows, AHeldModifierKeepsFollowingTheActiveDisplay) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    o.windowManager = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x.home().write("config/Ostrel/defaults.json", R"({"activeDisplayOnly": true})");
    const auto panelLeft = [&] {
        for (const XServer::Window& w : x.appWindows()) {
            if (w.viewable && w.overrideRedirect && w.geometry.y() == 0) {
                return std::optional(w.geometry.x());
            }
        }
        return std::optional<int>();
    };
    const quint32 editor = x.createWindow(QRect(300, 200, 800, 600), Qt::darkCyan, true);
    x.xdotool({"windowactivate", QString::number(editor)});
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    ASSERT_TRUE(waitUntil([&] { return panelLeft() && *panelLeft() < 1920; }, 20))
        << x.appLog().toStdString();

    x.xdotool({"keydown", "super"});
    pump(1.0); // longer than a burst started by anything else
    x.xdotool({"windowmove", QString::number(editor), "2200", "200"});
    EXPECT_TRUE(waitUntil([&] { return panelLeft() && *panelLeft() >= 1920; }, 3))
        << x.appLog().toStdString();
    x.xdotool({"keyup", "super"});
    EXPECT_EQ(x.stopApp(), 0);
}

namespace {

// What the window manager lets the user do with a window.
QString allowedActions(XServer& x, quint32 window) {
    return x.xprop({"-id", QString::number(window), "_NET_WM_ALLOWED_ACTIONS"});
}

// The decorations a window asks the window manager for (Motif hints): bit 0x20 is the minimise
// button, 0x40 the maximise button.
quint32 askedDecorations(XServer& x, quint32 window) {
    const QString hints = x.xprop({"-id", QString::number(window), "_MOTIF_WM_HINTS"});
    return hints.section(u'=', 1).split(u',').value(2).trimmed().toUInt(nullptr, 16);
}

// Whether the window manager keeps a window minimised (ICCCM WM_STATE Iconic).
bool iconic(XServer& x, quint32 window) {
    return x.xprop({"-id", QString::number(window), "WM_STATE"}).contains("Iconic");
}

// Asks the window manager to maximise a window, or to restore it, as its title bar or keys would.
void maximise(XServer& x, quint32 window, bool on = true) {
    const auto atom = [&](const char* name) {
        auto* r = xcb_intern_atom_reply(
            x.connection(), xcb_intern_atom(x.connection(), 0, std::strlen(name), name), nullptr);
        const xcb_atom_t a = r ? r->atom : 0;
        std::free(r);
        return a;
    };
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = window;
    m.type = atom("_NET_WM_STATE");
    m.data.data32[0] = on ? 1 : 0;
    m.data.data32[1] = atom("_NET_WM_STATE_MAXIMIZED_HORZ");
    m.data.data32[2] = atom("_NET_WM_STATE_MAXIMIZED_VERT");
    m.data.data32[3] = 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.connection())).data->root;
    xcb_send_event(x.connection(), 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&m));
    xcb_flush(x.connection());
}

} // namespace

// The first launch's greeting: centred, only a close button, no control that a first Space
// would flip, Return for "Done", and the keyboard back where it was.
TEST(KeysAndWindows, TheWelcomeWindowTakesNoStrayKeyAndHandsTheKeyboardBack) {
    for (const bool manager : {false, true}) {
        SCOPED_TRACE(manager ? "openbox" : "no window manager");
        XServer::Options options;
        options.windowManager = manager;
        XServer x(options);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        const quint32 terminal = x.createWindow(QRect(100, 600, 500, 300), Qt::darkGray, manager);
        x.xdotool({manager ? "windowactivate" : "windowfocus", QString::number(terminal)});
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == terminal; }, 10));
        x.greeted = false;
        ASSERT_TRUE(x.startApp(OSTREL_BINARY));
        ASSERT_TRUE(waitUntil([&] { return windowNamed(x, "Welcome to Ostrel") != 0; }, 30))
            << x.appLog().toStdString();
        const quint32 welcome = windowNamed(x, "Welcome to Ostrel");
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == welcome; }, 10));
        if (manager) {
            // Only the close button is asked for. (openbox 3.6 draws its minimise and maximise
            // buttons whatever the hints say, but does not let the window be maximised.)
            EXPECT_EQ(askedDecorations(x, welcome) & 0x60, 0u);
            const QString actions = allowedActions(x, welcome);
            EXPECT_FALSE(actions.contains("MAXIMIZE")) << actions.toStdString();
            x.saveCapture(QStringLiteral("welcome-openbox"));
            // Minimise is not asked for, but openbox offers it on every window: what it offers
            // works, and the window manager's own list brings the greeting back.
            x.xdotool({"windowminimize", QString::number(welcome)});
            ASSERT_TRUE(waitUntil([&] { return iconic(x, welcome); }, 10));
            pump(1.0);
            EXPECT_TRUE(iconic(x, welcome)) << "minimised, it stays so";
            x.xdotool({"windowactivate", QString::number(welcome)});
            EXPECT_TRUE(
                waitUntil([&] { return !iconic(x, welcome) && x.window(welcome)->viewable; }, 10));
            ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == welcome; }, 10));
        } else {
            const auto geometry = x.window(welcome)->geometry;
            EXPECT_EQ(geometry.x(), (1920 - geometry.width()) / 2);
            EXPECT_EQ(geometry.y(), (1080 - geometry.height()) / 2);
        }

        x.key("space");
        pump(0.5);
        EXPECT_FALSE(QFile::exists(x.home().file("config/autostart/ostrel.desktop")));
        x.key("Return");
        EXPECT_TRUE(waitUntil([&] { return windowNamed(x, "Welcome to Ostrel") == 0; }, 10));
        EXPECT_TRUE(waitUntil([&] { return focusedWindow(x) == terminal; }, 10))
            << focusedWindow(x) << " " << terminal;
        EXPECT_EQ(x.stopApp(), 0);
    }
}

// Settings under a window manager: maximise undone, the height free to grow, no empty title-bar
// room above the sidebar's header, and minimised it comes back when asked for again. With a window
// manager or without: closing it gives the keyboard back to the window that had it before.
TEST(KeysAndWindows, SettingsFitsTheWindowManagerAndHandsTheKeyboardBack) {
    for (const bool manager : {false, true}) {
        SCOPED_TRACE(manager ? "openbox" : "no window manager");
        XServer::Options options;
        options.windowManager = manager;
        XServer x(options);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        const quint32 terminal = x.createWindow(QRect(100, 600, 500, 300), Qt::darkGray, manager);
        x.xdotool({manager ? "windowactivate" : "windowfocus", QString::number(terminal)});
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == terminal; }, 10));
        ASSERT_TRUE(x.startApp(OSTREL_BINARY));
        ASSERT_TRUE(waitUntil([&] { return shownPanel(x).has_value(); }, 20))
            << x.appLog().toStdString();
        QProcess again;
        again.setProcessEnvironment(x.environment());
        again.start(OSTREL_BINARY, {});
        ASSERT_TRUE(again.waitForFinished(30000));
        ASSERT_TRUE(waitUntil([&] { return windowNamed(x, "Settings") != 0; }, 20));
        const quint32 settings = windowNamed(x, "Settings");
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == settings; }, 10));
        const QRect frame = x.window(settings)->geometry;
        if (manager) {
            EXPECT_EQ(askedDecorations(x, settings) & 0x40, 0u);
            x.saveCapture(QStringLiteral("settings-openbox"));
            // openbox offers maximise on every window whose size may change, whatever it asks:
            // what it offers works as the window's own rule has it, the height growing to the
            // screen's and the width kept, and is undone as asked.
            EXPECT_TRUE(allowedActions(x, settings).contains("MAXIMIZE_VERT"));
            const auto zoomed = [&] {
                const QSize now = x.window(settings)->geometry.size();
                return now.width() == frame.width() && now.height() > frame.height() + 300;
            };
            maximise(x, settings);
            EXPECT_TRUE(waitUntil(zoomed));
            pump(0.8);
            EXPECT_TRUE(zoomed()) << x.window(settings)->geometry.width() << " x "
                                  << x.window(settings)->geometry.height();
            x.saveCapture(QStringLiteral("settings-openbox-maximised"));
            maximise(x, settings, false);
            EXPECT_TRUE(waitUntil([&] {
                return x.window(settings)->geometry.size() == frame.size();
            })) << x.window(settings)->geometry.width()
                << " x " << x.window(settings)->geometry.height();
            // The height is free to grow, the width is not.
            x.xdotool({"windowsize", QString::number(settings), QString::number(frame.width() + 50),
                       QString::number(frame.height() + 120)});
            EXPECT_TRUE(waitUntil(
                [&] { return x.window(settings)->geometry.size() == frame.size() + QSize(0, 120); },
                10))
                << x.window(settings)->geometry.height();
            // The application icon heads the sidebar 24 pixels into its panel, which starts 8
            // pixels into the window: its middle is no longer the sidebar's plain fill.
            pump(0.5);
            const QColor middle(x.capture().pixel(frame.topLeft() + QPoint(38, 50)));
            EXPECT_GT(std::abs(middle.red() - middle.blue()) + std::abs(middle.green() - 226), 24)
                << middle.name().toStdString();
        }
        if (manager) {
            // Minimised, it comes back when Settings is asked for again.
            x.xdotool({"windowminimize", QString::number(settings)});
            ASSERT_TRUE(waitUntil([&] { return iconic(x, settings); }, 10));
            again.start(OSTREL_BINARY, {});
            ASSERT_TRUE(again.waitForFinished(30000));
            EXPECT_TRUE(waitUntil([&] { return !iconic(x, settings); }, 10));
            // Back, it takes the keyboard: only then may the user go elsewhere.
            ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == settings; }));
        }
        // The user visits another window and comes back before closing: the keyboard goes to
        // the window it was taken from, not to the last one the window manager would pick.
        const quint32 other = x.createWindow(QRect(700, 100, 400, 300), Qt::darkBlue, manager);
        x.xdotool({manager ? "windowactivate" : "windowfocus", QString::number(other)});
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == other; }, 10));
        x.xdotool({manager ? "windowactivate" : "windowfocus", QString::number(settings)});
        ASSERT_TRUE(waitUntil([&] { return focusedWindow(x) == settings; }, 10));
        x.key("ctrl+w");
        EXPECT_TRUE(waitUntil([&] { return windowNamed(x, "Settings") == 0; }, 10));
        EXPECT_TRUE(waitUntil([&] { return focusedWindow(x) == terminal; }, 10))
            << focusedWindow(x) << " " << terminal;
        EXPECT_EQ(x.stopApp(), 0);
    }
}

// Without a window manager, Settings left on a display that is unplugged comes back onto the
// remaining one.
TEST(KeysAndWindows, SettingsOnAnUnpluggedDisplayComesBack) {
    XServer::Options o;
    o.size = QSize(3840, 1080);
    o.twoMonitors = true;
    XServer x(o);
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(OSTREL_BINARY));
    ASSERT_TRUE(waitUntil([&] { return shownPanel(x).has_value(); }, 20))
        << x.appLog().toStdString();
    QProcess again;
    again.setProcessEnvironment(x.environment());
    again.start(OSTREL_BINARY, {});
    ASSERT_TRUE(again.waitForFinished(30000));
    ASSERT_TRUE(waitUntil([&] { return windowNamed(x, "Settings") != 0; }, 20));
    const quint32 settings = windowNamed(x, "Settings");
    x.xdotool({"windowmove", QString::number(settings), "2400", "200"});
    ASSERT_TRUE(waitUntil([&] { return x.window(settings)->geometry.x() == 2400; }, 10));
    ASSERT_TRUE(x.removeMonitor(QStringLiteral("RIGHT")));
    EXPECT_TRUE(waitUntil(
        [&] { return QRect(0, 0, 1920, 1080).contains(x.window(settings)->geometry); }, 10))
        << x.window(settings)->geometry.x();
    EXPECT_EQ(x.stopApp(), 0);
}
