// The desktop's reduce-motion and increase-contrast switches, read from a stub of the settings
// portal on a private bus.
#include "Platform/PortalAccessibility.h"

#include "support/SessionBus.h"
#include "support/StubPortal.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;
using ostrel::test::SessionBus;
using ostrel::test::StubPortal;
using ostrel::test::waitUntil;
using Reading = PortalAccessibility::Reading;
using Switch = PortalAccessibility::Switch;

namespace {

const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString gnome = QStringLiteral("org.gnome.desktop.interface");
const QString gnomeA11y = QStringLiteral("org.gnome.desktop.a11y.interface");
const QString kde = QStringLiteral("org.kde.kdeglobals.KDE");

struct PortalAccessibilityTest : ::testing::Test {
    SessionBus bus;
    QDBusConnection portalSide = bus.connect(QStringLiteral("portal"));
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    StubPortal portal{portalSide};

    void SetUp() override {
        ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
        ASSERT_TRUE(portalSide.registerVirtualObject(PortalAccessibility::path, &portal,
                                                     QDBusConnection::SubPath));
        ASSERT_TRUE(portalSide.registerService(PortalAccessibility::service));
    }
    void TearDown() override { portalSide.unregisterObject(PortalAccessibility::path); }

    bool answered() { return portal.calls.contains(QStringLiteral("ReadAll")); }
};

} // namespace

TEST(PortalAccessibilityReading, EachDesktopsKeyWithItsOwnTypeAndNothingElse) {
    const auto r = &PortalAccessibility::reading;
    const Reading motionOn{Switch::reduceMotion, true};
    const Reading motionOff{Switch::reduceMotion, false};
    const Reading contrastOn{Switch::increaseContrast, true};
    const Reading contrastOff{Switch::increaseContrast, false};
    EXPECT_EQ(r(appearance, "reduced-motion", 1u), motionOn);
    EXPECT_EQ(r(appearance, "contrast", 1u), contrastOn);
    EXPECT_EQ(r(appearance, "contrast", 2u), contrastOff) << "unknown values are no preference";
    EXPECT_EQ(r(appearance, "contrast", QVariant::fromValue(QDBusVariant(1u))), contrastOn);
    EXPECT_EQ(r(gnome, "enable-animations", false), motionOn);
    EXPECT_EQ(r(gnome, "enable-animations", true), motionOff);
    EXPECT_EQ(r(gnomeA11y, "high-contrast", true), contrastOn);
    // KDE's portal sends its configuration as text.
    EXPECT_EQ(r(kde, "AnimationDurationFactor", QStringLiteral("0")), motionOn);
    EXPECT_EQ(r(kde, "AnimationDurationFactor", QStringLiteral(" 0.5 ")), motionOff);
    EXPECT_EQ(r(kde, "AnimationDurationFactor", 0.0), motionOn);
    // Wrong types, other keys and other namespaces say nothing.
    EXPECT_FALSE(r(appearance, "contrast", QStringLiteral("1")));
    EXPECT_FALSE(r(appearance, "color-scheme", 1u));
    EXPECT_FALSE(r(gnome, "enable-animations", 0u));
    EXPECT_FALSE(r(gnome, "high-contrast", true));
    EXPECT_FALSE(r(gnomeA11y, "high-contrast", QStringLiteral("true")));
    EXPECT_FALSE(r(kde, "AnimationDurationFactor", QStringLiteral("fast")));
    EXPECT_FALSE(r(kde, "AnimationDurationFactor", -1.0));
    EXPECT_FALSE(r(kde, "AnimationDurationFactor", true));
}

// Read once as a whole, then followed: any desktop key that asks for a switch turns it on, and
// a value of the wrong type counts as unset.
TEST_F(PortalAccessibilityTest, ReadsEveryDesktopsKeysAndFollowsTheirChanges) {
    portal.settings[gnome].insert(QStringLiteral("enable-animations"), false);
    portal.settings[gnome].insert(QStringLiteral("font-name"), QStringLiteral("Cantarell 11"));
    portal.settings[gnomeA11y].insert(QStringLiteral("high-contrast"), true);
    PortalAccessibility a(client);
    int changes = 0;
    QObject::connect(&a, &PortalAccessibility::changed, [&] { ++changes; });
    EXPECT_FALSE(a.reduceMotion()) << "off until the portal answers";
    ASSERT_TRUE(waitUntil([&] { return a.reduceMotion(); }, 10));
    EXPECT_TRUE(a.increaseContrast());
    EXPECT_EQ(changes, 1);

    portal.change(gnome, QStringLiteral("enable-animations"), true);
    ASSERT_TRUE(waitUntil([&] { return !a.reduceMotion(); }, 10));
    portal.change(kde, QStringLiteral("AnimationDurationFactor"), QStringLiteral("0"));
    ASSERT_TRUE(waitUntil([&] { return a.reduceMotion(); }, 10));
    portal.change(gnomeA11y, QStringLiteral("high-contrast"), false);
    ASSERT_TRUE(waitUntil([&] { return !a.increaseContrast(); }, 10));
    portal.change(appearance, QStringLiteral("contrast"), 1u);
    ASSERT_TRUE(waitUntil([&] { return a.increaseContrast(); }, 10));
    portal.change(appearance, QStringLiteral("contrast"), QStringLiteral("high"));
    ASSERT_TRUE(waitUntil([&] { return !a.increaseContrast(); }, 10));
    EXPECT_TRUE(a.reduceMotion());
    EXPECT_EQ(changes, 6);
}

// A portal that is missing, slow, silent or answers nonsense: off until a word comes, the main
// thread never waits, and changes are still followed.
TEST_F(PortalAccessibilityTest, MissingSlowSilentOrGarbledPortalsLeaveTheSwitchesOff) {
    portal.settings[appearance].insert(QStringLiteral("reduced-motion"), 1u);

    portalSide.unregisterService(PortalAccessibility::service);
    PortalAccessibility nobody(client);
    test::pump(0.2);
    EXPECT_FALSE(nobody.reduceMotion());
    ASSERT_TRUE(portalSide.registerService(PortalAccessibility::service));

    portal.settingsMalformed = true;
    PortalAccessibility garbled(client);
    ASSERT_TRUE(waitUntil([&] { return answered(); }, 10));
    test::pump(0.2);
    EXPECT_FALSE(garbled.reduceMotion());
    portal.settingsMalformed = false;

    portal.settingsDelayMs = -1;
    PortalAccessibility silent(client, 300);
    test::pump(0.6);
    EXPECT_FALSE(silent.reduceMotion());
    portal.change(appearance, QStringLiteral("reduced-motion"), 1u);
    EXPECT_TRUE(waitUntil([&] { return silent.reduceMotion(); }, 10));

    portal.settingsDelayMs = 700;
    PortalAccessibility slow(client);
    EXPECT_FALSE(slow.reduceMotion()) << "asked without waiting for the answer";
    EXPECT_TRUE(waitUntil([&] { return slow.reduceMotion(); }, 10));
}
