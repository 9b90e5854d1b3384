#pragma once

#include "Platform/GlobalShortcut.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>

namespace ostrel {

// The shortcut through the desktop portal's GlobalShortcuts interface, the only way a Wayland
// session lets a client hear a key combination while another program has the focus. The
// compositor owns the key: we create a session, bind one shortcut with our combination as the
// preferred trigger (the desktop may ask the user, or assign another), and hear `Activated`.
// Closing the session when the object goes releases the binding.
class PortalShortcut : public GlobalShortcut {
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface =
        QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    // `id` names the shortcut to the portal; `trigger` is in the shortcuts notation ("ALT+space"),
    // empty when the key has no name there (the desktop then asks the user for one).
    PortalShortcut(const QDBusConnection& bus, const QString& id, const QString& description,
                   const QString& trigger, QObject* parent = nullptr);
    ~PortalShortcut() override;

    // The portal's notation of a combination: modifiers "CTRL", "ALT", "SHIFT", "LOGO" in that
    // order, then the key's symbol name; empty without a key name.
    static QString trigger(bool control, bool alt, bool shift, bool logo, const QString& keyName);

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void shortcutsBound(uint response, const QVariantMap& results);
    void activatedSignal(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                         const QVariantMap& options);

private:
    // Starts a portal request: its Response goes to `slot`, subscribed before the call, since
    // the portal may answer before the call returns. Returns false when the call failed at once.
    void request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                 const char* slot);
    void listen(const QString& requestPath, const char* slot);
    void bind();
    void fail(Status status, const QString& why);

    QDBusConnection bus_;
    QString id_;
    QString description_;
    QString trigger_;
    QString session_;
    QString pendingPath_;
    const char* pendingSlot_ = nullptr;
};

} // namespace ostrel
