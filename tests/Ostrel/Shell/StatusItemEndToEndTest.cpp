// The real binary on a private X server and a private session bus whose tray host is a stub
// StatusNotifierWatcher: Qt's tray item registers there and exports its menu over dbusmenu, which
// the test reads and clicks as a panel would.
#include "support/NoisePicture.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "support/XServer.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// The host side of the tray protocol: it says a host is there and notes who registers.
class StubWatcher : public QDBusVirtualObject {
public:
    explicit StubWatcher(QDBusConnection bus) : bus_(std::move(bus)) {}

    // (registered name or path, the sender's unique name)
    QList<QPair<QString, QString>> items;

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/>"
            "</method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg type=\"s\" direction=\"in\"/>"
            "</method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierHostRegistered\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const QString member = message.member();
        if (member == QStringLiteral("Introspect")) {
            return false; // answered by Qt from introspect()
        }
        if (member == QStringLiteral("RegisterStatusNotifierItem")) {
            items << qMakePair(message.arguments().value(0).toString(), message.service());
            bus_.send(message.createReply());
        } else if (member == QStringLiteral("RegisterStatusNotifierHost")) {
            bus_.send(message.createReply());
        } else if (member == QStringLiteral("Get")) {
            bus_.send(message.createReply(QVariant::fromValue(
                QDBusVariant(property(message.arguments().value(1).toString())))));
        } else if (member == QStringLiteral("GetAll")) {
            QVariantMap all;
            for (const char* name : {"RegisteredStatusNotifierItems",
                                     "IsStatusNotifierHostRegistered", "ProtocolVersion"}) {
                all.insert(QLatin1String(name), property(QLatin1String(name)));
            }
            bus_.send(message.createReply(QVariant::fromValue(all)));
        } else {
            bus_.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        }
        return true;
    }

private:
    QVariant property(const QString& name) const {
        if (name == QStringLiteral("IsStatusNotifierHostRegistered")) {
            return true;
        }
        if (name == QStringLiteral("ProtocolVersion")) {
            return 0;
        }
        QStringList names;
        for (const auto& item : items) {
            names << item.first;
        }
        return names;
    }

    QDBusConnection bus_;
};

struct MenuEntry {
    int id = 0;
    QString label; // "-" for a separator
};

// The top level of a dbusmenu layout: (u revision, (i id, a{sv} properties, av children)).
QList<MenuEntry> readLayout(const QDBusMessage& reply) {
    QList<MenuEntry> entries;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) {
        return entries;
    }
    const QDBusArgument root = reply.arguments().at(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    root.beginStructure();
    root >> id >> properties;
    root.beginArray();
    while (!root.atEnd()) {
        QDBusVariant child;
        root >> child;
        const QDBusArgument node = child.variant().value<QDBusArgument>();
        MenuEntry entry;
        QVariantMap childProperties;
        node.beginStructure();
        node >> entry.id >> childProperties;
        node.endStructure();
        if (childProperties.value(QStringLiteral("visible"), true).toBool()) {
            entry.label =
                childProperties.value(QStringLiteral("type")) == QStringLiteral("separator")
                    ? QStringLiteral("-")
                    : childProperties.value(QStringLiteral("label")).toString();
            entries << entry;
        }
    }
    root.endArray();
    root.endStructure();
    return entries;
}

QStringList labels(const QList<MenuEntry>& entries) {
    QStringList out;
    for (const auto& entry : entries) {
        out << entry.label;
    }
    return out;
}

struct TrayEndToEnd : ::testing::Test {
    SessionBus bus;
    QDBusConnection host = bus.connect(QStringLiteral("host"));
    QDBusConnection reader = bus.connect(QStringLiteral("reader"));
    StubWatcher watcher{host};
    XServer x;
    TempDir opener;

    void SetUp() override {
        ASSERT_TRUE(bus.ok()) << bus.error().toStdString();
        ASSERT_TRUE(x.ok()) << x.error().toStdString();
        ASSERT_TRUE(host.registerVirtualObject(watcherPath, &watcher));
        ASSERT_TRUE(host.registerService(watcherService));
    }
    void TearDown() override {
        x.stopApp();
        host.unregisterObject(watcherPath);
    }

    // Starts `binary` on the private bus, with a fake opener first in PATH that writes down its
    // arguments and environment.
    void start(const QString& binary) {
        const QString script = opener.write(
            QStringLiteral("bin/xdg-open"),
            QStringLiteral("#!/bin/sh\nenv > '%1/env.part'\nprintf '%s\\n' \"$@\" > "
                           "'%1/args.part'\nmv '%1/env.part' '%1/env'\nmv '%1/args.part' "
                           "'%1/args'\n")
                .arg(opener.path())
                .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env;
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        env.insert(QStringLiteral("PATH"),
                   opener.file(QStringLiteral("bin")) + u':' + qEnvironmentVariable("PATH"));
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QString()); // an X session
        ASSERT_TRUE(x.startApp(binary, {}, env));
        ASSERT_TRUE(waitUntil([&] { return !watcher.items.isEmpty(); }, 20))
            << "the tray item never registered\n"
            << x.appLog().toStdString();
    }

    // The item's menu, as a panel reads it: the item's "Menu" property, then the layout.
    QList<MenuEntry> menu() {
        if (watcher.items.isEmpty()) {
            return {};
        }
        const auto& [name, sender] = watcher.items.last();
        const QString service = name.startsWith(u'/') ? sender : name;
        const QString itemPath =
            name.startsWith(u'/') ? name : QStringLiteral("/StatusNotifierItem");
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, itemPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
        const QDBusMessage path = reader.call(get, QDBus::Block, 5000);
        if (path.type() != QDBusMessage::ReplyMessage) {
            return {};
        }
        const QString menuPath = path.arguments()
                                     .value(0)
                                     .value<QDBusVariant>()
                                     .variant()
                                     .value<QDBusObjectPath>()
                                     .path();
        QDBusMessage layout = QDBusMessage::createMethodCall(
            service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
            QStringLiteral("GetLayout"));
        layout << 0 << -1 << QStringList();
        menuService_ = service;
        menuPath_ = menuPath;
        return readLayout(reader.call(layout, QDBus::Block, 5000));
    }

    // A left click on the icon, as the panel reports it.
    void activate(const QPoint& at) {
        const auto& [name, sender] = watcher.items.last();
        const QString service = name.startsWith(u'/') ? sender : name;
        const QString itemPath =
            name.startsWith(u'/') ? name : QStringLiteral("/StatusNotifierItem");
        QDBusMessage call = QDBusMessage::createMethodCall(
            service, itemPath, QStringLiteral("org.kde.StatusNotifierItem"),
            QStringLiteral("Activate"));
        call << at.x() << at.y();
        reader.call(call, QDBus::Block, 5000);
    }

    void click(int id) {
        QDBusMessage event = QDBusMessage::createMethodCall(
            menuService_, menuPath_, QStringLiteral("com.canonical.dbusmenu"),
            QStringLiteral("Event"));
        event << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
        reader.call(event, QDBus::Block, 5000);
    }

    QString menuService_;
    QString menuPath_;
};

} // namespace

TEST_F(TrayEndToEnd, TheMenuOverTheBusCountsNewItemsAndComesBackWithTheTray) {
    const QString pad = x.scratchpad();
    ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(OSTREL_BINARY)));

    // This build has no update feed and no website: it offers no update check.
    const QStringList idle{QStringLiteral("Show Shelf"), QStringLiteral("-"),
                           QStringLiteral("Settings…"), QStringLiteral("-"),
                           QStringLiteral("Quit Ostrel")};
    ASSERT_TRUE(waitUntil([&] { return labels(menu()) == idle; }, 10))
        << labels(menu()).join(u'|').toStdString();

    // Nobody opens the menu: the count is in it all the same.
    for (quint32 n = 1; n <= 3; ++n) {
        noisePicture(200, 150, n * 7919).save(pad + QStringLiteral("/plot-%1.png").arg(n));
    }
    ASSERT_TRUE(waitUntil(
        [&] { return labels(menu()).value(0) == QStringLiteral("Show Shelf (3 new)"); }, 20))
        << labels(menu()).join(u'|').toStdString() << x.appLog().toStdString();

    // The panel goes away and comes back (a restarted panel): the item registers again and its
    // menu still reads right.
    const int registrations = int(watcher.items.size());
    host.unregisterService(watcherService);
    pump(0.5);
    ASSERT_TRUE(host.registerService(watcherService));
    ASSERT_TRUE(waitUntil([&] { return watcher.items.size() > registrations; }, 10))
        << x.appLog().toStdString();
    EXPECT_EQ(labels(menu()).value(0), QStringLiteral("Show Shelf (3 new)"));
    EXPECT_EQ(x.stopApp(), 0);
}

TEST_F(TrayEndToEnd, ALeftClickOpensTheSameMenuAtThePointer) {
    ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(OSTREL_BINARY)));
    const QPoint at(1600, 40);
    // The server has moved the pointer when this returns, before the application asks for it.
    x.moveTo(at);
    activate(at);
    // Qt's menu is an unmanaged window of ours that opens where the pointer is.
    EXPECT_TRUE(waitUntil([&] {
        for (const XServer::Window& w : x.appWindows()) {
            if (w.viewable && w.overrideRedirect && w.geometry.topLeft() == at &&
                w.geometry.height() > 60) {
                return true;
            }
        }
        return false;
    })) << x.appLog().toStdString();
    EXPECT_EQ(x.stopApp(), 0);
}

TEST_F(TrayEndToEnd, SendFeedbackHandsTheMailToTheDesktopsOpenerWithoutOurPlatformChoices) {
    ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(OSTREL_FEEDBACK_BINARY)));
    int feedback = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& entry : menu()) {
                if (entry.label == QStringLiteral("Send Feedback…")) {
                    feedback = entry.id;
                }
            }
            return feedback != 0;
        },
        10))
        << labels(menu()).join(u'|').toStdString();
    click(feedback);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(opener.file(QStringLiteral("args"))); }, 10))
        << x.appLog().toStdString();

    const QStringList args =
        QString::fromUtf8(opener.read(QStringLiteral("args"))).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(args.size(), 1);
    const QUrl mail(args.front());
    EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(mail.path(), QStringLiteral("feedback@ostrel.test"));
    EXPECT_EQ(QUrlQuery(mail).queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded),
              QStringLiteral("Ostrel feedback"));

    QMap<QString, QString> env;
    for (const QString& line :
         QString::fromUtf8(opener.read(QStringLiteral("env"))).split(u'\n', Qt::SkipEmptyParts)) {
        env.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    // Ours were set: the X platform, the motion scale and folders of the test's launch.
    EXPECT_FALSE(env.contains(QStringLiteral("QT_QPA_PLATFORM")));
    EXPECT_FALSE(env.contains(QStringLiteral("QT_NO_GLIB")));
    EXPECT_FALSE(env.contains(QStringLiteral("LD_PRELOAD")));
    for (const QString& name : env.keys()) {
        EXPECT_FALSE(name.startsWith(QStringLiteral("OSTREL_"))) << name.toStdString();
    }
    // The user's own session is passed on.
    EXPECT_EQ(env.value(QStringLiteral("DISPLAY")), x.display());
    EXPECT_EQ(env.value(QStringLiteral("HOME")), x.home().path());
    EXPECT_EQ(env.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")), bus.address());
    EXPECT_EQ(x.stopApp(), 0);
}
