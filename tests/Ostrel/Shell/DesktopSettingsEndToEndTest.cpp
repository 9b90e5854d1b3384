// The real binary on a private X server, its desktop settings from a stub of the settings portal
// on a private bus.
#include "Platform/PortalAccessibility.h"
#include "support/NoisePicture.h"
#include "support/OpenDrawer.h"
#include "support/SessionBus.h"
#include "support/StubPortal.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <algorithm>
#include <functional>
#include <utility>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString gnome = QStringLiteral("org.gnome.desktop.interface");

bool logSays(XServer& x, const QString& text, double seconds = 20) {
    return waitUntil([&] { return x.appLog().contains(text); }, seconds);
}

// The desktop's settings portal, a stub on a private bus of its own; the application reaches it
// through `environment`.
struct DesktopPortal {
    SessionBus bus;
    QDBusConnection side = bus.connect(QStringLiteral("portal"));
    StubPortal portal{side};

    ~DesktopPortal() { side.unregisterObject(PortalAccessibility::path); }
    // Whether the bus runs and the portal took its name on it.
    bool up() {
        return bus.ok() &&
               side.registerVirtualObject(PortalAccessibility::path, &portal,
                                          QDBusConnection::SubPath) &&
               side.registerService(PortalAccessibility::service);
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment env;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        return env;
    }
    // The desktop asks for reduced motion from the start, and the application runs its motions
    // slowly enough to catch the drawer on its way.
    QProcessEnvironment reducingMotion();
};

QProcessEnvironment DesktopPortal::reducingMotion() {
    portal.settings[gnome].insert(QStringLiteral("enable-animations"), false);
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("3"));
    return env;
}

// How the drawer came down, told by two points of its black surface: one just under the top
// edge's middle, one low at the left. Growing from the top edge reaches the first long before
// the second; fading in shows both at once.
struct Opening {
    bool grew = false;
    bool open = false;
};

Opening watchOpening(XServer& x, const std::function<void()>& midway = {}) {
    const QRect area = openDrawer();
    const QPoint top(area.width() / 2, 12);
    const QPoint low = drawerProbe(QRect(QPoint(), area.size()));
    Opening seen;
    bool halfway = false;
    x.key(QStringLiteral("alt+space"));
    waitUntil(
        [&] {
            const QImage frame = x.capture(area);
            seen.grew = seen.grew || (dark(frame, top) && !dark(frame, low));
            if (midway && !halfway && dark(frame, top)) {
                halfway = true;
                midway();
            }
            return dark(frame, low) && dark(frame, top);
        },
        10);
    // Settled open, not caught on the way.
    pump(1.0);
    seen.open = dark(x.capture(area), low);
    return seen;
}

bool closes(XServer& x) {
    x.key(QStringLiteral("alt+space"));
    return waitUntil([&] { return !drawerOpen(x); }, 10);
}

} // namespace

// The desktop's reduce-motion switch, read at start and followed: the drawer fades in where it
// would grow, and the other way once the desktop changes its mind; a change in the middle of an
// opening neither stops nor strands the drawer.
TEST(DesktopSettingsEndToEnd, TheDrawerFollowsTheDesktopsReduceMotion) {
    DesktopPortal settings;
    ASSERT_TRUE(settings.up()) << settings.bus.error().toStdString();
    StubPortal& portal = settings.portal;
    const QProcessEnvironment env = settings.reducingMotion();

    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    ASSERT_TRUE(logSays(x, QStringLiteral("reduce motion on"))) << x.appLog().toStdString();
    ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut is registered")));
    x.moveTo(QPoint(960, 700));
    pump(0.5);

    Opening o = watchOpening(x);
    EXPECT_FALSE(o.grew) << "faded in under reduce motion";
    EXPECT_TRUE(o.open);
    ASSERT_TRUE(closes(x));

    portal.change(gnome, QStringLiteral("enable-animations"), true);
    ASSERT_TRUE(logSays(x, QStringLiteral("reduce motion off")));
    o = watchOpening(x, [&] { portal.change(gnome, QStringLiteral("enable-animations"), false); });
    EXPECT_TRUE(o.grew);
    EXPECT_TRUE(o.open);
    EXPECT_TRUE(closes(x));
    EXPECT_EQ(x.stopApp(), 0);
}

// Reduce motion with unread items on the shelf, its glow lit: with a compositor the drawer fades in
// and out over the desktop; without one a fade cannot blend, so the drawer comes and goes at once.
// Either way no frame shows the drawer washed in the glow's accent colour.
TEST(DesktopSettingsEndToEnd, UnderReduceMotionTheDrawerFadesOnlyWhereItCanBlend) {
    for (const bool compositor : {false, true}) {
        SCOPED_TRACE(compositor ? "compositor" : "no compositor");
        DesktopPortal settings;
        ASSERT_TRUE(settings.up()) << settings.bus.error().toStdString();
        const QProcessEnvironment env = settings.reducingMotion();

        XServer::Options o;
        o.compositor = compositor;
        XServer x(o);
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        // A light desktop, so that a fade shows as shades between it and the drawer's black.
        const QColor desktop(190, 190, 190);
        x.createWindow(QRect(0, 0, 1920, 1080), desktop);
        ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
        ASSERT_TRUE(logSays(x, QStringLiteral("reduce motion on"))) << x.appLog().toStdString();
        ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut is registered")));
        ASSERT_TRUE(noisePicture(400, 300, 5).save(x.scratchpad() + QStringLiteral("/new.png")));
        ASSERT_TRUE(logSays(x, QStringLiteral("added")));
        x.moveTo(QPoint(960, 700));
        // The glow lit: the line at the top of the screen in its accent colour.
        const auto lit = [&] {
            const QColor line(x.capture(QRect(960, 1, 1, 1)).pixel(0, 0));
            return line.red() - line.blue() > 60;
        };
        ASSERT_TRUE(waitUntil(lit, 20));
        pump(0.5);

        // Every colour the drawer's surface takes on its way, open and then closed again.
        const QPoint probe = drawerProbe();
        // Opened and closed by the pointer, which leaves the new item unread.
        const auto watch = [&](const QColor& end, const QPoint& pointer) {
            QList<QColor> seen;
            x.moveTo(pointer);
            EXPECT_TRUE(waitUntil(
                [&] {
                    seen.append(QColor(x.capture(QRect(probe, QSize(1, 1))).pixel(0, 0)));
                    return seen.size() > 1 && seen.last() == end && seen[seen.size() - 2] == end;
                },
                10));
            return seen;
        };
        const QList<QColor> opening = watch(Qt::black, QPoint(960, 0));
        const QList<QColor> closing = watch(desktop, QPoint(960, 1000));
        const auto between = [&](const QColor& c) {
            return c != desktop && c != QColor(Qt::black);
        };
        // The desktop's grey and the drawer's black mix to greys; the glow's salmon does not.
        const auto washed = [](const QColor& c) { return c.red() - c.blue() > 16; };
        for (const auto& [phase, seen] :
             {std::pair{"opening", opening}, std::pair{"closing", closing}}) {
            SCOPED_TRACE(phase);
            const qsizetype shades = std::count_if(seen.begin(), seen.end(), between);
            const auto first = std::find_if(seen.begin(), seen.end(), between);
            if (compositor) {
                EXPECT_GT(shades, 0) << "faded";
                const auto wash = std::find_if(seen.begin(), seen.end(), washed);
                EXPECT_EQ(wash, seen.end()) << wash->name().toStdString();
            } else {
                EXPECT_EQ(shades, 0) << first->name().toStdString();
            }
        }
        EXPECT_EQ(x.stopApp(), 0);
    }
}

// The desktop's reduce-motion and contrast switches flipped ten times a second while the drawer
// opens and closes: nothing crashes, nothing shows off screen, and the drawer still opens after,
// and follows the contrast while it stays open.
TEST(DesktopSettingsEndToEnd, SettingsFlippingTenTimesASecondLeaveAWorkingShelf) {
    DesktopPortal settings;
    ASSERT_TRUE(settings.up()) << settings.bus.error().toStdString();
    StubPortal& portal = settings.portal;
    QProcessEnvironment env = settings.environment();
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
    ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut is registered")));
    ASSERT_TRUE(noisePicture(400, 300, 5).save(x.scratchpad() + QStringLiteral("/new.png")));
    ASSERT_TRUE(logSays(x, QStringLiteral("added")));
    x.moveTo(QPoint(960, 700));

    const QRect screen(0, 0, 1920, 1080);
    bool offScreen = false;
    for (int tick = 0; tick < 40; ++tick) {
        portal.change(gnome, QStringLiteral("enable-animations"), tick % 2 == 0);
        portal.change(QStringLiteral("org.gnome.desktop.a11y.interface"),
                      QStringLiteral("high-contrast"), tick % 3 == 0);
        if (tick % 4 == 0) {
            x.key(QStringLiteral("alt+space"));
        }
        pump(0.1);
        for (const XServer::Window& w : x.appWindows()) {
            offScreen = offScreen || (w.viewable && !screen.contains(w.geometry));
        }
    }
    EXPECT_FALSE(offScreen);
    ASSERT_EQ(x.app()->state(), QProcess::Running);
    EXPECT_TRUE(logSays(x, QStringLiteral("increase contrast on")));
    pump(1.0);
    if (drawerOpen(x)) {
        EXPECT_TRUE(closes(x));
    }
    x.key(QStringLiteral("alt+space"));
    EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    // The open drawer takes the desktop's contrast as it changes, not at its next opening.
    pump(1.0);
    const QRect drawer = openDrawer();
    const QImage before = x.capture(drawer);
    const QString off = QStringLiteral("increase contrast off");
    const qsizetype offs = x.appLog().count(off);
    portal.change(QStringLiteral("org.gnome.desktop.a11y.interface"),
                  QStringLiteral("high-contrast"), false);
    ASSERT_TRUE(waitUntil([&] { return x.appLog().count(off) > offs; }, 10));
    EXPECT_TRUE(waitUntil([&] { return x.capture(drawer) != before; }, 5));
    EXPECT_TRUE(closes(x));
    EXPECT_EQ(x.stopApp(), 0);
}
