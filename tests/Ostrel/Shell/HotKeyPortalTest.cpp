// The shortcut on a Wayland session, against a stub of the desktop portal on a private bus.
#include "Ostrel/Shell/HotKey.h"
#include "Platform/PortalShortcut.h"

#include "support/SessionBus.h"
#include "support/Wait.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;
using ostrel::test::SessionBus;
using ostrel::test::waitUntil;

namespace {

struct StubEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const StubEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StubEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(StubEntry)

namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");

// The GlobalShortcuts interface as a desktop offers it: requests answered by a Response signal
// on the request's path, a session per CreateSession, Activated when the user presses the keys.
class StubPortal : public QDBusVirtualObject {
public:
    explicit StubPortal(QDBusConnection bus) : bus_(std::move(bus)) {
        qDBusRegisterMetaType<StubEntry>();
        qDBusRegisterMetaType<QList<StubEntry>>();
    }

    uint bindResponse = 0;         // 1: the user declined
    bool leaveOutShortcut = false; // answer success, but bind nothing
    bool answerBeforeReply = false;
    QStringList calls;
    QString session;
    QList<StubEntry> bound;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls << message.member();
        if (message.member() == QStringLiteral("Close")) {
            bus_.send(message.createReply());
            return true;
        }
        const QVariantList args = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString request = desktopPath + QStringLiteral("/request/") + sender + u'/' +
                                options.value(QStringLiteral("handle_token")).toString();
        uint response = 0;
        QVariantMap results;
        if (message.member() == QStringLiteral("CreateSession")) {
            session = desktopPath + QStringLiteral("/session/") + sender + u'/' +
                      options.value(QStringLiteral("session_handle_token")).toString();
            results.insert(QStringLiteral("session_handle"), session);
        } else if (message.member() == QStringLiteral("BindShortcuts")) {
            bound = qdbus_cast<QList<StubEntry>>(args.at(1));
            response = bindResponse;
            QList<StubEntry> answer;
            if (!leaveOutShortcut) {
                for (StubEntry entry : std::as_const(bound)) {
                    entry.properties.insert(QStringLiteral("trigger_description"),
                                            QStringLiteral("Alt+Space"));
                    answer << entry;
                }
            }
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(answer));
        } else {
            bus_.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        QDBusMessage signal = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        const QDBusMessage reply =
            message.createReply(QVariant::fromValue(QDBusObjectPath(request)));
        if (answerBeforeReply) {
            bus_.send(signal);
            bus_.send(reply);
        } else {
            bus_.send(reply);
            bus_.send(signal);
        }
        return true;
    }

    void press(const QString& id, const QString& inSession) {
        QDBusMessage signal = QDBusMessage::createSignal(desktopPath, PortalShortcut::interface,
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(inSession)) << id << qulonglong(1)
               << QVariantMap();
        bus_.send(signal);
    }

private:
    QDBusConnection bus_;
};

constexpr qint64 space = 49;

struct HotKeyPortal : ::testing::Test {
    SessionBus bus;
    QDBusConnection portalSide = bus.connect(QStringLiteral("portal"));
    QDBusConnection client = bus.connect(QStringLiteral("client"));
    std::unique_ptr<StubPortal> portal = std::make_unique<StubPortal>(portalSide);
    int fired = 0;

    void SetUp() override {
        ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
        ASSERT_TRUE(
            portalSide.registerVirtualObject(desktopPath, portal.get(), QDBusConnection::SubPath));
        ASSERT_TRUE(portalSide.registerService(PortalShortcut::service));
    }
    void TearDown() override { portalSide.unregisterObject(desktopPath); }

    std::unique_ptr<HotKey> make(qint64 modifiers, const QDBusConnection& on) {
        return std::make_unique<HotKey>(
            nullptr, space, modifiers, [this] { ++fired; }, true, on);
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
        portal->press(portal->bound.front().id, desktopPath + QStringLiteral("/session/x/y"));
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
        nullptr, 200, HotKey::option, [] {}, true, client);
    EXPECT_EQ(unknown.status(), HotKey::Status::noKey);
}
