#include "Platform/PortalShortcut.h"

#include "Platform/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcutEntry {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcutEntry& entry) {
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcutEntry)

namespace ostrel {

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Request and session tokens become path elements: letters, digits and "_" only.
QString token() {
    return QStringLiteral("ostrel%1").arg(QRandomGenerator::global()->generate());
}

QString objectPathText(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

} // namespace

PortalShortcut::PortalShortcut(const QDBusConnection& bus, const QString& id,
                               const QString& description, const QString& trigger, QObject* parent)
    : GlobalShortcut(parent), bus_(bus), id_(id), description_(description), trigger_(trigger) {
    qDBusRegisterMetaType<PortalShortcutEntry>();
    qDBusRegisterMetaType<QList<PortalShortcutEntry>>();
    if (!bus_.isConnected()) {
        fail(Status::wayland, QStringLiteral("no session bus"));
        return;
    }
    request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), token()}},
            SLOT(sessionCreated(uint, QVariantMap)));
}

PortalShortcut::~PortalShortcut() {
    if (!pendingPath_.isEmpty()) {
        bus_.disconnect(service, pendingPath_, requestInterface, QStringLiteral("Response"), this,
                        pendingSlot_);
    }
    if (!session_.isEmpty()) {
        bus_.disconnect(service, path, interface, QStringLiteral("Activated"), this,
                        SLOT(activatedSignal(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        // The binding goes with the session; nobody waits for the answer.
        bus_.call(QDBusMessage::createMethodCall(service, session_,
                                                 QStringLiteral("org.freedesktop.portal.Session"),
                                                 QStringLiteral("Close")),
                  QDBus::NoBlock);
    }
}

QString PortalShortcut::trigger(bool control, bool alt, bool shift, bool logo,
                                const QString& keyName) {
    if (keyName.isEmpty()) {
        return {};
    }
    QStringList parts;
    if (control) {
        parts << QStringLiteral("CTRL");
    }
    if (alt) {
        parts << QStringLiteral("ALT");
    }
    if (shift) {
        parts << QStringLiteral("SHIFT");
    }
    if (logo) {
        parts << QStringLiteral("LOGO");
    }
    parts << keyName;
    return parts.join(u'+');
}

void PortalShortcut::listen(const QString& requestPath, const char* slot) {
    if (!pendingPath_.isEmpty()) {
        bus_.disconnect(service, pendingPath_, requestInterface, QStringLiteral("Response"), this,
                        pendingSlot_);
    }
    pendingPath_ = requestPath;
    pendingSlot_ = slot;
    if (!requestPath.isEmpty()) {
        bus_.connect(service, requestPath, requestInterface, QStringLiteral("Response"), this,
                     slot);
    }
}

void PortalShortcut::request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                             const char* slot) {
    const QString handleToken = token();
    options.insert(QStringLiteral("handle_token"), handleToken);
    QString sender = bus_.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString expected = path + QStringLiteral("/request/") + sender + u'/' + handleToken;
    listen(expected, slot);

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    arguments.append(options);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method, slot](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *done;
                if (reply.isError()) {
                    listen({}, nullptr);
                    // Without the interface there is nothing to bind; an error later on means
                    // the portal is there but would not take the shortcut.
                    fail(method == QStringLiteral("CreateSession") ? Status::wayland
                                                                   : Status::portalRefused,
                         reply.error().name() + QStringLiteral(": ") + reply.error().message());
                    return;
                }
                // Older portals answer on a path of their own choosing.
                if (reply.value().path() != pendingPath_ && pendingSlot_ == slot) {
                    listen(reply.value().path(), slot);
                }
            });
}

void PortalShortcut::sessionCreated(uint response, const QVariantMap& results) {
    listen({}, nullptr);
    if (response != 0) {
        fail(Status::portalRefused, QStringLiteral("session refused (%1)").arg(response));
        return;
    }
    session_ = objectPathText(results.value(QStringLiteral("session_handle")));
    if (session_.isEmpty()) {
        fail(Status::portalRefused, QStringLiteral("no session handle"));
        return;
    }
    bus_.connect(service, path, interface, QStringLiteral("Activated"), this,
                 SLOT(activatedSignal(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    bind();
}

void PortalShortcut::bind() {
    QVariantMap properties{{QStringLiteral("description"), description_}};
    if (!trigger_.isEmpty()) {
        properties.insert(QStringLiteral("preferred_trigger"), trigger_);
    }
    const QList<PortalShortcutEntry> shortcuts{{id_, properties}};
    request(
        QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, SLOT(shortcutsBound(uint, QVariantMap)));
}

void PortalShortcut::shortcutsBound(uint response, const QVariantMap& results) {
    listen({}, nullptr);
    if (response != 0) {
        fail(Status::portalRefused, QStringLiteral("binding refused (%1)").arg(response));
        return;
    }
    const auto bound = results.find(QStringLiteral("shortcuts"));
    if (bound != results.end()) {
        const auto entries = qdbus_cast<QList<PortalShortcutEntry>>(*bound);
        const auto ours = std::find_if(entries.begin(), entries.end(),
                                       [this](const auto& entry) { return entry.id == id_; });
        if (ours == entries.end()) {
            fail(Status::portalRefused, QStringLiteral("the shortcut was left out"));
            return;
        }
        qCInfo(lcPlatform).noquote()
            << "the desktop bound the shortcut to"
            << ours->properties.value(QStringLiteral("trigger_description")).toString();
    }
    setStatus(Status::registered);
}

void PortalShortcut::activatedSignal(const QDBusObjectPath& session, const QString& id,
                                     qulonglong /*timestamp*/, const QVariantMap& /*options*/) {
    if (session.path() == session_ && id == id_) {
        emit activated();
    }
}

void PortalShortcut::fail(Status status, const QString& why) {
    qCInfo(lcPlatform).noquote() << "the desktop portal gives no shortcut:" << why;
    setStatus(status);
}

} // namespace ostrel
