#pragma once

#include "Platform/PortalAccessibility.h"
#include "Platform/PortalShortcut.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>

// One entry of the portal's a(sa{sv}) shortcut lists.
struct StubEntry {
    QString id;
    QVariantMap properties;
};

inline QDBusArgument& operator<<(QDBusArgument& argument, const StubEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, StubEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

Q_DECLARE_METATYPE(StubEntry)

namespace ostrel::test {

// The desktop portal's GlobalShortcuts and Settings interfaces as a desktop offers them:
// shortcut requests answered by a Response signal on the request's path, a session per
// CreateSession, Activated when the user presses the keys; settings read whole by namespace, and
// SettingChanged when the user changes one.
class StubPortal : public QDBusVirtualObject {
public:
    explicit StubPortal(QDBusConnection bus) : bus_(std::move(bus)) {
        qDBusRegisterMetaType<StubEntry>();
        qDBusRegisterMetaType<QList<StubEntry>>();
        qDBusRegisterMetaType<QMap<QString, QVariantMap>>();
    }

    // What the Settings interface holds, by namespace and key.
    QMap<QString, QVariantMap> settings;
    // How long ReadAll takes to answer; below 0 it never does.
    int settingsDelayMs = 0;
    // ReadAll answers a lone string instead of the settings.
    bool settingsMalformed = false;

    uint bindResponse = 0;         // 1: the user declined
    bool leaveOutShortcut = false; // answer success, but bind nothing
    bool answerBeforeReply = false;
    QStringList calls;
    QString session;
    QList<StubEntry> bound;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        calls << message.member();
        if (message.interface() == ostrel::PortalAccessibility::interface) {
            readSettings(message);
            return true;
        }
        if (message.member() == QStringLiteral("Close")) {
            bus_.send(message.createReply());
            return true;
        }
        const QVariantList args = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString request = ostrel::PortalShortcut::path + QStringLiteral("/request/") +
                                sender + u'/' +
                                options.value(QStringLiteral("handle_token")).toString();
        uint response = 0;
        QVariantMap results;
        if (message.member() == QStringLiteral("CreateSession")) {
            session = ostrel::PortalShortcut::path + QStringLiteral("/session/") + sender + u'/' +
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
        QDBusMessage signal = QDBusMessage::createSignal(ostrel::PortalShortcut::path,
                                                         ostrel::PortalShortcut::interface,
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(inSession)) << id << qulonglong(1)
               << QVariantMap();
        bus_.send(signal);
    }

    // The user changes a setting on the desktop.
    void change(const QString& space, const QString& key, const QVariant& value) {
        settings[space].insert(key, value);
        QDBusMessage signal = QDBusMessage::createSignal(ostrel::PortalAccessibility::path,
                                                         ostrel::PortalAccessibility::interface,
                                                         QStringLiteral("SettingChanged"));
        signal << space << key << QVariant::fromValue(QDBusVariant(value));
        bus_.send(signal);
    }

private:
    void readSettings(const QDBusMessage& message) {
        if (message.member() != QStringLiteral("ReadAll")) {
            bus_.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return;
        }
        QMap<QString, QVariantMap> asked;
        for (const QString& space : message.arguments().value(0).toStringList()) {
            if (settings.contains(space)) {
                asked.insert(space, settings.value(space));
            }
        }
        const QDBusMessage reply = settingsMalformed
                                       ? message.createReply(QStringLiteral("nonsense"))
                                       : message.createReply(QVariant::fromValue(asked));
        if (settingsDelayMs == 0) {
            bus_.send(reply);
        } else if (settingsDelayMs > 0) {
            QTimer::singleShot(settingsDelayMs, [bus = bus_, reply] { bus.send(reply); });
        }
    }

    QDBusConnection bus_;
};

} // namespace ostrel::test
