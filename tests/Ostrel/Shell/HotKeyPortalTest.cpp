// The shortcut on a Wayland session, against a stub of the desktop portal on a private bus.
#include "Ostrel/Shell/HotKey.h"
#include "Platform/PortalShortcut.h"

#include "support/SessionBus.h"
#include "support/StubPortal.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;
using ostrel::test::SessionBus;
using ostrel::test::StubPortal;
using ostrel::test::waitUntil;

namespace {

constexpr qint64 space = 49;

struct HotKeyPortal : ::testing::Test {
    SessionBus bus;
    QDBusConnection portalSide = bus.connect(QStringLiteral("portal"));
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    std::unique_ptr<StubPortal> portal = std::make_unique<StubPortal>(portalSide);
    int fired = 0;

    void SetUp() override {
        ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
        ASSERT_TRUE(portalSide.registerVirtualObject(PortalShortcut::path, portal.get(),
                                                     QDBusConnection::SubPath));
        ASSERT_TRUE(portalSide.registerService(PortalShortcut::service));
    }
    void TearDown() override { portalSide.unregisterObject(PortalShortcut::path); }

    std::unique_ptr<HotKey> make(qint64 modifiers, const QDBusConnection& on) {
        return std::make_unique<HotKey>(
            nullptr, space, modifiers, [this] { ++fired; }, true, &on);
    }
};

} // namespace

TEST_F(HotKeyPortal, BindsOurCombinationTogglesOnActivationAndClosesTheSessionWhenReplaced) {
    for (const bool early : {false, true}) {
        portal->answerBeforeReply = early; // a portal may answer before the call returns
        fired = 0;
        auto key = make(HotKey::option, client);
        EXPECT_EQ(key->status(), HotKey::Status::pending);
        EXPECT_FALSE(HotKey::errorText(key->status()));
        ASSERT_TRUE(waitUntil([&] { return key->status() == HotKey::Status::registered; }, 10))
            << "early answer: " << early;
        ASSERT_EQ(portal->bound.size(), 1);
        EXPECT_EQ(portal->bound.front().properties.value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("ALT+space"));

        portal->press(portal->bound.front().id, portal->session);
        ASSERT_TRUE(waitUntil([&] { return fired == 1; }, 10));
        // Another session's or another shortcut's activation is not ours.
        portal->press(QStringLiteral("other"), portal->session);
        portal->press(portal->bound.front().id,
                      PortalShortcut::path + QStringLiteral("/session/x/y"));
        test::pump(0.2);
        EXPECT_EQ(fired, 1);

        // A changed combination is a new registration; the old session is closed first.
        const QString oldSession = portal->session;
        key.reset();
        key = make(HotKey::command | HotKey::shift | HotKey::control, client);
        ASSERT_TRUE(waitUntil([&] { return key->status() == HotKey::Status::registered; }, 10));
        EXPECT_TRUE(portal->calls.contains(QStringLiteral("Close")));
        EXPECT_EQ(portal->bound.front().properties.value(QStringLiteral("preferred_trigger")),
                  QStringLiteral("CTRL+SHIFT+LOGO+space"));
        portal->press(portal->bound.front().id, oldSession);
        test::pump(0.2);
        EXPECT_EQ(fired, 1) << "the old session no longer toggles";
        portal->calls.clear();
    }
}

TEST_F(HotKeyPortal, ARefusalAndAMissingPortalEachSayTheirOwnSentence) {
    const auto taken = HotKey::errorText(HotKey::Status::taken);
    QList<HotKey::Status> seen;
    for (const int round : {0, 1}) {
        portal->bindResponse = round == 0 ? 1 : 0;
        portal->leaveOutShortcut = round == 1;
        auto key = make(HotKey::option, client);
        QObject::connect(key.get(), &HotKey::statusChanged,
                         [&](HotKey::Status status) { seen << status; });
        ASSERT_TRUE(waitUntil([&] { return key->status() == HotKey::Status::portalRefused; }, 10))
            << "round " << round;
        const auto text = HotKey::errorText(key->status());
        ASSERT_TRUE(text);
        EXPECT_NE(text, taken);
    }
    EXPECT_EQ(seen, (QList<HotKey::Status>{HotKey::Status::portalRefused,
                                           HotKey::Status::portalRefused}));

    // A bus where nothing answers for the portal.
    portalSide.unregisterService(PortalShortcut::service);
    auto absent = make(HotKey::option, client);
    ASSERT_TRUE(waitUntil([&] { return absent->status() == HotKey::Status::wayland; }, 10));
    const auto sentence = HotKey::errorText(absent->status());
    ASSERT_TRUE(sentence);
    EXPECT_NE(sentence, taken);
    EXPECT_NE(sentence, HotKey::errorText(HotKey::Status::portalRefused));

    // An unknown stored key is said as such, portal or not.
    HotKey unknown(
        nullptr, 200, HotKey::option, [] {}, true, &client);
    EXPECT_EQ(unknown.status(), HotKey::Status::noKey);
}
