// The real binary on a private X server: the global shortcut opens and closes the shelf.
#include "Platform/X11/XcbWindowSystem.h"
#include "support/OpenDrawer.h"
#include "support/SessionBus.h"
#include "support/StubPortal.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

bool logSays(XServer& x, const QString& text, double seconds = 20) {
    return waitUntil([&] { return x.appLog().contains(text); }, seconds);
}

void key(XServer& x, const QString& keys) {
    x.xdotool({QStringLiteral("key"), keys});
}

} // namespace

TEST(HotKeyEndToEnd, AltSpaceTogglesTheShelfAlsoWithNumLockOn) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut is registered")))
        << x.appLog().toStdString();
    x.moveTo(QPoint(960, 700));
    pump(0.3);
    EXPECT_FALSE(drawerOpen(x));

    key(x, QStringLiteral("alt+space"));
    ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10)) << x.appLog().toStdString();
    key(x, QStringLiteral("alt+space"));
    ASSERT_TRUE(waitUntil([&] { return !drawerOpen(x); }, 10));

    key(x, QStringLiteral("Num_Lock"));
    key(x, QStringLiteral("alt+space"));
    EXPECT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10));
    key(x, QStringLiteral("Num_Lock"));
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(HotKeyEndToEnd, ACombinationHeldByAnotherClientIsReportedAndLeftAlone) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    x11::XcbWindowSystem other(x.display().toLatin1());
    ASSERT_EQ(other.grabKey(65, 0x08 | other.numLockMask()),
              x11::WindowSystem::GrabResult::grabbed);
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    EXPECT_TRUE(logSays(x, QStringLiteral("Another app already uses this shortcut.")))
        << x.appLog().toStdString();
    // The variants the application did get were let go again.
    ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut could not be registered")));
    EXPECT_EQ(other.grabKey(65, 0x08), x11::WindowSystem::GrabResult::grabbed);
    EXPECT_EQ(x.stopApp(), 0);
}

TEST(HotKeyEndToEnd, AHeldCombinationTogglesOnceNotOnEveryRepeat) {
    XServer x;
    ASSERT_TRUE(x.ok()) << x.error().toStdString();
    ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY)));
    ASSERT_TRUE(logSays(x, QStringLiteral("the shortcut is registered")))
        << x.appLog().toStdString();
    x.moveTo(QPoint(960, 700));
    pump(0.3);

    // The server repeats a held key after about 0.7 s, then every 40 ms.
    x.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")});
    ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10)) << x.appLog().toStdString();
    int closedWhileHeld = 0;
    QDeadlineTimer held(1500);
    while (!held.hasExpired()) {
        closedWhileHeld += drawerOpen(x) ? 0 : 1;
        pump(0.03);
    }
    x.xdotool({QStringLiteral("keyup"), QStringLiteral("space")});
    x.xdotool({QStringLiteral("keyup"), QStringLiteral("alt")});
    pump(0.3);
    EXPECT_EQ(closedWhileHeld, 0);
    EXPECT_TRUE(drawerOpen(x));
    EXPECT_EQ(x.stopApp(), 0);
}

// On a Wayland session the application binds the shortcut through the portal and toggles the
// shelf on its Activated signal; a desktop that declines is said in its own sentence.
TEST(HotKeyEndToEnd, OnWaylandThePortalsActivationTogglesAndItsRefusalIsSaid) {
    SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
    QDBusConnection portalSide = bus.connect(QStringLiteral("portal"));
    StubPortal portal(portalSide);
    ASSERT_TRUE(
        portalSide.registerVirtualObject(PortalShortcut::path, &portal, QDBusConnection::SubPath));
    ASSERT_TRUE(portalSide.registerService(PortalShortcut::service));
    QProcessEnvironment env;
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));

    for (const uint response : {0u, 1u}) {
        portal.bindResponse = response;
        portal.bound.clear();
        XServer x;
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(x.startApp(QStringLiteral(OSTREL_BINARY), {}, env));
        if (response != 0) {
            EXPECT_TRUE(logSays(x, QStringLiteral("The desktop did not allow this shortcut.")))
                << x.appLog().toStdString();
            EXPECT_EQ(x.stopApp(), 0);
            break;
        }
        ASSERT_TRUE(waitUntil([&] { return !portal.bound.isEmpty(); }, 20))
            << x.appLog().toStdString();
        EXPECT_EQ(portal.bound.front().properties.value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("ALT+space"));
        x.moveTo(QPoint(960, 700));
        pump(0.5);
        ASSERT_FALSE(drawerOpen(x));
        portal.press(portal.bound.front().id, portal.session);
        ASSERT_TRUE(waitUntil([&] { return drawerOpen(x); }, 10)) << x.appLog().toStdString();
        portal.press(portal.bound.front().id, portal.session);
        ASSERT_TRUE(waitUntil([&] { return !drawerOpen(x); }, 10));
        // No X grab was taken: the combination is the desktop's to deliver.
        key(x, QStringLiteral("alt+space"));
        pump(0.5);
        EXPECT_FALSE(drawerOpen(x));
        EXPECT_EQ(x.stopApp(), 0);
    }
    portalSide.unregisterObject(PortalShortcut::path);
}
